// The media formats the runner reads and writes, by file extension. This one
// table is what the input's white lists, the output's muxers and default
// encoders, a batch's output names, the messages and --help are made from.
#pragma once

#include <string>

namespace pelx04run {

struct MediaFormat {
    const char* extension;  // lower case, without the dot
    const char* demuxer;    // FFmpeg's demuxer that reads it; nullptr: not read
    const char* muxer;      // FFmpeg's muxer for one file of it; nullptr: not written
    const char* encoder;    // the default video encoder; nullptr: the muxer's own
    int quality;            // the default encoder's crf; -1: the encoder's own default
    bool still;             // one picture to a file (a numbered name makes a sequence)
};

// Where a still goes without -o: out/<script name>.<this>.
constexpr const char* defaultStillExtension = "png";

// The extension of a path's last name, in lower case and without the dot; ""
// when it has none. A name that starts with its only dot (".mkv", a hidden
// file) has no extension, as std::filesystem and the shell see it.
std::string lowerExtension(const std::string& path);

// The format of a lower-case extension, or nullptr.
const MediaFormat* formatOf(const std::string& extension);
bool readsExtension(const std::string& extension);
bool writesContainer(const std::string& extension);

// The demuxers, comma-separated, for FFmpeg's format white list. A file
// opened by name may also be read by the image file demuxer (image2), which
// reads image sequences and images by their extension; a file in memory may not.
std::string demuxerWhitelist(bool byName);

// Whether this demuxer reads the still formats. The image file demuxer
// (image2) also reads numbered sequences, which are video.
bool readsStills(const char* demuxer);

// The crf an encoder gets when none is asked for; -1: its own default.
int defaultQuality(const char* encoder);

// ".mp4, .mkv, ... and .webp": the extensions written.
std::string writtenExtensions();
// "libx264 for mp4/mkv/mov, libvpx-vp9 for webm, png for images": --codec's default.
std::string defaultEncodersText();
// "18 for libx264, 31 for libvpx-vp9": --crf's default.
std::string defaultQualitiesText();
// The table for the end of --help, a line a format.
std::string formatsHelp();

}  // namespace pelx04run
