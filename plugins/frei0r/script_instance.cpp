#include "script_instance.hpp"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include <unistd.h>

#include "error_band.hpp"
#include "script_host.hpp"

extern "C" int luaopen_pelx04(lua_State* L);

namespace pelx04frei0r {
namespace {

// The library's value table and picture store belong to the process, shared
// by every script in it; hosts run instances on threads of their own, so one
// script runs at a time.
std::mutex scriptRunLock;

void report(const std::string& message) {
    std::fprintf(stderr, "pelx04: %s\n", message.c_str());
    std::fflush(stderr);
}

// As arg[i]: "%.17g" reads back as the very double the host gave.
std::vector<std::string> valueWords(const double* values) {
    std::vector<std::string> words;
    for (int i = 0; i < scriptValueCount; ++i) {
        char word[32];
        std::snprintf(word, sizeof word, "%.17g", values[i]);
        words.emplace_back(word);
    }
    return words;
}

}  // namespace

ScriptInstance::ScriptInstance(unsigned width, unsigned height) : width_(width), height_(height) {}

ScriptInstance::~ScriptInstance() { closeHost(); }

void ScriptInstance::setScript(const char* path) { script_ = path != nullptr ? path : ""; }

void ScriptInstance::setFilename(const char* path) { filename_ = path != nullptr ? path : ""; }

void ScriptInstance::setSandbox(bool sandbox) { sandbox_ = sandbox; }

void ScriptInstance::setOnError(const char* mode) {
    onErrorName_ = mode != nullptr ? mode : "";
    onErrorKnown_ = true;
    if (onErrorName_ == "mark") {
        onError_ = OnError::mark;
    } else if (onErrorName_ == "pass") {
        onError_ = OnError::pass;
    } else if (onErrorName_ == "stop") {
        onError_ = OnError::stop;
    } else {
        // Reported at the first frame; until then the safest response.
        onError_ = OnError::mark;
        onErrorKnown_ = false;
    }
}

bool ScriptInstance::openHost(std::string& error) {
    closeHost();
    openScript_ = scriptPath();
    openSandbox_ = sandbox_;
    if (openScript_.empty()) {
        error = "no script: set the filter's script (or filename) parameter to the path of a Lua file";
        return false;
    }
    const std::size_t bytes = static_cast<std::size_t>(width_) * height_ * 4;
    if (!pelx04run::mapGuardedFrame(bytes, frame_, error)) return false;
    pelx04run::ScriptOptions options;
    options.openModule = luaopen_pelx04;
    options.scriptPath = openScript_;
    options.hasCommandLine = true;
    options.scriptArgs = valueWords(values_);
    std::memcpy(passedValues_, values_, sizeof values_);
    options.sandbox = sandbox_;
    options.maxInstructions = sandbox_ ? pelx04run::sandboxDefaultMaxInstructions : 0;
    options.maxMemoryBytes = sandbox_ ? pelx04run::sandboxDefaultMaxMemoryBytes : 0;
    // The host's standard output may be its media stream (ffmpeg ... -f nut -).
    options.outputToStderr = true;
    L_ = pelx04run::openScriptHost(options, error);
    return L_ != nullptr;
}

bool ScriptInstance::passValues(std::string& error) {
    if (std::memcmp(passedValues_, values_, sizeof values_) == 0) return true;
    std::memcpy(passedValues_, values_, sizeof values_);
    return pelx04run::setScriptArgs(L_, valueWords(values_), error);
}

void ScriptInstance::closeHost() {
    pelx04run::closeScriptHost(L_);
    L_ = nullptr;
    // After the state: a script may have kept frame.data.
    pelx04run::unmapGuardedFrame(frame_);
}

bool ScriptInstance::runFrame(double seconds, const std::uint32_t* in, std::uint32_t* out, std::string& error) {
    const long index = frames_;
    if (!onErrorKnown_) {
        error = pelx04run::framePlace(index, seconds) + "on_error is '" + onErrorName_ +
                "'; it must be mark, pass or stop";
        return false;
    }
    std::lock_guard<std::mutex> lock(scriptRunLock);
    if (L_ == nullptr || openScript_ != scriptPath() || openSandbox_ != sandbox_) {
        if (!openHost(error)) {
            error.insert(0, pelx04run::framePlace(index, seconds));
            return false;
        }
    }
    if (!passValues(error)) {
        error.insert(0, pelx04run::framePlace(index, seconds));
        return false;
    }
    pelx04run::installGuardFaultHandler("pelx04", nullptr);
    const std::size_t bytes = static_cast<std::size_t>(width_) * height_ * 4;
    // The script works on a guarded copy: a filter sent past the frame faults
    // in the guard instead of writing into the host's memory.
    std::memcpy(frame_.pixels, in, bytes);
    pelx04run::noteCurrentFrame(index);
    if (!pelx04run::runScript(L_, frame_.pixels, static_cast<int>(width_), static_cast<int>(height_), index,
                              seconds, error)) {
        return false;
    }
    std::memcpy(out, frame_.pixels, bytes);
    return true;
}

void ScriptInstance::update(double hostTime, const std::uint32_t* in, std::uint32_t* out) {
    const Caller& caller = caller_;
    const long index = frames_;
    const double seconds = secondsFromHostTime(caller, hostTime);
    // A new script (or sandbox setting) gets a fresh start.
    if (failed_ && (openScript_ != scriptPath() || openSandbox_ != sandbox_)) failed_ = false;
    if (!failed_) {
        std::string error;
        bool ran = false;
        if (callerPadsRows(caller, width_)) {
            const unsigned padded = (width_ + 15) / 16 * 16;
            error = pelx04run::framePlace(index, seconds) + "ffmpeg's frei0r filter (libavfilter " +
                    std::to_string(caller.libavfilterVersion >> 16) + "." +
                    std::to_string(caller.libavfilterVersion >> 8 & 0xFF) +
                    ") pads each row of a frame whose width is not a multiple of 16 pixels, and the plugin "
                    "cannot see the padding: a width of " +
                    std::to_string(width_) + " would come out sheared. Pad the width around the filter (-vf \"pad=" +
                    std::to_string(padded) + ":ih,frei0r=pelx04:SCRIPT,crop=" + std::to_string(width_) +
                    ":ih:0:0\") or run the script with pelx04-run";
        } else {
            ran = runFrame(seconds, in, out, error);
        }
        if (!ran) {
            failed_ = true;
            openScript_ = scriptPath();
            openSandbox_ = sandbox_;
            report(error);
            if (onError_ == OnError::stop) _exit(1);
        }
    }
    if (failed_) respondToError(in, out);
    ++frames_;
}

void ScriptInstance::failForLackOfMemory(const std::uint32_t* in, std::uint32_t* out) noexcept {
    std::fputs("pelx04: out of memory\n", stderr);
    if (onError_ == OnError::stop) _exit(1);
    failed_ = true;
    respondToError(in, out);
    ++frames_;
}

void ScriptInstance::respondToError(const std::uint32_t* in, std::uint32_t* out) {
    if (onError_ == OnError::pass) {
        if (in != out) std::memmove(out, in, static_cast<std::size_t>(width_) * height_ * 4);
        return;
    }
    copyWithErrorBand(in, out, width_, height_);
}

}  // namespace pelx04frei0r
