#include "model/FollowRule.h"

#include <algorithm>

namespace tavik::vemlis_loader {

namespace {

bool among(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

}  // namespace

bool FollowRule::matches(const Movie& movie) const {
    if (!movie.getLanguage() || !movie.getBitRate() || !movie.getFilm()) return false;
    return (seasons.empty() || among(seasons, movie.getFilm()->getSeason()->getName())) &&
           among(languages, movie.getLanguage()->getID()) && among(bitRates, movie.getBitRate()->getID());
}

ListOfMovies moviesToFollow(const std::vector<const Movie*>& added, const std::vector<FollowRule>& rules) {
    ListOfMovies wanted;
    for (const Movie* movie : added)
        if (movie->getLoadFlag() == NoLoad &&
            std::any_of(rules.begin(), rules.end(), [&](const FollowRule& rule) { return rule.matches(*movie); }))
            wanted.push_back(movie);
    return wanted;
}

}  // namespace tavik::vemlis_loader
