// The fast paths of the channel filters against their literal per-pixel
// passes, at every instruction-set level this CPU has: all 2^24 colours, every
// alpha, boundary parameters, and buffers with guard words of odd sizes and
// misaligned starts.
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fast_path_harness.hpp"
#include "filters/channel_offset.hpp"
#include "filters/channel_swap.hpp"
#include "filters/gamma.hpp"
#include "filters/gradation.hpp"
#include "filters/grey.hpp"
#include "filters/posterize.hpp"
#include "core/cpu_features.hpp"

namespace pelx04 {
namespace {

using namespace fastpath;

std::vector<Filter> offsetFilters() {
    std::vector<Filter> v;
    const ChannelOffsetParams grid[] = {
        {0, 0, 0, 0},        {10, -20, 300, -255}, {255, -255, 1, -1}, {kMax, kMin, 254, -254},
        {-1, 1, 128, 0},     {0, 0, 0, 255},       {0, 0, 0, -254},    {kMin, kMax, -256, 256},
    };
    for (const auto& p : grid) {
        v.push_back(filterOf("mirtRGB " + joined({p.red, p.green, p.blue, p.alpha}), &applyChannelOffsetReference,
                             &applyChannelOffset, p));
    }
    return v;
}

std::vector<Filter> swapFilters() {
    std::vector<Filter> v;
    // Every mode with offsets that saturate both ways first, then plain.
    for (std::int32_t mode : {0, 1, 2, 3, 4, 5, 6}) {
        v.push_back(filterOf("mirtRGB2CONV " + std::to_string(mode) + " offsets", &applyChannelSwapReference,
                             &applyChannelSwap, ChannelSwapParams{mode, 50, -100, 7}));
    }
    v.push_back(filterOf("mirtRGB2CONV extreme", &applyChannelSwapReference, &applyChannelSwap,
                         ChannelSwapParams{1, kMax, kMin, 255}));
    for (std::int32_t mode : {0, 1, 2, 3, 4, 5, 6, -1, kMax}) {
        v.push_back(filterOf("mirtRGB2CONV " + std::to_string(mode), &applyChannelSwapReference, &applyChannelSwap,
                             ChannelSwapParams{mode, 0, 0, 0}));
    }
    return v;
}

std::vector<Filter> gradationFilters() {
    std::vector<Filter> v;
    const std::int32_t grid[][4] = {
        {64, 85, 64, 255}, {3, 7, 100, 255}, {7, 254, 128, 37}, {-5, kMax, kMin, 3},
        {255, 256, 1, 2},  {1, 1, 1, 1},     {0, 2, -1, 0},     {256, 255, 255, 255}, {kMax, 1, 1, 1},
    };
    for (const auto& g : grid) {
        const GradationParams p = gradationParams(g[0], g[1], g[2], g[3]);
        v.push_back(filterOf("mirtGradation256 " + joined({g[0], g[1], g[2], g[3]}), &applyGradationReference,
                             &applyGradation, p));
    }
    return v;
}

std::vector<Filter> posterizeFilters() {
    std::vector<Filter> v;
    const PosterizeArgs grid[] = {
        {100, 0, 0, 0, 0},  {0, 3, -7, 255, 2}, {0, kMin, kMax, 0, 0}, {0, 0, 0, 0, 1},  {2, 0, 0, 0, 1},
        {3, 0, 0, 0, 1},    {300, 0, 0, 0, 1},  {-3, 0, 0, 0, 1},      {1, 0, 0, 0, 0},  {64, 0, 0, 0, 0},
        {0, 1, 64, 128, 0}, {-64, 0, 0, 0, 0},  {300, 0, 0, 0, 0},     {64, 0, 0, 0, 1}, {kMin, 0, 0, 0, 1},
        {kMax, 0, 0, 0, 1},
    };
    for (const auto& a : grid) {
        v.push_back(filterOf("mirtheitan " + joined({a.common, a.red, a.green, a.blue}) + " mode " +
                                 std::to_string(a.mode),
                             &applyPosterizeReference, &applyPosterize, posterizeParams(a)));
    }
    return v;
}

std::vector<Filter> greyFilters() {
    std::vector<Filter> v;
    // Every mode with an offset and inversion first (mode 0 and 9 change
    // nothing), then plain, then extremes.
    const std::int32_t variants[][2] = {{50, 1}, {-20, 0}, {0, 0}, {kMax, 1}, {kMin, 2}, {-300, 1}};
    for (const auto& o : variants) {
        for (std::int32_t mode : {1, 2, 3, 4, 5, 6, 7, 8, 0, 9}) {
            v.push_back(filterOf("mirtRGB2GRA mode " + std::to_string(mode) + " offset " + std::to_string(o[0]) +
                                     " invert " + std::to_string(o[1]),
                                 &applyGreyReference, &applyGrey, GreyParams{mode, o[0], o[1]}));
        }
    }
    return v;
}

// Gamma's reference costs three pow calls a pixel: the full colour sweep takes
// a few exponent sets, the rest run on every value of every channel.
std::vector<Filter> gammaFilters(bool full) {
    const double nan = std::nan("");
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<GammaParams> grid;
    if (full) {
        grid = {gammaParams({1000, 2.2, 1, 0.4545}), gammaParams({1000, 0, -1, nan}), GammaParams{0.45, -300, 1.0}};
    } else {
        grid = {gammaParams({1000, 1, 1, 1}),     gammaParams({1, 1e9, -1e9, 0.004}), gammaParams({-7, 3, 0.5, 100}),
                GammaParams{inf, -inf, -0.0},      GammaParams{1e-300, 2.5, 0.01},     GammaParams{-0.01, 7.77, 0.99}};
    }
    std::vector<Filter> v;
    for (const GammaParams& p : grid) {
        v.push_back(filterOf("mirtGanma " + std::to_string(p.red) + "," + std::to_string(p.green) + "," +
                                 std::to_string(p.blue),
                             &applyGammaReference, &applyGamma, p));
    }
    return v;
}

// Grids are ordered so that the sets most likely to catch a fault come first
// and meet every colour; the rest meet every alpha, which keeps the suite
// within seconds.
TEST(FastPathChannel, OffsetEveryColour) { sweep(offsetFilters(), 6); }
TEST(FastPathChannel, SwapEveryColour) { sweep(swapFilters(), 8); }
TEST(FastPathChannel, GradationEveryColour) { sweep(gradationFilters(), 6); }
TEST(FastPathChannel, PosterizeEveryColour) { sweep(posterizeFilters(), 8); }
TEST(FastPathChannel, GreyEveryColour) { sweep(greyFilters(), 13); }
TEST(FastPathChannel, GammaEveryColour) { sweep(gammaFilters(true), 2); }

// Each channel takes every value (R, G) with B = R xor G, and every alpha: the
// whole domain of a rule whose channels do not mix.
TEST(FastPathChannel, GammaEveryChannelValue) {
    std::vector<std::uint32_t> words(1u << 16);
    for (std::uint32_t i = 0; i < words.size(); ++i) {
        const std::uint32_t r = i >> 8, g = i & 0xFF;
        words[i] = (i * 37u & 0xFFu) << 24 | r << 16 | g << 8 | (r ^ g);
    }
    for (const Filter& f : gammaFilters(false)) expectSame(f, words, "every channel value");
}

// Every divisor and step a channel can meet, and the first ones past 255.
TEST(FastPathChannel, EveryDivisor) {
    std::vector<std::uint32_t> words(256);
    for (std::uint32_t v = 0; v < 256; ++v) words[v] = 0xFF000000u | v << 16 | (255 - v) << 8 | v;
    for (std::int32_t d = 1; d <= 260; ++d) {
        expectSame(filterOf("mirtGradation256 divisor " + std::to_string(d), &applyGradationReference, &applyGradation,
                            gradationParams(d, 1, d, 255)),
                   words, "every value");
        expectSame(filterOf("mirtheitan step " + std::to_string(d), &applyPosterizeReference, &applyPosterize,
                            posterizeParams({0, d, -d, d, 0})),
                   words, "every value");
    }
}

// Posterised grey depends on R + G + B alone: one colour for every sum, under
// every step up to past the point (511) where all sums give 0.
TEST(FastPathChannel, EveryGreyStep) {
    std::vector<std::uint32_t> words(766);
    for (std::uint32_t sum = 0; sum < 766; ++sum) {
        const std::uint32_t r = sum < 255 ? sum : 255, g = sum - r < 255 ? sum - r : 255;
        words[sum] = 0xFF000000u | r << 16 | g << 8 | (sum - r - g);
    }
    std::vector<std::int32_t> steps = {kMin, kMin + 1, -100000, 100000, kMax};
    for (std::int32_t s = -520; s <= 520; ++s) steps.push_back(s);
    for (std::int32_t s : steps) {
        expectSame(filterOf("mirtheitan grey step " + std::to_string(s), &applyPosterizeReference, &applyPosterize,
                            posterizeParams({s, 0, 0, 0, 1})),
                   words, "every sum");
    }
}

// Every third set of each filter and one of gamma's between guard words; the
// full frame goes to the first and the last.
TEST(FastPathChannel, GuardsAndTails) {
    std::vector<Filter> filters =
        sampled({offsetFilters(), swapFilters(), gradationFilters(), posterizeFilters(), greyFilters()}, 3);
    filters.push_back(gammaFilters(false)[1]);
    expectGuarded(filters, 11, [&filters](std::size_t n, std::size_t) { return n == 0 || n + 1 == filters.size(); });
}

TEST(CpuFeatures, LimitLowersAndLifts) {
    const CpuLevel top = detectedCpuLevel();
    {
        LevelCap cap(CpuLevel::portable);
        EXPECT_EQ(cpuLevel(), CpuLevel::portable);
    }
    EXPECT_EQ(cpuLevel(), top);
#if PELX04_X86
    EXPECT_GE(top, CpuLevel::sse2);
#elif PELX04_WASM_SIMD
    EXPECT_EQ(top, CpuLevel::sse2);
#else
    EXPECT_EQ(top, CpuLevel::portable);
#endif
}

// A slower kernel chosen where a faster one exists stays exact, so only this
// shows it: at each level the best kernel at or below it answers.
int kernelPortable() { return 0; }
int kernelSse2() { return 1; }
int kernelAvx2() { return 2; }
int kernelAvx512() { return 3; }

TEST(CpuFeatures, PicksTheFastestKernelAtOrBelowTheLevel) {
    using Kernel = int (*)();
    const struct {
        CpuLevel cap;
        Kernel sse2, avx2, avx512;
        int chosen;
    } cases[] = {
        {CpuLevel::portable, &kernelSse2, &kernelAvx2, &kernelAvx512, 0},
        {CpuLevel::sse2, &kernelSse2, &kernelAvx2, &kernelAvx512, 1},
        {CpuLevel::sse2, nullptr, &kernelAvx2, nullptr, 0},
        {CpuLevel::avx2, &kernelSse2, &kernelAvx2, &kernelAvx512, 2},
        {CpuLevel::avx2, &kernelSse2, nullptr, nullptr, 1},
        {CpuLevel::avx2, nullptr, nullptr, nullptr, 0},
        {CpuLevel::avx512, &kernelSse2, &kernelAvx2, &kernelAvx512, 3},
        {CpuLevel::avx512, &kernelSse2, &kernelAvx2, nullptr, 2},
        {CpuLevel::avx512, nullptr, nullptr, nullptr, 0},
    };
    for (const auto& c : cases) {
        if (c.cap > detectedCpuLevel()) continue;
        LevelCap cap(c.cap);
        EXPECT_EQ(pickKernel<Kernel>(&kernelPortable, c.sse2, c.avx2, c.avx512)(), c.chosen) << cpuLevelName(c.cap);
    }
}

}  // namespace
}  // namespace pelx04
