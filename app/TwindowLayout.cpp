// The main window's panels and captions.
#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QStatusBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "app/Twindow.h"
#include "components/FileNamer.h"
#include "components/LanguagesList.h"
#include "components/MoviesList.h"
#include "components/MoviesQueue.h"
#include "components/MultipleAdder.h"
#include "components/QtText.h"
#include "model/UiTexts.h"

namespace vemlis {

using namespace tavik::vemlis_loader;

namespace {

QVBoxLayout* column(QWidget* parent) {
    auto* layout = new QVBoxLayout(parent);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    return layout;
}

// A caption-only panel, as the window's headings are.
QLabel* captionBar(QWidget* parent, int height, const char* name) {
    auto* bar = new QLabel(parent);
    bar->setObjectName(name);
    // As high as its text needs at most: at a large scale a fixed height would waste rows.
    if (height > 0) bar->setFixedHeight(std::min(height, bar->fontMetrics().height() + 2));
    bar->setAlignment(Qt::AlignCenter);
    bar->setFrameShape(QFrame::StyledPanel);
    return bar;
}

QPushButton* button(QWidget* parent, const char* name) {
    auto* b = new QPushButton(parent);
    b->setObjectName(name);
    b->setAutoDefault(true);  // Enter presses the button that has the focus, as Space does
    b->setMinimumWidth(201);
    return b;
}

// A row of controls with the window's margins, left-aligned.
QHBoxLayout* buttonRow(QWidget* panel) {
    auto* row = new QHBoxLayout(panel);
    row->setContentsMargins(8, 3, 8, 3);
    row->setSpacing(8);
    return row;
}

// The text with an underlined letter for Alt: the first `letter` of it, when it has one.
QString withMnemonic(QString text, QChar letter) {
    // Either case: a translation keeps the key where it has the letter ("Download &starten").
    if (const auto at = text.indexOf(letter, 0, Qt::CaseInsensitive); at >= 0) text.insert(at, QLatin1Char('&'));
    return text;
}

// A list shows at least this many rows however small the window or large the scale; the
// download view's three lists share the height beyond four rows each.
void keepRows(QTreeWidget* list, int rows = 5) {
    const int row = list->fontMetrics().height() + 1;  // as the lists lay their rows out
    list->setMinimumHeight(list->header()->sizeHint().height() + rows * row + 2 * list->frameWidth() + 2);
}

}  // namespace

void Twindow::buildLayout() {
    // The panels live in a scroll area: what they need beyond the screen (a small screen, a
    // large scale) scrolls, instead of growing the window past the screen's edge.
    auto* scroll = new QScrollArea(this);
    scroll->setObjectName("panels");
    scroll->setFocusPolicy(Qt::NoFocus);  // a frame, no Tab stop of its own
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    auto* central = new QWidget(scroll);
    scroll->setWidget(central);
    setCentralWidget(scroll);
    auto* panels = column(central);

    auto* waiting = captionBar(central, 0, "initializingPanel");
    waiting->setMinimumHeight(0);
    waiting->setMaximumHeight(QWIDGETSIZE_MAX);
    waiting->setFrameShape(QFrame::NoFrame);
    initializingPanel = waiting;
    panels->addWidget(initializingPanel);

    // The list panel.
    listPanel = new QWidget(central);
    listPanel->setObjectName("listPanel");
    auto* list = column(listPanel);
    auto* topPanel = new QWidget(listPanel);
    auto* topRow = buttonRow(topPanel);
    beginDownloadButton = button(topPanel, "beginDownloadButton");
    cancelAllDownloadsButton = button(topPanel, "cancelAllDownloadsButton");
    topRow->addWidget(beginDownloadButton);
    topRow->addWidget(cancelAllDownloadsButton);
    topRow->addStretch(1);
    list->addWidget(topPanel);
    moviesList = new MoviesList(listPanel);
    moviesList->setObjectName("moviesList");
    list->addWidget(moviesList, 1);
    // As high as the namer and the group adder need at the font in use; the lists above take
    // the rest.
    auto* bottomPanel = new QWidget(listPanel);
    bottomPanel->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    auto* bottom = new QHBoxLayout(bottomPanel);
    bottom->setContentsMargins(0, 0, 0, 0);
    bottom->setSpacing(0);
    auto* leftBottomPanel = new QWidget(bottomPanel);
    auto* left = column(leftBottomPanel);
    auto* languageOfTitles = captionBar(leftBottomPanel, 16, "languageOfTitles");
    languageOfTitles->setText(qtText(rows::languageOfTitles));
    // As wide as its caption needs in the font and language in use.
    leftBottomPanel->setFixedWidth(std::max(105, languageOfTitles->fontMetrics().horizontalAdvance(languageOfTitles->text()) + 16));
    left->addWidget(languageOfTitles);
    languages = new LanguagesList(leftBottomPanel);
    languages->setObjectName("languages");
    languages->header()->setStretchLastSection(true);  // its heading whole at any font
    languages->setSelectedItemColor(QColor(153, 180, 209));
    languages->setHideSelection(false);
    left->addWidget(languages, 1);
    bottom->addWidget(leftBottomPanel);
    auto* bottomRightPanel = new QWidget(bottomPanel);
    auto* right = column(bottomRightPanel);
    fileNamer = new FileNamer(bottomRightPanel, moviesFolder.string());
    fileNamer->setObjectName("fileNamer");
    right->addWidget(fileNamer);
    multipleAdder = new MultipleAdder(bottomRightPanel);
    multipleAdder->setObjectName("multipleAdder");
    right->addWidget(multipleAdder, 1);
    bottom->addWidget(bottomRightPanel, 1);
    list->addWidget(bottomPanel);
    listPanel->hide();
    panels->addWidget(listPanel);

    // The download view.
    queuePanel = new QWidget(central);
    queuePanel->setObjectName("queuePanel");
    auto* view = column(queuePanel);
    auto* loadingCaption = captionBar(queuePanel, 25, "loadingCaption");
    loadingCaption->setText(qtText(rows::currentDownload));
    view->addWidget(loadingCaption);
    auto* split = captionBar(queuePanel, 23, "splitPanel");
    split->setText(qtText(rows::splitting));
    splitPanel = split;
    splitPanel->hide();
    view->addWidget(splitPanel);
    // The figures in two columns (URL across), the progress beside them: three lines of text
    // instead of six leave the rows to the lists.
    auto* info = new QWidget(queuePanel);
    auto* grid = new QGridLayout(info);
    grid->setContentsMargins(8, 1, 8, 1);
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(0);
    QLabel** values[] = {&url, &size, &recieved, &speed, &time};
    const char* names[] = {"url", "size", "recieved", "speed", "time"};
    const int captions[] = {rows::urlCaption, rows::sizeCaption, rows::recievedCaption, rows::speedCaption,
                            rows::timeLeftCaption};
    const QPoint places[] = {{0, 0}, {1, 0}, {2, 0}, {1, 2}, {2, 2}};  // row, column
    for (int i = 0; i < 5; ++i) {
        auto* caption = new QLabel(qtText(captions[i]), info);
        auto* value = new QLabel("-", info);
        value->setObjectName(names[i]);
        caption->setBuddy(value);
        grid->addWidget(caption, places[i].x(), places[i].y());
        if (i == 0) {
            // A long address is cut, never pushing the window wider than the screen.
            value->setMinimumWidth(1);
            value->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
            grid->addWidget(value, 0, 1, 1, 4);
        } else {
            grid->addWidget(value, places[i].x(), places[i].y() + 1);
        }
        *values[i] = value;
    }
    // Why nothing comes, in a place of its own rather than where the speed would be.
    auto* waitingCaption = new QLabel(tr("Waiting:"), info);
    waitingReason = new QLabel("-", info);
    waitingReason->setObjectName("waitingReason");
    waitingReason->setMinimumWidth(1);
    waitingReason->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    waitingCaption->setBuddy(waitingReason);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    grid->setColumnStretch(4, 3);
    progress = new QProgressBar(info);
    progress->setObjectName("progress");
    progress->setTextVisible(true);
    fileCount = new QLabel(info);
    fileCount->setObjectName("fileCount");
    // The progress beside the figures, the count and the waiting under it: three lines in all.
    grid->addWidget(progress, 1, 4);
    auto* countRow = new QHBoxLayout;
    countRow->setSpacing(6);
    countRow->addWidget(fileCount);
    countRow->addSpacing(12);
    countRow->addWidget(waitingCaption);
    countRow->addWidget(waitingReason, 1);
    grid->addLayout(countRow, 2, 4);
    view->addWidget(info);
    auto* currentCaption = captionBar(queuePanel, 25, "currentDownloadsCaption");
    currentCaption->setText(qtText(rows::loadingNow));
    view->addWidget(currentCaption);
    currentDownloads = new MoviesQueue(queuePanel);
    currentDownloads->setObjectName("currentDownloads");
    keepRows(currentDownloads, 4);
    view->addWidget(currentDownloads, 2);
    auto* loadButtonsPanel = new QWidget(queuePanel);
    auto* loadRow = buttonRow(loadButtonsPanel);
    stopButton = button(loadButtonsPanel, "stopButton");
    stopAfterCurrent = new QCheckBox(loadButtonsPanel);
    stopAfterCurrent->setObjectName("stopAfterCurrent");
    loadRow->addWidget(stopButton);
    loadRow->addWidget(stopAfterCurrent);
    loadRow->addStretch(1);
    view->addWidget(loadButtonsPanel);
    auto* queueCaption = captionBar(queuePanel, 25, "queueCaption");
    queueCaption->setText(qtText(rows::queueCaption));
    view->addWidget(queueCaption);
    queue = new MoviesQueue(queuePanel);
    queue->setObjectName("queue");
    keepRows(queue, 4);
    view->addWidget(queue, 3);
    auto* finishedCaption = captionBar(queuePanel, 25, "finishedCaption");
    finishedCaption->setText(qtText(rows::finishedCaption));
    view->addWidget(finishedCaption);
    finished = new MoviesQueue(queuePanel);
    finished->setObjectName("finished");
    keepRows(finished, 4);
    view->addWidget(finished, 2);
    queuePanel->hide();
    panels->addWidget(queuePanel);

    statusLabel = new QLabel(this);
    statusBar()->addWidget(statusLabel, 1);
    // What happens when the queue is done, while it counts down, and the way out of it.
    whenDoneStatus = new QLabel(this);
    whenDoneStatus->setObjectName("whenDoneStatus");
    whenDoneStatus->hide();
    statusBar()->addPermanentWidget(whenDoneStatus);
    cancelWhenDoneButton = new QPushButton(tr("Cancel"), this);
    cancelWhenDoneButton->setObjectName("cancelWhenDoneButton");
    cancelWhenDoneButton->hide();
    statusBar()->addPermanentWidget(cancelWhenDoneButton);
    // Reached from both panels: the limit is what people change while files download.
    settingsButton = new QPushButton(tr("Se&ttings"), this);
    settingsButton->setObjectName("settingsButton");
    settingsButton->setAutoDefault(true);
    settingsButton->setToolTip(tr("Speed limit, download hours, and what happens when the queue is done (Ctrl+,)"));
    statusBar()->addPermanentWidget(settingsButton);
}

void Twindow::setCaptions() {
    // What a screen reader calls the lists and the progress: the captions above them.
    languages->setAccessibleName(qtText(rows::languageOfTitles));
    currentDownloads->setAccessibleName(qtText(rows::loadingNow));
    queue->setAccessibleName(qtText(rows::queueCaption));
    finished->setAccessibleName(qtText(rows::finishedCaption));
    progress->setAccessibleName(qtText(rows::currentDownload));
    setWindowTitle(qtText(rows::applicationTitle));
    statusLabel->setText(qtText(rows::aboutLine));
    static_cast<QLabel*>(initializingPanel)->setText(qtText(rows::updatingList));
    // Alt+S, Alt+C on the list panel, Alt+A, Alt+U in the download view; Alt+T is the settings.
    beginDownloadButton->setText(withMnemonic(qtText(rows::startDownload), 'S'));
    cancelAllDownloadsButton->setText(withMnemonic(qtText(rows::cancelAllDownloads), 'C'));
    stopButton->setText(withMnemonic(qtText(rows::abortDownload), 'A'));
    stopAfterCurrent->setText(withMnemonic(qtText(rows::abortAfterCurrent), 'u'));
}

}  // namespace vemlis
