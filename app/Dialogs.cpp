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

ConfirmationDialog::ConfirmationDialog(QWidget* parent, int width, int height) : QDialog(parent) {
    setFixedSize(width, height);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setModal(true);
    text = new QPlainTextEdit(this);
    text->setObjectName("text");
    text->setReadOnly(true);
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

TreloadDialog::TreloadDialog(QWidget* parent) : ConfirmationDialog(parent, 313, 214) {
    setObjectName("reloadDialog");
    setWindowTitle(qt(uiText(55)));
    auto* bevel = new QFrame(this);
    bevel->setFrameShape(QFrame::Box);
    bevel->setGeometry(8, 8, 297, 161);
    text->setGeometry(16, 16, 281, 121);
    noMoreAsk = addNoMoreAsk(this, 144);
    addButton(uiText(56), mrOk, QRect(8, 180, 146, 25))->setDefault(true);
    setCancelButton(addButton(uiText(57), mrCancel, QRect(159, 180, 146, 25)));
}

bool TreloadDialog::ask(const std::string& question) {
    if (noMoreAsk->isChecked()) return true;
    text->setPlainText(qt(question));
    return showModal() == mrOk;
}

TcancelLoadDialog::TcancelLoadDialog(QWidget* parent) : ConfirmationDialog(parent, 313, 139) {
    setObjectName("cancelLoadDialog");
    setWindowTitle(qt(uiText(65)));
    auto* bevel = new QFrame(this);
    bevel->setFrameShape(QFrame::Box);
    bevel->setGeometry(8, 8, 297, 97);
    text->setGeometry(16, 16, 281, 57);
    text->setPlainText(qt(uiText(66)));
    noMoreAsk = addNoMoreAsk(this, 80);
    addButton(uiText(67), mrYes, QRect(8, 108, 146, 25))->setDefault(true);
    setCancelButton(addButton(uiText(68), mrNo, QRect(159, 108, 146, 25)));
}

bool TcancelLoadDialog::ask() {
    if (noMoreAsk->isChecked()) return true;
    return showModal() == mrYes;
}

TcancelAllDownloadsDialog::TcancelAllDownloadsDialog(QWidget* parent) : ConfirmationDialog(parent, 313, 130) {
    setObjectName("cancelAllDownloadsDialog");
    setWindowTitle(qt(uiText(69)));
    auto* bevel = new QFrame(this);
    bevel->setFrameShape(QFrame::Box);
    bevel->setGeometry(8, 8, 297, 89);
    text->setGeometry(16, 16, 281, 73);
    text->setReadOnly(false);  // what is typed there has no effect
    text->setPlainText(qt(uiText(70)));
    addButton(uiText(71), mrYes, QRect(8, 100, 146, 25))->setDefault(true);
    setCancelButton(addButton(uiText(72), mrNo, QRect(159, 100, 146, 25)));
}

TotherMoviesDialog::TotherMoviesDialog(QWidget* parent, const std::string& folder)
    : ConfirmationDialog(parent, 769, 418) {
    setObjectName("otherMoviesDialog");
    setWindowTitle(qt(uiText(58)));
    auto* bevel = new QFrame(this);
    bevel->setFrameShape(QFrame::Box);
    bevel->setGeometry(8, 8, 753, 377);
    text->setGeometry(16, 16, 737, 89);
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
    addButton(uiText(63), mrYesToAll, QRect(7, 388, 306, 25))->setDefault(true);
    setCancelButton(addButton(uiText(64), mrNo, QRect(456, 388, 306, 25)));
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
