#include "media_pipeline.hpp"

#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "bounded_queue.hpp"
#include "guarded_frame.hpp"
#include "progress.hpp"
#include "script_host.hpp"

namespace pelx04run {

using namespace pelx04host;

namespace {

// Frames in flight: one being decoded, one in the script, one being encoded,
// one waiting. Each is a guarded mapping, so a script that sends a filter past
// its frame faults instead of corrupting another frame.
constexpr int framesInFlight = 4;
// Items between stages: frames and the copied streams' packets in file order.
constexpr std::size_t queueLength = 16;

struct Item {
    int slot = -1;  // a frame, or -1 for a packet
    long long index = 0;
    FrameTiming timing;
    PacketPtr packet;
};

class Run {
public:
    Run(MediaInput& input, MediaOutput& output) : input_(input), output_(output) {}

    ~Run() {
        for (GuardedFrame& frame : frames_) unmapGuardedFrame(frame);
    }

    bool mapFrames(std::string& error) {
        const std::size_t bytes =
            static_cast<std::size_t>(input_.video().width) * static_cast<std::size_t>(input_.video().height) * 4;
        frames_.resize(framesInFlight);
        for (int i = 0; i < framesInFlight; ++i) {
            if (!mapGuardedFrame(bytes, frames_[static_cast<std::size_t>(i)], error)) return false;
            freeSlots_.push(i);
        }
        return true;
    }

    void decode(long long maxFrames) {
        long long index = 0;
        for (;;) {
            if (maxFrames >= 0 && index >= maxFrames) break;
            PacketPtr packet(av_packet_alloc());
            if (!packet) return fail("out of memory");
            std::string error;
            const MediaInput::Next next = input_.next(*packet, error);
            if (next == MediaInput::Next::end) break;
            if (next == MediaInput::Next::failed) return fail(error);
            Item item;
            if (next == MediaInput::Next::packet) {
                item.packet = std::move(packet);
            } else {
                if (!freeSlots_.pop(item.slot)) return;
                if (!input_.convertFrame(frames_[static_cast<std::size_t>(item.slot)].pixels, error)) {
                    return fail(error);
                }
                item.index = index++;
                item.timing = input_.frameTiming();
            }
            if (!toScript_.push(std::move(item))) return;
        }
        toScript_.close();
    }

    void script(lua_State* L) {
        const int width = input_.video().width;
        const int height = input_.video().height;
        Item item;
        while (toScript_.pop(item)) {
            if (item.slot >= 0) {
                noteCurrentFrame(static_cast<long>(item.index));
                std::string error;
                if (!runScript(L, frames_[static_cast<std::size_t>(item.slot)].pixels, width, height,
                               static_cast<long>(item.index), item.timing.seconds, error)) {
                    return fail(error);
                }
            }
            if (!toEncode_.push(std::move(item))) return;
        }
        toEncode_.close();
    }

    void encode(Progress& progress) {
        Item item;
        std::string error;
        while (toEncode_.pop(item)) {
            if (item.slot < 0) {
                if (!output_.writePacket(*item.packet, error)) return fail(error);
                continue;
            }
            if (!output_.writeFrame(frames_[static_cast<std::size_t>(item.slot)].pixels, item.timing, error)) {
                return fail(error);
            }
            freeSlots_.push(item.slot);
            ++framesDone_;
            progress.frameDone(framesDone_);
        }
        if (!failed() && !output_.finish(error)) return fail(error);
        progress.finish(framesDone_);
    }

    void fail(const std::string& error) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (error_.empty()) error_ = error.empty() ? "failed" : error;
        }
        freeSlots_.stop();
        toScript_.stop();
        toEncode_.stop();
    }

    bool failed() {
        std::lock_guard<std::mutex> lock(mutex_);
        return !error_.empty();
    }

    std::string error() {
        std::lock_guard<std::mutex> lock(mutex_);
        return error_;
    }

    long long framesDone() const { return framesDone_; }

private:
    MediaInput& input_;
    MediaOutput& output_;
    std::vector<GuardedFrame> frames_;
    BoundedQueue<int> freeSlots_{framesInFlight};
    BoundedQueue<Item> toScript_{queueLength};
    BoundedQueue<Item> toEncode_{queueLength};
    std::mutex mutex_;
    std::string error_;
    long long framesDone_ = 0;
};

}  // namespace

PipelineResult runPipeline(MediaInput& input, MediaOutput& output, lua_State* L, const PipelineSettings& settings) {
    PipelineResult result;
    Run run(input, output);
    if (!run.mapFrames(result.error)) return result;
    long long total = settings.expectedFrames;
    if (settings.maxFrames >= 0 && (total <= 0 || settings.maxFrames < total)) total = settings.maxFrames;
    Progress progress(settings.progress, total);

    // An exception must not leave a stage's thread: it fails the run instead.
    const auto guarded = [&run](auto stage) {
        try {
            stage();
        } catch (const std::exception& e) {
            run.fail(e.what());
        }
    };
    std::thread decoder([&] { guarded([&] { run.decode(settings.maxFrames); }); });
    std::thread encoder([&] { guarded([&] { run.encode(progress); }); });
    guarded([&] { run.script(L); });
    decoder.join();
    encoder.join();
    result.frames = run.framesDone();
    result.error = run.error();
    if (result.error.empty()) result.warning = input.endedEarly();
    return result;
}

}  // namespace pelx04run
