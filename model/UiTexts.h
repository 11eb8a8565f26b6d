#pragma once

#include <string>

#include "MoviesSet.h"

// Every caption, heading and message the program shows, by row. Filled during static
// initialisation, so it is usable before main() runs; read-only afterwards.
namespace tavik::vemlis_loader {

inline constexpr int uiTextCount = 79;

// The text of a row. Rows 48 to 51 (the reload questions) give an empty text for NoLoad and Queue.
const std::string& uiText(int row);

// The status word of a movie, indexed by its LoadFlag (rows 16 to 19).
extern const std::string statusNames[4];
// The question put before a movie is queued again, by LoadFlag (rows 48 to 51); null: no question.
extern const char* const reloadQuestions[4];

const std::string& statusName(LoadFlag flag);

namespace rows {
inline constexpr int notInQueue = 16;
inline constexpr int applicationTitle = 28;
inline constexpr int aboutLine = 29;
inline constexpr int noFilesSelected = 46;
inline constexpr int catalogueNotLoaded = 52;
inline constexpr int temporaryFileNotWritten = 53;
inline constexpr int fileNotSaved = 54;
inline constexpr int alreadyRunning = 78;
}  // namespace rows

}  // namespace tavik::vemlis_loader
