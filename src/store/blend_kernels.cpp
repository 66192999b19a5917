#include "store/blend_kernels.hpp"

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
    if (blendTableHolds(p)) return;
    for (int current = 0; current < 256; ++current) {
        for (int stored = 0; stored < 256; ++stored) {
            blendTable[current << 8 | stored] = static_cast<unsigned char>(blendChannel(current, stored, p));
        }
    }
    blendTableRatio = doubleBits(p.ratio);
    blendTableComplement = doubleBits(p.complement);
    blendTableFilled = true;
}

inline std::uint32_t lookUpChannel(std::uint32_t current, std::uint32_t stored, int shift) {
    return std::uint32_t{blendTable[((current >> shift) & 0xFFu) << 8 | ((stored >> shift) & 0xFFu)]} << shift;
}

// The portable kernel, also the SSE2 one. Below kBlendTableMinCount pixels it
// leaves the frame to the literal loop. The AVX2 double kernel stays ahead of
// it, and ahead of a version gathering from the table eight pixels at a time,
// which was not measurably faster on the AMD CPU it was timed on.
std::uint32_t pictureBlendLookUp(unsigned char* pixels, std::uint32_t count, const std::uint32_t* stored,
                                 const PictureBlendParams& p) {
    if (count < kBlendTableMinCount) return 0;
    fillBlendTable(p);
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

}  // namespace

std::uint32_t pictureBlendFast(unsigned char* pixels, std::uint32_t count, const std::uint32_t* stored,
                               const PictureBlendParams& p) {
    return pickKernel<BlendKernelFn>(&pictureBlendLookUp, nullptr, PELX04_X86_KERNEL(x86::pictureBlendAvx2))(
        pixels, count, stored, p);
}

}  // namespace pelx04
