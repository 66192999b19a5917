// Conversion between decoded pictures and the BGRA words a script works on.
#pragma once

#include <string>

#include "av_common.hpp"

namespace pelx04run {

// The matrix a YUV picture was made with: its own tag, or when untagged what
// players assume (BT.709 from 720 lines up, BT.601 below), never swscale's
// BT.601 for everything.
AVColorSpace effectiveMatrix(AVColorSpace tagged, int height);
// Full range for the JPEG pixel formats and where the picture says so.
AVColorRange effectiveRange(AVColorRange tagged, AVPixelFormat format);

bool isRgbFormat(AVPixelFormat format);

class BgraConverter {
public:
    BgraConverter() = default;
    BgraConverter(const BgraConverter&) = delete;
    BgraConverter& operator=(const BgraConverter&) = delete;
    ~BgraConverter();

    // Writes `source` as width x height BGRA words, rows contiguous, scaled
    // when its size differs. BGRA and RGBA pictures are copied or byte-swapped
    // exactly; others go through swscale with the picture's matrix and range.
    bool toBgra(const AVFrame& source, unsigned char* bgra, int width, int height, std::string& error);

    // Fills `target` (format, size, buffers and colour tags already set) from
    // width x height BGRA words; BGRA and RGBA targets get the words exactly.
    bool fromBgra(const unsigned char* bgra, int width, int height, AVFrame& target, std::string& error);

private:
    // One side of a conversion: its size, pixel format and range.
    struct Picture {
        int width;
        int height;
        AVPixelFormat format;
        AVColorRange range;
    };
    // Makes or keeps the swscale context from `from` to `to`; the YUV side
    // is read or written with `matrix`.
    bool prepare(const Picture& from, const Picture& to, AVColorSpace matrix, std::string& error);

    SwsContext* context_ = nullptr;
    AVColorSpace matrix_ = AVCOL_SPC_UNSPECIFIED;
    AVColorRange srcRange_ = AVCOL_RANGE_UNSPECIFIED;
    AVColorRange dstRange_ = AVCOL_RANGE_UNSPECIFIED;
};

}  // namespace pelx04run
