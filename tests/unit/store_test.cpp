// The picture store and the blend: golden words, pairing by position, and the
// refusals that keep both passes inside the store.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "store/picture_blend.hpp"
#include "store/picture_keep.hpp"
#include "store/picture_store.hpp"

namespace pelx04 {
namespace {

constexpr std::uint32_t argb(int a, int r, int g, int b) { return packWord(a, r, g, b); }

std::vector<unsigned char> bytesOf(const std::vector<std::uint32_t>& words) {
    std::vector<unsigned char> bytes(words.size() * 4);
    for (std::uint32_t i = 0; i < words.size(); ++i) storeWord(bytes.data(), i, words[i]);
    return bytes;
}

std::vector<std::uint32_t> wordsOf(const std::vector<unsigned char>& bytes) {
    std::vector<std::uint32_t> words(bytes.size() / 4);
    for (std::uint32_t i = 0; i < words.size(); ++i) words[i] = loadWord(bytes.data(), i);
    return words;
}

std::vector<std::uint32_t> storeHead(std::uint32_t n) { return {pictureStore, pictureStore + n}; }

TEST(PictureKeep, CopiesEveryWordAndKeepsTheTail) {
    std::fill(std::begin(pictureStore), std::end(pictureStore), 0u);
    const std::vector<std::uint32_t> six{argb(255, 1, 2, 3), argb(0, 4, 5, 6), 7, 8, argb(9, 9, 9, 9), 10};
    const std::vector<std::uint32_t> four{argb(1, 1, 1, 1), argb(2, 2, 2, 2), 0, argb(0, 255, 255, 255)};
    auto bytes = bytesOf(six);
    applyPictureKeep(bytes.data(), 6);
    EXPECT_EQ(storeHead(6), six);
    EXPECT_EQ(wordsOf(bytes), six);  // only read
    bytes = bytesOf(four);
    applyPictureKeep(bytes.data(), 4);
    EXPECT_EQ(storeHead(7), (std::vector<std::uint32_t>{four[0], four[1], four[2], four[3], six[4], six[5], 0}));
}

TEST(PictureKeep, RefusesMoreThanTheStoreHolds) {
    std::fill(std::begin(pictureStore), std::end(pictureStore), 0x01020304u);
    std::vector<unsigned char> frame(std::size_t{pictureStoreSize + 1} * 4, 0xEE);
    applyPictureKeep(frame.data(), pictureStoreSize + 1);
    EXPECT_EQ(std::count(std::begin(pictureStore), std::end(pictureStore), 0x01020304u),
              std::ptrdiff_t{pictureStoreSize});
    applyPictureKeep(frame.data(), pictureStoreSize);
    EXPECT_EQ(std::count(std::begin(pictureStore), std::end(pictureStore), 0xEEEEEEEEu),
              std::ptrdiff_t{pictureStoreSize});
}

TEST(PictureBlend, GoldenWords) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        const char* name;
        double ratio;
        std::uint32_t current, stored, out;
    } cases[] = {
        {"same picture, ratio 0.3", 0.3, argb(200, 1, 128, 255), argb(200, 1, 128, 255), argb(200, 1, 128, 255)},
        {"ratio 1 keeps the frame", 1.0, argb(200, 1, 128, 255), argb(9, 50, 60, 70), argb(200, 1, 128, 255)},
        {"ratio 0 takes the store", 0.0, argb(200, 1, 128, 255), argb(9, 50, 60, 70), argb(9, 50, 60, 70)},
        {"half of white and zero rounds up", 0.5, argb(255, 255, 255, 255), 0, argb(128, 128, 128, 128)},
        {"quarter over opaque store", 0.25, argb(0, 100, 200, 40), argb(255, 20, 40, 240),
         argb(191, 40, 80, 190)},
        {"opaque over transparent store fades", 0.25, argb(255, 100, 200, 40), argb(0, 20, 40, 240),
         argb(64, 40, 80, 190)},
        {"two transparent pixels kept", 0.25, argb(0, 100, 200, 40), argb(0, 20, 40, 240),
         argb(0, 100, 200, 40)},
        {"two transparent pixels kept, ratio 0", 0.0, argb(0, 1, 2, 3), argb(0, 20, 40, 240), argb(0, 1, 2, 3)},
        {"missing ratio copies the store", 0.0, argb(1, 1, 2, 3), argb(0, 20, 40, 240), argb(0, 20, 40, 240)},
        {"ratio 2 clamps each channel", 2.0, argb(200, 200, 10, 0), argb(0, 0, 100, 255), argb(255, 255, 0, 0)},
        {"ratio -1 clamps each channel", -1.0, argb(255, 10, 200, 0), argb(100, 200, 10, 255),
         argb(0, 255, 0, 255)},
        {"huge ratio", 1e300, argb(255, 0, 1, 0), argb(0, 0, 0, 0), argb(255, 0, 255, 0)},
        {"NaN ratio leaves the pixel", nan, argb(255, 1, 2, 3), argb(9, 50, 60, 70), argb(255, 1, 2, 3)},
    };
    for (const auto& c : cases) {
        pictureStore[0] = c.stored;
        auto bytes = bytesOf({c.current});
        applyPictureBlend(bytes.data(), 1, pictureBlendParams(c.ratio));
        EXPECT_EQ(loadWord(bytes.data(), 0), c.out) << c.name;
        EXPECT_EQ(pictureStore[0], c.stored) << c.name << ": the store is only read";
    }
}

TEST(PictureBlend, RefusesMoreThanTheStoreHolds) {
    std::fill(std::begin(pictureStore), std::end(pictureStore), 0u);
    std::vector<unsigned char> frame(std::size_t{pictureStoreSize + 1} * 4, 0xFF);
    applyPictureBlend(frame.data(), pictureStoreSize + 1, pictureBlendParams(0.0));
    EXPECT_EQ(std::count(frame.begin(), frame.end(), 0xFF), static_cast<std::ptrdiff_t>(frame.size()));
    applyPictureBlend(frame.data(), pictureStoreSize, pictureBlendParams(0.0));
    EXPECT_EQ(loadWord(frame.data(), pictureStoreSize - 1), 0u);
    EXPECT_EQ(loadWord(frame.data(), pictureStoreSize), 0xFFFFFFFFu);
}

}  // namespace
}  // namespace pelx04
