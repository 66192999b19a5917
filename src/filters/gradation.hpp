// mirtGradation256: channel values cut into bands of one divisor, each band
// scaled by a multiplier of its channel.
#pragma once

#include <cstdint>

#include "core/pixel.hpp"

namespace pelx04 {

struct GradationParams {
    std::int32_t divisor;  // at least 1
    std::int32_t red, green, blue;
};

// A divisor of 0 or below acts as 1.
inline GradationParams gradationParams(std::int32_t divisor, std::int32_t red, std::int32_t green,
                                       std::int32_t blue) {
    return {divisor <= 0 ? 1 : divisor, red, green, blue};
}

// The division drops the remainder before the multiplication; the product is
// formed in 64 bits so a huge multiplier saturates instead of wrapping.
inline int gradationChannel(int value, std::int32_t divisor, std::int32_t multiplier) {
    const std::int64_t band = value / divisor;
    return clampChannel(band * multiplier);
}

inline std::uint32_t gradationPixel(std::uint32_t word, const GradationParams& p) {
    return packWord(channelA(word), gradationChannel(channelR(word), p.divisor, p.red),
                    gradationChannel(channelG(word), p.divisor, p.green),
                    gradationChannel(channelB(word), p.divisor, p.blue));
}

// The entry the binding calls: the fastest kernel the CPU allows.
void applyGradation(unsigned char* pixels, std::uint32_t count, const GradationParams& p);

// The literal pass over gradationPixel, kept for tests and benchmarks.
void applyGradationReference(unsigned char* pixels, std::uint32_t count, const GradationParams& p);

}  // namespace pelx04
