// The fast paths of the HSV and YPbPr filters against their literal per-pixel
// passes, at every instruction-set level this CPU has: all 2^24 colours,
// every alpha, boundary parameters, and buffers with guard words of odd sizes
// and misaligned starts. The reference runs once per parameter set and each
// level is compared with it.
#include <cstdint>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "curves/hsv_band_shift.hpp"
#include "curves/hsv_tone_curve.hpp"
#include "curves/value_table.hpp"
#include "fast_path_harness.hpp"
#include "filters/hsv_posterize.hpp"
#include "filters/hsv_shift.hpp"
#include "filters/ypbpr_adjust.hpp"

namespace pelx04 {
namespace {

using namespace fastpath;

std::vector<Filter> hsvShiftFilters() {
    const HsvShiftParams grid[] = {
        {0, 0, 0},         {30, 10, -10},  {-1, 255, -255},  {359, -255, 255}, {kMin, kMax, kMin},
        {-360, 1, -1},     {360, 0, 0},    {kMax, -7, 7},    {120, 300, 0},    {-90, 0, 300},
        {3600, -100, 100}, {1, -300, -1},  {kMin + 1, 0, 0}, {-359, 128, -128},
    };
    std::vector<Filter> v;
    for (const auto& p : grid) {
        v.push_back(filterOf("mirtHSV " + joined({p.hue, p.saturation, p.value}), &applyHsvShiftReference,
                             &applyHsvShift, p));
    }
    return v;
}

std::vector<Filter> hsvPosterizeFilters() {
    const std::int32_t grid[][4] = {
        {1, 1, 1, 0},      {32, 64, 64, 0},     {100, 100, 100, -40}, {30, 51, 51, 359},    {0, 0, 0, 0},
        {-32, -64, -64, -1}, {255, 160, 255, 360}, {3, 7, 11, 121},     {kMax, kMin, kMax, kMin}, {256, 256, 256, 7},
        {2, 3, 5, kMax},   {510, 511, 2, -360},  {kMin, kMax, kMin, 1}, {17, 1, 300, 60},
    };
    std::vector<Filter> v;
    for (const auto& g : grid) {
        v.push_back(filterOf("mirtHsvHeitan " + joined({g[0], g[1], g[2], g[3]}), &applyHsvPosterizeReference,
                             &applyHsvPosterize, hsvPosterizeParams(g[0], g[1], g[2], g[3])));
    }
    return v;
}

// Tables whose entries wrap the hue, saturate both ways, reach the 32-bit
// ends, and vary entry by entry.
std::vector<std::vector<std::int32_t>> curveTables() {
    std::vector<std::int32_t> ramp(valueTableSize), wild(valueTableSize);
    std::mt19937 random(3);
    for (int i = 0; i < valueTableSize; ++i) {
        ramp[static_cast<std::size_t>(i)] = (i * 37) % 701 - 350;
        const std::int32_t picks[] = {kMax, kMin, 360, -360, 255, -255, 1, -1, 0, 720, -721, 359};
        wild[static_cast<std::size_t>(i)] = i % 2 ? picks[random() % 12] : static_cast<std::int32_t>(random());
    }
    return {ramp, wild, {120}, {-120}, {0}, {kMax - 400}, {kMin + 400}};
}

std::vector<Filter> hsvToneCurveFilters() {
    std::vector<Filter> v;
    const auto tables = curveTables();
    for (std::int32_t mode : {0, 1, 2}) {
        for (std::size_t t = 0; t < tables.size(); ++t) {
            v.push_back(filterOf("mirtToneCurveHSV mode " + std::to_string(mode) + " table " + std::to_string(t),
                                 &applyHsvToneCurveReference, &applyHsvToneCurve, HsvToneCurveParams{mode},
                                 tables[t]));
        }
    }
    for (std::int32_t mode : {3, -1, kMax}) {
        v.push_back(filterOf("mirtToneCurveHSV mode " + std::to_string(mode), &applyHsvToneCurveReference,
                             &applyHsvToneCurve, HsvToneCurveParams{mode}, tables[1]));
    }
    return v;
}

// Ordered so that a full sweep of the first few meets every component.
std::vector<Filter> hsvBandShiftFilters() {
    const std::int32_t grid[][3] = {
        {6, 0, 1},  {4, 1, 2},   {4, 2, 3},   {7, 0, 5},   {256, 1, 1}, {3, 1, kMax}, {360, 0, 359}, {1, 0, 1},
        {256, 2, 1}, {1, 1, 9},  {255, 1, 2}, {5, 2, kMax}, {100, 1, 1}, {3, 3, 0},   {0, -1, 0},    {0, 1, 1},
        {1, 2, 0},   {257, 1, 1}, {361, 0, 1},
    };
    const auto tables = curveTables();
    std::vector<Filter> v;
    for (std::size_t i = 0; i < std::size(grid); ++i) {
        const auto& g = grid[i];
        v.push_back(filterOf("mirtOgtoHsv " + joined({g[0], g[1], g[2]}), &applyHsvBandShiftReference,
                             &applyHsvBandShift, hsvBandShiftParams({g[0], g[1], g[2]}), tables[i % 2]));
    }
    return v;
}

std::vector<Filter> ypbprFilters() {
    const YPbPrAdjustParams grid[] = {
        {0, 0, 0, 0},      {10, 5, -5, 0},     {300, -200, 200, 255}, {-300, 200, -200, -255}, {kMax, kMin, kMax, kMin},
        {kMin, kMax, kMin, kMax}, {0, 0, 0, -1}, {0, -1, 1, 1},       {1, 127, -128, 254},     {-1, -127, 128, -254},
    };
    std::vector<Filter> v;
    for (const auto& p : grid) {
        v.push_back(filterOf("mirtYPbPr " + joined({p.luma, p.pb, p.pr, p.alpha}), &applyYPbPrAdjustReference,
                             &applyYPbPrAdjust, p));
    }
    return v;
}

TEST(FastPathColour, HsvShiftEveryColour) { sweep(hsvShiftFilters(), 3); }
TEST(FastPathColour, HsvPosterizeEveryColour) { sweep(hsvPosterizeFilters(), 2); }
TEST(FastPathColour, HsvToneCurveEveryColour) {
    // One table per mode meets every colour: the ramp for hue and value, the
    // wild one for saturation.
    const auto filters = hsvToneCurveFilters();
    for (std::size_t i : {std::size_t{0}, std::size_t{8}, std::size_t{14}}) {
        expectSame(filters[i], everyColour(), "every colour");
    }
    sweep(filters, 0);
}
TEST(FastPathColour, HsvBandShiftEveryColour) { sweep(hsvBandShiftFilters(), 3); }
TEST(FastPathColour, YPbPrEveryColour) { sweep(ypbprFilters(), 3); }

// Every step a channel, saturation or value can meet, and the first past the
// rounded range, on a set of colours that reaches every channel value.
TEST(FastPathColour, HsvPosterizeEveryStep) {
    std::vector<std::uint32_t> words(1u << 14);
    std::mt19937 random(13);
    for (std::uint32_t i = 0; i < words.size(); ++i) {
        words[i] = 0xFF000000u | (i < 256 ? i * 0x010203u & 0xFFFFFFu : random() & 0xFFFFFFu);
    }
    for (std::int32_t step = -2; step <= 515; step += (step < 300 ? 1 : 13)) {
        expectSame(filterOf("mirtHsvHeitan step " + std::to_string(step), &applyHsvPosterizeReference,
                            &applyHsvPosterize, hsvPosterizeParams(step, step, 257 - step, step)),
                   words, "random colours");
    }
}

// Every fourth set of each filter between guard words; the full frame goes to
// every sixth of those, misaligned by one byte.
TEST(FastPathColour, GuardsAndTails) {
    const std::vector<Filter> filters = sampled(
        {hsvShiftFilters(), hsvPosterizeFilters(), hsvToneCurveFilters(), hsvBandShiftFilters(), ypbprFilters()}, 4);
    expectGuarded(filters, 17, [](std::size_t n, std::size_t misalign) { return misalign == 1 && n % 6 == 0; });
}

}  // namespace
}  // namespace pelx04
