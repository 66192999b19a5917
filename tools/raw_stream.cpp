#include "raw_stream.hpp"

#include <climits>
#include <cstdint>
#include <limits>

namespace pelx04run {
namespace {

// Reads one decimal side; false for no digits or a value beyond int.
bool readSide(const std::string& text, std::size_t& at, int& side) {
    const std::size_t start = at;
    long long value = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
        value = value * 10 + (text[at] - '0');
        if (value > INT_MAX) return false;
        ++at;
    }
    if (at == start) return false;
    side = static_cast<int>(value);
    return true;
}

}  // namespace

bool parseFrameSize(const std::string& text, int& width, int& height, std::size_t& frameBytes,
                    std::string& error) {
    std::size_t at = 0;
    int w = 0;
    int h = 0;
    const bool shaped = readSide(text, at, w) && at < text.size() && (text[at] == 'x' || text[at] == 'X') &&
                        readSide(text, ++at, h) && at == text.size();
    if (!shaped) {
        error = "bad frame size '" + text + "': expected WIDTHxHEIGHT, two whole numbers such as 1920x1080";
        return false;
    }
    if (w == 0 || h == 0) {
        error = "bad frame size '" + text + "': width and height must be at least 1";
        return false;
    }
    const std::uint64_t pixels = static_cast<std::uint64_t>(w) * static_cast<std::uint64_t>(h);
    if (pixels > UINT32_MAX || pixels > std::numeric_limits<std::size_t>::max() / 4) {
        error = "bad frame size '" + text + "': " + std::to_string(pixels) + " pixels is too many for one frame";
        return false;
    }
    width = w;
    height = h;
    frameBytes = static_cast<std::size_t>(pixels) * 4;
    return true;
}

RawRead readRawFrame(std::FILE* in, unsigned char* bytes, std::size_t size, std::size_t& got) {
    got = 0;
    while (got < size) {
        const std::size_t n = std::fread(bytes + got, 1, size - got, in);
        got += n;
        if (n == 0) {
            if (std::ferror(in)) return RawRead::failed;
            break;
        }
    }
    if (got == size) return RawRead::frame;
    return got == 0 ? RawRead::end : RawRead::shortFrame;
}

bool writeRawFrame(std::FILE* out, const unsigned char* bytes, std::size_t size) {
    return std::fwrite(bytes, 1, size, out) == size;
}

}  // namespace pelx04run
