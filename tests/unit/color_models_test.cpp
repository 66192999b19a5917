// The HSV and YPbPr conversions on values where a wrong order of operations,
// constant or rounding shows, and properties over every 24-bit colour.
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include <gtest/gtest.h>

#include "color/hsv.hpp"
#include "color/ypbpr.hpp"

namespace pelx04 {
namespace {

struct Rgb {
    std::int32_t r, g, b;
};

bool operator==(const Rgb& x, const Rgb& y) { return x.r == y.r && x.g == y.g && x.b == y.b; }

std::ostream& operator<<(std::ostream& os, const Rgb& c) {
    return os << "(" << c.r << ", " << c.g << ", " << c.b << ")";
}

Rgb scaledRoundTrip(const Rgb& in) {
    double h, s, v;
    rgbToHsv(in.r, in.g, in.b, h, s, v);
    Rgb out;
    scaledHsvToRgb(h, s, v, out.r, out.g, out.b);
    return out;
}

TEST(RgbToHsv, GoldenTriples) {
    const struct {
        Rgb in;
        double hue, saturation, value;
    } cases[] = {
        {{255, 0, 0}, 0, 255, 255},     {{255, 255, 0}, 60, 255, 255},  {{0, 255, 0}, 120, 255, 255},
        {{0, 255, 255}, 180, 255, 255}, {{0, 0, 255}, 240, 255, 255},   {{255, 0, 255}, 300, 255, 255},
        {{100, 100, 100}, 0, 0, 100},   {{0, 0, 0}, 0, 0, 0},           {{255, 255, 255}, 0, 0, 255},
        {{128, 64, 32}, 20, 191.25, 128},
        // Halves: the red formula's -0.5 rounds to -1 and wraps to 359; the
        // green offset is added before rounding, so 119.5 gives 120.
        {{240, 121, 120}, 1, 127.5, 240}, {{240, 120, 121}, 359, 127.5, 240}, {{121, 240, 120}, 120, 127.5, 240},
        {{255, 0, 1}, 0, 255, 255},  // q = -0.235... rounds to 0, not to 359
        {{255, 0, 4}, 359, 255, 255},
        {{510, 0, 0}, 0, 255, 510},  // rounded channels of mirtHsvHeitan reach 510
        // Multiplication first: 6 × 255 / 7 is one rounding, 6 / 7 × 255 two.
        {{1, 1, 7}, 240, 1530.0 / 7.0, 7},
    };
    for (const auto& c : cases) {
        double h, s, v;
        rgbToHsv(c.in.r, c.in.g, c.in.b, h, s, v);
        EXPECT_EQ(h, c.hue) << c.in;
        EXPECT_EQ(s, c.saturation) << c.in;
        EXPECT_EQ(v, c.value) << c.in;
    }
}

TEST(ScaledHsvToRgb, GoldenChannels) {
    const struct {
        Rgb in, out;
    } roundTrips[] = {
        {{255, 255, 255}, {254, 254, 254}}, {{1, 1, 1}, {0, 0, 0}},       {{255, 0, 0}, {254, 0, 0}},
        {{128, 64, 32}, {127, 63, 32}},     {{0, 0, 0}, {0, 0, 0}},
        // Hue 359, sector 5; P comes out exactly 120 in this order of operations.
        {{240, 120, 121}, {239, 120, 121}},
        // P exactly 17 only as ((1 - s) × v) × 255; (1 - s) × (v × 255) gives 16.99...
        {{17, 17, 34}, {17, 17, 33}},
    };
    for (const auto& c : roundTrips) EXPECT_EQ(scaledRoundTrip(c.in), c.out) << c.in;

    const struct {
        double hue, saturation, value;
        Rgb out;
    } triples[] = {
        // On a sector edge the multiplier picks the sector below with f = 1.
        {60, 255, 255, {254, 254, 0}},  {120, 255, 255, {0, 254, 0}},   {180, 255, 255, {0, 254, 254}},
        {240, 255, 255, {0, 0, 254}},   {300, 255, 255, {254, 0, 254}}, {0, 255, 255, {254, 0, 0}},
        {30, 255, 255, {254, 127, 0}},  {90, 255, 255, {127, 254, 0}},  {150, 255, 255, {0, 254, 127}},
        {210, 255, 255, {0, 127, 254}}, {270, 255, 255, {127, 0, 254}}, {330, 255, 255, {254, 0, 127}},
        // Beyond the 0..255 scale, as mirtHsvHeitan passes them: unclamped, and
        // negative candidates truncate toward zero (-64.99 gives -64).
        {0, 200, 300, {299, 64, 64}},   {0, 320, 255, {254, -64, -64}},
    };
    for (const auto& c : triples) {
        Rgb out;
        scaledHsvToRgb(c.hue, c.saturation, c.value, out.r, out.g, out.b);
        EXPECT_EQ(out, c.out) << "hue " << c.hue << " s " << c.saturation << " v " << c.value;
    }
}

TEST(HsvToRgb, SectorComesFromTheMultiplier) {
    // A hair above 60 still falls in sector 0 (f a hair above 1), where an
    // exact division would pick sector 1 and lose one in red.
    Rgb out;
    hsvToRgb(60.000000001, 1.0, 1.0, out.r, out.g, out.b);
    EXPECT_EQ(out, (Rgb{255, 255, 0}));
    // Past 60 / 0.01666666666 the sector is 1 and red a hair below 255.
    hsvToRgb(60.0000001, 1.0, 1.0, out.r, out.g, out.b);
    EXPECT_EQ(out, (Rgb{254, 255, 0}));
}

TEST(HsvToRgb, ZeroSaturationGivesEqualChannels) {
    for (double hue : {0.0, 59.0, 60.0, 179.5, 300.0, 359.0}) {
        Rgb out;
        hsvToRgb(hue, 0.0, 0.5, out.r, out.g, out.b);
        EXPECT_EQ(out, (Rgb{127, 127, 127})) << hue;
        hsvToRgb(hue, 0.0, 1.0, out.r, out.g, out.b);
        EXPECT_EQ(out, (Rgb{255, 255, 255})) << hue;
    }
}

TEST(WrapHue, RemainderThenPositive) {
    const struct {
        std::int64_t sum;
        double hue;
    } cases[] = {
        {0, 0},        {359, 359},    {360, 0},      {719, 359},         {3600, 0},
        {-1, 359},     {-359, 1},     {-360, 0},     {-361, 359},        {-3600, 0},
        {std::int64_t{INT32_MAX} + 359, 126},        {std::int64_t{INT32_MIN}, 232},
        {INT64_MAX, 7}, {INT64_MIN, 352},
    };
    for (const auto& c : cases) EXPECT_EQ(wrapHue(c.sum), c.hue) << c.sum;
}

TEST(HsvSweep, HueIsAWholeDegreeAndTheWayBackLosesOneAtTheTop) {
    long failures = 0;
    for (std::int32_t c = 0; c < (1 << 24) && failures < 10; ++c) {
        const Rgb in{c >> 16, (c >> 8) & 255, c & 255};
        double h, s, v;
        rgbToHsv(in.r, in.g, in.b, h, s, v);
        const std::int32_t max = std::max(in.r, std::max(in.g, in.b));
        bool ok = h >= 0 && h <= 359 && h == std::floor(h) && s >= 0 && s <= 255 && v == max;
        Rgb out;
        scaledHsvToRgb(h, s, v, out.r, out.g, out.b);
        // Every channel equal to the largest comes back exactly one lower; the
        // others land within a few levels, the hue being whole degrees.
        const std::int32_t ins[3] = {in.r, in.g, in.b}, outs[3] = {out.r, out.g, out.b};
        for (int k = 0; k < 3; ++k) {
            if (ins[k] == max) {
                ok = ok && outs[k] == (max == 0 ? 0 : max - 1);
            } else {
                ok = ok && std::abs(outs[k] - ins[k]) <= 3;
            }
        }
        if (!ok) {
            ++failures;
            ADD_FAILURE() << in << " -> hue " << h << " s " << s << " v " << v << " -> " << out;
        }
    }
}

TEST(RgbToYPbPr, GoldenTriples) {
    double y, pb, pr;
    rgbToYPbPr(0, 0, 0, y, pb, pr);
    EXPECT_EQ(y, 0.0);
    EXPECT_EQ(pb, 0.0);
    EXPECT_EQ(pr, 0.0);

    rgbToYPbPr(255, 255, 255, y, pb, pr);
    EXPECT_EQ(y, 254.99999999999997);
    EXPECT_EQ(pb, 0.0);
    EXPECT_GT(pr, 1e-14);
    EXPECT_LT(pr, 1.3e-14);

    rgbToYPbPr(0, 0, 255, y, pb, pr);
    EXPECT_EQ(pb, 127.5);
    rgbToYPbPr(255, 0, 0, y, pb, pr);
    EXPECT_EQ(pr, 127.5);

    rgbToYPbPr(0, 255, 0, y, pb, pr);
    EXPECT_NEAR(y, 182.376, 1e-12);
    EXPECT_NEAR(pb, -98.28414, 1e-12);
    EXPECT_NEAR(pr, -115.809015, 1e-12);

    rgbToYPbPr(255, 255, 0, y, pb, pr);
    EXPECT_NEAR(pb, -127.5, 1e-12);
    rgbToYPbPr(0, 255, 255, y, pb, pr);
    EXPECT_NEAR(pr, -127.5, 1e-12);
}

TEST(YPbPrRoundTrip, GoldenChannels) {
    const struct {
        Rgb in, out;
    } cases[] = {
        {{0, 0, 0}, {0, 0, 0}},       {{255, 255, 255}, {255, 254, 254}}, {{0, 0, 255}, {0, 0, 255}},
        {{255, 0, 0}, {255, 0, 0}},   {{0, 255, 0}, {0, 254, 0}},         {{255, 255, 0}, {254, 254, 0}},
        {{100, 150, 200}, {100, 149, 199}},
        // Y summed as (0.2126 R + 0.7152 G) + 0.0722 B; the other grouping keeps 6.
        {{1, 1, 6}, {1, 1, 5}},
    };
    for (const auto& c : cases) {
        double y, pb, pr;
        rgbToYPbPr(c.in.r, c.in.g, c.in.b, y, pb, pr);
        Rgb out;
        ypbprToRgb(y, pb, pr, out.r, out.g, out.b);
        EXPECT_EQ(out, c.out) << c.in;
    }
}

TEST(YPbPrToRgb, TruncatesTowardZero) {
    const struct {
        double y, pb, pr;
        Rgb out;
    } cases[] = {
        {-0.7, 0, 0, {0, 0, 0}},
        {-1.2, 0, 0, {-1, -1, -1}},
        {0.9, 0, 0, {0, 0, 0}},
        {0, 0, -1.0, {-1, 0, 0}},   // R = -1.5748
        {0, -1.0, 0, {0, 0, -1}},   // B = -1.8556, G = +0.187324
        {0, 1.0, 0, {0, 0, 1}},     // G = -0.187324
        {0, 0, 1.0, {1, 0, 0}},     // G = -0.468124
        {0, 0, 2.5, {3, -1, 0}},    // G = -1.17031
    };
    for (const auto& c : cases) {
        Rgb out;
        ypbprToRgb(c.y, c.pb, c.pr, out.r, out.g, out.b);
        EXPECT_EQ(out, c.out) << c.y << " " << c.pb << " " << c.pr;
    }
}

TEST(YPbPrSweep, RoundTripNeverRaisesAndLosesAtMostOne) {
    long failures = 0, lowered = 0;
    for (std::int32_t c = 0; c < (1 << 24) && failures < 10; ++c) {
        const Rgb in{c >> 16, (c >> 8) & 255, c & 255};
        double y, pb, pr;
        rgbToYPbPr(in.r, in.g, in.b, y, pb, pr);
        Rgb out;
        ypbprToRgb(y, pb, pr, out.r, out.g, out.b);
        const std::int32_t dr = in.r - out.r, dg = in.g - out.g, db = in.b - out.b;
        if (dr < 0 || dr > 1 || dg < 0 || dg > 1 || db < 0 || db > 1) {
            ++failures;
            ADD_FAILURE() << in << " -> " << out;
        }
        if (dr + dg + db > 0) ++lowered;
    }
    // About two thirds of all colours lose a level somewhere; a rounding way
    // back would lose almost none.
    EXPECT_GT(lowered, (1 << 24) / 100 * 60);
    EXPECT_LT(lowered, (1 << 24) / 100 * 72);
}

}  // namespace
}  // namespace pelx04
