// The one-line progress bar on a terminal: frames done of the total, frames
// per second and time left. Silent when stderr is not a terminal.
#pragma once

#include <chrono>

namespace pelx04run {

class Progress {
public:
    // `total` 0: unknown, then only frames and speed are shown.
    Progress(bool shown, long long total);
    void frameDone(long long frames);
    void finish(long long frames);

private:
    using Clock = std::chrono::steady_clock;
    void print(long long frames, Clock::time_point now, bool last);

    bool shown_;
    long long total_;
    Clock::time_point start_;
    Clock::time_point last_;
};

}  // namespace pelx04run
