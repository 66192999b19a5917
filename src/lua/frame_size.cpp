#include "lua/frame_size.hpp"

#include <cmath>

namespace pelx04 {

namespace {

constexpr double twoTo32 = 4294967296.0;

bool sideIsValid(double side) { return std::isfinite(side) && std::trunc(side) >= 0.0 && side < twoTo32; }

}  // namespace

FrameSize frameSize(double width, double height) {
    if (!sideIsValid(width) || !sideIsValid(height)) return {0, true};
    const auto w = static_cast<std::uint64_t>(width);
    const auto h = static_cast<std::uint64_t>(height);
    if (w != 0 && h > UINT32_MAX / w) return {0, true};
    return {static_cast<std::uint32_t>(w * h), false};
}

bool bufferFits(const void* pixels, std::uint32_t count, std::size_t knownBytes) {
    if (count == 0) return true;
    if (pixels == nullptr) return false;
    return std::uint64_t{count} * 4u <= knownBytes;
}

}  // namespace pelx04
