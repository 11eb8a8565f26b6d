#pragma once

#include <functional>
#include <string>

#include "components/UTF8ListView.h"
#include "model/MoviesSet.h"

namespace vemlis {

// A read-only list of movies: episode, season, language, bit rate, status and file name as
// they were when the row was added.
class MoviesQueue final : public UTF8ListView {
    Q_OBJECT
public:
    explicit MoviesQueue(QWidget* parent = nullptr);

    void clearList();
    void addMovie(const tavik::vemlis_loader::Movie* movie);
    void removeMovie(const tavik::vemlis_loader::Movie* movie);
    // Appends a row for each movie of the file that has the flag.
    void addFile(const tavik::vemlis_loader::ServerFile* file, tavik::vemlis_loader::LoadFlag flag);
    void removeFile(const tavik::vemlis_loader::ServerFile* file);
    // The status cell of the file's rows; empty: the movie's own status again.
    void setFileStatus(const tavik::vemlis_loader::ServerFile* file, const std::string& text);

    // Set: a downloaded movie's row offers "Open folder" (context menu, double-click, Enter),
    // which calls this with the movie's file name.
    std::function<void(const std::string&)> OnOpenFolder;

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // The file of the row's movie when it was downloaded; empty otherwise.
    std::string downloadedFile(const QTreeWidgetItem* row) const;
    void openFolder(const QTreeWidgetItem* row);
};

}  // namespace vemlis
