// Built with -mavx2 and called only where the processor has it. Everything here has internal
// linkage but the one entry point, so no inline function of this unit can stand in for the
// rest of the program's.
#include <immintrin.h>

#include "support/TextSearchLoop.h"

namespace tavik::text::detail {

namespace {

struct Avx2 {
    static constexpr std::size_t width = 32;
    using Vector = __m256i;
    static Vector splat(char c) { return _mm256_set1_epi8(c); }
    static Vector load(const char* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
    static unsigned mask(const char* a, const char* b, Vector first, Vector last) {
        return static_cast<unsigned>(_mm256_movemask_epi8(
            _mm256_and_si256(_mm256_cmpeq_epi8(load(a), first), _mm256_cmpeq_epi8(load(b), last))));
    }
};

}  // namespace

std::size_t findAvx2(const char* s, std::size_t n, const char* p, std::size_t k, std::size_t& i, std::size_t npos) {
    return findVectors<Avx2>(s, n, p, k, i, npos);
}

}  // namespace tavik::text::detail
