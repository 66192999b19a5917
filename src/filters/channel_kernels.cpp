#include "filters/channel_kernels.hpp"

namespace pelx04 {

std::uint32_t tablesPortable(unsigned char* pixels, std::uint32_t count, const WordTables& t) {
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t word = loadWord(pixels, i);
        if (isTransparent(word)) continue;
        storeWord(pixels, i,
                  t.fromBlue[word & 0xFFu] | t.fromGreen[(word >> 8) & 0xFFu] | t.fromRed[(word >> 16) & 0xFFu] |
                      t.fromAlpha[word >> 24]);
    }
    return count;
}

namespace {

// The channels of `mapped` (bit 0 B, 1 G, 2 R) looked up in place, byte by
// byte: a channel that keeps its values costs nothing.
template <int mapped>
std::uint32_t channelBytesPass(unsigned char* pixels, std::uint32_t count, const std::uint8_t (&table)[3][256]) {
    for (std::uint32_t i = 0; i < count; ++i) {
        unsigned char* p = pixels + std::size_t{i} * 4u;
        if (p[3] == 0) continue;
        if (mapped & 1) p[0] = table[0][p[0]];
        if (mapped & 2) p[1] = table[1][p[1]];
        if (mapped & 4) p[2] = table[2][p[2]];
    }
    return count;
}

}  // namespace

std::uint32_t channelTablesPortable(unsigned char* pixels, std::uint32_t count, const WordTables& t) {
    std::uint8_t table[3][256];
    const std::uint32_t* from[3] = {t.fromBlue, t.fromGreen, t.fromRed};
    bool inPlace = true;
    int mapped = 0;
    for (std::uint32_t v = 0; v < 256; ++v) {
        for (int c = 0; c < 3; ++c) {
            const std::uint32_t byte = (from[c][v] >> (8 * c)) & 0xFFu;
            inPlace = inPlace && from[c][v] == byte << (8 * c);
            table[c][v] = static_cast<std::uint8_t>(byte);
            if (byte != v) mapped |= 1 << c;
        }
        inPlace = inPlace && (v == 0 || t.fromAlpha[v] == v << 24);
    }
    if (!inPlace) return tablesPortable(pixels, count, t);
    switch (mapped) {
        case 0: return count;
        case 1: return channelBytesPass<1>(pixels, count, table);
        case 2: return channelBytesPass<2>(pixels, count, table);
        case 3: return channelBytesPass<3>(pixels, count, table);
        case 4: return channelBytesPass<4>(pixels, count, table);
        case 5: return channelBytesPass<5>(pixels, count, table);
        case 6: return channelBytesPass<6>(pixels, count, table);
        default: return channelBytesPass<7>(pixels, count, table);
    }
}

namespace {

inline std::uint32_t saturateByte(std::uint32_t v, std::uint8_t add, std::uint8_t sub) {
    v += add;
    v = v > 255 ? 255 : v;
    return v < sub ? 0 : v - sub;
}

}  // namespace

std::uint32_t offsetPortable(unsigned char* pixels, std::uint32_t count, const ByteOffsets& o) {
    WordTables t;
    for (std::uint32_t v = 0; v < 256; ++v) {
        t.fromBlue[v] = saturateByte(v, o.add[0], o.sub[0]);
        t.fromGreen[v] = saturateByte(v, o.add[1], o.sub[1]) << 8;
        t.fromRed[v] = saturateByte(v, o.add[2], o.sub[2]) << 16;
        t.fromAlpha[v] = saturateByte(v, o.add[3], o.sub[3]) << 24;
    }
    return tablesPortable(pixels, count, t);
}

std::uint32_t swapPortable(unsigned char* pixels, std::uint32_t count, const SwapKernel& k) {
    WordTables t;
    std::uint32_t* from[3] = {t.fromBlue, t.fromGreen, t.fromRed};
    for (std::uint32_t v = 0; v < 256; ++v) {
        for (std::uint32_t* table : from) table[v] = 0;
        for (int out = 0; out < 3; ++out) {
            const int source = k.sourceOf[out];
            if (source < 3) from[source][v] |= saturateByte(v, k.offsets.add[source], k.offsets.sub[source]) << (8 * out);
        }
        t.fromAlpha[v] = v << 24;
    }
    return tablesPortable(pixels, count, t);
}

std::uint32_t bandPortable(unsigned char* pixels, std::uint32_t count, const BandKernel& k) {
    WordTables t;
    std::uint32_t* into[4] = {t.fromBlue, t.fromGreen, t.fromRed, t.fromAlpha};
    for (int byte = 0; byte < 4; ++byte) {
        for (std::uint32_t v = 0; v < 256; ++v) {
            const std::uint32_t band = ((v * k.magic[byte]) >> 16) | (v & k.keep[byte]);
            const std::uint32_t value = band * k.mult[byte];
            into[byte][v] = (value > 255 ? 255 : value) << (8 * byte);
        }
    }
    return tablesPortable(pixels, count, t);
}

namespace {

// The weighted sums of modes 5 and 6, left to right, as the literal rule forms them.
inline std::int32_t lumaValue(int r, int g, int b, std::int32_t mode) {
    if (mode == 5) return roundNonNegative((0.2126 * r + 0.7152 * g) + 0.0722 * b);
    return roundNonNegative((0.299 * r + 0.587 * g) + 0.114 * b);
}

template <int Mode>
inline std::int32_t greyBase(std::uint32_t word) {
    const int r = channelR(word), g = channelG(word), b = channelB(word);
    switch (Mode) {
        case 1: return r;
        case 2: return g;
        case 3: return b;
        case 4: return (r + g + b) / 3;
        case 5:
        case 6: return lumaValue(r, g, b, Mode);
        case 7: return r > g ? (r > b ? r : b) : (g > b ? g : b);
        default: return r < g ? (r < b ? r : b) : (g < b ? g : b);
    }
}

template <int Mode>
std::uint32_t greyPass(unsigned char* pixels, std::uint32_t count, const std::uint32_t finish[256]) {
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t word = loadWord(pixels, i);
        if (isTransparent(word)) continue;
        storeWord(pixels, i, (word & 0xFF000000u) | finish[greyBase<Mode>(word) & 0xFF]);
    }
    return count;
}

}  // namespace

std::uint32_t greyPortable(unsigned char* pixels, std::uint32_t count, const GreyKernel& k) {
    // The offset and inversion act on a value in 0..255: one table for them.
    std::uint32_t finish[256];
    for (int t = 0; t < 256; ++t) {
        int v = t + k.add;
        v = v > 255 ? 255 : v;
        v = v - k.sub < 0 ? 0 : v - k.sub;
        v ^= k.flip;
        finish[t] = static_cast<std::uint32_t>(v) * 0x010101u;
    }
    switch (k.mode) {
        case 1: return greyPass<1>(pixels, count, finish);
        case 2: return greyPass<2>(pixels, count, finish);
        case 3: return greyPass<3>(pixels, count, finish);
        case 4: return greyPass<4>(pixels, count, finish);
        case 5: return greyPass<5>(pixels, count, finish);
        case 6: return greyPass<6>(pixels, count, finish);
        case 7: return greyPass<7>(pixels, count, finish);
        default: return greyPass<8>(pixels, count, finish);
    }
}

std::uint32_t greyStepsPortable(unsigned char* pixels, std::uint32_t count, const GreySteps& t) {
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t word = loadWord(pixels, i);
        if (isTransparent(word)) continue;
        storeWord(pixels, i, (word & 0xFF000000u) | t.rgb[channelR(word) + channelG(word) + channelB(word)]);
    }
    return count;
}

std::uint32_t sumTablePortable(unsigned char* pixels, std::uint32_t count, const SumTable& t) {
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t word = loadWord(pixels, i);
        if (isTransparent(word)) continue;
        storeWord(pixels, i, (word & t.keep) | t.bits[channelR(word) + channelG(word) + channelB(word)]);
    }
    return count;
}

}  // namespace pelx04
