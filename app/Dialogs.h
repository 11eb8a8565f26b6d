#pragma once

#include <QDialog>

#include <string>

#include "model/MoviesSet.h"

class QCheckBox;
class QPlainTextEdit;
class QPushButton;

namespace vemlis {

class FileNamer;
class UTF8ListView;

// The results the dialogs close with.
enum ModalResult { mrNone = 0, mrOk = 1, mrCancel = 2, mrYes = 6, mrNo = 7, mrYesToAll = 10 };

// The frame, the text and two buttons that all four dialogs share. The title-bar close gives
// mrCancel; Esc presses the cancel button.
class ConfirmationDialog : public QDialog {
    Q_OBJECT
public:
    // The caption comes from the text table; the frame and the text box take their places.
    ConfirmationDialog(QWidget* parent, const char* name, int captionRow, QSize size, QRect bevel, QRect textArea);
    // Shows the dialog modally (through the prompter) and returns its result.
    int showModal();

protected:
    QPushButton* addButton(const std::string& caption, int result, const QRect& geometry);
    // The default (Enter) button and the one Esc presses.
    void addButtons(int defaultRow, int defaultResult, const QRect& defaultPlace, int cancelRow, int cancelResult,
                    const QRect& cancelPlace);
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

    QPlainTextEdit* text;

private:
    QPushButton* cancelButton = nullptr;
};

class TreloadDialog final : public ConfirmationDialog {
    Q_OBJECT
public:
    explicit TreloadDialog(QWidget* parent = nullptr);
    // True to queue the movie again; asks only until "Do not ask again" was ticked.
    bool ask(const std::string& question);
    QCheckBox* noMoreAsk;
};

class TcancelLoadDialog final : public ConfirmationDialog {
    Q_OBJECT
public:
    explicit TcancelLoadDialog(QWidget* parent = nullptr);
    // True to take the movie out of the queue.
    bool ask();
    QCheckBox* noMoreAsk;
};

class TcancelAllDownloadsDialog final : public ConfirmationDialog {
    Q_OBJECT
public:
    explicit TcancelAllDownloadsDialog(QWidget* parent = nullptr);
};

class TotherMoviesDialog final : public ConfirmationDialog {
    Q_OBJECT
public:
    enum Mode { checking, unchecking };
    explicit TotherMoviesDialog(QWidget* parent = nullptr, const std::string& folder = {});

    // Shows the movies of the clicked movie's server file; fills `list` with the rows whose
    // tick equals the mode (nothing when the user pressed Cancel). The naming settings go to
    // the dialog's namer before and back to `mainNamer` afterwards, whatever the result.
    void chooseMovies(const tavik::vemlis_loader::Movie* movie, tavik::vemlis_loader::ListOfMovies& list, Mode mode,
                      const tavik::vemlis_loader::Language* titleLanguage, FileNamer* mainNamer);
    void checkAllClick();
    void uncheckAllClick();

    UTF8ListView* movies;
    FileNamer* fileNamer;
};

}  // namespace vemlis
