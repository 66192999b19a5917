// Golden pixels for the HSV shift, HSV posterize and YPbPr adjustment, run
// through the entry the Lua functions call, with out-of-range parameters.
#include <cstdint>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "filters/hsv_posterize.hpp"
#include "filters/hsv_shift.hpp"
#include "filters/ypbpr_adjust.hpp"

namespace pelx04 {
namespace {

constexpr std::uint32_t argb(int a, int r, int g, int b) { return packWord(a, r, g, b); }
constexpr std::uint32_t rgb(int r, int g, int b) { return argb(255, r, g, b); }

// Runs apply on the words placed one byte into a buffer, so that the pass
// never relies on 4-byte alignment, with a guard word after them.
template <class Params, class Apply>
std::vector<std::uint32_t> run(Apply apply, const Params& p, const std::vector<std::uint32_t>& in) {
    const std::uint32_t guard = 0xA5A5A5A5u;
    std::vector<unsigned char> bytes(1 + (in.size() + 1) * 4);
    std::memcpy(bytes.data() + 1, in.data(), in.size() * 4);
    std::memcpy(bytes.data() + 1 + in.size() * 4, &guard, 4);
    apply(bytes.data() + 1, static_cast<std::uint32_t>(in.size()), p);
    std::vector<std::uint32_t> out(in.size() + 1);
    std::memcpy(out.data(), bytes.data() + 1, out.size() * 4);
    EXPECT_EQ(out.back(), guard);
    out.pop_back();
    return out;
}

struct HsvShiftCase {
    const char* name;
    HsvShiftParams p;
    std::vector<std::uint32_t> in, out;
};

TEST(HsvShift, GoldenPixels) {
    const std::uint32_t red = rgb(255, 0, 0), grey = rgb(100, 100, 100), brown = rgb(128, 64, 32);
    const HsvShiftCase cases[] = {
        {"no shift loses one at the top", {0, 0, 0},
         {rgb(255, 255, 255), rgb(1, 1, 1), brown, rgb(0, 0, 0)},
         {rgb(254, 254, 254), rgb(0, 0, 0), rgb(127, 63, 32), rgb(0, 0, 0)}},
        {"hue 120", {120, 0, 0}, {red}, {rgb(0, 254, 0)}},
        {"hue 240", {240, 0, 0}, {red}, {rgb(0, 0, 254)}},
        {"hue -120", {-120, 0, 0}, {red}, {rgb(0, 0, 254)}},
        {"hue -30", {-30, 0, 0}, {red}, {rgb(254, 0, 127)}},
        {"hue 330", {330, 0, 0}, {red}, {rgb(254, 0, 127)}},
        {"hue -90", {-90, 0, 0}, {red}, {rgb(127, 0, 254)}},
        {"hue 270", {270, 0, 0}, {red}, {rgb(127, 0, 254)}},
        {"whole turns", {360, 0, 0}, {red}, {rgb(254, 0, 0)}},
        {"ten turns", {3600, 0, 0}, {red}, {rgb(254, 0, 0)}},
        {"turn back", {-360, 0, 0}, {red}, {rgb(254, 0, 0)}},
        {"grey has no hue to turn", {90, 0, 0}, {grey}, {rgb(99, 99, 99)}},
        {"saturated grey is red", {0, 255, 0}, {grey}, {rgb(99, 0, 0)}},
        {"saturated grey turned", {90, 255, 0}, {grey}, {rgb(50, 99, 0)}},
        {"desaturate", {0, -255, 0}, {red}, {rgb(254, 254, 254)}},
        {"desaturate beyond", {0, -1000, 0}, {red}, {rgb(254, 254, 254)}},
        {"value down to black keeps alpha", {0, 0, -255}, {argb(7, 128, 64, 32), rgb(255, 255, 255)},
         {argb(7, 0, 0, 0), rgb(0, 0, 0)}},
        {"value up", {0, 0, 255}, {brown}, {rgb(254, 127, 63)}},
        {"alpha kept", {120, 0, 0}, {argb(1, 255, 0, 0)}, {argb(1, 0, 254, 0)}},
        {"transparent kept", {120, 255, -255}, {argb(0, 255, 0, 0), 0u}, {argb(0, 255, 0, 0), 0u}},
        // A hue sum past the 32-bit range wraps like its remainder: INT32_MAX
        // is 127 modulo 360 and INT32_MIN is 232.
        {"hue INT32_MAX", {INT32_MAX, 0, 0}, {red}, {rgb(0, 254, 29)}},
        {"hue 127", {127, 0, 0}, {red}, {rgb(0, 254, 29)}},
        {"hue INT32_MIN", {INT32_MIN, 0, 0}, {red}, {rgb(0, 34, 254)}},
        {"hue 232", {232, 0, 0}, {red}, {rgb(0, 34, 254)}},
        {"hue sum past INT32_MAX", {INT32_MAX, 0, 0}, {rgb(0, 255, 0)}, {hsvShiftPixel(rgb(0, 255, 0), {127, 0, 0})}},
        {"hue sum past INT32_MIN", {INT32_MIN, 0, 0}, {rgb(0, 0, 255)}, {hsvShiftPixel(rgb(0, 0, 255), {232, 0, 0})}},
        {"extreme saturation and value", {0, INT32_MAX, INT32_MIN}, {grey}, {rgb(0, 0, 0)}},
        {"extreme value", {0, INT32_MIN, INT32_MAX}, {brown}, {rgb(254, 254, 254)}},
    };
    for (const auto& c : cases) EXPECT_EQ(run(applyHsvShift, c.p, c.in), c.out) << c.name;
}

struct HsvPosterizeCase {
    const char* name;
    HsvPosterizeParams p;
    std::vector<std::uint32_t> in, out;
};

TEST(HsvPosterize, GoldenPixels) {
    const std::uint32_t brown = rgb(128, 64, 32);
    const auto steps = hsvPosterizeParams;
    const HsvPosterizeCase cases[] = {
        {"unit steps", steps(1, 1, 1, 0), {rgb(255, 255, 255)}, {rgb(254, 254, 254)}},
        {"saturation rounds up", steps(32, 64, 64, 0), {brown}, {rgb(127, 63, 31)}},
        {"hue -40", steps(32, 64, 64, -40), {brown}, {rgb(127, 31, 63)}},
        {"hue 320", steps(32, 64, 64, 320), {brown}, {rgb(127, 31, 63)}},
        {"negative steps act as their size", steps(-32, -64, -64, 0), {brown}, {rgb(127, 63, 31)}},
        // The hue comes from the rounded channels (200, 100, 0), saturation
        // and value from the pixel itself.
        {"hue from rounded channels", steps(100, 1, 1, 0), {rgb(200, 120, 0)}, {rgb(199, 100, 0)}},
        {"channel step 1", steps(1, 1, 1, 0), {rgb(200, 120, 0)}, {rgb(199, 119, 0)}},
        {"value above 255 clamps", steps(100, 100, 100, 0), {rgb(250, 10, 10)}, {rgb(255, 64, 64)}},
        {"white with value step 100", steps(1, 1, 100, 0), {rgb(255, 255, 255)}, {rgb(255, 255, 255)}},
        {"saturation above 255 clamps at 0", steps(1, 160, 1, 0), {rgb(255, 15, 15)}, {rgb(254, 0, 0)}},
        {"all three steps", steps(30, 51, 51, 0), {rgb(30, 60, 90)}, {rgb(40, 71, 101)}},
        {"zero steps act as 1", steps(0, 0, 0, 0), {rgb(255, 255, 255), brown, rgb(200, 120, 0)},
         {rgb(254, 254, 254), rgb(127, 64, 32), rgb(199, 119, 0)}},
        {"huge steps round to 0", steps(INT32_MAX, INT32_MIN, INT32_MAX, 0), {brown, rgb(255, 255, 255)},
         {rgb(0, 0, 0), rgb(0, 0, 0)}},
        // Channel and value 255 round up to 510, the largest a step can give.
        {"step 510", steps(510, 510, 510, 0), {rgb(255, 64, 32)}, {rgb(255, 255, 255)}},
        {"hue INT32_MIN", steps(32, 64, 64, INT32_MIN), {brown}, {hsvPosterizePixel(brown, steps(32, 64, 64, 232))}},
        {"hue INT32_MAX", steps(32, 64, 64, INT32_MAX), {brown}, {hsvPosterizePixel(brown, steps(32, 64, 64, 127))}},
        {"alpha kept", steps(32, 64, 64, 0), {argb(9, 128, 64, 32)}, {argb(9, 127, 63, 31)}},
        {"transparent kept", steps(7, 7, 7, 90), {argb(0, 128, 64, 32)}, {argb(0, 128, 64, 32)}},
    };
    for (const auto& c : cases) EXPECT_EQ(run(applyHsvPosterize, c.p, c.in), c.out) << c.name;
}

struct YPbPrCase {
    const char* name;
    YPbPrAdjustParams p;
    std::vector<std::uint32_t> in, out;
};

TEST(YPbPrAdjust, GoldenPixels) {
    const std::uint32_t px = rgb(100, 150, 200);
    const YPbPrCase cases[] = {
        {"no offset still truncates", {0, 0, 0, 0}, {rgb(255, 255, 255), rgb(0, 0, 0), rgb(255, 255, 0)},
         {rgb(255, 254, 254), rgb(0, 0, 0), rgb(254, 254, 0)}},
        {"luma 10", {10, 0, 0, 0}, {px}, {rgb(110, 159, 209)}},
        {"Pb 20", {0, 20, 0, 0}, {px}, {rgb(100, 146, 237)}},
        {"Pr 20", {0, 0, 20, 0}, {px}, {rgb(131, 140, 199)}},
        {"Pr limited at -127", {0, 0, -120, 0}, {px}, {rgb(0, 196, 199)}},
        {"Pb limited at -127", {0, -200, 0, 0}, {px}, {rgb(100, 179, 0)}},
        {"Pb floor is -127, not -128", {0, -300, 0, 0}, {rgb(255, 255, 255)}, {rgb(255, 255, 19)}},
        {"Pr floor is -127, not -128", {0, 0, -300, 0}, {rgb(255, 255, 255)}, {rgb(55, 255, 254)}},
        {"Pb limited at 128", {0, 200, 0, 0}, {rgb(0, 0, 0)}, {rgb(0, 0, 237)}},
        {"Pr limited at 128", {0, 0, 200, 0}, {rgb(0, 0, 0)}, {rgb(201, 0, 0)}},
        {"luma limited at 255", {300, 0, 0, 0}, {px}, {rgb(212, 255, 255)}},
        {"luma limited at 0", {-300, 0, 0, 0}, {px}, {rgb(0, 7, 57)}},
        {"alpha saturates at 255", {0, 0, 0, 100}, {argb(200, 0, 0, 0)}, {argb(255, 0, 0, 0)}},
        {"alpha 254", {0, 0, 0, 54}, {argb(200, 0, 0, 0)}, {argb(254, 0, 0, 0)}},
        {"alpha to 0 still converts", {0, 0, 0, -20}, {argb(10, 100, 150, 200)}, {argb(0, 100, 149, 199)}},
        {"transparent kept", {50, 50, 50, 255}, {argb(0, 100, 150, 200), 0u}, {argb(0, 100, 150, 200), 0u}},
        {"extreme alpha up", {0, 0, 0, INT32_MAX}, {argb(255, 0, 0, 0), argb(1, 0, 0, 0)},
         {argb(255, 0, 0, 0), argb(255, 0, 0, 0)}},
        {"extreme alpha down", {0, 0, 0, INT32_MIN}, {argb(255, 0, 0, 0)}, {argb(0, 0, 0, 0)}},
        {"extreme luma", {INT32_MAX, 0, 0, 0}, {px}, {rgb(212, 255, 255)}},
        {"extreme everything", {INT32_MIN, INT32_MIN, INT32_MAX, 0}, {px},
         {ypbprAdjustPixel(px, {-300, -300, 300, 0})}},
    };
    for (const auto& c : cases) EXPECT_EQ(run(applyYPbPrAdjust, c.p, c.in), c.out) << c.name;
}

TEST(ColorFilters, EmptyFrameTouchesNothing) {
    std::uint32_t word = rgb(255, 255, 255);
    applyHsvShift(reinterpret_cast<unsigned char*>(&word), 0, HsvShiftParams{90, 0, 0});
    applyHsvPosterize(reinterpret_cast<unsigned char*>(&word), 0, hsvPosterizeParams(1, 1, 1, 90));
    applyYPbPrAdjust(reinterpret_cast<unsigned char*>(&word), 0, YPbPrAdjustParams{10, 0, 0, 0});
    EXPECT_EQ(word, rgb(255, 255, 255));
}

}  // namespace
}  // namespace pelx04
