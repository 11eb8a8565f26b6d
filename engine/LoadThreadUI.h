#pragma once

namespace vemlis {

// What the load thread changes in the user interface. Each call runs on the GUI thread while
// the load thread waits; an exception thrown by a call is thrown again on the load thread.
// The calls take their data from the load thread (getCurrentFile, getCurrentMovie, getMessage).
class LoadThreadUI {
public:
    virtual ~LoadThreadUI() = default;

    // Hide the waiting panel, show the lists and hand them the catalogue.
    virtual void showMoviesSet() = 0;
    // A later look at the catalogue merged it again: the lists grow, getAddedMovies() says by what.
    virtual void showNewMovies() = 0;
    // Show the list panel unless shown (then refresh the statuses).
    virtual void showListPanel() = 0;
    // Hide the splitting notice; show the download view unless shown.
    virtual void showQueuePanel() = 0;
    // The current file's queued movies become the current downloads; its URL is shown.
    virtual void showFileStarted() = 0;
    // Show the splitting notice.
    virtual void showSplitPanel() = 0;
    // Tell the user the current movie could not be saved and ask for another name; set the
    // movie to NoLoad when the user cancels. Left queued under its name, the question is
    // answered later: the worker goes on, keeps the file, and tries it again after
    // LoadThread::nameGiven().
    virtual void renameMovie() = 0;
    // List the current movie among the finished ones, with its status at that moment.
    virtual void addFinishedMovie() = 0;
    // The splitting of the current file has ended.
    virtual void showFileDone() = 0;
    // Show the fatal error message and return when the user has closed it.
    virtual void showMessage() = 0;
    // The catalogue could not be loaded (getMessage says why, getCatalogueURL from where):
    // offer another address and hand it to setNextCatalogueURL to try it, or leave it unset
    // to end the run.
    virtual void askCatalogueAddress() = 0;
    // The thread's last act: let the window close.
    virtual void enableCloseTimer() = 0;
};

}  // namespace vemlis
