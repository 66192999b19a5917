// The pixel word and the conversions every filter shares.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

namespace pelx04 {

// A pixel word is A << 24 | R << 16 | G << 8 | B; in memory its bytes are B, G, R, A.
constexpr int channelA(std::uint32_t word) { return static_cast<int>(word >> 24); }
constexpr int channelR(std::uint32_t word) { return static_cast<int>((word >> 16) & 0xFFu); }
constexpr int channelG(std::uint32_t word) { return static_cast<int>((word >> 8) & 0xFFu); }
constexpr int channelB(std::uint32_t word) { return static_cast<int>(word & 0xFFu); }

constexpr bool isTransparent(std::uint32_t word) { return word < 0x01000000u; }

// Channels must already lie in 0..255.
constexpr std::uint32_t packWord(int a, int r, int g, int b) {
    return static_cast<std::uint32_t>(a) << 24 | static_cast<std::uint32_t>(r) << 16 |
           static_cast<std::uint32_t>(g) << 8 | static_cast<std::uint32_t>(b);
}

constexpr int clampChannel(std::int64_t value) {
    if (value < 0) return 0;
    if (value > 255) return 255;
    return static_cast<int>(value);
}

// Truncation toward zero into a signed 32-bit integer with a defined result for
// every double: NaN reads as 0 and anything beyond the range saturates.
inline std::int32_t truncateToInt32(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 2147483647.0) return INT32_MAX;
    if (value <= -2147483648.0) return INT32_MIN;
    return static_cast<std::int32_t>(value);
}

// Halves go away from zero; infinities and NaN come back unchanged.
inline double roundHalfAway(double value) { return std::round(value); }

// Pixels are reached through byte pointers: a host's buffer promises bytes, not
// 4-byte alignment, so every word is loaded and stored with memcpy.
inline std::uint32_t loadWord(const unsigned char* pixels, std::uint32_t index) {
    std::uint32_t word;
    std::memcpy(&word, pixels + std::size_t{index} * 4u, sizeof word);
    return word;
}

inline void storeWord(unsigned char* pixels, std::uint32_t index, std::uint32_t word) {
    std::memcpy(pixels + std::size_t{index} * 4u, &word, sizeof word);
}

}  // namespace pelx04
