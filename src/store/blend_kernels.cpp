#include "store/blend_kernels.hpp"

#include <cmath>
#include <cstring>

#include "core/cpu_features.hpp"

namespace pelx04 {

namespace {

using BlendKernelFn = std::uint32_t (*)(unsigned char*, std::uint32_t, const std::uint32_t*, const PictureBlendParams&);

// For one pair of weights a channel's result depends on the pair (frame,
// store) alone, so it is looked up in a table that blendChannel itself fills:
// exact by construction. A module-wide buffer rather than 64 KB of stack: the
// library runs on no threads of its own, a host's Lua state is not shared
// between threads, and the table is kept for the next call with the same
// weights (a script blends every frame of a clip at one ratio), which a stack
// buffer could not do.
unsigned char blendTable[256 * 256];
std::uint64_t blendTableRatio = 0, blendTableComplement = 0;
bool blendTableFilled = false;

// Below this many pixels, filling the table costs more than the literal loop
// it saves (about 0.5 ms for the 65,536 entries).
constexpr std::uint32_t kBlendTableMinCount = 16384;

std::uint64_t doubleBits(double x) {
    std::uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits;
}

// Weights are compared bit for bit, so that no two different weights (a zero
// of either sign among them) share a table; NaN never reaches here.
bool blendTableHolds(const PictureBlendParams& p) {
    return blendTableFilled && blendTableRatio == doubleBits(p.ratio) &&
           blendTableComplement == doubleBits(p.complement);
}

void fillBlendTable(const PictureBlendParams& p) {
    for (int current = 0; current < 256; ++current) {
        for (int stored = 0; stored < 256; ++stored) {
            blendTable[current << 8 | stored] = static_cast<unsigned char>(blendChannel(current, stored, p));
        }
    }
    blendTableRatio = doubleBits(p.ratio);
    blendTableComplement = doubleBits(p.complement);
    blendTableFilled = true;
}

// The fixed point for the ratio the table holds, checked over every pair;
// valid while blendTableHolds.
BlendFixedPlan fixedPlan;
bool fixedPlanUsable = false;

// floor((difference * weight + 2^14) / 2^15) without shifting a negative
// number: the product lies above -2^23, and 2^24 / 2^15 = 512.
int fixedChannel(int base, int other, std::int32_t weight, std::uint32_t* lowBits) {
    const std::int32_t product = (other - base) * weight;
    *lowBits = static_cast<std::uint32_t>(product) & 0x7FFFu;
    const int sum = base + ((product + 16384 + (1 << 24)) >> 15) - 512;
    return sum < 0 ? 0 : sum > 255 ? 255 : sum;
}

// A weight of at most one half (in size) keeps the product and the sum in 16
// bits; ratios with neither weight that small (beyond -0.5..1.5) get none.
void planFixedPoint(const PictureBlendParams& p) {
    fixedPlanUsable = false;
    double weight;
    bool frameIsBase;
    if (p.ratio >= -0.5 && p.ratio <= 0.5) {
        weight = p.ratio, frameIsBase = false;
    } else if (p.complement >= -0.5 && p.complement <= 0.5) {
        weight = p.complement, frameIsBase = true;
    } else {
        return;
    }
    const auto w = static_cast<std::int32_t>(std::lround(weight * 32768.0));
    std::uint32_t low = 0x7FFFu, high = 0;
    for (int current = 0; current < 256; ++current) {
        for (int stored = 0; stored < 256; ++stored) {
            std::uint32_t bits;
            const int fixed = frameIsBase ? fixedChannel(current, stored, w, &bits)
                                          : fixedChannel(stored, current, w, &bits);
            if (fixed == blendTable[current << 8 | stored]) continue;
            low = bits < low ? bits : low;
            high = bits > high ? bits : high;
        }
    }
    fixedPlan.table = blendTable;
    fixedPlan.weight = static_cast<std::int16_t>(w);
    fixedPlan.frameIsBase = frameIsBase;
    fixedPlan.anyFlagged = low <= high;
    fixedPlan.flagLow = static_cast<std::uint16_t>(fixedPlan.anyFlagged ? low : 0);
    fixedPlan.flagWidth = static_cast<std::uint16_t>(fixedPlan.anyFlagged ? high - low : 0);
    fixedPlanUsable = true;
}

// The table and its fixed point for these weights, worked out when the weights
// change and the frame is large enough to repay it.
bool prepareTable(const PictureBlendParams& p, std::uint32_t count) {
    if (blendTableHolds(p)) return true;
    if (count < kBlendTableMinCount) return false;
    fillBlendTable(p);
    planFixedPoint(p);
    return true;
}

inline std::uint32_t lookUpChannel(std::uint32_t current, std::uint32_t stored, int shift) {
    return std::uint32_t{blendTable[((current >> shift) & 0xFFu) << 8 | ((stored >> shift) & 0xFFu)]} << shift;
}

// The portable kernel, also the SSE2 one. Below kBlendTableMinCount pixels,
// unless the table already holds these weights, it leaves the frame to the
// literal loop.
std::uint32_t pictureBlendLookUp(unsigned char* pixels, std::uint32_t count, const std::uint32_t* stored,
                                 const PictureBlendParams& p) {
    if (!prepareTable(p, count)) return 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t cur = loadWord(pixels, i), sto = stored[i];
        const std::uint32_t mixed = lookUpChannel(cur, sto, 0) | lookUpChannel(cur, sto, 8) |
                                    lookUpChannel(cur, sto, 16) | lookUpChannel(cur, sto, 24);
        // Two transparent pixels keep the frame's word (a select, not a
        // branch: frames mix transparent and visible pixels unpredictably).
        storeWord(pixels, i, ((cur | sto) & 0xFF000000u) == 0 ? cur : mixed);
    }
    return count;
}

#if PELX04_X86
// The fixed point where it is planned, else (small frames, ratios beyond
// -0.5..1.5) the vector doubles.
std::uint32_t pictureBlendAvx2Planned(unsigned char* pixels, std::uint32_t count, const std::uint32_t* stored,
                                      const PictureBlendParams& p) {
    if (prepareTable(p, count) && fixedPlanUsable) return x86::pictureBlendFixedAvx2(pixels, count, stored, fixedPlan);
    return x86::pictureBlendAvx2(pixels, count, stored, p);
}

std::uint32_t pictureBlendAvx512Planned(unsigned char* pixels, std::uint32_t count, const std::uint32_t* stored,
                                        const PictureBlendParams& p) {
    if (prepareTable(p, count) && fixedPlanUsable) {
        return x86::pictureBlendFixedAvx512(pixels, count, stored, fixedPlan);
    }
    return x86::pictureBlendAvx2(pixels, count, stored, p);
}
#endif

}  // namespace

std::uint32_t pictureBlendFast(unsigned char* pixels, std::uint32_t count, const std::uint32_t* stored,
                               const PictureBlendParams& p) {
    return pickKernel<BlendKernelFn>(&pictureBlendLookUp, nullptr, PELX04_X86_KERNEL(pictureBlendAvx2Planned),
                                     PELX04_X86_KERNEL(pictureBlendAvx512Planned))(pixels, count, stored, p);
}

}  // namespace pelx04
