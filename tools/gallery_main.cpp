// pelx04-gallery: lays out images made by the runner as labelled tiles on one
// sheet, for the README. Each image is shrunk by box averaging and laid over a
// checkerboard so that partial and zero alpha show.
//
//   pelx04-gallery OUTPUT COLUMNS TILE_WIDTH TITLE IMAGE LABEL [IMAGE LABEL...]
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include <stb_easy_font.h>

#include "frame.hpp"
#include "media_input.hpp"
#include "output_file.hpp"
#include "png_encode.hpp"

namespace {

constexpr int margin = 12;
constexpr int labelHeight = 26;
constexpr int titleHeight = 40;
constexpr int checkerSize = 8;
constexpr unsigned char background = 32;

struct Sheet {
    int width;
    int height;
    std::vector<unsigned char> rgb;

    void fill(int x0, int y0, int x1, int y1, unsigned char value) {
        x0 = std::max(x0, 0);
        y0 = std::max(y0, 0);
        x1 = std::min(x1, width);
        y1 = std::min(y1, height);
        for (int y = y0; y < y1; ++y) {
            for (int x = x0; x < x1; ++x) {
                unsigned char* p = &rgb[(static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                                         static_cast<std::size_t>(x)) * 3];
                p[0] = p[1] = p[2] = value;
            }
        }
    }
};

// stb_easy_font gives quads for the strokes of each glyph; they are axis
// aligned rectangles, so filling each one draws the text.
void drawText(Sheet& sheet, int x, int y, int scale, const std::string& text, unsigned char value) {
    std::vector<char> copy(text.begin(), text.end());
    copy.push_back('\0');
    static float vertices[4 * 4 * 4 * 600];
    const int quads = stb_easy_font_print(0, 0, copy.data(), nullptr, vertices, sizeof vertices);
    for (int q = 0; q < quads; ++q) {
        const float* v = vertices + q * 16;
        const int x0 = x + static_cast<int>(v[0] * static_cast<float>(scale));
        const int y0 = y + static_cast<int>(v[1] * static_cast<float>(scale));
        const int x1 = x + static_cast<int>(v[8] * static_cast<float>(scale));
        const int y1 = y + static_cast<int>(v[9] * static_cast<float>(scale));
        sheet.fill(x0, y0, x1, y1, value);
    }
}

int textWidth(const std::string& text, int scale) {
    std::vector<char> copy(text.begin(), text.end());
    copy.push_back('\0');
    return stb_easy_font_width(copy.data()) * scale;
}

// Box-averages the RGBA image into a tile of tileWidth x tileHeight with
// premultiplied alpha, then lays it over a checkerboard.
void drawTile(Sheet& sheet, int left, int top, int tileWidth, int tileHeight, const unsigned char* bgra, int width,
              int height) {
    for (int ty = 0; ty < tileHeight; ++ty) {
        const int sy0 = ty * height / tileHeight;
        const int sy1 = std::max(sy0 + 1, (ty + 1) * height / tileHeight);
        for (int tx = 0; tx < tileWidth; ++tx) {
            const int sx0 = tx * width / tileWidth;
            const int sx1 = std::max(sx0 + 1, (tx + 1) * width / tileWidth);
            double sum[3] = {0, 0, 0};
            double alpha = 0;
            for (int sy = sy0; sy < sy1; ++sy) {
                for (int sx = sx0; sx < sx1; ++sx) {
                    const unsigned char* p = bgra + (static_cast<std::size_t>(sy) * static_cast<std::size_t>(width) +
                                                     static_cast<std::size_t>(sx)) * 4;
                    const double a = p[3] / 255.0;
                    for (int c = 0; c < 3; ++c) sum[c] += p[2 - c] * a;  // R, G, B from B, G, R, A
                    alpha += a;
                }
            }
            const double n = static_cast<double>((sy1 - sy0) * (sx1 - sx0));
            const bool light = ((tx / checkerSize) + (ty / checkerSize)) % 2 == 0;
            const double checker = light ? 204.0 : 140.0;
            unsigned char* out = &sheet.rgb[(static_cast<std::size_t>(top + ty) * static_cast<std::size_t>(sheet.width) +
                                             static_cast<std::size_t>(left + tx)) * 3];
            for (int c = 0; c < 3; ++c) {
                const double value = sum[c] / n + (1.0 - alpha / n) * checker;
                out[c] = static_cast<unsigned char>(std::clamp(value + 0.5, 0.0, 255.0));
            }
        }
    }
}

// The sheet goes to OUTPUT as the runner's outputs do: under a temporary name
// in OUTPUT's folder, renamed into place only when whole.
bool writeWhole(const std::string& path, const std::vector<unsigned char>& bytes, std::string& error) {
    std::error_code ignored;
    const std::filesystem::path target(path);
    if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), ignored);
    pelx04run::OutputFile file;
    if (!file.open(path, error)) return false;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(file.fd(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = "cannot write '" + path + "': " + std::strerror(errno);
            file.abandon();
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return file.commit(error);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 7 || (argc - 5) % 2 != 0) {
        std::fputs("usage: pelx04-gallery OUTPUT COLUMNS TILE_WIDTH TITLE IMAGE LABEL [IMAGE LABEL...]\n", stderr);
        return 2;
    }
    const std::string output = argv[1];
    const int columns = std::atoi(argv[2]);
    const int tileWidth = std::atoi(argv[3]);
    const std::string title = argv[4];
    if (columns < 1 || tileWidth < 16) {
        std::fputs("pelx04-gallery: bad COLUMNS or TILE_WIDTH\n", stderr);
        return 2;
    }

    struct Image {
        std::string label;
        int width;
        int height;
        std::vector<std::uint32_t> bgra;
    };
    std::vector<Image> images;
    for (int i = 5; i + 1 < argc; i += 2) {
        // Tiles are read the way the runner reads any image: FFmpeg's decoders
        // behind the runner's limits.
        pelx04run::MediaInput input;
        pelx04image::Frame tile;
        std::string error;
        AVPacket* ignored = av_packet_alloc();
        const bool read = ignored != nullptr && input.openFile(argv[i], pelx04run::InputLimits{}, error) &&
                          pelx04image::resizeFrame(tile, input.video().width, input.video().height) &&
                          input.next(*ignored, error) == pelx04run::MediaInput::Next::frame &&
                          input.convertFrame(tile.bytes(), error);
        av_packet_free(&ignored);
        if (!read) {
            std::fprintf(stderr, "pelx04-gallery: cannot read '%s': %s\n", argv[i], error.c_str());
            return 1;
        }
        images.push_back({argv[i + 1], tile.width, tile.height, std::move(tile.words)});
    }

    const int tileHeight = images[0].height * tileWidth / images[0].width;
    const int count = static_cast<int>(images.size());
    const int rows = (count + columns - 1) / columns;
    Sheet sheet;
    sheet.width = margin + columns * (tileWidth + margin);
    sheet.height = titleHeight + rows * (labelHeight + tileHeight + margin) + margin;
    sheet.rgb.assign(static_cast<std::size_t>(sheet.width) * static_cast<std::size_t>(sheet.height) * 3, background);

    drawText(sheet, margin, 12, 2, title, 235);
    for (int i = 0; i < count; ++i) {
        const Image& image = images[static_cast<std::size_t>(i)];
        const int left = margin + (i % columns) * (tileWidth + margin);
        const int top = titleHeight + (i / columns) * (labelHeight + tileHeight + margin);
        std::string label = image.label;
        while (label.size() > 1 && textWidth(label, 2) > tileWidth) label.pop_back();
        drawText(sheet, left, top + 6, 2, label, 225);
        drawTile(sheet, left, top + labelHeight, tileWidth, tileHeight, reinterpret_cast<const unsigned char*>(image.bgra.data()), image.width,
                 image.height);
    }

    std::string error;
    std::vector<unsigned char> png;
    if (!pelx04image::encodePng(sheet.width, sheet.height, 3, sheet.rgb.data(), png)) {
        std::fprintf(stderr, "pelx04-gallery: cannot write '%s': PNG encoding failed\n", output.c_str());
        return 1;
    }
    if (!writeWhole(output, png, error)) {
        std::fprintf(stderr, "pelx04-gallery: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
