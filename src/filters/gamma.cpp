#include "filters/gamma.hpp"

#include "filters/channel_kernels.hpp"
#include "core/pixel_pass.hpp"

namespace pelx04 {

void applyGammaReference(unsigned char* pixels, std::uint32_t count, const GammaParams& p) {
    rewriteVisiblePixels(pixels, count, [&p](std::uint32_t word) { return gammaPixel(word, p); });
}

// Each channel depends on itself alone, so tables made by the rule are exact;
// they cost 768 pow calls a frame instead of three a pixel.
void applyGamma(unsigned char* pixels, std::uint32_t count, const GammaParams& p) {
    WordTables t;
    fillSeparableTables(t, [&p](std::uint32_t word) { return gammaPixel(word, p); });
    const std::uint32_t done =
        pickKernel<TablesKernelFn>(&channelTablesPortable, nullptr, PELX04_X86_KERNEL(x86::tablesAvx2),
                                   PELX04_X86_KERNEL(x86::tablesAvx512))(pixels, count, t);
    applyGammaReference(pixels + std::size_t{done} * 4u, count - done, p);
}

}  // namespace pelx04
