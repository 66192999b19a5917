#include "error_band.hpp"

#include <algorithm>
#include <cstring>

namespace pelx04frei0r {
namespace {

constexpr std::uint32_t opaqueRed = 0xFFFF0000u;  // A, R, G, B from the top byte down

}  // namespace

unsigned errorBandRows(unsigned height) { return height / 12 + (height % 12 != 0 ? 1 : 0); }

void copyWithErrorBand(const std::uint32_t* in, std::uint32_t* out, unsigned width, unsigned height) {
    const std::size_t pixels = static_cast<std::size_t>(width) * height;
    if (in != out) std::memmove(out, in, pixels * 4);
    std::fill(out, out + static_cast<std::size_t>(width) * errorBandRows(height), opaqueRed);
}

}  // namespace pelx04frei0r
