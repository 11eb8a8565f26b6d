#include "FakeUI.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <algorithm>

#include "engine/LoadThread.h"
#include "model/MoviesSet.h"

namespace vemlis::testing {

void FakeUI::showListPanel() {
    if (listPanelCalls++ == 0 || calls.empty() || calls.back() != "showListPanel") record("showListPanel");
}

void FakeUI::showQueuePanel() {
    if (queuePanelCalls++ == 0 || calls.empty() || calls.back() != "showQueuePanel") record("showQueuePanel");
}

void FakeUI::showFileStarted() {
    record("showFileStarted");
    startedURLs.push_back(thread->getCurrentFile()->getURL());
    if (onFileStarted) onFileStarted();
}

void FakeUI::renameMovie() {
    record("renameMovie");
    const auto* movie = thread->getCurrentMovie();
    const std::string name = askName ? askName(movie) : std::string();
    if (name.empty())
        movie->setNoLoad();
    else
        movie->queue(name);
}

void FakeUI::addFinishedMovie() {
    record("addFinishedMovie");
    finished.push_back({thread->getCurrentMovie(), thread->getCurrentMovie()->getLoadFlag()});
    if (onFinishedMovie) onFinishedMovie();
}

void FakeUI::showMessage() {
    record("showMessage");
    messages.push_back(thread->getMessage());
}

void FakeUI::askCatalogueAddress() {
    showMessage();
    if (nextCatalogueAddress) thread->setNextCatalogueURL(nextCatalogueAddress());
}

bool FakeUI::called(const std::string& name) const {
    return std::find(calls.begin(), calls.end(), name) != calls.end();
}

bool waitUntil(const std::function<bool()>& condition, int milliseconds) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > milliseconds) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

}  // namespace vemlis::testing
