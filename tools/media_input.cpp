#include "media_input.hpp"

#include "media_formats.hpp"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace pelx04run {
namespace {

// Decoders for the video stream.
const char videoDecoders[] =
    "h264,hevc,vp8,vp9,av1,libdav1d,mpeg1video,mpeg2video,mpeg4,mjpeg,prores,ffv1,rawvideo,png,apng,bmp,"
    "targa,tiff,webp,qtrle,utvideo,huffyuv,ffvhuff";
// Stream probing may also open these to learn the other streams' parameters;
// those streams are copied, never decoded.
const char otherStreamDecoders[] =
    "aac,mp3float,mp3,opus,vorbis,flac,alac,ac3,eac3,pcm_s16le,pcm_s16be,pcm_s24le,pcm_f32le,mov_text,subrip,ass,"
    "ssa,webvtt";

// Only the containers and image readers of the runner's formats: a file that
// probes as anything else is refused before any of its parsing runs.
void setWhitelists(AVDictionary*& options, bool byName) {
    av_dict_set(&options, "format_whitelist", demuxerWhitelist(byName).c_str(), 0);
    av_dict_set(&options, "codec_whitelist", (std::string(videoDecoders) + "," + otherStreamDecoders).c_str(), 0);
}

}  // namespace

bool isFramePattern(const std::string& path) { return av_filename_number_test(path.c_str()) != 0; }

std::string secondsText(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", seconds);
    return text;
}

MediaInput::MediaInput() : frame_(av_frame_alloc()), packet_(av_packet_alloc()) {}

MediaInput::~MediaInput() {
    decoder_.reset();
    avformat_close_input(&format_);
    if (memoryIo_ != nullptr) {
        av_freep(&memoryIo_->buffer);
        avio_context_free(&memoryIo_);
    }
}

bool MediaInput::openFile(const std::string& path, const InputLimits& limits, std::string& error) {
    name_ = path;
    if (frame_ == nullptr || packet_ == nullptr) {
        error = "out of memory";
        return false;
    }
    AVDictionary* options = nullptr;
    setWhitelists(options, true);
    // Local files only: no container may make the runner fetch a URL.
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    const int opened = avformat_open_input(&format_, path.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (opened < 0) {
        error = "cannot open '" + path + "': " +
                (opened == AVERROR_INVALIDDATA || opened == AVERROR(EINVAL) ? std::string("not a video or image file the runner reads")
                                               : avErrorText(opened));
        return false;
    }
    const char* demuxer = format_->iformat->name;
    video_.still = readsStills(demuxer) && !(std::strcmp(demuxer, "image2") == 0 && isFramePattern(path));
    return openProbed(limits, error);
}

bool MediaInput::openMemory(const unsigned char* data, std::size_t size, const InputLimits& limits,
                            std::string& error) {
    name_ = "memory";
    memory_ = MemoryReader{data, size, 0};
    if (frame_ == nullptr || packet_ == nullptr) {
        error = "out of memory";
        return false;
    }
    constexpr int bufferSize = 1 << 16;
    auto* buffer = static_cast<unsigned char*>(av_malloc(bufferSize));
    format_ = avformat_alloc_context();
    if (buffer != nullptr) {
        memoryIo_ = avio_alloc_context(
            buffer, bufferSize, 0, &memory_,
            [](void* opaque, uint8_t* out, int wanted) -> int {
                auto* reader = static_cast<MemoryReader*>(opaque);
                const std::size_t left = reader->size - reader->at;
                if (left == 0) return AVERROR_EOF;
                const std::size_t n = left < static_cast<std::size_t>(wanted) ? left : static_cast<std::size_t>(wanted);
                std::memcpy(out, reader->data + reader->at, n);
                reader->at += n;
                return static_cast<int>(n);
            },
            nullptr,
            [](void* opaque, int64_t offset, int whence) -> int64_t {
                auto* reader = static_cast<MemoryReader*>(opaque);
                if (whence == AVSEEK_SIZE) return static_cast<int64_t>(reader->size);
                whence &= ~AVSEEK_FORCE;
                int64_t base = whence == SEEK_CUR ? static_cast<int64_t>(reader->at)
                               : whence == SEEK_END ? static_cast<int64_t>(reader->size)
                                                    : 0;
                if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) return -1;
                const int64_t target = base + offset;
                if (target < 0 || target > static_cast<int64_t>(reader->size)) return -1;
                reader->at = static_cast<std::size_t>(target);
                return target;
            });
    }
    if (format_ == nullptr || memoryIo_ == nullptr) {
        if (memoryIo_ == nullptr) av_free(buffer);
        error = "out of memory";
        return false;
    }
    format_->pb = memoryIo_;
    format_->flags |= AVFMT_FLAG_CUSTOM_IO;
    AVDictionary* options = nullptr;
    setWhitelists(options, false);
    av_dict_set(&options, "protocol_whitelist", "", 0);
    const int opened = avformat_open_input(&format_, nullptr, nullptr, &options);
    av_dict_free(&options);
    if (opened < 0) {
        error = "cannot open the input: " + avErrorText(opened);
        return false;
    }
    video_.still = readsStills(format_->iformat->name);
    return openProbed(limits, error);
}

bool MediaInput::openProbed(const InputLimits& limits, std::string& error) {
    // The pixel limit reaches the decoders that probing opens too, so that a
    // picture past it is never decoded, not even to learn its size.
    const unsigned streams = format_->nb_streams;
    std::vector<AVDictionary*> perStream(streams, nullptr);
    const std::string maxPixels = std::to_string(limits.maxPixels > INT64_MAX ? INT64_MAX : limits.maxPixels);
    for (AVDictionary*& options : perStream) av_dict_set(&options, "max_pixels", maxPixels.c_str(), 0);
    const int probed = avformat_find_stream_info(format_, streams > 0 ? perStream.data() : nullptr);
    for (AVDictionary*& options : perStream) av_dict_free(&options);
    if (probed < 0) {
        error = "cannot read '" + name_ + "': " + avErrorText(probed);
        return false;
    }
    videoIndex_ = av_find_best_stream(format_, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (videoIndex_ < 0) {
        error = "'" + name_ + "' holds no video stream or picture";
        return false;
    }
    const AVStream* stream = format_->streams[videoIndex_];
    const AVCodecParameters* parameters = stream->codecpar;
    const std::uint64_t pixels =
        static_cast<std::uint64_t>(parameters->width) * static_cast<std::uint64_t>(parameters->height);
    if (parameters->width <= 0 || parameters->height <= 0) {
        error = "'" + name_ + "' has no picture that can be read: it is damaged or cut short, or its size is past "
                "the limit of " + std::to_string(limits.maxPixels) + " pixels (--max-pixels raises it)";
        return false;
    }
    if (pixels > limits.maxPixels) {
        error = "'" + name_ + "': frames of " + std::to_string(parameters->width) + "x" +
                std::to_string(parameters->height) + " pixels are past the limit of " +
                std::to_string(limits.maxPixels) + " pixels (--max-pixels raises it)";
        return false;
    }
    if (!openDecoder(limits, error)) return false;

    video_.width = parameters->width;
    video_.height = parameters->height;
    video_.pixelFormat = static_cast<AVPixelFormat>(parameters->format);
    video_.timeBase = stream->time_base;
    const AVRational guessed = av_guess_frame_rate(format_, const_cast<AVStream*>(stream), nullptr);
    if (guessed.num > 0 && guessed.den > 0) video_.frameRate = guessed;
    video_.sampleAspect = parameters->sample_aspect_ratio;
    video_.range = knownTag(parameters->color_range, AVCOL_RANGE_NB, AVCOL_RANGE_UNSPECIFIED);
    video_.primaries = knownTag(parameters->color_primaries, AVCOL_PRI_NB, AVCOL_PRI_UNSPECIFIED);
    video_.transfer = knownTag(parameters->color_trc, AVCOL_TRC_NB, AVCOL_TRC_UNSPECIFIED);
    video_.matrix = knownTag(parameters->color_space, AVCOL_SPC_NB, AVCOL_SPC_UNSPECIFIED);
    video_.chromaLocation = knownTag(parameters->chroma_location, AVCHROMA_LOC_NB, AVCHROMA_LOC_UNSPECIFIED);
    std::size_t matrixSize = 0;
    const uint8_t* displayMatrix = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &matrixSize);
    if (displayMatrix != nullptr && matrixSize >= 9 * sizeof(int32_t)) {
        video_.displayMatrix.assign(displayMatrix, displayMatrix + matrixSize);
    }
    video_.expectedFrames = video_.still ? 1 : stream->nb_frames;
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0) {
        video_.durationSeconds = static_cast<double>(stream->duration) * av_q2d(stream->time_base);
    } else if (format_->duration != AV_NOPTS_VALUE && format_->duration > 0) {
        video_.durationSeconds = static_cast<double>(format_->duration) / AV_TIME_BASE;
    }
    // The video stream's own length: its duration, or Matroska's DURATION tag.
    const AVDictionaryEntry* tag = av_dict_get(stream->metadata, "DURATION", nullptr, 0);
    int64_t tagged = 0;
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0) {
        declaredSeconds_ = video_.durationSeconds;
    } else if (tag != nullptr && av_parse_time(&tagged, tag->value, 1) == 0 && tagged > 0) {
        declaredSeconds_ = static_cast<double>(tagged) / AV_TIME_BASE;
    }
    if (format_->start_time != AV_NOPTS_VALUE) offsetMicroseconds_ = format_->start_time;
    return true;
}

bool MediaInput::openDecoder(const InputLimits& limits, std::string& error) {
    const AVStream* stream = format_->streams[videoIndex_];
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (codec == nullptr || av_match_list(codec->name, videoDecoders, ',') <= 0) {
        const char* name = avcodec_get_name(stream->codecpar->codec_id);
        error = "'" + name_ + "': video coded as " + (name ? name : "?") + ", which the runner does not decode";
        return false;
    }
    decoder_.reset(avcodec_alloc_context3(codec));
    if (!decoder_ || avcodec_parameters_to_context(decoder_.get(), stream->codecpar) < 0) {
        error = "out of memory";
        return false;
    }
    decoder_->pkt_timebase = stream->time_base;
    decoder_->max_pixels = static_cast<int64_t>(limits.maxPixels > INT64_MAX ? INT64_MAX : limits.maxPixels);
    decoder_->thread_count = limits.threads;
    // A still that is cut short or damaged is an error, not a picture with
    // grey or green where the data stopped. The JPEG decoder otherwise takes a
    // picture without its end marker as whole; its other complaints are
    // about damage too. (Other decoders' are not: TIFF's would refuse a tag
    // it does not know.)
    if (video_.still) {
        decoder_->err_recognition |= AV_EF_CRCCHECK;
        if (codec->id == AV_CODEC_ID_MJPEG) decoder_->err_recognition |= AV_EF_EXPLODE;
    }
    AVDictionary* options = nullptr;
    av_dict_set(&options, "codec_whitelist", videoDecoders, 0);
    const int opened = avcodec_open2(decoder_.get(), codec, &options);
    av_dict_free(&options);
    if (opened < 0) {
        error = "'" + name_ + "': cannot open the " + codec->name + " decoder: " + avErrorText(opened);
        return false;
    }
    return true;
}

std::int64_t MediaInput::offsetIn(AVRational timeBase) const {
    return av_rescale_q(offsetMicroseconds_, AV_TIME_BASE_Q, timeBase);
}

bool MediaInput::setRange(double start, double duration, std::string& error) {
    start_ = start;
    duration_ = duration;
    if (start <= 0) return true;
    const std::int64_t origin = format_->start_time != AV_NOPTS_VALUE ? format_->start_time : 0;
    const std::int64_t target = origin + static_cast<std::int64_t>(std::llround(start * AV_TIME_BASE));
    // Seeks to the key frame at or before the start; the frames between it
    // and the start are decoded and dropped.
    const int sought = avformat_seek_file(format_, -1, INT64_MIN, target, target, 0);
    if (sought < 0 && !video_.still) {
        error = "cannot seek to " + secondsText(start) + " in '" + name_ + "': " + avErrorText(sought);
        return false;
    }
    avcodec_flush_buffers(decoder_.get());
    offsetMicroseconds_ = target;
    return true;
}

// Frames before the start are dropped; the first one at or past the end ends
// the input.
bool MediaInput::acceptFrame() {
    std::int64_t pts = frame_->best_effort_timestamp;
    if (pts == AV_NOPTS_VALUE) pts = frame_->pts;
    if (pts == AV_NOPTS_VALUE) {
        // Pictures without times are numbered at the frame rate.
        pts = av_rescale_q(framesGiven_, av_inv_q(video_.frameRate), video_.timeBase) + offsetIn(video_.timeBase);
    }
    timing_.pts = pts - offsetIn(video_.timeBase);
    timing_.duration = frame_->pkt_duration;
    if (start_ > 0 && timing_.pts < 0) return false;
    // A time that goes back or repeats (a file remuxed with made-up
    // timestamps) would be refused by the encoder or the muxer: as ffmpeg
    // does, the frame is kept and follows the one before, by one frame of the
    // frame rate.
    if (framesGiven_ > 0 && timing_.pts <= lastPts_) {
        const std::int64_t step = av_rescale_q(1, av_inv_q(video_.frameRate), video_.timeBase);
        timing_.pts = lastPts_ + std::max<std::int64_t>(step, 1);
    }
    lastPts_ = timing_.pts;
    timing_.seconds = static_cast<double>(timing_.pts) * av_q2d(video_.timeBase);
    return true;
}

// A still must be read whole, so any damage fails it; a video keeps the
// frames decoded up to the damage, and the first damage is what it says when
// it ends.
bool MediaInput::carryOn(const std::string& stillError, const std::string& videoNote, std::string& error) {
    if (video_.still) {
        error = stillError;
        return false;
    }
    if (endedEarly_.empty()) endedEarly_ = videoNote;
    return true;
}

std::optional<MediaInput::Next> MediaInput::takeFrame(std::string& error) {
    if (video_.still && (frame_->decode_error_flags != 0 || (frame_->flags & AV_FRAME_FLAG_CORRUPT) != 0)) {
        error = "'" + name_ + "' is damaged or cut short: its decoder found errors in the picture";
        return Next::failed;
    }
    if (!acceptFrame()) {
        av_frame_unref(frame_.get());
        return std::nullopt;
    }
    if (duration_ >= 0 && timing_.seconds >= duration_) return Next::end;
    ++framesGiven_;
    return Next::frame;
}

MediaInput::Next MediaInput::endOfInput(std::string& error) {
    if (framesGiven_ == 0 && video_.still) {
        error = start_ > 0 ? "--start " + secondsText(start_) + " is past the end of '" + name_ +
                                 "': a still is one frame, at 0 s"
                           : "'" + name_ + "': no picture could be decoded";
        return Next::failed;
    }
    const bool whole = endedEarly_.empty() && !video_.still && start_ <= 0 && duration_ < 0;
    if (whole && video_.expectedFrames > 0 && framesGiven_ + hiddenFrames_ < video_.expectedFrames) {
        endedEarly_ = "'" + name_ + "' ended after " + std::to_string(framesGiven_) + " of its " +
                      std::to_string(video_.expectedFrames) + " frames";
    }
    // Without a frame count (Matroska), a declared duration that the frames
    // fall well short of tells of a file cut short; half a second of slack
    // keeps an audio track that runs on from counting.
    const double frameSeconds = 1.0 / av_q2d(video_.frameRate);
    if (whole && video_.expectedFrames <= 0 && declaredSeconds_ > 0 && framesGiven_ > 0 &&
        timing_.seconds + frameSeconds < declaredSeconds_ - std::max(0.5, 2 * frameSeconds)) {
        endedEarly_ = "'" + name_ + "' ended at " + secondsText(timing_.seconds + frameSeconds) + " of its " +
                      secondsText(declaredSeconds_);
    }
    return Next::end;
}

// A packet of another stream, with its times counted from the start of the
// run; false when it lies outside the range and was let go.
bool MediaInput::passOn(AVPacket& packet) {
    const AVRational timeBase = format_->streams[packet_->stream_index]->time_base;
    const std::int64_t offset = offsetIn(timeBase);
    if (packet_->pts != AV_NOPTS_VALUE) packet_->pts -= offset;
    if (packet_->dts != AV_NOPTS_VALUE) packet_->dts -= offset;
    const std::int64_t at = packet_->pts != AV_NOPTS_VALUE ? packet_->pts : packet_->dts;
    const double seconds = at == AV_NOPTS_VALUE ? 0.0 : static_cast<double>(at) * av_q2d(timeBase);
    if ((start_ > 0 && seconds < 0) || (duration_ >= 0 && seconds >= duration_)) {
        av_packet_unref(packet_.get());
        return false;
    }
    av_packet_move_ref(&packet, packet_.get());
    return true;
}

std::optional<MediaInput::Next> MediaInput::readPacket(AVPacket& packet, std::string& error) {
    const int read = av_read_frame(format_, packet_.get());
    if (read < 0) {
        if (read != AVERROR_EOF) {
            // A read error ends a video there, whatever damage came before it.
            if (!video_.still) endedEarly_.clear();
            if (!carryOn("cannot read '" + name_ + "': " + avErrorText(read),
                         "'" + name_ + "' could not be read past " + secondsText(timing_.seconds) + ": " +
                             avErrorText(read),
                         error)) {
                return Next::failed;
            }
        }
        draining_ = true;
        avcodec_send_packet(decoder_.get(), nullptr);
        return std::nullopt;
    }
    if (packet_->stream_index != videoIndex_) {
        if (passOn(packet)) return Next::packet;
        return std::nullopt;
    }
    // An edit list (a copy cut at a time that is not a key frame) hides the
    // frames before its start: they are decoded, for the frames that need
    // them, and never shown. The container still counts them.
    if ((packet_->flags & AV_PKT_FLAG_DISCARD) != 0) ++hiddenFrames_;
    const int sent = avcodec_send_packet(decoder_.get(), packet_.get());
    av_packet_unref(packet_.get());
    if (sent < 0 && sent != AVERROR(EAGAIN) &&
        !carryOn("'" + name_ + "' is damaged or cut short: " + avErrorText(sent),
                 "'" + name_ + "' is damaged: " + avErrorText(sent), error)) {
        return Next::failed;
    }
    return std::nullopt;
}

MediaInput::Next MediaInput::next(AVPacket& packet, std::string& error) {
    for (;;) {
        const int received = avcodec_receive_frame(decoder_.get(), frame_.get());
        std::optional<Next> step;
        if (received == 0) {
            step = takeFrame(error);
        } else if (received == AVERROR_EOF) {
            step = endOfInput(error);
        } else if (received != AVERROR(EAGAIN)) {
            if (!carryOn("'" + name_ + "' is damaged or cut short: " + avErrorText(received),
                         "'" + name_ + "' is damaged: " + avErrorText(received), error)) {
                step = Next::failed;
            }
        } else if (draining_) {
            // The decoder asked for more after the flush packet: nothing left.
            step = Next::end;
        } else {
            step = readPacket(packet, error);
        }
        if (step) return *step;
    }
}

bool MediaInput::convertFrame(unsigned char* bgra, std::string& error) {
    const bool converted = converter_.toBgra(*frame_, bgra, video_.width, video_.height, error);
    av_frame_unref(frame_.get());
    return converted;
}

}  // namespace pelx04run
