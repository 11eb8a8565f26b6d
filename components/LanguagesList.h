#pragma once

#include <functional>
#include <iosfwd>
#include <string>

#include "components/UTF8ListView.h"
#include "model/Forward.h"

namespace vemlis {

// The choice of the language of titles: one row per language of the catalogue. An id given
// before the catalogue arrives waits and is applied then.
class LanguagesList final : public UTF8ListView {
    Q_OBJECT
public:
    explicit LanguagesList(QWidget* parent = nullptr);

    void setMoviesSet(const tavik::vemlis_loader::MoviesSet* set);
    const tavik::vemlis_loader::MoviesSet* getMoviesSet() const { return moviesSet; }
    void setLanguage(const tavik::vemlis_loader::Language* chosen);
    const tavik::vemlis_loader::Language* getLanguage() const { return language; }
    void setLanguageID(const std::string& id);
    std::string getLanguageID() const;
    const std::string& getPendingLanguageID() const { return pendingLanguageID; }

    void save(std::ostream& out) const;
    void load(std::istream& in);
    void disableEvents() { eventsDisabled = true; }
    void enableEvents() { eventsDisabled = false; }

    // Raised with the chosen language (possibly null).
    std::function<void(const tavik::vemlis_loader::Language* LanguageObject)> OnLanguageSelect;

private:
    void onSelectItem(QTreeWidgetItem* row, bool selected);
    void runOnLanguageSelect();
    void selectRowOf(const tavik::vemlis_loader::Language* chosen);

    const tavik::vemlis_loader::Language* language = nullptr;
    const tavik::vemlis_loader::MoviesSet* moviesSet = nullptr;
    std::string pendingLanguageID;
    bool eventsDisabled = false;
};

}  // namespace vemlis
