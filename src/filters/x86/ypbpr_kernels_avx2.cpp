// AVX2 kernel of mirtYPbPr: eight pixels a step, four in each double vector.
// Built with -mavx2 alone (never -mfma: a fused multiply-add would change the
// doubles) and entered only when the CPU reports AVX2.
#include "filters/ypbpr_kernels.hpp"

#if PELX04_X86
#include <immintrin.h>

namespace pelx04 {
namespace x86 {
namespace {

inline __m256d splat(double v) { return _mm256_set1_pd(v); }

// Four pixels: forward, offsets, limits, back; each sum left to right as the
// literal rule forms it. The results lie within −250..460, so truncation is
// defined.
inline void convertQuad(__m256d r, __m256d g, __m256d b, const YPbPrKernel& k, __m128i& ro, __m128i& go,
                        __m128i& bo) {
    __m256d y = _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(splat(0.2126), r), _mm256_mul_pd(splat(0.7152), g)),
                              _mm256_mul_pd(splat(0.0722), b));
    __m256d pb = _mm256_add_pd(_mm256_sub_pd(_mm256_mul_pd(splat(-0.114572), r), _mm256_mul_pd(splat(0.385428), g)),
                               _mm256_mul_pd(splat(0.5), b));
    __m256d pr = _mm256_sub_pd(_mm256_sub_pd(_mm256_mul_pd(splat(0.5), r), _mm256_mul_pd(splat(0.454153), g)),
                               _mm256_mul_pd(splat(0.045847), b));
    y = _mm256_max_pd(_mm256_min_pd(_mm256_add_pd(y, splat(k.luma)), splat(255.0)), _mm256_setzero_pd());
    pb = _mm256_max_pd(_mm256_min_pd(_mm256_add_pd(pb, splat(k.pb)), splat(128.0)), splat(-127.0));
    pr = _mm256_max_pd(_mm256_min_pd(_mm256_add_pd(pr, splat(k.pr)), splat(128.0)), splat(-127.0));
    ro = _mm256_cvttpd_epi32(_mm256_add_pd(y, _mm256_mul_pd(splat(1.5748), pr)));
    go = _mm256_cvttpd_epi32(
        _mm256_sub_pd(_mm256_sub_pd(y, _mm256_mul_pd(splat(0.187324), pb)), _mm256_mul_pd(splat(0.468124), pr)));
    bo = _mm256_cvttpd_epi32(_mm256_add_pd(y, _mm256_mul_pd(splat(1.8556), pb)));
}

inline __m256i joined(__m128i low, __m128i high) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
}

}  // namespace

std::uint32_t ypbprAvx2(unsigned char* pixels, std::uint32_t count, const YPbPrKernel& k) {
    const std::uint32_t whole = count & ~7u;
    const __m256i byteMask = _mm256_set1_epi32(0xFF);
    const __m256i alphaOffset = _mm256_set1_epi32(k.alpha);
    for (std::uint32_t i = 0; i < whole; i += 8) {
        unsigned char* p = pixels + std::size_t{i} * 4u;
        const __m256i words = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        const __m256i r = _mm256_and_si256(_mm256_srli_epi32(words, 16), byteMask);
        const __m256i g = _mm256_and_si256(_mm256_srli_epi32(words, 8), byteMask);
        const __m256i b = _mm256_and_si256(words, byteMask);
        __m128i r0, g0, b0, r1, g1, b1;
        convertQuad(_mm256_cvtepi32_pd(_mm256_castsi256_si128(r)), _mm256_cvtepi32_pd(_mm256_castsi256_si128(g)),
                    _mm256_cvtepi32_pd(_mm256_castsi256_si128(b)), k, r0, g0, b0);
        convertQuad(_mm256_cvtepi32_pd(_mm256_extracti128_si256(r, 1)),
                    _mm256_cvtepi32_pd(_mm256_extracti128_si256(g, 1)),
                    _mm256_cvtepi32_pd(_mm256_extracti128_si256(b, 1)), k, r1, g1, b1);
        // A + offset lies within −255..511; the packs below clamp it to 0..255,
        // which is the rule's "above 254 becomes 255, below 0 becomes 0".
        const __m256i ao = _mm256_add_epi32(_mm256_srli_epi32(words, 24), alphaOffset);
        // Per 128-bit lane: saturating packs clamp every channel to 0..255 and
        // give b0..b3 r0..r3 g0..g3 a0..a3; two interleaves put them in pixel order.
        const __m256i planes = _mm256_packus_epi16(_mm256_packs_epi32(joined(b0, b1), joined(r0, r1)),
                                                   _mm256_packs_epi32(joined(g0, g1), ao));
        const __m256i bgra = _mm256_unpacklo_epi8(planes, _mm256_srli_si256(planes, 8));
        const __m256i result = _mm256_unpacklo_epi16(bgra, _mm256_srli_si256(bgra, 8));
        const __m256i transparent = _mm256_cmpeq_epi32(_mm256_srli_epi32(words, 24), _mm256_setzero_si256());
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), _mm256_blendv_epi8(result, words, transparent));
    }
    return whole;
}

}  // namespace x86
}  // namespace pelx04

#endif
