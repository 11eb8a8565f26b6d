// The main window's panels and captions.
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QStatusBar>
#include <QVBoxLayout>

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
    bar->setFixedHeight(height);
    bar->setAlignment(Qt::AlignCenter);
    bar->setFrameShape(QFrame::StyledPanel);
    return bar;
}

QPushButton* button(QWidget* parent, const char* name, int left) {
    auto* b = new QPushButton(parent);
    b->setObjectName(name);
    b->setAutoDefault(true);  // Enter presses the button that has the focus, as Space does
    b->setGeometry(left, 8, 201, 25);
    return b;
}

}  // namespace

void Twindow::buildLayout() {
    // The panels live in a scroll area: what they need beyond the screen (a small screen, a
    // large scale) scrolls, instead of growing the window past the screen's edge.
    auto* scroll = new QScrollArea(this);
    scroll->setObjectName("panels");
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
    topPanel->setFixedHeight(41);
    beginDownloadButton = button(topPanel, "beginDownloadButton", 8);
    cancelAllDownloadsButton = button(topPanel, "cancelAllDownloadsButton", 216);
    list->addWidget(topPanel);
    moviesList = new MoviesList(listPanel);
    moviesList->setObjectName("moviesList");
    list->addWidget(moviesList, 1);
    auto* bottomPanel = new QWidget(listPanel);
    bottomPanel->setFixedHeight(212);
    auto* bottom = new QHBoxLayout(bottomPanel);
    bottom->setContentsMargins(0, 0, 0, 0);
    bottom->setSpacing(0);
    auto* leftBottomPanel = new QWidget(bottomPanel);
    leftBottomPanel->setFixedWidth(105);
    auto* left = column(leftBottomPanel);
    auto* languageOfTitles = captionBar(leftBottomPanel, 16, "languageOfTitles");
    languageOfTitles->setText(qtText(rows::languageOfTitles));
    QFont small = languageOfTitles->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);  // the caption fits the panel's 105 pixels
    languageOfTitles->setFont(small);
    left->addWidget(languageOfTitles);
    languages = new LanguagesList(leftBottomPanel);
    languages->setObjectName("languages");
    languages->setFont(QFont("Arial", 8));
    languages->setSelectedItemColor(QColor(153, 180, 209));
    languages->setHideSelection(false);
    left->addWidget(languages, 1);
    bottom->addWidget(leftBottomPanel);
    auto* bottomRightPanel = new QWidget(bottomPanel);
    auto* right = column(bottomRightPanel);
    fileNamer = new FileNamer(bottomRightPanel, moviesFolder.string());
    fileNamer->setObjectName("fileNamer");
    fileNamer->setFixedHeight(80);
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
    auto* info = new QWidget(queuePanel);
    info->setFixedHeight(101);
    QLabel** values[] = {&url, &size, &recieved, &speed, &time};
    const char* names[] = {"url", "size", "recieved", "speed", "time"};
    const int captions[] = {rows::urlCaption, rows::sizeCaption, rows::recievedCaption, rows::speedCaption,
                            rows::timeLeftCaption};
    for (int i = 0; i < 5; ++i) {
        auto* caption = new QLabel(qtText(captions[i]), info);
        caption->setGeometry(8, i * 16, 130, 16);
        auto* value = new QLabel("-", info);
        value->setObjectName(names[i]);
        value->setGeometry(144, i * 16, 2000, 16);
        *values[i] = value;
    }
    progress = new QProgressBar(info);
    progress->setObjectName("progress");
    progress->setGeometry(8, 82, 400, 17);
    progress->setTextVisible(true);
    fileCount = new QLabel(info);
    fileCount->setObjectName("fileCount");
    fileCount->setGeometry(416, 82, 300, 17);
    view->addWidget(info);
    auto* currentCaption = captionBar(queuePanel, 25, "currentDownloadsCaption");
    currentCaption->setText(qtText(rows::loadingNow));
    view->addWidget(currentCaption);
    currentDownloads = new MoviesQueue(queuePanel);
    currentDownloads->setObjectName("currentDownloads");
    currentDownloads->setFixedHeight(119);
    view->addWidget(currentDownloads);
    auto* loadButtonsPanel = new QWidget(queuePanel);
    loadButtonsPanel->setFixedHeight(41);
    stopButton = button(loadButtonsPanel, "stopButton", 8);
    stopAfterCurrent = new QCheckBox(loadButtonsPanel);
    stopAfterCurrent->setObjectName("stopAfterCurrent");
    stopAfterCurrent->setGeometry(216, 12, 625, 20);
    view->addWidget(loadButtonsPanel);
    auto* queueCaption = captionBar(queuePanel, 25, "queueCaption");
    queueCaption->setText(qtText(rows::queueCaption));
    view->addWidget(queueCaption);
    queue = new MoviesQueue(queuePanel);
    queue->setObjectName("queue");
    view->addWidget(queue, 1);
    auto* finishedCaption = captionBar(queuePanel, 25, "finishedCaption");
    finishedCaption->setText(qtText(rows::finishedCaption));
    view->addWidget(finishedCaption);
    finished = new MoviesQueue(queuePanel);
    finished->setObjectName("finished");
    finished->setFixedHeight(156);
    view->addWidget(finished);
    queuePanel->hide();
    panels->addWidget(queuePanel);

    statusLabel = new QLabel(this);
    statusBar()->addWidget(statusLabel, 1);
    // What happens when the queue is done, while it counts down, and the way out of it.
    whenDoneStatus = new QLabel(this);
    whenDoneStatus->setObjectName("whenDoneStatus");
    whenDoneStatus->hide();
    statusBar()->addPermanentWidget(whenDoneStatus);
    cancelWhenDoneButton = new QPushButton("Cancel", this);
    cancelWhenDoneButton->setObjectName("cancelWhenDoneButton");
    cancelWhenDoneButton->hide();
    statusBar()->addPermanentWidget(cancelWhenDoneButton);
    // Reached from both panels: the limit is what people change while files download.
    settingsButton = new QPushButton("Se&ttings", this);
    settingsButton->setObjectName("settingsButton");
    settingsButton->setAutoDefault(true);
    settingsButton->setToolTip("Speed limit, download hours, and what happens when the queue is done (Ctrl+,)");
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
    beginDownloadButton->setText(qtText(rows::startDownload));
    cancelAllDownloadsButton->setText(qtText(rows::cancelAllDownloads));
    stopButton->setText(qtText(rows::abortDownload));
    stopAfterCurrent->setText(qtText(rows::abortAfterCurrent));
}

}  // namespace vemlis
