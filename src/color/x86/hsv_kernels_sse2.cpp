// SSE2 HSV kernel: four pixels a step, the doubles two at a time. SSE2 is
// the x86 floor, so this file needs no flags of its own; what SSE2 lacks
// (32-bit max, multiply and blend, rounding, gathers) is built from what it has.
#include "color/hsv_kernels.hpp"

#if PELX04_X86
#include <emmintrin.h>

namespace pelx04 {
namespace x86 {
namespace {

inline __m128i splat(std::int32_t v) { return _mm_set1_epi32(v); }

inline __m128i select(__m128i mask, __m128i ifSet, __m128i ifClear) {
    return _mm_or_si128(_mm_and_si128(mask, ifSet), _mm_andnot_si128(mask, ifClear));
}

// Channels here are 0..510, so each 32-bit lane is a 16-bit value over a zero
// half, and the 16-bit max and min serve.
inline __m128i maxOf(__m128i a, __m128i b) { return _mm_max_epi16(a, b); }
inline __m128i minOf(__m128i a, __m128i b) { return _mm_min_epi16(a, b); }

// The hue rgbToHsv gives for channels 0..510, as an index 0..359, formed in
// single precision as in the AVX2 kernel: the true quotient plus offset is a
// multiple of 1/2 (held exactly) or at least 1/1020 away from one, beyond the
// float error, so its rounding is the one of the doubles.
inline __m128i hueOf(__m128i r, __m128i g, __m128i b) {
    const __m128i max = maxOf(r, maxOf(g, b)), min = minOf(r, minOf(g, b));
    const __m128i delta = _mm_sub_epi32(max, min);
    const __m128i isRed = _mm_cmpeq_epi32(max, r);
    const __m128i isGreen = _mm_andnot_si128(isRed, _mm_cmpeq_epi32(max, g));
    const __m128i difference =
        select(isRed, _mm_sub_epi32(g, b), select(isGreen, _mm_sub_epi32(b, r), _mm_sub_epi32(r, g)));
    const __m128i offset = _mm_andnot_si128(isRed, select(isGreen, splat(120), splat(240)));
    const __m128i times60 = _mm_sub_epi32(_mm_slli_epi32(difference, 6), _mm_slli_epi32(difference, 2));
    const __m128 q = _mm_add_ps(_mm_div_ps(_mm_cvtepi32_ps(times60), _mm_cvtepi32_ps(maxOf(delta, splat(1)))),
                                _mm_cvtepi32_ps(offset));
    // q lies within −60..300: truncation is exact and defined, and so is q − t.
    const __m128i t = _mm_cvttps_epi32(q);
    const __m128 rest = _mm_sub_ps(q, _mm_cvtepi32_ps(t));
    const __m128i up = _mm_castps_si128(_mm_cmpge_ps(rest, _mm_set1_ps(0.5f)));
    const __m128i down = _mm_castps_si128(_mm_cmple_ps(rest, _mm_set1_ps(-0.5f)));
    const __m128i hue = _mm_add_epi32(_mm_sub_epi32(t, up), down);
    return _mm_add_epi32(hue, _mm_and_si128(_mm_srai_epi32(hue, 31), splat(360)));
}

// std::round for |x| ≤ 255 (s / divisor with a divisor of magnitude 1 or
// more): x − trunc(x) is exact. A zero result may lose its sign, which no
// caller sees (it is truncated, or multiplied into a saturation S that only
// enters as 1 − S × c).
inline __m128d roundHalfAway(__m128d x) {
    const __m128d t = _mm_cvtepi32_pd(_mm_cvttpd_epi32(x));
    const __m128d rest = _mm_sub_pd(x, t);
    const __m128d one = _mm_set1_pd(1.0);
    const __m128d up = _mm_and_pd(_mm_cmpge_pd(rest, _mm_set1_pd(0.5)), one);
    const __m128d down = _mm_and_pd(_mm_cmple_pd(rest, _mm_set1_pd(-0.5)), one);
    return _mm_sub_pd(_mm_add_pd(t, up), down);
}

inline __m128d limitComponent(__m128d x) {
    return _mm_min_pd(_mm_max_pd(x, _mm_setzero_pd()), _mm_set1_pd(255.0));
}

// Two table entries by the truncated lanes of x (0..255).
inline __m128d lookUp(const double* table, __m128d x) {
    alignas(16) std::int32_t index[4];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(index), _mm_cvttpd_epi32(x));
    return _mm_set_pd(table[index[1]], table[index[0]]);
}

template <HsvSaturationRule rule>
inline __m128d changedSaturation(__m128d s, const HsvKernel& k) {
    switch (rule) {
        case HsvSaturationRule::add: return limitComponent(_mm_add_pd(s, _mm_set1_pd(k.addend)));
        case HsvSaturationRule::table: return limitComponent(_mm_add_pd(s, lookUp(k.offsets, s)));
        case HsvSaturationRule::band: {
            const __m128d band = roundHalfAway(_mm_div_pd(s, _mm_set1_pd(k.divisor)));
            return limitComponent(_mm_add_pd(s, lookUp(k.offsets, band)));
        }
        case HsvSaturationRule::step: {
            const __m128d divisor = _mm_set1_pd(k.divisor);
            return _mm_mul_pd(roundHalfAway(_mm_div_pd(s, divisor)), divisor);
        }
    }
    return s;
}

// One pixel's B, G, R and spare as ((1 − S × c) × V) × 255, truncated: S ≤ 2
// and V ≤ 2 keep every lane within ±1600.
inline __m128i pixelBack(const double* c, const double* saturation, const double* value) {
    const __m128d s = _mm_load1_pd(saturation), v = _mm_load1_pd(value);
    const __m128d one = _mm_set1_pd(1.0), c255 = _mm_set1_pd(255.0);
    const __m128d bg = _mm_mul_pd(_mm_mul_pd(_mm_sub_pd(one, _mm_mul_pd(s, _mm_loadu_pd(c))), v), c255);
    const __m128d rs = _mm_mul_pd(_mm_mul_pd(_mm_sub_pd(one, _mm_mul_pd(s, _mm_loadu_pd(c + 2))), v), c255);
    return _mm_unpacklo_epi64(_mm_cvttpd_epi32(bg), _mm_cvttpd_epi32(rs));
}

// Every load and store here is the unaligned form: 32-bit Windows keeps its
// stack at 4 bytes, and a local's declared alignment is not always honoured.
template <HsvSaturationRule rule>
std::uint32_t hsvPass(unsigned char* pixels, std::uint32_t count, const HsvKernel& k) {
    const std::uint32_t whole = count & ~3u;
    const __m128d scale = _mm_set1_pd(0.00392156862);
    const __m128i byteMask = splat(0xFF);
    alignas(16) std::int32_t hue[4], max[4], channel[12];
    alignas(16) double saturation[4];
    for (std::uint32_t i = 0; i < whole; i += 4) {
        unsigned char* p = pixels + std::size_t{i} * 4u;
        const __m128i words = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i r = _mm_and_si128(_mm_srli_epi32(words, 16), byteMask);
        const __m128i g = _mm_and_si128(_mm_srli_epi32(words, 8), byteMask);
        const __m128i b = _mm_and_si128(words, byteMask);
        const __m128i top = maxOf(r, maxOf(g, b));
        const __m128i delta = _mm_sub_epi32(top, minOf(r, minOf(g, b)));
        if (k.roundedHue) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(channel), r);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(channel + 4), g);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(channel + 8), b);
            for (std::int32_t& c : channel) c = k.channel[c];
            _mm_storeu_si128(reinterpret_cast<__m128i*>(hue),
                            hueOf(_mm_loadu_si128(reinterpret_cast<const __m128i*>(channel)),
                                  _mm_loadu_si128(reinterpret_cast<const __m128i*>(channel + 4)),
                                  _mm_loadu_si128(reinterpret_cast<const __m128i*>(channel + 8))));
        } else {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(hue), hueOf(r, g, b));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(max), top);
        // (delta × 255) / max; a grey divides 0 by max, or by 1 for black.
        const __m128i numerator = _mm_sub_epi32(_mm_slli_epi32(delta, 8), delta);
        const __m128i denominator = maxOf(top, splat(1));
        const __m128d low = _mm_div_pd(_mm_cvtepi32_pd(numerator), _mm_cvtepi32_pd(denominator));
        const __m128d high = _mm_div_pd(_mm_cvtepi32_pd(_mm_srli_si128(numerator, 8)),
                                        _mm_cvtepi32_pd(_mm_srli_si128(denominator, 8)));
        _mm_storeu_pd(saturation, _mm_mul_pd(changedSaturation<rule>(low, k), scale));
        _mm_storeu_pd(saturation + 2, _mm_mul_pd(changedSaturation<rule>(high, k), scale));

        __m128i back[4];
        for (int j = 0; j < 4; ++j) back[j] = pixelBack(k.back[hue[j]], saturation + j, k.value + max[j]);
        // Saturating packs clamp each channel to 0..255 and lay the lanes out
        // as the pixels' bytes B, G, R, spare.
        const __m128i result =
            _mm_packus_epi16(_mm_packs_epi32(back[0], back[1]), _mm_packs_epi32(back[2], back[3]));
        // The alpha byte and every transparent word keep their old bytes.
        const __m128i alpha = splat(static_cast<std::int32_t>(0xFF000000u));
        const __m128i keep = _mm_or_si128(alpha, _mm_cmpeq_epi32(_mm_and_si128(words, alpha), _mm_setzero_si128()));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), select(keep, words, result));
    }
    return whole;
}

}  // namespace

std::uint32_t hsvSse2(unsigned char* pixels, std::uint32_t count, const HsvKernel& k) {
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
