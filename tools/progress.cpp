#include "progress.hpp"

#include <cstdio>

#include "diagnostics.hpp"

namespace pelx04run {

Progress::Progress(bool shown, long long total)
    : shown_(shown), total_(total), start_(Clock::now()), last_(start_) {}

void Progress::frameDone(long long frames) {
    if (!shown_) return;
    const Clock::time_point now = Clock::now();
    if (now - last_ < std::chrono::milliseconds(250)) return;
    last_ = now;
    print(frames, now, false);
}

void Progress::finish(long long frames) {
    if (shown_) print(frames, Clock::now(), true);
}

void Progress::print(long long frames, Clock::time_point now, bool last) {
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double fps = seconds > 0 ? static_cast<double>(frames) / seconds : 0.0;
    char text[160];
    if (total_ <= 0 || frames > total_) {
        std::snprintf(text, sizeof text, "%lld frames, %.1f fps", frames, fps);
    } else {
        constexpr int barWidth = 30;
        const int filled = static_cast<int>(barWidth * frames / total_);
        char bar[barWidth + 1];
        for (int i = 0; i < barWidth; ++i) bar[i] = i < filled ? '#' : '.';
        bar[barWidth] = '\0';
        const long long left = fps > 0 ? static_cast<long long>(static_cast<double>(total_ - frames) / fps) : 0;
        std::snprintf(text, sizeof text, "[%s] %lld/%lld frames, %.1f fps, %lld:%02lld left", bar, frames, total_, fps,
                      left / 60, left % 60);
    }
    statusLine(text, last);
}

}  // namespace pelx04run
