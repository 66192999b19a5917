#include "color/hsv_kernels.hpp"

namespace pelx04 {
namespace {

// std::round for |x| < 2^31: x − trunc(x) is exact there, so comparing it with
// ±0.5 decides as std::round does. The sign of a zero result may differ, which
// no caller can see (it is only truncated, or multiplied into a saturation
// that is then multiplied by a coefficient and subtracted from 1).
inline double roundHalfAwaySmall(double x) {
    const double t = static_cast<double>(static_cast<std::int32_t>(x));
    const double rest = x - t;
    return t + (rest >= 0.5 ? 1.0 : 0.0) - (rest <= -0.5 ? 1.0 : 0.0);
}

// The hue rgbToHsv gives for channels 0..510, as an index 0..359. The
// comparisons become selects; the quotient, the sum with the offset and the
// rounding are the same IEEE operations (an offset of 0 added to the red
// quotient changes no value: that quotient is never −0). Equal channels give
// delta 0 and difference 0 in the red case, so dividing by 1 instead gives
// the hue 0 that rgbToHsv sets for greys.
inline std::int32_t hueOf(std::int32_t r, std::int32_t g, std::int32_t b) {
    const std::int32_t gb = g > b ? g : b, gbMin = g < b ? g : b;
    const std::int32_t max = r > gb ? r : gb, min = r < gbMin ? r : gbMin;
    const std::int32_t delta = max - min;
    const bool isRed = max == r, isGreen = !isRed && max == g;
    const std::int32_t difference = isRed ? g - b : (isGreen ? b - r : r - g);
    const double offset = isRed ? 0.0 : (isGreen ? 120.0 : 240.0);
    const double q = static_cast<double>(difference * 60) / static_cast<double>(delta == 0 ? 1 : delta) + offset;
    const std::int32_t hue = static_cast<std::int32_t>(roundHalfAwaySmall(q));
    return hue < 0 ? hue + 360 : hue;
}

// The saturation s' of the way back. s lies in 0..255, so every index is
// 0..255 (a divisor of at least 1 keeps round(s / divisor) there too).
template <HsvSaturationRule rule>
inline double changedSaturation(double s, const HsvKernel& k) {
    switch (rule) {
        case HsvSaturationRule::add: return limitToHsvScale(s + k.addend);
        case HsvSaturationRule::table: return limitToHsvScale(s + k.offsets[static_cast<std::int32_t>(s)]);
        case HsvSaturationRule::band:
            return limitToHsvScale(s + k.offsets[static_cast<std::int32_t>(roundHalfAwaySmall(s / k.divisor))]);
        case HsvSaturationRule::step: return roundHalfAwaySmall(s / k.divisor) * k.divisor;
    }
    return s;
}

// ((1 − S × c) × V) × 255 truncated and clamped. S ≤ 510 × 0.0039 and V ≤ 2,
// so the double lies within ±1600 and the conversion is defined.
inline int channelBack(double saturation, double c, double value) {
    return clampChannel(static_cast<std::int32_t>(((1.0 - saturation * c) * value) * 255.0));
}

template <HsvSaturationRule rule>
std::uint32_t hsvPass(unsigned char* pixels, std::uint32_t count, const HsvKernel& k) {
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t word = loadWord(pixels, i);
        if (isTransparent(word)) continue;
        const std::int32_t r = channelR(word), g = channelG(word), b = channelB(word);
        const std::int32_t gb = g > b ? g : b, gbMin = g < b ? g : b;
        const std::int32_t max = r > gb ? r : gb, min = r < gbMin ? r : gbMin;
        const std::int32_t hue = k.roundedHue ? hueOf(k.channel[r], k.channel[g], k.channel[b]) : hueOf(r, g, b);
        // (delta × 255) / max; a grey has delta 0 and saturation 0, black too.
        const double s = static_cast<double>((max - min) * 255) / static_cast<double>(max == 0 ? 1 : max);
        const double saturation = changedSaturation<rule>(s, k) * 0.00392156862;
        const double value = k.value[max];
        const double* c = k.back[hue];
        storeWord(pixels, i,
                  packWord(channelA(word), channelBack(saturation, c[laneR], value),
                           channelBack(saturation, c[laneG], value), channelBack(saturation, c[laneB], value)));
    }
    return count;
}

}  // namespace

std::uint32_t hsvPortable(unsigned char* pixels, std::uint32_t count, const HsvKernel& k) {
    switch (k.rule) {
        case HsvSaturationRule::add: return hsvPass<HsvSaturationRule::add>(pixels, count, k);
        case HsvSaturationRule::table: return hsvPass<HsvSaturationRule::table>(pixels, count, k);
        case HsvSaturationRule::band: return hsvPass<HsvSaturationRule::band>(pixels, count, k);
        case HsvSaturationRule::step: return hsvPass<HsvSaturationRule::step>(pixels, count, k);
    }
    return 0;
}

}  // namespace pelx04
