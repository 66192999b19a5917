// decode | script | encode: three threads with a few frames between them.
// The script stage runs on the calling thread, always with the same Lua
// state, so scripts keep their globals and the library's tables from frame
// to frame; the library is only ever called from that thread.
#pragma once

#include <string>

#include "media_input.hpp"
#include "media_output.hpp"

struct lua_State;

namespace pelx04run {

struct PipelineSettings {
    long long maxFrames = -1;  // < 0: all
    bool progress = false;
};

struct PipelineResult {
    long long frames = 0;
    std::string error;    // empty when the run succeeded
    std::string warning;  // why the input ended early, when it did
};

PipelineResult runPipeline(MediaInput& input, MediaOutput& output, lua_State* L, const PipelineSettings& settings);

}  // namespace pelx04run
