// Test helper for the frame runner's tests: makes a small image from pixel
// words and dumps a PNG's pixels as words, so the tests need neither the
// runner's own conversion code nor any other image program.
//
//   png_tool make OUT WIDTH HEIGHT AARRGGBB...   OUT ends in .png, .bmp, .tga or .jpg
//   png_tool dump IN.png        prints "WIDTH HEIGHT" and then one line of words per row
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <stb_image.h>
#include <stb_image_write.h>

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "make" && argc >= 5) {
        const int width = std::atoi(argv[3]);
        const int height = std::atoi(argv[4]);
        if (width < 1 || height < 1 || argc != 5 + width * height) {
            std::fputs("png_tool make: need WIDTH x HEIGHT words\n", stderr);
            return 2;
        }
        std::vector<unsigned char> rgba;
        for (int i = 5; i < argc; ++i) {
            const unsigned long word = std::strtoul(argv[i], nullptr, 16);
            rgba.push_back(static_cast<unsigned char>(word >> 16));
            rgba.push_back(static_cast<unsigned char>(word >> 8));
            rgba.push_back(static_cast<unsigned char>(word));
            rgba.push_back(static_cast<unsigned char>(word >> 24));
        }
        const std::string out = argv[2];
        const std::string type = out.size() > 4 ? out.substr(out.size() - 4) : "";
        int written = 0;
        if (type == ".bmp") {
            written = stbi_write_bmp(argv[2], width, height, 4, rgba.data());
        } else if (type == ".tga") {
            stbi_write_tga_with_rle = 0;
            written = stbi_write_tga(argv[2], width, height, 4, rgba.data());
        } else if (type == ".jpg") {
            written = stbi_write_jpg(argv[2], width, height, 4, rgba.data(), 100);
        } else {
            written = stbi_write_png(argv[2], width, height, 4, rgba.data(), width * 4);
        }
        return written ? 0 : 1;
    }
    if (command == "dump" && argc == 3) {
        int width = 0, height = 0, components = 0;
        unsigned char* rgba = stbi_load(argv[2], &width, &height, &components, 4);
        if (rgba == nullptr) {
            std::fprintf(stderr, "png_tool dump: %s\n", stbi_failure_reason());
            return 1;
        }
        std::printf("%d %d\n", width, height);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const unsigned char* p = rgba + 4 * (y * width + x);
                std::printf("%s%02X%02X%02X%02X", x ? " " : "", p[3], p[0], p[1], p[2]);
            }
            std::printf("\n");
        }
        stbi_image_free(rgba);
        return 0;
    }
    std::fputs("usage: png_tool make OUT WIDTH HEIGHT AARRGGBB... | png_tool dump IN.png\n", stderr);
    return 2;
}
