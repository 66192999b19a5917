#include "filters/gradation.hpp"

#include "filters/channel_kernels.hpp"
#include "core/pixel_pass.hpp"

namespace pelx04 {

void applyGradationReference(unsigned char* pixels, std::uint32_t count, const GradationParams& p) {
    rewriteVisiblePixels(pixels, count, [&p](std::uint32_t word) { return gradationPixel(word, p); });
}

// The band division by multiply-high and the product saturated at 255; alpha
// goes through as band v / 1 × 1.
void applyGradation(unsigned char* pixels, std::uint32_t count, const GradationParams& p) {
    BandKernel k;
    setBand(k, 0, p.divisor, p.blue);
    setBand(k, 1, p.divisor, p.green);
    setBand(k, 2, p.divisor, p.red);
    setBand(k, 3, 1, 1);
    const std::uint32_t done = pickKernel<BandKernelFn>(&bandPortable, PELX04_SSE2_KERNEL(x86::bandSse2),
                                                        PELX04_X86_KERNEL(x86::bandAvx2))(pixels, count, k);
    applyGradationReference(pixels + std::size_t{done} * 4u, count - done, p);
}

}  // namespace pelx04
