// AVX-512 channel kernels. VBMI's two-table byte permute looks up 128 entries
// of a byte table at once, so a 256-entry table is two permutes, each written
// only into the bytes whose top bit selects its half. Built with the AVX-512
// flags and entered only when the CPU reports F, BW, DQ, VL and VBMI.
#include "filters/channel_kernels.hpp"

#if PELX04_X86
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

}  // namespace x86
}  // namespace pelx04

#endif
