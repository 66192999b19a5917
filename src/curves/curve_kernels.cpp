#include "curves/curve_kernels.hpp"

#include "filters/channel_kernels.hpp"

namespace pelx04 {

namespace {

// One colour for each sum 0..765.
inline std::uint32_t colourWithSum(int sum) {
    const int r = sum < 255 ? sum : 255;
    const int g = sum - r < 255 ? sum - r : 255;
    return packWord(255, r, g, sum - r - g);
}

}  // namespace

// Modes 0 to 6 change each colour channel on its own: tables made by the rule.
// Mode 7 sets alpha from R + G + B alone: a table over the 766 sums, made by
// the rule. Every other mode changes nothing.
std::uint32_t toneCurveFast(unsigned char* pixels, std::uint32_t count, const ToneCurveParams& p) {
    const auto rule = [&p](std::uint32_t word) { return toneCurvePixel(word, p); };
    if (p.mode == 7) {
        SumTable t;
        for (int sum = 0; sum < 766; ++sum) t.bits[sum] = rule(colourWithSum(sum)) & 0xFF000000u;
        t.keep = 0x00FFFFFFu;
        return pickKernel<SumKernelFn>(&sumTablePortable, nullptr, PELX04_X86_KERNEL(x86::sumTableAvx2))(pixels, count, t);
    }
    if (p.mode < 0 || p.mode > 7) return count;
    WordTables t;
    fillSeparableTables(t, rule);
    return pickKernel<TablesKernelFn>(&tablesPortable, nullptr, PELX04_X86_KERNEL(x86::tablesAvx2))(pixels, count, t);
}

// Four sub-histograms taken in turn, so that runs of equal entries do not wait
// on each other's increments; the entry of each pixel comes from the rule
// (brightness through a table over the sums, made by the rule).
void countHistogramFast(const unsigned char* pixels, std::uint32_t count, const HistogramParams& p,
                        std::uint64_t counts[256]) {
    std::uint8_t entryOfSum[766];
    for (int sum = 0; sum < 766; ++sum) entryOfSum[sum] = static_cast<std::uint8_t>(histogramPixel(colourWithSum(sum), p));
    // Each sub-count sees at most a quarter of a 32-bit pixel count.
    std::uint32_t sub[4][256] = {};
    const int shift = p.mode == 1 ? 16 : p.mode == 2 ? 8 : 0;
    const std::uint32_t whole = count & ~3u;
    if (p.mode == 0) {
        for (std::uint32_t i = 0; i < whole; i += 4) {
            for (int k = 0; k < 4; ++k) {
                const std::uint32_t w = loadWord(pixels, i + static_cast<std::uint32_t>(k));
                ++sub[k][entryOfSum[channelR(w) + channelG(w) + channelB(w)]];
            }
        }
    } else if (p.mode >= 1 && p.mode <= 3) {
        for (std::uint32_t i = 0; i < whole; i += 4) {
            for (int k = 0; k < 4; ++k) ++sub[k][(loadWord(pixels, i + static_cast<std::uint32_t>(k)) >> shift) & 0xFFu];
        }
    } else {
        sub[0][entryOfSum[0]] += whole;
    }
    for (std::uint32_t i = whole; i < count; ++i) ++counts[histogramPixel(loadWord(pixels, i), p)];
    for (int v = 0; v < 256; ++v) counts[v] += std::uint64_t{sub[0][v]} + sub[1][v] + sub[2][v] + sub[3][v];
}

}  // namespace pelx04
