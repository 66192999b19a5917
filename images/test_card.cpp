#include "test_card.hpp"

#include <cmath>
#include <cstdint>

namespace pelx04image {
namespace {

std::uint32_t argb(int a, int r, int g, int b) {
    return static_cast<std::uint32_t>(a) << 24 | static_cast<std::uint32_t>(r) << 16 |
           static_cast<std::uint32_t>(g) << 8 | static_cast<std::uint32_t>(b);
}

int toChannel(double unit) {
    const double scaled = std::round(unit * 255.0);
    return scaled < 0.0 ? 0 : scaled > 255.0 ? 255 : static_cast<int>(scaled);
}

// Hue in degrees [0, 360), saturation and value in [0, 1]. The card only has
// to look right; it is not tied to the library's own conversion.
std::uint32_t hsvColour(double hue, double saturation, double value, int alpha) {
    const double sector = hue / 60.0;
    const int index = static_cast<int>(sector) % 6;
    const double fraction = sector - std::floor(sector);
    const double p = value * (1.0 - saturation);
    const double q = value * (1.0 - saturation * fraction);
    const double t = value * (1.0 - saturation * (1.0 - fraction));
    double r = value, g = t, b = p;
    switch (index) {
        case 1: r = q; g = value; b = p; break;
        case 2: r = p; g = value; b = t; break;
        case 3: r = p; g = q; b = value; break;
        case 4: r = t; g = p; b = value; break;
        case 5: r = value; g = p; b = q; break;
        default: break;
    }
    return argb(alpha, toChannel(r), toChannel(g), toChannel(b));
}

std::uint32_t bottomStrip(int x, int y, int width, int top) {
    const int quarter = width / 4;
    const int part = x / quarter;
    const int u = x - part * quarter;
    if (part == 0) {
        static const std::uint32_t bars[8] = {
            argb(255, 255, 255, 255), argb(255, 255, 255, 0), argb(255, 0, 255, 255), argb(255, 0, 255, 0),
            argb(255, 255, 0, 255),   argb(255, 255, 0, 0),   argb(255, 0, 0, 255),   argb(255, 0, 0, 0)};
        return bars[u * 8 / quarter];
    }
    const double across = static_cast<double>(u) / static_cast<double>(quarter - 1);
    if (part == 1) return hsvColour(360.0 * across * 0.999, 1.0, 1.0, toChannel(across));
    if (part == 2) {
        const bool odd = ((u / 45) + ((y - top) / 45)) % 2 != 0;
        return odd ? argb(0, 255, 128, 0) : argb(128, 40, 90, 230);
    }
    return hsvColour(360.0 * across * 0.999, 0.8, 0.9, 0);
}

}  // namespace

bool makeTestCard(Frame& frame) {
    const int width = testCardWidth;
    const int height = testCardHeight;
    if (!resizeFrame(frame, width, height)) return false;
    const int band = height / 4;
    const int greyBottom = height * 7 / 8;
    for (int y = 0; y < height; ++y) {
        std::uint32_t* row = frame.words.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
        for (int x = 0; x < width; ++x) {
            const double hue = 360.0 * static_cast<double>(x) / static_cast<double>(width);
            std::uint32_t word;
            if (y < band) {
                word = hsvColour(hue, 1.0, 1.0, 255);
            } else if (y < 2 * band) {
                const double down = static_cast<double>(y - band) / static_cast<double>(band - 1);
                word = hsvColour(hue, 1.0 - down, 1.0, 255);
            } else if (y < 3 * band) {
                const double down = static_cast<double>(y - 2 * band) / static_cast<double>(band - 1);
                word = hsvColour(hue, 1.0, 1.0 - down, 255);
            } else if (y < greyBottom) {
                const int grey = x * 256 / width;
                word = argb(255, grey, grey, grey);
            } else {
                word = bottomStrip(x, y, width, greyBottom);
            }
            // Stored through bytes so the layout is B, G, R, A on any host.
            unsigned char* bytes = reinterpret_cast<unsigned char*>(row + x);
            bytes[0] = static_cast<unsigned char>(word);
            bytes[1] = static_cast<unsigned char>(word >> 8);
            bytes[2] = static_cast<unsigned char>(word >> 16);
            bytes[3] = static_cast<unsigned char>(word >> 24);
        }
    }
    return true;
}

}  // namespace pelx04image
