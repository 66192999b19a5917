// What the fast-path tests share. A check here proves that a filter's fast
// path rewrites a buffer to the same words as its literal pass: the reference
// runs once per parameter set, and the fast path at every instruction-set
// level this CPU has is compared with it word for word. Inputs are all 2^24
// colours, every alpha over random colours, greys and primaries, and random
// frames of odd sizes with misaligned starts between guard words that differ
// in the two copies, so that a kernel touching a byte outside its frame shows.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "curves/value_table.hpp"
#include "core/cpu_features.hpp"

namespace pelx04 {
namespace fastpath {

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

inline std::string joined(std::initializer_list<std::int32_t> values) {
    std::string s;
    for (std::int32_t v : values) s += (s.empty() ? "" : ",") + std::to_string(v);
    return s;
}

inline std::vector<CpuLevel> levelsHere() {
    std::vector<CpuLevel> levels;
    for (CpuLevel l : {CpuLevel::portable, CpuLevel::sse2, CpuLevel::avx2, CpuLevel::avx512}) {
        if (l <= detectedCpuLevel()) levels.push_back(l);
    }
    return levels;
}

// Lifts any cap a failed check left behind.
struct LevelCap {
    explicit LevelCap(CpuLevel l) { limitCpuLevel(l); }
    ~LevelCap() { limitCpuLevel(highestCpuLevel); }
};

// Leaves the module-wide table as it found it.
struct TableScope {
    std::int32_t saved[valueTableSize];
    TableScope() { std::memcpy(saved, valueTable, sizeof saved); }
    ~TableScope() { std::memcpy(valueTable, saved, sizeof saved); }
};

// A table shorter than valueTable repeats to fill it.
inline void loadTable(const std::vector<std::int32_t>& table) {
    if (table.empty()) return;
    for (int i = 0; i < valueTableSize; ++i) valueTable[i] = table[static_cast<std::size_t>(i) % table.size()];
}

inline unsigned char* bytesOf(std::vector<std::uint32_t>& words) {
    return reinterpret_cast<unsigned char*>(words.data());
}

inline const unsigned char* bytesOf(const std::vector<std::uint32_t>& words) {
    return reinterpret_cast<const unsigned char*>(words.data());
}

// Every colour once, alpha 255.
inline const std::vector<std::uint32_t>& everyColour() {
    static const std::vector<std::uint32_t> words = [] {
        std::vector<std::uint32_t> w(1u << 24);
        for (std::uint32_t c = 0; c < w.size(); ++c) w[c] = 0xFF000000u | c;
        return w;
    }();
    return words;
}

// Every alpha (0, 1, partial, 255) 1024 times, under random colours with
// greys (saturation 0, no hue) and primaries (one channel alone) among them.
inline const std::vector<std::uint32_t>& everyAlpha() {
    static const std::vector<std::uint32_t> words = [] {
        std::vector<std::uint32_t> w(1u << 18);
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

// Reused between checks: a fresh 64 MiB vector for every parameter set would
// spend the time in page faults.
inline std::vector<std::uint32_t>& scratch(int which) {
    static std::vector<std::uint32_t> buffers[2];
    return buffers[which];
}

// Runs the reference once and each level's fast path on its own copy; reports
// the first differing word.
inline void expectSame(const Filter& f, const std::vector<std::uint32_t>& input, const char* inputName) {
    TableScope keep;
    loadTable(f.table);
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
        ADD_FAILURE() << f.name << " at " << cpuLevelName(level) << " on " << inputName << ": index " << i
                      << ", word " << std::hex << input[i] << " gives " << got[i] << ", the rule " << expected[i];
    }
}

// The first `full` filters meet every colour; all of them meet every alpha.
inline void sweep(const std::vector<Filter>& filters, std::size_t full) {
    for (std::size_t i = 0; i < filters.size(); ++i) {
        if (i < full) expectSame(filters[i], everyColour(), "every colour");
        expectSame(filters[i], everyAlpha(), "every alpha");
    }
}

// Every `step`-th filter of each list, from the first on.
inline std::vector<Filter> sampled(std::initializer_list<std::vector<Filter>> lists, std::size_t step) {
    std::vector<Filter> picked;
    for (const auto& list : lists) {
        for (std::size_t i = 0; i < list.size(); i += step) picked.push_back(list[i]);
    }
    return picked;
}

inline bool allBytes(const unsigned char* begin, const unsigned char* end, unsigned char value) {
    return std::all_of(begin, end, [value](unsigned char b) { return b == value; });
}

// Random words (an eighth transparent) of sizes 0, 1, 7, 31, 65 and a full
// frame, starting 0, 1 and 3 bytes past a word boundary, between guard words
// that differ in the reference's copy and the fast path's: the two must agree
// on every word of the frame, and neither may touch a byte outside it. Every
// filter meets the small sizes; the full frame goes to those `fullFrame`
// picks by index and misalignment, as it costs a frame's worth of reference.
inline void expectGuarded(const std::vector<Filter>& filters, unsigned seed,
                          const std::function<bool(std::size_t filter, std::size_t misalign)>& fullFrame) {
    constexpr std::size_t guard = 64;  // bytes before the frame; after it, the same and a spare word less the misalignment
    constexpr unsigned char refFill = 0xA5, fastFill = 0x3C;
    std::mt19937 random(seed);
    for (std::uint32_t size : {0u, 1u, 7u, 31u, 65u, 1920u * 1080u}) {
        std::vector<std::uint32_t> input(size);
        for (auto& w : input) {
            w = static_cast<std::uint32_t>(random());
            if ((w & 7u) == 0) w &= 0xFFFFFFu;
        }
        const std::size_t bytes = std::size_t{size} * 4u;
        std::vector<unsigned char> ref(bytes + 2 * guard + 4), fast(ref.size());
        for (std::size_t misalign : {0u, 1u, 3u}) {
            unsigned char* r = ref.data() + guard + misalign;
            unsigned char* s = fast.data() + guard + misalign;
            // Lays the input between fresh guards, as a failed level may have
            // written anywhere.
            auto lay = [&](std::vector<unsigned char>& buffer, unsigned char* frame, unsigned char fill) {
                std::fill(buffer.data(), frame, fill);
                if (bytes > 0) std::memcpy(frame, input.data(), bytes);
                std::fill(frame + bytes, buffer.data() + buffer.size(), fill);
            };
            for (std::size_t n = 0; n < filters.size(); ++n) {
                const Filter& f = filters[n];
                if (size > 65 && !fullFrame(n, misalign)) continue;
                TableScope keep;
                loadTable(f.table);
                lay(ref, r, refFill);
                f.reference(r, size);
                EXPECT_TRUE(allBytes(ref.data(), r, refFill) && allBytes(r + bytes, ref.data() + ref.size(), refFill))
                    << f.name << " reference touched a guard, size " << size << " misaligned " << misalign;
                for (CpuLevel level : levelsHere()) {
                    LevelCap cap(level);
                    lay(fast, s, fastFill);
                    f.fast(s, size);
                    EXPECT_EQ(std::memcmp(r, s, bytes), 0) << f.name << " size " << size << " misaligned " << misalign
                                                           << " at " << cpuLevelName(level);
                    EXPECT_TRUE(allBytes(fast.data(), s, fastFill))
                        << f.name << " wrote before the start, size " << size << " misaligned " << misalign << " at "
                        << cpuLevelName(level);
                    EXPECT_TRUE(allBytes(s + bytes, fast.data() + fast.size(), fastFill))
                        << f.name << " wrote past the end, size " << size << " misaligned " << misalign << " at "
                        << cpuLevelName(level);
                }
            }
        }
    }
}

}  // namespace fastpath
}  // namespace pelx04
