#pragma once

#include <QMainWindow>

#include <filesystem>
#include <memory>
#include <string>
#include <chrono>
#include <deque>
#include <unordered_set>

#include "app/Settings.h"
#include "engine/LoadThreadUI.h"
#include "model/MoviesSet.h"

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace vemlis {

class FileNamer;
class LanguagesList;
class LoadThread;
class MoviesList;
class MoviesQueue;
class MultipleAdder;
class ActionNotification;
class SettingsDialog;
class SleepInhibitor;
class WhenDone;
class StateSaver;
class TIdHTTPWithSpeedCounter;
class DownloadView;
class Tray;
class TreloadDialog;
class TotherMoviesDialog;
class TcancelLoadDialog;
class TcancelAllDownloadsDialog;

// The main window: the list panel to choose movies, the download view, and the load thread's
// calls into the user interface. It owns the catalogue, the HTTP client, the load thread and
// the four dialogs; it reads data.kq4 when first shown and writes it when it closes.
class Twindow final : public QMainWindow, public LoadThreadUI {
    Q_OBJECT
public:
    // `moviesFolder`: where generated names put movies by default (the data folder when empty).
    Twindow(std::string catalogueURL, std::filesystem::path dataFolder, std::filesystem::path moviesFolder = {},
            QWidget* parent = nullptr);
    ~Twindow() override;

    std::filesystem::path getDataFileName() const { return dataFolder / "data.kq4"; }
    tavik::vemlis_loader::MoviesSet* getMoviesSet() const { return moviesSet.get(); }
    LoadThread* getLoadThread() const { return loadThread.get(); }
    // True once the close has written the state file (or told the user why it could not).
    bool isStateSaved() const { return stateSaved; }
    // Writes data.kq4 during the run and at close.
    StateSaver* getStateSaver() const { return stateSaver.get(); }
    // Whether the download view's figures are refreshed now (only while a queue runs).
    bool isRefreshingView() const;

    // The load thread's calls, run on this (the GUI) thread.
    void showMoviesSet() override;
    void showNewMovies() override;
    void showListPanel() override;
    void showQueuePanel() override;
    void showFileStarted() override;
    void showSplitPanel() override;
    void renameMovie() override;
    void addFinishedMovie() override;
    void showFileDone() override;
    void showMessage() override;
    void askCatalogueAddress() override;
    void enableCloseTimer() override;

    // Handlers.
    void languagesLanguageSelect(const tavik::vemlis_loader::Language* LanguageObject);
    void moviesListCheck(QObject* Sender, const tavik::vemlis_loader::Movie* MovieObject);
    void moviesListUncheck(QObject* Sender, const tavik::vemlis_loader::Movie* MovieObject);
    void cancelAllDownloadsButtonClick();
    void multipleAdderRun(QObject* Sender, tavik::vemlis_loader::ListOfMovies& Movies);
    void infoTimerTimer();
    void beginDownloadButtonClick();
    void stopButtonClick();
    void stopAfterCurrentClick();
    void closeTimerTimer();
    // Opens the settings (window-modal, not waited for); taken when the user presses OK.
    void settingsButtonClick();
    const Settings& getSettings() const { return settings; }
    // Whether the desktop has a tray that the program shows its icon in.
    bool hasTray() const;
    // Starts as a first show does, with the window left hidden (in the tray).
    void startHidden();
    // What the tray's tooltip says now.
    QString trayStatus() const;
    // Takes new settings: in force at once, and kept in the user's configuration.
    void setSettings(const Settings& now);
    // Keeps the group as a rule: its new movies are queued by themselves from now on.
    void followGroup(const tavik::vemlis_loader::FollowRule& rule);
    // How a rule reads, by the captions of this catalogue.
    QString describeRule(const tavik::vemlis_loader::FollowRule& rule) const;

    // Controls, by their names, for the handlers and for tests.
    QWidget* initializingPanel;
    QWidget* listPanel;
    QWidget* queuePanel;
    QWidget* splitPanel;
    QPushButton* beginDownloadButton;
    QPushButton* cancelAllDownloadsButton;
    QPushButton* stopButton;
    QCheckBox* stopAfterCurrent;
    QPushButton* settingsButton;
    SettingsDialog* settingsDialog = nullptr;  // while open
    WhenDone* whenDone;
    QLabel* whenDoneStatus;
    QPushButton* cancelWhenDoneButton;
    QLabel* url;
    QLabel* size;
    QLabel* recieved;
    QLabel* speed;
    QLabel* time;
    QLabel* waitingReason;  // why the next file waits and until when; "-" while one comes
    QProgressBar* progress;
    QLabel* fileCount;
    LanguagesList* languages;
    MoviesList* moviesList;
    FileNamer* fileNamer;
    MultipleAdder* multipleAdder;
    MoviesQueue* currentDownloads;
    MoviesQueue* queue;
    MoviesQueue* finished;
    TreloadDialog* reloadDialog;
    TotherMoviesDialog* otherMoviesDialog;
    TcancelLoadDialog* cancelLoadDialog;
    TcancelAllDownloadsDialog* cancelAllDownloadsDialog;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    void FormShow();
    bool FormCloseQuery();
    void FormClose();
    void buildLayout();
    void setCaptions();
    void loadState();
    void saveState();
    std::string stateText() const;
    void removeStaleParts();
    void addToQueue(const tavik::vemlis_loader::ListOfMovies& movies);
    // The progress bar, "File k of n" and the percentage in the title.
    void showProgress();
    void tellWhenQueueDone();
    // The questions for new names of movies that could not be saved, one after another.
    void askForNewNames();
    // Queues what the rules want of the movies the last merge added, named by the mask, and
    // starts the download when the user wants that.
    void followNewMovies();
    void startDownload();
    // The next look for new episodes, when a rule wants one.
    void planNextLook();
    void updateTray();
    static QString waitText(const std::string& reason, std::chrono::steady_clock::time_point due);
    void showWaitingFiles();

    std::string catalogueURL;  // where the list of episodes comes from
    const std::filesystem::path dataFolder;
    const std::filesystem::path moviesFolder;
    std::unique_ptr<tavik::vemlis_loader::MoviesSet> moviesSet;
    TIdHTTPWithSpeedCounter* http;
    std::unique_ptr<DownloadView> downloadView;
    std::unique_ptr<LoadThread> loadThread;
    std::unique_ptr<StateSaver> stateSaver;
    SleepInhibitor* sleepInhibitor;  // held while files download and split
    Settings settings;
    QTimer* closeTimer;
    QTimer* infoTimer;
    QTimer* lookTimer;  // the next look for new episodes
    Tray* tray;
    bool networkLost = false;
    QLabel* statusLabel;
    bool shown = false;
    // "File k of n": the files that had queued movies at "Start download", and those begun.
    std::size_t filesToLoad = 0;
    // What this download saved and found broken, for the notification when the queue is done.
    int moviesSaved = 0;
    int wrongLinks = 0;
    std::string lastSaved;  // the file of the movie saved last: its folder opens from the notification
    std::unique_ptr<ActionNotification> doneNotification;
    bool doneTold = true;
    std::unordered_set<const tavik::vemlis_loader::ServerFile*> filesBegun;
    std::unordered_set<const tavik::vemlis_loader::ServerFile*> filesWaiting;  // as the queue shows them
    // Another address for the list of episodes was given at start: kept once it loads.
    bool addressGiven = false;
    // The file whose movies "Current downloads" lists.
    const tavik::vemlis_loader::ServerFile* shownFile = nullptr;
    bool stateSaved = false;
    struct UnsavedMovie {
        const tavik::vemlis_loader::Movie* movie;
        std::string reason;  // the name and the system's words
    };
    std::deque<UnsavedMovie> unsavedMovies;  // the first is being asked about
};

}  // namespace vemlis
