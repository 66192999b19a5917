#include "filters/channel_swap.hpp"

#include "module/pixel_pass.hpp"

namespace pelx04 {

void applyChannelSwap(unsigned char* pixels, std::uint32_t count, const ChannelSwapParams& p) {
    rewriteVisiblePixels(pixels, count, [&p](std::uint32_t word) { return channelSwapPixel(word, p); });
}

}  // namespace pelx04
