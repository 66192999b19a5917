#include "image_io.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <new>
#include <system_error>

#include <stb_image_write.h>

#ifdef _WIN32
#include <process.h>
#define pelx04GetPid _getpid
#else
#include <unistd.h>
#define pelx04GetPid getpid
#endif

namespace pelx04run {

bool resizeFrame(Frame& frame, int width, int height) {
    if (width < 0 || height < 0) return false;
    const std::size_t w = static_cast<std::size_t>(width);
    const std::size_t h = static_cast<std::size_t>(height);
    if (h != 0 && w > std::numeric_limits<std::size_t>::max() / 4 / h) return false;
    try {
        frame.words.assign(w * h, 0u);
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    frame.width = width;
    frame.height = height;
    return true;
}

void frameFromRgba(Frame& frame, const unsigned char* rgba) {
    unsigned char* out = frame.bytes();
    const std::size_t count = frame.pixelCount();
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned char* s = rgba + 4 * i;
        unsigned char* d = out + 4 * i;
        d[0] = s[2];
        d[1] = s[1];
        d[2] = s[0];
        d[3] = s[3];
    }
}

void frameToRgba(const Frame& frame, unsigned char* rgba) {
    const unsigned char* in = frame.bytes();
    const std::size_t count = frame.pixelCount();
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned char* s = in + 4 * i;
        unsigned char* d = rgba + 4 * i;
        d[0] = s[2];
        d[1] = s[1];
        d[2] = s[0];
        d[3] = s[3];
    }
}

namespace {

struct PngSink {
    std::FILE* file;
    bool failed;
};

void writeToSink(void* context, void* data, int size) {
    PngSink* sink = static_cast<PngSink*>(context);
    if (sink->failed || size <= 0) return;
    if (std::fwrite(data, 1, static_cast<std::size_t>(size), sink->file) != static_cast<std::size_t>(size)) {
        sink->failed = true;
    }
}

}  // namespace

bool writePng(const std::string& path, int width, int height, int components,
              const unsigned char* pixels, std::string& error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path target(path);
    if (target.has_parent_path()) fs::create_directories(target.parent_path(), ec);

    const std::string temporary = path + ".part" + std::to_string(pelx04GetPid());
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) {
        error = "cannot create '" + temporary + "': " + std::strerror(errno);
        return false;
    }
    PngSink sink{file, false};
    const int encoded = stbi_write_png_to_func(writeToSink, &sink, width, height, components, pixels,
                                               width * components);
    const int savedErrno = errno;
    const bool closed = std::fclose(file) == 0;
    if (encoded == 0 || sink.failed || !closed) {
        std::remove(temporary.c_str());
        error = "cannot write '" + path + "': " +
                (encoded == 0 ? std::string("PNG encoding failed") : std::string(std::strerror(savedErrno)));
        return false;
    }
    fs::rename(temporary, target, ec);
    if (ec) {
        std::remove(temporary.c_str());
        error = "cannot write '" + path + "': " + ec.message();
        return false;
    }
    return true;
}

bool saveFrame(const std::string& path, const Frame& frame, std::string& error) {
    std::vector<unsigned char> rgba;
    try {
        rgba.resize(frame.pixelCount() * 4);
    } catch (const std::bad_alloc&) {
        error = "out of memory writing '" + path + "'";
        return false;
    }
    frameToRgba(frame, rgba.data());
    return writePng(path, frame.width, frame.height, 4, rgba.data(), error);
}

}  // namespace pelx04run
