// SSE2 kernel of mirtYPbPr: four pixels a step, two in each double vector.
// SSE2 is the x86 floor, so this file needs no flags of its own.
#include "filters/ypbpr_kernels.hpp"

#if PELX04_SSE2
#include <emmintrin.h>

#include "core/wasm/sse2_translation.hpp"

namespace pelx04 {
namespace x86 {
namespace {

struct Channels {
    __m128i r, g, b;  // four int32 lanes each, unclamped
};

// Two pixels: forward, offsets, limits, back; each sum left to right as the
// literal rule forms it. The results lie within −250..460, so truncation is
// defined.
inline void convertPair(__m128d r, __m128d g, __m128d b, const YPbPrKernel& k, __m128i& ro, __m128i& go,
                        __m128i& bo) {
    __m128d y = _mm_add_pd(_mm_add_pd(_mm_mul_pd(_mm_set1_pd(0.2126), r), _mm_mul_pd(_mm_set1_pd(0.7152), g)),
                           _mm_mul_pd(_mm_set1_pd(0.0722), b));
    __m128d pb = _mm_add_pd(_mm_sub_pd(_mm_mul_pd(_mm_set1_pd(-0.114572), r), _mm_mul_pd(_mm_set1_pd(0.385428), g)),
                            _mm_mul_pd(_mm_set1_pd(0.5), b));
    __m128d pr = _mm_sub_pd(_mm_sub_pd(_mm_mul_pd(_mm_set1_pd(0.5), r), _mm_mul_pd(_mm_set1_pd(0.454153), g)),
                            _mm_mul_pd(_mm_set1_pd(0.045847), b));
    y = _mm_max_pd(_mm_min_pd(_mm_add_pd(y, _mm_set1_pd(k.luma)), _mm_set1_pd(255.0)), _mm_setzero_pd());
    pb = _mm_max_pd(_mm_min_pd(_mm_add_pd(pb, _mm_set1_pd(k.pb)), _mm_set1_pd(128.0)), _mm_set1_pd(-127.0));
    pr = _mm_max_pd(_mm_min_pd(_mm_add_pd(pr, _mm_set1_pd(k.pr)), _mm_set1_pd(128.0)), _mm_set1_pd(-127.0));
    ro = _mm_cvttpd_epi32(_mm_add_pd(y, _mm_mul_pd(_mm_set1_pd(1.5748), pr)));
    go = _mm_cvttpd_epi32(
        _mm_sub_pd(_mm_sub_pd(y, _mm_mul_pd(_mm_set1_pd(0.187324), pb)), _mm_mul_pd(_mm_set1_pd(0.468124), pr)));
    bo = _mm_cvttpd_epi32(_mm_add_pd(y, _mm_mul_pd(_mm_set1_pd(1.8556), pb)));
}

}  // namespace

std::uint32_t ypbprSse2(unsigned char* pixels, std::uint32_t count, const YPbPrKernel& k) {
    const std::uint32_t whole = count & ~3u;
    const __m128i byteMask = _mm_set1_epi32(0xFF);
    const __m128i alphaOffset = _mm_set1_epi32(k.alpha);
    for (std::uint32_t i = 0; i < whole; i += 4) {
        unsigned char* p = pixels + std::size_t{i} * 4u;
        const __m128i words = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i r = _mm_and_si128(_mm_srli_epi32(words, 16), byteMask);
        const __m128i g = _mm_and_si128(_mm_srli_epi32(words, 8), byteMask);
        const __m128i b = _mm_and_si128(words, byteMask);
        __m128i r01, g01, b01, r23, g23, b23;
        convertPair(_mm_cvtepi32_pd(r), _mm_cvtepi32_pd(g), _mm_cvtepi32_pd(b), k, r01, g01, b01);
        convertPair(_mm_cvtepi32_pd(_mm_srli_si128(r, 8)), _mm_cvtepi32_pd(_mm_srli_si128(g, 8)),
                    _mm_cvtepi32_pd(_mm_srli_si128(b, 8)), k, r23, g23, b23);
        const __m128i ro = _mm_unpacklo_epi64(r01, r23), go = _mm_unpacklo_epi64(g01, g23);
        const __m128i bo = _mm_unpacklo_epi64(b01, b23);
        // A + offset lies within −255..511; the packs below clamp it to 0..255,
        // which is the rule's "above 254 becomes 255, below 0 becomes 0".
        const __m128i ao = _mm_add_epi32(_mm_srli_epi32(words, 24), alphaOffset);
        // Saturating packs clamp every channel to 0..255 and give the bytes
        // b0..b3 r0..r3 g0..g3 a0..a3; two interleaves put them in pixel order.
        const __m128i planes = _mm_packus_epi16(_mm_packs_epi32(bo, ro), _mm_packs_epi32(go, ao));
        const __m128i bgra = _mm_unpacklo_epi8(planes, _mm_srli_si128(planes, 8));
        const __m128i result = _mm_unpacklo_epi16(bgra, _mm_srli_si128(bgra, 8));
        const __m128i transparent = _mm_cmpeq_epi32(_mm_srli_epi32(words, 24), _mm_setzero_si128());
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p),
                         _mm_or_si128(_mm_and_si128(transparent, words), _mm_andnot_si128(transparent, result)));
    }
    return whole;
}

}  // namespace x86
}  // namespace pelx04

#endif
