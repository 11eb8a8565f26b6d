#pragma once

// Small parsers for the headers a download depends on, and the checks of an answer against the
// request it answers. Pure functions of text: no libcurl, no files; each is fuzzed.

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace vemlis {

// "Content-Range: bytes first-last/total" ("*" for an unknown total: total -1).
struct ContentRange {
    std::int64_t first = 0;
    std::int64_t last = 0;
    std::int64_t total = -1;
};
// Nothing for anything but one well-formed satisfied range with first <= last < total.
std::optional<ContentRange> parseContentRange(std::string_view value);

// Seconds to wait from a Retry-After value (delay-seconds or an HTTP date, compared with
// `now`), clamped to [0, 86400]; -1 when the value is neither.
int parseRetryAfter(std::string_view value, std::time_t now);

// A validator (ETag or Last-Modified) as it may be stored and sent back in If-Range: printable
// ASCII and spaces only, at most 1 KiB. Anything else is no validator (empty).
std::string cleanValidator(std::string_view value);

// The validator that may be sent back in If-Range: a strong ETag; without any ETag, a
// Last-Modified date that is at least a second before the answer's Date (a file changed twice
// within that second would match a date that is not); empty otherwise, and then a broken
// transfer starts over. Each value as the answer sent it.
std::string rangeValidator(std::string_view etag, std::string_view lastModified, std::string_view date);

// What a range request asked: bytes [first, last] (last -1: to the end) of a file whose length
// is `length` (0 when unknown), on the condition of `validator` (If-Range).
struct RangeAsked {
    std::int64_t first = 0;
    std::int64_t last = -1;
    std::int64_t length = 0;
    std::string validator;
};

// The verdict on a 206 for the request: empty when it is exactly what was asked (Content-Range
// start, end and total, the body's announced length and the validator), else why not.
// `contentLength` -1 when the answer announced none.
enum class PartialVerdict { ok, wrongRange, otherVersion };
PartialVerdict checkPartial(const RangeAsked& asked, std::string_view contentRange, std::int64_t contentLength,
                            std::string_view validator);

// Whether a Content-Encoding leaves the bytes as the file holds them: empty, or a list of
// nothing but "identity".
bool isIdentityEncoding(std::string_view value);

// Whether an answer may be taken, before its first byte, for either way of fetching: its
// encoding (when the bytes must be the file's own) and, for a range asked (`asked`, null when
// none), its range. A status of 300 or more is told by the caller after the transfer. With
// `rangeOnly` (a segment) nothing but a 206 will do; else a 200 is the whole file, which the
// caller takes instead of a part.
enum class AnswerVerdict { ok, encoded, wrongRange, otherVersion, rangesIgnored };
struct Answer {
    long status = 0;
    std::string_view contentEncoding;
    std::string_view contentRange;
    std::int64_t contentLength = -1;  // -1: none announced
    std::string_view validator;
};
AnswerVerdict checkAnswer(const Answer& answer, const RangeAsked* asked, bool identityOnly, bool rangeOnly);

}  // namespace vemlis
