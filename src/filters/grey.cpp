#include "filters/grey.hpp"

#include "filters/channel_kernels.hpp"
#include "core/pixel_pass.hpp"

namespace pelx04 {

void applyGreyReference(unsigned char* pixels, std::uint32_t count, const GreyParams& p) {
    if (greyLeavesBuffer(p)) return;
    rewriteVisiblePixels(pixels, count, [&p](std::uint32_t word) { return greyPixel(word, p); });
}

// Every mode's value before the offset lies in 0..255, so the offset becomes a
// saturating byte add or subtract (capped at 255) and the inversion an xor.
void applyGrey(unsigned char* pixels, std::uint32_t count, const GreyParams& p) {
    if (greyLeavesBuffer(p)) return;
    ByteOffsets o;
    setByteOffset(o, 0, p.mode <= 6 ? p.offset : 0);
    const GreyKernel k{p.mode, o.add[0], o.sub[0], static_cast<std::uint8_t>(p.invert == 1 ? 0xFF : 0)};
    const std::uint32_t done =
        pickKernel<GreyKernelFn>(&greyPortable, PELX04_SSE2_KERNEL(x86::greySse2), PELX04_X86_KERNEL(x86::greyAvx2),
                                 PELX04_X86_KERNEL(x86::greyAvx512))(pixels, count, k);
    applyGreyReference(pixels + std::size_t{done} * 4u, count - done, p);
}

}  // namespace pelx04
