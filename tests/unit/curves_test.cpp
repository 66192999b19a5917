// The value table and the filters that read or fill it: golden words, the
// refusals that keep indices inside the table, and entries of any size.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "curves/histogram.hpp"
#include "curves/hsv_band_shift.hpp"
#include "curves/hsv_tone_curve.hpp"
#include "curves/table_access.hpp"
#include "curves/tone_curve.hpp"
#include "curves/value_table.hpp"

namespace pelx04 {
namespace {

constexpr std::uint32_t argb(int a, int r, int g, int b) { return packWord(a, r, g, b); }

using Entries = std::vector<std::pair<int, std::int32_t>>;

// The table all zero except the listed entries.
void loadTable(const Entries& entries) {
    std::fill(std::begin(valueTable), std::end(valueTable), 0);
    for (const auto& e : entries) valueTable[e.first] = e.second;
}

std::vector<std::int32_t> tableSnapshot() { return {std::begin(valueTable), std::end(valueTable)}; }

std::vector<unsigned char> bytesOf(std::initializer_list<std::uint32_t> words) {
    std::vector<unsigned char> bytes(words.size() * 4);
    std::uint32_t i = 0;
    for (std::uint32_t w : words) storeWord(bytes.data(), i++, w);
    return bytes;
}

// One word through a whole pass, so the transparency rule is exercised too.
template <class Apply>
std::uint32_t throughPass(Apply apply, std::uint32_t word) {
    unsigned char bytes[4];
    storeWord(bytes, 0, word);
    apply(bytes, 1u);
    return loadWord(bytes, 0);
}

TEST(TableAccess, WritesReadsAndFormats) {
    loadTable({});
    const struct {
        std::int32_t index, value;
        const char* text;
    } cases[] = {
        {12, 7, "7"}, {0, -42, "-42"}, {359, INT32_MIN, "-2147483648"}, {100, INT32_MAX, "2147483647"}, {5, 0, "0"},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(writeTableEntry(c.index, c.value));
        std::int32_t got = 1;
        ASSERT_TRUE(readTableEntry(c.index, got));
        EXPECT_EQ(got, c.value);
        char text[tableEntryTextSize];
        formatTableEntry(got, text);
        EXPECT_STREQ(text, c.text);
    }
}

TEST(TableAccess, IndicesOutsideTheTableTouchNothing) {
    loadTable({{0, 11}, {359, 22}});
    const std::vector<std::int32_t> before = tableSnapshot();
    for (std::int32_t index : {-1, 360, 361, INT32_MAX, INT32_MIN}) {
        EXPECT_FALSE(writeTableEntry(index, 99)) << index;
        std::int32_t got = 5;
        EXPECT_FALSE(readTableEntry(index, got)) << index;
        EXPECT_EQ(got, 5) << index;
    }
    EXPECT_EQ(tableSnapshot(), before);
}

TEST(ToneCurve, GoldenWords) {
    Entries invert;
    for (int c = 0; c < 256; ++c) invert.push_back({c, 255 - 2 * c});
    const struct {
        const char* name;
        Entries entries;
        std::int32_t mode;
        std::uint32_t in, out;
    } cases[] = {
        {"zero table, mode 0", {}, 0, argb(200, 10, 128, 255), argb(200, 10, 128, 255)},
        {"zero table, mode 7 gives alpha 127", {}, 7, argb(200, 10, 128, 255), argb(127, 10, 128, 255)},
        {"inversion", invert, 0, argb(255, 10, 128, 200), argb(255, 245, 127, 55)},
        {"mode 1 red only", invert, 1, argb(255, 10, 128, 200), argb(255, 245, 128, 200)},
        {"mode 2 green only", invert, 2, argb(255, 10, 128, 200), argb(255, 10, 127, 200)},
        {"mode 3 blue only", invert, 3, argb(255, 10, 128, 200), argb(255, 10, 128, 55)},
        {"mode 5 red and blue", invert, 5, argb(255, 10, 128, 200), argb(255, 245, 128, 55)},
        {"mode 6 green and blue", invert, 6, argb(255, 10, 128, 200), argb(255, 10, 127, 55)},
        {"mode 4 own lookups", {{10, 5}, {20, -5}, {30, 7}}, 4, argb(9, 10, 20, 30), argb(9, 15, 15, 30)},
        {"entries saturate", {{10, 300}, {20, -20}, {30, -31}}, 0, argb(1, 10, 20, 30), argb(1, 255, 0, 0)},
        {"extreme entries saturate", {{255, INT32_MAX}, {0, INT32_MIN}, {1, INT32_MIN}}, 0, argb(1, 255, 0, 1),
         argb(1, 255, 0, 0)},
        {"mode 7 sum 1 uses entry 0", {{0, 1}, {1, 2}}, 7, argb(255, 0, 0, 1), argb(128, 0, 0, 1)},
        {"mode 7 sum 2 uses entry 1", {{0, 1}, {1, 2}}, 7, argb(255, 1, 0, 1), argb(129, 1, 0, 1)},
        {"mode 7 sum 765 uses entry 255", {{255, 3}}, 7, argb(255, 255, 255, 255), argb(130, 255, 255, 255)},
        {"mode 7 sum 382 uses entry 127", {{127, 5}}, 7, argb(255, 127, 127, 128), argb(132, 127, 127, 128)},
        {"mode 7 clamps up", {{100, 200}}, 7, argb(1, 100, 100, 100), argb(255, 100, 100, 100)},
        {"mode 7 clamps down", {{100, -200}}, 7, argb(1, 100, 100, 100), argb(0, 100, 100, 100)},
        {"mode 7 extreme entry", {{100, INT32_MAX}}, 7, argb(1, 100, 100, 100), argb(255, 100, 100, 100)},
        {"mode 8 changes nothing", invert, 8, argb(255, 10, 128, 200), argb(255, 10, 128, 200)},
        {"mode -1 changes nothing", invert, -1, argb(255, 10, 128, 200), argb(255, 10, 128, 200)},
        {"transparent kept in mode 0", invert, 0, argb(0, 10, 128, 200), argb(0, 10, 128, 200)},
        {"transparent kept in mode 7", {{113, 100}}, 7, argb(0, 10, 128, 200), argb(0, 10, 128, 200)},
    };
    for (const auto& c : cases) {
        loadTable(c.entries);
        const ToneCurveParams p{c.mode};
        EXPECT_EQ(throughPass([&p](unsigned char* px, std::uint32_t n) { applyToneCurve(px, n, p); }, c.in), c.out)
            << c.name;
    }
}

TEST(Histogram, CountsEachMeasure) {
    const auto frame = bytesOf({argb(255, 10, 20, 30), argb(255, 10, 20, 30), argb(255, 0, 0, 1),
                                argb(255, 255, 255, 255)});
    const struct {
        std::int32_t mode;
        Entries counts;
    } cases[] = {
        {0, {{20, 2}, {0, 1}, {255, 1}}},
        {1, {{10, 2}, {0, 1}, {255, 1}}},
        {2, {{20, 2}, {0, 1}, {255, 1}}},
        {3, {{30, 2}, {1, 1}, {255, 1}}},
        {4, {{0, 4}}},
        {-1, {{0, 4}}},
    };
    for (const auto& c : cases) {
        loadTable({{300, 9}, {20, 9}, {359, -1}});
        applyHistogram(frame.data(), 4, HistogramParams{c.mode});
        loadTable(c.counts);
        const std::vector<std::int32_t> want = tableSnapshot();
        applyHistogram(frame.data(), 4, HistogramParams{c.mode});
        EXPECT_EQ(tableSnapshot(), want) << "mode " << c.mode;
    }
}

TEST(Histogram, BrightnessIndexRoundsTheThird) {
    // Sums 1 and 2 sit either side of a half; 765 reaches the top entry.
    const struct {
        std::uint32_t word;
        int index;
    } cases[] = {
        {argb(0, 0, 0, 1), 0},   {argb(0, 1, 0, 1), 1},       {argb(0, 1, 1, 2), 1},
        {argb(0, 2, 2, 1), 2},   {argb(0, 255, 255, 254), 255}, {argb(0, 255, 255, 255), 255},
        {argb(9, 0, 0, 0), 0},
    };
    for (const auto& c : cases) EXPECT_EQ(histogramPixel(c.word, HistogramParams{0}), c.index) << c.word;
}

TEST(Histogram, LeavesTheBufferAndClearsOnAnEmptyFrame) {
    auto frame = bytesOf({argb(0, 1, 2, 3), argb(7, 200, 100, 50)});
    const auto before = frame;
    loadTable({{0, 5}, {256, 5}, {359, 5}});
    applyHistogram(frame.data(), 0, HistogramParams{0});
    EXPECT_EQ(tableSnapshot(), std::vector<std::int32_t>(valueTableSize, 0));
    applyHistogram(frame.data(), 2, HistogramParams{1});
    EXPECT_EQ(frame, before);
    EXPECT_EQ(valueTable[1], 1);  // the transparent pixel counts too
    EXPECT_EQ(valueTable[200], 1);
}

TEST(Histogram, CountsSaturateAtTheEntryLimit) {
    const struct {
        std::uint64_t count;
        std::int32_t stored;
    } cases[] = {
        {0, 0}, {1, 1}, {INT32_MAX, INT32_MAX}, {std::uint64_t{INT32_MAX} + 1, INT32_MAX}, {UINT32_MAX, INT32_MAX},
    };
    for (const auto& c : cases) EXPECT_EQ(saturatedCount(c.count), c.stored) << c.count;
}

constexpr std::uint32_t red = argb(255, 255, 0, 0);
constexpr std::uint32_t white = argb(255, 255, 255, 255);
constexpr std::uint32_t grey100 = argb(255, 100, 100, 100);

TEST(HsvToneCurve, GoldenWords) {
    const struct {
        const char* name;
        Entries entries;
        std::int32_t mode;
        std::uint32_t in, out;
    } cases[] = {
        {"round trip white", {}, 3, white, argb(255, 254, 254, 254)},
        {"round trip red", {}, 0, red, argb(255, 254, 0, 0)},
        {"round trip brown", {}, 1, argb(9, 128, 64, 32), argb(9, 127, 63, 32)},
        {"black stays black", {}, 2, argb(255, 0, 0, 0), argb(255, 0, 0, 0)},
        {"hue +120", {{0, 120}}, 0, red, argb(255, 0, 254, 0)},
        {"hue -120 wraps to 240", {{0, -120}}, 0, red, argb(255, 0, 0, 254)},
        {"hue +360", {{0, 360}}, 0, red, argb(255, 254, 0, 0)},
        {"hue +720", {{0, 720}}, 0, red, argb(255, 254, 0, 0)},
        {"saturation to grey", {{255, -255}}, 1, red, argb(255, 254, 254, 254)},
        {"value to black", {{255, -255}}, 2, red, argb(255, 0, 0, 0)},
        {"saturation clamps at 255", {{255, 100}}, 1, red, argb(255, 254, 0, 0)},
        {"grey tinted toward red", {{0, 100}}, 1, grey100, argb(255, 99, 60, 60)},
        {"grey keeps its hue", {{0, 77}}, 0, grey100, argb(255, 99, 99, 99)},
        {"extreme saturation entry", {{255, INT32_MIN}}, 1, red, argb(255, 254, 254, 254)},
        {"extreme value entry", {{100, INT32_MAX}}, 2, grey100, argb(255, 254, 254, 254)},
        {"transparent kept", {{0, 120}}, 0, argb(0, 255, 0, 0), argb(0, 255, 0, 0)},
    };
    for (const auto& c : cases) {
        loadTable(c.entries);
        const HsvToneCurveParams p{c.mode};
        EXPECT_EQ(
            throughPass([&p](unsigned char* px, std::uint32_t n) { applyHsvToneCurve(px, n, p); }, c.in), c.out)
            << c.name;
    }
}

// Hue sums beyond the 32-bit range wrap like their remainders: INT32_MAX is 127
// modulo 360 and INT32_MIN is -128.
TEST(HsvToneCurve, ExtremeHueEntriesWrapLikeTheirRemainders) {
    const std::uint32_t orange = argb(255, 255, 43, 0);  // hue 10
    const struct {
        int index;
        std::int32_t extreme, equivalent;
        std::uint32_t word;
    } cases[] = {
        {0, INT32_MAX, 127, red}, {0, INT32_MIN, -128, red}, {10, INT32_MAX, 127, orange},
        {10, INT32_MIN, -128, orange},
    };
    for (const auto& c : cases) {
        loadTable({{c.index, c.equivalent}});
        const std::uint32_t want = hsvToneCurvePixel(c.word, HsvToneCurveParams{0});
        loadTable({{c.index, c.extreme}});
        EXPECT_EQ(hsvToneCurvePixel(c.word, HsvToneCurveParams{0}), want) << c.extreme << " at " << c.index;
        EXPECT_NE(want, hsvToneCurvePixel(c.word, HsvToneCurveParams{3}));
    }
}

std::uint32_t bandShift(HsvBandShiftArgs args, std::uint32_t word) {
    const HsvBandShiftParams p = hsvBandShiftParams(args);
    return throughPass([&p](unsigned char* px, std::uint32_t n) { applyHsvBandShift(px, n, p); }, word);
}

TEST(HsvBandShift, RotatesTheEntriesOverTheBands) {
    const Entries tens{{0, 10}, {1, 20}, {2, 30}, {3, 40}};
    // Grey 100 has value 100, band 2 of width 64.
    const struct {
        std::int32_t shift;
        int level;
    } cases[] = {{1, 129}, {2, 139}, {3, 109}, {4, 119}, {5, 129}, {INT32_MAX, 109}, {INT32_MAX - 1, 139}};
    loadTable(tens);
    for (const auto& c : cases) {
        EXPECT_EQ(bandShift({4, 2, c.shift}, grey100), argb(255, c.level, c.level, c.level)) << c.shift;
    }
}

TEST(HsvBandShift, GoldenWords) {
    const auto all = [](int n, std::int32_t value) {
        Entries e;
        for (int k = 0; k < n; ++k) e.push_back({k, value});
        return e;
    };
    const std::uint32_t hue330 = argb(255, 255, 0, 127);
    const std::uint32_t hue30 = argb(255, 255, 128, 0);
    const struct {
        const char* name;
        Entries entries;
        HsvBandShiftArgs args;
        std::uint32_t in, out;
    } cases[] = {
        {"hue +60", all(6, 60), {6, 0, 1}, red, argb(255, 254, 254, 0)},
        {"hue -30 wraps", all(6, -30), {6, 0, 1}, red, argb(255, 254, 0, 127)},
        {"hue 330 folds onto band 0", {{0, 30}, {1, 90}}, {6, 0, 1}, hue330, argb(255, 254, 0, 0)},
        {"hue 30 is on the upper band", {{0, 30}, {1, 90}}, {6, 0, 1}, hue30, argb(255, 0, 254, 0)},
        {"one band ignores the shift", {{0, 120}, {1, 240}}, {1, 0, 7}, red, argb(255, 0, 254, 0)},
        {"top saturation folds onto band 0", {{0, -100}}, {4, 1, 1}, red, argb(255, 254, 100, 100)},
        {"zero saturation in band 0", {{0, 100}}, {4, 1, 1}, grey100, argb(255, 99, 60, 60)},
        {"component 3 only round trips", {}, {0, 3, 0}, white, argb(255, 254, 254, 254)},
        {"component -1 only round trips", {}, {-5, -1, -5}, white, argb(255, 254, 254, 254)},
        {"360 hue bands", all(360, 120), {360, 0, 1}, red, argb(255, 0, 254, 0)},
        {"256 value bands", all(256, -255), {256, 2, 1}, red, argb(255, 0, 0, 0)},
        {"transparent kept", all(6, 60), {6, 0, 1}, argb(0, 255, 0, 0), argb(0, 255, 0, 0)},
    };
    for (const auto& c : cases) {
        loadTable(c.entries);
        EXPECT_EQ(bandShift(c.args, c.in), c.out) << c.name;
    }
    // INT32_MAX is 127 modulo 360: the sum wraps instead of overflowing.
    loadTable(all(6, 127));
    const std::uint32_t hue127 = bandShift({6, 0, 1}, red);
    EXPECT_NE(hue127, argb(255, 254, 0, 0));
    loadTable(all(6, INT32_MAX));
    EXPECT_EQ(bandShift({6, 0, 1}, red), hue127);
}

TEST(HsvBandShift, RefusesCountsAndShiftsThatLeaveTheTable) {
    const struct {
        HsvBandShiftArgs args;
        bool refused;
    } cases[] = {
        {{0, 0, 1}, true},     {{0, 1, 1}, true},    {{0, 2, 1}, true},   {{-6, 0, 1}, true},
        {{361, 0, 1}, true},   {{257, 1, 1}, true},  {{257, 2, 1}, true}, {{INT32_MAX, 0, 1}, true},
        {{6, 0, 0}, true},     {{4, 2, -3}, true},   {{4, 1, INT32_MIN}, true},
        {{360, 0, 1}, false},  {{256, 1, 1}, false}, {{1, 2, 1}, false},  {{0, 3, 0}, false},
        {{0, -1, -1}, false},
    };
    loadTable({{0, 100}, {1, 100}});
    for (const auto& c : cases) {
        EXPECT_EQ(hsvBandShiftParams(c.args).refused, c.refused)
            << c.args.bands << " " << c.args.component << " " << c.args.shift;
        if (c.refused) EXPECT_EQ(bandShift(c.args, grey100), grey100);
    }
}

}  // namespace
}  // namespace pelx04
