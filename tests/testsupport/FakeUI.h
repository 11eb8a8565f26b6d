#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/LoadThreadUI.h"

namespace tavik::vemlis_loader {
class Movie;
}

namespace vemlis {
class LoadThread;
}

namespace vemlis::testing {

// Answers the load thread's calls at once and records them; runs on the GUI thread.
class FakeUI final : public LoadThreadUI {
public:
    struct Finished {
        const tavik::vemlis_loader::Movie* movie;
        int flag;
    };

    void attach(LoadThread* thread) { this->thread = thread; }

    void showMoviesSet() override { record("showMoviesSet"); }
    void showNewMovies() override { record("showNewMovies"); }
    void showListPanel() override;
    void showQueuePanel() override;
    void showFileStarted() override;
    void showSplitPanel() override { record("showSplitPanel"); }
    void renameMovie() override;
    void addFinishedMovie() override;
    void showFileDone() override { record("showFileDone"); }
    void showMessage() override;
    // Recorded as showMessage; tries the address nextCatalogueAddress gives, when set.
    void askCatalogueAddress() override;
    void enableCloseTimer() override { record("enableCloseTimer"); }

    // The calls so far, without the repeats of showListPanel and showQueuePanel.
    std::vector<std::string> calls;
    std::vector<std::string> messages;
    std::vector<std::string> startedURLs;
    std::vector<Finished> finished;
    int listPanelCalls = 0;
    int queuePanelCalls = 0;
    // Answers renameMovie: returns the new name, or an empty text to cancel.
    std::function<std::string(const tavik::vemlis_loader::Movie*)> askName;
    // Answers askCatalogueAddress: the address to try next, or empty to end the run.
    std::function<std::string()> nextCatalogueAddress;
    // Runs inside showFileStarted (for example to stop or close the thread mid-transfer).
    std::function<void()> onFileStarted;
    // Runs inside addFinishedMovie, while the load thread waits for it.
    std::function<void()> onFinishedMovie;

    bool called(const std::string& name) const;

private:
    void record(const std::string& name) { calls.push_back(name); }
    LoadThread* thread = nullptr;
};

// Processes events until the condition holds or the time runs out; false on time-out.
bool waitUntil(const std::function<bool()>& condition, int milliseconds = 10000);

}  // namespace vemlis::testing
