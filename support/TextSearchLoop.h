#pragma once

// The one vector search loop of the text search, for every vector width. Included by the
// translation units that instantiate it for their width; holds no standard-library code, so
// that the unit built for wider vectors shares no inline function with the rest.

#include <cstddef>

namespace tavik::text {

// A few bytes compared in place (for short markers, cheaper than a call to memcmp).
inline bool sameBytes(const char* a, const char* b, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return false;
    return true;
}

namespace detail {

// Compares W::width positions at once on the pattern's first and last characters (a pair of
// both is rare even where each character alone is everywhere), then the middle in place.
// Returns the match, or `npos` with `i` where it stopped, for a narrower search to go on.
// W supplies `width`, `Vector`, `splat(char)` and `mask(a, b, first, last)`: bit j set when
// a[j] == first and b[j] == last.
template <class W>
inline std::size_t findVectors(const char* s, std::size_t n, const char* p, std::size_t k, std::size_t& i,
                               std::size_t npos) {
    const typename W::Vector first = W::splat(p[0]);
    const typename W::Vector last = W::splat(p[k - 1]);
    for (; i + k - 1 + W::width <= n; i += W::width) {
        for (unsigned mask = W::mask(s + i, s + i + k - 1, first, last); mask; mask &= mask - 1) {
            const unsigned bit = static_cast<unsigned>(__builtin_ctz(mask));
            if (k < 3 || sameBytes(s + i + bit + 1, p + 1, k - 2)) return i + bit;
        }
    }
    return npos;
}

}  // namespace detail

}  // namespace tavik::text
