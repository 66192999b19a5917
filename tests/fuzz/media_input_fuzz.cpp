// libFuzzer target: any bytes through the runner's own input path, the way a
// file a user gives it goes: opened with the runner's format and decoder
// white lists and a pixel limit, every frame decoded and converted to BGRA
// into a buffer of exactly the size the runner would hand a script, so that
// AddressSanitizer sees the first byte past it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "media_input.hpp"

namespace {

// The runner's own limit would let one input ask for 256 MB frames; the same
// refusal code runs at a smaller size, and the fuzzer stays fast.
constexpr std::uint64_t fuzzMaxPixels = 1024 * 1024;
// Enough to reach the decoder's later frames, its flush and the other
// streams' packets without spending the run on one long input.
constexpr int maxFrames = 8;
constexpr int maxSteps = 256;

}  // namespace

// Only FFmpeg's own assertion messages are shown: they name a fault inside
// FFmpeg that scripts/test_fuzz.sh may find in its suppression list.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    av_log_set_level(AV_LOG_PANIC);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using pelx04run::MediaInput;
    MediaInput input;
    pelx04run::InputLimits limits;
    limits.maxPixels = fuzzMaxPixels;
    std::string error;
    if (!input.openMemory(data, size, limits, error)) return 0;
    const pelx04run::VideoSource& video = input.video();
    if (video.width <= 0 || video.height <= 0 ||
        static_cast<std::uint64_t>(video.width) * static_cast<std::uint64_t>(video.height) > fuzzMaxPixels) {
        __builtin_trap();  // the input unit promised a size within the limit
    }
    std::vector<unsigned char> bgra(static_cast<std::size_t>(video.width) * static_cast<std::size_t>(video.height) * 4);
    AVPacket* packet = av_packet_alloc();
    if (packet == nullptr) return 0;
    int frames = 0;
    for (int step = 0; step < maxSteps && frames < maxFrames; ++step) {
        const MediaInput::Next next = input.next(*packet, error);
        if (next == MediaInput::Next::frame) {
            ++frames;
            if (!input.convertFrame(bgra.data(), error)) break;
        } else if (next == MediaInput::Next::packet) {
            av_packet_unref(packet);
        } else {
            break;
        }
    }
    av_packet_free(&packet);
    return 0;
}
