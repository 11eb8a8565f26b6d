#include "Dialogs.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>

#include "components/FileNamer.h"
#include "components/Prompter.h"
#include "components/QtText.h"
#include "components/UTF8ListView.h"
#include "model/UiTexts.h"

namespace vemlis {

using namespace tavik::vemlis_loader;

namespace {

QCheckBox* addNoMoreAsk(QWidget* parent, int top) {
    auto* box = new QCheckBox(qtText(rows::doNotAskAgain), parent);
    box->setObjectName("noMoreAsk");
    box->setGeometry(16, top, 281, 17);
    return box;
}

}  // namespace

ConfirmationDialog::ConfirmationDialog(QWidget* parent, const char* name, int captionRow, QSize size, QRect bevel,
                                       QRect textArea)
    : QDialog(parent) {
    setObjectName(name);
    setWindowTitle(qtText(captionRow));
    setFixedSize(size);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setModal(true);
    auto* frame = new QFrame(this);
    frame->setFrameShape(QFrame::Box);
    frame->setGeometry(bevel);
    text = new QPlainTextEdit(this);
    text->setObjectName("text");
    text->setReadOnly(true);
    // Only read: Enter goes to the default button, never into the text.
    text->setFocusPolicy(Qt::NoFocus);
    text->setGeometry(textArea);
}

void ConfirmationDialog::addButtons(int defaultRow, int defaultResult, const QRect& defaultPlace, int cancelRow,
                                    int cancelResult, const QRect& cancelPlace) {
    addButton(uiText(defaultRow), defaultResult, defaultPlace)->setDefault(true);
    cancelButton = addButton(uiText(cancelRow), cancelResult, cancelPlace);
}

int ConfirmationDialog::showModal() { return prompter().execDialog(this); }

QPushButton* ConfirmationDialog::addButton(const std::string& caption, int result, const QRect& geometry) {
    auto* button = new QPushButton(toQt(caption), this);
    button->setGeometry(geometry);
    // The buttons have their places; a longer caption (a translation) takes a smaller font
    // rather than lose its ends.
    QFont font = button->font();
    while (button->fontMetrics().horizontalAdvance(button->text()) + 12 > geometry.width() && font.pointSizeF() > 6.5) {
        font.setPointSizeF(font.pointSizeF() - 0.5);
        button->setFont(font);
    }
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, [this, result] { done(result); });
    return button;
}

void ConfirmationDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && cancelButton) {
        cancelButton->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

void ConfirmationDialog::closeEvent(QCloseEvent* event) {
    event->accept();
    done(mrCancel);
}

TreloadDialog::TreloadDialog(QWidget* parent)
    : ConfirmationDialog(parent, "reloadDialog", rows::reloadCaption, {313, 214}, {8, 8, 297, 161}, {16, 16, 281, 121}) {
    noMoreAsk = addNoMoreAsk(this, 144);
    addButtons(rows::downloadAgain, mrOk, {8, 180, 146, 25}, rows::doNotDownload, mrCancel, {159, 180, 146, 25});
}

bool TreloadDialog::ask(const std::string& question) {
    if (noMoreAsk->isChecked()) return true;
    text->setPlainText(toQt(question));
    return showModal() == mrOk;
}

TcancelLoadDialog::TcancelLoadDialog(QWidget* parent)
    : ConfirmationDialog(parent, "cancelLoadDialog", rows::cancelLoadCaption, {313, 139}, {8, 8, 297, 97}, {16, 16, 281, 57}) {
    text->setPlainText(qtText(rows::cancelLoadQuestion));
    noMoreAsk = addNoMoreAsk(this, 80);
    addButtons(rows::cancelDownload, mrYes, {8, 108, 146, 25}, rows::keepDownload, mrNo, {159, 108, 146, 25});
}

bool TcancelLoadDialog::ask() {
    if (noMoreAsk->isChecked()) return true;
    return showModal() == mrYes;
}

TcancelAllDownloadsDialog::TcancelAllDownloadsDialog(QWidget* parent)
    : ConfirmationDialog(parent, "cancelAllDownloadsDialog", rows::cancelAllCaption, {313, 130}, {8, 8, 297, 89}, {16, 16, 281, 73}) {
    text->setPlainText(qtText(rows::cancelAllQuestion));
    addButtons(rows::cancelAllButton, mrYes, {8, 100, 146, 25}, rows::doNotCancel, mrNo, {159, 100, 146, 25});
}

TotherMoviesDialog::TotherMoviesDialog(QWidget* parent, const std::string& folder)
    : ConfirmationDialog(parent, "otherMoviesDialog", rows::otherMoviesCaption, {769, 418}, {8, 8, 753, 377}, {16, 16, 737, 89}) {
    movies = new UTF8ListView(this);
    movies->setObjectName("movies");
    movies->setGeometry(16, 112, 737, 145);
    movies->setCheckBoxes(true);
    movies->setSelectedItemColor(Qt::white);
    movies->addColumn(240, Qt::AlignLeft, uiText(rows::episodeColumn));
    movies->addColumn(150, Qt::AlignLeft, uiText(rows::seasonColumn));
    movies->addColumn(90, Qt::AlignLeft, uiText(rows::languageColumn));
    movies->addColumn(90, Qt::AlignLeft, uiText(rows::bitRateColumn));
    movies->addColumn(130, Qt::AlignLeft, uiText(rows::statusColumn));
    auto* checkAll = new QPushButton(qtText(rows::checkAll), this);
    checkAll->setObjectName("checkAll");
    checkAll->setGeometry(16, 264, 345, 25);
    connect(checkAll, &QPushButton::clicked, this, &TotherMoviesDialog::checkAllClick);
    auto* uncheckAll = new QPushButton(qtText(rows::uncheckAll), this);
    uncheckAll->setObjectName("uncheckAll");
    uncheckAll->setGeometry(376, 264, 379, 25);
    connect(uncheckAll, &QPushButton::clicked, this, &TotherMoviesDialog::uncheckAllClick);
    fileNamer = new FileNamer(this, folder);
    fileNamer->setGeometry(16, 296, 737, 81);
    addButtons(rows::downloadChecked, mrYesToAll, {7, 388, 306, 25}, rows::cancel, mrNo, {456, 388, 306, 25});
}

void TotherMoviesDialog::checkAllClick() {
    for (int i = 0; i < movies->rowCount(); ++i) movies->setRowChecked(movies->row(i), true);
}

void TotherMoviesDialog::uncheckAllClick() {
    for (int i = 0; i < movies->rowCount(); ++i) movies->setRowChecked(movies->row(i), false);
}

void TotherMoviesDialog::chooseMovies(const Movie* movie, ListOfMovies& list, Mode mode, const Language* titleLanguage,
                                      FileNamer* mainNamer) {
    fileNamer->copyDataFrom(mainNamer);
    text->setPlainText(qtText(mode == checking ? rows::otherMoviesChecked : rows::otherMoviesUnchecked));
    movies->clearRows();
    for (const Movie* each : movie->getServerFile()->getMovies()) {
        const Film* film = each->getFilm();
        QTreeWidgetItem* row = movies->addRow(film->getName(titleLanguage), each);
        movies->setCellText(row, 1, film->getSeason()->getName());
        movies->setCellText(row, 2, each->getLanguage()->getCaption());
        movies->setCellText(row, 3, each->getBitRate()->getDescription());
        movies->setCellText(row, 4, statusName(each->getLoadFlag()));
        movies->setRowChecked(row, each == movie ? mode == checking : each->getLoadFlag() == Queue);
    }
    const int result = showModal();
    mainNamer->copyDataFrom(fileNamer);
    if (result == mrNo) return;
    for (int i = 0; i < movies->rowCount(); ++i)
        if (movies->isRowChecked(movies->row(i)) == (mode == checking))
            list.push_back(static_cast<const Movie*>(UTF8ListView::rowData(movies->row(i))));
}

}  // namespace vemlis
