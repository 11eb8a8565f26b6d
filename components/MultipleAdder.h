#pragma once

#include <QWidget>

#include <functional>
#include <string>

#include "model/FollowRule.h"
#include "model/MoviesSet.h"

class QCheckBox;

namespace vemlis {

class UTF8ListView;

// Queues a group at once: every movie of the ticked seasons in a ticked language at a ticked
// bit rate that is not wanted yet is collected, in catalogue order, and handed to OnRun.
class MultipleAdder final : public QWidget {
    Q_OBJECT
public:
    explicit MultipleAdder(QWidget* parent = nullptr);

    void setMoviesSet(tavik::vemlis_loader::MoviesSet* set);
    // Lists what a new merge added; the ticks stay.
    void refresh();
    // The "Add" button's handler.
    void run();

    UTF8ListView* getSeasonsView() const { return seasonsView; }
    UTF8ListView* getLanguagesView() const { return languagesView; }
    UTF8ListView* getBitRatesView() const { return bitRatesView; }
    QCheckBox* getFollowBox() const { return followBox; }

    std::function<void(QObject* Sender, tavik::vemlis_loader::ListOfMovies& Movies)> OnRun;
    // With "Also queue new episodes of this group" ticked: the group as a rule, before OnRun.
    std::function<void(const tavik::vemlis_loader::FollowRule& rule)> OnFollow;

private:
    UTF8ListView* createList(QWidget* parent, int columnWidth, const std::string& caption);
    // As wide as its column, which grows to the widest row.
    static void fitWidth(UTF8ListView* view);

    UTF8ListView* seasonsView;
    UTF8ListView* languagesView;
    UTF8ListView* bitRatesView;
    QCheckBox* followBox;
    QWidget* body;  // the three lists and the button
    tavik::vemlis_loader::MoviesSet* moviesSet = nullptr;
};

}  // namespace vemlis
