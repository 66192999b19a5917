// AVX2 HSV kernel: eight pixels a step, unaligned loads and stores. Built with
// -mavx2 alone (never -mfma: a fused multiply-add would change the doubles of
// the way back) and entered only when the CPU reports AVX2.
#include "color/hsv_kernels.hpp"

#if PELX04_X86
#include <immintrin.h>

namespace pelx04 {
namespace x86 {
namespace {

inline __m256i splat(std::int32_t v) { return _mm256_set1_epi32(v); }

template <int shift>
inline __m256i channelAt(__m256i words) {
    return _mm256_and_si256(_mm256_srli_epi32(words, shift), splat(0xFF));
}

// The hue rgbToHsv gives for channels 0..510, as an index 0..359. The
// quotient is formed in single precision: the true q = n / delta + offset has
// |n| ≤ 30600 and delta ≤ 510, so it is either a multiple of 1/2, which
// floats hold exactly (the sum too), or at least 1/(2 × 510) away from every
// multiple of 1/2, far beyond the float error (below 5e-5 up to 512). Either
// way its rounding, halves away from zero, is the one rgbToHsv gets from its
// doubles. Equal channels give delta 0 and difference 0 in the red case, so
// dividing by 1 gives the grey's hue 0.
inline __m256i hueOf(__m256i r, __m256i g, __m256i b) {
    const __m256i max = _mm256_max_epi32(r, _mm256_max_epi32(g, b));
    const __m256i min = _mm256_min_epi32(r, _mm256_min_epi32(g, b));
    const __m256i delta = _mm256_sub_epi32(max, min);
    const __m256i isRed = _mm256_cmpeq_epi32(max, r);
    const __m256i isGreen = _mm256_andnot_si256(isRed, _mm256_cmpeq_epi32(max, g));
    __m256i difference = _mm256_blendv_epi8(_mm256_sub_epi32(r, g), _mm256_sub_epi32(b, r), isGreen);
    difference = _mm256_blendv_epi8(difference, _mm256_sub_epi32(g, b), isRed);
    const __m256i offset = _mm256_andnot_si256(isRed, _mm256_blendv_epi8(splat(240), splat(120), isGreen));
    const __m256 q = _mm256_add_ps(_mm256_div_ps(_mm256_cvtepi32_ps(_mm256_mullo_epi32(difference, splat(60))),
                                                 _mm256_cvtepi32_ps(_mm256_max_epi32(delta, splat(1)))),
                                   _mm256_cvtepi32_ps(offset));
    // q lies within −60..300: truncation is exact and defined, and so is q − t.
    const __m256i t = _mm256_cvttps_epi32(q);
    const __m256 rest = _mm256_sub_ps(q, _mm256_cvtepi32_ps(t));
    const __m256i up = _mm256_castps_si256(_mm256_cmp_ps(rest, _mm256_set1_ps(0.5f), _CMP_GE_OQ));
    const __m256i down = _mm256_castps_si256(_mm256_cmp_ps(rest, _mm256_set1_ps(-0.5f), _CMP_LE_OQ));
    const __m256i hue = _mm256_add_epi32(_mm256_sub_epi32(t, up), down);
    return _mm256_add_epi32(hue, _mm256_and_si256(_mm256_srai_epi32(hue, 31), splat(360)));
}

// The masked form with an explicit source: the plain one reads an undefined
// register that GCC's headers leave uninitialised.
inline __m256d gatherOffsets(const double* table, __m128i index) {
    const __m256d all = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
    return _mm256_mask_i32gather_pd(_mm256_setzero_pd(), table, index, all, 8);
}

// std::round exactly, the sign of a zero included: x − trunc(x) is exact for
// every double, and only its comparison with ±0.5 moves the result.
inline __m256d roundHalfAway(__m256d x) {
    const __m256d t = _mm256_round_pd(x, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
    const __m256d rest = _mm256_sub_pd(x, t);
    const __m256d one = _mm256_set1_pd(1.0);
    __m256d r = _mm256_blendv_pd(t, _mm256_add_pd(t, one), _mm256_cmp_pd(rest, _mm256_set1_pd(0.5), _CMP_GE_OQ));
    r = _mm256_blendv_pd(r, _mm256_sub_pd(t, one), _mm256_cmp_pd(rest, _mm256_set1_pd(-0.5), _CMP_LE_OQ));
    return r;
}

// Below 0 becomes 0 and above 255 becomes 255; s is never NaN or −0 here.
inline __m256d limitComponent(__m256d x) {
    return _mm256_min_pd(_mm256_max_pd(x, _mm256_setzero_pd()), _mm256_set1_pd(255.0));
}

// s lies in 0..255, so every index is 0..255 and its conversion defined.
template <HsvSaturationRule rule>
inline __m256d changedSaturation(__m256d s, const HsvKernel& k) {
    switch (rule) {
        case HsvSaturationRule::add: return limitComponent(_mm256_add_pd(s, _mm256_set1_pd(k.addend)));
        case HsvSaturationRule::table: {
            const __m256d offset = gatherOffsets(k.offsets, _mm256_cvttpd_epi32(s));
            return limitComponent(_mm256_add_pd(s, offset));
        }
        case HsvSaturationRule::band: {
            const __m256d band = roundHalfAway(_mm256_div_pd(s, _mm256_set1_pd(k.divisor)));
            const __m256d offset = gatherOffsets(k.offsets, _mm256_cvttpd_epi32(band));
            return limitComponent(_mm256_add_pd(s, offset));
        }
        case HsvSaturationRule::step: {
            const __m256d divisor = _mm256_set1_pd(k.divisor);
            return _mm256_mul_pd(roundHalfAway(_mm256_div_pd(s, divisor)), divisor);
        }
    }
    return s;
}

// (delta × 255) / max, four lanes from the low or high half; a grey has delta
// 0 and divides 0 by max, or by 1 for black.
inline __m256d saturationOf(__m128i numerator, __m128i denominator) {
    return _mm256_div_pd(_mm256_cvtepi32_pd(numerator), _mm256_cvtepi32_pd(denominator));
}

// One pixel's B, G, R (and a dropped spare) as ((1 − S × c) × V) × 255,
// truncated: S ≤ 2 and V ≤ 2 keep every lane within ±1600.
inline __m128i pixelBack(const double* c, const double* saturation, const double* value) {
    const __m256d s = _mm256_broadcast_sd(saturation), v = _mm256_broadcast_sd(value);
    const __m256d one = _mm256_set1_pd(1.0);
    const __m256d x = _mm256_sub_pd(one, _mm256_mul_pd(s, _mm256_loadu_pd(c)));
    return _mm256_cvttpd_epi32(_mm256_mul_pd(_mm256_mul_pd(x, v), _mm256_set1_pd(255.0)));
}

// Every load and store here is the unaligned form, the kernel's tables and
// its stack arrays included: some Windows toolchains give locals less than
// their declared 32-byte alignment.
template <HsvSaturationRule rule>
std::uint32_t hsvPass(unsigned char* pixels, std::uint32_t count, const HsvKernel& k) {
    const std::uint32_t whole = count & ~7u;
    const __m256d scale = _mm256_set1_pd(0.00392156862);
    alignas(32) std::int32_t hue[8], max[8];
    alignas(32) double saturation[8];
    for (std::uint32_t i = 0; i < whole; i += 8) {
        unsigned char* p = pixels + std::size_t{i} * 4u;
        const __m256i words = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        const __m256i r = channelAt<16>(words), g = channelAt<8>(words), b = channelAt<0>(words);
        const __m256i top = _mm256_max_epi32(r, _mm256_max_epi32(g, b));
        const __m256i delta = _mm256_sub_epi32(top, _mm256_min_epi32(r, _mm256_min_epi32(g, b)));
        if (k.roundedHue) {
            const __m256i rq = _mm256_i32gather_epi32(k.channel, r, 4);
            const __m256i gq = _mm256_i32gather_epi32(k.channel, g, 4);
            const __m256i bq = _mm256_i32gather_epi32(k.channel, b, 4);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(hue), hueOf(rq, gq, bq));
        } else {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(hue), hueOf(r, g, b));
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(max), top);
        const __m256i numerator = _mm256_mullo_epi32(delta, splat(255));
        const __m256i denominator = _mm256_max_epi32(top, splat(1));
        const __m256d low = saturationOf(_mm256_castsi256_si128(numerator), _mm256_castsi256_si128(denominator));
        const __m256d high =
            saturationOf(_mm256_extracti128_si256(numerator, 1), _mm256_extracti128_si256(denominator, 1));
        _mm256_storeu_pd(saturation, _mm256_mul_pd(changedSaturation<rule>(low, k), scale));
        _mm256_storeu_pd(saturation + 4, _mm256_mul_pd(changedSaturation<rule>(high, k), scale));

        __m128i back[8];
        for (int j = 0; j < 8; ++j) back[j] = pixelBack(k.back[hue[j]], saturation + j, k.value + max[j]);
        // Saturating packs clamp each channel to 0..255 and lay the lanes out
        // as the pixels' bytes B, G, R, spare.
        const __m128i first = _mm_packus_epi16(_mm_packs_epi32(back[0], back[1]), _mm_packs_epi32(back[2], back[3]));
        const __m128i second = _mm_packus_epi16(_mm_packs_epi32(back[4], back[5]), _mm_packs_epi32(back[6], back[7]));
        const __m256i result = _mm256_inserti128_si256(_mm256_castsi128_si256(first), second, 1);
        // The alpha byte and every transparent word keep their old bytes.
        const __m256i alpha = splat(static_cast<std::int32_t>(0xFF000000u));
        const __m256i keep =
            _mm256_or_si256(alpha, _mm256_cmpeq_epi32(_mm256_and_si256(words, alpha), _mm256_setzero_si256()));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), _mm256_blendv_epi8(result, words, keep));
    }
    return whole;
}

}  // namespace

std::uint32_t hsvAvx2(unsigned char* pixels, std::uint32_t count, const HsvKernel& k) {
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
