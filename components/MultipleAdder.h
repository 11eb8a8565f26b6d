#pragma once

#include <QWidget>

#include <functional>
#include <string>

#include "model/MoviesSet.h"

namespace vemlis {

class UTF8ListView;

// Queues a group at once: every movie of the ticked seasons in a ticked language at a ticked
// bit rate that is not wanted yet is collected, in catalogue order, and handed to OnRun.
class MultipleAdder final : public QWidget {
    Q_OBJECT
public:
    explicit MultipleAdder(QWidget* parent = nullptr);

    void setMoviesSet(tavik::vemlis_loader::MoviesSet* set);
    // The "Add" button's handler.
    void run();

    UTF8ListView* getSeasonsView() const { return seasonsView; }
    UTF8ListView* getLanguagesView() const { return languagesView; }
    UTF8ListView* getBitRatesView() const { return bitRatesView; }

    std::function<void(QObject* Sender, tavik::vemlis_loader::ListOfMovies& Movies)> OnRun;

private:
    UTF8ListView* createList(QWidget* parent, int columnWidth, const std::string& caption);
    // As wide as its column, which grows to the widest row.
    static void fitWidth(UTF8ListView* view);

    UTF8ListView* seasonsView;
    UTF8ListView* languagesView;
    UTF8ListView* bitRatesView;
    QWidget* body;  // the three lists and the button
    tavik::vemlis_loader::MoviesSet* moviesSet = nullptr;
};

}  // namespace vemlis
