// AVX2 histogram entries: 32 pixels a step, their entries packed to bytes.
// The order of the entries within a step does not matter to a count. Built
// with -mavx2.
#include "curves/curve_kernels.hpp"

#include "core/cpu_features.hpp"

#if PELX04_X86
#include <immintrin.h>

namespace pelx04 {
namespace x86 {
namespace {

template <int Mode>
inline __m256i entries8(__m256i x) {
    if (Mode == 0) {
        // B + R and G from the 16-bit halves of x & 0x00FF00FF and of x >> 8;
        // (sum + 1) × 21846 >> 16 is (sum + 1) / 3 for every sum + 1 ≤ 766.
        const __m256i pairs = _mm256_set1_epi32(0x00FF00FF);
        const __m256i br = _mm256_madd_epi16(_mm256_and_si256(x, pairs), _mm256_set1_epi32(0x00010001));
        const __m256i ga = _mm256_madd_epi16(_mm256_and_si256(_mm256_srli_epi32(x, 8), pairs), _mm256_set1_epi32(1));
        const __m256i sum = _mm256_add_epi32(_mm256_add_epi32(br, ga), _mm256_set1_epi32(1));
        return _mm256_mulhi_epu16(sum, _mm256_set1_epi32(21846));
    }
    return _mm256_and_si256(_mm256_srli_epi32(x, Mode == 1 ? 16 : Mode == 2 ? 8 : 0), _mm256_set1_epi32(0xFF));
}

template <int Mode>
std::uint32_t entriesPass(const unsigned char* pixels, std::uint32_t count, std::uint8_t* entries) {
    const std::uint32_t whole = count & ~31u;
    for (std::uint32_t i = 0; i < whole; i += 32) {
        const unsigned char* p = pixels + std::size_t{i} * 4u;
        const __m256i e0 = entries8<Mode>(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
        const __m256i e1 = entries8<Mode>(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32)));
        const __m256i e2 = entries8<Mode>(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 64)));
        const __m256i e3 = entries8<Mode>(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 96)));
        const __m256i bytes = _mm256_packus_epi16(_mm256_packus_epi32(e0, e1), _mm256_packus_epi32(e2, e3));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(entries + i), bytes);
    }
    return whole;
}

}  // namespace

std::uint32_t histogramEntriesAvx2(const unsigned char* pixels, std::uint32_t count, const HistogramEntries& h,
                                   std::uint8_t* entries) {
    switch (h.mode) {
        case 0: return entriesPass<0>(pixels, count, entries);
        case 1: return entriesPass<1>(pixels, count, entries);
        case 2: return entriesPass<2>(pixels, count, entries);
        default: return entriesPass<3>(pixels, count, entries);
    }
}

}  // namespace x86
}  // namespace pelx04

#endif
