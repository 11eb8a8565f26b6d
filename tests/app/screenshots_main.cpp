// Drives the real main window against the demo server and saves pictures of what a user sees:
// the list panel, the download view during a throttled transfer, and each dialog.
//   vemlis-screenshots CATALOGUE_URL OUTPUT_FOLDER DATA_FOLDER

#include <QApplication>
#include <QPalette>

#include <cstdlib>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>
#include <QTime>

#include <cstdio>
#include <filesystem>

#include "app/Dialogs.h"
#include "app/SettingsDialog.h"
#include "app/StateSaver.h"
#include "app/Translations.h"
#include "engine/LoadThread.h"
#include "app/Twindow.h"
#include "components/FileNamer.h"
#include "components/LanguagesList.h"
#include "components/MoviesList.h"
#include "components/UTF8ListView.h"
#include "model/UiTexts.h"
#include "engine/net/HttpClient.h"

using namespace vemlis;
using namespace tavik::vemlis_loader;

namespace {

bool waitFor(const std::function<bool()>& condition, int milliseconds) {
    QElapsedTimer timer;
    timer.start();
    while (!condition() && timer.elapsed() < milliseconds) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return condition();
}

// The whole screen, window manager's frames included, as a user sees it.
void saveScreen(const std::filesystem::path& path) {
    waitFor([] { return false; }, 300);  // let the window manager finish drawing
    QGuiApplication::primaryScreen()->grabWindow(0).save(QString::fromStdString(path.string()));
}

void save(QWidget* widget, const std::filesystem::path& path) {
    QApplication::processEvents();
    widget->grab().save(QString::fromStdString(path.string()));
    std::printf("%s\n", path.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: vemlis-screenshots CATALOGUE_URL OUTPUT_FOLDER DATA_FOLDER\n");
        return 2;
    }
    // The settings shown are the pictures' own, never the user's.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QApplication app(argc, argv);
    // VEMLIS_SCREENSHOTS_DARK=1: the Fusion style with a dark palette, as qt6ct or KDE give it.
    if (const char* dark = std::getenv("VEMLIS_SCREENSHOTS_DARK"); dark && *dark == '1') {
        QApplication::setStyle("Fusion");
        QPalette palette;
        palette.setColor(QPalette::Window, QColor(53, 53, 53));
        palette.setColor(QPalette::Base, QColor(35, 35, 35));
        palette.setColor(QPalette::AlternateBase, QColor(53, 53, 53));
        palette.setColor(QPalette::Button, QColor(53, 53, 53));
        for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText, QPalette::BrightText})
            palette.setColor(role, QColor(230, 230, 230));
        palette.setColor(QPalette::Highlight, QColor(42, 130, 218));
        palette.setColor(QPalette::HighlightedText, Qt::black);
        palette.setColor(QPalette::Link, QColor(100, 170, 255));
        QApplication::setPalette(palette);
    }
    // VEMLIS_SCREENSHOTS_POINTS=11: the desktop's font size as KDE and qt6ct set it.
    if (const char* points = std::getenv("VEMLIS_SCREENSHOTS_POINTS"); points && std::atof(points) > 0) {
        QFont font = QApplication::font();
        font.setPointSizeF(std::atof(points));
        QApplication::setFont(font);
    }
    installTranslations();  // LANG=de_DE.UTF-8: the pictures in German
    vemlis::HttpLibrary httpLibrary;
    const std::filesystem::path out = argv[2];
    std::filesystem::create_directories(out);
    int status = 0;
    {
        Twindow window(argv[1], argv[3]);
        window.showMaximized();
        if (!waitFor([&] { return window.listPanel->isVisible(); }, 15000)) {
            std::fprintf(stderr, "the catalogue did not arrive\n");
            return 1;
        }
        window.fileNamer->setAskMode(false);
        // Some movies queued, some downloaded and broken, to show every status.
        MoviesSet* set = window.getMoviesSet();
        const auto& seasons = set->getSeasons();
        const Film* film = seasons[0]->getFilms()[0].get();
        film->getMovies()[0]->setLoaded();
        film->getMovies()[1]->setBroken();
        for (const auto& m : seasons[0]->getFilms()[1]->getMovies())
            window.fileNamer->setMovieFileName(m.get(), window.languages->getLanguage(), set->getLanguage("EN"), false);
        window.moviesList->getFilmsView()->setCurrentItem(window.moviesList->getFilmsView()->row(1));
        window.moviesList->updateStatuses();
        save(&window, out / "list-panel.png");
        saveScreen(out / "screen-list-panel.png");

        auto* reload = window.reloadDialog;
        reload->setQuestion(QString::fromStdString(reloadQuestion(Loaded)));
        reload->show();
        save(reload, out / "dialog-reload.png");
        reload->hide();
        window.cancelLoadDialog->show();
        save(window.cancelLoadDialog, out / "dialog-cancel-load.png");
        window.cancelLoadDialog->hide();
        window.cancelAllDownloadsDialog->show();
        save(window.cancelAllDownloadsDialog, out / "dialog-cancel-all.png");
        window.cancelAllDownloadsDialog->hide();
        auto* other = window.otherMoviesDialog;
        const Movie* clicked = seasons[0]->getFilms()[2]->getMovies()[0].get();
        other->showMovies(clicked, TotherMoviesDialog::checking, window.languages->getLanguage());
        other->fileNamer->copyDataFrom(window.fileNamer);
        other->show();
        save(other, out / "dialog-other-movies.png");
        other->hide();

        // Downloads only at night: the view waits for the hours to open.
        Settings night = window.getSettings();
        night.speedLimit = 2048;
        night.windowOn = true;
        const int now = QTime::currentTime().hour() * 60 + QTime::currentTime().minute();
        night.window = DownloadWindow{(now + 120) % 1440, (now + 420) % 1440};
        night.whenDone = Settings::WhenDone::suspend;
        window.setSettings(night);
        window.settingsButtonClick();
        save(window.settingsDialog, out / "dialog-settings.png");
        window.settingsDialog->reject();
        window.beginDownloadButton->click();
        waitFor([&] { return window.waitingReason->text().startsWith("Paused until"); }, 15000);
        save(&window, out / "download-view-paused.png");
        window.stopButton->click();
        waitFor([&] { return window.listPanel->isVisible(); }, 15000);
        night.windowOn = false;
        window.setSettings(night);

        window.beginDownloadButton->click();
        waitFor([&] { return window.queuePanel->isVisible() && window.speed->text() != "-"; }, 15000);
        waitFor([] { return false; }, 1200);
        save(&window, out / "download-view.png");
        saveScreen(out / "screen-download-view.png");

        // The network gone: a file that cannot be reached waits for it. The state before it is
        // put back afterwards, so that the demo's next run never sees that file.
        window.stopButton->click();
        waitFor([&] { return window.listPanel->isVisible(); }, 15000);
        window.getStateSaver()->saveAndWait();
        const std::filesystem::path state = window.getDataFileName(), kept = state.string() + ".screenshots";
        std::filesystem::copy_file(state, kept, std::filesystem::copy_options::overwrite_existing);
        for (const auto& season : seasons)
            for (const auto& f : season->getFilms())
                for (const auto& m : f->getMovies())
                    if (m->getLoadFlag() == Queue) m->setNoLoad();
        Film* far = set->addSeason("Elsewhere")->addFilm();
        far->addMovie(*set, "EN", "hi", "http://127.0.0.1:9/unreachable.avi", (std::filesystem::path(argv[3]) / "far.avi").string(),
                      Queue);
        window.getLoadThread()->setOffline(true);
        window.beginDownloadButton->click();
        waitFor([&] { return window.waitingReason->text().startsWith("Waiting for the network"); }, 15000);
        save(&window, out / "download-view-offline.png");
        window.stopButton->click();
        waitFor([&] { return window.listPanel->isVisible(); }, 15000);
        window.getLoadThread()->setOffline(false);
        window.close();
        if (!waitFor([&] { return window.isStateSaved(); }, 15000)) status = 1;
        std::filesystem::rename(kept, state);
    }
    return status;
}
