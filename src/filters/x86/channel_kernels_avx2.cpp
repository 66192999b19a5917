// AVX2 kernels: eight pixels a step, unaligned loads and stores. Built with
// -mavx2 alone (never -mfma: a fused multiply-add would change the doubles of
// the luma modes) and entered only when the CPU reports AVX2.
#include "filters/channel_kernels.hpp"

#if PELX04_X86
#include <immintrin.h>

namespace pelx04 {
namespace x86 {
namespace {

inline __m256i loadPixels(const unsigned char* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
inline void storePixels(unsigned char* p, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }

inline __m256i alphaBits() { return _mm256_set1_epi32(static_cast<int>(0xFF000000u)); }

// Transparent words (alpha 0) keep their old value.
inline __m256i keepTransparent(__m256i x, __m256i result) {
    const __m256i t = _mm256_cmpeq_epi32(_mm256_and_si256(x, alphaBits()), _mm256_setzero_si256());
    return _mm256_blendv_epi8(result, x, t);
}

inline __m256i bytePattern(const std::uint8_t b[4]) {
    return _mm256_set1_epi32(static_cast<int>(std::uint32_t{b[0]} | std::uint32_t{b[1]} << 8 |
                                              std::uint32_t{b[2]} << 16 | std::uint32_t{b[3]} << 24));
}

inline __m256i lanePattern(const std::uint16_t v[4]) {
    return _mm256_set1_epi64x(static_cast<long long>(std::uint64_t{v[0]} | std::uint64_t{v[1]} << 16 |
                                                     std::uint64_t{v[2]} << 32 | std::uint64_t{v[3]} << 48));
}

inline __m256i saturate(__m256i x, __m256i add, __m256i sub) {
    return _mm256_subs_epu8(_mm256_adds_epu8(x, add), sub);
}

}  // namespace

std::uint32_t offsetAvx2(unsigned char* pixels, std::uint32_t count, const ByteOffsets& o) {
    const __m256i add = bytePattern(o.add), sub = bytePattern(o.sub);
    const std::uint32_t whole = count & ~7u;
    for (std::uint32_t i = 0; i < whole; i += 8) {
        unsigned char* p = pixels + std::size_t{i} * 4u;
        const __m256i x = loadPixels(p);
        storePixels(p, keepTransparent(x, saturate(x, add, sub)));
    }
    return whole;
}

std::uint32_t swapAvx2(unsigned char* pixels, std::uint32_t count, const SwapKernel& k) {
    const __m256i add = bytePattern(k.offsets.add), sub = bytePattern(k.offsets.sub);
    // One byte shuffle moves every colour byte to its place; a source of 0xFF
    // becomes a shuffle index with its top bit set, which gives 0.
    alignas(32) std::uint8_t order[32];
    for (int j = 0; j < 32; j += 4) {
        for (int out = 0; out < 3; ++out) {
            order[j + out] = static_cast<std::uint8_t>(k.sourceOf[out] < 3 ? (j & 15) + k.sourceOf[out] : 0x80);
        }
        order[j + 3] = static_cast<std::uint8_t>((j & 15) + 3);
    }
    const __m256i shuffle = _mm256_load_si256(reinterpret_cast<const __m256i*>(order));
    const std::uint32_t whole = count & ~7u;
    for (std::uint32_t i = 0; i < whole; i += 8) {
        unsigned char* p = pixels + std::size_t{i} * 4u;
        const __m256i x = loadPixels(p);
        storePixels(p, keepTransparent(x, _mm256_shuffle_epi8(saturate(x, add, sub), shuffle)));
    }
    return whole;
}

std::uint32_t bandAvx2(unsigned char* pixels, std::uint32_t count, const BandKernel& k) {
    const __m256i magic = lanePattern(k.magic), keep = lanePattern(k.keep), mult = lanePattern(k.mult);
    const __m256i zero = _mm256_setzero_si256(), top = _mm256_set1_epi16(255);
    const std::uint32_t whole = count & ~7u;
    for (std::uint32_t i = 0; i < whole; i += 8) {
        unsigned char* p = pixels + std::size_t{i} * 4u;
        const __m256i x = loadPixels(p);
        __m256i half[2] = {_mm256_unpacklo_epi8(x, zero), _mm256_unpackhi_epi8(x, zero)};
        for (__m256i& v : half) {
            const __m256i band = _mm256_or_si256(_mm256_mulhi_epu16(v, magic), _mm256_and_si256(v, keep));
            v = _mm256_min_epu16(_mm256_mullo_epi16(band, mult), top);
        }
        // The unpacks and the pack work within each 128-bit lane, so the
        // pixels come back in their places.
        storePixels(p, keepTransparent(x, _mm256_packus_epi16(half[0], half[1])));
    }
    return whole;
}

namespace {

// Round half away from zero of four non-negative doubles below 2^31: truncate
// and add one where the exact remainder x − trunc(x) is at least 0.5.
inline __m128i roundNonNegative4(__m256d x) {
    const __m256d t = _mm256_round_pd(x, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
    const __m256d up = _mm256_cmp_pd(_mm256_sub_pd(x, t), _mm256_set1_pd(0.5), _CMP_GE_OQ);
    return _mm256_cvttpd_epi32(_mm256_add_pd(t, _mm256_and_pd(up, _mm256_set1_pd(1.0))));
}

// (cr × R + cg × G) + cb × B in that order, for four pixels.
inline __m256d lumaSum(__m128i r, __m128i g, __m128i b, double cr, double cg, double cb) {
    const __m256d pr = _mm256_mul_pd(_mm256_set1_pd(cr), _mm256_cvtepi32_pd(r));
    const __m256d pg = _mm256_mul_pd(_mm256_set1_pd(cg), _mm256_cvtepi32_pd(g));
    const __m256d pb = _mm256_mul_pd(_mm256_set1_pd(cb), _mm256_cvtepi32_pd(b));
    return _mm256_add_pd(_mm256_add_pd(pr, pg), pb);
}

inline __m256i luma8(__m256i r, __m256i g, __m256i b, double cr, double cg, double cb) {
    const __m128i lo = roundNonNegative4(lumaSum(_mm256_castsi256_si128(r), _mm256_castsi256_si128(g),
                                                 _mm256_castsi256_si128(b), cr, cg, cb));
    const __m128i hi = roundNonNegative4(lumaSum(_mm256_extracti128_si256(r, 1), _mm256_extracti128_si256(g, 1),
                                                 _mm256_extracti128_si256(b, 1), cr, cg, cb));
    return _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
}

// Modes 5 and 6 without doubles where that is provably the same. With the
// weights as integers over a divisor (2126, 7152, 722 over 10000; 299, 587, 114
// over 1000), N = wR·R + wG·G + wB·B is exact, and the double sum differs from
// N / divisor by far less than 1e-12 (the constants' own error included). So
// unless N / divisor is exactly a half, the rounded double is
// floor((N + divisor / 2) / divisor), and the remainder r of N + divisor / 2 is
// then 1..divisor − 1 (2..9998 for mode 5, where N is even). Here that floor
// is taken of f = (N + divisor / 2 + d) / divisor in floats, d = 1 (mode 5) or
// 0.5 (mode 6): f's fraction (r + d) / divisor then lies in [3e-4, 0.9999] or
// [1.5e-3, 0.9995], and the float error stays below 3e-5, so the truncation is
// exact. An exact half (r = 0) gives a fraction near d / divisor, below the
// threshold t: vectors holding one go through the doubles, which settle those
// ties as the literal rule does.
template <int Mode>
inline __m256i lumaFast8(__m256i x, __m256i r, __m256i g, __m256i b) {
    constexpr int wR = Mode == 5 ? 2126 : 299, wG = Mode == 5 ? 7152 : 587, wB = Mode == 5 ? 722 : 114;
    constexpr float divisor = Mode == 5 ? 10000.0f : 1000.0f;
    constexpr float bias = Mode == 5 ? 5001.0f : 500.5f, threshold = Mode == 5 ? 2e-4f : 1e-3f;
    const __m256i pairs = _mm256_set1_epi32(0x00FF00FF);
    // B and R sit in the two 16-bit halves of x & 0x00FF00FF, G (beside A) in
    // those of x >> 8: two multiply-adds give B·wB + R·wR and G·wG.
    const __m256i br = _mm256_madd_epi16(_mm256_and_si256(x, pairs), _mm256_set1_epi32(wB | wR << 16));
    const __m256i ga = _mm256_madd_epi16(_mm256_and_si256(_mm256_srli_epi32(x, 8), pairs), _mm256_set1_epi32(wG));
    const __m256 n = _mm256_add_ps(_mm256_cvtepi32_ps(_mm256_add_epi32(br, ga)), _mm256_set1_ps(bias));
    const __m256 f = _mm256_mul_ps(n, _mm256_set1_ps(1.0f / divisor));
    const __m256i q = _mm256_cvttps_epi32(f);
    const __m256 fraction = _mm256_sub_ps(f, _mm256_cvtepi32_ps(q));
    const __m256 tie = _mm256_cmp_ps(fraction, _mm256_set1_ps(threshold), _CMP_LT_OQ);
    if (_mm256_testz_ps(tie, tie)) return q;
    return Mode == 5 ? luma8(r, g, b, 0.2126, 0.7152, 0.0722) : luma8(r, g, b, 0.299, 0.587, 0.114);
}

// The grey value 0..255 in the low byte of each word, the other bytes 0.
template <int Mode>
inline __m256i greyBase8(__m256i x) {
    const __m256i low = _mm256_set1_epi32(0xFF);
    const __m256i r = _mm256_and_si256(_mm256_srli_epi32(x, 16), low);
    const __m256i g = _mm256_and_si256(_mm256_srli_epi32(x, 8), low);
    const __m256i b = _mm256_and_si256(x, low);
    switch (Mode) {
        case 1: return r;
        case 2: return g;
        case 3: return b;
        // sum ≤ 765 sits in the low 16-bit half of each word: sum × 21846 >> 16
        // is sum / 3 truncated for every such sum.
        case 4: return _mm256_mulhi_epu16(_mm256_add_epi32(_mm256_add_epi32(r, g), b), _mm256_set1_epi32(21846));
        case 5:
        case 6: return lumaFast8<Mode == 5 ? 5 : 6>(x, r, g, b);
        case 7: return _mm256_max_epu16(_mm256_max_epu16(r, g), b);
        default: return _mm256_min_epu16(_mm256_min_epu16(r, g), b);
    }
}

template <int Mode>
std::uint32_t greyPass(unsigned char* pixels, std::uint32_t count, const GreyKernel& k) {
    const __m256i add = _mm256_set1_epi32(k.add), sub = _mm256_set1_epi32(k.sub), flip = _mm256_set1_epi32(k.flip);
    const __m256i spread = _mm256_setr_epi8(0, 0, 0, -128, 4, 4, 4, -128, 8, 8, 8, -128, 12, 12, 12, -128, 0, 0, 0,
                                            -128, 4, 4, 4, -128, 8, 8, 8, -128, 12, 12, 12, -128);
    const std::uint32_t whole = count & ~7u;
    for (std::uint32_t i = 0; i < whole; i += 8) {
        unsigned char* p = pixels + std::size_t{i} * 4u;
        const __m256i x = loadPixels(p);
        const __m256i t = _mm256_xor_si256(saturate(greyBase8<Mode>(x), add, sub), flip);
        const __m256i word = _mm256_or_si256(_mm256_and_si256(x, alphaBits()), _mm256_shuffle_epi8(t, spread));
        storePixels(p, keepTransparent(x, word));
    }
    return whole;
}

}  // namespace

std::uint32_t greyAvx2(unsigned char* pixels, std::uint32_t count, const GreyKernel& k) {
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

namespace {

// A 256-entry byte table as sixteen 16-byte rows for byte shuffles, which look
// up 16 entries at a time and give 0 for an index with its top bit set. For an
// index i below 128 in row h, i − 16k has its top bit clear exactly for
// k = 0..h, so with the rows stored as differences (row k xor row k − 1) the
// xor of the eight shuffles telescopes to row h. The upper half does the same
// with i xor 0x80, and the index's top bit picks the half.
struct ShuffleTable {
    __m256i low[8], high[8];
};

// Returns false for a table that maps every value to itself, whose lookup the
// pass then leaves out.
bool fillShuffleTable(ShuffleTable& s, const std::uint32_t* words, int shift) {
    alignas(32) std::uint8_t bytes[256];
    bool identity = true;
    for (int v = 0; v < 256; ++v) {
        bytes[v] = static_cast<std::uint8_t>(words[v] >> shift);
        identity = identity && bytes[v] == v;
    }
    for (int k = 0; k < 8; ++k) {
        alignas(32) std::uint8_t low[32], high[32];
        for (int j = 0; j < 16; ++j) {
            low[j] = static_cast<std::uint8_t>(bytes[16 * k + j] ^ (k > 0 ? bytes[16 * (k - 1) + j] : 0));
            high[j] = static_cast<std::uint8_t>(bytes[128 + 16 * k + j] ^ (k > 0 ? bytes[128 + 16 * (k - 1) + j] : 0));
            low[16 + j] = low[j];
            high[16 + j] = high[j];
        }
        s.low[k] = _mm256_load_si256(reinterpret_cast<const __m256i*>(low));
        s.high[k] = _mm256_load_si256(reinterpret_cast<const __m256i*>(high));
    }
    return !identity;
}

inline __m256i lookUp(const ShuffleTable& s, __m256i index) {
    const __m256i row = _mm256_set1_epi8(16);
    __m256i i = index, j = _mm256_xor_si256(index, _mm256_set1_epi8(-128));
    __m256i low = _mm256_shuffle_epi8(s.low[0], i), high = _mm256_shuffle_epi8(s.high[0], j);
    for (int k = 1; k < 8; ++k) {
        i = _mm256_sub_epi8(i, row);
        j = _mm256_sub_epi8(j, row);
        low = _mm256_xor_si256(low, _mm256_shuffle_epi8(s.low[k], i));
        high = _mm256_xor_si256(high, _mm256_shuffle_epi8(s.high[k], j));
    }
    return _mm256_blendv_epi8(low, high, index);
}

}  // namespace

// 32 pixels a step: the bytes of four vectors are sorted into one vector per
// channel (a byte shuffle inside each 128-bit lane, then a 4 × 4 transpose of
// 32-bit groups), looked up, and put back by the same moves in reverse.
// Alpha stays; transparent pixels keep their colour bytes.
std::uint32_t tablesAvx2(unsigned char* pixels, std::uint32_t count, const WordTables& t) {
    ShuffleTable blue, green, red;
    const bool mapBlue = fillShuffleTable(blue, t.fromBlue, 0);
    const bool mapGreen = fillShuffleTable(green, t.fromGreen, 8);
    const bool mapRed = fillShuffleTable(red, t.fromRed, 16);
    const __m256i sort = _mm256_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15, 0, 4, 8, 12, 1, 5, 9,
                                          13, 2, 6, 10, 14, 3, 7, 11, 15);
    const std::uint32_t whole = count & ~31u;
    for (std::uint32_t i = 0; i < whole; i += 32) {
        unsigned char* p = pixels + std::size_t{i} * 4u;
        const __m256i v0 = _mm256_shuffle_epi8(loadPixels(p), sort);
        const __m256i v1 = _mm256_shuffle_epi8(loadPixels(p + 32), sort);
        const __m256i v2 = _mm256_shuffle_epi8(loadPixels(p + 64), sort);
        const __m256i v3 = _mm256_shuffle_epi8(loadPixels(p + 96), sort);
        const __m256i t0 = _mm256_unpacklo_epi32(v0, v1), t1 = _mm256_unpackhi_epi32(v0, v1);
        const __m256i t2 = _mm256_unpacklo_epi32(v2, v3), t3 = _mm256_unpackhi_epi32(v2, v3);
        const __m256i b = _mm256_unpacklo_epi64(t0, t2), g = _mm256_unpackhi_epi64(t0, t2);
        const __m256i r = _mm256_unpacklo_epi64(t1, t3), a = _mm256_unpackhi_epi64(t1, t3);
        const __m256i clear = _mm256_cmpeq_epi8(a, _mm256_setzero_si256());
        const __m256i nb = mapBlue ? _mm256_blendv_epi8(lookUp(blue, b), b, clear) : b;
        const __m256i ng = mapGreen ? _mm256_blendv_epi8(lookUp(green, g), g, clear) : g;
        const __m256i nr = mapRed ? _mm256_blendv_epi8(lookUp(red, r), r, clear) : r;
        const __m256i u0 = _mm256_unpacklo_epi32(nb, ng), u1 = _mm256_unpackhi_epi32(nb, ng);
        const __m256i u2 = _mm256_unpacklo_epi32(nr, a), u3 = _mm256_unpackhi_epi32(nr, a);
        storePixels(p, _mm256_shuffle_epi8(_mm256_unpacklo_epi64(u0, u2), sort));
        storePixels(p + 32, _mm256_shuffle_epi8(_mm256_unpackhi_epi64(u0, u2), sort));
        storePixels(p + 64, _mm256_shuffle_epi8(_mm256_unpacklo_epi64(u1, u3), sort));
        storePixels(p + 96, _mm256_shuffle_epi8(_mm256_unpackhi_epi64(u1, u3), sort));
    }
    return whole;
}

std::uint32_t greyStepsAvx2(unsigned char* pixels, std::uint32_t count, const GreySteps& k) {
    // The quotient as (4·sum + 6·step − 1) / (12·step), both below 2^13: that
    // is (n + 1/2) / (6·step) for the integer numerator n, so its fraction
    // lies at least 1 / (12·step) ≥ 1.6e-4 from every integer, while a float
    // product with 1 / (12·step) is within 6e-5 of it: the truncation is exact.
    const __m256i pairs = _mm256_set1_epi32(0x00FF00FF);
    const __m256i step = _mm256_set1_epi32(k.step), bias = _mm256_set1_epi32(6 * k.step - 1);
    const __m256 inverse = _mm256_set1_ps(1.0f / static_cast<float>(12 * k.step));
    const __m256i spread = _mm256_setr_epi8(0, 0, 0, -128, 4, 4, 4, -128, 8, 8, 8, -128, 12, 12, 12, -128, 0, 0, 0,
                                            -128, 4, 4, 4, -128, 8, 8, 8, -128, 12, 12, 12, -128);
    const std::uint32_t whole = count & ~7u;
    for (std::uint32_t i = 0; i < whole; i += 8) {
        unsigned char* p = pixels + std::size_t{i} * 4u;
        const __m256i x = loadPixels(p);
        // 4·(B + R) and 4·G from the 16-bit halves of x & 0x00FF00FF and of x >> 8.
        const __m256i br = _mm256_madd_epi16(_mm256_and_si256(x, pairs), _mm256_set1_epi32(0x00040004));
        const __m256i ga = _mm256_madd_epi16(_mm256_and_si256(_mm256_srli_epi32(x, 8), pairs), _mm256_set1_epi32(4));
        const __m256i n = _mm256_add_epi32(_mm256_add_epi32(br, ga), bias);
        const __m256i q = _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(n), inverse));
        const __m256i v = _mm256_min_epi32(_mm256_madd_epi16(q, step), _mm256_set1_epi32(255));
        const __m256i word = _mm256_or_si256(_mm256_and_si256(x, alphaBits()), _mm256_shuffle_epi8(v, spread));
        storePixels(p, keepTransparent(x, word));
    }
    return whole;
}

std::uint32_t sumTableAvx2(unsigned char* pixels, std::uint32_t count, const SumTable& t) {
    const __m256i pairs = _mm256_set1_epi32(0x00FF00FF), keep = _mm256_set1_epi32(static_cast<int>(t.keep));
    const int* table = reinterpret_cast<const int*>(t.bits);
    const std::uint32_t whole = count & ~7u;
    for (std::uint32_t i = 0; i < whole; i += 8) {
        unsigned char* p = pixels + std::size_t{i} * 4u;
        const __m256i x = loadPixels(p);
        // B + R and G from the 16-bit halves of x & 0x00FF00FF and of x >> 8.
        const __m256i br = _mm256_madd_epi16(_mm256_and_si256(x, pairs), _mm256_set1_epi32(0x00010001));
        const __m256i ga = _mm256_madd_epi16(_mm256_and_si256(_mm256_srli_epi32(x, 8), pairs), _mm256_set1_epi32(1));
        const __m256i bits = _mm256_i32gather_epi32(table, _mm256_add_epi32(br, ga), 4);
        storePixels(p, keepTransparent(x, _mm256_or_si256(_mm256_and_si256(x, keep), bits)));
    }
    return whole;
}

// 32 pixels a step: (sum + 1) / 3 for each (a multiply-high, exact for every
// sum + 1 ≤ 766), packed to bytes, looked up in the 256-entry alpha table, and
// unpacked again: the unpacks with zero undo the packs lane by lane.
std::uint32_t alphaBySumAvx2(unsigned char* pixels, std::uint32_t count, const AlphaBySum& a) {
    if (!a.byThird) return sumTableAvx2(pixels, count, a.sums);
    ShuffleTable table;
    std::uint32_t words[256];
    for (int v = 0; v < 256; ++v) words[v] = a.alpha[v];
    fillShuffleTable(table, words, 0);
    const __m256i pairs = _mm256_set1_epi32(0x00FF00FF), colour = _mm256_set1_epi32(0x00FFFFFF);
    const __m256i zero = _mm256_setzero_si256();
    const auto third = [pairs](__m256i x) {
        const __m256i br = _mm256_madd_epi16(_mm256_and_si256(x, pairs), _mm256_set1_epi32(0x00010001));
        const __m256i ga = _mm256_madd_epi16(_mm256_and_si256(_mm256_srli_epi32(x, 8), pairs), _mm256_set1_epi32(1));
        const __m256i sum = _mm256_add_epi32(_mm256_add_epi32(br, ga), _mm256_set1_epi32(1));
        return _mm256_mulhi_epu16(sum, _mm256_set1_epi32(21846));
    };
    const std::uint32_t whole = count & ~31u;
    for (std::uint32_t i = 0; i < whole; i += 32) {
        unsigned char* p = pixels + std::size_t{i} * 4u;
        const __m256i x0 = loadPixels(p), x1 = loadPixels(p + 32), x2 = loadPixels(p + 64), x3 = loadPixels(p + 96);
        const __m256i index = _mm256_packus_epi16(_mm256_packus_epi32(third(x0), third(x1)),
                                                  _mm256_packus_epi32(third(x2), third(x3)));
        const __m256i alpha = lookUp(table, index);
        const __m256i lo = _mm256_unpacklo_epi8(alpha, zero), hi = _mm256_unpackhi_epi8(alpha, zero);
        const __m256i a0 = _mm256_slli_epi32(_mm256_unpacklo_epi16(lo, zero), 24);
        const __m256i a1 = _mm256_slli_epi32(_mm256_unpackhi_epi16(lo, zero), 24);
        const __m256i a2 = _mm256_slli_epi32(_mm256_unpacklo_epi16(hi, zero), 24);
        const __m256i a3 = _mm256_slli_epi32(_mm256_unpackhi_epi16(hi, zero), 24);
        storePixels(p, keepTransparent(x0, _mm256_or_si256(_mm256_and_si256(x0, colour), a0)));
        storePixels(p + 32, keepTransparent(x1, _mm256_or_si256(_mm256_and_si256(x1, colour), a1)));
        storePixels(p + 64, keepTransparent(x2, _mm256_or_si256(_mm256_and_si256(x2, colour), a2)));
        storePixels(p + 96, keepTransparent(x3, _mm256_or_si256(_mm256_and_si256(x3, colour), a3)));
    }
    return whole;
}

}  // namespace x86
}  // namespace pelx04

#endif
