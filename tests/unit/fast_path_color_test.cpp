// The fast paths of the HSV and YPbPr filters against their literal per-pixel
// passes, at every instruction-set level this CPU has: all 2^24 colours,
// every alpha, boundary parameters, and buffers with guard words of odd sizes
// and misaligned starts. The reference runs once per parameter set and each
// level is compared with it.
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "curves/hsv_band_shift.hpp"
#include "curves/hsv_tone_curve.hpp"
#include "curves/value_table.hpp"
#include "filters/hsv_posterize.hpp"
#include "filters/hsv_shift.hpp"
#include "filters/ypbpr_adjust.hpp"
#include "module/cpu_features.hpp"

namespace pelx04 {
namespace {

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();

using Pass = std::function<void(unsigned char*, std::uint32_t)>;

struct Filter {
    std::string name;
    Pass reference, fast;
    std::vector<std::int32_t> table;  // loaded into valueTable before both passes when not empty
};

template <class P>
Filter filterOf(std::string name, void (*reference)(unsigned char*, std::uint32_t, const P&),
                void (*fast)(unsigned char*, std::uint32_t, const P&), const P& p,
                std::vector<std::int32_t> table = {}) {
    return {std::move(name), [reference, p](unsigned char* px, std::uint32_t n) { reference(px, n, p); },
            [fast, p](unsigned char* px, std::uint32_t n) { fast(px, n, p); }, std::move(table)};
}

std::string joined(std::initializer_list<std::int32_t> values) {
    std::string s;
    for (std::int32_t v : values) s += (s.empty() ? "" : ",") + std::to_string(v);
    return s;
}

std::vector<CpuLevel> levelsHere() {
    std::vector<CpuLevel> levels;
    for (CpuLevel l : {CpuLevel::portable, CpuLevel::sse2, CpuLevel::avx2}) {
        if (l <= detectedCpuLevel()) levels.push_back(l);
    }
    return levels;
}

// Lifts any cap a failed check left behind.
struct LevelCap {
    explicit LevelCap(CpuLevel l) { limitCpuLevel(l); }
    ~LevelCap() { limitCpuLevel(CpuLevel::avx2); }
};

// Restores the module's table after a test that loads its own.
struct TableScope {
    std::int32_t saved[valueTableSize];
    TableScope() { std::memcpy(saved, valueTable, sizeof saved); }
    ~TableScope() { std::memcpy(valueTable, saved, sizeof saved); }
};

void load(const Filter& f) {
    if (f.table.empty()) return;
    for (int i = 0; i < valueTableSize; ++i) valueTable[i] = f.table[static_cast<std::size_t>(i) % f.table.size()];
}

unsigned char* bytesOf(std::vector<std::uint32_t>& words) { return reinterpret_cast<unsigned char*>(words.data()); }

// Every colour once, alpha 255.
const std::vector<std::uint32_t>& everyColour() {
    static const std::vector<std::uint32_t> words = [] {
        std::vector<std::uint32_t> w(1u << 24);
        for (std::uint32_t c = 0; c < w.size(); ++c) w[c] = 0xFF000000u | c;
        return w;
    }();
    return words;
}

// Every alpha (0, 1, partial, 255) under random colours, greys and
// primaries among them.
const std::vector<std::uint32_t>& everyAlpha() {
    static const std::vector<std::uint32_t> words = [] {
        std::vector<std::uint32_t> w(1u << 17);
        std::mt19937 random(5);
        for (std::uint32_t i = 0; i < w.size(); ++i) {
            std::uint32_t colour = random() & 0xFFFFFFu;
            if (i % 16 == 1) colour = (colour & 0xFFu) * 0x010101u;
            if (i % 16 == 2) colour &= 0xFF0000u >> (8 * (i % 3));
            w[i] = colour | (i & 0xFFu) << 24;
        }
        return w;
    }();
    return words;
}

std::vector<std::uint32_t>& scratch(int which) {
    static std::vector<std::uint32_t> buffers[2];
    return buffers[which];
}

// Runs the reference once and each level's fast path on its own copy; reports
// the first differing word.
void expectSame(const Filter& f, const std::vector<std::uint32_t>& input, const char* inputName) {
    TableScope keep;
    load(f);
    std::vector<std::uint32_t>& expected = scratch(0);
    std::vector<std::uint32_t>& got = scratch(1);
    expected.assign(input.begin(), input.end());
    f.reference(bytesOf(expected), static_cast<std::uint32_t>(input.size()));
    for (CpuLevel level : levelsHere()) {
        LevelCap cap(level);
        got.assign(input.begin(), input.end());
        f.fast(bytesOf(got), static_cast<std::uint32_t>(input.size()));
        if (std::memcmp(got.data(), expected.data(), input.size() * 4u) == 0) continue;
        std::size_t i = 0;
        while (got[i] == expected[i]) ++i;
        ADD_FAILURE() << f.name << " at " << cpuLevelName(level) << " on " << inputName << ": word " << std::hex
                      << input[i] << " gives " << got[i] << ", the rule " << expected[i];
    }
}

// The first `full` filters meet every colour; all of them meet every alpha.
void sweep(const std::vector<Filter>& filters, std::size_t full) {
    for (std::size_t i = 0; i < filters.size(); ++i) {
        if (i < full) expectSame(filters[i], everyColour(), "every colour");
        expectSame(filters[i], everyAlpha(), "every alpha");
    }
}

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

// Random words (an eighth transparent) between guard words that differ in the
// two copies; a fast path may touch nothing past either end.
TEST(FastPathColour, GuardsAndTails) {
    std::vector<Filter> filters;
    for (auto list : {hsvShiftFilters(), hsvPosterizeFilters(), hsvToneCurveFilters(), hsvBandShiftFilters(),
                      ypbprFilters()}) {
        for (std::size_t i = 0; i < list.size(); i += 4) filters.push_back(list[i]);
    }
    std::mt19937 random(17);
    constexpr std::size_t guardWords = 16;
    for (std::uint32_t size : {0u, 1u, 7u, 31u, 65u, 1920u * 1080u}) {
        std::vector<std::uint32_t> input(size);
        for (auto& w : input) {
            w = static_cast<std::uint32_t>(random());
            if ((w & 7u) == 0) w &= 0xFFFFFFu;
        }
        for (std::size_t misalign : {0u, 1u, 3u}) {
            for (std::size_t n = 0; n < filters.size(); ++n) {
                const Filter& f = filters[n];
                if (size > 65 && (misalign != 1 || n % 6 != 0)) continue;
                TableScope keep;
                load(f);
                const std::size_t bytes = std::size_t{size} * 4u;
                std::vector<unsigned char> ref(bytes + 8 * guardWords + 4, 0xA5), fast(bytes + 8 * guardWords + 4, 0x3C);
                unsigned char* r = ref.data() + 4 * guardWords + misalign;
                unsigned char* s = fast.data() + 4 * guardWords + misalign;
                if (bytes > 0) {
                    std::memcpy(r, input.data(), bytes);
                    std::memcpy(s, input.data(), bytes);
                }
                const std::vector<unsigned char> refBefore = ref, fastBefore = fast;
                f.reference(r, size);
                for (CpuLevel level : levelsHere()) {
                    LevelCap cap(level);
                    fast = fastBefore;
                    f.fast(s, size);
                    EXPECT_EQ(std::memcmp(r, s, bytes), 0) << f.name << " size " << size << " misaligned " << misalign
                                                           << " at " << cpuLevelName(level);
                    EXPECT_EQ(std::memcmp(fast.data(), fastBefore.data(), 4 * guardWords + misalign), 0) << f.name;
                    const std::size_t after = static_cast<std::size_t>(s - fast.data()) + bytes;
                    EXPECT_EQ(std::memcmp(fast.data() + after, fastBefore.data() + after, fast.size() - after), 0)
                        << f.name << " wrote past the end, size " << size << " at " << cpuLevelName(level);
                }
                EXPECT_EQ(std::memcmp(ref.data(), refBefore.data(), 4 * guardWords + misalign), 0);
            }
        }
    }
}

}  // namespace
}  // namespace pelx04
