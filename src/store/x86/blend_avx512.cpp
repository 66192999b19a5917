// AVX-512 blend: the fixed-point plan of blend_kernels.cpp, sixteen pixels a
// step. Built with the AVX-512 flags; the fixed point has no multiply or add
// of doubles to contract.
#include "store/blend_kernels.hpp"

#include "core/cpu_features.hpp"

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

// base + round(difference * weight / 2^15) for 32 channels in 16-bit lanes,
// and whether the product's low 15 bits lie in the plan's window.
inline __m512i fixedChannels(__m512i base, __m512i other, __m512i weight, __m512i flagLow, __m512i flagWidth,
                             __mmask32* flagged) {
    const __m512i difference = _mm512_sub_epi16(other, base);
    const __m512i lowBits = _mm512_and_si512(_mm512_mullo_epi16(difference, weight), _mm512_set1_epi16(0x7FFF));
    *flagged = _mm512_cmple_epu16_mask(_mm512_sub_epi16(lowBits, flagLow), flagWidth);
    return _mm512_add_epi16(base, _mm512_mulhrs_epi16(difference, weight));
}

template <bool anyFlagged>
std::uint32_t blendFixed(unsigned char* pixels, std::uint32_t count, const std::uint32_t* stored,
                         const BlendFixedPlan& plan) {
    const __m512i weight = _mm512_set1_epi16(plan.weight), zero = _mm512_setzero_si512();
    const __m512i flagLow = _mm512_set1_epi16(static_cast<short>(plan.flagLow));
    const __m512i flagWidth = _mm512_set1_epi16(static_cast<short>(plan.flagWidth));
    const __m512i alpha = _mm512_set1_epi32(static_cast<int>(0xFF000000u));
    const std::uint32_t whole = count & ~15u;
    for (std::uint32_t i = 0; i < whole; i += 16) {
        unsigned char* px = pixels + std::size_t{i} * 4u;
        const unsigned char* st = reinterpret_cast<const unsigned char*>(stored + i);
        const __m512i cur = _mm512_loadu_si512(px), sto = _mm512_loadu_si512(st);
        const __m512i base = plan.frameIsBase ? cur : sto, other = plan.frameIsBase ? sto : cur;
        __mmask32 flaggedLo, flaggedHi;
        const __m512i lo = fixedChannels(_mm512_unpacklo_epi8(base, zero), _mm512_unpacklo_epi8(other, zero), weight,
                                         flagLow, flagWidth, &flaggedLo);
        const __m512i hi = fixedChannels(_mm512_unpackhi_epi8(base, zero), _mm512_unpackhi_epi8(other, zero), weight,
                                         flagLow, flagWidth, &flaggedHi);
        // Two transparent pixels keep the frame's word.
        const __mmask16 keep = _mm512_testn_epi32_mask(_mm512_or_si512(cur, sto), alpha);
        __m512i words = _mm512_mask_mov_epi32(_mm512_packus_epi16(lo, hi), keep, cur);
        if (anyFlagged) {
            // The flags in the packed bytes' order, kept pixels left out.
            const __m512i flags = _mm512_packs_epi16(_mm512_movm_epi16(flaggedLo), _mm512_movm_epi16(flaggedHi));
            const __mmask64 mask = _mm512_movepi8_mask(_mm512_maskz_mov_epi32(static_cast<__mmask16>(~keep), flags));
            _mm512_storeu_si512(px, words);
            if (mask != 0) {
                // Flagged bytes come from the table, one at a time: gathering
                // them sixteen at once measured twice as slow.
                alignas(64) unsigned char frame[64];
                _mm512_storeu_si512(frame, cur);
                std::uint64_t m = mask;
                do {
                    const int j = __builtin_ctzll(m);
                    px[j] = plan.table[frame[j] << 8 | st[j]];
                    m &= m - 1;
                } while (m != 0);
            }
            continue;
        }
        _mm512_storeu_si512(px, words);
    }
    return whole;
}

}  // namespace

std::uint32_t pictureBlendFixedAvx512(unsigned char* pixels, std::uint32_t count, const std::uint32_t* stored,
                                      const BlendFixedPlan& plan) {
    return plan.anyFlagged ? blendFixed<true>(pixels, count, stored, plan)
                           : blendFixed<false>(pixels, count, stored, plan);
}

}  // namespace x86
}  // namespace pelx04

#endif
