// What every media unit of the runner shares: FFmpeg's headers, owners that
// free FFmpeg's objects, and its error codes as text.
#pragma once

#include <cstring>
#include <memory>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avstring.h>
#include <libavutil/avutil.h>
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/parseutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace pelx04run {

struct PacketFree {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct FrameFree {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct CodecFree {
    void operator()(AVCodecContext* codec) const { avcodec_free_context(&codec); }
};
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFree>;

// Options handed to FFmpeg, which takes them by address and leaves the ones
// it did not use.
struct Dictionary {
    AVDictionary* entries = nullptr;
    Dictionary() = default;
    Dictionary(const Dictionary&) = delete;
    Dictionary& operator=(const Dictionary&) = delete;
    ~Dictionary() { av_dict_free(&entries); }
};

inline std::string avErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// A colour tag as a file gave it: FFmpeg stores whatever number the file
// holds, which need not be one of the enumeration's values, and loading such
// a value as the enum type is undefined in C++. So the field is read as an
// int, and a number past the known ones (`count`, FFmpeg's *_NB) becomes
// `unknown`.
template <typename Tag>
Tag knownTag(const Tag& field, int count, Tag unknown) {
    static_assert(sizeof(Tag) == sizeof(int), "FFmpeg's enumerations are stored as int");
    int value = 0;
    std::memcpy(&value, &field, sizeof value);
    return value >= 0 && value < count ? static_cast<Tag>(value) : unknown;
}

// Seconds as text for messages: "12.345 s".
std::string secondsText(double seconds);

}  // namespace pelx04run
