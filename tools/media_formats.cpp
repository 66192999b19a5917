#include "media_formats.hpp"

#include <cstring>

namespace pelx04run {
namespace {

constexpr bool video = false;
constexpr bool still = true;

// A still is written by FFmpeg's image2pipe muxer to the output's descriptor;
// a numbered name (shot_%04d.png) goes to image2, which opens each file.
// Targa has no content probe of its own: only image2 reads it, by name. The
// messages and --help list the formats in this order.
const MediaFormat formats[] = {
    {"mp4", "mov", "mp4", "libx264", 18, video},
    {"mkv", "matroska", "matroska", "libx264", 18, video},
    {"mov", "mov", "mov", "libx264", 18, video},
    {"m4v", "mov", nullptr, nullptr, -1, video},
    {"webm", "matroska", "webm", "libvpx-vp9", 31, video},
    {"avi", "avi", "avi", nullptr, -1, video},
    {"nut", "nut", "nut", nullptr, -1, video},
    {"png", "png_pipe", "image2pipe", "png", -1, still},
    {"jpg", "jpeg_pipe", "image2pipe", "mjpeg", -1, still},
    {"jpeg", "jpeg_pipe", "image2pipe", "mjpeg", -1, still},
    {"bmp", "bmp_pipe", "image2pipe", "bmp", -1, still},
    {"tga", "image2", "image2pipe", "targa", -1, still},
    {"tif", "tiff_pipe", "image2pipe", "tiff", -1, still},
    {"tiff", "tiff_pipe", "image2pipe", "tiff", -1, still},
    {"webp", "webp_pipe", "image2pipe", "libwebp", -1, still},
};

bool same(const char* a, const char* b) { return a != nullptr && b != nullptr && std::strcmp(a, b) == 0; }

// Adds `name` to a comma-separated list unless it is there.
void addOnce(std::string& list, const char* name) {
    const std::string item = std::string(",") + name + ",";
    if (("," + list + ",").find(item) != std::string::npos) return;
    if (!list.empty()) list += ",";
    list += name;
}

std::string padded(std::string text, std::size_t width) {
    if (text.size() < width) text.append(width - text.size(), ' ');
    return text;
}

}  // namespace

std::string lowerExtension(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || dot <= nameStart) return "";
    std::string extension = path.substr(dot + 1);
    for (char& c : extension) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return extension;
}

const MediaFormat* formatOf(const std::string& extension) {
    for (const MediaFormat& format : formats) {
        if (extension == format.extension) return &format;
    }
    return nullptr;
}

bool readsExtension(const std::string& extension) {
    const MediaFormat* format = formatOf(extension);
    return format != nullptr && format->demuxer != nullptr;
}

bool writesContainer(const std::string& extension) {
    const MediaFormat* format = formatOf(extension);
    return format != nullptr && format->muxer != nullptr;
}

std::string demuxerWhitelist(bool byName) {
    std::string list;
    for (const MediaFormat& format : formats) {
        if (format.demuxer != nullptr && (byName || !same(format.demuxer, "image2"))) addOnce(list, format.demuxer);
    }
    if (byName) addOnce(list, "image2");
    return list;
}

bool readsStills(const char* demuxer) {
    for (const MediaFormat& format : formats) {
        if (format.still && same(format.demuxer, demuxer)) return true;
    }
    return false;
}

int defaultQuality(const char* encoder) {
    for (const MediaFormat& format : formats) {
        if (same(format.encoder, encoder)) return format.quality;
    }
    return -1;
}

std::string writtenExtensions() {
    std::string text;
    const MediaFormat* last = nullptr;
    for (const MediaFormat& format : formats) {
        if (format.muxer != nullptr) last = &format;
    }
    for (const MediaFormat& format : formats) {
        if (format.muxer == nullptr) continue;
        if (!text.empty()) text += &format == last ? " and " : ", ";
        text += std::string(".") + format.extension;
    }
    return text;
}

std::string defaultEncodersText() {
    std::string text;
    for (const MediaFormat& format : formats) {
        if (format.still || format.muxer == nullptr || format.encoder == nullptr) continue;
        bool first = true;
        for (const MediaFormat* earlier = formats; earlier != &format; ++earlier) {
            if (!earlier->still && earlier->muxer != nullptr && same(earlier->encoder, format.encoder)) first = false;
        }
        if (!first) continue;
        if (!text.empty()) text += ", ";
        text += std::string(format.encoder) + " for ";
        const char* separator = "";
        for (const MediaFormat& other : formats) {
            if (other.still || other.muxer == nullptr || !same(other.encoder, format.encoder)) continue;
            text += separator;
            text += other.extension;
            separator = "/";
        }
    }
    return text + ", " + formatOf(defaultStillExtension)->encoder + " for images";
}

std::string defaultQualitiesText() {
    std::string text;
    for (const MediaFormat& format : formats) {
        if (format.quality < 0 || defaultQuality(format.encoder) != format.quality) continue;
        const std::string item = std::to_string(format.quality) + " for " + format.encoder;
        if (text.find(item) != std::string::npos) continue;
        if (!text.empty()) text += ", ";
        text += item;
    }
    return text;
}

std::string formatsHelp() {
    std::string text = "Formats, by extension:\n";
    for (const MediaFormat& format : formats) {
        const char* use = format.demuxer && format.muxer ? "read and written" : format.demuxer ? "read" : "written";
        std::string encoder = "-";
        if (format.muxer != nullptr) {
            encoder = format.encoder == nullptr ? std::string("the container's default encoder") : format.encoder;
            if (format.quality >= 0) encoder += ", crf " + std::to_string(format.quality);
        }
        text += "  " + padded(std::string(".") + format.extension, 7) + padded(format.still ? "still" : "video", 7) +
                padded(use, 18) + encoder + "\n";
    }
    return text;
}

}  // namespace pelx04run
