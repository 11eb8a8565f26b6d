#include "Twindow.h"

#include <QAccessible>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QTime>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <sstream>

#include "app/AddressDialog.h"
#include "app/Dialogs.h"
#include "app/FileManager.h"
#include "app/Icons.h"
#include "app/NetworkWatch.h"
#include "app/Notifier.h"
#include "app/SettingsDialog.h"
#include "app/SleepInhibitor.h"
#include "app/StateSaver.h"
#include "app/Tray.h"
#include "app/WhenDone.h"
#include "components/FileNamer.h"
#include "components/LanguagesList.h"
#include "components/MoviesList.h"
#include "components/MoviesQueue.h"
#include "components/MultipleAdder.h"
#include "components/Prompter.h"
#include "components/QtText.h"
#include "app/DownloadView.h"
#include "app/IdHTTPWithSpeedCounter.h"
#include "engine/LoadThread.h"
#include "engine/RetrySchedule.h"
#include "engine/net/TransferLimits.h"
#include "model/FollowRule.h"
#include "model/UiTexts.h"
#include "model/UsedNames.h"

namespace vemlis {

using namespace tavik::vemlis_loader;

namespace {

bool queuedMovies(const ServerFile* file) {
    const auto& movies = file->getMovies();
    return std::any_of(movies.begin(), movies.end(), [](const Movie* m) { return m->getLoadFlag() == Queue; });
}

std::size_t countLines(const std::string& text) {
    std::size_t lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    if (!text.empty() && text.back() != '\n') ++lines;
    return lines;
}

}  // namespace

Twindow::Twindow(std::string catalogueURL, std::filesystem::path dataFolder, std::filesystem::path moviesFolder,
                 QWidget* parent)
    : QMainWindow(parent), catalogueURL(std::move(catalogueURL)), dataFolder(std::move(dataFolder)),
      moviesFolder(moviesFolder.empty() ? this->dataFolder : std::move(moviesFolder)) {
    setObjectName("window");
    setWindowIcon(applicationIcon());  // the dialogs take the window's
    resize(875, 640);
    buildLayout();
    http = new TIdHTTPWithSpeedCounter(this);
    downloadView = std::make_unique<DownloadView>(DownloadView::Labels{url, size, recieved, speed, time, waitingReason});
    // A server that stops sending for a minute fails the transfer, which is then retried.
    http->setStallTimeout(limits::stallTimeout);
    closeTimer = new QTimer(this);
    closeTimer->setInterval(1);
    connect(closeTimer, &QTimer::timeout, this, &Twindow::closeTimerTimer);
    sleepInhibitor = new SleepInhibitor(this);
    // Suspended on purpose: every status on disk first. Awake: files that waited, and the
    // transfer the sleep broke, go on at once.
    sleepInhibitor->onSuspend = [this] {
        if (stateSaver) stateSaver->saveAndWait();
    };
    sleepInhibitor->onResume = [this] {
        if (!loadThread) return;
        loadThread->retryNow();
        loadThread->restartTransfer();
    };
    infoTimer = new QTimer(this);
    infoTimer->setInterval(200);
    connect(infoTimer, &QTimer::timeout, this, &Twindow::infoTimerTimer);

    languages->OnLanguageSelect = [this](const Language* l) { languagesLanguageSelect(l); };
    moviesList->OnCheck = [this](QObject* s, const Movie* m) { moviesListCheck(s, m); };
    moviesList->OnUncheck = [this](QObject* s, const Movie* m) { moviesListUncheck(s, m); };
    multipleAdder->OnRun = [this](QObject* s, ListOfMovies& movies) { multipleAdderRun(s, movies); };
    multipleAdder->OnFollow = [this](const FollowRule& rule) { followGroup(rule); };
    tray = new Tray(this);
    tray->onStart = [this] { beginDownloadButtonClick(); };
    tray->onAbort = [this] { stopButtonClick(); };
    tray->onQuit = [this] { close(); };  // not the window's own close: the program ends
    lookTimer = new QTimer(this);
    lookTimer->setSingleShot(true);
    lookTimer->setTimerType(Qt::VeryCoarseTimer);  // hours: a second's precision wakes nobody
    connect(lookTimer, &QTimer::timeout, this, [this] {
        loadThread->lookForNewEpisodes();
        planNextLook();
    });
    connect(beginDownloadButton, &QPushButton::clicked, this, &Twindow::beginDownloadButtonClick);
    connect(cancelAllDownloadsButton, &QPushButton::clicked, this, &Twindow::cancelAllDownloadsButtonClick);
    connect(stopButton, &QPushButton::clicked, this, &Twindow::stopButtonClick);
    connect(stopAfterCurrent, &QCheckBox::clicked, this, &Twindow::stopAfterCurrentClick);
    // Ctrl+Q closes the window as its close button does.
    auto* quit = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), this);
    connect(quit, &QShortcut::activated, this, &QWidget::close);
    connect(settingsButton, &QPushButton::clicked, this, &Twindow::settingsButtonClick);
    auto* openSettings = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma), this);
    connect(openSettings, &QShortcut::activated, this, &Twindow::settingsButtonClick);
    whenDone = new WhenDone(this);
    whenDone->onClose = [this] { close(); };
    whenDone->beforeSleep = [this] {
        if (stateSaver) stateSaver->saveAndWait();
    };
    whenDone->onStatus = [this](const QString& text) {
        whenDoneStatus->setText(text);
        whenDoneStatus->setVisible(!text.isEmpty());
        cancelWhenDoneButton->setVisible(whenDone->pending());
    };
    connect(cancelWhenDoneButton, &QPushButton::clicked, whenDone, &WhenDone::cancel);
    finished->OnOpenFolder = [](const std::string& file) { showInFolder(QFile::decodeName(QByteArray::fromStdString(file))); };

    stateSaver = std::make_unique<StateSaver>(
        getDataFileName(), [this] { return stateText(); },
        [this](const std::string& message) { prompter().showMessage(this, message); });
    FormCreate();
    // The network back: every waiting file at once; gone: failures meanwhile do not count.
    new NetworkWatch(
        [this](bool online) {
            if (!loadThread) return;
            loadThread->setOffline(!online);
            if (online) loadThread->retryNow();
            // Back after a loss: what the maintainer added meanwhile is looked for at once.
            if (online && networkLost && !settings.follow.empty()) loadThread->lookForNewEpisodes();
            networkLost = !online;
        },
        this);
    const auto stored = userSettings();
    settings = Settings::load(*stored);
    settings.startAtLogin = startsAtLogin();
    // The save dialog opens where the user saved last, also in an earlier run, while that
    // folder still exists.
    std::error_code missing;
    if (const QString folder = stored->value("Dialogs/SaveFolder").toString();
        !folder.isEmpty() && std::filesystem::is_directory(folder.toStdString(), missing))
        fileNamer->setLastFolder(folder.toStdString());
    http->setSpeedLimit(settings.bytesPerSecond());
    loadThread->setDownloadWindow(settings.activeWindow());
    reloadDialog = new TreloadDialog(this);
    otherMoviesDialog = new TotherMoviesDialog(this, this->moviesFolder.string());
    cancelLoadDialog = new TcancelLoadDialog(this);
    cancelAllDownloadsDialog = new TcancelAllDownloadsDialog(this);
}

Twindow::~Twindow() {
    // The thread may still run when the window goes without a close (a test, an exception).
    // It is ended while the window can still answer its last calls, and no timer of the
    // window's looks at it meanwhile: resetting the pointer first made both find it null.
    infoTimer->stop();
    closeTimer->stop();
    if (loadThread) loadThread->finish();
    loadThread.reset();
    stateSaver.reset();
}

void Twindow::FormCreate() {
    languages->setLanguageID("EN");
    moviesList->setImageList(statisticsIcons());
    setCaptions();
    moviesSet = std::make_unique<MoviesSet>();
    loadThread = std::make_unique<LoadThread>(*moviesSet, *http, *this, catalogueURL, dataFolder);
}

void Twindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!shown) {
        shown = true;
        FormShow();
    }
}

void Twindow::FormShow() {
    stateSaver->removeUnfinishedWrites();
    loadState();
    // Told at once, not after a long run whose every status would be lost.
    stateSaver->checkWritable();
    removeStaleParts();
    // Only now may the load thread merge the catalogue into what the state file held.
    loadThread->allowMerge();
}

void Twindow::loadState() {
    std::string problem;
    const std::string bytes = stateSaver->read(problem);
    if (!problem.empty()) prompter().showMessage(this, problem);
    if (bytes.empty()) return;
    std::istringstream in(bytes);
    moviesSet->load(in);
    languages->load(in);
    fileNamer->load(in);
    // A file that did not read back whole keeps a copy before the next save replaces it.
    if (countLines(stateText()) != countLines(bytes)) stateSaver->keepDamaged(bytes);
}

std::string Twindow::stateText() const {
    std::ostringstream out;
    moviesSet->save(out);
    languages->save(out);
    fileNamer->save(out);
    return std::move(out).str();
}

void Twindow::saveState() {
    // A failed write is told by the saver; the previous file stays whole and the close goes on.
    stateSaver->saveAndWait();
    stateSaved = true;
}

void Twindow::removeStaleParts() {
    // A movie's part file outlives its pass only when the program was killed during it, or
    // when a broken transfer kept it to go on from.
    const std::vector<std::string> kept = loadThread->getKeptMovieParts();
    for (const auto& season : moviesSet->getSeasons())
        for (const auto& film : season->getFilms())
            for (const auto& movie : film->getMovies()) {
                if (movie->getLoadFlag() != Queue || movie->getFileName().empty()) continue;
                const std::filesystem::path part = movie->getFileName() + ".part";
                if (std::find(kept.begin(), kept.end(), part.string()) != kept.end()) continue;
                std::error_code error;
                if (std::filesystem::is_regular_file(std::filesystem::symlink_status(part, error)))
                    std::filesystem::remove(part, error);
            }
}

bool Twindow::hasTray() const { return tray->available(); }

bool Twindow::isRefreshingView() const { return infoTimer->isActive(); }

void Twindow::startHidden() {
    if (shown) return;
    shown = true;
    FormShow();
}

void Twindow::closeEvent(QCloseEvent* event) {
    // The window's close button, with a tray to stay in: only the window goes.
    if (event->spontaneous() && settings.keepInTray && tray->available()) {
        hide();
        event->ignore();
        return;
    }
    if (!FormCloseQuery()) {
        event->ignore();
        return;
    }
    FormClose();
    event->accept();
}

bool Twindow::FormCloseQuery() {
    if (!loadThread || loadThread->loopEnded()) return true;
    languages->disableEvents();
    moviesList->disableEvents();
    loadThread->close();
    return false;
}

void Twindow::FormClose() {
    sleepInhibitor->release();
    if (!fileNamer->getLastFolder().empty())
        userSettings()->setValue("Dialogs/SaveFolder", QString::fromStdString(fileNamer->getLastFolder()));
    if (stateSaved) return;
    closeTimer->stop();
    saveState();
}

void Twindow::closeTimerTimer() {
    closeTimer->stop();
    close();
}

void Twindow::showMoviesSet() {
    if (addressGiven) {
        // Read while the load thread waits for this call.
        addressGiven = false;
        catalogueURL = loadThread->getCatalogueURL();
        settings.catalogue = toQt(catalogueURL);
        settings.save(*userSettings());
    }
    initializingPanel->hide();
    listPanel->show();
    moviesList->setMoviesSet(moviesSet.get());
    languages->setMoviesSet(moviesSet.get());
    multipleAdder->setMoviesSet(moviesSet.get());
    followNewMovies();
    planNextLook();
}

void Twindow::showNewMovies() {
    moviesList->refresh();
    languages->setMoviesSet(moviesSet.get());  // keeps the language chosen
    multipleAdder->refresh();
    followNewMovies();
}

void Twindow::followNewMovies() {
    const ListOfMovies wanted = moviesToFollow(loadThread->getAddedMovies(), settings.follow);
    if (wanted.empty()) return;
    // Named by the mask even where names are asked: nobody may be there to answer.
    const Language* titleLanguage = languages->getLanguage();
    const Language* english = moviesSet->getLanguage("EN");
    const std::string mask = fileNamer->getMask();
    UsedNames used(*moviesSet);
    std::vector<const ServerFile*> files;
    moviesSet->getQueuedFiles(files);
    const std::size_t queuedBefore = files.size();
    QStringList names;
    for (const Movie* movie : wanted) {
        movie->queue(used.freeName(FileNamer::generateName(mask, movie, titleLanguage, english), movie));
        used.note(movie);
        names.push_back(toQt(FileNamer::describe(movie, english)));
    }
    moviesList->updateStatuses();
    stateSaver->saveSoon();
    const int count = static_cast<int>(names.size());
    if (names.size() > 5) names = names.mid(0, 5) << QStringLiteral("…");
    Notifier::notify(tr("%n new episode(s) queued", "", count), names.join('\n'));
    // On the lists, or after a queue that is done: a download of its own, when wanted. The
    // worker of a done queue would take them at once: it stops, and they wait for the user.
    if (listPanel->isVisibleTo(this) || doneTold) {
        if (settings.fetchNewByThemselves)
            startDownload();
        else if (!listPanel->isVisibleTo(this))
            loadThread->stop(false);
        return;
    }
    // The download runs: its worker takes them in their turn; the queue shows them now.
    moviesSet->getQueuedFiles(files);
    filesToLoad += files.size() - queuedBefore;
    for (const Movie* movie : wanted)
        if (movie->getServerFile() != shownFile) queue->addMovie(movie);
    showProgress();
}

void Twindow::planNextLook() {
    lookTimer->stop();
    if (!settings.follow.empty() && settings.lookEveryHours > 0) lookTimer->start(std::chrono::hours(settings.lookEveryHours));
    updateTray();
}

QString Twindow::trayStatus() const {
    if (queuePanel->isVisibleTo(this) && !doneTold) {
        if (const auto waiting = loadThread->getWaiting()) return toQt(waiting->reason);
        const auto [total, received, kB, left] = http->getFigures();
        QString text = tr("File %1 of %2").arg(std::min(filesBegun.size(), filesToLoad)).arg(filesToLoad);
        if (total > 0 && received > 0) text += QStringLiteral(", %1 %").arg(std::min(received, total) * 100 / total);
        return text;
    }
    if (lookTimer->isActive())
        return tr("Next look for new episodes at %1")
            .arg(QTime::currentTime().addMSecs(lookTimer->remainingTime()).toString(QStringLiteral("HH:mm")));
    return qtText(rows::applicationTitle);
}

void Twindow::updateTray() {
    if (!tray->available()) return;
    tray->setDownloading(queuePanel->isVisibleTo(this) && !doneTold);
    tray->setStatus(trayStatus());
}

void Twindow::followGroup(const FollowRule& rule) {
    if (std::find(settings.follow.begin(), settings.follow.end(), rule) != settings.follow.end()) return;
    Settings now = settings;
    now.follow.push_back(rule);
    setSettings(now);
}

QString Twindow::describeRule(const FollowRule& rule) const {
    QStringList seasons, languages, bitRates;
    for (const std::string& name : rule.seasons) seasons << toQt(name);
    for (const std::string& id : rule.languages) {
        const Language* language = moviesSet->getLanguage(id);
        languages << toQt(language ? language->getCaption() : id);
    }
    for (const std::string& id : rule.bitRates) {
        const BitRate* bitRate = moviesSet->getBitRate(id);
        bitRates << toQt(bitRate ? bitRate->getDescription() : id);
    }
    return tr("%1; %2; %3")
        .arg(seasons.isEmpty() ? tr("Every season") : seasons.join(QStringLiteral(", ")), languages.join(QStringLiteral(", ")),
             bitRates.join(QStringLiteral(", ")));
}

void Twindow::showListPanel() {
    sleepInhibitor->release();  // the worker idles now
    infoTimer->stop();          // nothing to tell: at rest the window wakes for nobody
    updateTray();
    if (listPanel->isVisibleTo(this)) return;
    listPanel->show();
    queuePanel->hide();
    showProgress();
    moviesList->updateStatuses();
}

void Twindow::showQueuePanel() {
    splitPanel->hide();
    // The figures of a queue that is done are final: the view wakes for nobody until the next.
    if (!infoTimer->isActive() && !doneTold) infoTimer->start();
    if (queuePanel->isVisibleTo(this)) return;
    queuePanel->show();
    listPanel->hide();
    if (stopAfterCurrent->isChecked()) stopAfterCurrent->setChecked(false);
}

void Twindow::showFileStarted() {
    // A laptop left to download overnight must not fall asleep in the middle.
    sleepInhibitor->hold();
    const ServerFile* file = loadThread->getCurrentFile();
    filesBegun.insert(file);
    queue->removeFile(file);
    // A file that waits (a failure, a certificate) goes back to the queue: its movies stay in
    // a list while the others come in.
    if (shownFile && shownFile != file && queuedMovies(shownFile)) queue->addFile(shownFile, Queue);
    shownFile = file;
    currentDownloads->clearList();
    currentDownloads->addFile(file, Queue);
    url->setText(toQt(file->getURL()));
}

void Twindow::showSplitPanel() { splitPanel->show(); }

void Twindow::renameMovie() {
    // Asked when the worker has gone on: a question nobody answers at night never holds up the
    // queue. The movie stays queued under its name meanwhile, and its file is kept.
    const Movie* movie = loadThread->getCurrentMovie();
    const auto asked = [movie](const UnsavedMovie& each) { return each.movie == movie; };
    if (std::find_if(unsavedMovies.begin(), unsavedMovies.end(), asked) != unsavedMovies.end()) return;
    unsavedMovies.push_back({movie, movie->getFileName() + ": " + loadThread->getSaveFailure()});
    if (unsavedMovies.size() == 1) QTimer::singleShot(0, this, &Twindow::askForNewNames);
}

void Twindow::askForNewNames() {
    while (!unsavedMovies.empty() && !questionsClosed()) {
        const UnsavedMovie unsaved = unsavedMovies.front();
        const Movie* movie = unsaved.movie;
        if (movie->getLoadFlag() == Queue) {
            prompter().showMessage(this, uiText(rows::fileNotSaved) + "\n" + unsaved.reason);
            UsedNames used(*moviesSet);
            fileNamer->setUsedNames(&used);
            // Closed by the program's end (a term signal, a logout), the question was never
            // answered: the movie stays queued for the next run.
            if (!fileNamer->setMovieFileName(movie, movie->getLanguage(), moviesSet->getLanguage("EN"), true) &&
                !questionsClosed())
                movie->setNoLoad();
            fileNamer->setUsedNames(nullptr);
            if (questionsClosed()) return;
            moviesList->updateStatuses();
            stateSaver->saveSoon();
            loadThread->nameGiven();
        }
        unsavedMovies.pop_front();
    }
}

void Twindow::addFinishedMovie() {
    const Movie* movie = loadThread->getCurrentMovie();
    // Done while its file may still come: it loads no more.
    currentDownloads->removeMovie(movie);
    finished->addMovie(movie);
    if (movie->getLoadFlag() == Loaded) {
        ++moviesSaved;
        lastSaved = movie->getFileName();
    }
    if (movie->getLoadFlag() == Broken) ++wrongLinks;
    finished->scrollToBottom();
    // Covers a splitting that ends early; a pass that ends well saves at once.
    stateSaver->saveSoon();
}

void Twindow::showFileDone() {
    url->setText("-");
    // The load thread waits meanwhile, so the state taken is the one the pass left.
    stateSaver->saveNow();
    tellWhenQueueDone();
}

void Twindow::tellWhenQueueDone() {
    if (doneTold || moviesSet->getNextQueuedFile()) return;
    doneTold = true;
    sleepInhibitor->release();
    // The last file's movies are among the finished ones now, not loading; the figures of its
    // transfer are over.
    currentDownloads->clearList();
    shownFile = nullptr;
    showProgress();
    infoTimer->stop();  // the figures are final: told once more, then nothing wakes the view
    infoTimerTimer();
    // Said in the view too, in words a screen reader is told of: not only by a notification.
    url->setText("-");
    fileCount->setText(tr("All downloads done: %1 movie(s) saved, %2 wrong link(s)").arg(moviesSaved).arg(wrongLinks));
    QAccessibleEvent done(fileCount, QAccessible::Alert);
    QAccessible::updateAccessibility(&done);
    const QString saved = QFile::decodeName(QByteArray::fromStdString(lastSaved));
    doneNotification = std::make_unique<ActionNotification>(
        tr("Downloads finished"), tr("%1 movie(s) saved, %2 wrong link(s)").arg(moviesSaved).arg(wrongLinks),
        moviesSaved > 0 ? QStringList{"open", tr("Open folder")} : QStringList{},
        [saved](const QString& key) {
            if (key == "open") showInFolder(saved);
        },
        false);
    // Unattended: what the user asked for the end of the night, with every status on disk first.
    whenDone->start(settings.whenDone);
}

void Twindow::settingsButtonClick() {
    if (settingsDialog) return settingsDialog->raise();
    QStringList ruleNames;
    for (const FollowRule& rule : settings.follow) ruleNames << describeRule(rule);
    settingsDialog = new SettingsDialog(settings, toQt(catalogueURL), ruleNames, this);
    settingsDialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(settingsDialog, &QDialog::accepted, this, [this] { setSettings(settingsDialog->settings()); });
    connect(settingsDialog, &QObject::destroyed, this, [this] { settingsDialog = nullptr; });
    settingsDialog->open();
}

void Twindow::setSettings(const Settings& now) {
    settings = now;
    if (QString problem; now.startAtLogin != startsAtLogin() && !setStartAtLogin(now.startAtLogin, problem)) {
        settings.startAtLogin = !now.startAtLogin;
        prompter().showError(this, tr("The start at login could not be changed in").toStdString() + "\n" + problem.toStdString());
    }
    http->setSpeedLimit(settings.bytesPerSecond());
    loadThread->setDownloadWindow(settings.activeWindow());
    if (moviesSet && !initializingPanel->isVisibleTo(this)) planNextLook();
    auto file = userSettings();
    settings.save(*file);
    if (file->status() != QSettings::NoError)
        prompter().showError(this, tr("The settings could not be written to").toStdString() + "\n" + file->fileName().toStdString());
}

void Twindow::showMessage() {
    // The run ends after this message: told on the desktop too, for a window left in the
    // background; "updating" is over.
    initializingPanel->hide();
    Notifier::notify(tr("Vemlis loader stopped"), toQt(loadThread->getMessage()));
    prompter().showError(this, loadThread->getMessage());
}

void Twindow::askCatalogueAddress() {
    initializingPanel->hide();
    // Told on the desktop too: a window started at login may wait unseen behind others.
    Notifier::notify(tr("The list of episodes could not be loaded"), toQt(loadThread->getMessage()));
    AddressDialog dialog(toQt(loadThread->getMessage()), toQt(loadThread->getCatalogueURL()), this);
    // Closed by the program's end, the question was not answered: the run ends.
    if (prompter().execDialog(&dialog) != QDialog::Accepted || questionsClosed()) return;
    loadThread->setNextCatalogueURL(dialog.address().toStdString());
    addressGiven = true;
}

void Twindow::enableCloseTimer() { closeTimer->start(); }

void Twindow::languagesLanguageSelect(const Language* LanguageObject) { moviesList->setLanguage(LanguageObject); }

void Twindow::moviesListCheck(QObject*, const Movie* movie) {
    if (const std::string& question = reloadQuestion(movie->getLoadFlag()); !question.empty())
        if (!reloadDialog->ask(question)) return;
    ListOfMovies movies;
    if (movie->hasOtherInFile(NoLoad))
        otherMoviesDialog->chooseMovies(movie, movies, TotherMoviesDialog::checking, languages->getLanguage(),
                                        fileNamer);
    else
        movies.push_back(movie);
    addToQueue(movies);
}

void Twindow::moviesListUncheck(QObject*, const Movie* movie) {
    ListOfMovies movies;
    if (movie->hasOtherInFile(Queue))
        otherMoviesDialog->chooseMovies(movie, movies, TotherMoviesDialog::unchecking, languages->getLanguage(),
                                        fileNamer);
    else if (cancelLoadDialog->ask())
        movies.push_back(movie);
    for (const Movie* each : movies) each->setNoLoad();
    stateSaver->saveSoon();
}

void Twindow::addToQueue(const ListOfMovies& movies) {
    const Language* titleLanguage = languages->getLanguage();
    const Language* english = moviesSet->getLanguage("EN");
    UsedNames used(*moviesSet);
    fileNamer->setUsedNames(&used);
    for (const Movie* movie : movies)
        if (!fileNamer->setMovieFileName(movie, titleLanguage, english, false)) break;
    fileNamer->setUsedNames(nullptr);
    stateSaver->saveSoon();
}

void Twindow::multipleAdderRun(QObject*, ListOfMovies& Movies) {
    addToQueue(Movies);
    moviesList->updateStatuses();
}

void Twindow::cancelAllDownloadsButtonClick() {
    if (cancelAllDownloadsDialog->showModal() != mrYes) return;
    for (const auto& season : moviesSet->getSeasons())
        for (const auto& film : season->getFilms())
            for (const auto& movie : film->getMovies())
                if (movie->getLoadFlag() == Queue) movie->setNoLoad();
    moviesList->updateStatuses();
    stateSaver->saveSoon();
}

void Twindow::showProgress() {
    if (!queuePanel->isVisibleTo(this)) {
        setWindowTitle(qtText(rows::applicationTitle));
        return;
    }
    const auto [total, received, kB, left] = http->getFigures();
    if (doneTold) {
        progress->setRange(0, 1000);
        progress->setValue(1000);
        progress->setFormat("100%");
        setWindowTitle(qtText(rows::applicationTitle));
    } else if (received > 0 && total > 0) {
        const int permille = static_cast<int>(std::min<std::int64_t>(received, total) * 1000 / total);
        progress->setRange(0, 1000);
        progress->setValue(permille);
        progress->setFormat(QString::number(permille / 10) + "%");
        setWindowTitle(QString::number(permille / 10) + "% - " + qtText(rows::applicationTitle));
    } else if (received > 0) {
        progress->setRange(0, 0);  // no length: busy
        setWindowTitle(qtText(rows::applicationTitle));
    } else {
        progress->setRange(0, 1000);
        progress->setValue(0);
        progress->setFormat("");
        setWindowTitle(qtText(rows::applicationTitle));
    }
    if (filesToLoad > 0 && !doneTold)
        fileCount->setText(tr("File %1 of %2").arg(std::min(filesBegun.size(), filesToLoad)).arg(filesToLoad));
}

QString Twindow::waitText(const std::string& reason, std::chrono::steady_clock::time_point due) {
    if (due == RetrySchedule::never) return toQt(reason);
    const auto left = std::chrono::ceil<std::chrono::seconds>(due - std::chrono::steady_clock::now());
    return tr("%1, next try in %2 s").arg(toQt(reason)).arg(std::max<long long>(left.count(), 0));
}

void Twindow::showWaitingFiles() {
    // Each waiting file's rows in the queue say why it waits and until when; a file that waits
    // no more shows its movies' own status again.
    std::unordered_set<const ServerFile*> now;
    for (const LoadThread::WaitingFile& wait : loadThread->getWaitingFiles()) {
        queue->setFileStatus(wait.file, waitText(wait.reason, wait.due).toStdString());
        now.insert(wait.file);
    }
    for (const ServerFile* file : filesWaiting)
        if (!now.count(file)) queue->setFileStatus(file, {});
    filesWaiting = std::move(now);
}

void Twindow::infoTimerTimer() {
    showProgress();
    updateTray();
    showWaitingFiles();
    if (const auto waiting = loadThread->getWaiting()) {
        // Awake only for work due within a minute: a pause for the hours, a server's long wait
        // or a wait for the user lets the computer sleep; the next transfer holds it again.
        if (RetrySchedule::keepsAwake(waiting->due, std::chrono::steady_clock::now()))
            sleepInhibitor->hold();
        else
            sleepInhibitor->release();
        downloadView->showWaiting(toQt(waiting->url), waitText(waiting->reason, waiting->due));
        return;
    }
    downloadView->showTransfer(http->getFigures(), doneTold, splitPanel->isVisibleTo(this));
}

void Twindow::beginDownloadButtonClick() {
    if (!moviesSet->getNextQueuedFile()) {
        prompter().showMessage(this, uiText(rows::noFilesSelected));
        return;
    }
    whenDone->cancel();  // someone is there: the computer stays on
    startDownload();
}

void Twindow::startDownload() {
    std::vector<const ServerFile*> files;
    moviesSet->getQueuedFiles(files);
    loadThread->start();
    filesToLoad = files.size();
    filesBegun.clear();
    moviesSaved = 0;
    wrongLinks = 0;
    doneTold = false;
    fileCount->clear();
    shownFile = nullptr;
    queue->clearList();
    for (const ServerFile* file : files) queue->addFile(file, Queue);
}

void Twindow::stopButtonClick() { loadThread->stop(true); }

void Twindow::stopAfterCurrentClick() {
    if (stopAfterCurrent->isChecked())
        loadThread->stop(false);
    else
        loadThread->start();
}

}  // namespace vemlis
