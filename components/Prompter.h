#pragma once

#include <functional>
#include <optional>
#include <string>

class QWidget;

namespace vemlis {

// Every modal question and message box of the program goes through the prompter, so that a
// test can answer them without a screen. The program uses the real dialogs.
class Prompter {
public:
    virtual ~Prompter() = default;
    // A plain message box with an OK button.
    virtual void showMessage(QWidget* parent, const std::string& text) = 0;
    // A message box that ends the run, with the error icon; a plain one unless a prompter
    // shows it otherwise.
    virtual void showError(QWidget* parent, const std::string& text) { showMessage(parent, text); }
    // A save-file dialog; the chosen path, or nothing when the user cancelled.
    virtual std::optional<std::string> askSaveFileName(QWidget* parent, const std::string& title,
                                                       const std::string& initialName) = 0;
    // Runs a modal dialog and returns its result (QDialog::exec); tests answer for it.
    virtual int execDialog(QWidget* dialog) = 0;
};

// The prompter in use; the real dialogs unless a test installed another.
Prompter& prompter();
// Installs a prompter (null: the real dialogs again). Not owned.
void setPrompter(Prompter* replacement);

// For a program that is being ended: closes every open dialog and message as its cancel button
// would, and has the real dialogs answer every later question at once the same way.
void closeAllQuestions();
// True once closeAllQuestions() was called: a question that returned "cancel" since was not
// answered by the user.
bool questionsClosed();
// The real dialogs ask again: for a window that begins a run of its own.
void openQuestions();

}  // namespace vemlis
