#include "filters/channel_offset.hpp"

#include "filters/channel_kernels.hpp"
#include "core/pixel_pass.hpp"

namespace pelx04 {

void applyChannelOffsetReference(unsigned char* pixels, std::uint32_t count, const ChannelOffsetParams& p) {
    rewriteVisiblePixels(pixels, count, [&p](std::uint32_t word) { return channelOffsetPixel(word, p); });
}

// Saturating byte adds and subtracts, one per channel: the clamped sum for
// every byte value, since setByteOffset caps the offsets at 255.
void applyChannelOffset(unsigned char* pixels, std::uint32_t count, const ChannelOffsetParams& p) {
    ByteOffsets o;
    setByteOffset(o, 0, p.blue);
    setByteOffset(o, 1, p.green);
    setByteOffset(o, 2, p.red);
    setByteOffset(o, 3, p.alpha);
    const std::uint32_t done = pickKernel<OffsetKernelFn>(&offsetPortable, PELX04_SSE2_KERNEL(x86::offsetSse2),
                                                          PELX04_X86_KERNEL(x86::offsetAvx2))(pixels, count, o);
    applyChannelOffsetReference(pixels + std::size_t{done} * 4u, count - done, p);
}

}  // namespace pelx04
