#include "ResponseCheck.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>

#include "engine/net/TransferLimits.h"

namespace vemlis {

namespace {

bool number(std::string_view text, std::int64_t& value) {
    if (text.empty() || text.size() > 18) return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && value >= 0;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

bool equalNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// "Sun, 06 Nov 1994 08:49:37 GMT", the one date form servers must send.
std::optional<std::int64_t> imfDate(std::string_view text) {
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (text.size() != 29 || text[3] != ',' || text[4] != ' ' || text.substr(25) != " GMT") return std::nullopt;
    std::int64_t day = 0, year = 0, hour = 0, minute = 0, second = 0;
    if (!number(text.substr(5, 2), day) || !number(text.substr(12, 4), year) || !number(text.substr(17, 2), hour) ||
        !number(text.substr(20, 2), minute) || !number(text.substr(23, 2), second) || text[7] != ' ' ||
        text[11] != ' ' || text[16] != ' ' || text[19] != ':' || text[22] != ':')
        return std::nullopt;
    unsigned month = 0;
    for (unsigned i = 0; i < 12; ++i)
        if (text.substr(8, 3) == months[i]) month = i + 1;
    if (month == 0 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) return std::nullopt;
    return daysFromCivil(year, month, static_cast<unsigned>(day)) * 86400 + hour * 3600 + minute * 60 + second;
}

}  // namespace

std::optional<ContentRange> parseContentRange(std::string_view value) {
    value = trimmed(value);
    if (value.size() < 6 || !equalNoCase(value.substr(0, 6), "bytes ")) return std::nullopt;
    value = trimmed(value.substr(6));
    const std::size_t dash = value.find('-');
    const std::size_t slash = value.find('/');
    if (dash == std::string_view::npos || slash == std::string_view::npos || dash > slash) return std::nullopt;
    ContentRange range;
    if (!number(value.substr(0, dash), range.first) || !number(value.substr(dash + 1, slash - dash - 1), range.last))
        return std::nullopt;
    const std::string_view total = value.substr(slash + 1);
    if (total != "*" && !number(total, range.total)) return std::nullopt;
    if (range.last < range.first || (range.total >= 0 && range.last >= range.total)) return std::nullopt;
    return range;
}

int parseRetryAfter(std::string_view value, std::time_t now) {
    value = trimmed(value);
    constexpr std::int64_t longest = limits::retryAfterLongest;
    std::int64_t seconds = 0;
    if (value.size() > 18 && std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return static_cast<int>(longest);
    if (number(value, seconds)) return static_cast<int>(std::min(seconds, longest));
    if (const auto when = imfDate(value)) return static_cast<int>(std::clamp<std::int64_t>(*when - now, 0, longest));
    return -1;
}

std::string cleanValidator(std::string_view value) {
    value = trimmed(value);
    if (value.size() > 1024) return {};
    for (const unsigned char c : value)
        if (c < 0x20 || c >= 0x7f) return {};
    return std::string(value);
}

std::string rangeValidator(std::string_view etag, std::string_view lastModified, std::string_view date) {
    // A weak tag may stand for bytes that changed; and with any tag, no date may be sent.
    if (!trimmed(etag).empty()) {
        const std::string tag = cleanValidator(etag);
        return tag.rfind("W/", 0) == 0 ? std::string() : tag;
    }
    const std::string modified = cleanValidator(lastModified);
    const auto when = imfDate(modified), answered = imfDate(trimmed(date));
    if (!when || !answered || *answered - *when < 1) return {};
    return modified;
}

PartialVerdict checkPartial(const RangeAsked& asked, std::string_view contentRange, std::int64_t contentLength,
                            std::string_view validator) {
    // A server that ignored If-Range sends a part of another version: never joined to ours.
    if (!asked.validator.empty() && cleanValidator(validator) != asked.validator) return PartialVerdict::otherVersion;
    const auto range = parseContentRange(contentRange);
    if (!range || range->first != asked.first) return PartialVerdict::wrongRange;
    if (asked.length > 0 && range->total != asked.length) return PartialVerdict::wrongRange;
    // To the end: the whole rest, so that the total must be known.
    const std::int64_t last = asked.last >= 0 ? asked.last : range->total - 1;
    if (range->total < 0 || range->last != last) return PartialVerdict::wrongRange;
    if (contentLength >= 0 && contentLength != range->last - range->first + 1) return PartialVerdict::wrongRange;
    return PartialVerdict::ok;
}

AnswerVerdict checkAnswer(const Answer& answer, const RangeAsked* asked, bool identityOnly, bool rangeOnly) {
    if (answer.status >= 300) return AnswerVerdict::ok;
    if (identityOnly && !isIdentityEncoding(answer.contentEncoding)) return AnswerVerdict::encoded;
    if (answer.status == 206) {
        if (!asked) return AnswerVerdict::wrongRange;
        switch (checkPartial(*asked, answer.contentRange, answer.contentLength, answer.validator)) {
            case PartialVerdict::ok: return AnswerVerdict::ok;
            case PartialVerdict::otherVersion: return AnswerVerdict::otherVersion;
            case PartialVerdict::wrongRange: return AnswerVerdict::wrongRange;
        }
    }
    if (!rangeOnly) return AnswerVerdict::ok;
    // Of this version or another (If-Range failed): either way no part of it can be had.
    return answer.status == 200 ? AnswerVerdict::rangesIgnored : AnswerVerdict::wrongRange;
}

bool isIdentityEncoding(std::string_view value) {
    // Repeated header lines arrive joined by commas: every coding listed must be identity.
    while (!value.empty()) {
        const std::size_t comma = value.find(',');
        const std::string_view coding = trimmed(value.substr(0, comma));
        if (!coding.empty() && !equalNoCase(coding, "identity")) return false;
        if (comma == std::string_view::npos) break;
        value.remove_prefix(comma + 1);
    }
    return true;
}

}  // namespace vemlis
