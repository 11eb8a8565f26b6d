#include "model/UsedNames.h"

#include <algorithm>

#include "model/MoviesSet.h"

namespace tavik::vemlis_loader {

UsedNames::UsedNames(const MoviesSet& set, bool includeQueued) : includeQueued(includeQueued) {
    for (const auto& season : set.getSeasons())
        for (const auto& film : season->getFilms())
            for (const auto& movie : film->getMovies())
                if (holds(movie.get())) note(movie.get());
}

bool UsedNames::holds(const Movie* movie) const {
    const LoadFlag flag = movie->getLoadFlag();
    return flag == Loaded || (includeQueued && flag == Queue);
}

void UsedNames::note(const Movie* movie) {
    std::string name = movie->getFileName();
    if (name.empty()) return;
    auto& holders = byName[std::move(name)];
    if (std::find(holders.begin(), holders.end(), movie) == holders.end()) holders.push_back(movie);
}

const Movie* UsedNames::holder(const std::string& name, const Movie* except) const {
    if (name.empty()) return nullptr;
    const auto it = byName.find(name);
    if (it == byName.end()) return nullptr;
    for (const Movie* movie : it->second)
        if (movie != except && holds(movie) && movie->getFileName() == name) return movie;
    return nullptr;
}

std::string UsedNames::freeName(const std::string& name, const Movie* except,
                                const std::vector<std::string>& alsoTaken) const {
    const auto taken = [&](const std::string& candidate) {
        return holder(candidate, except) ||
               std::find(alsoTaken.begin(), alsoTaken.end(), candidate) != alsoTaken.end();
    };
    if (!taken(name)) return name;
    for (int n = 2;; ++n)
        if (std::string candidate = numberedName(name, n); !taken(candidate)) return candidate;
}

std::string numberedName(std::string_view name, int n) {
    const std::size_t slash = name.find_last_of('/');
    const std::size_t base = slash == std::string_view::npos ? 0 : slash + 1;
    std::size_t dot = name.find_last_of('.');
    // A leading dot names a hidden file, not an extension.
    if (dot == std::string_view::npos || dot <= base) dot = name.size();
    std::string result(name.substr(0, dot));
    result += " (" + std::to_string(n) + ")";
    result += name.substr(dot);
    return result;
}

}  // namespace tavik::vemlis_loader
