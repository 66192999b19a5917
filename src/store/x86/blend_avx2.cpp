// AVX2 blend: each pixel's four channels as four doubles, the same products
// and sum as pictureBlendPixel. Built with -mavx2 alone (never -mfma: a fused
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

}  // namespace x86
}  // namespace pelx04

#endif
