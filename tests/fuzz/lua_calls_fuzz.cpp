// libFuzzer target: calls the module's functions through a real Lua state with
// argument lists the fuzzer picks, and fails on any Lua error or broken return
// convention. Every buffer is allocated to exactly the size chosen, so that
// AddressSanitizer sees the first byte past it.
//
// Input format (bytes past the end read as 0):
//   byte 0        function, by position in the library table (modulo 17)
//   byte 1        argument count (modulo 12)
//   byte 2        the fastest kernels allowed: portable, SSE2, AVX2 (modulo 3),
//                 so that every fast path meets the same inputs as the reference
//   then one argument after another: a kind byte, then the kind's own bytes
//   (see pushArgument). The "frame" kind pushes three arguments at once: a
//   buffer and a width and height that fit it.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include <lua.hpp>

#include "core/cpu_features.hpp"

extern "C" int luaopen_pelx04(lua_State* L);

namespace {

const char* const functionNames[] = {
    "daytime",      "mirtRGB",      "mirtCVSave",       "mirtToneCurve", "mirtToneCurveHSV", "mirtHSV",
    "mirtHistgram", "mirtYPbPr",    "mirtGradation256", "mirtMixPict0",  "mirtMixPict1",     "mirtheitan",
    "mirtRGB2GRA",  "mirtRGB2CONV", "mirtGanma",        "mirtHsvHeitan", "mirtOgtoHsv",
};
constexpr int functionCount = 17;
constexpr int maxArguments = 12;
constexpr int maxPushed = maxArguments + 2;  // a frame may pass the count by two

constexpr double inf = std::numeric_limits<double>::infinity();
// clang-format off
const double hostileNumbers[] = {
    std::numeric_limits<double>::quiet_NaN(), inf, -inf, 0.0, -0.0, 0.5, -0.5, 1.0, -1.0, 2.9, -2.9,
    2147483647.0, 2147483648.0, -2147483648.0, -2147483649.0, 9223372036854775808.0, -9223372036854775808.0,
    4294967295.0, 4294967296.0, 4294967297.0, 65536.0, 65537.0, 1e300, -1e300, 1e-300,
    255.0, 256.0, -255.0, 359.0, 360.0, -360.0, 720.5, 2073600.0, 2073601.0, 1920.0, 1080.0,
    0.00392156862, 1e9, -1e9, 8421505.0, 2147483392.0, -2147483393.0,
};
// clang-format on
const char* const numericStrings[] = {"12", "0x10", "nan", "inf", "-inf", "1e300", " 3 ", "-1", "2073601", "", "abc"};

// Buffers other than frames hold opaque words (0xC3C3C3C3), so that a pass
// that runs over them writes as well as reads.
constexpr int opaqueFill = 0xC3;

// The picture store holds this many pixels; blocks just above it test the
// store's refusal.
constexpr std::size_t storePixels = 1920u * 1080u;

class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    bool exhausted() const { return pos_ >= size_; }
    // Little-endian; each read is its own statement, as the order of operands
    // is unspecified.
    std::uint32_t u16() {
        const std::uint32_t low = byte();
        return low | static_cast<std::uint32_t>(byte()) << 8;
    }
    std::uint32_t u32() {
        const std::uint32_t low = u16();
        return low | u16() << 16;
    }
    double rawDouble() {
        const std::uint64_t low = u32();
        const std::uint64_t bits = low | static_cast<std::uint64_t>(u32()) << 32;
        double d;
        std::memcpy(&d, &bits, sizeof d);
        return d;
    }
    void fill(unsigned char* out, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) out[i] = byte();
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// Light userdata blocks live until the call is over.
struct LightBlocks {
    void* blocks[maxPushed] = {};
    int count = 0;
    ~LightBlocks() {
        for (int i = 0; i < count; ++i) std::free(blocks[i]);
    }
    unsigned char* make(std::size_t bytes) {
        auto* p = static_cast<unsigned char*>(std::malloc(bytes == 0 ? 1 : bytes));
        if (p == nullptr) std::abort();
        blocks[count++] = p;
        return p;
    }
};

std::size_t blockBytes(Reader& in) {
    switch (in.byte() % 8) {
        case 0: return 0;
        case 1: return in.byte() % 4;   // less than one pixel
        case 2: return in.byte() * 4u;  // whole pixels
        case 3: return in.u16();        // any size
        case 4: {
            const std::size_t words = in.u16() % 4096u;
            return words * 4u + in.byte() % 4u;  // whole pixels and a few bytes
        }
        case 5: return storePixels * 4u + (in.byte() % 2u) * 4u;  // the store, and one pixel more
        default: return in.byte() % 64u * 4u;
    }
}

// A metatable whose every entry raises: a function that reached for a
// metamethod would turn it into a Lua error.
int raiseError(lua_State* L) { return luaL_error(L, "metamethod reached"); }
void setHostileMetatable(lua_State* L) {
    // No __gc: collection must not raise.
    static const char* const events[] = {"__index", "__newindex", "__len",    "__call", "__tostring", "__eq",
                                         "__lt",    "__le",       "__concat", "__add",  "__unm"};
    lua_newtable(L);
    for (const char* event : events) {
        lua_pushcfunction(L, raiseError);
        lua_setfield(L, -2, event);
    }
    lua_setmetatable(L, -2);
}

// Pushes one argument (or three, for a frame) and returns how many it pushed.
int pushArgument(lua_State* L, Reader& in, LightBlocks& light, bool& lightFirst, std::size_t& lightBytes,
                 int position) {
    switch (in.byte() % 15) {
        case 0: lua_pushnil(L); return 1;
        case 1: lua_pushboolean(L, in.byte() & 1); return 1;
        case 2:
            lua_pushnumber(L, hostileNumbers[in.byte() % (sizeof hostileNumbers / sizeof *hostileNumbers)]);
            return 1;
        case 3: lua_pushnumber(L, static_cast<std::int8_t>(in.byte())); return 1;
        case 4: lua_pushnumber(L, static_cast<std::int32_t>(in.u32())); return 1;
        case 5: lua_pushnumber(L, in.rawDouble()); return 1;
        case 6: lua_pushnumber(L, static_cast<double>(static_cast<std::int16_t>(in.u16())) / 16.0); return 1;
        case 7: {
            char text[32];
            const std::size_t n = in.byte() % sizeof text;
            in.fill(reinterpret_cast<unsigned char*>(text), n);
            lua_pushlstring(L, text, n);
            return 1;
        }
        case 8:
            lua_pushstring(L, numericStrings[in.byte() % (sizeof numericStrings / sizeof *numericStrings)]);
            return 1;
        case 9:
            lua_newtable(L);
            if (in.byte() & 1) {
                lua_pushnumber(L, 7);
                lua_rawseti(L, -2, 1);
                setHostileMetatable(L);
            }
            return 1;
        case 10: lua_pushcfunction(L, raiseError); return 1;
        case 11: {
            const std::size_t bytes = blockBytes(in);
            const bool hostile = in.byte() & 1;
            std::memset(lua_newuserdata(L, bytes), opaqueFill, bytes);
            if (hostile) setHostileMetatable(L);
            return 1;
        }
        case 12: {
            if (in.byte() % 8 == 0) {
                lua_pushlightuserdata(L, nullptr);
                return 1;
            }
            const std::size_t bytes = blockBytes(in);
            unsigned char* p = light.make(bytes);
            std::memset(p, opaqueFill, bytes);
            lua_pushlightuserdata(L, p);
            if (position == 1) {
                lightFirst = true;
                lightBytes = bytes;
            }
            return 1;
        }
        case 13: {
            // A frame the filters really work on: buffer, width, height.
            const std::uint32_t width = in.byte() % 48u, height = in.byte() % 48u;
            const std::size_t bytes = std::size_t{width} * height * 4u;
            unsigned char* p;
            if (in.byte() & 1) {
                p = light.make(bytes);
                lua_pushlightuserdata(L, p);
            } else {
                p = static_cast<unsigned char*>(lua_newuserdata(L, bytes));
            }
            // Mostly opaque words with transparent ones mixed in; once the input
            // runs out, a fixed pattern of the same kind.
            std::uint32_t pattern = 0x9E3779B9u;
            for (std::size_t i = 0; i < bytes; i += 4) {
                std::uint32_t word;
                if (in.exhausted()) {
                    pattern = pattern * 1664525u + 1013904223u;
                    word = pattern;
                } else {
                    word = in.u32();
                }
                if (word >> 24 < 32) word &= 0x00FFFFFFu;
                std::memcpy(p + i, &word, 4);
            }
            const double fraction = (in.byte() % 4) * 0.25;
            lua_pushnumber(L, width + fraction);
            lua_pushnumber(L, height + fraction);
            return 3;
        }
        default: lua_pushstring(L, ""); return 1;
    }
}

// A light userdata cannot be checked: the caller promises that width × height
// words lie behind it. Keep that promise for any width and height the module
// would accept, and pass the others through, which it must refuse.
void keepLightPromise(lua_State* L, int base, int argCount, std::size_t lightBytes) {
    const double w = argCount >= 2 ? lua_tonumber(L, base + 2) : 0.0;
    const double h = argCount >= 3 ? lua_tonumber(L, base + 3) : 0.0;
    double width = w, height = h;
    const bool accepted = std::isfinite(w) && std::isfinite(h) && w > -1.0 && h > -1.0 && w < 4294967296.0 &&
                          h < 4294967296.0 && std::trunc(w) * std::trunc(h) <= 4294967295.0;
    if (accepted) {
        const double pixels = static_cast<double>(lightBytes / 4u);
        const double tw = std::trunc(w);
        if (tw * std::trunc(h) > pixels) height = tw > pixels ? 0.0 : std::floor(pixels / tw);
    }
    if (argCount >= 2) {
        lua_pushnumber(L, width);
        lua_replace(L, base + 2);
    }
    if (argCount >= 3) {
        lua_pushnumber(L, height);
        lua_replace(L, base + 3);
    }
}

[[noreturn]] void fail(const char* fn, const char* what, lua_State* L) {
    std::fprintf(stderr, "%s: %s", fn, what);
    if (lua_gettop(L) > 0 && lua_type(L, -1) == LUA_TSTRING) std::fprintf(stderr, " (%s)", lua_tostring(L, -1));
    std::fprintf(stderr, "\n");
    std::abort();
}

// Raw equality, except that a NaN passed as the buffer comes back as itself.
bool sameValue(lua_State* L, int a, int b) {
    if (lua_rawequal(L, a, b)) return true;
    return lua_type(L, a) == LUA_TNUMBER && lua_type(L, b) == LUA_TNUMBER && std::isnan(lua_tonumber(L, a)) &&
           std::isnan(lua_tonumber(L, b));
}

void checkResults(lua_State* L, const char* fn, int argBase, int argCount, int resultBase) {
    const int results = lua_gettop(L) - resultBase;
    if (std::strcmp(fn, "daytime") == 0) {
        if (results != 1 || lua_type(L, -1) != LUA_TSTRING) fail(fn, "must return one string", L);
        return;
    }
    if (std::strcmp(fn, "mirtHistgram") == 0) {
        if (results != 0) fail(fn, "must return nothing", L);
        return;
    }
    if (std::strcmp(fn, "mirtCVSave") == 0) {
        // Mode 0 (also when missing, NaN or truncating to 0) writes, any other reads.
        const double mode = argCount >= 3 ? lua_tonumber(L, argBase + 3) : 0.0;
        const bool writes = std::isnan(mode) || std::trunc(mode) == 0.0;
        if (writes && results != 0) fail(fn, "a write must return nothing", L);
        if (!writes && (results != 1 || (lua_type(L, -1) != LUA_TSTRING && !lua_isnil(L, -1))))
            fail(fn, "a read must return one string or nil", L);
        return;
    }
    if (results != 1) fail(fn, "a filter must return exactly one result", L);
    if (argCount == 0 ? !lua_isnil(L, -1) : !sameValue(L, -1, argBase + 1))
        fail(fn, "a filter must return its buffer argument", L);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Reader in(data, size);
    const char* fn = functionNames[in.byte() % functionCount];
    const int wanted = in.byte() % maxArguments;
    pelx04::limitCpuLevel(static_cast<pelx04::CpuLevel>(in.byte() % 3));

    lua_State* L = luaL_newstate();
    if (L == nullptr) std::abort();
    luaL_openlibs(L);
    lua_pushcfunction(L, luaopen_pelx04);
    if (lua_pcall(L, 0, 1, 0) != 0) fail("luaopen_pelx04", "raised an error", L);
    lua_getfield(L, -1, fn);
    if (!lua_isfunction(L, -1)) fail(fn, "is not registered", L);
    if (!lua_checkstack(L, 2 * maxPushed + 8)) std::abort();

    // Arguments are pushed first, then copied above the function, so that they
    // stay below the call for comparing the results with.
    LightBlocks light;
    const int argBase = lua_gettop(L);
    bool lightFirst = false;
    std::size_t lightBytes = 0;
    int argCount = 0;
    while (argCount < wanted) argCount += pushArgument(L, in, light, lightFirst, lightBytes, argCount + 1);
    if (lightFirst) keepLightPromise(L, argBase, argCount, lightBytes);

    lua_pushvalue(L, argBase);  // the function
    for (int i = 1; i <= argCount; ++i) lua_pushvalue(L, argBase + i);
    const int resultBase = argBase + argCount;
    if (lua_pcall(L, argCount, LUA_MULTRET, 0) != 0) fail(fn, "raised a Lua error", L);
    checkResults(L, fn, argBase, argCount, resultBase);

    lua_close(L);
    return 0;
}
