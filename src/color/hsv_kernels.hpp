// Fast passes shared by the four HSV filters (mirtHSV, mirtHsvHeitan,
// mirtToneCurveHSV, mirtOgtoHsv). Each filter describes its change once per
// call as an HsvKernel: tables built by running its literal helpers on every
// hue and every value, plus one rule for the saturation, which is the only
// component that is not a whole number. A kernel rewrites visible pixels only,
// processes whole vectors and returns how many pixels it has done; the caller
// finishes the rest with the filter's literal per-pixel rule.
//
// What makes the tables exact: rgbToHsv gives a hue of whole degrees and a
// value equal to the largest channel, so a change of hue is a map over 360
// hues and a change of value a map over 256 values. On the way back every
// candidate is ((1 − S × c) × V) × 255 with c one of 1 (P), f (Q), 1 − f (T)
// and 0 (V): S × 1 and S × 0 change nothing (S is finite), 1 − 0 is 1 and
// 1 × V is V, so the same doubles come out in the same order, and which c each
// channel takes depends on the hue alone.
#pragma once

#include <cstdint>

#include "color/hsv.hpp"
#include "core/cpu_features.hpp"
#include "core/pixel.hpp"
#include "core/pixel_pass.hpp"

namespace pelx04 {

// How a pixel's saturation s (0..255, not whole) becomes the s' of the way back.
enum class HsvSaturationRule : std::int32_t {
    add,    // s' = limit(s + addend); an addend of 0 leaves s as it is
    table,  // s' = limit(s + offsets[truncate(s)])
    band,   // s' = limit(s + offsets[round(s / divisor)])
    step,   // s' = round(s / divisor) × divisor, not limited
};

// Lanes of back[h], in the memory order of a pixel's colour bytes.
enum HsvLane : int { laneB = 0, laneG = 1, laneR = 2, laneSpare = 3 };

struct HsvKernel {
    // By the hue rgbToHsv gives: the coefficient c of each channel for the hue
    // after the filter's change. The spare lane is 0 and its result dropped.
    alignas(32) double back[360][4];
    // By the largest channel: the changed value times 0.00392156862.
    alignas(32) double value[256];
    // Saturation offsets for the table and band rules, by index 0..255.
    alignas(32) double offsets[256];
    // Rounded channels (0..510) the hue is taken from when roundedHue is set;
    // the saturation and value always come from the pixel's own channels.
    alignas(32) std::int32_t channel[256];
    double addend, divisor;
    HsvSaturationRule rule;
    bool roundedHue;
};

// back[h] from the hue the filter turns h into (0..359, as every filter's
// wrap gives). The sector and f are formed exactly as hsvToRgb forms them.
template <class HueMap>
inline void setHueMap(HsvKernel& k, HueMap map) {
    for (std::int32_t h = 0; h < 360; ++h) {
        const double hue = map(h);
        const std::int32_t sector = truncateToInt32(hue * 0.01666666666) % 6;
        const double f = hue / 60.0 - sector;
        const double p = 1.0, q = f, t = 1.0 - f, v = 0.0;
        double red, green, blue;
        switch (sector) {
            case 0: red = v, green = t, blue = p; break;
            case 1: red = q, green = v, blue = p; break;
            case 2: red = p, green = v, blue = t; break;
            case 3: red = p, green = q, blue = v; break;
            case 4: red = t, green = p, blue = v; break;
            default: red = v, green = p, blue = q; break;
        }
        k.back[h][laneB] = blue;
        k.back[h][laneG] = green;
        k.back[h][laneR] = red;
        k.back[h][laneSpare] = 0.0;
    }
}

// value[v] from the value the filter turns v into, already scaled.
template <class ValueMap>
inline void setValueMap(HsvKernel& k, ValueMap map) {
    for (int v = 0; v < 256; ++v) k.value[v] = map(static_cast<double>(v)) * 0.00392156862;
}

// A kernel that changes nothing: every pixel there and back.
inline void setUnchanged(HsvKernel& k) {
    setHueMap(k, [](std::int32_t h) { return static_cast<double>(h); });
    setValueMap(k, [](double v) { return v; });
    k.addend = 0.0;
    k.divisor = 1.0;
    k.rule = HsvSaturationRule::add;
    k.roundedHue = false;
}

using HsvKernelFn = std::uint32_t (*)(unsigned char*, std::uint32_t, const HsvKernel&);

// Every pixel, any target, without a branch on the colour.
std::uint32_t hsvPortable(unsigned char* pixels, std::uint32_t count, const HsvKernel& k);

namespace x86 {
// SSE2 (four pixels a step), AVX2 (eight) and AVX-512 (sixteen).
std::uint32_t hsvSse2(unsigned char* pixels, std::uint32_t count, const HsvKernel& k);
std::uint32_t hsvAvx2(unsigned char* pixels, std::uint32_t count, const HsvKernel& k);
std::uint32_t hsvAvx512(unsigned char* pixels, std::uint32_t count, const HsvKernel& k);
}  // namespace x86

namespace wasm {
// WebAssembly with 128-bit vectors (four pixels a step).
std::uint32_t hsvSimd128(unsigned char* pixels, std::uint32_t count, const HsvKernel& k);
}  // namespace wasm

inline HsvKernelFn pickHsvKernel() {
    return pickKernel<HsvKernelFn>(&hsvPortable, PELX04_SIMD128_KERNEL(x86::hsvSse2, wasm::hsvSimd128),
                                   PELX04_X86_KERNEL(x86::hsvAvx2), PELX04_X86_KERNEL(x86::hsvAvx512));
}

// Runs the kernel for the CPU level and finishes the tail with the literal rule.
template <class Rule>
inline void runHsvKernel(unsigned char* pixels, std::uint32_t count, const HsvKernel& k, Rule rule) {
    const std::uint32_t done = pickHsvKernel()(pixels, count, k);
    rewriteVisiblePixels(pixels + std::size_t{done} * 4u, count - done, rule);
}

}  // namespace pelx04
