#include "LanguagesList.h"

#include <istream>
#include <ostream>

#include "model/MoviesSet.h"
#include "model/StateFile.h"
#include "model/UiTexts.h"
#include "support/Fixer.h"

namespace vemlis {

using namespace tavik::vemlis_loader;

LanguagesList::LanguagesList(QWidget* parent) : UTF8ListView(parent) {
    addColumn(70, Qt::AlignLeft, uiText(rows::languagesHeading));
    connect(this, &UTF8ListView::rowSelected, this, &LanguagesList::onSelectItem);
}

void LanguagesList::setMoviesSet(const MoviesSet* set) {
    tavik::fixer<bool> quiet(eventsDisabled, true);
    moviesSet = set;
    clearRows();
    if (!set) {
        language = nullptr;
    } else {
        if (!pendingLanguageID.empty()) {
            language = set->getLanguage(pendingLanguageID);
            pendingLanguageID.clear();
            if (!language) language = set->matchLanguage(nullptr);
        } else {
            language = set->matchLanguage(language);
        }
        for (const auto& [id, each] : set->getLanguages()) addRow(each->getCaption(), each.get());
        selectRowOf(language);
    }
    quiet.release();
    runOnLanguageSelect();
}

void LanguagesList::selectRowOf(const Language* chosen) {
    clearSelection();
    for (int i = 0; i < rowCount(); ++i)
        if (rowData(row(i)) == chosen) {
            setCurrentItem(row(i));
            row(i)->setSelected(true);
        }
}

void LanguagesList::setLanguage(const Language* chosen) {
    language = chosen;
    {
        tavik::fixer<bool> quiet(eventsDisabled, true);
        selectRowOf(chosen);
    }
    runOnLanguageSelect();
}

void LanguagesList::setLanguageID(const std::string& id) {
    if (moviesSet)
        setLanguage(moviesSet->getLanguage(id));
    else
        pendingLanguageID = id;
}

std::string LanguagesList::getLanguageID() const { return language ? language->getID() : std::string(); }

void LanguagesList::save(std::ostream& out) const {
    writeLine(out, "LanguagesList");
    // Before a catalogue arrived (it may never), the choice read from the state file still holds.
    writeLine(out, !moviesSet && !language ? pendingLanguageID : getLanguageID());
}

void LanguagesList::load(std::istream& in) {
    std::string line;
    if (!readLine(in, line) || line != "LanguagesList") return;
    if (!readLine(in, line)) line.clear();
    pendingLanguageID = line;
    if (moviesSet) {
        language = moviesSet->getLanguage(pendingLanguageID);
        pendingLanguageID.clear();
    }
}

void LanguagesList::onSelectItem(QTreeWidgetItem* item, bool selected) {
    if (!selected || eventsDisabled) return;
    const auto* chosen = static_cast<const Language*>(rowData(item));
    if (chosen == language) return;
    language = chosen;
    runOnLanguageSelect();
}

void LanguagesList::runOnLanguageSelect() {
    if (OnLanguageSelect) OnLanguageSelect(language);
}

}  // namespace vemlis
