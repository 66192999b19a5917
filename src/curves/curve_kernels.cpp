#include "curves/curve_kernels.hpp"

#include <cstring>

#include "filters/channel_kernels.hpp"

namespace pelx04 {

namespace {

// One colour for each sum 0..765.
inline std::uint32_t colourWithSum(int sum) {
    const int r = sum < 255 ? sum : 255;
    const int g = sum - r < 255 ? sum - r : 255;
    return packWord(255, r, g, sum - r - g);
}

std::uint32_t alphaBySumPortable(unsigned char* pixels, std::uint32_t count, const AlphaBySum& a) {
    return sumTablePortable(pixels, count, a.sums);
}

}  // namespace

// Modes 0 to 6 change each colour channel on its own: tables made by the rule.
// Mode 7 sets alpha from R + G + B alone: a table over the 766 sums, made by
// the rule. Every other mode changes nothing.
std::uint32_t toneCurveFast(unsigned char* pixels, std::uint32_t count, const ToneCurveParams& p) {
    const auto rule = [&p](std::uint32_t word) { return toneCurvePixel(word, p); };
    if (p.mode == 7) {
        // The rule's index is round(sum × 0.3333333), which is (sum + 1) / 3;
        // the table says whether it holds, so the byte-table kernel is used
        // only where it gives the rule's words.
        AlphaBySum a;
        for (int sum = 0; sum < 766; ++sum) a.sums.bits[sum] = rule(colourWithSum(sum)) & 0xFF000000u;
        a.sums.keep = 0x00FFFFFFu;
        for (int i = 0; i < 256; ++i) a.alpha[i] = static_cast<std::uint8_t>(a.sums.bits[3 * i] >> 24);
        a.byThird = true;
        for (int sum = 0; sum < 766; ++sum) {
            a.byThird = a.byThird && a.sums.bits[sum] == std::uint32_t{a.alpha[(sum + 1) / 3]} << 24;
        }
        return pickKernel<AlphaKernelFn>(&alphaBySumPortable, nullptr, PELX04_X86_KERNEL(x86::alphaBySumAvx2),
                                         PELX04_X86_KERNEL(x86::alphaBySumAvx512))(pixels, count, a);
    }
    if (p.mode < 0 || p.mode > 7) return count;
    WordTables t;
    fillSeparableTables(t, rule);
    return pickKernel<TablesKernelFn>(&channelTablesPortable, nullptr, PELX04_X86_KERNEL(x86::tablesAvx2),
                                      PELX04_X86_KERNEL(x86::tablesAvx512))(pixels, count, t);
}

namespace {

std::uint32_t histogramEntriesPortable(const unsigned char* pixels, std::uint32_t count, const HistogramEntries& h,
                                       std::uint8_t* entries) {
    const int shift = h.mode == 1 ? 16 : h.mode == 2 ? 8 : 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t w = loadWord(pixels, i);
        entries[i] = h.mode == 0 ? h.ofSum[channelR(w) + channelG(w) + channelB(w)]
                                 : static_cast<std::uint8_t>((w >> shift) & 0xFFu);
    }
    return count;
}

}  // namespace

// The entries of a run of pixels first (vectors where the CPU allows), then
// four sub-histograms taken in turn, eight entries read as one 64-bit word: a
// frame has long runs of one entry, and increments that wait on each other at
// one address would set the pace. (Two ways measured 1.07–1.14 ms for mode 0
// of the benchmark frame, four 0.85, eight 0.80–0.93.) Modes other than 0..3
// count every pixel into the entry the rule gives black.
void countHistogramFast(const unsigned char* pixels, std::uint32_t count, const HistogramParams& p,
                        std::uint64_t counts[256]) {
    HistogramEntries h;
    h.mode = p.mode;
    for (int sum = 0; sum < 766; ++sum) h.ofSum[sum] = static_cast<std::uint8_t>(histogramPixel(colourWithSum(sum), p));
    if (p.mode < 0 || p.mode > 3) {
        counts[h.ofSum[0]] += count;
        return;
    }
    const HistogramEntriesFn entriesOf =
        pickKernel<HistogramEntriesFn>(&histogramEntriesPortable, PELX04_SSE2_KERNEL(x86::histogramEntriesSse2),
                                       PELX04_X86_KERNEL(x86::histogramEntriesAvx2));
    // Each sub-count sees at most a 32-bit pixel count (sub[0] takes whole runs).
    constexpr int ways = 4;
    std::uint32_t sub[ways][256] = {};
    constexpr std::uint32_t run = 1024;
    alignas(32) std::uint8_t entries[run];
    for (std::uint32_t start = 0; start < count; start += run) {
        const std::uint32_t n = count - start < run ? count - start : run;
        const unsigned char* first = pixels + std::size_t{start} * 4u;
        for (std::uint32_t i = entriesOf(first, n, h, entries); i < n; ++i) {
            entries[i] = static_cast<std::uint8_t>(histogramPixel(loadWord(first, i), p));
        }
        // Eight equal entries in a row (flat areas, ramps that saturate) are
        // counted at once.
        std::uint32_t i = 0;
        for (; i + 8 <= n; i += 8) {
            std::uint64_t eight;
            std::memcpy(&eight, entries + i, sizeof eight);
            const std::uint8_t lead = entries[i];
            if (eight == lead * 0x0101010101010101ull) {
                sub[0][lead] += 8;
                continue;
            }
            for (int k = 0; k < 8; ++k) ++sub[k % ways][(eight >> (8 * k)) & 0xFFu];
        }
        for (; i < n; ++i) ++sub[0][entries[i]];
    }
    for (int v = 0; v < 256; ++v) {
        for (int k = 0; k < ways; ++k) counts[v] += sub[k][v];
    }
}

}  // namespace pelx04
