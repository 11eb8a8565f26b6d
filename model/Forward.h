#pragma once

// The catalogue's classes by name, for headers that only pass pointers to them around.
namespace tavik::vemlis_loader {
class Language;
class BitRate;
class Season;
class Film;
class Movie;
class MoviesSet;
class ServerFile;
class UsedNames;
}  // namespace tavik::vemlis_loader
