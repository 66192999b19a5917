// Raw BGRA frames on a byte stream, as ffmpeg's rawvideo with pix_fmt bgra
// reads and writes them: width x height x 4 bytes per frame, no header.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace pelx04run {

// Parses "WIDTHxHEIGHT" (decimal, both at least 1). Refuses signs, blanks,
// other separators, and sizes whose pixel count passes 32 bits (the library
// counts pixels in 32 bits) or whose byte count passes size_t.
bool parseFrameSize(const std::string& text, int& width, int& height, std::size_t& frameBytes,
                    std::string& error);

enum class RawRead { frame, end, shortFrame, failed };

// Reads exactly `size` bytes. `end` when the stream ends before the first
// byte; `shortFrame` when it ends inside the frame (`got` says where).
RawRead readRawFrame(std::FILE* in, unsigned char* bytes, std::size_t size, std::size_t& got);

bool writeRawFrame(std::FILE* out, const unsigned char* bytes, std::size_t size);

}  // namespace pelx04run
