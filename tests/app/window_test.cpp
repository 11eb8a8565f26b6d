#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAccessible>
#include <QApplication>
#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QHeaderView>
#include <QTreeWidget>
#include <QSpinBox>
#include <QComboBox>
#include <QTimeEdit>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <fstream>

#include "AltKeys.h"
#include "CatalogueServer.h"
#include "FakeUI.h"
#include "ScriptedPrompter.h"
#include "FileSizeLimit.h"
#include "TempDir.h"
#include "app/AddressDialog.h"
#include "app/DataFolder.h"
#include "app/Dialogs.h"
#include "app/SettingsDialog.h"
#include "app/SingleInstance.h"
#include "app/Twindow.h"
#include "components/FileNamer.h"
#include "components/LanguagesList.h"
#include "components/MoviesList.h"
#include "components/MoviesQueue.h"
#include "components/MultipleAdder.h"
#include "components/QtText.h"
#include "components/UTF8ListView.h"
#include "engine/LoadThread.h"
#include "app/StateSaver.h"
#include "model/UiTexts.h"
#include "model/FollowRule.h"
#include "model/UsedNames.h"

using namespace vemlis;
using namespace tavik::vemlis_loader;
using vemlis::testing::CatalogueServer;
using vemlis::testing::Fault;
using vemlis::testing::waitUntil;

namespace {

struct Session {
    CatalogueServer server;
    vemlis::testing::TempDir dir;
    vemlis::testing::ServedSeries series;
    ScriptedPrompter prompter;
    std::unique_ptr<Twindow> window;
    vemlis::testing::CatalogueShape shape;  // of the series served

    Session() {
        shape.seasons = 2;
        shape.episodes = 3;
        shape.variants = 4;
        shape.minMoviesPerFile = 2;
        shape.maxMoviesPerFile = 3;
        series = vemlis::testing::serveSeries(server, shape);
    }
    ~Session() {
        if (window) closeWindow();
    }
    void open(std::string url = {}) {
        window = std::make_unique<Twindow>(url.empty() ? server.catalogueURL() : url, dir.path());
        window->show();
    }
    bool listed() {
        return waitUntil([&] { return window->listPanel->isVisible() && window->moviesList->getSeasonsView()->rowCount() > 0; });
    }
    // Closes as the user does and waits for the state file.
    void closeWindow() {
        window->close();
        EXPECT_TRUE(waitUntil([&] { return window->isStateSaved(); }));
        window.reset();
    }
    void useMask() {
        window->fileNamer->setAskMode(false);
        std::string folder = dir.path().string();
        std::replace(folder.begin(), folder.end(), '/', '\\');  // "\\" separates folders in a mask
        window->fileNamer->setMask(folder + "\\/s-/n-/l-/B.avi");
    }
    const Movie* movie(int s, int f, int m) const {
        return window->getMoviesSet()->getSeasons()[s]->getFilms()[f]->getMovies()[m].get();
    }
    std::string piece(const Movie* m) {
        const ServerFile* file = m->getServerFile();
        const std::string path = file->getURL().substr(server.baseURL().size());
        for (std::size_t i = 0; i < file->getMovies().size(); ++i)
            if (file->getMovies()[i] == m) return series.pieces[path][i];
        return {};
    }
    bool noneQueued() { return window->getMoviesSet()->getNextQueuedFile() == nullptr; }
};

int rowOf(UTF8ListView* view, const void* data) {
    for (int i = 0; i < view->rowCount(); ++i)
        if (UTF8ListView::rowData(view->row(i)) == data) return i;
    return -1;
}

}  // namespace

TEST(Window, ATypicalRunFromTickToSavedFilesAndBack) {
    Session s;
    s.open();
    ASSERT_TRUE(s.listed());
    EXPECT_EQ(s.window->languages->getLanguage()->getID(), "EN");  // no state file: English titles
    EXPECT_TRUE(s.noneQueued());
    s.useMask();

    // Tick the first variant; its file holds other movies: the dialog lists them.
    UTF8ListView* variants = s.window->moviesList->getMoviesView();
    const Movie* first = s.movie(0, 0, 0);
    s.prompter.onDialog = [&](QWidget* dialog) {
        auto* other = static_cast<TotherMoviesDialog*>(dialog);
        EXPECT_GE(other->movies->rowCount(), 2);
        other->uncheckAllClick();
        other->movies->setRowChecked(other->movies->row(rowOf(other->movies, first)), true);
        return int(mrYesToAll);
    };
    variants->setRowChecked(variants->row(0), true);
    ASSERT_EQ(s.prompter.dialogsShown, std::vector<std::string>{"otherMoviesDialog"});
    EXPECT_EQ(first->getLoadFlag(), Queue);
    EXPECT_TRUE(variants->isRowChecked(variants->row(0)));
    EXPECT_EQ(first->getFileName(), s.dir.path().string() + "/1-01-EN-High quality, 1200 kbit_s.avi");

    // A group: season 2, German, high quality.
    MultipleAdder* adder = s.window->multipleAdder;
    adder->getSeasonsView()->setRowChecked(adder->getSeasonsView()->row(1), true);
    adder->getLanguagesView()->setRowChecked(adder->getLanguagesView()->row(0), true);
    adder->getBitRatesView()->setRowChecked(adder->getBitRatesView()->row(0), true);
    adder->findChild<QPushButton*>("addButton")->click();
    int queued = 0;
    for (const auto& film : s.window->getMoviesSet()->getSeasons()[1]->getFilms())
        for (const auto& m : film->getMovies()) queued += m->getLoadFlag() == Queue;
    EXPECT_EQ(queued, 3);

    s.window->beginDownloadButton->click();
    ASSERT_TRUE(waitUntil([&] { return s.window->queuePanel->isVisible(); }));
    ASSERT_TRUE(waitUntil([&] { return s.noneQueued() && s.window->url->text() == "-"; }, 20000));
    // Done: once the worker has put the view back after the last split, nothing wakes it.
    ASSERT_TRUE(waitUntil([&] { return !s.window->splitPanel->isVisible(); }));
    EXPECT_FALSE(s.window->isRefreshingView());
    std::vector<const Movie*> saved;
    for (const auto& season : s.window->getMoviesSet()->getSeasons())
        for (const auto& film : season->getFilms())
            for (const auto& m : film->getMovies())
                if (m->getLoadFlag() == Loaded) saved.push_back(m.get());
    ASSERT_EQ(saved.size(), 4u);
    for (const Movie* m : saved) EXPECT_EQ(vemlis::testing::readWholeFile(m->getFileName()), s.piece(m));
    EXPECT_EQ(s.window->finished->rowCount(), 4);
    EXPECT_TRUE(s.prompter.messages.empty());

    s.window->stopButton->click();  // back to the lists, which show the new statuses
    ASSERT_TRUE(waitUntil([&] { return s.window->listPanel->isVisible(); }));
    EXPECT_EQ(s.window->moviesList->getFilmsView()->cellText(s.window->moviesList->getFilmsView()->row(0), 3), "1");

    s.closeWindow();
    const std::string state = vemlis::testing::readWholeFile(s.dir / "data.kq4");
    EXPECT_NE(state.find("\nLoaded\n"), std::string::npos);
    EXPECT_NE(state.find("LanguagesList\nEN\nFileNamer\nGenerateNamesByMask\n"), std::string::npos);

    s.open();  // a second run starts from the saved state
    ASSERT_TRUE(s.listed());
    EXPECT_EQ(s.movie(0, 0, 0)->getLoadFlag(), Loaded);
    EXPECT_FALSE(s.window->fileNamer->isAskMode());
}

TEST(Window, ReloadAndCancelQuestionsWithDoNotAskAgain) {
    Session s;
    s.open();
    ASSERT_TRUE(s.listed());
    s.useMask();
    const Movie* loaded = s.movie(0, 0, 0);
    for (const Movie* m : loaded->getServerFile()->getMovies()) m->setLoaded();
    s.window->moviesList->updateStatuses();
    UTF8ListView* variants = s.window->moviesList->getMoviesView();

    s.prompter.onDialog = [&](QWidget* dialog) {
        static_cast<TreloadDialog*>(dialog)->noMoreAsk->setChecked(true);
        return int(mrCancel);
    };
    variants->setRowChecked(variants->row(0), true);
    EXPECT_EQ(s.prompter.dialogsShown, std::vector<std::string>{"reloadDialog"});
    EXPECT_EQ(loaded->getLoadFlag(), Loaded);
    EXPECT_FALSE(variants->isRowChecked(variants->row(0)));

    variants->setRowChecked(variants->row(0), true);  // not asked again: queued at once
    EXPECT_EQ(s.prompter.dialogsShown.size(), 1u);
    EXPECT_EQ(loaded->getLoadFlag(), Queue);

    // Unticking the only queued movie of its file asks the cancel question.
    s.prompter.onDialog = [&](QWidget*) { return int(mrNo); };
    variants->setRowChecked(variants->row(0), false);
    EXPECT_EQ(s.prompter.dialogsShown.back(), "cancelLoadDialog");
    EXPECT_EQ(loaded->getLoadFlag(), Queue);
    s.prompter.onDialog = [&](QWidget*) { return int(mrYes); };
    variants->setRowChecked(variants->row(0), false);
    EXPECT_EQ(loaded->getLoadFlag(), NoLoad);

    // Cancel all: only queued movies go back to NoLoad.
    s.movie(1, 0, 0)->queue("/tmp/a.avi");
    s.movie(1, 1, 0)->setBroken();
    s.prompter.onDialog = [&](QWidget*) { return int(mrNo); };
    s.window->cancelAllDownloadsButton->click();
    EXPECT_EQ(s.movie(1, 0, 0)->getLoadFlag(), Queue);
    s.prompter.onDialog = [&](QWidget*) { return int(mrYes); };
    s.window->cancelAllDownloadsButton->click();
    EXPECT_EQ(s.movie(1, 0, 0)->getLoadFlag(), NoLoad);
    EXPECT_EQ(s.movie(1, 1, 0)->getLoadFlag(), Broken);

    s.window->beginDownloadButton->click();  // nothing queued
    ASSERT_EQ(s.prompter.messages.size(), 1u);
    EXPECT_EQ(s.prompter.messages[0], uiText(rows::noFilesSelected));
}

TEST(Window, AbortAndStopAfterCurrent) {
    Session s;
    const std::string firstPath = s.series.catalogue.files[0].path;
    s.server.setFault(firstPath, Fault::throttled(20000));
    s.open();
    ASSERT_TRUE(s.listed());
    for (const Movie* m : s.movie(0, 0, 0)->getServerFile()->getMovies()) m->queue((s.dir / "x.avi").string());
    s.window->beginDownloadButton->click();
    ASSERT_TRUE(waitUntil([&] { return s.server.requests(firstPath) == 1; }));
    s.window->stopButton->click();
    ASSERT_TRUE(waitUntil([&] { return s.window->listPanel->isVisible(); }));
    for (const Movie* m : s.movie(0, 0, 0)->getServerFile()->getMovies()) EXPECT_EQ(m->getLoadFlag(), Queue);

    // Stop after the current file: the file finishes, then the lists come back.
    s.server.setFault(firstPath, Fault::throttled(50000));
    s.movie(1, 2, 0)->queue((s.dir / "later.avi").string());
    s.window->beginDownloadButton->click();
    ASSERT_TRUE(waitUntil([&] { return s.window->queuePanel->isVisible(); }));
    s.window->stopAfterCurrent->click();
    ASSERT_TRUE(waitUntil([&] { return s.window->listPanel->isVisible(); }));
    EXPECT_EQ(s.movie(0, 0, 0)->getLoadFlag(), Loaded);
    EXPECT_EQ(s.movie(1, 2, 0)->getLoadFlag(), Queue);
}

TEST(Window, AnUnloadableCatalogueOffersItsAddressAndOneThatLoadsIsKept) {
    Session s;
    s.server.setFault("/movies.xml", Fault::failWith(404));
    // Closed: the run ends as it did without the question.
    s.open();
    ASSERT_TRUE(waitUntil([&] { return s.window->isStateSaved(); }));
    ASSERT_EQ(s.prompter.dialogsShown, std::vector<std::string>{"addressDialog"});
    EXPECT_FALSE(s.window->initializingPanel->isVisible());  // not left behind the question
    EXPECT_FALSE(s.window->isVisible());
    EXPECT_TRUE(std::filesystem::exists(s.dir / "data.kq4"));
    s.window.reset();

    // Typed over the selected address, Enter tries it; once it loads it is kept for next time.
    s.server.setFile("/other.xml", s.series.catalogue.document);
    const std::string other = s.server.baseURL() + "/other.xml";
    s.prompter.onDialog = [&](QWidget* widget) {
        auto* dialog = static_cast<AddressDialog*>(widget);
        EXPECT_EQ(dialog->reason->text().toStdString(),
                  "The server has no list of episodes at\n" + s.server.catalogueURL() + "\nFile not found on the server (404)");
        EXPECT_EQ(dialog->accessibleDescription(), dialog->reason->text());
        EXPECT_EQ(dialog->focusWidget(), static_cast<QWidget*>(dialog->addressEdit));
        EXPECT_EQ(dialog->addressEdit->selectedText(), dialog->addressEdit->text());
        dialog->show();  // as exec() does; its keys act on shown buttons only
        QTest::keyClicks(dialog->addressEdit, "ftp://nowhere");
        QTest::keyClick(dialog->addressEdit, Qt::Key_Return);  // refused in place: not a web address
        EXPECT_TRUE(dialog->reason->text().contains("not an http:// or https:// address"));
        dialog->addressEdit->setText(QString::fromStdString(other));
        QTest::keyClick(dialog->addressEdit, Qt::Key_Return);
        return dialog->result();
    };
    s.open();
    ASSERT_TRUE(s.listed());
    s.closeWindow();
    EXPECT_EQ(Settings::load(*userSettings()).catalogue.toStdString(), other);
    std::string problem;
    EXPECT_EQ(catalogueAddress("http://built/movies.xml", problem), other);
    auto stored = userSettings();
    stored->remove("Catalogue");
}

TEST(Window, ClosingOrATermSignalDuringADownloadSavesTheState) {
    for (bool bySignal : {false, true}) {
        Session s;
        const std::string path = s.series.catalogue.files[0].path;
        s.server.setFault(path, Fault::stall(100));
        s.open();
        ASSERT_TRUE(s.listed());
        if (bySignal) closeOnSignals(s.window.get());
        for (const Movie* m : s.movie(0, 0, 0)->getServerFile()->getMovies()) m->queue((s.dir / "x.avi").string());
        s.window->beginDownloadButton->click();
        ASSERT_TRUE(waitUntil([&] { return s.server.requests(path) == 1; }));
        if (bySignal)
            ::kill(::getpid(), SIGTERM);
        else
            s.window->close();
        ASSERT_TRUE(waitUntil([&] { return s.window->isStateSaved(); }, 5000)) << "signal " << bySignal;
        EXPECT_FALSE(s.window->isVisible());
        EXPECT_NE(vemlis::testing::readWholeFile(s.dir / "data.kq4").find("\nQueue\n"), std::string::npos);
        s.window.reset();
    }
}

TEST(Window, ATermSignalDuringTheQuestionForANewNameKeepsTheMovieQueued) {
    Session s;
    s.open();
    ASSERT_TRUE(s.listed());
    closeOnSignals(s.window.get());
    // A folder holds the movie's name: it cannot be saved, and the program asks for another.
    const Movie* movie = s.movie(0, 0, 0);
    std::filesystem::create_directory(s.dir / "taken.avi");
    movie->queue((s.dir / "taken.avi").string());
    s.prompter.onSave = [&]() -> std::optional<std::string> {
        // The session ends while the question is open: it closes as cancelled.
        ::kill(::getpid(), SIGTERM);
        waitUntil([] { return questionsClosed(); }, 5000);
        return std::nullopt;
    };
    s.window->beginDownloadButton->click();
    ASSERT_TRUE(waitUntil([&] { return s.window->isStateSaved(); }, 10000));
    EXPECT_EQ(s.prompter.saveInitialNames.size(), 1u);
    EXPECT_EQ(movie->getLoadFlag(), Queue);
    EXPECT_NE(vemlis::testing::readWholeFile(s.dir / "data.kq4").find("taken.avi\nQueue\n"), std::string::npos);
    const std::string path = movie->getServerFile()->getURL().substr(s.server.baseURL().size());
    s.window.reset();

    // The movie's bytes stay, kept aside: the next run saves it without fetching the file again.
    bool kept = false;
    for (const auto& entry : std::filesystem::directory_iterator(s.dir.path()))
        kept = kept || entry.path().extension() == ".movie";
    EXPECT_TRUE(kept);
    std::filesystem::remove(s.dir / "taken.avi");
    s.prompter.onSave = nullptr;
    s.open();
    ASSERT_TRUE(s.listed());
    s.window->beginDownloadButton->click();
    ASSERT_TRUE(waitUntil([&] { return s.noneQueued(); }, 10000));
    EXPECT_EQ(s.movie(0, 0, 0)->getLoadFlag(), Loaded);
    EXPECT_TRUE(vemlis::testing::readWholeFile(s.dir / "taken.avi") == s.piece(s.movie(0, 0, 0)));
    EXPECT_EQ(s.server.requests(path), 1);
}

TEST(Window, ARefusedNameNeverHoldsUpTheQueueAndIsSavedFromTheKeptFileAfterTheAnswer) {
    Session s;
    s.open();
    ASSERT_TRUE(s.listed());
    // The first file's movie is named where a folder stands; the next file's is fine.
    const Movie* refused = s.movie(0, 0, 0);
    std::filesystem::create_directory(s.dir / "taken.avi");
    refused->queue((s.dir / "taken.avi").string());
    const ServerFile* next = nullptr;
    for (const auto& season : s.window->getMoviesSet()->getSeasons())
        for (const auto& film : season->getFilms())
            for (const auto& m : film->getMovies())
                if (!next && m->getServerFile() != refused->getServerFile()) next = m->getServerFile();
    ASSERT_NE(next, nullptr);
    next->getMovies()[0]->queue((s.dir / "next.avi").string());
    const std::string path = refused->getServerFile()->getURL().substr(s.server.baseURL().size());
    bool nextSavedWhileAsked = false;
    s.prompter.onSave = [&]() -> std::optional<std::string> {
        // Nobody answers for a while: the queue goes on meanwhile.
        nextSavedWhileAsked = waitUntil([&] { return next->getMovies()[0]->getLoadFlag() == Loaded; }, 10000);
        return (s.dir / "renamed.avi").string();
    };
    s.window->beginDownloadButton->click();
    ASSERT_TRUE(waitUntil([&] { return s.noneQueued(); }, 20000));
    EXPECT_TRUE(nextSavedWhileAsked);
    EXPECT_EQ(refused->getLoadFlag(), Loaded);
    EXPECT_TRUE(vemlis::testing::readWholeFile(s.dir / "renamed.avi") == s.piece(refused));
    EXPECT_EQ(s.server.requests(path), 1);  // saved from the kept file
    EXPECT_EQ(s.prompter.saveInitialNames.size(), 1u);
}

TEST(Window, ADamagedStateFileIsKeptBeforeItIsOverwritten) {
    Session s;
    const std::string damaged = "Languages\nLanguage\nEN\nEnglish\nLanguagesEnd\nJunk\nmore junk\n";
    vemlis::testing::writeWholeFile(s.dir / "data.kq4", damaged);
    // A link planted at the copy's name is replaced, never written through.
    vemlis::testing::TempDir elsewhere;
    vemlis::testing::writeWholeFile(elsewhere / "precious", "precious");
    std::filesystem::create_symlink(elsewhere / "precious", s.dir / "data.kq4.damaged");
    s.open();
    ASSERT_TRUE(s.listed());
    EXPECT_FALSE(std::filesystem::is_symlink(s.dir / "data.kq4.damaged"));
    EXPECT_EQ(vemlis::testing::readWholeFile(elsewhere / "precious"), "precious");
    EXPECT_EQ(vemlis::testing::readWholeFile(s.dir / "data.kq4.damaged"), damaged);
    s.closeWindow();
    EXPECT_NE(vemlis::testing::readWholeFile(s.dir / "data.kq4"), damaged);

    s.open();  // a sound file leaves no copy behind
    std::filesystem::remove(s.dir / "data.kq4.damaged");
    ASSERT_TRUE(s.listed());
    EXPECT_FALSE(std::filesystem::exists(s.dir / "data.kq4.damaged"));
}

TEST(Window, AStateFileThatIsNoFileIsToldAndNeverWaitedFor) {
    Session s;
    ASSERT_EQ(::mkfifo((s.dir / "data.kq4").c_str(), 0600), 0);
    s.open();
    ASSERT_TRUE(s.listed());
    ASSERT_EQ(s.prompter.messages.size(), 1u);
    EXPECT_EQ(s.prompter.messages[0], "The state of the downloads could not be read from\n" + (s.dir / "data.kq4").string() +
                                          "\nIt is not a regular file.\nThe program starts without it.");
    s.closeWindow();
    EXPECT_TRUE(std::filesystem::is_regular_file(s.dir / "data.kq4"));
}

TEST(SingleInstance, ASecondHolderIsRefusedAndAKilledOneReleases) {
    vemlis::testing::TempDir dir;
    vemlis::testing::TempDir data;
    ::chmod(dir.path().c_str(), 0700);
    ::setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
    {
        SingleInstance first(data.path());
        ASSERT_TRUE(first.acquired());
        const pid_t child = ::fork();
        if (child == 0) {
            SingleInstance second(data.path());
            ::_exit(second.acquired() ? 1 : 0);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    // A holder killed outright does not block the next start.
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
        SingleInstance held(data.path());
        const char byte = held.acquired() ? 1 : 0;
        [[maybe_unused]] const ssize_t written = ::write(ready[1], &byte, 1);
        ::pause();
        ::_exit(0);
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);  // the holder has the lock
    EXPECT_EQ(byte, 1);
    ::close(ready[0]);
    ::close(ready[1]);
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    SingleInstance next(data.path());
    EXPECT_TRUE(next.acquired());
}

TEST(SingleInstance, ASecondStartBringsTheRunningWindowToTheFront) {
    vemlis::testing::TempDir data;
    ::unsetenv("XDG_RUNTIME_DIR");
    SingleInstance holder(data.path());
    ASSERT_TRUE(holder.acquired());
    QWidget window;
    window.showMinimized();
    holder.raiseOnCall(&window);
    const pid_t second = ::fork();
    if (second == 0) {
        SingleInstance again(data.path());
        ::_exit(!again.acquired() && again.callHolder() ? 0 : 1);
    }
    int status = 1;
    ::waitpid(second, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(waitUntil([&] { return !window.isMinimized() && window.isVisible(); }));
}

TEST(SingleInstance, TheLockStaysWhereOnlyTheUserCanWrite) {
    vemlis::testing::TempDir data;
    ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(SingleInstance::lockPath("lock", data.path()), (data / "lock").string());
    vemlis::testing::TempDir shared;  // a runtime folder that others may write is not used
    ::chmod(shared.path().c_str(), 01777);
    ::setenv("XDG_RUNTIME_DIR", shared.path().c_str(), 1);
    EXPECT_EQ(SingleInstance::lockPath("lock", data.path()), (data / "lock").string());
    ::chmod(shared.path().c_str(), 0700);
    EXPECT_EQ(SingleInstance::lockPath("lock", data.path()), (shared / "lock").string());
    SingleInstance held(data.path());
    EXPECT_TRUE(held.acquired());
    EXPECT_TRUE(held.problem().empty());
}

TEST(SingleInstance, ALinkOrAFifoAtTheLockIsToldNeverFollowedNorAnotherStart) {
    vemlis::testing::TempDir data;
    ::unsetenv("XDG_RUNTIME_DIR");
    const std::string target = (data / "target").string();
    ASSERT_EQ(::symlink(target.c_str(), (data / "link").c_str()), 0);
    SingleInstance linked(data.path(), "link");
    EXPECT_FALSE(linked.acquired());
    EXPECT_NE(linked.problem().find((data / "link").string()), std::string::npos) << linked.problem();
    EXPECT_NE(linked.problem().find("symbolic link"), std::string::npos) << linked.problem();
    EXPECT_FALSE(std::filesystem::exists(target));
    ::mkfifo((data / "fifo").c_str(), 0600);
    SingleInstance fifo(data.path(), "fifo");
    EXPECT_FALSE(fifo.acquired());
    EXPECT_NE(fifo.problem().find("not a regular file"), std::string::npos) << fifo.problem();
}

namespace {

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST(Window, AStateThatCannotBeWrittenLeavesTheOldFileAndIsTold) {
    Session s;
    s.open();
    ASSERT_TRUE(s.listed());
    s.closeWindow();
    const std::string before = vemlis::testing::readWholeFile(s.dir / "data.kq4");
    ASSERT_GT(before.size(), 1000u);

    s.open();
    ASSERT_TRUE(s.listed());
    s.useMask();
    for (int m = 0; m < 4; ++m) s.window->moviesList->OnCheck(nullptr, s.movie(0, 0, m));
    {
        const vemlis::testing::FileSizeLimit limit(before.size() / 4);  // the disk fills during the write
        s.window->close();
        ASSERT_TRUE(waitUntil([&] { return s.window->isStateSaved(); }));
    }
    EXPECT_EQ(vemlis::testing::readWholeFile(s.dir / "data.kq4"), before);  // byte for byte
    ASSERT_EQ(s.prompter.messages.size(), 1u);
    EXPECT_TRUE(contains(s.prompter.messages[0], (s.dir / "data.kq4").string()));
    EXPECT_TRUE(contains(s.prompter.messages[0], "File too large"));
    for (const auto& entry : std::filesystem::directory_iterator(s.dir.path()))
        EXPECT_FALSE(contains(entry.path().filename().string(), ".new-")) << entry.path();
    s.window.reset();
}

TEST(Window, AStateFileThatCanNeverBeWrittenIsToldOnceAtStart) {
    Session s;
    std::filesystem::create_directory(s.dir / "data.kq4");
    s.open();
    ASSERT_TRUE(s.listed());
    ASSERT_EQ(s.prompter.messages.size(), 1u);
    EXPECT_TRUE(contains(s.prompter.messages[0], (s.dir / "data.kq4").string()));
    EXPECT_TRUE(contains(s.prompter.messages[0], "Is a directory"));
    s.closeWindow();
    EXPECT_EQ(s.prompter.messages.size(), 1u);  // the same reason is not told again
}

TEST(Window, TheStateIsSavedDuringTheRun) {
    Session s;
    s.open();
    ASSERT_TRUE(s.listed());
    s.window->getStateSaver()->setDelay(std::chrono::milliseconds(50));
    s.useMask();
    const Movie* first = s.movie(0, 0, 0);
    s.window->moviesList->OnCheck(nullptr, first);
    ASSERT_TRUE(waitUntil([&] { return contains(vemlis::testing::readWholeFile(s.dir / "data.kq4"), "\nQueue\n"); }));

    s.window->getStateSaver()->setDelay(std::chrono::hours(1));  // only the end of the pass saves now
    s.window->beginDownloadButton->click();
    ASSERT_TRUE(waitUntil([&] { return first->getLoadFlag() == Loaded && s.window->url->text() == "-"; }, 20000));
    ASSERT_TRUE(waitUntil([&] { return contains(vemlis::testing::readWholeFile(s.dir / "data.kq4"), "\nLoaded\n"); }));
    EXPECT_FALSE(s.window->isStateSaved());
}

TEST(Window, AFailedCatalogueKeepsTheLanguageOfTitles) {
    Session s;
    vemlis::testing::writeWholeFile(s.dir / "data.kq4", "Languages\nLanguagesEnd\nBitRates\nBitRatesEnd\nSeasons\n"
                                                         "SeasonsEnd\nLanguagesList\nDE\nFileNamer\nAskForNames\nm\n");
    s.server.setFault("/movies.xml", Fault::failWith(500));
    s.open();
    ASSERT_TRUE(waitUntil([&] { return s.window->isStateSaved(); }));
    EXPECT_TRUE(contains(vemlis::testing::readWholeFile(s.dir / "data.kq4"), "\nLanguagesList\nDE\n"));
    s.window.reset();
}

TEST(Window, TwoMoviesNeverGetOneName) {
    Session s;
    s.open();
    ASSERT_TRUE(s.listed());
    // A mask that leaves out the language and the bit rate names every variant alike.
    s.window->fileNamer->setAskMode(false);
    std::string folder = s.dir.path().string();
    std::replace(folder.begin(), folder.end(), '/', '\\');
    s.window->fileNamer->setMask(folder + "\\/s-/n.avi");
    ListOfMovies two{s.movie(0, 0, 0), s.movie(0, 0, 1)};
    s.window->multipleAdderRun(nullptr, two);
    const std::string name = (s.dir / "1-01.avi").string();
    EXPECT_EQ(s.movie(0, 0, 0)->getFileName(), name);
    EXPECT_EQ(s.movie(0, 0, 1)->getFileName(), numberedName(name, 2));

    // Asked for a name, one that another movie holds is refused and asked again.
    s.window->fileNamer->setAskMode(true);
    s.prompter.saveAnswers = {name, (s.dir / "other.avi").string()};
    ListOfMovies third{s.movie(0, 0, 2)};
    s.window->multipleAdderRun(nullptr, third);
    EXPECT_EQ(s.prompter.saveTitles.size(), 2u);
    ASSERT_EQ(s.prompter.messages.size(), 1u);
    EXPECT_TRUE(contains(s.prompter.messages[0], name));
    EXPECT_EQ(s.movie(0, 0, 2)->getFileName(), (s.dir / "other.avi").string());
}

TEST(Window, PartFilesOfQueuedMoviesAndHalfWrittenNotesLeftByAKilledRunGo) {
    Session s;
    const std::string name = (s.dir / "movie.avi").string();
    vemlis::testing::writeWholeFile(
        s.dir / "data.kq4",
        "Languages\nLanguagesEnd\nBitRates\nBitRatesEnd\nSeasons\nSeason\nS\nFilm\nNamesEnd\nMovie\nEN\nhi\n"
        "http://127.0.0.1:1/f.avi\n" + name + "\nQueue\nMoviesEnd\nSeasonEnd\nSeasonsEnd\n");
    vemlis::testing::writeWholeFile(name + ".part", "half a movie");
    vemlis::testing::writeWholeFile(s.dir / "temp.kq4", "half a server file");
    // Killed while the state, or a note of a transfer, was being replaced.
    const std::vector<std::string> halfWritten{"data.kq4.new-Ab12Cd", "data.kq4.damaged.new-x0Y9zz",
                                               "temp-0123456789abcdef.movies.new-Q1w2E3", "temp.kq4.info.new-000000"};
    for (const auto& file : halfWritten) vemlis::testing::writeWholeFile(s.dir / file, "half");
    vemlis::testing::writeWholeFile(s.dir / "notes.new-abcdef", "the user's");
    vemlis::testing::writeWholeFile(s.dir / "temperature.new-abcdef", "the user's");
    s.open();
    ASSERT_TRUE(s.listed());
    EXPECT_FALSE(std::filesystem::exists(name + ".part"));
    EXPECT_TRUE(waitUntil([&] { return !std::filesystem::exists(s.dir / "temp.kq4"); }));
    for (const auto& file : halfWritten) EXPECT_FALSE(std::filesystem::exists(s.dir / file)) << file;
    EXPECT_TRUE(std::filesystem::exists(s.dir / "notes.new-abcdef"));
    EXPECT_TRUE(std::filesystem::exists(s.dir / "temperature.new-abcdef"));
}

TEST(Window, ATermSignalClosesAnOpenMessageAndEndsTheRun) {
    Session s;
    setPrompter(nullptr);  // the real message boxes
    s.server.setFault("/movies.xml", Fault::failWith(500));  // the run ends with a message box
    s.open();
    closeOnSignals(s.window.get());
    // Once the message is open, a term signal (twice, as impatient sessions send it).
    QTimer probe;
    probe.setInterval(20);
    int sent = 0;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (QApplication::activeModalWidget() && sent < 2) {
            ++sent;
            ::kill(::getpid(), SIGTERM);
        }
    });
    probe.start();
    ASSERT_TRUE(waitUntil([&] { return s.window->isStateSaved(); }, 5000));
    EXPECT_GE(sent, 1);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(std::filesystem::exists(s.dir / "data.kq4"));
    s.window.reset();
}

TEST(Window, TheDownloadViewSaysWhyEveryFileWaits) {
    Session s;
    const std::string path = s.series.catalogue.files[0].path;
    s.server.setFault(path, Fault::busy(500, 600));
    s.server.setFault(s.series.catalogue.files[1].path, Fault::busy(503, 300));
    s.open();
    ASSERT_TRUE(s.listed());
    const auto fileAt = [&](int i) { return s.window->getMoviesSet()->getServerFile(s.server.baseURL() + s.series.catalogue.files[i].path); };
    const ServerFile* failing = fileAt(0);
    const ServerFile* busy = fileAt(1);
    const ServerFile* good = fileAt(2);
    int n = 0;
    for (const ServerFile* file : {failing, busy, good})
        for (const Movie* m : file->getMovies()) m->queue((s.dir / ("x" + std::to_string(n++) + ".avi")).string());
    s.window->beginDownloadButton->click();
    ASSERT_TRUE(waitUntil([&] {
        return s.window->waitingReason->text().startsWith("The server is busy (503), next try in ") &&
               good->getMovies()[0]->getLoadFlag() == Loaded;
    }));
    // Each waiting file's rows say its own reason and next try, not only the earliest's.
    const auto statusOf = [&](const ServerFile* file) {
        const int row = rowOf(s.window->queue, file->getMovies()[0]);
        return row < 0 ? std::string() : s.window->queue->cellText(s.window->queue->row(row), 4);
    };
    ASSERT_TRUE(waitUntil([&] { return statusOf(failing).rfind("Server error 500, next try in ", 0) == 0; }));
    EXPECT_EQ(statusOf(busy).rfind("The server is busy (503), next try in ", 0), 0u) << statusOf(busy);
    EXPECT_EQ(s.window->speed->text(), "-");
    // The waiting file's movies are still listed after another file came in.
    for (const Movie* m : failing->getMovies())
        EXPECT_TRUE(rowOf(s.window->queue, m) >= 0 || rowOf(s.window->currentDownloads, m) >= 0);
    EXPECT_TRUE(s.window->url->text().endsWith(QString::fromStdString(s.series.catalogue.files[1].path)));  // due first
    EXPECT_EQ(s.window->size->text(), "-");  // not the size of the list of episodes fetched before
    EXPECT_TRUE(s.prompter.messages.empty());  // no message boxes for network failures
}

TEST(Window, ATransferThatReceivesNothingSaysSo) {
    Session s;
    s.server.setFault(s.series.catalogue.files[0].path, Fault::stall(100));
    s.open();
    ASSERT_TRUE(s.listed());
    for (const Movie* m : s.movie(0, 0, 0)->getServerFile()->getMovies()) m->queue((s.dir / "stalled.avi").string());
    s.window->beginDownloadButton->click();
    ASSERT_TRUE(waitUntil([&] { return s.window->waitingReason->text().startsWith("Nothing received for "); }));
    EXPECT_EQ(s.window->speed->text(), "0.0");
}

TEST(Window, AMovieDoneWhileItsFileStillComesMovesToTheFinishedOnes) {
    Session s;
    std::size_t i = 0;  // a file of two movies or more
    while (s.series.pieces[s.series.catalogue.files[i].path].size() < 2) ++i;
    const std::string path = s.series.catalogue.files[i].path;
    const auto& pieces = s.series.pieces[path];
    s.server.setFault(path, Fault::stall(static_cast<std::int64_t>(pieces[0].size() + 64)));
    s.open();
    ASSERT_TRUE(s.listed());
    const ServerFile* file = s.window->getMoviesSet()->getServerFile(s.server.baseURL() + path);
    int n = 0;
    for (const Movie* m : file->getMovies()) m->queue((s.dir / ("m" + std::to_string(n++) + ".avi")).string());
    s.window->beginDownloadButton->click();
    const Movie* first = file->getMovies()[0];
    ASSERT_TRUE(waitUntil([&] { return rowOf(s.window->finished, first) >= 0; }));
    EXPECT_EQ(first->getLoadFlag(), Loaded);
    EXPECT_LT(rowOf(s.window->currentDownloads, first), 0);
    EXPECT_GE(rowOf(s.window->currentDownloads, file->getMovies()[1]), 0);  // still coming
}

TEST(Window, ChangingViewsNeverGrowsTheWindowBeyondTheScreen) {
    Session s;
    s.server.setThrottle(64 * 1024);  // the download view stays up for a while
    s.window = std::make_unique<Twindow>(s.server.catalogueURL(), s.dir.path());
    s.window->showMaximized();
    const QRect screen = s.window->screen()->availableGeometry();
    const auto fits = [&] {
        const QRect frame = s.window->frameGeometry();
        return frame.width() <= screen.width() && frame.height() <= screen.height();
    };
    ASSERT_TRUE(waitUntil(fits)) << s.window->width() << "x" << s.window->height();
    ASSERT_TRUE(s.listed());
    QApplication::processEvents();
    EXPECT_TRUE(fits()) << "list panel: " << s.window->width() << "x" << s.window->height() << " of " << screen.width() << "x" << screen.height() << " min " << s.window->minimumSizeHint().width() << "x" << s.window->minimumSizeHint().height();
    for (const Movie* m : s.movie(0, 0, 0)->getServerFile()->getMovies()) m->queue((s.dir / "x.avi").string());
    s.window->beginDownloadButton->click();
    ASSERT_TRUE(waitUntil([&] { return s.window->queuePanel->isVisible(); }));
    QApplication::processEvents();
    EXPECT_TRUE(fits()) << "download view: " << s.window->height() << " of " << screen.height();
    EXPECT_TRUE(s.window->isMaximized());
    s.window->stopButton->click();
    ASSERT_TRUE(waitUntil([&] { return s.window->listPanel->isVisible(); }));
    QApplication::processEvents();
    EXPECT_TRUE(fits());
}

TEST(Window, EveryDialogOpensOnItsDefaultAndEnterPressesTheFocusedButton) {
    Session s;
    s.open();
    ASSERT_TRUE(s.listed());
    struct Answers {
        ConfirmationDialog* dialog;
        int enter, safe;
    };
    const Answers dialogs[] = {{s.window->reloadDialog, mrOk, mrCancel},
                               {s.window->cancelLoadDialog, mrYes, mrNo},
                               {s.window->cancelAllDownloadsDialog, mrYes, mrNo},
                               {s.window->otherMoviesDialog, mrYesToAll, mrNo}};
    for (const auto& [dialog, enter, safe] : dialogs) {
        const std::string name = dialog->objectName().toStdString();
        dialog->setResult(mrNone);
        dialog->show();
        QApplication::processEvents();
        EXPECT_EQ(dialog->focusWidget(), static_cast<QWidget*>(dialog->defaultButton)) << name;
        QTest::keyClick(dialog->focusWidget(), Qt::Key_Return);
        EXPECT_EQ(dialog->result(), enter) << name;
        EXPECT_FALSE(dialog->isVisible()) << name;
        // Tabbed to the safe answer, Enter gives that answer; so does Esc.
        for (const bool escape : {false, true}) {
            dialog->setResult(mrNone);
            dialog->show();
            QApplication::processEvents();
            dialog->cancelButton->setFocus();
            QTest::keyClick(dialog->cancelButton, escape ? Qt::Key_Escape : Qt::Key_Return);
            EXPECT_EQ(dialog->result(), safe) << name << (escape ? " Esc" : " Enter");
        }
        // The question is a label the dialog is described by, and no Tab stop.
        EXPECT_FALSE(dialog->text->text().isEmpty() && name != "reloadDialog" && name != "otherMoviesDialog") << name;
        EXPECT_EQ(dialog->accessibleDescription(), dialog->text->text()) << name;
        EXPECT_EQ(dialog->text->focusPolicy(), Qt::NoFocus) << name;
    }
    EXPECT_FALSE(s.window->otherMoviesDialog->movies->accessibleName().isEmpty());
}

TEST(Window, NoAltKeyStandsTwiceInAViewOrADialog) {
    Session s;
    s.open();
    ASSERT_TRUE(s.listed());
    EXPECT_EQ(repeatedAltKeys(s.window.get()), "") << "list panel";
    EXPECT_FALSE(altKeysShown(s.window.get()).empty());
    s.window->listPanel->hide();
    s.window->queuePanel->show();
    EXPECT_EQ(repeatedAltKeys(s.window.get()), "") << "download view";
    s.window->queuePanel->hide();
    s.window->listPanel->show();
    SettingsDialog settings(s.window->getSettings(), "http://example.org/movies.xml");
    EXPECT_EQ(repeatedAltKeys(&settings), "");
    AddressDialog address("why", "http://example.org/movies.xml");
    EXPECT_EQ(repeatedAltKeys(&address), "");
    for (QDialog* dialog : {static_cast<QDialog*>(s.window->reloadDialog), static_cast<QDialog*>(s.window->otherMoviesDialog)})
        EXPECT_EQ(repeatedAltKeys(dialog), "") << dialog->objectName().toStdString();
}

TEST(Window, ProgressIsShownInTheViewAndTheTitle) {
    Session s;
    s.server.setThrottle(20 * 1024);
    s.open();
    ASSERT_TRUE(s.listed());
    EXPECT_EQ(s.window->windowTitle(), "Vemlis loader");
    for (const Movie* m : s.movie(0, 0, 0)->getServerFile()->getMovies()) m->queue((s.dir / "x.avi").string());
    for (const Movie* m : s.movie(1, 0, 0)->getServerFile()->getMovies()) m->queue((s.dir / "y.avi").string());
    s.window->beginDownloadButton->click();
    ASSERT_TRUE(waitUntil([&] { return s.window->progress->value() > 0; }));
    EXPECT_EQ(s.window->fileCount->text(), "File 1 of 2");
    EXPECT_TRUE(s.window->windowTitle().endsWith("% - Vemlis loader")) << s.window->windowTitle().toStdString();
    s.window->stopButton->click();
    ASSERT_TRUE(waitUntil([&] { return s.window->listPanel->isVisible(); }));
    EXPECT_EQ(s.window->windowTitle(), "Vemlis loader");
    // A movie is saved as soon as its bytes are in: a slow machine may have saved one already.
    int savedBefore = 0;
    for (const Movie* m : s.movie(0, 0, 0)->getServerFile()->getMovies()) savedBefore += m->getLoadFlag() == Loaded;

    // When the last file is done, the view says so: nothing loading, the progress complete.
    s.server.setThrottle(0);
    s.window->beginDownloadButton->click();
    ASSERT_TRUE(waitUntil([&] { return s.noneQueued() && s.window->size->text() == "-"; }));
    EXPECT_EQ(s.window->progress->value(), 1000);
    EXPECT_EQ(s.window->currentDownloads->rowCount(), 0);
    EXPECT_EQ(s.window->fileCount->text(),
              QString("All downloads done: %1 movie(s) saved, 0 wrong link(s)").arg(4 - savedBefore));
    EXPECT_EQ(s.window->url->text(), "-");
    EXPECT_TRUE(s.window->queuePanel->isVisible());
}

TEST(Window, EnterPressesTheFocusedButtonAndCtrlQCloses) {
    Session s;
    s.open();
    ASSERT_TRUE(s.listed());
    QTest::keyClick(s.window->cancelAllDownloadsButton, Qt::Key_Return);
    EXPECT_EQ(s.prompter.dialogsShown, std::vector<std::string>{"cancelAllDownloadsDialog"});
    // Names for screen readers: the lists after their captions, the progress after its panel.
    EXPECT_EQ(s.window->moviesList->getMoviesView()->accessibleName(), qtText(rows::variantsCaption));
    EXPECT_EQ(s.window->finished->accessibleName(), qtText(rows::finishedCaption));
    EXPECT_FALSE(s.window->progress->accessibleName().isEmpty());
    s.window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(s.window.get()));
    // Alt and the underlined letter press the main buttons.
    QTest::keyClick(s.window.get(), Qt::Key_S, Qt::AltModifier);
    EXPECT_TRUE(waitUntil([&] { return !s.prompter.messages.empty(); }));  // the press is animated
    EXPECT_EQ(s.prompter.messages, std::vector<std::string>{uiText(rows::noFilesSelected)});
    // A screen reader still reads the text as it stands.
    EXPECT_EQ(QAccessible::queryAccessibleInterface(s.window->beginDownloadButton)->text(QAccessible::Name),
              qtText(rows::startDownload));
    QTest::keyClick(s.window.get(), Qt::Key_Q, Qt::ControlModifier);
    ASSERT_TRUE(waitUntil([&] { return s.window->isStateSaved(); }));
    EXPECT_FALSE(s.window->isVisible());
    s.window.reset();
}

TEST(Window, SettingsAreOpenedByCtrlCommaKeptInTheUsersConfigAndPauseTheDownloads) {
    Session s;
    s.open();
    ASSERT_TRUE(s.listed());
    s.window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(s.window.get()));
    QTest::keyClick(s.window.get(), Qt::Key_Comma, Qt::ControlModifier);
    ASSERT_NE(s.window->settingsDialog, nullptr);
    SettingsDialog& dialog = *s.window->settingsDialog;
    EXPECT_EQ(dialog.speedLimit->text(), "No limit");
    dialog.speedLimit->setValue(512);
    dialog.windowOn->setChecked(true);
    // The hours of the test's clock are never open: the first minute of the day only when it
    // is not now.
    const int minute = QTime::currentTime().hour() * 60 + QTime::currentTime().minute();
    const int from = (minute + 120) % 1440;
    dialog.windowFrom->setTime(QTime(from / 60, from % 60));
    dialog.windowTo->setTime(QTime((from + 1) / 60 % 24, (from + 1) % 60));
    dialog.whenDone->setCurrentIndex(1);
    dialog.accept();
    EXPECT_EQ(s.window->getSettings().speedLimit, 512);
    EXPECT_EQ(s.window->getSettings().whenDone, Settings::WhenDone::close);

    // Outside the hours nothing downloads, and the view says until when.
    for (const Movie* m : s.movie(0, 0, 0)->getServerFile()->getMovies()) m->queue((s.dir / "x.avi").string());
    s.window->beginDownloadButton->click();
    const QString until = "Paused until " + QTime(from / 60, from % 60).toString("HH:mm");
    ASSERT_TRUE(waitUntil([&] { return s.window->waitingReason->text() == until; }));
    EXPECT_EQ(s.window->time->text(), "-");
    EXPECT_EQ(s.server.requests(s.series.catalogue.files[0].path), 0);
    s.window->stopButton->click();
    s.closeWindow();

    // Kept for the next run, in the user's configuration and not in the state file.
    s.open();
    ASSERT_TRUE(s.listed());
    EXPECT_EQ(s.window->getSettings().speedLimit, 512);
    EXPECT_TRUE(s.window->getSettings().windowOn);
    EXPECT_EQ(s.window->getSettings().window.from, from);
    s.closeWindow();
    QSettings file(QSettings::NativeFormat, QSettings::UserScope, "Vemlis loader", "Vemlis loader");
    EXPECT_TRUE(file.fileName().startsWith(qgetenv("XDG_CONFIG_HOME")));
    EXPECT_TRUE(file.fileName().endsWith("/Vemlis loader/Vemlis loader.conf"));
    // Edited by hand into nonsense: the defaults, never a limit of nothing.
    file.setValue("Downloads/SpeedLimitKiB", "fast");
    file.setValue("Downloads/WindowFrom", "25:99");
    file.setValue("Downloads/WhenQueueDone", "explode");
    file.sync();
    const Settings read = Settings::load(file);
    EXPECT_EQ(read.speedLimit, 0);
    EXPECT_EQ(read.window.from, Settings{}.window.from);
    EXPECT_EQ(read.whenDone, Settings::WhenDone::nothing);
    Settings{}.save(file);
}

TEST(Window, AtScaleTwoOrOnASmallScreenAtTheDesktopsFontEveryListShowsItsRowsAndNoViewScrolls) {
    // Qt's bare 9 points and the 11 points of KDE and qt6ct.
    const QFont before = QApplication::font();
    for (const double points : {before.pointSizeF(), 11.0}) {
        QFont font = before;
        font.setPointSizeF(points);
        QApplication::setFont(font);
        Session s;
        s.server.setThrottle(16 * 1024);  // the download view stays up
        s.open();
        ASSERT_TRUE(s.listed());
        s.window->showNormal();
        auto* panels = s.window->findChild<QAbstractScrollArea*>("panels");
        ASSERT_NE(panels, nullptr);
        // Scale 2 on 1920x1080 is 960x540 in the window's pixels, less a title bar; 1024x768;
        // 1280x800. At scale 2 with 11 points four rows are enough.
        const QSize screens[] = {{960, 515}, {1024, 743}, {1280, 775}};
        const auto check = [&](QWidget* panel, const char* name) {
            for (const QSize& size : screens) {
                const std::string where = std::string(name) + " at " + std::to_string(size.width()) + "x" +
                                          std::to_string(size.height()) + ", " + std::to_string(points) + " pt";
                s.window->resize(size);
                QApplication::processEvents();
                EXPECT_FALSE(panels->verticalScrollBar()->isVisible()) << where;
                EXPECT_FALSE(panels->horizontalScrollBar()->isVisible()) << where;
                for (QTreeWidget* list : panel->findChildren<QTreeWidget*>()) {
                    if (!list->isVisibleTo(panel) || list->objectName().startsWith("adder")) continue;
                    auto* row = new QTreeWidgetItem(list, QStringList{"row"});  // a row's height as the list lays it out
                    const int rows = list->viewport()->height() / list->visualItemRect(row).height();
                    delete row;
                    EXPECT_GE(rows, points > 10 && size.height() < 540 ? 4 : 5) << list->objectName().toStdString() << " " << where;
                }
                // Nothing cut: every caption of the panel shows whole.
                for (QLabel* label : panel->findChildren<QLabel*>()) {
                    if (label->isVisibleTo(panel) && !label->wordWrap() &&
                        label->sizePolicy().horizontalPolicy() != QSizePolicy::Ignored) {
                        EXPECT_GE(label->width(), label->minimumSizeHint().width()) << label->text().toStdString() << " " << where;
                    }
                }
            }
        };
        check(s.window->listPanel, "list panel");
        // At 1280 wide the bit rates show whole and the address column starts on screen.
        s.window->resize(1280, 800);
        UTF8ListView* variants = s.window->moviesList->getMoviesView();
        s.window->moviesList->getFilmsView()->setCurrentItem(s.window->moviesList->getFilmsView()->row(0));
        QApplication::processEvents();
        ASSERT_GT(variants->rowCount(), 0);
        for (int i = 0; i < variants->rowCount(); ++i)
            EXPECT_LE(variants->fontMetrics().horizontalAdvance(variants->row(i)->data(1, Qt::AccessibleTextRole).toString()),
                      variants->header()->sectionSize(1));
        EXPECT_LT(variants->header()->sectionViewportPosition(4) + 40, variants->viewport()->width());
        // The group adder's bit rates are readable whole.
        UTF8ListView* rates = s.window->multipleAdder->getBitRatesView();
        for (int i = 0; i < rates->rowCount(); ++i)
            EXPECT_LE(rates->fontMetrics().horizontalAdvance(rates->row(i)->data(0, Qt::AccessibleTextRole).toString()),
                      rates->viewport()->width() - rates->fontMetrics().height());
        for (const Movie* m : s.movie(0, 0, 0)->getServerFile()->getMovies()) m->queue((s.dir / "x.avi").string());
        s.window->beginDownloadButton->click();
        ASSERT_TRUE(waitUntil([&] { return s.window->queuePanel->isVisible(); }));
        check(s.window->queuePanel, "download view");
        s.window->stopButton->click();
    }
    QApplication::setFont(before);
}

TEST(Window, TheSaveDialogOpensInTheFolderUsedLastAlsoInTheNextRun) {
    Session s;
    std::filesystem::create_directories(s.dir / "chosen");
    s.open();
    ASSERT_TRUE(s.listed());
    s.window->fileNamer->setAskMode(true);
    s.prompter.saveAnswers.push_back((s.dir / "chosen" / "a.avi").string());
    s.window->moviesListCheck(nullptr, s.movie(0, 0, 0));
    ASSERT_EQ(s.prompter.saveInitialNames.size(), 1u);
    s.closeWindow();
    s.open();
    ASSERT_TRUE(s.listed());
    s.prompter.saveAnswers.push_back(std::nullopt);
    s.window->moviesListCheck(nullptr, s.movie(1, 0, 0));
    ASSERT_EQ(s.prompter.saveInitialNames.size(), 2u);
    EXPECT_EQ(s.prompter.saveInitialNames[1].rfind((s.dir / "chosen").string() + "/", 0), 0u) << s.prompter.saveInitialNames[1];
    s.closeWindow();
    // A folder that is gone is not proposed.
    std::filesystem::remove_all(s.dir / "chosen");
    s.open();
    ASSERT_TRUE(s.listed());
    s.prompter.saveAnswers.push_back(std::nullopt);
    s.window->moviesListCheck(nullptr, s.movie(1, 0, 0));
    ASSERT_EQ(s.prompter.saveInitialNames.size(), 3u);
    EXPECT_EQ(s.prompter.saveInitialNames[2].find("chosen"), std::string::npos);
}

TEST(Window, TabVisitsOnlyWhatCanBeSeenAndReachesTheSyntaxLink) {
    Session s;
    s.open();
    ASSERT_TRUE(s.listed());
    s.window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(s.window.get()));
    s.window->beginDownloadButton->setFocus();
    std::vector<std::string> visited;
    bool syntax = false;
    for (int i = 0; i < 40; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget* now = QApplication::focusWidget();
        ASSERT_NE(now, nullptr);
        // Shown, and of a size that can be seen.
        EXPECT_TRUE(now->isVisible() && now->width() > 2 && now->height() > 2)
            << "an invisible Tab stop: " << now->metaObject()->className() << " " << now->objectName().toStdString();
        visited.push_back(now->objectName().toStdString());
        if (auto* button = qobject_cast<QAbstractButton*>(now); button && button->text() == qtText(rows::syntax)) syntax = true;
        if (now == s.window->beginDownloadButton) break;
    }
    EXPECT_TRUE(syntax);
    EXPECT_EQ(visited.back(), "beginDownloadButton");  // round the window and back
}

TEST(Window, AFollowedGroupFetchesEachNewEpisodeOnceByItselfAndALookNeverBreaksATransfer) {
    Session s;
    s.open();
    ASSERT_TRUE(s.listed());
    s.useMask();
    MoviesSet* set = s.window->getMoviesSet();
    // Every season, English, the first bit rate, followed.
    MultipleAdder* adder = s.window->multipleAdder;
    for (int i = 0; i < adder->getSeasonsView()->rowCount(); ++i)
        adder->getSeasonsView()->setRowChecked(adder->getSeasonsView()->row(i), true);
    UTF8ListView* languagesView = adder->getLanguagesView();
    languagesView->setRowChecked(languagesView->row(rowOf(languagesView, set->getLanguage("EN"))), true);
    adder->getBitRatesView()->setRowChecked(adder->getBitRatesView()->row(0), true);
    adder->getFollowBox()->setChecked(true);
    adder->findChild<QPushButton*>("addButton")->click();
    ASSERT_EQ(s.window->getSettings().follow.size(), 1u);
    const FollowRule rule = s.window->getSettings().follow[0];
    EXPECT_TRUE(rule.seasons.empty());  // seasons that come later too
    // The user unticks what the group queued: those stay theirs.
    std::vector<const Movie*> unticked;
    for (const auto& season : set->getSeasons())
        for (const auto& film : season->getFilms())
            for (const auto& m : film->getMovies())
                if (m->getLoadFlag() == Queue) m->setNoLoad(), unticked.push_back(m.get());
    ASSERT_FALSE(unticked.empty());
    s.window->fileNamer->setAskMode(true);  // nobody answers at night: the mask names them

    // The maintainer adds a season; one of its files comes slowly, and another look comes meanwhile.
    vemlis::testing::CatalogueShape shape = s.shape;
    shape.seasons = 3;
    const auto grown = vemlis::testing::serveSeries(s.server, shape);
    const auto pathOf = [&](const Movie* m) { return m->getServerFile()->getURL().substr(s.server.baseURL().size()); };
    // The user looks at the second episode of the second season: so they stay after the look.
    UTF8ListView* seasonsView = s.window->moviesList->getSeasonsView();
    UTF8ListView* filmsView = s.window->moviesList->getFilmsView();
    seasonsView->setCurrentItem(seasonsView->row(1));
    filmsView->setCurrentItem(filmsView->row(1));
    const void* film = UTF8ListView::rowData(filmsView->currentItem());
    s.window->getLoadThread()->lookForNewEpisodes();
    ASSERT_TRUE(waitUntil([&] { return set->getSeasons().size() == 3 && seasonsView->rowCount() == 3; }));
    EXPECT_EQ(UTF8ListView::rowData(seasonsView->currentItem()), set->getSeasons()[1].get());
    EXPECT_EQ(UTF8ListView::rowData(filmsView->currentItem()), film);
    std::vector<const Movie*> wanted;
    for (const auto& film : set->getSeasons()[2]->getFilms())
        for (const auto& m : film->getMovies())
            if (rule.matches(*m)) wanted.push_back(m.get());
    ASSERT_FALSE(wanted.empty());
    s.server.setFault(pathOf(wanted.back()), Fault::throttled(8 << 10));
    ASSERT_TRUE(waitUntil([&] { return s.window->queuePanel->isVisible(); }));
    s.window->getLoadThread()->lookForNewEpisodes();
    ASSERT_TRUE(waitUntil([&] { return s.noneQueued() && s.window->url->text() == "-"; }, 30000));
    for (const Movie* m : wanted) {
        EXPECT_EQ(m->getLoadFlag(), Loaded);
        EXPECT_EQ(m->getFileName().rfind(s.dir.path().string() + "/3-", 0), 0u) << m->getFileName();
        const auto& pieces = grown.pieces.at(pathOf(m));
        const auto& movies = m->getServerFile()->getMovies();
        const auto at = std::find(movies.begin(), movies.end(), m) - movies.begin();
        EXPECT_EQ(vemlis::testing::readWholeFile(m->getFileName()), pieces[static_cast<std::size_t>(at)]);
        EXPECT_EQ(s.server.requests(pathOf(m)), 1) << pathOf(m);  // never broken off by a look
    }
    for (const Movie* m : unticked) EXPECT_EQ(m->getLoadFlag(), NoLoad);
    EXPECT_TRUE(s.prompter.dialogsShown.empty());
    EXPECT_TRUE(s.prompter.messages.empty());

    // A later look finds only a season in German: nothing is queued, and nothing twice.
    std::string document = grown.catalogue.document;
    document.insert(document.rfind("</Seasons>"), "<Season><Name>Extra</Name><Entry><Name lang=\"DE\">1. X</Name>"
                                                  "<Link lang=\"DE\" id=\"" + rule.bitRates[0] + "\">" +
                                                  s.server.baseURL() + "/files/extra.avi</Link></Entry></Season>\n");
    s.server.setCatalogue(document);
    s.window->getLoadThread()->lookForNewEpisodes();
    // Listed in the group adder once the window has taken what the look found.
    ASSERT_TRUE(waitUntil([&] { return adder->getSeasonsView()->rowCount() == 4; }));
    EXPECT_TRUE(s.noneQueued());
    for (const Movie* m : wanted) EXPECT_EQ(s.server.requests(pathOf(m)), 1);

    // The rule is kept in the user's configuration, listed in Settings and removed there.
    EXPECT_EQ(Settings::load(*userSettings()).follow, std::vector<FollowRule>{rule});
    s.window->settingsButtonClick();
    SettingsDialog* dialog = s.window->settingsDialog;
    ASSERT_NE(dialog, nullptr);
    ASSERT_EQ(dialog->rules->count(), 1);
    EXPECT_TRUE(dialog->rules->item(0)->text().startsWith("Every season; English; "));
    dialog->rules->setCurrentRow(0);
    dialog->removeRule->click();
    dialog->accept();
    EXPECT_TRUE(s.window->getSettings().follow.empty());
    EXPECT_TRUE(Settings::load(*userSettings()).follow.empty());
}
