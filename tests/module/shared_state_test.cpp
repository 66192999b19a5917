// Two Lua states in one process, each requiring the built module as a host
// would: the value table and the picture store are one per process, and a
// second require or a cleared package.loaded keeps their contents.
#include <cstdint>
#include <string>

#include <gtest/gtest.h>
#include <lua.hpp>

namespace {

// A state that finds the built module alone on its search path, so an
// installed copy never answers instead.
lua_State* openState() {
    lua_State* L = luaL_newstate();
    luaL_openlibs(L);
    lua_getglobal(L, "package");
    lua_pushstring(L, PELX04_MODULE_DIR "/?.so");
    lua_setfield(L, -2, "cpath");
    lua_pop(L, 1);
    return L;
}

// Runs a chunk in protected mode and gives its first result as text, or the
// error message prefixed with "error: ".
std::string run(lua_State* L, const char* chunk) {
    const int top = lua_gettop(L);
    std::string result;
    if (luaL_dostring(L, chunk) != 0) {
        result = std::string("error: ") + lua_tostring(L, -1);
    } else if (lua_gettop(L) > top) {
        const char* text = lua_tostring(L, top + 1);
        result = text ? text : luaL_typename(L, top + 1);
    }
    lua_settop(L, top);
    return result;
}

void setBuffer(lua_State* L, const char* name, std::uint32_t* words) {
    lua_pushlightuserdata(L, words);
    lua_setglobal(L, name);
}

lua_CFunction cvSaveOf(lua_State* L) {
    lua_getglobal(L, "pelx04");
    lua_getfield(L, -1, "mirtCVSave");
    lua_CFunction f = lua_tocfunction(L, -1);
    lua_pop(L, 2);
    return f;
}

TEST(SharedState, TwoLuaStatesShareTheTableAndTheStore) {
    lua_State* a = openState();
    lua_State* b = openState();
    ASSERT_EQ(run(a, "pelx04 = require 'pelx04' return 'ok'"), "ok");
    ASSERT_EQ(run(b, "pelx04 = require 'pelx04' return 'ok'"), "ok");
    EXPECT_EQ(cvSaveOf(a), cvSaveOf(b)) << "one library image serves both states";

    std::uint32_t kept[2] = {0xFF010203u, 0x00040506u};
    std::uint32_t frame[3] = {0x01000000u, 0x01000000u, 0x01000000u};
    setBuffer(a, "kept", kept);
    setBuffer(b, "frame", frame);

    // Written in one state, read in the other, both ways.
    EXPECT_EQ(run(a, "pelx04.mirtCVSave(5, -55, 0) pelx04.mirtMixPict0(kept, 2, 1) return 'ok'"), "ok");
    EXPECT_EQ(run(b, "return pelx04.mirtCVSave(5, 0, 1)"), "-55");
    EXPECT_EQ(run(b, "pelx04.mirtCVSave(359, 359, 0) return 'ok'"), "ok");
    EXPECT_EQ(run(a, "return pelx04.mirtCVSave(359, 0, 1)"), "359");
    EXPECT_EQ(run(b, "pelx04.mirtMixPict1(frame, 3, 1, 0) return 'ok'"), "ok");
    EXPECT_EQ(frame[0], kept[0]);
    EXPECT_EQ(frame[1], kept[1]);
    EXPECT_EQ(frame[2], 0u) << "past the kept frame the store is still zero";

    // A histogram in one state replaces the curve the other loaded.
    EXPECT_EQ(run(b, "pelx04.mirtHistgram(frame, 1, 1, 1) return pelx04.mirtCVSave(5, 0, 1)"), "0");
    EXPECT_EQ(run(a, "return pelx04.mirtCVSave(1, 0, 1)"), "1");
    EXPECT_EQ(run(a, "pelx04.mirtCVSave(5, -55, 0) return 'ok'"), "ok");

    // A second require, and a require after package.loaded is cleared, keep
    // the contents.
    EXPECT_EQ(run(a, "return tostring(require 'pelx04' == pelx04)"), "true");
    EXPECT_EQ(run(a, "package.loaded.pelx04 = nil pelx04 = require 'pelx04' return pelx04.mirtCVSave(5, 0, 1)"),
              "-55");
    frame[0] = frame[1] = 0x01000000u;
    setBuffer(a, "frame", frame);
    EXPECT_EQ(run(a, "pelx04.mirtMixPict1(frame, 2, 1, 0) return 'ok'"), "ok");
    EXPECT_EQ(frame[0], kept[0]);
    EXPECT_EQ(frame[1], kept[1]);

    // While one state still holds the library, a state opened after another
    // closed sees the same contents.
    lua_close(a);
    lua_State* c = openState();
    EXPECT_EQ(run(c, "pelx04 = require 'pelx04' return pelx04.mirtCVSave(5, 0, 1)"), "-55");
    lua_close(c);
    lua_close(b);
}

}  // namespace
