// Who called the plugin. The frei0r interface carries neither the unit of
// `time` nor the rows' stride, and the hosts differ in both: ffmpeg's frei0r
// filter passes milliseconds, and before libavfilter 10 (FFmpeg 7) it hands
// over rows padded to 64 bytes whenever the width is not a multiple of 16
// pixels. GStreamer and MLT call from their own frei0r modules (even in a
// process that also loads libavfilter), pass seconds, and their rows are
// packed (GStreamer's after a videoconvert).
#pragma once

namespace pelx04frei0r {

struct Caller {
    bool isLibavfilter = false;
    unsigned libavfilterVersion = 0;  // avfilter_version(): major << 16 | minor << 8 | micro
};

// From the return address of the plugin's f0r_update.
Caller identifyCaller(const void* returnAddress);

// Seconds from the host's time, or a negative number when the time is unknown.
double secondsFromHostTime(const Caller& caller, double time);

// True when the caller hands over rows padded past width * 4 bytes.
bool callerPadsRows(const Caller& caller, unsigned width);

}  // namespace pelx04frei0r
