// The fast paths of the tone curve, histogram and picture store against their
// literal passes at every instruction-set level this CPU has.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "curves/histogram.hpp"
#include "curves/tone_curve.hpp"
#include "curves/value_table.hpp"
#include "module/cpu_features.hpp"
#include "module/pixel_pass.hpp"
#include "store/picture_blend.hpp"
#include "store/picture_keep.hpp"
#include "store/picture_store.hpp"

namespace pelx04 {
namespace {

std::vector<CpuLevel> levelsHere() {
    std::vector<CpuLevel> levels;
    for (CpuLevel l : {CpuLevel::portable, CpuLevel::sse2, CpuLevel::avx2}) {
        if (l <= detectedCpuLevel()) levels.push_back(l);
    }
    return levels;
}

struct LevelCap {
    explicit LevelCap(CpuLevel l) { limitCpuLevel(l); }
    ~LevelCap() { limitCpuLevel(CpuLevel::avx2); }
};

// Leaves the module-wide table as it found it.
struct SavedTable {
    std::int32_t saved[valueTableSize];
    SavedTable() { std::memcpy(saved, valueTable, sizeof saved); }
    ~SavedTable() { std::memcpy(valueTable, saved, sizeof saved); }
};

unsigned char* bytesOf(std::vector<std::uint32_t>& w) { return reinterpret_cast<unsigned char*>(w.data()); }

std::vector<std::uint32_t> everyColour() {
    std::vector<std::uint32_t> w(1u << 24);
    for (std::uint32_t c = 0; c < w.size(); ++c) w[c] = 0xFF000000u | c;
    return w;
}

// Random words, every alpha, misaligned by one byte inside a larger buffer is
// done by the callers that need it.
std::vector<std::uint32_t> randomWords(std::size_t n, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<std::uint32_t> w(n);
    for (std::size_t i = 0; i < n; ++i) w[i] = (random() & 0xFFFFFFu) | static_cast<std::uint32_t>(i & 0xFFu) << 24;
    return w;
}

void fillCurve(int kind) {
    std::mt19937 random(static_cast<unsigned>(kind));
    for (int i = 0; i < valueTableSize; ++i) {
        switch (kind) {
            case 0: valueTable[i] = 0; break;
            case 1: valueTable[i] = static_cast<std::int32_t>(random() % 601) - 300; break;
            case 2: valueTable[i] = i % 2 ? std::numeric_limits<std::int32_t>::max() : std::numeric_limits<std::int32_t>::min(); break;
            default: valueTable[i] = 128 - i; break;
        }
    }
}

void expectToneCurve(const std::vector<std::uint32_t>& input, std::int32_t mode, int curve) {
    std::vector<std::uint32_t> expected = input;
    const ToneCurveParams p{mode};
    rewriteVisiblePixels(bytesOf(expected), static_cast<std::uint32_t>(expected.size()),
                         [&p](std::uint32_t w) { return toneCurvePixel(w, p); });
    for (CpuLevel level : levelsHere()) {
        LevelCap cap(level);
        std::vector<std::uint32_t> got = input;
        applyToneCurve(bytesOf(got), static_cast<std::uint32_t>(got.size()), p);
        if (got == expected) continue;
        std::size_t i = 0;
        while (got[i] == expected[i]) ++i;
        ADD_FAILURE() << "mirtToneCurve mode " << mode << " curve " << curve << " at " << cpuLevelName(level)
                      << ": word " << std::hex << input[i] << " gives " << got[i] << ", the rule " << expected[i];
    }
}

TEST(FastPathCurves, ToneCurveEveryColourAndAlpha) {
    SavedTable saved;
    const std::vector<std::uint32_t> colours = everyColour(), alphas = randomWords(1u << 18, 3);
    for (int curve = 0; curve < 4; ++curve) {
        fillCurve(curve);
        for (std::int32_t mode = -1; mode <= 8; ++mode) {
            // Every colour for the modes that touch all three channels or alpha.
            if (curve == 1 && (mode == 0 || mode == 7)) expectToneCurve(colours, mode, curve);
            expectToneCurve(alphas, mode, curve);
        }
    }
}

std::vector<std::int32_t> literalHistogram(const std::vector<std::uint32_t>& words, std::size_t offset,
                                           std::uint32_t count, const HistogramParams& p) {
    std::uint64_t counts[256] = {};
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(words.data()) + offset;
    for (std::uint32_t i = 0; i < count; ++i) ++counts[histogramPixel(loadWord(bytes, i), p)];
    std::vector<std::int32_t> table(valueTableSize, 0);
    for (int k = 0; k < 256; ++k) table[k] = saturatedCount(counts[k]);
    return table;
}

TEST(FastPathCurves, HistogramEveryColourAndOddSizes) {
    SavedTable saved;
    const std::vector<std::uint32_t> colours = everyColour(), random = randomWords(70000, 5);
    for (std::int32_t mode = -1; mode <= 4; ++mode) {
        const HistogramParams p{mode};
        struct Run {
            const std::vector<std::uint32_t>* words;
            std::size_t offset;  // bytes: 1 starts the frame misaligned
            std::uint32_t count;
        };
        std::vector<Run> runs = {{&colours, 0, 1u << 24}};
        for (std::uint32_t n : {0u, 1u, 7u, 31u, 65u, 69999u}) {
            runs.push_back({&random, 0, n});
            runs.push_back({&random, 1, n});
        }
        for (const Run& run : runs) {
            const std::vector<std::int32_t> expected = literalHistogram(*run.words, run.offset, run.count, p);
            for (CpuLevel level : levelsHere()) {
                LevelCap cap(level);
                fillCurve(3);
                applyHistogram(reinterpret_cast<const unsigned char*>(run.words->data()) + run.offset, run.count, p);
                EXPECT_EQ(std::vector<std::int32_t>(valueTable, valueTable + valueTableSize), expected)
                    << "mode " << mode << " count " << run.count << " offset " << run.offset << " at "
                    << cpuLevelName(level);
            }
        }
    }
}

TEST(FastPathStore, KeepCopiesTheWordsAsTheyLie) {
    const std::vector<std::uint32_t> words = randomWords(70001, 9);
    for (std::size_t offset : {0u, 1u, 3u}) {
        for (std::uint32_t n : {0u, 1u, 7u, 65u, 70000u}) {
            std::fill(pictureStore, pictureStore + 70002, 0x12345678u);
            const unsigned char* bytes = reinterpret_cast<const unsigned char*>(words.data()) + offset;
            applyPictureKeep(bytes, n);
            for (std::uint32_t i = 0; i < n; ++i) ASSERT_EQ(pictureStore[i], loadWord(bytes, i)) << i;
            EXPECT_EQ(pictureStore[n], 0x12345678u) << "written past the frame, count " << n;
        }
    }
}

// Every pair of channel values (frame, store) in every channel, alpha pairs
// (0, 0) included, then random words with an odd tail, under ratios that
// round at halves, leave 0..1, or are not finite.
TEST(FastPathStore, BlendEveryChannelPair) {
    std::vector<std::uint32_t> frame(65536 + 37), store(frame.size());
    for (std::uint32_t i = 0; i < 65536; ++i) {
        frame[i] = (i >> 8) * 0x01010101u;
        store[i] = (i & 0xFFu) * 0x01010101u;
    }
    std::mt19937 random(13);
    for (std::size_t i = 65536; i < frame.size(); ++i) {
        frame[i] = random();
        store[i] = i % 3 ? random() : random() & 0xFFFFFFu;
    }
    const double inf = std::numeric_limits<double>::infinity();
    for (double ratio : {0.0, 1.0, 0.5, 0.25, 0.3, 1.0 / 3.0, -0.5, 1.5, 2.0, 1e300, -1e300, inf, -inf, 0.999999}) {
        const PictureBlendParams p = pictureBlendParams(ratio);
        std::copy(store.begin(), store.end(), pictureStore);
        std::vector<std::uint32_t> expected = frame;
        for (std::uint32_t i = 0; i < expected.size(); ++i) expected[i] = pictureBlendPixel(frame[i], store[i], p);
        for (CpuLevel level : levelsHere()) {
            LevelCap cap(level);
            std::vector<std::uint32_t> got = frame;
            applyPictureBlend(bytesOf(got), static_cast<std::uint32_t>(got.size()), p);
            if (got == expected) continue;
            std::size_t i = 0;
            while (got[i] == expected[i]) ++i;
            ADD_FAILURE() << "mirtMixPict1 ratio " << ratio << " at " << cpuLevelName(level) << ": frame " << std::hex
                          << frame[i] << " store " << store[i] << " gives " << got[i] << ", the rule " << expected[i];
        }
    }
}

}  // namespace
}  // namespace pelx04
