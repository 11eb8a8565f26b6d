// Refill of the episodes list for a season of 5,000 episodes with 10 variants each, and the
// painting speed of the list view. Prints "name: value" lines. Runs offscreen.
#include <QApplication>
#include <QHeaderView>
#include <QImage>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "CatalogueGenerator.h"
#include "components/MoviesList.h"
#include "components/UTF8ListView.h"
#include "model/MoviesSet.h"

using Clock = std::chrono::steady_clock;

namespace {

double milliseconds(Clock::time_point since) {
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    vemlis::testing::CatalogueShape shape;
    shape.seasons = 2;
    shape.episodes = 5000;
    shape.variants = 10;
    shape.minMoviesPerFile = 2;
    shape.maxMoviesPerFile = 6;
    tavik::vemlis_loader::MoviesSet set;
    set.readCatalogue(vemlis::testing::generateCatalogue(shape).document);

    vemlis::MoviesList list;
    list.resize(1200, 700);
    list.show();
    list.setMoviesSet(&set);
    std::vector<double> refills;
    for (int i = 0; i < 7; ++i) {
        // Alternate between the two seasons: each selection refills the episodes list.
        auto t = Clock::now();
        list.getSeasonsView()->setCurrentItem(list.getSeasonsView()->row((i + 1) % 2));
        refills.push_back(milliseconds(t));
    }

    vemlis::UTF8ListView view;
    view.setCheckBoxes(true);
    view.addColumn(240, Qt::AlignLeft, "Episode");
    view.addColumn(30, Qt::AlignRight, "n");
    view.addColumn(200, Qt::AlignLeft, "File name");
    for (int i = 0; i < 1000; ++i) {
        QTreeWidgetItem* row = view.addRow("Episode " + std::to_string(i) + ". Серия про что-то длинное", nullptr);
        view.setCellText(row, 1, std::to_string(i));
        view.setCellText(row, 2, "/home/user/Videos/Season 1/" + std::to_string(i) + ". A title long enough to be cut.avi");
        view.setRowChecked(row, i % 2);
    }
    const int rowHeight = view.sizeHintForRow(0) > 0 ? view.sizeHintForRow(0) : 18;
    view.resize(700, rowHeight * 1000 + view.header()->height() + 10);
    view.show();
    QImage image(view.viewport()->size(), QImage::Format_RGB32);
    std::vector<double> paints;
    for (int i = 0; i < 7; ++i) {
        auto t = Clock::now();
        view.viewport()->render(&image);
        paints.push_back(milliseconds(t));
    }
    std::printf("select_season_ms: %.1f\n", median(refills));
    std::printf("paint_rows_per_s: %.0f\n", 1000.0 / (median(paints) / 1000.0));
    return 0;
}
