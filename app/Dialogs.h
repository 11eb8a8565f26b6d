#pragma once

#include <QDialog>

#include <string>

#include "model/MoviesSet.h"

class QCheckBox;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QVBoxLayout;

namespace vemlis {

class FileNamer;
class UTF8ListView;

// The results the dialogs close with.
enum ModalResult { mrNone = 0, mrOk = 1, mrCancel = 2, mrYes = 6, mrNo = 7, mrYesToAll = 10 };

// The frame, the question and two buttons that all four dialogs share, laid out by the font:
// a longer text or translation makes the dialog grow, never shrinks a caption. The question is
// a label the dialog is described by, for screen readers. Both buttons press on Enter when they
// have the focus; a dialog opens with the focus on its default button; Esc and the title-bar
// close give the cancel button's answer.
class ConfirmationDialog : public QDialog {
    Q_OBJECT
public:
    // The caption comes from the text table.
    ConfirmationDialog(QWidget* parent, const char* name, int captionRow);
    // Shows the dialog modally (through the prompter) and returns its result.
    int showModal();
    // Sets the question.
    void setQuestion(const QString& question);

    QLabel* text;  // the question
    QPushButton* defaultButton = nullptr;
    QPushButton* cancelButton = nullptr;

protected:
    // The default (Enter) button and the one Esc presses, in this order from the left.
    void addButtons(int defaultRow, int defaultResult, int cancelRow, int cancelResult);
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

    // Inside the frame, below the question: where each dialog puts what it shows.
    QVBoxLayout* content;

private:
    QPushButton* addButton(const std::string& caption, int result, const char* name);
    QHBoxLayout* buttons;
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
    // Lists the movies of the clicked movie's server file, ticked for the mode, and widens the
    // dialog so that every column shows.
    void showMovies(const tavik::vemlis_loader::Movie* movie, Mode mode, const tavik::vemlis_loader::Language* titleLanguage);
    void checkAllClick();
    void uncheckAllClick();

    UTF8ListView* movies;
    FileNamer* fileNamer;
};

}  // namespace vemlis
