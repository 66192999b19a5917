// The functions the page's worker calls. One input picture (the test card, a
// decoded image or a video frame) is kept as pixel words; every run copies it
// into the frame at the end of memory and runs the script there, so a run
// always starts from the input and the result stays until the next run.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <emscripten.h>
#ifdef __wasm_simd128__
#include <wasm_simd128.h>
#endif
#include <stb_image.h>
#include <stb_image_write.h>

#include "frame_arena.hpp"
#include "image_io.hpp"
#include "script_state.hpp"
#include "test_card.hpp"

namespace {

// Run results the worker tells apart: a bad frame means memory past the frame
// was written, and the worker must be replaced.
enum RunStatus { runDone = 0, runScriptError = 1, runBadFrame = 2 };

constexpr std::size_t heapBytes = 352u << 20;

lua_State* state = nullptr;
const char* hostError = "";

std::uint32_t* input = nullptr;
int inputWidth = 0;
int inputHeight = 0;
unsigned char* result = nullptr;
int resultWidth = 0;
int resultHeight = 0;
unsigned char* png = nullptr;
int pngSize = 0;

bool sizeInput(int width, int height) {
    // In 64 bits: size_t has 32 here, and a header's 65536 x 65536 would wrap to 0.
    if (width <= 0 || height <= 0 ||
        static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) > pelx04web::maxFramePixels) {
        hostError = "the picture is larger than the page's limit of 8,388,608 pixels (4096 x 2048)";
        return false;
    }
    std::free(input);
    input = static_cast<std::uint32_t*>(std::malloc(static_cast<std::size_t>(width) * height * 4u));
    inputWidth = input != nullptr ? width : 0;
    inputHeight = input != nullptr ? height : 0;
    result = nullptr;
    if (input == nullptr) hostError = "out of memory for the picture";
    return input != nullptr;
}

// R, G, B, A bytes to the frame's B, G, R, A, and back (the same swap). In
// whole words, so that the vector engine's compiler makes one vector pass of
// it; from and to may be the same buffer.
void swapRedBlue(const unsigned char* from, unsigned char* to, std::size_t pixels) {
    for (std::size_t i = 0; i < pixels; ++i) {
        std::uint32_t word;
        std::memcpy(&word, from + i * 4u, 4);
        word = (word & 0xFF00FF00u) | ((word >> 16) & 0xFFu) | ((word & 0xFFu) << 16);
        std::memcpy(to + i * 4u, &word, 4);
    }
}

// One byte of the rounded mean of two, as WebAssembly's i8x16.avgr_u gives it.
std::uint32_t meanBytes(std::uint32_t a, std::uint32_t b) {
    return (a | b) - (((a ^ b) >> 1) & 0x7F7F7F7Fu);
}

// A picture halved in each direction for the page to show: each word the mean
// of its 2 x 2 block, each column pair's mean of the two rows' means (for the
// eye, not exact arithmetic: the vector and scalar engines give the same). A
// last odd column or row is left out. `from` and `to` may be the same.
void halve(const std::uint32_t* from, int width, int height, std::uint32_t* to) {
    const int outWidth = width / 2;
    for (int y = 0; y < height / 2; ++y) {
        const std::uint32_t* top = from + static_cast<std::size_t>(y) * 2u * width;
        const std::uint32_t* bottom = top + width;
        std::uint32_t* out = to + static_cast<std::size_t>(y) * outWidth;
        int x = 0;
#ifdef __wasm_simd128__
        for (; x + 4 <= outWidth; x += 4) {
            const v128_t left = wasm_u8x16_avgr(wasm_v128_load(top + 2 * x), wasm_v128_load(bottom + 2 * x));
            const v128_t right = wasm_u8x16_avgr(wasm_v128_load(top + 2 * x + 4), wasm_v128_load(bottom + 2 * x + 4));
            wasm_v128_store(out + x, wasm_u8x16_avgr(wasm_i32x4_shuffle(left, right, 0, 2, 4, 6),
                                                     wasm_i32x4_shuffle(left, right, 1, 3, 5, 7)));
        }
#endif
        for (; x < outWidth; ++x) {
            out[x] = meanBytes(meanBytes(top[2 * x], bottom[2 * x]), meanBytes(top[2 * x + 1], bottom[2 * x + 1]));
        }
    }
}

// Where pgRgbaOf leaves its copy; kept from call to call.
unsigned char* rgbaCopy = nullptr;
std::size_t rgbaCopyBytes = 0;

// stb hands the whole PNG over in one call; a failed copy leaves no PNG.
void keepPng(void* context, void* data, int size) {
    (void)context;
    std::free(png);
    png = size > 0 ? static_cast<unsigned char*>(std::malloc(static_cast<std::size_t>(size))) : nullptr;
    pngSize = png != nullptr ? size : 0;
    if (png != nullptr) std::memcpy(png, data, static_cast<std::size_t>(size));
}

}  // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE int pgStart() {
    if (state != nullptr) return 1;
    if (!pelx04web::claimFrameArena(heapBytes)) {
        hostError = "not enough memory for the frame arena";
        return 0;
    }
    state = pelx04web::openScriptState(hostError);
    return state != nullptr;
}

EMSCRIPTEN_KEEPALIVE const char* pgHostError() { return hostError; }

EMSCRIPTEN_KEEPALIVE int pgLoadTestCard() {
    pelx04run::Frame card;
    if (!pelx04run::makeTestCard(card) || !sizeInput(card.width, card.height)) return 0;
    std::memcpy(input, card.words.data(), card.pixelCount() * 4u);
    return 1;
}

// Decodes PNG, JPEG, BMP or TGA bytes with alpha kept.
EMSCRIPTEN_KEEPALIVE int pgLoadImage(const unsigned char* bytes, int size) {
    int width = 0, height = 0, components = 0;
    if (!stbi_info_from_memory(bytes, size, &width, &height, &components)) {
        static char reason[160];
        std::snprintf(reason, sizeof reason, "not an image the page can read (PNG, JPEG, BMP or TGA): %s",
                      stbi_failure_reason());
        hostError = reason;
        return 0;
    }
    if (!sizeInput(width, height)) return 0;
    unsigned char* rgba = stbi_load_from_memory(bytes, size, &width, &height, &components, 4);
    if (rgba == nullptr || width != inputWidth || height != inputHeight) {
        stbi_image_free(rgba);
        std::free(input);
        input = nullptr;
        inputWidth = inputHeight = 0;
        hostError = "the image could not be decoded";
        return 0;
    }
    swapRedBlue(rgba, reinterpret_cast<unsigned char*>(input), static_cast<std::size_t>(width) * height);
    stbi_image_free(rgba);
    return 1;
}

// For video frames: room for width x height words that the worker fills with
// B, G, R, A bytes itself. Null when too large.
EMSCRIPTEN_KEEPALIVE unsigned char* pgInputBuffer(int width, int height) {
    if (input == nullptr || width != inputWidth || height != inputHeight) {
        if (!sizeInput(width, height)) return nullptr;
    }
    result = nullptr;
    return reinterpret_cast<unsigned char*>(input);
}

// The worker's frame path: a video frame's R, G, B, A bytes, copied straight
// into pgInputBuffer, become B, G, R, A words in place.
EMSCRIPTEN_KEEPALIVE void pgInputFromRgba() {
    swapRedBlue(reinterpret_cast<unsigned char*>(input), reinterpret_cast<unsigned char*>(input),
                static_cast<std::size_t>(inputWidth) * inputHeight);
}

// The width x height words at `words` (the input or the result) as R, G, B,
// A bytes for the page to show, shrunk by `shrink` (1, 2 or 4), in a buffer
// the host keeps; null when out of memory or for another shrink.
EMSCRIPTEN_KEEPALIVE unsigned char* pgRgbaOf(const unsigned char* words, int width, int height, int shrink) {
    if (width <= 0 || height <= 0 || (shrink != 1 && shrink != 2 && shrink != 4)) return nullptr;
    const std::size_t bytes = static_cast<std::size_t>(width / shrink) * static_cast<std::size_t>(height / shrink) * 4u;
    // Halving twice halves in place, in the room of the first half.
    const int first = shrink == 1 ? 1 : 2;
    const std::size_t room = static_cast<std::size_t>(width / first) * static_cast<std::size_t>(height / first) * 4u;
    if (room > rgbaCopyBytes) {
        std::free(rgbaCopy);
        rgbaCopy = static_cast<unsigned char*>(std::malloc(room));
        rgbaCopyBytes = rgbaCopy != nullptr ? room : 0;
        if (rgbaCopy == nullptr) return nullptr;
    }
    const std::uint32_t* from = reinterpret_cast<const std::uint32_t*>(words);
    std::uint32_t* halved = reinterpret_cast<std::uint32_t*>(rgbaCopy);
    for (; shrink > 1; shrink /= 2, width /= 2, height /= 2) {
        halve(from, width, height, halved);
        from = halved;
    }
    swapRedBlue(reinterpret_cast<const unsigned char*>(from), rgbaCopy, bytes / 4u);
    return rgbaCopy;
}

EMSCRIPTEN_KEEPALIVE unsigned char* pgInput() { return reinterpret_cast<unsigned char*>(input); }
EMSCRIPTEN_KEEPALIVE int pgInputWidth() { return inputWidth; }
EMSCRIPTEN_KEEPALIVE int pgInputHeight() { return inputHeight; }
EMSCRIPTEN_KEEPALIVE unsigned char* pgResult() { return result; }

EMSCRIPTEN_KEEPALIVE int pgRun(const char* text, int size, double index, double time) {
    pelx04web::clearScriptOutput();
    result = nullptr;
    if (state == nullptr || input == nullptr || size < 0) {
        hostError = state == nullptr ? "the worker did not start" : "no picture loaded";
        return runScriptError;
    }
    const std::size_t pixels = static_cast<std::size_t>(inputWidth) * inputHeight;
    unsigned char* frame = pelx04web::placeFrame(pixels);
    std::memcpy(frame, input, pixels * 4u);
    const bool ran = pelx04web::runScriptOnFrame(state, text, static_cast<std::size_t>(size), frame, inputWidth,
                                                 inputHeight, index, time);
    if (!pelx04web::canaryIntact()) return runBadFrame;
    if (!ran) return runScriptError;
    result = frame;
    resultWidth = inputWidth;
    resultHeight = inputHeight;
    return runDone;
}

EMSCRIPTEN_KEEPALIVE const char* pgMessage() { return pelx04web::scriptMessage(); }
EMSCRIPTEN_KEEPALIVE const char* pgOutput() { return pelx04web::scriptOutput(); }

// The last result as an RGBA PNG, every word exact, alpha included.
EMSCRIPTEN_KEEPALIVE int pgEncodePng() {
    std::free(png);
    png = nullptr;
    pngSize = 0;
    if (result == nullptr) {
        hostError = "no result to save";
        return 0;
    }
    const std::size_t pixels = static_cast<std::size_t>(resultWidth) * resultHeight;
    unsigned char* rgba = static_cast<unsigned char*>(std::malloc(pixels * 4u));
    if (rgba == nullptr) {
        hostError = "out of memory for the PNG";
        return 0;
    }
    swapRedBlue(result, rgba, pixels);
    const int written = stbi_write_png_to_func(keepPng, nullptr, resultWidth, resultHeight, 4, rgba, resultWidth * 4);
    std::free(rgba);
    if (written == 0) {
        std::free(png);
        png = nullptr;
        pngSize = 0;
    }
    if (png == nullptr) hostError = "out of memory for the PNG";
    return png != nullptr;
}

EMSCRIPTEN_KEEPALIVE unsigned char* pgPng() { return png; }
EMSCRIPTEN_KEEPALIVE int pgPngSize() { return pngSize; }

}  // extern "C"
