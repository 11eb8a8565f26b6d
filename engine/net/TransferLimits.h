#pragma once

// The numbers that shape every transfer, in one place.

#include <chrono>
#include <cstdint>

namespace vemlis::limits {

inline constexpr long redirects = 15;                       // followed at most
inline constexpr long receiveBuffer = 512L * 1024L;         // bytes libcurl hands over at most at once
inline constexpr long connectTimeout = 30;                  // seconds to reach the server
inline constexpr int stallTimeout = 60;                     // seconds below `slowest` before a transfer fails
inline constexpr std::int64_t slowest = 1024;               // bytes per second a transfer keeps up at least
inline constexpr std::chrono::milliseconds abortCheck{50};  // how often a transfer looks for a stop
inline constexpr int retryAfterLongest = 86400;             // seconds of a Retry-After that are read
inline constexpr int retryAfterBelieved = 600;              // seconds of a Retry-After that are waited
inline constexpr std::int64_t smallestSteal = 1 << 20;      // a segment is not split below twice this

}  // namespace vemlis::limits
