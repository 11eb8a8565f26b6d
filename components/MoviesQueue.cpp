#include "MoviesQueue.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QMenu>

#include "components/MoviesList.h"
#include "model/UiTexts.h"

namespace vemlis {

using namespace tavik::vemlis_loader;

MoviesQueue::MoviesQueue(QWidget* parent) : UTF8ListView(parent) {
    setSelectedItemColor(Qt::white);
    addColumn(240, Qt::AlignLeft, uiText(rows::episodeColumn));
    addColumn(120, Qt::AlignLeft, uiText(rows::seasonColumn));
    addColumn(90, Qt::AlignLeft, uiText(rows::languageColumn));
    addColumn(90, Qt::AlignLeft, uiText(rows::bitRateColumn));
    addColumn(150, Qt::AlignLeft, uiText(rows::statusColumn));
    addColumn(500, Qt::AlignLeft, uiText(rows::fileNameColumn));
    setColumnGrows(2);
    setColumnGrows(3);
    setColumnGrows(4);  // statuses, longer in German
    // The file name takes what the window leaves: whole on a wide screen, cut (its tooltip
    // whole) on a narrow one, never beyond the edge.
    header()->setMinimumSectionSize(40);
    header()->resizeSection(5, 100);  // what it keeps at least: a stretched section never shrinks below its size
    header()->setStretchLastSection(true);
}

void MoviesQueue::clearList() { clearRows(); }

std::string MoviesQueue::downloadedFile(const QTreeWidgetItem* row) const {
    if (!row) return {};
    const auto* movie = static_cast<const Movie*>(rowData(row));
    return movie && movie->getLoadFlag() == Loaded ? movie->getFileName() : std::string();
}

void MoviesQueue::openFolder(const QTreeWidgetItem* row) {
    if (const std::string file = downloadedFile(row); OnOpenFolder && !file.empty()) OnOpenFolder(file);
}

void MoviesQueue::contextMenuEvent(QContextMenuEvent* event) {
    QTreeWidgetItem* row = event->reason() == QContextMenuEvent::Mouse ? itemAt(event->pos()) : currentItem();
    if (!OnOpenFolder || downloadedFile(row).empty()) return UTF8ListView::contextMenuEvent(event);
    QMenu menu(this);
    QAction* open = menu.addAction(tr("Open folder"));
    if (menu.exec(event->globalPos()) == open) openFolder(row);
}

void MoviesQueue::mouseDoubleClickEvent(QMouseEvent* event) {
    UTF8ListView::mouseDoubleClickEvent(event);
    openFolder(itemAt(event->position().toPoint()));
}

void MoviesQueue::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && OnOpenFolder && !downloadedFile(currentItem()).empty()) {
        openFolder(currentItem());
        return;
    }
    UTF8ListView::keyPressEvent(event);
}

void MoviesQueue::addMovie(const Movie* movie) {
    const Film* film = movie->getFilm();
    QTreeWidgetItem* row = addRow(film->getName(movie->getLanguage()), movie);
    setCellText(row, 1, film->getSeason()->getName());
    setCellText(row, 2, movie->getLanguage()->getCaption());
    setCellText(row, 3, movie->getBitRate()->getDescription());
    setCellText(row, 4, statusName(movie->getLoadFlag()));
    setCellText(row, 5, MoviesList::utf8(movie->getFileName()));
}

void MoviesQueue::removeMovie(const Movie* movie) {
    for (int i = 0; i < rowCount();)
        if (rowData(row(i)) == movie)
            removeRow(i);
        else
            ++i;
}

void MoviesQueue::addFile(const ServerFile* file, LoadFlag flag) {
    for (const Movie* movie : file->getMovies())
        if (movie->getLoadFlag() == flag) addMovie(movie);
}

void MoviesQueue::setFileStatus(const ServerFile* file, const std::string& text) {
    for (int i = 0; i < rowCount(); ++i) {
        const auto* movie = static_cast<const Movie*>(rowData(row(i)));
        if (movie->getServerFile() != file) continue;
        const std::string& now = text.empty() ? statusName(movie->getLoadFlag()) : text;
        // Set only when it changes: a repaint, and a screen reader told, five times a second is noise.
        if (cellText(row(i), 4) != now) setCellText(row(i), 4, now);
    }
}

void MoviesQueue::removeFile(const ServerFile* file) {
    for (int i = 0; i < rowCount();)
        if (static_cast<const Movie*>(rowData(row(i)))->getServerFile() == file)
            removeRow(i);
        else
            ++i;
}

}  // namespace vemlis
