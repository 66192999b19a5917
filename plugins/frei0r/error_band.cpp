#include "error_band.hpp"

#include <algorithm>
#include <cstring>

namespace pelx04frei0r {
namespace {

constexpr std::uint32_t opaqueRed = 0xFFFF0000u;  // A, R, G, B from the top byte down
constexpr std::uint32_t opaqueWhite = 0xFFFFFFFFu;

// What the band says, in a 5 x 7 font of just its letters: each row of a
// glyph is five bits, the leftmost the highest.
constexpr char bandText[] = "PELX04 ERROR - SEE STDERR";
constexpr int glyphWidth = 5;
constexpr int glyphHeight = 7;

struct Glyph {
    char letter;
    unsigned char rows[glyphHeight];
};

const Glyph glyphs[] = {
    {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}}, {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}},
    {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}}, {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}}, {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}}, {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'D', {0x1E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x1E}}, {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
};

const Glyph* glyphOf(char letter) {
    for (const Glyph& glyph : glyphs) {
        if (glyph.letter == letter) return &glyph;
    }
    return nullptr;  // a space
}

// The text in white, as large as the band allows with a glyph's height of
// margin, clipped at the frame's right edge.
void writeBandText(std::uint32_t* out, unsigned width, unsigned bandRows) {
    const unsigned scale = bandRows / (glyphHeight + 2);
    if (scale == 0) return;
    const std::size_t top = (bandRows - glyphHeight * scale) / 2;
    std::size_t left = scale * 2;
    for (const char* letter = bandText; *letter != '\0'; ++letter, left += (glyphWidth + 1) * scale) {
        const Glyph* glyph = glyphOf(*letter);
        if (glyph == nullptr) continue;
        for (std::size_t y = 0; y < glyphHeight * scale; ++y) {
            const unsigned bits = glyph->rows[y / scale];
            for (std::size_t x = 0; x < glyphWidth * scale && left + x < width; ++x) {
                if ((bits >> (glyphWidth - 1 - x / scale) & 1u) != 0) out[(top + y) * width + left + x] = opaqueWhite;
            }
        }
    }
}

}  // namespace

unsigned errorBandRows(unsigned height) { return height / 12 + (height % 12 != 0 ? 1 : 0); }

void copyWithErrorBand(const std::uint32_t* in, std::uint32_t* out, unsigned width, unsigned height) {
    const std::size_t pixels = static_cast<std::size_t>(width) * height;
    if (in != out) std::memmove(out, in, pixels * 4);
    const unsigned rows = errorBandRows(height);
    std::fill(out, out + static_cast<std::size_t>(width) * rows, opaqueRed);
    writeBandText(out, width, rows);
}

}  // namespace pelx04frei0r
