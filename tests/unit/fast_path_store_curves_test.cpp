// The fast paths of the tone curve, histogram and picture store against their
// literal passes at every instruction-set level this CPU has.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "curves/histogram.hpp"
#include "curves/tone_curve.hpp"
#include "curves/value_table.hpp"
#include "fast_path_harness.hpp"
#include "core/cpu_features.hpp"
#include "core/pixel.hpp"
#include "core/pixel_pass.hpp"
#include "store/picture_blend.hpp"
#include "store/picture_keep.hpp"
#include "store/picture_store.hpp"

namespace pelx04 {
namespace {

using namespace fastpath;

// Curves that change nothing, push channels both ways, reach the 32-bit ends,
// and fall across the whole table.
std::vector<std::int32_t> curveTable(int kind) {
    std::mt19937 random(static_cast<unsigned>(kind));
    std::vector<std::int32_t> table(valueTableSize);
    for (int i = 0; i < valueTableSize; ++i) {
        std::int32_t& entry = table[static_cast<std::size_t>(i)];
        switch (kind) {
            case 0: entry = 0; break;
            case 1: entry = static_cast<std::int32_t>(random() % 601) - 300; break;
            case 2: entry = i % 2 ? kMax : kMin; break;
            default: entry = 128 - i; break;
        }
    }
    return table;
}

// The random curve comes first, and on it the modes that touch all three
// channels (0) or alpha (7): those two meet every colour.
std::vector<Filter> toneCurveFilters() {
    std::vector<Filter> v;
    for (int curve : {1, 0, 2, 3}) {
        for (std::int32_t mode : {0, 7, -1, 1, 2, 3, 4, 5, 6, 8}) {
            const ToneCurveParams p{mode};
            v.push_back({"mirtToneCurve mode " + std::to_string(mode) + " curve " + std::to_string(curve),
                         [p](unsigned char* px, std::uint32_t n) {
                             rewriteVisiblePixels(px, n, [&p](std::uint32_t w) { return toneCurvePixel(w, p); });
                         },
                         [p](unsigned char* px, std::uint32_t n) { applyToneCurve(px, n, p); }, curveTable(curve)});
        }
    }
    return v;
}

// The rule blends each word with the stored word at its index, transparent
// ones included: both passes read whatever pictureStore holds.
Filter blendFilter(double ratio) {
    const PictureBlendParams p = pictureBlendParams(ratio);
    char name[64];
    std::snprintf(name, sizeof name, "mirtMixPict1 ratio %.17g", ratio);
    return {name,
            [p](unsigned char* px, std::uint32_t n) {
                for (std::uint32_t i = 0; i < n; ++i) {
                    storeWord(px, i, pictureBlendPixel(loadWord(px, i), pictureStore[i], p));
                }
            },
            [p](unsigned char* px, std::uint32_t n) { applyPictureBlend(px, n, p); },
            {}};
}

TEST(FastPathCurves, ToneCurveEveryColourAndAlpha) { sweep(toneCurveFilters(), 2); }

std::vector<std::int32_t> literalHistogram(const unsigned char* bytes, std::uint32_t count, const HistogramParams& p) {
    std::uint64_t counts[256] = {};
    for (std::uint32_t i = 0; i < count; ++i) ++counts[histogramPixel(loadWord(bytes, i), p)];
    std::vector<std::int32_t> table(valueTableSize, 0);
    for (int k = 0; k < 256; ++k) table[static_cast<std::size_t>(k)] = saturatedCount(counts[k]);
    return table;
}

TEST(FastPathCurves, HistogramEveryColourAndOddSizes) {
    TableScope keep;
    const std::vector<std::int32_t> stale = curveTable(3);
    for (std::int32_t mode = -1; mode <= 4; ++mode) {
        const HistogramParams p{mode};
        struct Run {
            const std::vector<std::uint32_t>* words;
            std::size_t offset;  // bytes: 1 starts the frame misaligned
            std::uint32_t count;
        };
        std::vector<Run> runs = {{&everyColour(), 0, 1u << 24}};
        for (std::uint32_t n : {0u, 1u, 7u, 31u, 65u, 69999u}) {
            runs.push_back({&everyAlpha(), 0, n});
            runs.push_back({&everyAlpha(), 1, n});
        }
        for (const Run& run : runs) {
            const unsigned char* bytes = bytesOf(*run.words) + run.offset;
            const std::vector<std::int32_t> expected = literalHistogram(bytes, run.count, p);
            for (CpuLevel level : levelsHere()) {
                LevelCap cap(level);
                loadTable(stale);
                applyHistogram(bytes, run.count, p);
                EXPECT_EQ(std::vector<std::int32_t>(valueTable, valueTable + valueTableSize), expected)
                    << "mode " << mode << " count " << run.count << " offset " << run.offset << " at "
                    << cpuLevelName(level);
            }
        }
    }
}

TEST(FastPathStore, KeepCopiesTheWordsAsTheyLie) {
    for (std::size_t offset : {0u, 1u, 3u}) {
        for (std::uint32_t n : {0u, 1u, 7u, 65u, 70000u}) {
            std::fill(pictureStore, pictureStore + 70002, 0x12345678u);
            const unsigned char* bytes = bytesOf(everyAlpha()) + offset;
            applyPictureKeep(bytes, n);
            for (std::uint32_t i = 0; i < n; ++i) ASSERT_EQ(pictureStore[i], loadWord(bytes, i)) << i;
            EXPECT_EQ(pictureStore[n], 0x12345678u) << "written past the frame, count " << n;
        }
    }
}

// Every pair of channel values (frame, store) in every channel, alpha pairs
// (0, 0) included, then an odd tail of random words, some of them pairs of
// transparent words with colours a blend would change, under ratios that round
// at halves, leave 0..1, are subnormal, or are not finite. Consecutive ratios
// differ, so a pass that kept what it worked out for one ratio and reused it
// for the next would be caught.
TEST(FastPathStore, BlendEveryChannelPair) {
    std::vector<std::uint32_t> frame(65536 + 37), store(frame.size());
    for (std::uint32_t i = 0; i < 65536; ++i) {
        frame[i] = (i >> 8) * 0x01010101u;
        store[i] = (i & 0xFFu) * 0x01010101u;
    }
    std::mt19937 random(13);
    auto next = [&random] { return static_cast<std::uint32_t>(random()); };
    for (std::size_t i = 65536; i < frame.size(); ++i) {
        frame[i] = i % 2 ? next() : next() & 0xFFFFFFu;
        store[i] = i % 3 ? next() : next() & 0xFFFFFFu;
    }
    std::copy(store.begin(), store.end(), pictureStore);
    const double inf = std::numeric_limits<double>::infinity();
    const double tiny = std::numeric_limits<double>::denorm_min();
    for (double ratio : {0.0, 1.0, 0.5, 0.25, 0.3, 0.7, 0.2, 0.4, 0.1, 0.9, 1.0 / 3.0, -0.5, -0.3, 1.2, -1.0, 1.5,
                         2.0, 1e300, -1e300, inf, -inf, 0.999999, tiny, -tiny, 0.5}) {
        expectSame(blendFilter(ratio), frame, "every channel pair");
    }
}

// A sample of tone curves and blends between guard words, over whatever the
// store holds; the full frame goes to the first tone curve, misaligned by one
// byte.
TEST(FastPathStoreCurves, GuardsAndTails) {
    std::vector<Filter> filters = sampled({toneCurveFilters()}, 7);
    for (double ratio : {0.5, 0.3, -0.5, 1e300}) filters.push_back(blendFilter(ratio));
    expectGuarded(filters, 19, [](std::size_t n, std::size_t misalign) { return n == 0 && misalign == 1; });
}

}  // namespace
}  // namespace pelx04
