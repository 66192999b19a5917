// Golden values for the per-pixel rules of the channel filters, chosen where a
// slip in order of operations, rounding or clamping would show.
#include <cmath>
#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

#include "filters/channel_offset.hpp"
#include "filters/channel_swap.hpp"
#include "filters/gamma.hpp"
#include "filters/gradation.hpp"
#include "filters/grey.hpp"
#include "filters/posterize.hpp"

namespace pelx04 {
namespace {

constexpr std::uint32_t argb(int a, int r, int g, int b) { return packWord(a, r, g, b); }

TEST(ChannelOffset, SaturatesEachChannel) {
    const ChannelOffsetParams p{10, -20, 300, -255};
    EXPECT_EQ(channelOffsetPixel(argb(255, 16, 32, 48), p), argb(0, 26, 12, 255));
    const ChannelOffsetParams extreme{INT32_MAX, INT32_MIN, INT32_MAX, INT32_MIN};
    EXPECT_EQ(channelOffsetPixel(argb(255, 255, 0, 1), extreme), argb(0, 255, 0, 255));
}

TEST(Gamma, ExponentsAreQuantisedToHundredths) {
    const struct {
        double argument, scale, exponent;
    } cases[] = {
        {2.2, 1000, 2.2}, {0.22, 100, 2.2}, {0.4545, 1000, 0.45}, {0.45, 1000, 0.45},
        {1, 1000, 1.0},   {0.004, 1000, 0.0}, {0.005, 1000, 0.01}, {-1, 1000, -1.0},
    };
    // The exponents are the doubles these literals name: 0.01 x 220 is 2.2 exactly, 0.01 x 45 is 0.45.
    for (const auto& c : cases) EXPECT_EQ(gammaExponent(c.argument, c.scale), c.exponent) << c.argument;
}

TEST(Gamma, ChannelCurves) {
    const struct {
        double exponent;
        int in[6], out[6];
    } cases[] = {
        {2.2, {0, 64, 128, 192, 254, 255}, {0, 12, 56, 137, 253, 255}},
        {0.45, {0, 1, 64, 128, 192, 254}, {0, 21, 137, 187, 224, 255}},
        {0.0, {0, 1, 64, 128, 192, 255}, {255, 255, 255, 255, 255, 255}},
        {-1.0, {0, 1, 64, 128, 192, 255}, {255, 255, 255, 255, 255, 255}},
        {std::nan(""), {0, 1, 64, 128, 254, 255}, {0, 0, 0, 0, 0, 255}},
    };
    for (const auto& c : cases) {
        for (int i = 0; i < 6; ++i) EXPECT_EQ(gammaChannel(c.in[i], c.exponent), c.out[i]) << c.exponent << " " << c.in[i];
    }
}

TEST(Gradation, BandsThenMultiplies) {
    const struct {
        std::int32_t divisor, multiplier;
        int in, out;
    } cases[] = {
        {64, 85, 63, 0},   {64, 85, 64, 85},   {64, 85, 191, 170}, {64, 85, 192, 255},
        {64, 64, 255, 192}, {1, 2, 127, 254},   {1, 2, 128, 255},   {256, 255, 255, 0},
        {1, -1, 200, 0},   {1, INT32_MAX, 1, 255}, {3, INT32_MIN, 255, 0},
    };
    for (const auto& c : cases) {
        const GradationParams p = gradationParams(c.divisor, c.multiplier, 0, 0);
        EXPECT_EQ(gradationChannel(c.in, p.divisor, p.red), c.out) << c.divisor << " " << c.multiplier << " " << c.in;
    }
    EXPECT_EQ(gradationParams(0, 1, 1, 1).divisor, 1);
    EXPECT_EQ(gradationParams(-7, 1, 1, 1).divisor, 1);
}

TEST(Posterize, StepsAreSettledOnce) {
    const struct {
        PosterizeArgs args;
        PosterizeParams want;
    } cases[] = {
        {{64, 1, 2, 3, 0}, {false, 64, 64, 64, 64}},
        {{0, 1, 2, 3, 0}, {false, 0, 1, 2, 3}},
        {{0, 1, 2, 3, 1}, {true, 1, 1, 2, 3}},
        {{5, 1, 2, 3, 1}, {true, 5, 5, 5, 5}},
        {{0, 0, 0, 0, 2}, {false, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        const PosterizeParams p = posterizeParams(c.args);
        EXPECT_EQ(p.grey, c.want.grey);
        EXPECT_EQ(p.greyStep, c.want.greyStep);
        EXPECT_EQ(p.red, c.want.red);
        EXPECT_EQ(p.green, c.want.green);
        EXPECT_EQ(p.blue, c.want.blue);
    }
}

TEST(Posterize, GreyRoundsTheMeanToTheNearestStep) {
    const struct {
        int r, g, b;
        std::int32_t step;
        int out;
    } cases[] = {
        {10, 20, 31, 1, 20},  {0, 1, 1, 1, 1},       {255, 255, 255, 1, 255}, {99, 99, 99, 2, 98},
        {1, 1, 1, 2, 0},      {255, 255, 255, 64, 255}, {100, 100, 100, 64, 128}, {200, 200, 200, 300, 255},
        {100, 100, 100, 300, 0}, {100, 100, 100, -64, 128}, {255, 255, 255, INT32_MIN, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(posterizeGrey(c.r, c.g, c.b, c.step), c.out) << c.r << " " << c.step;
}

TEST(Posterize, ColourCutsDownAndKeepsZeroSteps) {
    const struct {
        std::int32_t step;
        int in, out;
    } cases[] = {{64, 63, 0}, {64, 255, 192}, {100, 199, 100}, {-64, 130, 128}, {256, 255, 0}, {0, 77, 77},
                 {INT32_MIN, 255, 0}, {-1, 255, 255}};
    for (const auto& c : cases) EXPECT_EQ(posterizeChannel(c.in, c.step), c.out) << c.step << " " << c.in;
}

TEST(Grey, ModesOffsetsAndInversion) {
    const std::uint32_t px = argb(200, 100, 150, 200);
    const struct {
        GreyParams p;
        int out;
    } cases[] = {
        {{1, 0, 0}, 100},   {{2, 0, 0}, 150},   {{3, 0, 0}, 200},   {{4, 0, 0}, 150},   {{5, 0, 0}, 143},
        {{6, 0, 0}, 141},   {{7, 0, 0}, 200},   {{8, 0, 0}, 100},   {{1, 50, 0}, 150},  {{5, 50, 0}, 193},
        {{6, 50, 0}, 191},  {{7, 50, 0}, 200},  {{8, 50, 0}, 100},  {{1, 0, 1}, 155},  {{1, 300, 1}, 0},
        {{1, 0, 2}, 100},   {{1, INT32_MAX, 0}, 255}, {{1, INT32_MIN, 1}, 255},
    };
    for (const auto& c : cases) EXPECT_EQ(greyPixel(px, c.p), argb(200, c.out, c.out, c.out)) << c.p.mode;
    EXPECT_EQ(greyValue(1, 2, 2, 4), 1);
    EXPECT_EQ(greyValue(255, 0, 0, 5), 54);
    EXPECT_EQ(greyValue(255, 0, 0, 6), 76);
    EXPECT_EQ(greyValue(255, 255, 255, 5), 255);
    EXPECT_TRUE(greyLeavesBuffer({0, 0, 0}));
    EXPECT_TRUE(greyLeavesBuffer({9, 0, 0}));
    EXPECT_TRUE(greyLeavesBuffer({-1, 0, 0}));
}

TEST(ChannelSwap, OffsetsMoveWithTheirChannel) {
    const std::uint32_t px = argb(9, 10, 20, 30);
    const struct {
        ChannelSwapParams p;
        std::uint32_t out;
    } cases[] = {
        {{0, 0, 0, 0}, argb(9, 10, 20, 30)}, {{1, 0, 0, 0}, argb(9, 20, 30, 10)}, {{2, 0, 0, 0}, argb(9, 30, 10, 20)},
        {{3, 0, 0, 0}, argb(9, 10, 30, 20)}, {{4, 0, 0, 0}, argb(9, 30, 20, 10)}, {{5, 0, 0, 0}, argb(9, 20, 10, 30)},
        {{1, 50, 0, 0}, argb(9, 20, 30, 60)}, {{0, 300, -300, 0}, argb(9, 255, 0, 30)},
        {{6, 0, 0, 0}, argb(9, 0, 0, 0)},   {{-1, 5, 5, 5}, argb(9, 0, 0, 0)},
    };
    for (const auto& c : cases) EXPECT_EQ(channelSwapPixel(px, c.p), c.out) << c.p.mode;
}

}  // namespace
}  // namespace pelx04
