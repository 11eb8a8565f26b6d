#include "ScriptedPrompter.h"

#include <QDialog>

int ScriptedPrompter::execDialog(QWidget* dialog) {
    dialogsShown.push_back(dialog->objectName().toStdString());
    if (onDialog) return onDialog(dialog);
    if (dialogResults.empty()) return QDialog::Rejected;
    const int result = dialogResults.front();
    dialogResults.pop_front();
    return result;
}
