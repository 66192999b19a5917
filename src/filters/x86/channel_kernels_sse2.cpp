// SSE2 kernels: four pixels a step, unaligned loads and stores (a host buffer
// promises bytes only). SSE2 is the x86 baseline, so this file needs no flags
// of its own.
#include "filters/channel_kernels.hpp"

#if PELX04_SSE2
#include <emmintrin.h>

#include "core/wasm/sse2_translation.hpp"

namespace pelx04 {
namespace x86 {
namespace {

inline __m128i loadPixels(const unsigned char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void storePixels(unsigned char* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

// All ones in the words whose alpha is 0.
inline __m128i transparentMask(__m128i x) {
    return _mm_cmpeq_epi32(_mm_and_si128(x, _mm_set1_epi32(static_cast<int>(0xFF000000u))), _mm_setzero_si128());
}

// Transparent words keep their old value.
inline __m128i keepTransparent(__m128i x, __m128i result) {
    const __m128i t = transparentMask(x);
    return _mm_or_si128(_mm_and_si128(t, x), _mm_andnot_si128(t, result));
}

inline __m128i bytePattern(const std::uint8_t b[4]) {
    return _mm_set1_epi32(static_cast<int>(std::uint32_t{b[0]} | std::uint32_t{b[1]} << 8 |
                                           std::uint32_t{b[2]} << 16 | std::uint32_t{b[3]} << 24));
}

inline __m128i lanePattern(const std::uint16_t v[4]) {
    return _mm_setr_epi16(static_cast<short>(v[0]), static_cast<short>(v[1]), static_cast<short>(v[2]),
                          static_cast<short>(v[3]), static_cast<short>(v[0]), static_cast<short>(v[1]),
                          static_cast<short>(v[2]), static_cast<short>(v[3]));
}

inline __m128i saturate(__m128i x, __m128i add, __m128i sub) { return _mm_subs_epu8(_mm_adds_epu8(x, add), sub); }

}  // namespace

std::uint32_t offsetSse2(unsigned char* pixels, std::uint32_t count, const ByteOffsets& o) {
    const __m128i add = bytePattern(o.add), sub = bytePattern(o.sub);
    const std::uint32_t whole = count & ~3u;
    for (std::uint32_t i = 0; i < whole; i += 4) {
        unsigned char* p = pixels + std::size_t{i} * 4u;
        const __m128i x = loadPixels(p);
        storePixels(p, keepTransparent(x, saturate(x, add, sub)));
    }
    return whole;
}

std::uint32_t swapSse2(unsigned char* pixels, std::uint32_t count, const SwapKernel& k) {
    const __m128i add = bytePattern(k.offsets.add), sub = bytePattern(k.offsets.sub);
    const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    // Per result byte: how far its source byte moves down, and whether it has one.
    __m128i shift[3], present[3];
    for (int out = 0; out < 3; ++out) {
        const bool has = k.sourceOf[out] < 3;
        shift[out] = _mm_cvtsi32_si128(has ? 8 * k.sourceOf[out] : 0);
        present[out] = _mm_set1_epi32(has ? 0xFF : 0);
    }
    const std::uint32_t whole = count & ~3u;
    for (std::uint32_t i = 0; i < whole; i += 4) {
        unsigned char* p = pixels + std::size_t{i} * 4u;
        const __m128i x = loadPixels(p);
        const __m128i s = saturate(x, add, sub);
        const __m128i b = _mm_and_si128(_mm_srl_epi32(s, shift[0]), present[0]);
        const __m128i g = _mm_and_si128(_mm_srl_epi32(s, shift[1]), present[1]);
        const __m128i r = _mm_and_si128(_mm_srl_epi32(s, shift[2]), present[2]);
        __m128i result = _mm_or_si128(_mm_and_si128(x, alpha), b);
        result = _mm_or_si128(result, _mm_slli_epi32(g, 8));
        result = _mm_or_si128(result, _mm_slli_epi32(r, 16));
        storePixels(p, keepTransparent(x, result));
    }
    return whole;
}

std::uint32_t bandSse2(unsigned char* pixels, std::uint32_t count, const BandKernel& k) {
    const __m128i magic = lanePattern(k.magic), keep = lanePattern(k.keep), mult = lanePattern(k.mult);
    const __m128i zero = _mm_setzero_si128(), top = _mm_set1_epi16(255);
    const std::uint32_t whole = count & ~3u;
    for (std::uint32_t i = 0; i < whole; i += 4) {
        unsigned char* p = pixels + std::size_t{i} * 4u;
        const __m128i x = loadPixels(p);
        __m128i half[2] = {_mm_unpacklo_epi8(x, zero), _mm_unpackhi_epi8(x, zero)};
        for (__m128i& v : half) {
            const __m128i band = _mm_or_si128(_mm_mulhi_epu16(v, magic), _mm_and_si128(v, keep));
            // band × mult ≤ 255 × 255 fits 16 unsigned bits; min with 255 without SSE4.1.
            const __m128i product = _mm_mullo_epi16(band, mult);
            v = _mm_sub_epi16(product, _mm_subs_epu16(product, top));
        }
        storePixels(p, keepTransparent(x, _mm_packus_epi16(half[0], half[1])));
    }
    return whole;
}

namespace {

// Round half away from zero of four non-negative doubles below 2^31 (two
// registers), as four 32-bit integers: truncate, and add one where the exact
// remainder x − trunc(x) is at least 0.5.
inline __m128i roundNonNegative4(__m128d lo, __m128d hi) {
    const __m128d half = _mm_set1_pd(0.5), one = _mm_set1_pd(1.0);
    const __m128d tlo = _mm_cvtepi32_pd(_mm_cvttpd_epi32(lo));
    const __m128d thi = _mm_cvtepi32_pd(_mm_cvttpd_epi32(hi));
    const __m128d rlo = _mm_add_pd(tlo, _mm_and_pd(_mm_cmpge_pd(_mm_sub_pd(lo, tlo), half), one));
    const __m128d rhi = _mm_add_pd(thi, _mm_and_pd(_mm_cmpge_pd(_mm_sub_pd(hi, thi), half), one));
    return _mm_unpacklo_epi64(_mm_cvttpd_epi32(rlo), _mm_cvttpd_epi32(rhi));
}

// (cr × R + cg × G) + cb × B for four pixels, in that order, rounded.
inline __m128i luma4(__m128i r, __m128i g, __m128i b, double cr, double cg, double cb) {
    const __m128d vr = _mm_set1_pd(cr), vg = _mm_set1_pd(cg), vb = _mm_set1_pd(cb);
    const __m128d rlo = _mm_cvtepi32_pd(r), rhi = _mm_cvtepi32_pd(_mm_srli_si128(r, 8));
    const __m128d glo = _mm_cvtepi32_pd(g), ghi = _mm_cvtepi32_pd(_mm_srli_si128(g, 8));
    const __m128d blo = _mm_cvtepi32_pd(b), bhi = _mm_cvtepi32_pd(_mm_srli_si128(b, 8));
    const __m128d lo = _mm_add_pd(_mm_add_pd(_mm_mul_pd(vr, rlo), _mm_mul_pd(vg, glo)), _mm_mul_pd(vb, blo));
    const __m128d hi = _mm_add_pd(_mm_add_pd(_mm_mul_pd(vr, rhi), _mm_mul_pd(vg, ghi)), _mm_mul_pd(vb, bhi));
    return roundNonNegative4(lo, hi);
}

// Modes 5 and 6 in integers and floats where that is provably the same as the
// doubles (the reasoning is beside lumaFast8 in channel_kernels_avx2.cpp), and
// the doubles for any four pixels among which one sum is an exact half.
template <int Mode>
inline __m128i lumaFast4(__m128i x, __m128i r, __m128i g, __m128i b) {
    constexpr int wR = Mode == 5 ? 2126 : 299, wG = Mode == 5 ? 7152 : 587, wB = Mode == 5 ? 722 : 114;
    constexpr float divisor = Mode == 5 ? 10000.0f : 1000.0f;
    constexpr float bias = Mode == 5 ? 5001.0f : 500.5f, threshold = Mode == 5 ? 2e-4f : 1e-3f;
    const __m128i pairs = _mm_set1_epi32(0x00FF00FF);
    // B and R sit in the two 16-bit halves of x & 0x00FF00FF, G (beside A) in
    // those of x >> 8: two multiply-adds give B·wB + R·wR and G·wG.
    const __m128i br = _mm_madd_epi16(_mm_and_si128(x, pairs), _mm_set1_epi32(wB | wR << 16));
    const __m128i ga = _mm_madd_epi16(_mm_and_si128(_mm_srli_epi32(x, 8), pairs), _mm_set1_epi32(wG));
    const __m128 n = _mm_add_ps(_mm_cvtepi32_ps(_mm_add_epi32(br, ga)), _mm_set1_ps(bias));
    const __m128 f = _mm_mul_ps(n, _mm_set1_ps(1.0f / divisor));
    const __m128i q = _mm_cvttps_epi32(f);
    const __m128 tie = _mm_cmplt_ps(_mm_sub_ps(f, _mm_cvtepi32_ps(q)), _mm_set1_ps(threshold));
    if (_mm_movemask_ps(tie) == 0) return q;
    return Mode == 5 ? luma4(r, g, b, 0.2126, 0.7152, 0.0722) : luma4(r, g, b, 0.299, 0.587, 0.114);
}

// The grey value 0..255 in the low byte of each word, the other bytes 0.
template <int Mode>
inline __m128i greyBase4(__m128i x) {
    const __m128i low = _mm_set1_epi32(0xFF);
    switch (Mode) {
        case 1: return _mm_and_si128(_mm_srli_epi32(x, 16), low);
        case 2: return _mm_and_si128(_mm_srli_epi32(x, 8), low);
        case 3: return _mm_and_si128(x, low);
        case 4: {
            const __m128i sum = _mm_add_epi32(_mm_add_epi32(_mm_and_si128(x, low), _mm_and_si128(_mm_srli_epi32(x, 8), low)),
                                              _mm_and_si128(_mm_srli_epi32(x, 16), low));
            // sum ≤ 765 sits in the low 16-bit half of each word: sum × 21846 >> 16
            // is sum / 3 truncated for every such sum.
            return _mm_mulhi_epu16(sum, _mm_set1_epi32(21846));
        }
        case 5:
        case 6: {
            const __m128i r = _mm_and_si128(_mm_srli_epi32(x, 16), low);
            const __m128i g = _mm_and_si128(_mm_srli_epi32(x, 8), low);
            const __m128i b = _mm_and_si128(x, low);
            return lumaFast4<Mode == 5 ? 5 : 6>(x, r, g, b);
        }
        case 7: return _mm_and_si128(_mm_max_epu8(_mm_max_epu8(x, _mm_srli_epi32(x, 8)), _mm_srli_epi32(x, 16)), low);
        default: return _mm_and_si128(_mm_min_epu8(_mm_min_epu8(x, _mm_srli_epi32(x, 8)), _mm_srli_epi32(x, 16)), low);
    }
}

template <int Mode>
std::uint32_t greyPass(unsigned char* pixels, std::uint32_t count, const GreyKernel& k) {
    const __m128i add = _mm_set1_epi32(k.add), sub = _mm_set1_epi32(k.sub), flip = _mm_set1_epi32(k.flip);
    const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    const std::uint32_t whole = count & ~3u;
    for (std::uint32_t i = 0; i < whole; i += 4) {
        unsigned char* p = pixels + std::size_t{i} * 4u;
        const __m128i x = loadPixels(p);
        const __m128i t = _mm_xor_si128(saturate(greyBase4<Mode>(x), add, sub), flip);
        const __m128i rgb = _mm_or_si128(_mm_or_si128(t, _mm_slli_epi32(t, 8)), _mm_slli_epi32(t, 16));
        storePixels(p, keepTransparent(x, _mm_or_si128(_mm_and_si128(x, alpha), rgb)));
    }
    return whole;
}

}  // namespace

std::uint32_t greySse2(unsigned char* pixels, std::uint32_t count, const GreyKernel& k) {
    switch (k.mode) {
        case 1: return greyPass<1>(pixels, count, k);
        case 2: return greyPass<2>(pixels, count, k);
        case 3: return greyPass<3>(pixels, count, k);
        case 4: return greyPass<4>(pixels, count, k);
        case 5: return greyPass<5>(pixels, count, k);
        case 6: return greyPass<6>(pixels, count, k);
        case 7: return greyPass<7>(pixels, count, k);
        default: return greyPass<8>(pixels, count, k);
    }
}

std::uint32_t greyStepsSse2(unsigned char* pixels, std::uint32_t count, const GreySteps& k) {
    // The quotient as in greyStepsAvx2; the values stay below 2^15, so the
    // 16-bit minimum serves.
    const __m128i pairs = _mm_set1_epi32(0x00FF00FF);
    const __m128i step = _mm_set1_epi32(k.step), bias = _mm_set1_epi32(6 * k.step - 1);
    const __m128 inverse = _mm_set1_ps(1.0f / static_cast<float>(12 * k.step));
    const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    const std::uint32_t whole = count & ~3u;
    for (std::uint32_t i = 0; i < whole; i += 4) {
        unsigned char* p = pixels + std::size_t{i} * 4u;
        const __m128i x = loadPixels(p);
        const __m128i br = _mm_madd_epi16(_mm_and_si128(x, pairs), _mm_set1_epi32(0x00040004));
        const __m128i ga = _mm_madd_epi16(_mm_and_si128(_mm_srli_epi32(x, 8), pairs), _mm_set1_epi32(4));
        const __m128i n = _mm_add_epi32(_mm_add_epi32(br, ga), bias);
        const __m128i q = _mm_cvttps_epi32(_mm_mul_ps(_mm_cvtepi32_ps(n), inverse));
        const __m128i v = _mm_min_epi16(_mm_madd_epi16(q, step), _mm_set1_epi32(255));
        const __m128i rgb = _mm_or_si128(_mm_or_si128(v, _mm_slli_epi32(v, 8)), _mm_slli_epi32(v, 16));
        storePixels(p, keepTransparent(x, _mm_or_si128(_mm_and_si128(x, alpha), rgb)));
    }
    return whole;
}

}  // namespace x86
}  // namespace pelx04

#endif
