#pragma once

#include <emmintrin.h>

#include <cstddef>

namespace tavik::text::detail {

// 16 positions at once; every x86-64 processor has SSE2.
struct Sse2 {
    static constexpr std::size_t width = 16;
    using Vector = __m128i;
    static Vector splat(char c) { return _mm_set1_epi8(c); }
    static Vector load(const char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
    static unsigned mask(const char* a, const char* b, Vector first, Vector last) {
        return static_cast<unsigned>(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(load(a), first), _mm_cmpeq_epi8(load(b), last))));
    }
    // Bit j set when p[j] is one of the bytes.
    template <std::size_t N>
    static unsigned anyOf(const char* p, const char (&bytes)[N]) {
        const Vector chunk = load(p);
        Vector hits = _mm_setzero_si128();
        for (const char byte : bytes) hits = _mm_or_si128(hits, _mm_cmpeq_epi8(chunk, splat(byte)));
        return static_cast<unsigned>(_mm_movemask_epi8(hits));
    }
    // Bit j set when p[j] is a CR or an LF.
    static unsigned lineBreaks(const char* p) { return anyOf(p, {'\n', '\r'}); }
};

}  // namespace tavik::text::detail
