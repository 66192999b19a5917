#include "filters/ypbpr_adjust.hpp"

#include "filters/ypbpr_kernels.hpp"
#include "core/pixel_pass.hpp"

namespace pelx04 {

void applyYPbPrAdjustReference(unsigned char* pixels, std::uint32_t count, const YPbPrAdjustParams& p) {
    rewriteVisiblePixels(pixels, count, [&p](std::uint32_t word) { return ypbprAdjustPixel(word, p); });
}

namespace {

// Without vectors the literal pass is the fast one: it does nothing here.
std::uint32_t ypbprPortable(unsigned char*, std::uint32_t, const YPbPrKernel&) { return 0; }

}  // namespace

void applyYPbPrAdjust(unsigned char* pixels, std::uint32_t count, const YPbPrAdjustParams& p) {
    const std::int32_t alpha = p.alpha < -256 ? -256 : (p.alpha > 256 ? 256 : p.alpha);
    const YPbPrKernel k{static_cast<double>(p.luma), static_cast<double>(p.pb), static_cast<double>(p.pr), alpha};
    const std::uint32_t done = pickKernel<YPbPrKernelFn>(&ypbprPortable, PELX04_SSE2_KERNEL(x86::ypbprSse2),
                                                         PELX04_X86_KERNEL(x86::ypbprAvx2))(pixels, count, k);
    applyYPbPrAdjustReference(pixels + std::size_t{done} * 4u, count - done, p);
}

}  // namespace pelx04
