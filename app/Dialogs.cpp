#include "Dialogs.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>

#include "components/FileNamer.h"
#include "components/Prompter.h"
#include "components/QtText.h"
#include "components/UTF8ListView.h"
#include "model/UiTexts.h"

namespace vemlis {

using namespace tavik::vemlis_loader;

namespace {

QCheckBox* addNoMoreAsk(QWidget* parent, QVBoxLayout* content) {
    auto* box = new QCheckBox(qtText(rows::doNotAskAgain), parent);
    box->setObjectName("noMoreAsk");
    content->addWidget(box);
    return box;
}

}  // namespace

ConfirmationDialog::ConfirmationDialog(QWidget* parent, const char* name, int captionRow) : QDialog(parent) {
    setObjectName(name);
    setWindowTitle(qtText(captionRow));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setModal(true);
    auto* frame = new QFrame(this);
    frame->setFrameShape(QFrame::Box);
    content = new QVBoxLayout(frame);
    text = new QLabel(frame);
    text->setObjectName("text");
    text->setTextFormat(Qt::PlainText);
    text->setWordWrap(true);
    text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // About as wide as the dialogs have always been, at any font.
    text->setMinimumWidth(fontMetrics().averageCharWidth() * 48);
    content->addWidget(text);
    buttons = new QHBoxLayout;
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(frame, 1);
    layout->addLayout(buttons);
}

void ConfirmationDialog::setQuestion(const QString& question) {
    text->setText(question);
    setAccessibleDescription(question);
}

void ConfirmationDialog::addButtons(int defaultRow, int defaultResult, int cancelRow, int cancelResult) {
    defaultButton = addButton(uiText(defaultRow), defaultResult, "defaultButton");
    defaultButton->setDefault(true);
    cancelButton = addButton(uiText(cancelRow), cancelResult, "cancelButton");
}

int ConfirmationDialog::showModal() { return prompter().execDialog(this); }

QPushButton* ConfirmationDialog::addButton(const std::string& caption, int result, const char* name) {
    auto* button = new QPushButton(toQt(caption), this);
    button->setObjectName(name);
    // Enter presses the button that has the focus: "Do not cancel" must never wipe the queue.
    button->setAutoDefault(true);
    buttons->addWidget(button, 1);
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

void ConfirmationDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (defaultButton) defaultButton->setFocus();
}

TreloadDialog::TreloadDialog(QWidget* parent) : ConfirmationDialog(parent, "reloadDialog", rows::reloadCaption) {
    noMoreAsk = addNoMoreAsk(this, content);
    addButtons(rows::downloadAgain, mrOk, rows::doNotDownload, mrCancel);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

bool TreloadDialog::ask(const std::string& question) {
    if (noMoreAsk->isChecked()) return true;
    setQuestion(toQt(question));
    return showModal() == mrOk;
}

TcancelLoadDialog::TcancelLoadDialog(QWidget* parent)
    : ConfirmationDialog(parent, "cancelLoadDialog", rows::cancelLoadCaption) {
    setQuestion(qtText(rows::cancelLoadQuestion));
    noMoreAsk = addNoMoreAsk(this, content);
    addButtons(rows::cancelDownload, mrYes, rows::keepDownload, mrNo);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

bool TcancelLoadDialog::ask() {
    if (noMoreAsk->isChecked()) return true;
    return showModal() == mrYes;
}

TcancelAllDownloadsDialog::TcancelAllDownloadsDialog(QWidget* parent)
    : ConfirmationDialog(parent, "cancelAllDownloadsDialog", rows::cancelAllCaption) {
    setQuestion(qtText(rows::cancelAllQuestion));
    addButtons(rows::cancelAllButton, mrYes, rows::doNotCancel, mrNo);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

TotherMoviesDialog::TotherMoviesDialog(QWidget* parent, const std::string& folder)
    : ConfirmationDialog(parent, "otherMoviesDialog", rows::otherMoviesCaption) {
    movies = new UTF8ListView(this);
    movies->setObjectName("movies");
    movies->setAccessibleName(qtText(rows::otherMoviesCaption));
    movies->setCheckBoxes(true);
    movies->setSelectedItemColor(Qt::white);
    movies->addColumn(240, Qt::AlignLeft, uiText(rows::episodeColumn));
    movies->addColumn(150, Qt::AlignLeft, uiText(rows::seasonColumn));
    movies->addColumn(90, Qt::AlignLeft, uiText(rows::languageColumn));
    movies->addColumn(90, Qt::AlignLeft, uiText(rows::bitRateColumn));
    movies->addColumn(130, Qt::AlignLeft, uiText(rows::statusColumn));
    // Languages, bit rates and statuses show whole, whatever the catalogue or the language.
    for (int column = 2; column <= 4; ++column) movies->setColumnGrows(column);
    // About eight rows at any font.
    movies->setMinimumHeight(movies->header()->sizeHint().height() + 8 * (fontMetrics().height() + 4));
    content->addWidget(movies, 1);
    auto* checkAll = new QPushButton(qtText(rows::checkAll), this);
    checkAll->setObjectName("checkAll");
    connect(checkAll, &QPushButton::clicked, this, &TotherMoviesDialog::checkAllClick);
    auto* uncheckAll = new QPushButton(qtText(rows::uncheckAll), this);
    uncheckAll->setObjectName("uncheckAll");
    connect(uncheckAll, &QPushButton::clicked, this, &TotherMoviesDialog::uncheckAllClick);
    auto* ticks = new QHBoxLayout;
    ticks->addWidget(checkAll, 1);
    ticks->addWidget(uncheckAll, 1);
    content->addLayout(ticks);
    fileNamer = new FileNamer(this, folder);
    content->addWidget(fileNamer);
    addButtons(rows::downloadChecked, mrYesToAll, rows::cancel, mrNo);
    resize(sizeHint());
}

void TotherMoviesDialog::checkAllClick() {
    for (int i = 0; i < movies->rowCount(); ++i) movies->setRowChecked(movies->row(i), true);
}

void TotherMoviesDialog::uncheckAllClick() {
    for (int i = 0; i < movies->rowCount(); ++i) movies->setRowChecked(movies->row(i), false);
}

void TotherMoviesDialog::showMovies(const Movie* movie, Mode mode, const Language* titleLanguage) {
    setQuestion(qtText(mode == checking ? rows::otherMoviesChecked : rows::otherMoviesUnchecked));
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
    // Every column on screen without scrolling sideways, as far as the screen allows.
    int columns = 0;
    for (int i = 0; i < movies->header()->count(); ++i) columns += movies->header()->sectionSize(i);
    const int around = width() - movies->viewport()->width();
    const int wanted = columns + around + movies->verticalScrollBar()->sizeHint().width();
    const int room = screen() ? screen()->availableGeometry().width() * 9 / 10 : wanted;
    if (width() < wanted) resize(std::min(wanted, room), height());
}

void TotherMoviesDialog::chooseMovies(const Movie* movie, ListOfMovies& list, Mode mode, const Language* titleLanguage,
                                      FileNamer* mainNamer) {
    fileNamer->copyDataFrom(mainNamer);
    showMovies(movie, mode, titleLanguage);
    const int result = showModal();
    mainNamer->copyDataFrom(fileNamer);
    if (result == mrNo) return;
    for (int i = 0; i < movies->rowCount(); ++i)
        if (movies->isRowChecked(movies->row(i)) == (mode == checking))
            list.push_back(static_cast<const Movie*>(UTF8ListView::rowData(movies->row(i))));
}

}  // namespace vemlis
