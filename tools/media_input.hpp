// Demuxing and decoding what a user gives the runner: a video, an image
// sequence or a still, opened only through the formats and decoders listed in
// media_input.cpp, with a pixel limit applied before any picture is decoded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "av_common.hpp"
#include "frame_convert.hpp"

namespace pelx04run {

// 8192 x 8192: enough for 8K video, far below what a decompression bomb asks.
constexpr std::uint64_t defaultMaxPixels = 8192ull * 8192ull;

// FFmpeg's rule, on either side of the runner: a name is an image sequence
// when it holds one frame number (shot_%d.png, shot_%04d.png), %% being a
// percent sign. Any other % leaves it one file's name ("keep 50%.png").
bool isFramePattern(const std::string& path);

struct InputLimits {
    std::uint64_t maxPixels = defaultMaxPixels;
    int threads = 0;  // the decoder's threads; 0: libavcodec chooses
};

// The video stream as the output side needs to know it.
struct VideoSource {
    int width = 0;
    int height = 0;
    AVPixelFormat pixelFormat = AV_PIX_FMT_NONE;
    AVRational timeBase{1, 25};     // frame timestamps count in this
    AVRational frameRate{25, 1};
    AVRational sampleAspect{0, 1};
    AVColorRange range = AVCOL_RANGE_UNSPECIFIED;
    AVColorPrimaries primaries = AVCOL_PRI_UNSPECIFIED;
    AVColorTransferCharacteristic transfer = AVCOL_TRC_UNSPECIFIED;
    AVColorSpace matrix = AVCOL_SPC_UNSPECIFIED;
    AVChromaLocation chromaLocation = AVCHROMA_LOC_UNSPECIFIED;
    std::vector<std::uint8_t> displayMatrix;  // the rotation to show the stored pictures with; empty for none
    long long expectedFrames = 0;             // from the container; 0 when it does not say
    double durationSeconds = 0;               // 0 when unknown
    bool still = false;                       // one picture from an image file
};

struct FrameTiming {
    std::int64_t pts = 0;       // in VideoSource::timeBase, counted from the start of the run
    std::int64_t duration = 0;  // 0 when unknown
    double seconds = 0;
};

class MediaInput {
public:
    MediaInput();
    MediaInput(const MediaInput&) = delete;
    MediaInput& operator=(const MediaInput&) = delete;
    ~MediaInput();

    bool openFile(const std::string& path, const InputLimits& limits, std::string& error);
    // Opens a file held in memory (it must outlive this object); image
    // sequences, which name other files, are not possible here.
    bool openMemory(const unsigned char* data, std::size_t size, const InputLimits& limits, std::string& error);

    // Frames before `start` seconds are decoded and dropped, as ffmpeg's -ss
    // before -i does, and times then count from there; the input ends at
    // start + duration (duration < 0: at its end).
    bool setRange(double start, double duration, std::string& error);

    enum class Next { frame, packet, end, failed };
    // The next video frame (then convertFrame and frameTiming), or a packet
    // of another stream moved into `packet` with its times counted from the
    // start of the run, or the end, or a failure with `error` set.
    Next next(AVPacket& packet, std::string& error);
    bool convertFrame(unsigned char* bgra, std::string& error);
    FrameTiming frameTiming() const { return timing_; }

    // After `end`: empty, or why the input ended early (a truncated or damaged
    // video keeps the frames decoded up to there).
    const std::string& endedEarly() const { return endedEarly_; }

    const VideoSource& video() const { return video_; }
    AVFormatContext* format() const { return format_; }
    int videoStreamIndex() const { return videoIndex_; }

private:
    bool openProbed(const InputLimits& limits, std::string& error);
    bool openDecoder(const InputLimits& limits, std::string& error);
    bool acceptFrame();
    // The steps of next(); nullopt: go round again.
    std::optional<Next> takeFrame(std::string& error);
    std::optional<Next> readPacket(AVPacket& packet, std::string& error);
    Next endOfInput(std::string& error);
    bool passOn(AVPacket& packet);
    bool carryOn(const std::string& stillError, const std::string& videoNote, std::string& error);
    std::int64_t offsetIn(AVRational timeBase) const;

    AVFormatContext* format_ = nullptr;
    AVIOContext* memoryIo_ = nullptr;
    CodecPtr decoder_;
    FramePtr frame_;
    PacketPtr packet_;
    BgraConverter converter_;
    struct MemoryReader {
        const unsigned char* data = nullptr;
        std::size_t size = 0;
        std::size_t at = 0;
    } memory_;
    std::string name_;
    VideoSource video_;
    FrameTiming timing_;
    std::string endedEarly_;
    int videoIndex_ = -1;
    std::int64_t offsetMicroseconds_ = 0;
    double start_ = 0;
    double duration_ = -1;
    double declaredSeconds_ = 0;  // the video stream's own length; 0 when it does not say
    long long framesGiven_ = 0;
    long long hiddenFrames_ = 0;  // packets an edit list hides: counted by the container, never shown
    std::int64_t lastPts_ = 0;    // the time of the frame given last
    bool draining_ = false;
};

}  // namespace pelx04run
