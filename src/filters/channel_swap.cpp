#include "filters/channel_swap.hpp"

#include "filters/channel_kernels.hpp"
#include "core/pixel_pass.hpp"

namespace pelx04 {

void applyChannelSwapReference(unsigned char* pixels, std::uint32_t count, const ChannelSwapParams& p) {
    rewriteVisiblePixels(pixels, count, [&p](std::uint32_t word) { return channelSwapPixel(word, p); });
}

// Saturating byte offsets, then a byte move. Where each colour byte comes from
// is asked of the rule itself: without offsets it turns B 1, G 2, R 3 into the
// mode's order (0 where the mode writes black).
void applyChannelSwap(unsigned char* pixels, std::uint32_t count, const ChannelSwapParams& p) {
    SwapKernel k;
    setByteOffset(k.offsets, 0, p.blue);
    setByteOffset(k.offsets, 1, p.green);
    setByteOffset(k.offsets, 2, p.red);
    setByteOffset(k.offsets, 3, 0);
    const std::uint32_t probe = channelSwapPixel(packWord(255, 3, 2, 1), {p.mode, 0, 0, 0});
    for (int out = 0; out < 3; ++out) {
        const std::uint32_t source = (probe >> (8 * out)) & 0xFFu;
        k.sourceOf[out] = static_cast<std::uint8_t>(source == 0 ? 0xFF : source - 1);
    }
    const std::uint32_t done = pickKernel<SwapKernelFn>(&swapPortable,
                                                        PELX04_SIMD128_KERNEL(x86::swapSse2, wasm::swapSimd128),
                                                        PELX04_X86_KERNEL(x86::swapAvx2))(pixels, count, k);
    applyChannelSwapReference(pixels + std::size_t{done} * 4u, count - done, p);
}

}  // namespace pelx04
