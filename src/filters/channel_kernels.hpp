// Fast passes shared by the channel filters. Each filter turns its parameters
// into one of the kernel descriptions below, once per call, and its applyXxx
// picks the kernel for the CPU level (core/cpu_features.hpp). A kernel
// rewrites visible pixels only, processes whole vectors, and returns how many
// pixels it has done; the caller finishes the rest with the filter's literal
// per-pixel rule, so no vector ever overlaps the end of the buffer.
#pragma once

#include <cstdint>

#include "core/cpu_features.hpp"
#include "core/pixel.hpp"

namespace pelx04 {

// A visible pixel becomes fromBlue[B] | fromGreen[G] | fromRed[R] | fromAlpha[A]:
// each source channel contributes its bits at the place it lands. Built by
// running a filter's literal rule on every channel value, so it is exact for
// every rule whose channels do not mix.
struct WordTables {
    std::uint32_t fromBlue[256], fromGreen[256], fromRed[256], fromAlpha[256];
};

// For rules that keep each channel in place and depend on it alone, the alpha
// of a visible pixel included (alpha 0 is never looked up).
template <class Rule>
inline void fillSeparableTables(WordTables& t, Rule rule) {
    for (std::uint32_t v = 0; v < 256; ++v) {
        const std::uint32_t word = rule(packWord(255, static_cast<int>(v), static_cast<int>(v), static_cast<int>(v)));
        t.fromBlue[v] = word & 0xFFu;
        t.fromGreen[v] = word & 0xFF00u;
        t.fromRed[v] = word & 0xFF0000u;
        t.fromAlpha[v] = v == 0 ? 0u : rule(v << 24) & 0xFF000000u;
    }
}

// Saturating byte offsets in memory order B, G, R, A: a byte v becomes
// max(min(v + add, 255) − sub, 0). With add the offset's size capped at 255
// when it is positive and sub the same when it is negative (setByteOffset),
// that is v + offset clamped to 0..255 for every byte v.
struct ByteOffsets {
    std::uint8_t add[4], sub[4];
};

inline void setByteOffset(ByteOffsets& o, int byte, std::int32_t offset) {
    const std::int64_t wide = offset;
    o.add[byte] = static_cast<std::uint8_t>(wide > 0 ? (wide > 255 ? 255 : wide) : 0);
    o.sub[byte] = static_cast<std::uint8_t>(wide < 0 ? (-wide > 255 ? 255 : -wide) : 0);
}

// Offsets on the colour bytes, then each result byte (B, G, R) taken from the
// source byte sourceOf[i] (0 B, 1 G, 2 R) or set to 0 when that is 0xFF. Alpha
// stays.
struct SwapKernel {
    ByteOffsets offsets;
    std::uint8_t sourceOf[3];
};

// Per byte position (B, G, R, A): band = v / d, then min(band × mult, 255).
// The division is a multiply-high, v × magic >> 16 with magic = ceil(65536 / d),
// exact for v in 0..255 and d in 2..255 (the error v·(magic − 65536/d)/65536
// stays below 1/d); keep marks d = 1 (band = v), and magic = keep = 0 means
// d > 255 (band = 0). mult is already capped to 0..255, which changes no
// clamped result since band ≥ 0.
struct BandKernel {
    std::uint16_t magic[4], keep[4], mult[4];
};

// Band division by d (d ≥ 1) and multiplier m for one byte position.
inline void setBand(BandKernel& k, int byte, std::int64_t d, std::int64_t m) {
    k.keep[byte] = d == 1 ? 0xFFFFu : 0u;
    k.magic[byte] = static_cast<std::uint16_t>(d >= 2 && d <= 255 ? (65536 + d - 1) / d : 0);
    k.mult[byte] = static_cast<std::uint16_t>(m < 0 ? 0 : (m > 255 ? 255 : m));
}

// Grey: t from the mode (1 R, 2 G, 3 B, 4 (R+G+B)/3, 5 BT.709, 6 BT.601, 7 max,
// 8 min), then t + offset saturated through add/sub, then flip (0 or 0xFF) xored
// in, written to R, G and B. 255 − clamp(t + o) equals clamp(255 − (t + o)),
// so the inversion after the clamp is the inversion before it.
struct GreyKernel {
    std::int32_t mode;
    std::uint8_t add, sub, flip;
};

// Posterised grey: a visible pixel's colour becomes rgb[R + G + B] (0..765),
// alpha stays. The portable kernel reads the table (made by the rule); the
// vector kernels compute the same values from step, the step's size capped at
// 511 (every larger step gives 0 for every sum), as
// min(255, step · ((2·sum + 3·step − 1) div (6·step))). Why that is the rule:
// with the factor 0.333333333 = 1/3 − 3.3e-10, sum × 0.333333333 / step lies
// below sum / (3·step) by at most 2.6e-7 / step, while sum / (3·step), when it
// is not a half, lies at least 1 / (6·step) from every half; the double
// errors are smaller still. So round() gives the nearest integer to
// sum / (3·step), and at an exact half the smaller one, which is
// ceil(sum / (3·step) − 1/2), the quotient above. A negative step gives the
// same product (round is symmetric), hence its size alone.
struct GreySteps {
    std::uint32_t rgb[766];
    std::int32_t step;
};

// A visible pixel becomes (word & keep) | bits[R + G + B] (sum 0..765): for
// rules that depend on the sum alone, the table made by the rule.
struct SumTable {
    std::uint32_t bits[766];
    std::uint32_t keep;
};

// Alpha set from R + G + B: sums.bits[sum] holds the new alpha (keep leaves
// the colour). When byThird is set, sums.bits[sum] is alpha[(sum + 1) / 3] << 24
// for every sum (checked when the table is made), and a kernel may use that
// 256-entry form instead.
struct AlphaBySum {
    SumTable sums;
    std::uint8_t alpha[256];
    bool byThird;
};

// Round half away from zero of a non-negative double below 2^31, without a
// library call: x − trunc(x) is exact there, so comparing it with 0.5 decides
// exactly as std::round does.
inline std::int32_t roundNonNegative(double x) {
    const std::int32_t t = static_cast<std::int32_t>(x);
    return t + (x - static_cast<double>(t) >= 0.5 ? 1 : 0);
}

using TablesKernelFn = std::uint32_t (*)(unsigned char*, std::uint32_t, const WordTables&);
using OffsetKernelFn = std::uint32_t (*)(unsigned char*, std::uint32_t, const ByteOffsets&);
using SwapKernelFn = std::uint32_t (*)(unsigned char*, std::uint32_t, const SwapKernel&);
using BandKernelFn = std::uint32_t (*)(unsigned char*, std::uint32_t, const BandKernel&);
using GreyKernelFn = std::uint32_t (*)(unsigned char*, std::uint32_t, const GreyKernel&);
using SumKernelFn = std::uint32_t (*)(unsigned char*, std::uint32_t, const SumTable&);
using AlphaKernelFn = std::uint32_t (*)(unsigned char*, std::uint32_t, const AlphaBySum&);
using GreyStepsKernelFn = std::uint32_t (*)(unsigned char*, std::uint32_t, const GreySteps&);

// Portable kernels: every pixel, any target. The ones with a description other
// than WordTables turn it into tables for tablesPortable.
std::uint32_t tablesPortable(unsigned char* pixels, std::uint32_t count, const WordTables& t);
// The same for tables that keep every channel in its place and alpha as it is
// (gamma, tone curves), written byte by byte and only where a channel changes;
// other tables go to tablesPortable.
std::uint32_t channelTablesPortable(unsigned char* pixels, std::uint32_t count, const WordTables& t);
std::uint32_t offsetPortable(unsigned char* pixels, std::uint32_t count, const ByteOffsets& o);
std::uint32_t swapPortable(unsigned char* pixels, std::uint32_t count, const SwapKernel& k);
std::uint32_t bandPortable(unsigned char* pixels, std::uint32_t count, const BandKernel& k);
std::uint32_t greyPortable(unsigned char* pixels, std::uint32_t count, const GreyKernel& k);
std::uint32_t greyStepsPortable(unsigned char* pixels, std::uint32_t count, const GreySteps& t);
std::uint32_t sumTablePortable(unsigned char* pixels, std::uint32_t count, const SumTable& t);

namespace x86 {
// SSE2 (four pixels a step) and AVX2 (eight). tablesAvx2 keeps alpha and
// ignores fromAlpha.
std::uint32_t offsetSse2(unsigned char* pixels, std::uint32_t count, const ByteOffsets& o);
std::uint32_t offsetAvx2(unsigned char* pixels, std::uint32_t count, const ByteOffsets& o);
std::uint32_t swapSse2(unsigned char* pixels, std::uint32_t count, const SwapKernel& k);
std::uint32_t swapAvx2(unsigned char* pixels, std::uint32_t count, const SwapKernel& k);
std::uint32_t bandSse2(unsigned char* pixels, std::uint32_t count, const BandKernel& k);
std::uint32_t bandAvx2(unsigned char* pixels, std::uint32_t count, const BandKernel& k);
std::uint32_t greySse2(unsigned char* pixels, std::uint32_t count, const GreyKernel& k);
std::uint32_t greyAvx2(unsigned char* pixels, std::uint32_t count, const GreyKernel& k);
std::uint32_t tablesAvx2(unsigned char* pixels, std::uint32_t count, const WordTables& t);
std::uint32_t greyStepsSse2(unsigned char* pixels, std::uint32_t count, const GreySteps& k);
std::uint32_t greyStepsAvx2(unsigned char* pixels, std::uint32_t count, const GreySteps& k);
std::uint32_t sumTableAvx2(unsigned char* pixels, std::uint32_t count, const SumTable& t);
std::uint32_t alphaBySumAvx2(unsigned char* pixels, std::uint32_t count, const AlphaBySum& a);
// AVX-512 with VBMI (sixteen pixels): keeps alpha and ignores fromAlpha.
std::uint32_t tablesAvx512(unsigned char* pixels, std::uint32_t count, const WordTables& t);
std::uint32_t greyAvx512(unsigned char* pixels, std::uint32_t count, const GreyKernel& k);
std::uint32_t alphaBySumAvx512(unsigned char* pixels, std::uint32_t count, const AlphaBySum& a);
}  // namespace x86

namespace wasm {
// WebAssembly with 128-bit vectors (four pixels a step).
std::uint32_t swapSimd128(unsigned char* pixels, std::uint32_t count, const SwapKernel& k);
}  // namespace wasm

}  // namespace pelx04
