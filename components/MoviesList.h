#pragma once

#include <QIcon>
#include <QList>
#include <QWidget>

#include <functional>
#include <string>

#include "components/UTF8ListView.h"
#include "model/Forward.h"

namespace vemlis {

// The catalogue as three lists side by side: seasons, the episodes of the selected season
// with their statistics, and the variants of the selected episode with check boxes. A tick or
// untick raises OnCheck or OnUncheck and the lists then show the model again, whatever the
// handler did with the movie.
class MoviesList final : public QWidget {
    Q_OBJECT
public:
    explicit MoviesList(QWidget* parent = nullptr);

    void setMoviesSet(tavik::vemlis_loader::MoviesSet* set);
    // Lists what a new merge added; the season, episode and variant chosen stay chosen.
    void refresh();
    void setLanguage(const tavik::vemlis_loader::Language* chosen);
    const tavik::vemlis_loader::Language* getLanguage() const { return language; }
    void updateStatuses();
    void updateFilmsStatistics();
    void updateMoviesStatuses();
    // The heading images of the statistics columns (four icons).
    void setImageList(const QList<QIcon>& images);
    void disableEvents() { eventsDisabled = true; }
    void enableEvents() { eventsDisabled = false; }
    // File names are texts of the system's code page, which is UTF-8 here.
    static std::string utf8(const std::string& text);

    UTF8ListView* getSeasonsView() const { return seasonsView; }
    UTF8ListView* getFilmsView() const { return filmsView; }
    UTF8ListView* getMoviesView() const { return moviesView; }

    std::function<void(QObject* Sender, const tavik::vemlis_loader::Movie* MovieObject)> OnCheck;
    std::function<void(QObject* Sender, const tavik::vemlis_loader::Movie* MovieObject)> OnUncheck;

private:
    UTF8ListView* createList(int width, bool fill, const std::string& title);
    void addColumn(UTF8ListView* view, int width, Qt::Alignment alignment, const std::string& caption, int image);
    void setSubItem(UTF8ListView* view, int row, int subItem, const std::string& text);
    void selectSeason(QTreeWidgetItem* row, bool selected);
    void selectFilm(QTreeWidgetItem* row, bool selected);
    void checkingMovie(QTreeWidgetItem* row);
    void checkMovie(QTreeWidgetItem* row);

    UTF8ListView* seasonsView;
    UTF8ListView* filmsView;
    UTF8ListView* moviesView;
    tavik::vemlis_loader::MoviesSet* moviesSet = nullptr;
    const tavik::vemlis_loader::Language* language = nullptr;
    bool eventsDisabled = false;
    bool checkedBefore = false;
};

}  // namespace vemlis
