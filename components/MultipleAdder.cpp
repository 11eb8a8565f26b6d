#include "MultipleAdder.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>
#include <vector>

#include "components/Prompter.h"
#include "components/UTF8ListView.h"
#include "components/QtText.h"
#include "model/UiTexts.h"

namespace vemlis {

using namespace tavik::vemlis_loader;

namespace {

template <typename T>
std::vector<const T*> ticked(const UTF8ListView* view) {
    std::vector<const T*> result;
    for (int i = 0; i < view->rowCount(); ++i)
        if (view->isRowChecked(view->row(i))) result.push_back(static_cast<const T*>(UTF8ListView::rowData(view->row(i))));
    return result;
}

template <typename T>
bool holds(const std::vector<const T*>& list, const T* item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

}  // namespace

MultipleAdder::MultipleAdder(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* title = new QLabel(qtText(rows::multipleAdderCaption), this);
    title->setFixedHeight(25);
    title->setAlignment(Qt::AlignCenter);
    title->setFrameShape(QFrame::StyledPanel);
    layout->addWidget(title);
    body = new QWidget(this);
    layout->addWidget(body, 1);
    auto* row = new QHBoxLayout(body);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    seasonsView = createList(body, 120, uiText(rows::seasonColumn));
    seasonsView->setObjectName("adderSeasons");
    languagesView = createList(body, 90, uiText(rows::languageColumn));
    languagesView->setObjectName("adderLanguages");
    bitRatesView = createList(body, 90, uiText(rows::bitRateColumn));
    bitRatesView->setObjectName("adderBitRates");
    for (UTF8ListView* view : {seasonsView, languagesView, bitRatesView}) row->addWidget(view);
    auto* buttonColumn = new QVBoxLayout;
    buttonColumn->setContentsMargins(10, 10, 10, 10);
    auto* add = new QPushButton(qtText(rows::add), body);
    add->setObjectName("addButton");
    add->setMinimumWidth(200);
    add->setAutoDefault(true);  // Enter presses it when it has the focus
    buttonColumn->addWidget(add);
    // On two lines, no wider than the button: the panel must fit a small screen at a large font.
    const QString follow = tr("Also queue new episodes of this group");
    QString lines = follow;
    if (const int middle = static_cast<int>(lines.size()) / 2, before = static_cast<int>(lines.lastIndexOf(' ', middle)),
        after = static_cast<int>(lines.indexOf(' ', middle));
        before >= 0 || after >= 0)
        lines[after < 0 || (before >= 0 && middle - before <= after - middle) ? before : after] = '\n';
    followBox = new QCheckBox(lines, body);
    followBox->setAccessibleName(follow);  // read as one sentence
    followBox->setObjectName("followBox");
    buttonColumn->addWidget(followBox);
    buttonColumn->addStretch(1);
    row->addLayout(buttonColumn);
    row->addStretch(1);
    connect(add, &QPushButton::clicked, this, &MultipleAdder::run);
}

UTF8ListView* MultipleAdder::createList(QWidget* parent, int columnWidth, const std::string& caption) {
    auto* view = new UTF8ListView(parent);
    view->setAccessibleName(toQt(caption));
    view->setCheckBoxes(true);
    view->addColumn(columnWidth, Qt::AlignLeft, caption);
    view->setColumnGrows(0);  // bit rates and languages show whole
    view->setSelectedItemColor(Qt::white);
    fitWidth(view);
    // Five rows at any font: the lists of the episodes above take the rest.
    view->setFixedHeight(view->header()->sizeHint().height() + 5 * (view->fontMetrics().height() + 1) + 2 * view->frameWidth());
    return view;
}

void MultipleAdder::fitWidth(UTF8ListView* view) {
    view->setFixedWidth(view->header()->sectionSize(0) + 2 * view->frameWidth() + view->verticalScrollBar()->sizeHint().width());
}

void MultipleAdder::setMoviesSet(MoviesSet* set) {
    moviesSet = set;
    seasonsView->clearRows();
    languagesView->clearRows();
    bitRatesView->clearRows();
    if (!set) return;
    for (const auto& season : set->getSeasons()) seasonsView->addRow(season->getName(), season.get());
    for (const auto& [id, language] : set->getLanguages()) languagesView->addRow(language->getCaption(), language.get());
    for (const auto& [id, bitRate] : set->getBitRates()) bitRatesView->addRow(bitRate->getDescription(), bitRate.get());
    for (UTF8ListView* view : {seasonsView, languagesView, bitRatesView}) fitWidth(view);
}

void MultipleAdder::refresh() {
    std::vector<const void*> checked;
    for (UTF8ListView* view : {seasonsView, languagesView, bitRatesView})
        for (int i = 0; i < view->rowCount(); ++i)
            if (view->isRowChecked(view->row(i))) checked.push_back(UTF8ListView::rowData(view->row(i)));
    setMoviesSet(moviesSet);
    for (UTF8ListView* view : {seasonsView, languagesView, bitRatesView})
        for (int i = 0; i < view->rowCount(); ++i)
            if (std::find(checked.begin(), checked.end(), UTF8ListView::rowData(view->row(i))) != checked.end())
                view->setRowChecked(view->row(i), true);
}

void MultipleAdder::run() {
    if (!moviesSet || !OnRun) return;
    const auto seasons = ticked<Season>(seasonsView);
    if (seasons.empty()) return prompter().showMessage(window(), uiText(rows::noSeasonChecked));
    const auto languages = ticked<Language>(languagesView);
    if (languages.empty()) return prompter().showMessage(window(), uiText(rows::noLanguageChecked));
    const auto bitRates = ticked<BitRate>(bitRatesView);
    if (bitRates.empty()) return prompter().showMessage(window(), uiText(rows::noBitRateChecked));

    if (followBox->isChecked() && OnFollow) {
        FollowRule rule;
        // Every season ticked: seasons that come later are followed too.
        if (static_cast<int>(seasons.size()) < seasonsView->rowCount())
            for (const Season* season : seasons) rule.seasons.push_back(season->getName());
        for (const Language* language : languages) rule.languages.push_back(language->getID());
        for (const BitRate* bitRate : bitRates) rule.bitRates.push_back(bitRate->getID());
        OnFollow(rule);
    }
    ListOfMovies movies;
    for (const auto& season : moviesSet->getSeasons()) {
        if (!holds(seasons, static_cast<const Season*>(season.get()))) continue;
        for (const auto& film : season->getFilms())
            for (const auto& movie : film->getMovies())
                if (movie->getLoadFlag() == NoLoad && holds(languages, movie->getLanguage()) &&
                    holds(bitRates, movie->getBitRate()))
                    movies.push_back(movie.get());
    }
    OnRun(this, movies);
}

}  // namespace vemlis
