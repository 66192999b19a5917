#include "filters/channel_offset.hpp"

#include "module/pixel_pass.hpp"

namespace pelx04 {

void applyChannelOffset(unsigned char* pixels, std::uint32_t count, const ChannelOffsetParams& p) {
    rewriteVisiblePixels(pixels, count, [&p](std::uint32_t word) { return channelOffsetPixel(word, p); });
}

}  // namespace pelx04
