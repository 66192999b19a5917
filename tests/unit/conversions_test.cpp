// The conversions every call goes through: doubles to integers, rounding, and
// the frame size with its refusals.
#include <cmath>
#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

#include "lua/frame_size.hpp"
#include "core/pixel.hpp"

namespace pelx04 {
namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
const double nan = std::nan("");

TEST(TruncateToInt32, IsDefinedForEveryDouble) {
    const struct {
        double in;
        std::int32_t out;
    } cases[] = {
        {2.9, 2},           {-2.9, -2},           {0.5, 0},           {-0.5, 0},
        {nan, 0},           {inf, INT32_MAX},     {-inf, INT32_MIN},  {1e300, INT32_MAX},
        {2147483647.0, INT32_MAX}, {2147483647.9, INT32_MAX}, {2147483648.0, INT32_MAX},
        {-2147483648.0, INT32_MIN}, {-2147483648.9, INT32_MIN}, {-2147483647.5, -2147483647},
        {9.3e18, INT32_MAX}, {-9.3e18, INT32_MIN},
    };
    for (const auto& c : cases) EXPECT_EQ(truncateToInt32(c.in), c.out) << c.in;
}

TEST(RoundHalfAway, HalvesGoAwayFromZero) {
    const struct {
        double in, out;
    } cases[] = {{0.5, 1}, {1.5, 2}, {2.5, 3}, {-0.5, -1}, {-2.5, -3}, {0.49999999999999994, 0}, {3.4, 3}};
    for (const auto& c : cases) EXPECT_EQ(roundHalfAway(c.in), c.out) << c.in;
    EXPECT_TRUE(std::isnan(roundHalfAway(nan)));
    EXPECT_EQ(roundHalfAway(-inf), -inf);
}

TEST(FrameSize, TruncatesAndRefusesWhatWouldWrap) {
    const struct {
        double width, height;
        std::uint32_t count;
        bool refused;
    } cases[] = {
        {2.9, 3, 6, false},
        {0, 1e9, 0, false},
        {-0.5, 4, 0, false},
        {65536, 65535, 4294901760u, false},
        {4294967295.0, 1, 4294967295u, false},
        {65536, 65536, 0, true},
        {4294967296.0, 1, 0, true},
        {4294967297.0, 0, 0, true},
        {4294967296.0, 0, 0, true},
        {0, 4294967296.0, 0, true},
        {-1, 5, 0, true},
        {5, -1e300, 0, true},
        {nan, 1, 0, true},
        {1, inf, 0, true},
    };
    for (const auto& c : cases) {
        const FrameSize size = frameSize(c.width, c.height);
        EXPECT_EQ(size.count, c.count) << c.width << " x " << c.height;
        EXPECT_EQ(size.refused, c.refused) << c.width << " x " << c.height;
    }
}

TEST(BufferFits, RefusesNullAndShortBlocks) {
    unsigned char block[8];
    EXPECT_TRUE(bufferFits(nullptr, 0, 0));
    EXPECT_FALSE(bufferFits(nullptr, 1, SIZE_MAX));
    EXPECT_TRUE(bufferFits(block, 2, 8));
    EXPECT_FALSE(bufferFits(block, 3, 8));
    EXPECT_TRUE(bufferFits(block, UINT32_MAX, SIZE_MAX));
}

}  // namespace
}  // namespace pelx04
