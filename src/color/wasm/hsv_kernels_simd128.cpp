// WebAssembly HSV kernel: four pixels a step, the doubles two at a time, the
// same IEEE operations in the same order as the SSE2 kernel. Written with
// WebAssembly's own vectors because the translation of the SSE2 intrinsics
// converts doubles and floats to integers one lane at a time, and this
// kernel converts in every step. Every conversion here is of a value in
// range, so the saturating truncations give what the SSE2 ones give.
#include "color/hsv_kernels.hpp"

#if PELX04_WASM_SIMD
#include <wasm_simd128.h>

namespace pelx04 {
namespace wasm {
namespace {

inline v128_t splat(std::int32_t v) { return wasm_i32x4_splat(v); }

// x86's minimum and maximum return their second operand when the first does
// not win the comparison; the pseudo-minimum and -maximum with the operands
// swapped do the same, NaNs included.
inline v128_t minPd(v128_t a, v128_t b) { return wasm_f64x2_pmin(b, a); }
inline v128_t maxPd(v128_t a, v128_t b) { return wasm_f64x2_pmax(b, a); }

// The hue rgbToHsv gives for channels 0..510, as an index 0..359, formed in
// single precision as in the x86 kernels: the true quotient plus offset is a
// multiple of 1/2 (held exactly) or at least 1/1020 away from one, beyond the
// float error, so its rounding is the one of the doubles.
inline v128_t hueOf(v128_t r, v128_t g, v128_t b) {
    const v128_t max = wasm_i32x4_max(r, wasm_i32x4_max(g, b));
    const v128_t min = wasm_i32x4_min(r, wasm_i32x4_min(g, b));
    const v128_t delta = wasm_i32x4_sub(max, min);
    const v128_t isRed = wasm_i32x4_eq(max, r);
    const v128_t isGreen = wasm_v128_andnot(wasm_i32x4_eq(max, g), isRed);
    const v128_t difference = wasm_v128_bitselect(
        wasm_i32x4_sub(g, b), wasm_v128_bitselect(wasm_i32x4_sub(b, r), wasm_i32x4_sub(r, g), isGreen), isRed);
    const v128_t offset = wasm_v128_andnot(wasm_v128_bitselect(splat(120), splat(240), isGreen), isRed);
    const v128_t q = wasm_f32x4_add(wasm_f32x4_div(wasm_f32x4_convert_i32x4(wasm_i32x4_mul(difference, splat(60))),
                                                   wasm_f32x4_convert_i32x4(wasm_i32x4_max(delta, splat(1)))),
                                    wasm_f32x4_convert_i32x4(offset));
    // q lies within −60..300: truncation is exact, and so is q − t.
    const v128_t t = wasm_i32x4_trunc_sat_f32x4(q);
    const v128_t rest = wasm_f32x4_sub(q, wasm_f32x4_convert_i32x4(t));
    const v128_t up = wasm_f32x4_ge(rest, wasm_f32x4_splat(0.5f));
    const v128_t down = wasm_f32x4_le(rest, wasm_f32x4_splat(-0.5f));
    const v128_t hue = wasm_i32x4_add(wasm_i32x4_sub(t, up), down);
    return wasm_i32x4_add(hue, wasm_v128_and(wasm_i32x4_shr(hue, 31), splat(360)));
}

// std::round for |x| ≤ 255: x − trunc(x) is exact. A zero result may lose
// its sign, which no caller sees (it is truncated, or multiplied into a
// saturation S that only enters as 1 − S × c).
inline v128_t roundHalfAway(v128_t x) {
    const v128_t t = wasm_f64x2_trunc(x);
    const v128_t rest = wasm_f64x2_sub(x, t);
    const v128_t one = wasm_f64x2_splat(1.0);
    const v128_t up = wasm_v128_and(wasm_f64x2_ge(rest, wasm_f64x2_splat(0.5)), one);
    const v128_t down = wasm_v128_and(wasm_f64x2_le(rest, wasm_f64x2_splat(-0.5)), one);
    return wasm_f64x2_sub(wasm_f64x2_add(t, up), down);
}

inline v128_t limitComponent(v128_t x) {
    return minPd(maxPd(x, wasm_f64x2_splat(0.0)), wasm_f64x2_splat(255.0));
}

// Two table entries by the truncated lanes of x (0..255).
inline v128_t lookUp(const double* table, v128_t x) {
    const v128_t index = wasm_i32x4_trunc_sat_f64x2_zero(x);
    return wasm_f64x2_make(table[wasm_i32x4_extract_lane(index, 0)], table[wasm_i32x4_extract_lane(index, 1)]);
}

template <HsvSaturationRule rule>
inline v128_t changedSaturation(v128_t s, const HsvKernel& k) {
    switch (rule) {
        case HsvSaturationRule::add: return limitComponent(wasm_f64x2_add(s, wasm_f64x2_splat(k.addend)));
        case HsvSaturationRule::table: return limitComponent(wasm_f64x2_add(s, lookUp(k.offsets, s)));
        case HsvSaturationRule::band: {
            const v128_t band = roundHalfAway(wasm_f64x2_div(s, wasm_f64x2_splat(k.divisor)));
            return limitComponent(wasm_f64x2_add(s, lookUp(k.offsets, band)));
        }
        case HsvSaturationRule::step: {
            const v128_t divisor = wasm_f64x2_splat(k.divisor);
            return wasm_f64x2_mul(roundHalfAway(wasm_f64x2_div(s, divisor)), divisor);
        }
    }
    return s;
}

// One pixel's B, G, R and spare as ((1 − S × c) × V) × 255, truncated: S ≤ 2
// and V ≤ 2 keep every lane within ±1600.
inline v128_t pixelBack(const double* c, double saturation, double value) {
    const v128_t s = wasm_f64x2_splat(saturation), v = wasm_f64x2_splat(value);
    const v128_t one = wasm_f64x2_splat(1.0), c255 = wasm_f64x2_splat(255.0);
    const v128_t bg = wasm_f64x2_mul(
        wasm_f64x2_mul(wasm_f64x2_sub(one, wasm_f64x2_mul(s, wasm_v128_load(c))), v), c255);
    const v128_t rs = wasm_f64x2_mul(
        wasm_f64x2_mul(wasm_f64x2_sub(one, wasm_f64x2_mul(s, wasm_v128_load(c + 2))), v), c255);
    return wasm_i32x4_shuffle(wasm_i32x4_trunc_sat_f64x2_zero(bg), wasm_i32x4_trunc_sat_f64x2_zero(rs), 0, 1, 4, 5);
}

template <HsvSaturationRule rule>
std::uint32_t hsvPass(unsigned char* pixels, std::uint32_t count, const HsvKernel& k) {
    const std::uint32_t whole = count & ~3u;
    const v128_t scale = wasm_f64x2_splat(0.00392156862);
    const v128_t byteMask = splat(0xFF);
    const v128_t alpha = splat(static_cast<std::int32_t>(0xFF000000u));
    for (std::uint32_t i = 0; i < whole; i += 4) {
        unsigned char* p = pixels + std::size_t{i} * 4u;
        const v128_t words = wasm_v128_load(p);
        const v128_t r = wasm_v128_and(wasm_u32x4_shr(words, 16), byteMask);
        const v128_t g = wasm_v128_and(wasm_u32x4_shr(words, 8), byteMask);
        const v128_t b = wasm_v128_and(words, byteMask);
        const v128_t top = wasm_i32x4_max(r, wasm_i32x4_max(g, b));
        const v128_t delta = wasm_i32x4_sub(top, wasm_i32x4_min(r, wasm_i32x4_min(g, b)));
        v128_t hue;
        if (k.roundedHue) {
            const auto rounded = [&k](v128_t c) {
                return wasm_i32x4_make(
                    k.channel[wasm_i32x4_extract_lane(c, 0)], k.channel[wasm_i32x4_extract_lane(c, 1)],
                    k.channel[wasm_i32x4_extract_lane(c, 2)], k.channel[wasm_i32x4_extract_lane(c, 3)]);
            };
            hue = hueOf(rounded(r), rounded(g), rounded(b));
        } else {
            hue = hueOf(r, g, b);
        }
        // (delta × 255) / max; a grey divides 0 by max, or by 1 for black.
        const v128_t numerator = wasm_i32x4_sub(wasm_i32x4_shl(delta, 8), delta);
        const v128_t denominator = wasm_i32x4_max(top, splat(1));
        const v128_t low = wasm_f64x2_div(wasm_f64x2_convert_low_i32x4(numerator),
                                          wasm_f64x2_convert_low_i32x4(denominator));
        const v128_t upperNumerator = wasm_i32x4_shuffle(numerator, numerator, 2, 3, 2, 3);
        const v128_t upperDenominator = wasm_i32x4_shuffle(denominator, denominator, 2, 3, 2, 3);
        const v128_t high = wasm_f64x2_div(wasm_f64x2_convert_low_i32x4(upperNumerator),
                                           wasm_f64x2_convert_low_i32x4(upperDenominator));
        const v128_t s01 = wasm_f64x2_mul(changedSaturation<rule>(low, k), scale);
        const v128_t s23 = wasm_f64x2_mul(changedSaturation<rule>(high, k), scale);

        const v128_t back0 = pixelBack(k.back[wasm_i32x4_extract_lane(hue, 0)], wasm_f64x2_extract_lane(s01, 0),
                                       k.value[wasm_i32x4_extract_lane(top, 0)]);
        const v128_t back1 = pixelBack(k.back[wasm_i32x4_extract_lane(hue, 1)], wasm_f64x2_extract_lane(s01, 1),
                                       k.value[wasm_i32x4_extract_lane(top, 1)]);
        const v128_t back2 = pixelBack(k.back[wasm_i32x4_extract_lane(hue, 2)], wasm_f64x2_extract_lane(s23, 0),
                                       k.value[wasm_i32x4_extract_lane(top, 2)]);
        const v128_t back3 = pixelBack(k.back[wasm_i32x4_extract_lane(hue, 3)], wasm_f64x2_extract_lane(s23, 1),
                                       k.value[wasm_i32x4_extract_lane(top, 3)]);
        // Saturating narrows clamp each channel to 0..255 and lay the lanes
        // out as the pixels' bytes B, G, R, spare.
        const v128_t result = wasm_u8x16_narrow_i16x8(wasm_i16x8_narrow_i32x4(back0, back1),
                                                      wasm_i16x8_narrow_i32x4(back2, back3));
        // The alpha byte and every transparent word keep their old bytes.
        const v128_t keep = wasm_v128_or(alpha, wasm_i32x4_eq(wasm_v128_and(words, alpha), wasm_i32x4_splat(0)));
        wasm_v128_store(p, wasm_v128_bitselect(words, result, keep));
    }
    return whole;
}

}  // namespace

std::uint32_t hsvSimd128(unsigned char* pixels, std::uint32_t count, const HsvKernel& k) {
    switch (k.rule) {
        case HsvSaturationRule::add: return hsvPass<HsvSaturationRule::add>(pixels, count, k);
        case HsvSaturationRule::table: return hsvPass<HsvSaturationRule::table>(pixels, count, k);
        case HsvSaturationRule::band: return hsvPass<HsvSaturationRule::band>(pixels, count, k);
        case HsvSaturationRule::step: return hsvPass<HsvSaturationRule::step>(pixels, count, k);
    }
    return 0;
}

}  // namespace wasm
}  // namespace pelx04

#endif
