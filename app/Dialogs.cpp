#include "Dialogs.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>

#include "components/FileNamer.h"
#include "components/Prompter.h"
#include "components/UTF8ListView.h"
#include "model/UiTexts.h"

namespace vemlis {

using namespace tavik::vemlis_loader;

namespace {

QString qt(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

QCheckBox* addNoMoreAsk(QWidget* parent, int top) {
    auto* box = new QCheckBox(qt(uiText(47)), parent);
    box->setObjectName("noMoreAsk");
    box->setGeometry(16, top, 281, 17);
    return box;
}

}  // namespace

ConfirmationDialog::ConfirmationDialog(QWidget* parent, const char* name, int captionRow, QSize size, QRect bevel,
                                       QRect textArea)
    : QDialog(parent) {
    setObjectName(name);
    setWindowTitle(qt(uiText(captionRow)));
    setFixedSize(size);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setModal(true);
    auto* frame = new QFrame(this);
    frame->setFrameShape(QFrame::Box);
    frame->setGeometry(bevel);
    text = new QPlainTextEdit(this);
    text->setObjectName("text");
    text->setReadOnly(true);
    text->setGeometry(textArea);
}

void ConfirmationDialog::addButtons(int defaultRow, int defaultResult, const QRect& defaultPlace, int cancelRow,
                                    int cancelResult, const QRect& cancelPlace) {
    addButton(uiText(defaultRow), defaultResult, defaultPlace)->setDefault(true);
    cancelButton = addButton(uiText(cancelRow), cancelResult, cancelPlace);
}

int ConfirmationDialog::showModal() { return prompter().execDialog(this); }

QPushButton* ConfirmationDialog::addButton(const std::string& caption, int result, const QRect& geometry) {
    auto* button = new QPushButton(qt(caption), this);
    button->setGeometry(geometry);
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
    : ConfirmationDialog(parent, "reloadDialog", 55, {313, 214}, {8, 8, 297, 161}, {16, 16, 281, 121}) {
    noMoreAsk = addNoMoreAsk(this, 144);
    addButtons(56, mrOk, {8, 180, 146, 25}, 57, mrCancel, {159, 180, 146, 25});
}

bool TreloadDialog::ask(const std::string& question) {
    if (noMoreAsk->isChecked()) return true;
    text->setPlainText(qt(question));
    return showModal() == mrOk;
}

TcancelLoadDialog::TcancelLoadDialog(QWidget* parent)
    : ConfirmationDialog(parent, "cancelLoadDialog", 65, {313, 139}, {8, 8, 297, 97}, {16, 16, 281, 57}) {
    text->setPlainText(qt(uiText(66)));
    noMoreAsk = addNoMoreAsk(this, 80);
    addButtons(67, mrYes, {8, 108, 146, 25}, 68, mrNo, {159, 108, 146, 25});
}

bool TcancelLoadDialog::ask() {
    if (noMoreAsk->isChecked()) return true;
    return showModal() == mrYes;
}

TcancelAllDownloadsDialog::TcancelAllDownloadsDialog(QWidget* parent)
    : ConfirmationDialog(parent, "cancelAllDownloadsDialog", 69, {313, 130}, {8, 8, 297, 89}, {16, 16, 281, 73}) {
    text->setReadOnly(false);  // what is typed there has no effect
    text->setPlainText(qt(uiText(70)));
    addButtons(71, mrYes, {8, 100, 146, 25}, 72, mrNo, {159, 100, 146, 25});
}

TotherMoviesDialog::TotherMoviesDialog(QWidget* parent, const std::string& folder)
    : ConfirmationDialog(parent, "otherMoviesDialog", 58, {769, 418}, {8, 8, 753, 377}, {16, 16, 737, 89}) {
    movies = new UTF8ListView(this);
    movies->setObjectName("movies");
    movies->setGeometry(16, 112, 737, 145);
    movies->setCheckBoxes(true);
    movies->setSelectedItemColor(Qt::white);
    movies->addColumn(240, Qt::AlignLeft, uiText(5));
    movies->addColumn(150, Qt::AlignLeft, uiText(2));
    movies->addColumn(90, Qt::AlignLeft, uiText(11));
    movies->addColumn(90, Qt::AlignLeft, uiText(12));
    movies->addColumn(130, Qt::AlignLeft, uiText(13));
    auto* checkAll = new QPushButton(qt(uiText(61)), this);
    checkAll->setObjectName("checkAll");
    checkAll->setGeometry(16, 264, 345, 25);
    connect(checkAll, &QPushButton::clicked, this, &TotherMoviesDialog::checkAllClick);
    auto* uncheckAll = new QPushButton(qt(uiText(62)), this);
    uncheckAll->setObjectName("uncheckAll");
    uncheckAll->setGeometry(376, 264, 379, 25);
    connect(uncheckAll, &QPushButton::clicked, this, &TotherMoviesDialog::uncheckAllClick);
    fileNamer = new FileNamer(this, folder);
    fileNamer->setGeometry(16, 296, 737, 81);
    addButtons(63, mrYesToAll, {7, 388, 306, 25}, 64, mrNo, {456, 388, 306, 25});
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
    text->setPlainText(qt(uiText(mode == checking ? 59 : 60)));
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
