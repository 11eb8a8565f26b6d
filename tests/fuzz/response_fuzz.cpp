// The parsers of what a server says: header lines as they come off the wire, and the values a
// download depends on, checked against their own promises.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "engine/net/HttpClientImpl.h"
#include "engine/net/ResponseCheck.h"

namespace {

void require(bool condition) {
    if (!condition) std::abort();
}

bool plain(std::string_view text) {
    for (const unsigned char c : text)
        if (c < 0x20 || c >= 0x7f) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    vemlis::AnswerHeaders answer;
    std::size_t start = 0;
    while (start < input.size()) {
        const std::size_t end = std::min(input.find('\n', start), input.size());
        answer.take(input.substr(start, end - start + (end < input.size() ? 1 : 0)));
        start = end + 1;
    }
    require(plain(answer.validator()));
    for (const std::string_view value : {input, std::string_view(answer.contentRange), std::string_view(answer.retryAfter)}) {
        if (const auto range = vemlis::parseContentRange(value)) {
            require(range->first >= 0 && range->first <= range->last);
            require(range->total == -1 || range->last < range->total);
        }
        const int wait = vemlis::parseRetryAfter(value, 1700000000);
        require(wait >= -1 && wait <= 86400);
        require(plain(vemlis::cleanValidator(value)));
    }
    // Whatever a 206 says, it is taken only for exactly the range asked.
    const vemlis::RangeAsked asked{100, 199, 1000, "\"v\""};
    if (vemlis::checkPartial(asked, answer.contentRange, -1, answer.validator()) == vemlis::PartialVerdict::ok) {
        const auto range = vemlis::parseContentRange(answer.contentRange);
        require(range && range->first == 100 && range->last == 199 && range->total == 1000);
        require(answer.validator() == "\"v\"");
    }
    // A range asked near the ends of the 64-bit numbers: an answer is taken only for it, and
    // no sum on the way may overflow (any overflow stops the run).
    if (input.size() >= 3 * sizeof(std::int64_t)) {
        std::int64_t n[3];
        std::memcpy(n, input.data(), sizeof n);
        const auto max = std::numeric_limits<std::int64_t>::max();
        vemlis::RangeAsked edge{n[0] < 0 ? max + n[0] + 1 : n[0], n[1] < 0 ? -1 : n[1], n[2] < 0 ? 0 : n[2], "\"v\""};
        // The body's announced length: the digits after the three numbers, if any.
        std::int64_t length = -1;
        for (const char c : input.substr(3 * sizeof(std::int64_t), 18))
            if (c >= '0' && c <= '9') length = (length < 0 ? 0 : length * 10) + (c - '0');
        const std::string validator = answer.validator();
        vemlis::Answer reply{206, answer.contentEncoding, answer.contentRange, length, validator};
        if (vemlis::checkAnswer(reply, &edge, true, true) == vemlis::AnswerVerdict::ok) {
            const auto range = vemlis::parseContentRange(answer.contentRange);
            require(range && range->first == edge.first);
            require(edge.last < 0 || range->last == edge.last);
            require(edge.length == 0 || range->total == edge.length);
        }
    }
    return 0;
}
