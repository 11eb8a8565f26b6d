#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "model/Forward.h"

namespace tavik::vemlis_loader {

// The file names that movies hold, so that no two movies are saved under one name. A snapshot
// of the set when made; note() adds what is named afterwards. Entries are checked against the
// movie's current name and flag, so a movie renamed or unqueued since no longer holds its old
// name.
class UsedNames final {
public:
    // Names held by queued and downloaded movies, or only by downloaded ones.
    explicit UsedNames(const MoviesSet& set, bool includeQueued = true);

    // A movie other than `except` that holds the name, or null. Empty names are never held.
    const Movie* holder(const std::string& name, const Movie* except) const;
    // The name when no other movie holds it and it is not among `alsoTaken`; else the first free
    // numberedName(name, n) for n = 2, 3, ...
    std::string freeName(const std::string& name, const Movie* except,
                         const std::vector<std::string>& alsoTaken = {}) const;
    // Notes the movie's current name.
    void note(const Movie* movie);

private:
    bool holds(const Movie* movie) const;

    bool includeQueued;
    std::unordered_map<std::string, std::vector<const Movie*>> byName;
};

// The name with " (n)" before its extension: "a/b.avi" gives "a/b (2).avi"; a name without an
// extension gets it at the end.
std::string numberedName(std::string_view name, int n);

}  // namespace tavik::vemlis_loader
