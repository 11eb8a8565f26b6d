#pragma once

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "model/MoviesSet.h"
#include "model/StateFile.h"

// The set as text, with every film's titles sorted by language id: the order of titles in the
// state file follows object addresses, which differ from one set to another.
inline std::string canonical(const tavik::vemlis_loader::MoviesSet& set) {
    using namespace tavik::vemlis_loader;
    std::string out;
    for (const auto& [id, l] : set.getLanguages()) out += "L|" + id + "|" + l->getCaption() + "\n";
    for (const auto& [id, b] : set.getBitRates()) out += "B|" + id + "|" + b->getDescription() + "\n";
    for (const auto& s : set.getSeasons()) {
        out += "S|" + s->getName() + "\n";
        for (const auto& f : s->getFilms()) {
            std::vector<std::pair<std::string, std::string>> names;
            for (const auto& [l, t] : f->getNames()) names.emplace_back(l->getID(), t);
            std::sort(names.begin(), names.end());
            out += "F\n";
            for (const auto& [id, t] : names) out += "N|" + id + "|" + t + "\n";
            for (const auto& m : f->getMovies())
                out += "M|" + m->getLanguage()->getID() + "|" + m->getBitRate()->getID() + "|" +
                       m->getServerFile()->getURL() + "|" + m->getFileName() + "|" + loadFlagWord(m->getLoadFlag()) +
                       "\n";
        }
    }
    return out;
}
