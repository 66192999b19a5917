// AVX-512 channel kernels. VBMI's two-table byte permute looks up 128 entries
// of a byte table at once, so a 256-entry table is two permutes, each written
// only into the bytes whose top bit selects its half. Built with the AVX-512
// flags and entered only when the CPU reports F, BW, DQ, VL and VBMI.
#include "filters/channel_kernels.hpp"

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

// One channel's byte table as four 64-entry quarters.
struct ByteTable {
    __m512i quarter[4];
};

// The channel's bytes of words[v] (shift 0, 8 or 16); false when the table
// maps every byte to itself.
bool fillByteTable(ByteTable& table, const std::uint32_t* words, int shift) {
    unsigned char bytes[256];
    bool identity = true;
    for (int v = 0; v < 256; ++v) {
        bytes[v] = static_cast<unsigned char>(words[v] >> shift);
        identity = identity && bytes[v] == v;
    }
    for (int q = 0; q < 4; ++q) table.quarter[q] = _mm512_loadu_si512(bytes + 64 * q);
    return !identity;
}

// The bytes selected by `at` looked up in the table, their index being the
// byte itself; the other bytes stay. The permute reads seven index bits (the
// quarter pair by bit 6), the top bit picks the pair.
inline __m512i lookUp(const ByteTable& table, __m512i words, __mmask64 at, __mmask64 top) {
    words = _mm512_mask2_permutex2var_epi8(table.quarter[0], words, at & ~top, table.quarter[1]);
    return _mm512_mask2_permutex2var_epi8(table.quarter[2], words, at & top, table.quarter[3]);
}

}  // namespace

// 16 pixels a step. Alpha stays; transparent pixels keep their colour bytes.
std::uint32_t tablesAvx512(unsigned char* pixels, std::uint32_t count, const WordTables& t) {
    ByteTable blue, green, red;
    constexpr __mmask64 firstBytes = 0x1111111111111111u;
    const __mmask64 atBlue = fillByteTable(blue, t.fromBlue, 0) ? firstBytes : 0;
    const __mmask64 atGreen = fillByteTable(green, t.fromGreen, 8) ? firstBytes << 1 : 0;
    const __mmask64 atRed = fillByteTable(red, t.fromRed, 16) ? firstBytes << 2 : 0;
    const __m512i alpha = _mm512_set1_epi32(static_cast<int>(0xFF000000u));
    const std::uint32_t whole = count & ~15u;
    for (std::uint32_t i = 0; i < whole; i += 16) {
        unsigned char* p = pixels + std::size_t{i} * 4u;
        __m512i words = _mm512_loadu_si512(p);
        // Every byte of a visible pixel, and the bytes at or above 128.
        const __mmask64 visible = _mm512_movepi8_mask(_mm512_movm_epi32(_mm512_test_epi32_mask(words, alpha)));
        const __mmask64 top = _mm512_movepi8_mask(words);
        words = lookUp(blue, words, atBlue & visible, top);
        words = lookUp(green, words, atGreen & visible, top);
        words = lookUp(red, words, atRed & visible, top);
        _mm512_storeu_si512(p, words);
    }
    return whole;
}

// Sixteen pixels a step where the new alpha is alpha[(R + G + B + 1) / 3]: the
// index goes into each visible pixel's alpha byte and is looked up in place.
// Other tables go to the AVX2 kernel.
std::uint32_t alphaBySumAvx512(unsigned char* pixels, std::uint32_t count, const AlphaBySum& a) {
    if (!a.byThird) return alphaBySumAvx2(pixels, count, a);
    std::uint32_t words[256];
    for (int v = 0; v < 256; ++v) words[v] = a.alpha[v];
    ByteTable table;
    fillByteTable(table, words, 0);
    const __m512i pairs = _mm512_set1_epi32(0x00FF00FF), colour = _mm512_set1_epi32(0x00FFFFFF);
    const __m512i alpha = _mm512_set1_epi32(static_cast<int>(0xFF000000u));
    constexpr __mmask64 alphaBytes = 0x8888888888888888u;
    const std::uint32_t whole = count & ~15u;
    for (std::uint32_t i = 0; i < whole; i += 16) {
        unsigned char* p = pixels + std::size_t{i} * 4u;
        const __m512i x = _mm512_loadu_si512(p);
        // (sum + 1) × 21846 >> 16 is (sum + 1) / 3 for every sum + 1 ≤ 766.
        const __m512i br = _mm512_madd_epi16(_mm512_and_si512(x, pairs), _mm512_set1_epi32(0x00010001));
        const __m512i ga = _mm512_madd_epi16(_mm512_and_si512(_mm512_srli_epi32(x, 8), pairs), _mm512_set1_epi32(1));
        const __m512i sum = _mm512_add_epi32(_mm512_add_epi32(br, ga), _mm512_set1_epi32(1));
        const __m512i third = _mm512_mulhi_epu16(sum, _mm512_set1_epi32(21846));
        // Transparent words keep every byte.
        const __mmask16 visible = _mm512_test_epi32_mask(x, alpha);
        const __m512i indexed =
            _mm512_mask_mov_epi32(x, visible, _mm512_or_si512(_mm512_and_si512(x, colour), _mm512_slli_epi32(third, 24)));
        const __mmask64 at = _mm512_movepi8_mask(_mm512_movm_epi32(visible)) & alphaBytes;
        _mm512_storeu_si512(p, lookUp(table, indexed, at, _mm512_movepi8_mask(indexed)));
    }
    return whole;
}

namespace {

// Round half away from zero of eight non-negative doubles below 2^31.
inline __m256i roundNonNegative8(__m512d x) {
    const __m512d t = _mm512_roundscale_pd(x, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
    const __mmask8 up = _mm512_cmp_pd_mask(_mm512_sub_pd(x, t), _mm512_set1_pd(0.5), _CMP_GE_OQ);
    return _mm512_cvttpd_epi32(_mm512_mask_add_pd(t, up, t, _mm512_set1_pd(1.0)));
}

// (cr × R + cg × G) + cb × B in that order, rounded, for eight pixels.
inline __m256i luma8(__m256i r, __m256i g, __m256i b, double cr, double cg, double cb) {
    const __m512d pr = _mm512_mul_pd(_mm512_set1_pd(cr), _mm512_cvtepi32_pd(r));
    const __m512d pg = _mm512_mul_pd(_mm512_set1_pd(cg), _mm512_cvtepi32_pd(g));
    const __m512d pb = _mm512_mul_pd(_mm512_set1_pd(cb), _mm512_cvtepi32_pd(b));
    return roundNonNegative8(_mm512_add_pd(_mm512_add_pd(pr, pg), pb));
}

// Modes 5 and 6 as the AVX2 kernel does them (see lumaFast8 there): an exact
// integer sum and a float quotient whose truncation is the rounded double
// except at exact halves; sixteen pixels holding one go through the doubles.
template <int Mode>
inline __m512i lumaFast16(__m512i x) {
    constexpr int wR = Mode == 5 ? 2126 : 299, wG = Mode == 5 ? 7152 : 587, wB = Mode == 5 ? 722 : 114;
    constexpr float divisor = Mode == 5 ? 10000.0f : 1000.0f;
    constexpr float bias = Mode == 5 ? 5001.0f : 500.5f, threshold = Mode == 5 ? 2e-4f : 1e-3f;
    const __m512i pairs = _mm512_set1_epi32(0x00FF00FF);
    const __m512i br = _mm512_madd_epi16(_mm512_and_si512(x, pairs), _mm512_set1_epi32(wB | wR << 16));
    const __m512i ga = _mm512_madd_epi16(_mm512_and_si512(_mm512_srli_epi32(x, 8), pairs), _mm512_set1_epi32(wG));
    const __m512 n = _mm512_add_ps(_mm512_cvtepi32_ps(_mm512_add_epi32(br, ga)), _mm512_set1_ps(bias));
    const __m512 f = _mm512_mul_ps(n, _mm512_set1_ps(1.0f / divisor));
    const __m512i q = _mm512_cvttps_epi32(f);
    const __m512 fraction = _mm512_sub_ps(f, _mm512_cvtepi32_ps(q));
    if (_mm512_cmp_ps_mask(fraction, _mm512_set1_ps(threshold), _CMP_LT_OQ) == 0) return q;
    const __m512i low = _mm512_set1_epi32(0xFF);
    const __m512i r = _mm512_and_si512(_mm512_srli_epi32(x, 16), low), g = _mm512_and_si512(_mm512_srli_epi32(x, 8), low);
    const __m512i b = _mm512_and_si512(x, low);
    const double cr = Mode == 5 ? 0.2126 : 0.299, cg = Mode == 5 ? 0.7152 : 0.587, cb = Mode == 5 ? 0.0722 : 0.114;
    const __m256i first = luma8(_mm512_castsi512_si256(r), _mm512_castsi512_si256(g), _mm512_castsi512_si256(b), cr, cg, cb);
    const __m256i second = luma8(_mm512_extracti64x4_epi64(r, 1), _mm512_extracti64x4_epi64(g, 1),
                                 _mm512_extracti64x4_epi64(b, 1), cr, cg, cb);
    return _mm512_inserti64x4(_mm512_castsi256_si512(first), second, 1);
}

template <int Mode>
std::uint32_t lumaPass(unsigned char* pixels, std::uint32_t count, const GreyKernel& k) {
    const __m512i add = _mm512_set1_epi32(k.add), sub = _mm512_set1_epi32(k.sub), flip = _mm512_set1_epi32(k.flip);
    const __m512i alpha = _mm512_set1_epi32(static_cast<int>(0xFF000000u));
    // The grey byte to B, G and R of its word; index bytes with the top bit
    // set give 0.
    const __m512i spread = _mm512_set4_epi32(static_cast<int>(0x800C0C0Cu), static_cast<int>(0x80080808u),
                                             static_cast<int>(0x80040404u), static_cast<int>(0x80000000u));
    const std::uint32_t whole = count & ~15u;
    for (std::uint32_t i = 0; i < whole; i += 16) {
        unsigned char* p = pixels + std::size_t{i} * 4u;
        const __m512i x = _mm512_loadu_si512(p);
        const __m512i t = _mm512_xor_si512(_mm512_subs_epu8(_mm512_adds_epu8(lumaFast16<Mode>(x), add), sub), flip);
        const __m512i word = _mm512_or_si512(_mm512_and_si512(x, alpha), _mm512_shuffle_epi8(t, spread));
        // Transparent words keep their old value.
        _mm512_storeu_si512(p, _mm512_mask_mov_epi32(x, _mm512_test_epi32_mask(x, alpha), word));
    }
    return whole;
}

}  // namespace

// Modes 5 and 6 sixteen pixels a step; the others, whose AVX2 passes already
// run at memory speed, go to greyAvx2.
std::uint32_t greyAvx512(unsigned char* pixels, std::uint32_t count, const GreyKernel& k) {
    switch (k.mode) {
        case 5: return lumaPass<5>(pixels, count, k);
        case 6: return lumaPass<6>(pixels, count, k);
        default: return greyAvx2(pixels, count, k);
    }
}

}  // namespace x86
}  // namespace pelx04

#endif
