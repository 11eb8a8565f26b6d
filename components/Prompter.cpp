#include "Prompter.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

#include "components/QtText.h"
#include "model/UiTexts.h"

namespace vemlis {

namespace {

// "Description|pattern|Description|pattern" as Qt wants it: the descriptions, which carry their
// patterns in brackets, separated by ";;".
QString qtFilter(const std::string& pairs) {
    const QStringList parts = toQt(pairs).split('|');
    QStringList filters;
    for (qsizetype i = 0; i < parts.size(); i += 2) filters << parts[i];
    return filters.join(";;");
}

// Set once the program is being ended; read on the GUI thread only.
bool refusing = false;

class RealPrompter final : public Prompter {
public:
    void showMessage(QWidget* parent, const std::string& text) override { show(QMessageBox::NoIcon, parent, text); }
    void showError(QWidget* parent, const std::string& text) override { show(QMessageBox::Critical, parent, text); }
    void show(QMessageBox::Icon icon, QWidget* parent, const std::string& text) {
        if (refusing) return;
        QMessageBox box(icon, qtText(tavik::vemlis_loader::rows::applicationTitle), toQt(text), QMessageBox::Ok, parent);
        box.exec();
    }

    std::optional<std::string> askSaveFileName(QWidget* parent, const std::string& title,
                                               const std::string& initialName) override {
        if (refusing) return std::nullopt;
        QFileDialog dialog(parent, toQt(title), QString::fromLocal8Bit(initialName.c_str()),
                           qtFilter(tavik::vemlis_loader::uiText(tavik::vemlis_loader::rows::saveFilter)));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix("avi");
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
        return dialog.selectedFiles().first().toLocal8Bit().toStdString();
    }

    int execDialog(QWidget* dialog) override {
        if (refusing) return QDialog::Rejected;
        return static_cast<QDialog*>(dialog)->exec();
    }
};

RealPrompter real;
Prompter* current = &real;

}  // namespace

Prompter& prompter() { return *current; }
void setPrompter(Prompter* replacement) { current = replacement ? replacement : &real; }

bool questionsClosed() { return refusing; }
void openQuestions() { refusing = false; }

void closeAllQuestions() {
    refusing = true;
    // Every modal loop open, innermost first; each returns once control is back in its loop.
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<QDialog*>(widget); dialog && dialog->isVisible() && dialog->isModal())
            dialog->reject();
}

}  // namespace vemlis
