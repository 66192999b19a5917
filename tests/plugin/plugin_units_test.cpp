// The plugin's caller rules and its error band, with the values a host gives.
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "caller.hpp"
#include "error_band.hpp"

namespace {

using namespace pelx04frei0r;

constexpr unsigned version(unsigned major, unsigned minor) { return major << 16 | minor << 8; }

const Caller ffmpeg6{true, version(9, 3)};    // Debian 12's libavfilter 9: pads rows
const Caller ffmpeg7{true, version(10, 1)};   // packs them
const Caller unreadable{true, 0};             // a libavfilter whose version cannot be read
const Caller gstreamer{false, 0};             // GStreamer and MLT: their own frei0r modules

TEST(Caller, HostTimeInSeconds) {
    const struct {
        const Caller& caller;
        double time;
        double seconds;
    } cases[] = {
        {ffmpeg6, 1500.0, 1.5},   {ffmpeg7, 40.0, 0.04},   {gstreamer, 1.5, 1.5},
        {ffmpeg6, 0.0, 0.0},      {gstreamer, 0.0, 0.0},
        // A frame without a timestamp: ffmpeg's huge negative time, or no number.
        {ffmpeg6, -9.2233720368547758e18, -1}, {gstreamer, -0.04, -1},
        {ffmpeg6, std::nan(""), -1},           {gstreamer, std::numeric_limits<double>::infinity(), -1},
    };
    for (const auto& c : cases) EXPECT_EQ(secondsFromHostTime(c.caller, c.time), c.seconds) << c.time;
}

TEST(Caller, PaddedRows) {
    const struct {
        const Caller& caller;
        unsigned width;
        bool padded;
    } cases[] = {
        {ffmpeg6, 333, true},  {ffmpeg6, 320, false}, {ffmpeg6, 8, true},     {ffmpeg6, 16, false},
        {ffmpeg7, 333, false}, {unreadable, 333, true}, {gstreamer, 333, false},
    };
    for (const auto& c : cases) EXPECT_EQ(callerPadsRows(c.caller, c.width), c.padded) << c.width;
}

TEST(Caller, ThisProgramIsNotLibavfilter) {
    EXPECT_FALSE(identifyCaller(reinterpret_cast<const void*>(&secondsFromHostTime)).isLibavfilter);
    EXPECT_FALSE(identifyCaller(nullptr).isLibavfilter);
}

TEST(ErrorBand, ATwelfthRoundedUp) {
    const unsigned heights[][2] = {{1, 1}, {11, 1}, {12, 1}, {13, 2}, {107, 9}, {108, 9}, {240, 20}, {1080, 90}};
    for (const auto& h : heights) EXPECT_EQ(errorBandRows(h[0]), h[1]) << h[0];
}

constexpr std::uint32_t red = 0xFFFF0000u;
constexpr std::uint32_t white = 0xFFFFFFFFu;

// 108 rows: a band of 9, text at scale 1, two pixels in and one row down; the
// P's top row is four pixels wide. The frame below the band is untouched.
TEST(ErrorBand, BandAndTextOverTheInput) {
    const unsigned width = 200;
    const unsigned height = 108;
    std::vector<std::uint32_t> in(width * height, 0x80123456u);
    std::vector<std::uint32_t> out(in.size(), 0);
    copyWithErrorBand(in.data(), out.data(), width, height);
    const struct {
        unsigned x, y;
        std::uint32_t word;
    } pixels[] = {{0, 0, red},   {2, 0, red},   {1, 1, red},   {2, 1, white}, {5, 1, white},
                  {6, 1, red},   {2, 7, white}, {3, 7, red},   {199, 8, red}, {0, 9, 0x80123456u},
                  {199, 107, 0x80123456u}};
    for (const auto& p : pixels) EXPECT_EQ(out[p.y * width + p.x], p.word) << p.x << "," << p.y;
}

// In place, and on a frame too short for text: the band alone.
TEST(ErrorBand, InPlaceWithoutText) {
    const unsigned width = 7;
    const unsigned height = 24;
    std::vector<std::uint32_t> frame(width * height, 0x01020304u);
    copyWithErrorBand(frame.data(), frame.data(), width, height);
    for (unsigned i = 0; i < frame.size(); ++i) EXPECT_EQ(frame[i], i < 2 * width ? red : 0x01020304u) << i;
}

}  // namespace
