// SSE2 histogram entries: sixteen pixels a step, their entries packed to
// bytes, as the AVX2 kernel does it. SSE2 is the x86 floor: no flags of its own.
#include "curves/curve_kernels.hpp"

#include "core/cpu_features.hpp"

#if PELX04_SSE2
#include <emmintrin.h>

#include "core/wasm/sse2_translation.hpp"

namespace pelx04 {
namespace x86 {
namespace {

template <int Mode>
inline __m128i entries4(__m128i x) {
    if (Mode == 0) {
        // B + R and G from the 16-bit halves of x & 0x00FF00FF and of x >> 8;
        // (sum + 1) × 21846 >> 16 is (sum + 1) / 3 for every sum + 1 ≤ 766.
        const __m128i pairs = _mm_set1_epi32(0x00FF00FF);
        const __m128i br = _mm_madd_epi16(_mm_and_si128(x, pairs), _mm_set1_epi32(0x00010001));
        const __m128i ga = _mm_madd_epi16(_mm_and_si128(_mm_srli_epi32(x, 8), pairs), _mm_set1_epi32(1));
        const __m128i sum = _mm_add_epi32(_mm_add_epi32(br, ga), _mm_set1_epi32(1));
        return _mm_mulhi_epu16(sum, _mm_set1_epi32(21846));
    }
    return _mm_and_si128(_mm_srli_epi32(x, Mode == 1 ? 16 : Mode == 2 ? 8 : 0), _mm_set1_epi32(0xFF));
}

template <int Mode>
std::uint32_t entriesPass(const unsigned char* pixels, std::uint32_t count, std::uint8_t* entries) {
    const std::uint32_t whole = count & ~15u;
    for (std::uint32_t i = 0; i < whole; i += 16) {
        const unsigned char* p = pixels + std::size_t{i} * 4u;
        const __m128i e0 = entries4<Mode>(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
        const __m128i e1 = entries4<Mode>(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)));
        const __m128i e2 = entries4<Mode>(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32)));
        const __m128i e3 = entries4<Mode>(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48)));
        // Entries are 0..255: the signed 32-to-16 pack keeps them.
        const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(e0, e1), _mm_packs_epi32(e2, e3));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(entries + i), bytes);
    }
    return whole;
}

}  // namespace

std::uint32_t histogramEntriesSse2(const unsigned char* pixels, std::uint32_t count, const HistogramEntries& h,
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
