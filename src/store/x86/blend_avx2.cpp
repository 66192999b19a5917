// AVX2 blends. The fixed-point one runs a plan checked over every channel
// pair (blend_kernels.cpp); the double one, for ratios without a plan, does
// each pixel's four channels as four doubles, the same products and sum as
// pictureBlendPixel. Built with -mavx2 alone (never -mfma: a fused
// multiply-add would change the sum).
#include "store/blend_kernels.hpp"

#include "core/cpu_features.hpp"

#if PELX04_X86
#include <immintrin.h>

namespace pelx04 {
namespace x86 {
namespace {

// clampChannel(truncateToInt32(round(x))) for four doubles. Clamping to
// 0..255 first changes no result (round is monotone and keeps 0 and 255), and
// the operand order makes NaN give 0 as the scalar conversion does; then
// round half away from zero of a non-negative double: truncate, and add one
// where the exact remainder is at least 0.5.
inline __m128i blendChannels(__m128i current, __m128i stored, __m256d ratio, __m256d complement) {
    const __m256d mixed = _mm256_add_pd(_mm256_mul_pd(_mm256_cvtepi32_pd(_mm_cvtepu8_epi32(current)), ratio),
                                        _mm256_mul_pd(_mm256_cvtepi32_pd(_mm_cvtepu8_epi32(stored)), complement));
    const __m256d clamped = _mm256_max_pd(_mm256_min_pd(_mm256_set1_pd(255.0), mixed), _mm256_setzero_pd());
    const __m256d t = _mm256_round_pd(clamped, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
    const __m256d up = _mm256_cmp_pd(_mm256_sub_pd(clamped, t), _mm256_set1_pd(0.5), _CMP_GE_OQ);
    return _mm256_cvttpd_epi32(_mm256_add_pd(t, _mm256_and_pd(up, _mm256_set1_pd(1.0))));
}

}  // namespace

std::uint32_t pictureBlendAvx2(unsigned char* pixels, std::uint32_t count, const std::uint32_t* stored,
                               const PictureBlendParams& p) {
    const __m256d ratio = _mm256_set1_pd(p.ratio), complement = _mm256_set1_pd(p.complement);
    const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    const std::uint32_t whole = count & ~3u;
    for (std::uint32_t i = 0; i < whole; i += 4) {
        unsigned char* px = pixels + std::size_t{i} * 4u;
        const __m128i cur = _mm_loadu_si128(reinterpret_cast<const __m128i*>(px));
        const __m128i sto = _mm_loadu_si128(reinterpret_cast<const __m128i*>(stored + i));
        const __m128i q0 = blendChannels(cur, sto, ratio, complement);
        const __m128i q1 = blendChannels(_mm_srli_si128(cur, 4), _mm_srli_si128(sto, 4), ratio, complement);
        const __m128i q2 = blendChannels(_mm_srli_si128(cur, 8), _mm_srli_si128(sto, 8), ratio, complement);
        const __m128i q3 = blendChannels(_mm_srli_si128(cur, 12), _mm_srli_si128(sto, 12), ratio, complement);
        const __m128i words = _mm_packus_epi16(_mm_packus_epi32(q0, q1), _mm_packus_epi32(q2, q3));
        // Two transparent pixels keep the frame's word.
        const __m128i keep = _mm_cmpeq_epi32(_mm_and_si128(_mm_or_si128(cur, sto), alpha), _mm_setzero_si128());
        _mm_storeu_si128(reinterpret_cast<__m128i*>(px), _mm_blendv_epi8(words, cur, keep));
    }
    return whole;
}

namespace {

// base + round(difference * weight / 2^15) for 16 channels in 16-bit lanes;
// mulhrs rounds the 15-bit fraction up at a half, as the plan does. The
// product's low 15 bits go to *lowBits.
inline __m256i fixedChannels(__m256i base, __m256i other, __m256i weight, __m256i* lowBits) {
    const __m256i difference = _mm256_sub_epi16(other, base);
    *lowBits = _mm256_and_si256(_mm256_mullo_epi16(difference, weight), _mm256_set1_epi16(0x7FFF));
    return _mm256_add_epi16(base, _mm256_mulhrs_epi16(difference, weight));
}

// Lanes whose low bits lie in flagLow..flagLow+flagWidth, as 16-bit masks.
inline __m256i flaggedLanes(__m256i lowBits, __m256i flagLow, __m256i flagWidth) {
    const __m256i offset = _mm256_sub_epi16(lowBits, flagLow);
    return _mm256_cmpeq_epi16(_mm256_min_epu16(offset, flagWidth), offset);
}

template <bool anyFlagged>
std::uint32_t blendFixed(unsigned char* pixels, std::uint32_t count, const std::uint32_t* stored,
                         const BlendFixedPlan& plan) {
    const __m256i weight = _mm256_set1_epi16(plan.weight), zero = _mm256_setzero_si256();
    const __m256i flagLow = _mm256_set1_epi16(static_cast<short>(plan.flagLow));
    const __m256i flagWidth = _mm256_set1_epi16(static_cast<short>(plan.flagWidth));
    const __m256i alpha = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
    const std::uint32_t whole = count & ~7u;
    for (std::uint32_t i = 0; i < whole; i += 8) {
        unsigned char* px = pixels + std::size_t{i} * 4u;
        const unsigned char* st = reinterpret_cast<const unsigned char*>(stored + i);
        const __m256i cur = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(px));
        const __m256i sto = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(st));
        const __m256i base = plan.frameIsBase ? cur : sto, other = plan.frameIsBase ? sto : cur;
        __m256i lowBitsLo, lowBitsHi;
        const __m256i lo = fixedChannels(_mm256_unpacklo_epi8(base, zero), _mm256_unpacklo_epi8(other, zero), weight,
                                         &lowBitsLo);
        const __m256i hi = fixedChannels(_mm256_unpackhi_epi8(base, zero), _mm256_unpackhi_epi8(other, zero), weight,
                                         &lowBitsHi);
        // The packs undo the unpacks' order; saturation is the clamp.
        const __m256i words = _mm256_packus_epi16(lo, hi);
        // Two transparent pixels keep the frame's word.
        const __m256i keep = _mm256_cmpeq_epi32(_mm256_and_si256(_mm256_or_si256(cur, sto), alpha), zero);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(px), _mm256_blendv_epi8(words, cur, keep));
        if (!anyFlagged) continue;
        const __m256i flags = _mm256_packs_epi16(flaggedLanes(lowBitsLo, flagLow, flagWidth),
                                                 flaggedLanes(lowBitsHi, flagLow, flagWidth));
        auto mask = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_andnot_si256(keep, flags)));
        if (mask == 0) continue;
        alignas(32) unsigned char frame[32];
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(frame), cur);
        do {
            const int j = __builtin_ctz(mask);
            px[j] = plan.table[frame[j] << 8 | st[j]];
            mask &= mask - 1;
        } while (mask != 0);
    }
    return whole;
}

}  // namespace

std::uint32_t pictureBlendFixedAvx2(unsigned char* pixels, std::uint32_t count, const std::uint32_t* stored,
                                    const BlendFixedPlan& plan) {
    return plan.anyFlagged ? blendFixed<true>(pixels, count, stored, plan)
                           : blendFixed<false>(pixels, count, stored, plan);
}

}  // namespace x86
}  // namespace pelx04

#endif
