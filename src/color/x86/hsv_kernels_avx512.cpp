// AVX-512 HSV kernel: sixteen pixels a step. Hue, value and saturation are
// formed sixteen and eight lanes at a time as in the AVX2 kernel; the way back
// does two pixels per vector, each pixel's B, G, R and spare lane with its own
// coefficients, the same doubles in the same order as hsvPass. Built with the
// AVX-512 flags; every multiply and add is its own instruction
// (-ffp-contract=off).
#include "color/hsv_kernels.hpp"

#if PELX04_X86
// GCC 12's AVX-512 headers hand masked builtins an undefined vector as the
// unused source, and -Wmaybe-uninitialized then reports it in every caller.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

namespace pelx04 {
namespace x86 {
namespace {

inline __m512i splat(std::int32_t v) { return _mm512_set1_epi32(v); }

template <int shift>
inline __m512i channelAt(__m512i words) {
    return _mm512_and_si512(_mm512_srli_epi32(words, shift), splat(0xFF));
}

// The hue rgbToHsv gives for channels 0..510, as an index 0..359, from a
// single-precision quotient: see the AVX2 kernel for why its rounding is the
// one of the doubles.
inline __m512i hueOf(__m512i r, __m512i g, __m512i b) {
    const __m512i max = _mm512_max_epi32(r, _mm512_max_epi32(g, b));
    const __m512i min = _mm512_min_epi32(r, _mm512_min_epi32(g, b));
    const __m512i delta = _mm512_sub_epi32(max, min);
    const __mmask16 isRed = _mm512_cmpeq_epi32_mask(max, r);
    const __mmask16 isGreen = static_cast<__mmask16>(~isRed & _mm512_cmpeq_epi32_mask(max, g));
    __m512i difference = _mm512_sub_epi32(r, g), offset = splat(240);
    difference = _mm512_mask_sub_epi32(difference, isGreen, b, r);
    difference = _mm512_mask_sub_epi32(difference, isRed, g, b);
    offset = _mm512_mask_mov_epi32(offset, isGreen, splat(120));
    offset = _mm512_mask_mov_epi32(offset, isRed, _mm512_setzero_si512());
    const __m512 q = _mm512_add_ps(_mm512_div_ps(_mm512_cvtepi32_ps(_mm512_mullo_epi32(difference, splat(60))),
                                                 _mm512_cvtepi32_ps(_mm512_max_epi32(delta, splat(1)))),
                                   _mm512_cvtepi32_ps(offset));
    // q lies within −60..300: truncation is exact and defined, and so is q − t.
    const __m512i t = _mm512_cvttps_epi32(q);
    const __m512 rest = _mm512_sub_ps(q, _mm512_cvtepi32_ps(t));
    __m512i hue = _mm512_mask_add_epi32(t, _mm512_cmp_ps_mask(rest, _mm512_set1_ps(0.5f), _CMP_GE_OQ), t, splat(1));
    hue = _mm512_mask_sub_epi32(hue, _mm512_cmp_ps_mask(rest, _mm512_set1_ps(-0.5f), _CMP_LE_OQ), hue, splat(1));
    return _mm512_mask_add_epi32(hue, _mm512_cmplt_epi32_mask(hue, _mm512_setzero_si512()), hue, splat(360));
}

// The masked form with an explicit source, as in the AVX2 kernel.
inline __m512d gatherOffsets(const double* table, __m256i index) {
    return _mm512_mask_i32gather_pd(_mm512_setzero_pd(), 0xFF, index, table, 8);
}

// std::round exactly, the sign of a zero included: x − trunc(x) is exact for
// every double, and only its comparison with ±0.5 moves the result.
inline __m512d roundHalfAway(__m512d x) {
    const __m512d t = _mm512_roundscale_pd(x, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
    const __m512d rest = _mm512_sub_pd(x, t), one = _mm512_set1_pd(1.0);
    const __m512d r = _mm512_mask_add_pd(t, _mm512_cmp_pd_mask(rest, _mm512_set1_pd(0.5), _CMP_GE_OQ), t, one);
    return _mm512_mask_sub_pd(r, _mm512_cmp_pd_mask(rest, _mm512_set1_pd(-0.5), _CMP_LE_OQ), t, one);
}

// Below 0 becomes 0 and above 255 becomes 255; s is never NaN or −0 here.
inline __m512d limitComponent(__m512d x) {
    return _mm512_min_pd(_mm512_max_pd(x, _mm512_setzero_pd()), _mm512_set1_pd(255.0));
}

// s lies in 0..255, so every index is 0..255 and its conversion defined.
template <HsvSaturationRule rule>
inline __m512d changedSaturation(__m512d s, const HsvKernel& k) {
    switch (rule) {
        case HsvSaturationRule::add: return limitComponent(_mm512_add_pd(s, _mm512_set1_pd(k.addend)));
        case HsvSaturationRule::table: {
            const __m512d offset = gatherOffsets(k.offsets, _mm512_cvttpd_epi32(s));
            return limitComponent(_mm512_add_pd(s, offset));
        }
        case HsvSaturationRule::band: {
            const __m512d band = roundHalfAway(_mm512_div_pd(s, _mm512_set1_pd(k.divisor)));
            const __m512d offset = gatherOffsets(k.offsets, _mm512_cvttpd_epi32(band));
            return limitComponent(_mm512_add_pd(s, offset));
        }
        case HsvSaturationRule::step: {
            const __m512d divisor = _mm512_set1_pd(k.divisor);
            return _mm512_mul_pd(roundHalfAway(_mm512_div_pd(s, divisor)), divisor);
        }
    }
    return s;
}

// (delta × 255) / max for eight lanes, changed by the rule and scaled.
template <HsvSaturationRule rule>
inline __m512d saturationBack(__m256i numerator, __m256i denominator, const HsvKernel& k) {
    const __m512d s = _mm512_div_pd(_mm512_cvtepi32_pd(numerator), _mm512_cvtepi32_pd(denominator));
    return _mm512_mul_pd(changedSaturation<rule>(s, k), _mm512_set1_pd(0.00392156862));
}

// Pixels j and j + 1: B, G, R and spare as ((1 − S × c) × V) × 255, truncated.
// S ≤ 2 and V ≤ 2 keep every lane within ±1600.
inline __m256i twoBack(const HsvKernel& k, const std::int32_t* hue, const std::int32_t* max, const double* saturation,
                       int j) {
    const __m512d c = _mm512_insertf64x4(_mm512_castpd256_pd512(_mm256_loadu_pd(k.back[hue[j]])),
                                         _mm256_loadu_pd(k.back[hue[j + 1]]), 1);
    const __m512d s = _mm512_insertf64x4(_mm512_castpd256_pd512(_mm256_broadcast_sd(saturation + j)),
                                         _mm256_broadcast_sd(saturation + j + 1), 1);
    const __m512d v = _mm512_insertf64x4(_mm512_castpd256_pd512(_mm256_broadcast_sd(k.value + max[j])),
                                         _mm256_broadcast_sd(k.value + max[j + 1]), 1);
    const __m512d x = _mm512_sub_pd(_mm512_set1_pd(1.0), _mm512_mul_pd(s, c));
    return _mm512_cvttpd_epi32(_mm512_mul_pd(_mm512_mul_pd(x, v), _mm512_set1_pd(255.0)));
}

// Four pixels' lanes clamped to 0..255 as bytes B, G, R, spare.
inline __m128i fourBytes(__m256i first, __m256i second) {
    const __m512i lanes = _mm512_inserti64x4(_mm512_castsi256_si512(first), second, 1);
    return _mm512_cvtusepi32_epi8(_mm512_max_epi32(lanes, _mm512_setzero_si512()));
}

// Every load and store here is the unaligned form, the stack arrays included:
// some Windows toolchains give locals less than their declared alignment.
template <HsvSaturationRule rule>
std::uint32_t hsvPass(unsigned char* pixels, std::uint32_t count, const HsvKernel& k) {
    const std::uint32_t whole = count & ~15u;
    const __m512i alpha = splat(static_cast<std::int32_t>(0xFF000000u));
    alignas(64) std::int32_t hue[16], max[16];
    alignas(64) double saturation[16];
    for (std::uint32_t i = 0; i < whole; i += 16) {
        unsigned char* px = pixels + std::size_t{i} * 4u;
        const __m512i words = _mm512_loadu_si512(px);
        const __m512i r = channelAt<16>(words), g = channelAt<8>(words), b = channelAt<0>(words);
        const __m512i top = _mm512_max_epi32(r, _mm512_max_epi32(g, b));
        const __m512i delta = _mm512_sub_epi32(top, _mm512_min_epi32(r, _mm512_min_epi32(g, b)));
        const __m512i h = k.roundedHue ? hueOf(_mm512_i32gather_epi32(r, k.channel, 4),
                                               _mm512_i32gather_epi32(g, k.channel, 4),
                                               _mm512_i32gather_epi32(b, k.channel, 4))
                                       : hueOf(r, g, b);
        _mm512_storeu_si512(hue, h);
        _mm512_storeu_si512(max, top);
        // (delta × 255) / max; a grey divides 0 by max, black by 1.
        const __m512i numerator = _mm512_mullo_epi32(delta, splat(255));
        const __m512i denominator = _mm512_max_epi32(top, splat(1));
        _mm512_storeu_pd(saturation, saturationBack<rule>(_mm512_castsi512_si256(numerator),
                                                          _mm512_castsi512_si256(denominator), k));
        _mm512_storeu_pd(saturation + 8, saturationBack<rule>(_mm512_extracti64x4_epi64(numerator, 1),
                                                              _mm512_extracti64x4_epi64(denominator, 1), k));
        __m128i quarter[4];
        for (int q = 0; q < 4; ++q) {
            quarter[q] = fourBytes(twoBack(k, hue, max, saturation, 4 * q), twoBack(k, hue, max, saturation, 4 * q + 2));
        }
        const __m512i colour = _mm512_inserti64x4(
            _mm512_castsi256_si512(_mm256_inserti128_si256(_mm256_castsi128_si256(quarter[0]), quarter[1], 1)),
            _mm256_inserti128_si256(_mm256_castsi128_si256(quarter[2]), quarter[3], 1), 1);
        // Alpha stays, and every transparent word keeps all of its bytes.
        const __m512i changed = _mm512_or_si512(_mm512_andnot_si512(alpha, colour), _mm512_and_si512(words, alpha));
        _mm512_storeu_si512(px, _mm512_mask_mov_epi32(words, _mm512_test_epi32_mask(words, alpha), changed));
    }
    return whole;
}

}  // namespace

std::uint32_t hsvAvx512(unsigned char* pixels, std::uint32_t count, const HsvKernel& k) {
    switch (k.rule) {
        case HsvSaturationRule::add: return hsvPass<HsvSaturationRule::add>(pixels, count, k);
        case HsvSaturationRule::table: return hsvPass<HsvSaturationRule::table>(pixels, count, k);
        case HsvSaturationRule::band: return hsvPass<HsvSaturationRule::band>(pixels, count, k);
        case HsvSaturationRule::step: return hsvPass<HsvSaturationRule::step>(pixels, count, k);
    }
    return 0;
}

}  // namespace x86
}  // namespace pelx04

#endif
