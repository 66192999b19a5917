#include "media_output.hpp"

#include "media_formats.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace pelx04run {
namespace {

// At most this much a write(): one call per 3.6 MB raw frame costs the kernel
// twice the system time of the same bytes in 256 KB pieces, as ffmpeg writes
// them (scripts/bench_runner.sh; docs/benchmarks.md).
constexpr std::size_t writePiece = 256 * 1024;

int writeToFd(void* opaque, uint8_t* buffer, int size) {
    const int fd = *static_cast<int*>(opaque);
    int done = 0;
    while (done < size) {
        const std::size_t piece = std::min(static_cast<std::size_t>(size - done), writePiece);
        const ssize_t n = ::write(fd, buffer + done, piece);
        if (n < 0) {
            if (errno == EINTR) continue;
            return AVERROR(errno);
        }
        done += static_cast<int>(n);
    }
    return size;
}

int64_t seekFd(void* opaque, int64_t offset, int whence) {
    const int fd = *static_cast<int*>(opaque);
    if (whence == AVSEEK_SIZE) {
        struct stat status {};
        return ::fstat(fd, &status) == 0 ? static_cast<int64_t>(status.st_size) : AVERROR(errno);
    }
    const off_t at = ::lseek(fd, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : static_cast<int64_t>(at);
}

bool takesFormat(const AVCodec* codec, AVPixelFormat format) {
    if (codec->pix_fmts == nullptr) return true;
    for (const AVPixelFormat* f = codec->pix_fmts; *f != AV_PIX_FMT_NONE; ++f) {
        if (*f == format) return true;
    }
    return false;
}

// A lossless encoder that stores BGRA (ffv1, rawvideo) or RGBA (png) gets it,
// so the output holds exactly the words the script left, alpha included;
// otherwise the input's own format when the encoder takes it.
AVPixelFormat choosePixelFormat(const AVCodec* codec, AVPixelFormat sourceFormat) {
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(codec->id);
    const bool lossless = descriptor != nullptr && (descriptor->props & AV_CODEC_PROP_LOSSLESS) != 0 &&
                          (descriptor->props & AV_CODEC_PROP_LOSSY) == 0;
    if (lossless && takesFormat(codec, AV_PIX_FMT_BGRA)) return AV_PIX_FMT_BGRA;
    if (lossless && takesFormat(codec, AV_PIX_FMT_RGBA)) return AV_PIX_FMT_RGBA;
    if (sourceFormat != AV_PIX_FMT_NONE && codec->pix_fmts != nullptr && takesFormat(codec, sourceFormat)) {
        return sourceFormat;
    }
    if (codec->pix_fmts == nullptr) return AV_PIX_FMT_BGRA;
    const AVPixelFormat near = sourceFormat != AV_PIX_FMT_NONE ? sourceFormat : AV_PIX_FMT_BGRA;
    return avcodec_find_best_pix_fmt_of_list(codec->pix_fmts, near, 1, nullptr);
}

void configure(AVCodecContext& enc, const AVCodec* codec, const VideoSource& source, AVRational timeBase,
               bool globalHeader) {
    enc.width = source.width;
    enc.height = source.height;
    enc.pix_fmt = choosePixelFormat(codec, source.pixelFormat);
    enc.time_base = timeBase;
    enc.framerate = source.frameRate;
    enc.sample_aspect_ratio = source.sampleAspect;
    enc.color_primaries = source.primaries;
    enc.color_trc = source.transfer;
    enc.chroma_sample_location = source.chromaLocation;
    if (isRgbFormat(enc.pix_fmt)) {
        enc.colorspace = AVCOL_SPC_RGB;
        enc.color_range = AVCOL_RANGE_JPEG;
    } else if (source.pixelFormat == AV_PIX_FMT_NONE || isRgbFormat(source.pixelFormat)) {
        // Pictures made from RGB are tagged with the matrix they were made with.
        enc.colorspace = effectiveMatrix(AVCOL_SPC_UNSPECIFIED, source.height);
        enc.color_range = effectiveRange(AVCOL_RANGE_UNSPECIFIED, enc.pix_fmt);
    } else {
        enc.colorspace = source.matrix;
        enc.color_range = source.range == AVCOL_RANGE_UNSPECIFIED ? effectiveRange(source.range, enc.pix_fmt)
                                                                  : source.range;
    }
    enc.thread_count = 0;
    if (globalHeader) enc.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
}

void fillOptions(const AVCodec* codec, const EncoderSettings& settings, AVDictionary*& options) {
    const bool vp9 = std::strcmp(codec->name, "libvpx-vp9") == 0;
    const int crf = settings.crf >= 0 ? settings.crf : defaultQuality(codec->name);
    if (crf >= 0) av_dict_set_int(&options, "crf", crf, 0);
    // VP9 reads its quality from crf only when no bit rate is asked for.
    if (vp9 && av_dict_get(options, "crf", nullptr, 0) != nullptr) av_dict_set(&options, "b", "0", 0);
    for (const std::string& option : settings.options) {
        const std::size_t equals = option.find('=');
        av_dict_set(&options, option.substr(0, equals).c_str(), option.substr(equals + 1).c_str(), 0);
    }
}

}  // namespace

bool checkOutputContainer(const std::string& path, std::string& error) {
    const std::string extension = lowerExtension(path);
    if (writesContainer(extension)) return true;
    const std::string known = " (the runner writes " + writtenExtensions() + ")";
    // A hidden file's name (".mkv") is no extension, whatever FFmpeg would guess from it.
    const AVOutputFormat* guessed = extension.empty() ? nullptr : av_guess_format(nullptr, path.c_str(), nullptr);
    if (guessed == nullptr) {
        error = "cannot tell a container from the extension of '" + path + "'" + known;
    } else if (guessed->video_codec == AV_CODEC_ID_NONE) {
        error = "'" + path + "' would be a " + guessed->name + " file, which holds no video" + known;
    } else {
        error = "the runner does not write " + std::string(guessed->name) + " files such as '" + path + "'" + known;
    }
    return false;
}

bool isImageSequence(const std::string& path) {
    const MediaFormat* format = formatOf(lowerExtension(path));
    return format != nullptr && format->still && isFramePattern(path);
}

MediaOutput::~MediaOutput() {
    encoder_.reset();
    if (format_ != nullptr) {
        if (headerWritten_ && io_ == nullptr && !(format_->oformat->flags & AVFMT_NOFILE)) avio_closep(&format_->pb);
        avformat_free_context(format_);
    }
    if (io_ != nullptr) {
        av_freep(&io_->buffer);
        avio_context_free(&io_);
    }
}

bool MediaOutput::openContainer(const std::string& path, int fd, std::string& error) {
    if (!checkOutputContainer(path, error)) return false;
    const MediaFormat& format = *formatOf(lowerExtension(path));
    const bool pattern = fd < 0;
    if (pattern != isImageSequence(path)) {
        error = "output '" + path + "': " +
                (pattern ? "not an image sequence" : "an image sequence is written by name");
        return false;
    }
    // One image goes to the descriptor like any other output; a pattern
    // names many files, which the image muxer opens one by one.
    const AVOutputFormat* container = av_guess_format(pattern ? "image2" : format.muxer, nullptr, nullptr);
    oneImage_ = format.still && !pattern;
    if (container == nullptr) {
        error = "this FFmpeg cannot write '" + path + "'";
        return false;
    }
    if (avformat_alloc_output_context2(&format_, container, nullptr, path.c_str()) < 0 || format_ == nullptr) {
        error = "out of memory";
        return false;
    }
    if (!pattern) {
        fd_ = fd;
        constexpr int bufferSize = 1 << 16;
        auto* buffer = static_cast<unsigned char*>(av_malloc(bufferSize));
        const bool seekable = ::lseek(fd, 0, SEEK_CUR) >= 0;
        if (buffer != nullptr) {
            io_ = avio_alloc_context(buffer, bufferSize, 1, &fd_, nullptr, writeToFd, seekable ? seekFd : nullptr);
        }
        if (io_ == nullptr) {
            av_free(buffer);
            error = "out of memory";
            return false;
        }
        io_->seekable = seekable ? AVIO_SEEKABLE_NORMAL : 0;
        // Packets go to the descriptor as they are, not copied through the
        // buffer first: a raw BGRA frame is 8 MB at 1080p.
        io_->direct = 1;
        format_->pb = io_;
        format_->flags |= AVFMT_FLAG_CUSTOM_IO;
    }
    return true;
}

// The encoder asked for, or the format's default, or the muxer's own.
const AVCodec* MediaOutput::chooseEncoder(const EncoderSettings& settings, std::string& error) const {
    const MediaFormat* format = formatOf(lowerExtension(format_->url ? format_->url : ""));
    std::string name = settings.codec;
    if (name.empty() && format != nullptr && format->encoder != nullptr) name = format->encoder;
    const AVCodec* codec = name.empty() ? avcodec_find_encoder(format_->oformat->video_codec)
                                        : avcodec_find_encoder_by_name(name.c_str());
    if (name.empty() && format_->oformat->video_codec == AV_CODEC_ID_NONE) {
        error = std::string("a ") + format_->oformat->name + " file holds no video";
        return nullptr;
    }
    if (codec == nullptr || codec->type != AVMEDIA_TYPE_VIDEO) {
        error = "no video encoder named '" + name + "' is installed (ffmpeg -encoders lists them)";
        return nullptr;
    }
    if (avformat_query_codec(format_->oformat, codec->id, FF_COMPLIANCE_NORMAL) == 0) {
        error = std::string("a ") + format_->oformat->name + " file cannot hold " + codec->name + " video";
        return nullptr;
    }
    return codec;
}

// Frames keep the input's own timestamps; an encoder whose standard cannot
// count in the input's time base (MPEG-4 past 1/65535) counts in frames of
// the frame rate instead, as ffmpeg's encoders do. The first try's complaint
// is kept quiet by a log offset on that encoder alone, and the options it
// did not take are filled again from the settings. On success `options`
// holds those the encoder has no use for.
bool MediaOutput::openInTimeBase(const AVCodec* codec, const VideoSource& source, const EncoderSettings& settings,
                                 Dictionary& options, std::string& error) {
    // Lifts every level past AV_LOG_TRACE, so that nothing this encoder
    // logs is shown, while staying inside the byte FFmpeg keeps of a level.
    constexpr int silenced = 192;
    static_assert(AV_LOG_FATAL + silenced > AV_LOG_TRACE && AV_LOG_TRACE + silenced <= 0xff, "a log level");
    const AVRational timeBases[2] = {source.timeBase, av_inv_q(source.frameRate)};
    const int attempts = av_cmp_q(timeBases[0], timeBases[1]) == 0 ? 1 : 2;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        const bool last = attempt + 1 == attempts;
        encoder_.reset(avcodec_alloc_context3(codec));
        if (!encoder_) {
            error = "out of memory";
            return false;
        }
        configure(*encoder_, codec, source, timeBases[attempt], (format_->oformat->flags & AVFMT_GLOBALHEADER) != 0);
        encoder_->thread_count = settings.threads;
        encoder_->log_level_offset = last ? 0 : silenced;
        av_dict_free(&options.entries);
        fillOptions(codec, settings, options.entries);
        const int opened = avcodec_open2(encoder_.get(), codec, &options.entries);
        encoder_->log_level_offset = 0;
        if (opened >= 0) return true;
        if (last) {
            error = std::string("cannot open the ") + codec->name + " encoder: " + avErrorText(opened);
            return false;
        }
    }
    return false;
}

// The frame the script's words are converted into, with the encoder's
// format, size and colour tags; raw BGRA is lent to the encoder instead.
bool MediaOutput::prepareFrames(std::string& error) {
    const AVCodecContext& enc = *encoder_;
    borrowFrames_ = enc.codec->id == AV_CODEC_ID_RAWVIDEO && enc.pix_fmt == AV_PIX_FMT_BGRA &&
                    !(enc.codec->capabilities & AV_CODEC_CAP_DELAY);
    borrowed_.reset(av_frame_alloc());
    if (!borrowed_) {
        error = "out of memory";
        return false;
    }
    frame_->format = enc.pix_fmt;
    frame_->width = enc.width;
    frame_->height = enc.height;
    frame_->colorspace = enc.colorspace;
    frame_->color_range = enc.color_range;
    frame_->color_primaries = enc.color_primaries;
    frame_->color_trc = enc.color_trc;
    if (av_frame_get_buffer(frame_.get(), 0) < 0) {
        error = "out of memory";
        return false;
    }
    return true;
}

bool MediaOutput::openEncoder(const VideoSource& source, const EncoderSettings& settings, std::string& error) {
    const AVCodec* codec = chooseEncoder(settings, error);
    if (codec == nullptr) return false;
    frame_.reset(av_frame_alloc());
    packet_.reset(av_packet_alloc());
    if (!frame_ || !packet_) {
        error = "out of memory";
        return false;
    }
    width_ = source.width;
    height_ = source.height;
    sourceTimeBase_ = source.timeBase;
    Dictionary options;
    if (!openInTimeBase(codec, source, settings, options, error)) return false;
    if (av_dict_count(options.entries) > 0) {
        error = std::string("the ") + codec->name + " encoder has no option '" +
                av_dict_get(options.entries, "", nullptr, AV_DICT_IGNORE_SUFFIX)->key + "'";
        return false;
    }
    return prepareFrames(error);
}

void MediaOutput::addCopiedStreams(AVFormatContext* input, int videoIndex) {
    if (input == nullptr) return;
    streamMap_.assign(input->nb_streams, -1);
    for (unsigned i = 0; i < input->nb_streams; ++i) inputTimeBases_.push_back(input->streams[i]->time_base);
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        if (static_cast<int>(i) == videoIndex) continue;
        const AVStream* in = input->streams[i];
        const AVCodecParameters* parameters = in->codecpar;
        const char* type = av_get_media_type_string(parameters->codec_type);
        const std::string what = "stream #" + std::to_string(i) + " (" + (type ? type : "data") + ", " +
                                 avcodec_get_name(parameters->codec_id) + ")";
        const bool copyable =
            parameters->codec_type == AVMEDIA_TYPE_AUDIO || parameters->codec_type == AVMEDIA_TYPE_SUBTITLE;
        if (!copyable) {
            notes_.push_back("dropped " + what + ": only one video stream and the audio and subtitles are kept");
            continue;
        }
        if (avformat_query_codec(format_->oformat, parameters->codec_id, FF_COMPLIANCE_NORMAL) != 1) {
            notes_.push_back("dropped " + what + ": a " + format_->oformat->name + " file cannot hold it");
            continue;
        }
        AVStream* out = avformat_new_stream(format_, nullptr);
        if (out == nullptr || avcodec_parameters_copy(out->codecpar, parameters) < 0) {
            notes_.push_back("dropped " + what + ": out of memory");
            continue;
        }
        out->codecpar->codec_tag = 0;
        out->time_base = in->time_base;
        out->disposition = in->disposition;
        av_dict_copy(&out->metadata, in->metadata, 0);
        streamMap_[i] = out->index;
    }
}

bool MediaOutput::open(const std::string& path, int fd, const VideoSource& source, AVFormatContext* input,
                       int videoIndex, const EncoderSettings& settings, std::string& error) {
    if (!openContainer(path, fd, error) || !openEncoder(source, settings, error)) return false;
    videoStream_ = avformat_new_stream(format_, nullptr);
    if (videoStream_ == nullptr || avcodec_parameters_from_context(videoStream_->codecpar, encoder_.get()) < 0) {
        error = "out of memory";
        return false;
    }
    videoStream_->time_base = encoder_->time_base;
    videoStream_->avg_frame_rate = source.frameRate;
    videoStream_->r_frame_rate = source.frameRate;
    videoStream_->sample_aspect_ratio = source.sampleAspect;
    // Frames keep their stored orientation; players turn them as they turned the input.
    if (!source.displayMatrix.empty()) {
        uint8_t* matrix = av_stream_new_side_data(videoStream_, AV_PKT_DATA_DISPLAYMATRIX, source.displayMatrix.size());
        if (matrix != nullptr) std::memcpy(matrix, source.displayMatrix.data(), source.displayMatrix.size());
    }
    if (input != nullptr) {
        av_dict_copy(&format_->metadata, input->metadata, 0);
        if (videoIndex >= 0) {
            av_dict_copy(&videoStream_->metadata, input->streams[videoIndex]->metadata, 0);
            videoStream_->disposition = input->streams[videoIndex]->disposition;
        }
    }
    addCopiedStreams(input, videoIndex);
    const int written = avformat_write_header(format_, nullptr);
    if (written < 0) {
        error = "cannot write the " + std::string(format_->oformat->name) + " header: " + avErrorText(written);
        return false;
    }
    headerWritten_ = true;
    return true;
}

bool MediaOutput::drainEncoder(std::string& error) {
    for (;;) {
        const int received = avcodec_receive_packet(encoder_.get(), packet_.get());
        if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) return true;
        if (received < 0) {
            error = std::string("the ") + encoder_->codec->name + " encoder failed: " + avErrorText(received);
            return false;
        }
        av_packet_rescale_ts(packet_.get(), encoder_->time_base, videoStream_->time_base);
        packet_->stream_index = videoStream_->index;
        const int written = av_interleaved_write_frame(format_, packet_.get());
        if (written < 0) {
            error = "cannot write the output: " + avErrorText(written);
            return false;
        }
    }
}

bool MediaOutput::writeFrame(const unsigned char* bgra, const FrameTiming& timing, std::string& error) {
    if (oneImage_ && framesWritten_ == 1) {
        error = "the output is one image but the input has more frames: pass --frames 1, or write a sequence "
                "such as out_%04d.png";
        return false;
    }
    AVFrame* frame = frame_.get();
    if (borrowFrames_) {
        // The raw encoder copies the words into its packet before this
        // returns, so it can read the script's frame where it lies.
        if (!lendFrame(bgra, error)) return false;
        frame = borrowed_.get();
    } else {
        if (av_frame_make_writable(frame) < 0) {
            error = "out of memory";
            return false;
        }
        if (!converter_.fromBgra(bgra, width_, height_, *frame, error)) return false;
    }
    frame->pts = av_rescale_q(timing.pts, sourceTimeBase_, encoder_->time_base);
    frame->pkt_duration = av_rescale_q(timing.duration, sourceTimeBase_, encoder_->time_base);
    const int sent = avcodec_send_frame(encoder_.get(), frame);
    av_frame_unref(borrowed_.get());
    if (sent < 0) {
        error = std::string("the ") + encoder_->codec->name + " encoder refused a frame: " + avErrorText(sent);
        return false;
    }
    ++framesWritten_;
    return drainEncoder(error);
}

bool MediaOutput::lendFrame(const unsigned char* bgra, std::string& error) {
    const std::size_t bytes = static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_) * 4;
    AVBufferRef* buffer = av_buffer_create(const_cast<uint8_t*>(bgra), bytes, [](void*, uint8_t*) {}, nullptr,
                                           AV_BUFFER_FLAG_READONLY);
    if (buffer == nullptr) {
        error = "out of memory";
        return false;
    }
    AVFrame& frame = *borrowed_;
    av_frame_copy_props(&frame, frame_.get());
    frame.buf[0] = buffer;
    frame.data[0] = const_cast<uint8_t*>(bgra);
    frame.linesize[0] = width_ * 4;
    frame.format = AV_PIX_FMT_BGRA;
    frame.width = width_;
    frame.height = height_;
    return true;
}

bool MediaOutput::writePacket(AVPacket& packet, std::string& error) {
    const int in = packet.stream_index;
    if (in < 0 || static_cast<std::size_t>(in) >= streamMap_.size() || streamMap_[static_cast<std::size_t>(in)] < 0) {
        av_packet_unref(&packet);
        return true;
    }
    const std::size_t index = static_cast<std::size_t>(in);
    AVStream* out = format_->streams[streamMap_[index]];
    av_packet_rescale_ts(&packet, inputTimeBases_[index], out->time_base);
    packet.stream_index = out->index;
    packet.pos = -1;
    const int written = av_interleaved_write_frame(format_, &packet);
    av_packet_unref(&packet);
    if (written < 0) {
        error = "cannot write the output: " + avErrorText(written);
        return false;
    }
    return true;
}

bool MediaOutput::finish(std::string& error) {
    const int sent = avcodec_send_frame(encoder_.get(), nullptr);
    if (sent < 0 && sent != AVERROR_EOF) {
        error = "cannot finish encoding: " + avErrorText(sent);
        return false;
    }
    if (!drainEncoder(error)) return false;
    const int trailer = av_write_trailer(format_);
    if (trailer < 0) {
        error = "cannot finish the output: " + avErrorText(trailer);
        return false;
    }
    if (io_ != nullptr) {
        avio_flush(io_);
        if (io_->error < 0) {
            error = "cannot write the output: " + avErrorText(io_->error);
            return false;
        }
    }
    return true;
}

}  // namespace pelx04run
