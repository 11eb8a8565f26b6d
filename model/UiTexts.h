#pragma once

#include <functional>
#include <string>

#include "MoviesSet.h"

// Every caption, heading and message the program shows, by row. Filled during static
// initialisation, so it is usable before main() runs, in English; translateUiTexts() may put the
// user's language in its place before any window exists, and it is read-only afterwards.
namespace tavik::vemlis_loader {

inline constexpr int uiTextCount = 79;

// The text of a row. Rows 48 to 51 (the reload questions) give an empty text for NoLoad and Queue.
const std::string& uiText(int row);
// The text of a row as written, whatever language is shown.
const std::string& englishText(int row);

// The status word of a movie in English, indexed by its LoadFlag (rows 16 to 19).
extern const std::string statusNames[4];
// The question put before a movie is queued again, by LoadFlag (rows 48 to 51); null: no question.
extern const char* const reloadQuestions[4];

const std::string& statusName(LoadFlag flag);
// The question put before a movie is queued again, as shown; empty: no question.
const std::string& reloadQuestion(LoadFlag flag);

// Puts each text's translation in its place (English in, the user's language out); before any
// window is made, on the thread that reads the texts.
void translateUiTexts(const std::function<std::string(const std::string&)>& translate);

namespace rows {
// The table's rows by name; the numbers stand only here and in the table itself.
enum : int {
    languagesHeading = 0,
    seasonsCaption = 1,
    seasonColumn = 2,
    episodesInSeasonColumn = 3,
    episodesCaption = 4,
    episodeColumn = 5,
    variantsColumn = 6,
    variantsQueuedColumn = 7,
    variantsDownloadedColumn = 8,
    variantsBrokenColumn = 9,
    variantsCaption = 10,
    languageColumn = 11,
    bitRateColumn = 12,
    statusColumn = 13,
    fileNameColumn = 14,
    urlColumn = 15,
    notInQueue = 16,
    inQueue = 17,
    downloaded = 18,
    wrongLink = 19,
    namingCaption = 20,
    askForNames = 21,
    generateNamesByMask = 22,
    maskCaption = 23,
    syntax = 24,
    maskHelp = 25,
    saveFilter = 26,
    savingEpisode = 27,
    applicationTitle = 28,
    aboutLine = 29,
    updatingList = 30,
    startDownload = 31,
    cancelAllDownloads = 32,
    languageOfTitles = 33,
    currentDownload = 34,
    urlCaption = 35,
    sizeCaption = 36,
    recievedCaption = 37,
    speedCaption = 38,
    timeLeftCaption = 39,
    loadingNow = 40,
    abortDownload = 41,
    abortAfterCurrent = 42,
    queueCaption = 43,
    finishedCaption = 44,
    splitting = 45,
    noFilesSelected = 46,
    doNotAskAgain = 47,
    noLoadQuestion = 48,
    queueQuestion = 49,
    loadedQuestion = 50,
    brokenQuestion = 51,
    catalogueNotLoaded = 52,
    temporaryFileNotWritten = 53,
    fileNotSaved = 54,
    reloadCaption = 55,
    downloadAgain = 56,
    doNotDownload = 57,
    otherMoviesCaption = 58,
    otherMoviesChecked = 59,
    otherMoviesUnchecked = 60,
    checkAll = 61,
    uncheckAll = 62,
    downloadChecked = 63,
    cancel = 64,
    cancelLoadCaption = 65,
    cancelLoadQuestion = 66,
    cancelDownload = 67,
    keepDownload = 68,
    cancelAllCaption = 69,
    cancelAllQuestion = 70,
    cancelAllButton = 71,
    doNotCancel = 72,
    multipleAdderCaption = 73,
    add = 74,
    noSeasonChecked = 75,
    noLanguageChecked = 76,
    noBitRateChecked = 77,
    alreadyRunning = 78,
};
}  // namespace rows

}  // namespace tavik::vemlis_loader
