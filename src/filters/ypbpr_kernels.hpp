// Fast passes of mirtYPbPr. The conversions are vectors of the same IEEE
// operations in the same order as rgbToYPbPr and ypbprToRgb, with the limits
// between them as min and max (no NaN can occur: every input is a whole
// number and every offset a 32-bit integer). A kernel rewrites visible pixels
// only, processes whole vectors and returns how many pixels it has done; the
// caller finishes the rest with the literal per-pixel rule.
#pragma once

#include <cstdint>

#include "core/cpu_features.hpp"

namespace pelx04 {

struct YPbPrKernel {
    double luma, pb, pr;  // the offsets as the doubles the rule adds
    std::int32_t alpha;   // the alpha offset limited to −256..256, which changes no clamped sum
};

using YPbPrKernelFn = std::uint32_t (*)(unsigned char*, std::uint32_t, const YPbPrKernel&);

namespace x86 {
// SSE2 (four pixels a step) and AVX2 (eight).
std::uint32_t ypbprSse2(unsigned char* pixels, std::uint32_t count, const YPbPrKernel& k);
std::uint32_t ypbprAvx2(unsigned char* pixels, std::uint32_t count, const YPbPrKernel& k);
}  // namespace x86

}  // namespace pelx04
