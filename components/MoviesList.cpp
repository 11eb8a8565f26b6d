#include "MoviesList.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QScrollBar>
#include <QLabel>
#include <QVBoxLayout>

#include "model/MoviesSet.h"
#include "components/QtText.h"
#include "model/UiTexts.h"
#include "support/Fixer.h"

namespace vemlis {

using namespace tavik::vemlis_loader;

namespace {

// The selected-row colour of the browsing lists: the colour of an active title bar.
const QColor activeCaption(153, 180, 209);

}  // namespace

MoviesList::MoviesList(QWidget* parent) : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    seasonsView = createList(150, false, uiText(rows::seasonsCaption));
    seasonsView->setObjectName("seasonsView");
    addColumn(seasonsView, 90, Qt::AlignLeft, uiText(rows::seasonColumn), -1);
    addColumn(seasonsView, 30, Qt::AlignRight, uiText(rows::episodesInSeasonColumn), 0);
    filmsView = createList(390, false, uiText(rows::episodesCaption));
    filmsView->setObjectName("filmsView");
    addColumn(filmsView, 240, Qt::AlignLeft, uiText(rows::episodeColumn), -1);
    const int counts[] = {rows::variantsColumn, rows::variantsQueuedColumn, rows::variantsDownloadedColumn,
                          rows::variantsBrokenColumn};
    for (int i = 0; i < 4; ++i) addColumn(filmsView, 30, Qt::AlignRight, uiText(counts[i]), i);
    moviesView = createList(100, true, uiText(rows::variantsCaption));
    moviesView->setObjectName("moviesView");
    moviesView->setCheckBoxes(true);
    addColumn(moviesView, 90, Qt::AlignLeft, uiText(rows::languageColumn), -1);
    addColumn(moviesView, 90, Qt::AlignLeft, uiText(rows::bitRateColumn), -1);
    addColumn(moviesView, 150, Qt::AlignLeft, uiText(rows::statusColumn), -1);
    addColumn(moviesView, 240, Qt::AlignLeft, uiText(rows::fileNameColumn), -1);
    addColumn(moviesView, 500, Qt::AlignLeft, uiText(rows::urlColumn), -1);
    // Languages and bit rates show whole; the address starts on screen at 1280 pixels.
    moviesView->setColumnGrows(0);
    moviesView->setColumnGrows(1);
    moviesView->setColumnGrows(2);  // statuses, longer in German
    moviesView->header()->resizeSection(4, 100);  // a stretched section never shrinks below its size
    moviesView->header()->setStretchLastSection(true);

    connect(seasonsView, &UTF8ListView::rowSelected, this, &MoviesList::selectSeason);
    connect(filmsView, &UTF8ListView::rowSelected, this, &MoviesList::selectFilm);
    connect(moviesView, &UTF8ListView::rowChanging, this, &MoviesList::checkingMovie);
    connect(moviesView, &UTF8ListView::rowChanged, this, &MoviesList::checkMovie);
}

UTF8ListView* MoviesList::createList(int width, bool fill, const std::string& title) {
    auto* panel = new QWidget(this);
    auto* column = new QVBoxLayout(panel);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto* caption = new QLabel(toQt(title), panel);
    // A third larger than the desktop's font, the lists in it: readable at any size.
    QFont captionFont = caption->font();
    captionFont.setPointSizeF(captionFont.pointSizeF() * 4 / 3);
    caption->setFont(captionFont);
    caption->setFixedHeight(caption->fontMetrics().height() + 4);
    caption->setAlignment(Qt::AlignCenter);
    column->addWidget(caption);
    auto* view = new UTF8ListView(panel);
    view->setAccessibleName(toQt(title));
    view->setSelectedItemColor(activeCaption);
    view->setHideSelection(false);
    view->setFrameShape(QFrame::NoFrame);
    column->addWidget(view);
    if (fill) {
        panel->setMinimumWidth(width);
        static_cast<QHBoxLayout*>(layout())->addWidget(panel, 1);
    } else {
        panel->setFixedWidth(width);
        static_cast<QHBoxLayout*>(layout())->addWidget(panel, 0);
    }
    return view;
}

void MoviesList::addColumn(UTF8ListView* view, int width, Qt::Alignment alignment, const std::string& caption,
                           int image) {
    view->addColumn(width, alignment, caption);
    const int column = view->columnCount() - 1;
    // The narrow statistics columns say what they count by their heading image; the caption
    // stays as the tooltip.
    view->headerItem()->setToolTip(column, toQt(caption));
    if (image >= 0) {
        view->headerItem()->setText(column, QString());
        view->headerItem()->setData(column, Qt::UserRole + 10, image);
    }
}

void MoviesList::setImageList(const QList<QIcon>& images) {
    for (UTF8ListView* view : {seasonsView, filmsView, moviesView})
        for (int column = 0; column < view->columnCount(); ++column) {
            const QVariant image = view->headerItem()->data(column, Qt::UserRole + 10);
            if (image.isValid() && image.toInt() < images.size())
                view->headerItem()->setIcon(column, images[image.toInt()]);
        }
}

std::string MoviesList::utf8(const std::string& text) { return text; }

void MoviesList::setSubItem(UTF8ListView* view, int row, int subItem, const std::string& text) {
    view->setCellText(view->row(row), subItem + 1, text);
}

void MoviesList::setMoviesSet(MoviesSet* set) {
    moviesSet = set;
    language = set->matchLanguage(language);
    tavik::fixer<bool> quiet(eventsDisabled, true);
    seasonsView->clearRows();
    filmsView->clearRows();
    moviesView->clearRows();
    for (const auto& season : set->getSeasons()) {
        QTreeWidgetItem* row = seasonsView->addRow(season->getName(), season.get());
        seasonsView->setCellText(row, 1, std::to_string(season->getFilms().size()));
    }
    if (seasonsView->rowCount() > 0) {
        quiet.release();
        seasonsView->setCurrentItem(seasonsView->row(0));
    }
}

namespace {

// The row that shows `data`, made current; false when no row does.
bool selectRowOf(UTF8ListView* view, const void* data) {
    for (int i = 0; data && i < view->rowCount(); ++i)
        if (UTF8ListView::rowData(view->row(i)) == data) {
            view->setCurrentItem(view->row(i));
            return true;
        }
    return false;
}

const void* currentData(const UTF8ListView* view) {
    return view->currentItem() ? UTF8ListView::rowData(view->currentItem()) : nullptr;
}

}  // namespace

void MoviesList::refresh() {
    if (!moviesSet) return;
    const void* season = currentData(seasonsView);
    const void* film = currentData(filmsView);
    const void* movie = currentData(moviesView);
    const int seasonTop = seasonsView->verticalScrollBar()->value();
    const int filmTop = filmsView->verticalScrollBar()->value();
    setMoviesSet(moviesSet);
    // Each choice lists the next one's rows, as a click would.
    if (selectRowOf(seasonsView, season) && selectRowOf(filmsView, film)) selectRowOf(moviesView, movie);
    seasonsView->verticalScrollBar()->setValue(seasonTop);
    filmsView->verticalScrollBar()->setValue(filmTop);
}

void MoviesList::selectSeason(QTreeWidgetItem* item, bool selected) {
    if (eventsDisabled || !moviesSet) return;
    tavik::fixer<bool> quiet(eventsDisabled, true);
    filmsView->clearRows();
    moviesView->clearRows();
    if (!selected) return;
    const auto* season = static_cast<const Season*>(UTF8ListView::rowData(item));
    for (const auto& film : season->getFilms()) {
        QTreeWidgetItem* row = filmsView->addRow(film->getName(language), film.get());
        filmsView->setCellText(row, 1, std::to_string(film->getMovies().size()));
    }
    updateFilmsStatistics();
    if (filmsView->rowCount() > 0) {
        quiet.release();
        filmsView->setCurrentItem(filmsView->row(0));
    }
}

void MoviesList::selectFilm(QTreeWidgetItem* item, bool selected) {
    if (eventsDisabled || !moviesSet) return;
    tavik::fixer<bool> quiet(eventsDisabled, true);
    moviesView->clearRows();
    if (!selected) return;
    const auto* film = static_cast<const Film*>(UTF8ListView::rowData(item));
    for (const auto& movie : film->getMovies()) {
        QTreeWidgetItem* row = moviesView->addRow(movie->getLanguage()->getCaption(), movie.get());
        moviesView->setCellText(row, 1, movie->getBitRate()->getDescription());
        moviesView->setCellText(row, 4, movie->getServerFile()->getURL());
    }
    updateMoviesStatuses();
}

void MoviesList::updateStatuses() {
    updateFilmsStatistics();
    updateMoviesStatuses();
}

void MoviesList::updateFilmsStatistics() {
    for (int i = 0; i < filmsView->rowCount(); ++i) {
        const auto* film = static_cast<const Film*>(UTF8ListView::rowData(filmsView->row(i)));
        for (int k = 1; k <= 3; ++k)
            setSubItem(filmsView, i, k, std::to_string(film->countMovies(static_cast<LoadFlag>(k))));
    }
}

void MoviesList::updateMoviesStatuses() {
    tavik::fixer<bool> quiet(eventsDisabled, true);
    for (int i = 0; i < moviesView->rowCount(); ++i) {
        QTreeWidgetItem* row = moviesView->row(i);
        const auto* movie = static_cast<const Movie*>(UTF8ListView::rowData(row));
        setSubItem(moviesView, i, 1, statusName(movie->getLoadFlag()));
        setSubItem(moviesView, i, 2, utf8(movie->getFileName()));
        moviesView->setRowChecked(row, movie->getLoadFlag() == Queue);
    }
}

void MoviesList::setLanguage(const Language* chosen) {
    language = chosen;
    for (int i = 0; i < filmsView->rowCount(); ++i) {
        QTreeWidgetItem* row = filmsView->row(i);
        filmsView->setCellText(row, 0, static_cast<const Film*>(UTF8ListView::rowData(row))->getName(language));
    }
}

void MoviesList::checkingMovie(QTreeWidgetItem* item) {
    if (!eventsDisabled) checkedBefore = moviesView->isRowChecked(item);
}

void MoviesList::checkMovie(QTreeWidgetItem* item) {
    if (eventsDisabled || moviesView->isRowChecked(item) == checkedBefore) return;
    const auto* movie = static_cast<const Movie*>(UTF8ListView::rowData(item));
    if (movie->getLoadFlag() == Queue) {
        if (OnUncheck) OnUncheck(this, movie);
    } else if (OnCheck) {
        OnCheck(this, movie);
    }
    updateStatuses();
}

}  // namespace vemlis
