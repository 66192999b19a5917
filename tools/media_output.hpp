// Encoding the script's frames and muxing them, with the input's other
// streams copied as they are, into OUTPUT through a file descriptor.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "av_common.hpp"
#include "frame_convert.hpp"
#include "media_input.hpp"

namespace pelx04run {

struct EncoderSettings {
    std::string codec;                 // an FFmpeg encoder name; empty: the container's default
    int crf = -1;                      // < 0: the encoder's default (defaultQuality)
    std::vector<std::string> options;  // KEY=VALUE, passed to the encoder
    int threads = 0;                   // the encoder's threads; 0: libavcodec chooses
};

// Whether the runner writes OUTPUT's container, told by its extension (the
// written formats of media_formats.hpp). Anything else is refused before
// anything is written: a playlist (.m3u8, .mpd) or segment muxer writes files
// of its own beside OUTPUT, past its temporary and rename.
bool checkOutputContainer(const std::string& path, std::string& error);
// An image sequence: an image extension and a frame number in the name.
bool isImageSequence(const std::string& path);

class MediaOutput {
public:
    MediaOutput() = default;
    MediaOutput(const MediaOutput&) = delete;
    MediaOutput& operator=(const MediaOutput&) = delete;
    ~MediaOutput();

    // Chooses the container from `path`'s extension and the encoder and its
    // pixel format, adds the input's audio and subtitle streams that the
    // container takes (`notes` says which were dropped), and writes the
    // header through `fd`. With `fd` < 0, `path` is an image sequence
    // (isImageSequence) and the muxer writes each file itself. `input` may be null (test card).
    bool open(const std::string& path, int fd, const VideoSource& source, AVFormatContext* input, int videoIndex,
              const EncoderSettings& settings, std::string& error);

    bool writeFrame(const unsigned char* bgra, const FrameTiming& timing, std::string& error);
    // A packet of an input stream, times counted from the start of the run;
    // packets of dropped streams are let go.
    bool writePacket(AVPacket& packet, std::string& error);
    // Drains the encoder and writes the trailer.
    bool finish(std::string& error);

    const std::vector<std::string>& notes() const { return notes_; }
    const char* encoderName() const { return encoder_ ? encoder_->codec->name : ""; }
    AVPixelFormat pixelFormat() const { return encoder_ ? encoder_->pix_fmt : AV_PIX_FMT_NONE; }

private:
    bool openContainer(const std::string& path, int fd, std::string& error);
    bool openEncoder(const VideoSource& source, const EncoderSettings& settings, std::string& error);
    const AVCodec* chooseEncoder(const EncoderSettings& settings, std::string& error) const;
    bool openInTimeBase(const AVCodec* codec, const VideoSource& source, const EncoderSettings& settings,
                        Dictionary& options, std::string& error);
    bool prepareFrames(std::string& error);
    void addCopiedStreams(AVFormatContext* input, int videoIndex);
    bool drainEncoder(std::string& error);
    bool lendFrame(const unsigned char* bgra, std::string& error);

    AVFormatContext* format_ = nullptr;
    AVIOContext* io_ = nullptr;
    CodecPtr encoder_;
    FramePtr frame_;
    FramePtr borrowed_;  // the script's own frame, handed to an encoder that copies it at once
    bool borrowFrames_ = false;
    PacketPtr packet_;
    BgraConverter converter_;
    std::vector<int> streamMap_;  // input stream index -> output stream index, -1 dropped
    std::vector<AVRational> inputTimeBases_;
    std::vector<std::string> notes_;
    AVStream* videoStream_ = nullptr;
    int fd_ = -1;
    AVRational sourceTimeBase_{1, 25};
    int width_ = 0;
    int height_ = 0;
    long long framesWritten_ = 0;
    bool oneImage_ = false;
    bool headerWritten_ = false;
};

}  // namespace pelx04run
