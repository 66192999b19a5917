// mirtOgtoHsv: one HSV component cut into bands of equal whole width, each band
// offset by a value table entry, the band-to-entry mapping rotated by a shift.
#pragma once

#include <cstdint>

#include "color/hsv.hpp"
#include "curves/value_table.hpp"
#include "core/pixel.hpp"

namespace pelx04 {

struct HsvBandShiftArgs {
    std::int32_t bands, component, shift;
};

struct HsvBandShiftParams {
    std::int32_t bands;      // n, 1..360 for hue and 1..256 otherwise unless refused
    std::int32_t component;  // 0 hue, 1 saturation, 2 value; others change nothing
    std::int32_t shift;      // 1 or more unless refused
    std::int32_t width;      // band width w, at least 1
    bool refused;            // the buffer is left untouched
};

// The width is a whole number: n = 7 gives hue bands of 51, which do not tile
// the circle. For components 0..2 a band count below 1, one so large that the
// width drops to 0, or a shift below 1 is refused: each would divide by zero or
// address an entry outside the first n of the table.
inline HsvBandShiftParams hsvBandShiftParams(const HsvBandShiftArgs& a) {
    HsvBandShiftParams p{a.bands, a.component, a.shift, 1, false};
    if (a.component < 0 || a.component > 2) return p;
    if (a.bands < 1 || a.shift < 1) {
        p.refused = true;
        return p;
    }
    p.width = (a.component == 0 ? 360 : 256) / a.bands;
    if (p.width == 0) p.refused = true;
    return p;
}

// The band is the component over the width, rounded (halves away from zero),
// so the top of the range reaches band n and folds onto band 0's entry.
// b + shift - 1 is formed in 64 bits: a shift near INT32_MAX keeps rotating
// instead of wrapping.
inline std::int32_t bandEntry(double component, const HsvBandShiftParams& p) {
    const std::int64_t band = truncateToInt32(roundHalfAway(component / p.width));
    return static_cast<std::int32_t>((band + p.shift - 1) % p.bands);
}

// The hue is a whole number, so its sum with the entry is formed exactly in 64
// bits and wraps onto the circle for entries of any size.
inline std::uint32_t hsvBandShiftPixel(std::uint32_t word, const HsvBandShiftParams& p) {
    double h, s, v;
    rgbToHsv(channelR(word), channelG(word), channelB(word), h, s, v);
    switch (p.component) {
        case 0: h = wrapHue(std::int64_t{truncateToInt32(h)} + valueTable[bandEntry(h, p)]); break;
        case 1: s = limitToHsvScale(s + valueTable[bandEntry(s, p)]); break;
        case 2: v = limitToHsvScale(v + valueTable[bandEntry(v, p)]); break;
        default: break;
    }
    return hsvToWord(channelA(word), h, s, v);
}

// A refused call leaves the buffer as it was.
void applyHsvBandShift(unsigned char* pixels, std::uint32_t count, const HsvBandShiftParams& p);
// The literal pass, for tests and benchmarks.
void applyHsvBandShiftReference(unsigned char* pixels, std::uint32_t count, const HsvBandShiftParams& p);

}  // namespace pelx04
