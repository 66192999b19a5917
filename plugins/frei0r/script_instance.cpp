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

// One frame's run of the script, under runGuarded.
struct GuardedRun {
    lua_State* L;
    unsigned char* pixels;
    int width;
    int height;
    long index;
    double seconds;
    std::string* error;
    bool ran;
};

void runScriptGuarded(void* data) {
    GuardedRun* run = static_cast<GuardedRun*>(data);
    run->ran = pelx04host::runScript(run->L, run->pixels, run->width, run->height, run->index, run->seconds,
                                    *run->error);
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

// Outside the lock that every instance shares: reading may take a while (a
// slow disk), and refusing what is not a plain small file never waits.
bool ScriptInstance::readScript(std::string& text, std::string& error) const {
    if (scriptPath().empty()) {
        error = "no script: set the filter's script (or filename) parameter to the path of a Lua file";
        return false;
    }
    return pelx04host::readScriptFile(scriptPath(), text, error);
}

bool ScriptInstance::openHost(std::string& text, std::string& error) {
    closeHost();
    openScript_ = scriptPath();
    openSandbox_ = sandbox_;
    const std::size_t bytes = static_cast<std::size_t>(width_) * height_ * 4;
    if (!pelx04host::mapGuardedFrame(bytes, frame_, error)) return false;
    pelx04host::ScriptOptions options;
    options.openModule = luaopen_pelx04;
    options.scriptPath = openScript_;
    options.scriptTextRead = true;
    options.scriptText.swap(text);
    options.hasCommandLine = true;
    options.scriptArgs = valueWords(values_);
    std::memcpy(passedValues_, values_, sizeof values_);
    options.sandbox = sandbox_;
    // The host is someone else's program, perhaps an editor holding unsaved
    // work: a script that loops or grows without end must not take it down,
    // sandboxed or not.
    options.maxInstructions = pelx04host::sandboxDefaultMaxInstructions;
    options.maxMemoryBytes = pelx04host::sandboxDefaultMaxMemoryBytes;
    // A backtracking pattern spends its time inside one library call, where
    // the instruction count cannot see it: the matcher's steps count too.
    options.boundPatternWork = true;
    // The host's standard output may be its media stream (ffmpeg ... -f nut -).
    options.outputToStderr = true;
    L_ = pelx04host::openScriptHost(options, error);
    return L_ != nullptr;
}

bool ScriptInstance::passValues(std::string& error) {
    if (std::memcmp(passedValues_, values_, sizeof values_) == 0) return true;
    std::memcpy(passedValues_, values_, sizeof values_);
    return pelx04host::setScriptArgs(L_, valueWords(values_), error);
}

void ScriptInstance::closeHost() {
    pelx04host::closeScriptHost(L_);
    L_ = nullptr;
    // After the state: a script may have kept frame.data.
    pelx04host::unmapGuardedFrame(frame_);
}

bool ScriptInstance::runFrame(double seconds, const std::uint32_t* in, std::uint32_t* out, std::string& error) {
    const long index = frames_;
    const bool reopen = L_ == nullptr || openScript_ != scriptPath() || openSandbox_ != sandbox_;
    std::string text;
    if (reopen && !readScript(text, error)) {
        error.insert(0, pelx04host::framePlace(index, seconds));
        return false;
    }
    std::lock_guard<std::mutex> lock(scriptRunLock);
    if (reopen && !openHost(text, error)) {
        error.insert(0, pelx04host::framePlace(index, seconds));
        return false;
    }
    if (!passValues(error)) {
        error.insert(0, pelx04host::framePlace(index, seconds));
        return false;
    }
    pelx04host::installGuardFaultHandler("pelx04", nullptr);
    const std::size_t bytes = static_cast<std::size_t>(width_) * height_ * 4;
    // The script works on a guarded copy: a filter sent past the frame faults
    // in the guard before it writes anything outside, and comes back here.
    std::memcpy(frame_.pixels, in, bytes);
    pelx04host::noteCurrentFrame(index);
    GuardedRun run{L_, frame_.pixels, static_cast<int>(width_), static_cast<int>(height_), index, seconds, &error,
                   false};
    if (!pelx04host::runGuarded(runScriptGuarded, &run)) {
        // The state stopped inside a call, its own bookkeeping half done:
        // closing it would run it again (its __gc methods), so it is given up
        // as it is and its memory stays allocated, at most the memory limit,
        // once for each script or sandbox value that fails this way.
        L_ = nullptr;
        error = pelx04host::framePlace(index, seconds) + pelx04host::pastFrameError;
        return false;
    }
    if (!run.ran) return false;
    std::memcpy(out, frame_.pixels, bytes);
    return true;
}

// MLT's threads property (not 1) cuts a frame into slices, builds the instance
// at a slice's height and calls it once per slice, from several threads at
// once, with the same time and pointers one slice or more apart. An instance
// is sliced from its first frame (MLT builds a new one when the slice height
// changes), so only the second call is looked at: a later frame shown again
// (a pause, melt's last frame, a host without timestamps) can never be taken
// for a slice.
bool ScriptInstance::isSliceOfLastCall(double hostTime, const std::uint32_t* in, const std::uint32_t* out) const {
    if (frames_ != 1 || !(hostTime == lastTime_)) return false;
    const std::uintptr_t inStep = reinterpret_cast<std::uintptr_t>(in) - lastIn_;
    if (inStep != reinterpret_cast<std::uintptr_t>(out) - lastOut_) return false;
    const std::uintptr_t apart = inStep < UINTPTR_MAX / 2 ? inStep : 0 - inStep;
    const std::uintptr_t slice = static_cast<std::uintptr_t>(width_) * height_ * 4;
    constexpr std::uintptr_t mostSlices = 256;
    return apart != 0 && slice != 0 && apart % slice == 0 && apart / slice < mostSlices;
}

// What stops this frame before the script runs, if anything.
ScriptInstance::Failure ScriptInstance::check(double hostTime, const std::uint32_t* in, const std::uint32_t* out,
                                              std::string& error) const {
    const std::string place = pelx04host::framePlace(frames_, secondsFromHostTime(caller_, hostTime));
    if (isSliceOfLastCall(hostTime, in, out)) {
        error = place + "the host cuts each frame into slices of " + std::to_string(width_) + "x" +
                std::to_string(height_) +
                " and runs them through one instance at once (MLT's threads property on the filter, when it is not "
                "1), but a script must see whole frames: set threads=1 on the filter, or leave it unset";
        return Failure::host;
    }
    if (callerPadsRows(caller_, width_)) {
        const unsigned padded = (width_ + 15) / 16 * 16;
        error = place + "ffmpeg's frei0r filter (libavfilter " + std::to_string(caller_.libavfilterVersion >> 16) +
                "." + std::to_string(caller_.libavfilterVersion >> 8 & 0xFF) +
                ") pads each row of a frame whose width is not a multiple of 16 pixels, and the plugin "
                "cannot see the padding: a width of " +
                std::to_string(width_) + " would come out sheared. Pad the width around the filter (-vf \"pad=" +
                std::to_string(padded) + ":ih,frei0r=pelx04:SCRIPT,crop=" + std::to_string(width_) +
                ":ih:0:0\") or run the script with pelx04-run";
        return Failure::host;
    }
    if (!onErrorKnown_) {
        error = place + "on_error is '" + onErrorName_ + "'; it must be mark, pass or stop";
        return Failure::configuration;
    }
    return Failure::none;
}

void ScriptInstance::update(double hostTime, const std::uint32_t* in, std::uint32_t* out) {
    const double seconds = secondsFromHostTime(caller_, hostTime);
    if (failure_ == Failure::script && (failedScript_ != scriptPath() || failedSandbox_ != sandbox_)) {
        failure_ = Failure::none;
    }
    if (failure_ == Failure::configuration && onErrorKnown_) failure_ = Failure::none;
    if (failure_ != Failure::host) {
        std::string error;
        Failure failure = check(hostTime, in, out, error);
        if (failure == Failure::none && failure_ == Failure::none && !runFrame(seconds, in, out, error)) {
            failure = Failure::script;
            failedScript_ = scriptPath();
            failedSandbox_ = sandbox_;
        }
        // Each failure is reported once; a host failure overrides any other.
        if (failure != Failure::none && (failure_ == Failure::none || failure == Failure::host)) {
            failure_ = failure;
            report(error);
            if (onError_ == OnError::stop) _exit(1);
        }
    }
    lastTime_ = hostTime;
    lastIn_ = reinterpret_cast<std::uintptr_t>(in);
    lastOut_ = reinterpret_cast<std::uintptr_t>(out);
    if (failure_ != Failure::none) respondToError(in, out);
    ++frames_;
}

void ScriptInstance::failForLackOfMemory(const std::uint32_t* in, std::uint32_t* out) noexcept {
    std::fputs("pelx04: out of memory\n", stderr);
    if (onError_ == OnError::stop) _exit(1);
    // Tried again at the next frame, as a configuration that is valid.
    if (failure_ == Failure::none) failure_ = Failure::configuration;
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
