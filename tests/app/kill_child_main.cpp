// The program as the kill test runs it: opens the window on a folder, queues every movie not
// yet downloaded under a mask, starts the download and closes when nothing is queued.
//   vemlis-kill-child CATALOGUE_URL FOLDER
#include <QApplication>
#include <QPushButton>
#include <QTimer>

#include <algorithm>

#include "app/Twindow.h"
#include "components/FileNamer.h"
#include "components/LanguagesList.h"
#include "engine/net/HttpClient.h"
#include "model/MoviesSet.h"

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    vemlis::HttpLibrary httpLibrary;
    using namespace tavik::vemlis_loader;
    vemlis::Twindow window(argv[1], argv[2]);
    window.show();
    bool started = false;
    QTimer tick;
    tick.setInterval(5);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        if (!window.listPanel->isVisible() && !started) return;
        MoviesSet& set = *window.getMoviesSet();
        if (!started) {
            if (set.getSeasons().empty()) return;
            started = true;
            std::string folder = argv[2];
            std::replace(folder.begin(), folder.end(), '/', '\\');
            window.fileNamer->setAskMode(false);
            window.fileNamer->setMask(folder + "\\/s-/n-/l-/B.avi");
            ListOfMovies movies;
            for (const auto& season : set.getSeasons())
                for (const auto& film : season->getFilms())
                    for (const auto& movie : film->getMovies())
                        if (movie->getLoadFlag() == NoLoad) movies.push_back(movie.get());
            window.multipleAdderRun(nullptr, movies);
            window.beginDownloadButton->click();
            return;
        }
        if (!set.getNextQueuedFile()) window.close();
    });
    tick.start();
    return app.exec();
}
