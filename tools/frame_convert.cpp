#include "frame_convert.hpp"

#include "frame.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace pelx04run {
namespace {

// Same channel order, or red and blue swapped: copied row by row, so the
// script sees (and the output carries) exactly the stored words.
void copyRows(const unsigned char* src, std::ptrdiff_t srcStride, unsigned char* dst, std::ptrdiff_t dstStride,
              int width, int height, bool swapRedBlue) {
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 4;
    for (int y = 0; y < height; ++y) {
        const unsigned char* s = src + y * srcStride;
        unsigned char* d = dst + y * dstStride;
        if (swapRedBlue) {
            pelx04image::swapRedBlue(s, d, static_cast<std::size_t>(width));
        } else {
            std::memcpy(d, s, rowBytes);
        }
    }
}

bool isJpegFormat(AVPixelFormat format) {
    return format == AV_PIX_FMT_YUVJ420P || format == AV_PIX_FMT_YUVJ422P || format == AV_PIX_FMT_YUVJ444P ||
           format == AV_PIX_FMT_YUVJ440P || format == AV_PIX_FMT_YUVJ411P;
}

}  // namespace

AVColorSpace effectiveMatrix(AVColorSpace tagged, int height) {
    if (tagged != AVCOL_SPC_UNSPECIFIED && tagged != AVCOL_SPC_RESERVED && tagged != AVCOL_SPC_RGB) return tagged;
    return height >= 720 ? AVCOL_SPC_BT709 : AVCOL_SPC_SMPTE170M;
}

AVColorRange effectiveRange(AVColorRange tagged, AVPixelFormat format) {
    if (isJpegFormat(format)) return AVCOL_RANGE_JPEG;
    if (tagged == AVCOL_RANGE_JPEG) return AVCOL_RANGE_JPEG;
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(format);
    // Grey pictures from image files are full range unless they say otherwise.
    if (tagged == AVCOL_RANGE_UNSPECIFIED && descriptor != nullptr && descriptor->nb_components <= 2) {
        return AVCOL_RANGE_JPEG;
    }
    return AVCOL_RANGE_MPEG;
}

bool isRgbFormat(AVPixelFormat format) {
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(format);
    return descriptor != nullptr && (descriptor->flags & AV_PIX_FMT_FLAG_RGB) != 0;
}

BgraConverter::~BgraConverter() { sws_freeContext(context_); }

bool BgraConverter::prepare(const Picture& from, const Picture& to, AVColorSpace matrix, std::string& error) {
    SwsContext* previous = context_;
    context_ = sws_getCachedContext(context_, from.width, from.height, from.format, to.width, to.height, to.format,
                                    SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (context_ == nullptr) {
        const char* fromName = av_get_pix_fmt_name(from.format);
        const char* toName = av_get_pix_fmt_name(to.format);
        error = std::string("cannot convert ") + (fromName ? fromName : "?") + " to " + (toName ? toName : "?");
        return false;
    }
    const AVColorRange srcRange = from.range;
    const AVColorRange dstRange = to.range;
    if (context_ == previous && matrix == matrix_ && srcRange == srcRange_ && dstRange == dstRange_) return true;
    const int* coefficients = sws_getCoefficients(static_cast<int>(matrix));
    // Brightness 0, contrast and saturation 1.0 in 16.16 fixed point.
    sws_setColorspaceDetails(context_, coefficients, srcRange == AVCOL_RANGE_JPEG ? 1 : 0, coefficients,
                             dstRange == AVCOL_RANGE_JPEG ? 1 : 0, 0, 1 << 16, 1 << 16);
    matrix_ = matrix;
    srcRange_ = srcRange;
    dstRange_ = dstRange;
    return true;
}

bool BgraConverter::toBgra(const AVFrame& source, unsigned char* bgra, int width, int height, std::string& error) {
    const AVPixelFormat format = static_cast<AVPixelFormat>(source.format);
    const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(width) * 4;
    if (source.width == width && source.height == height &&
        (format == AV_PIX_FMT_BGRA || format == AV_PIX_FMT_RGBA)) {
        copyRows(source.data[0], source.linesize[0], bgra, stride, width, height, format == AV_PIX_FMT_RGBA);
        return true;
    }
    const AVColorSpace matrix =
        effectiveMatrix(knownTag(source.colorspace, AVCOL_SPC_NB, AVCOL_SPC_UNSPECIFIED), source.height);
    const AVColorRange range = knownTag(source.color_range, AVCOL_RANGE_NB, AVCOL_RANGE_UNSPECIFIED);
    if (!prepare({source.width, source.height, format, effectiveRange(range, format)},
                 {width, height, AV_PIX_FMT_BGRA, AVCOL_RANGE_JPEG}, matrix, error)) {
        return false;
    }
    uint8_t* planes[4] = {bgra, nullptr, nullptr, nullptr};
    int strides[4] = {width * 4, 0, 0, 0};
    sws_scale(context_, source.data, source.linesize, 0, source.height, planes, strides);
    return true;
}

bool BgraConverter::fromBgra(const unsigned char* bgra, int width, int height, AVFrame& target, std::string& error) {
    const AVPixelFormat format = static_cast<AVPixelFormat>(target.format);
    const int stride = width * 4;
    if (target.width == width && target.height == height &&
        (format == AV_PIX_FMT_BGRA || format == AV_PIX_FMT_RGBA)) {
        copyRows(bgra, stride, target.data[0], target.linesize[0], width, height, format == AV_PIX_FMT_RGBA);
        return true;
    }
    const AVColorSpace matrix = effectiveMatrix(target.colorspace, target.height);
    if (!prepare({width, height, AV_PIX_FMT_BGRA, AVCOL_RANGE_JPEG},
                 {target.width, target.height, format, effectiveRange(target.color_range, format)}, matrix, error)) {
        return false;
    }
    const uint8_t* planes[4] = {bgra, nullptr, nullptr, nullptr};
    const int strides[4] = {stride, 0, 0, 0};
    sws_scale(context_, planes, strides, 0, height, target.data, target.linesize);
    return true;
}

}  // namespace pelx04run
