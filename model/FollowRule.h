#pragma once

#include <string>
#include <vector>

#include "model/MoviesSet.h"

namespace tavik::vemlis_loader {

// A group the user follows: movies that later catalogues add in these seasons, languages and
// bit rates are queued by themselves. Kept by names and ids, which outlive the objects.
struct FollowRule {
    std::vector<std::string> seasons;  // names; empty: every season, those that come later too
    std::vector<std::string> languages;  // ids
    std::vector<std::string> bitRates;   // ids

    bool matches(const Movie& movie) const;
    bool operator==(const FollowRule&) const = default;
};

// The movies a rule wants among those that a merge added, in their order: each is new to the
// set, so no movie the user unticked, downloaded or saw before is ever among them, and none
// comes twice.
ListOfMovies moviesToFollow(const std::vector<const Movie*>& added, const std::vector<FollowRule>& rules);

}  // namespace tavik::vemlis_loader
