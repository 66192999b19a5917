-- The LuaRocks package of pelx04: `luarocks make` at the top of the checkout
-- builds the module with CMake and installs it with `cmake --install`, which
-- puts pelx04.so into the tree's lib/lua/5.1. The version here and in the file
-- name follows project() in CMakeLists.txt (tests/release/versions_test.sh).
rockspec_format = "3.0"
package = "pelx04"
version = "1.0.0-1"
source = {
  url = "git+file://.",
}
description = {
  license = "MIT",
  summary = "Colour and tone filters over 32-bit BGRA pixel buffers for Lua 5.1 hosts",
  detailed = [[
pelx04 is a native Lua 5.1 module (PUC Lua 5.1 and LuaJIT) whose functions
rewrite a host's frame, a pointer to 32-bit BGRA pixel words, in place:
channel offsets, gamma, gradation, posterisation, grey conversion, channel
permutation, HSV and YPbPr adjustments, tone curves and histograms through a
shared value table, and a picture store for blending frames.
]],
}
dependencies = {
  "lua >= 5.1, < 5.2",
}
build = {
  type = "cmake",
  variables = {
    CMAKE_BUILD_TYPE = "Release",
    CMAKE_INSTALL_PREFIX = "$(PREFIX)",
    CMAKE_INSTALL_DOCDIR = "doc",
    PELX04_INSTALL_CMOD = "$(LIBDIR)",
    LUA_INCLUDE_DIR = "$(LUA_INCDIR)",
    PELX04_BUILD_TESTS = "OFF",
    PELX04_BUILD_TOOLS = "OFF",
    PELX04_BUILD_BENCH = "OFF",
    PELX04_BUILD_FREI0R = "OFF",
  },
}
