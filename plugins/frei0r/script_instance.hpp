// One instance of the filter: its parameters, the script host that runs its
// script (opened at the first frame, since hosts set the parameters after
// constructing, and GStreamer's registry scan constructs one with no script at
// all), and what becomes of frames once something has failed.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "caller.hpp"
#include "guarded_frame.hpp"

struct lua_State;

namespace pelx04frei0r {

enum class OnError { mark, pass, stop };

// value1 .. value8: numbers the host sets (and keyframes) for the script.
constexpr int scriptValueCount = 8;

class ScriptInstance {
public:
    ScriptInstance(unsigned width, unsigned height);
    ~ScriptInstance();
    ScriptInstance(const ScriptInstance&) = delete;
    ScriptInstance& operator=(const ScriptInstance&) = delete;

    // Held around every call into the instance: MLT's slice threads call one
    // instance from several threads at once.
    std::mutex& callLock() { return callLock_; }

    void setScript(const char* path);
    void setFilename(const char* path);
    void setSandbox(bool sandbox);
    void setOnError(const char* mode);
    void setValue(int which, double value) { values_[which] = value; }
    const std::string& script() const { return script_; }
    const std::string& filename() const { return filename_; }
    double value(int which) const { return values_[which]; }
    bool sandbox() const { return sandbox_; }
    const std::string& onErrorName() const { return onErrorName_; }

    // Who calls this instance: one host for its whole life, so it is found at
    // the first frame and kept.
    bool callerKnown() const { return callerKnown_; }
    void setCaller(const Caller& caller) {
        caller_ = caller;
        callerKnown_ = true;
    }

    // One frame of width x height packed BGRA words. Never fails: an error is
    // reported once, then handled as on_error says.
    void update(double hostTime, const std::uint32_t* in, std::uint32_t* out);
    // When update could not even allocate its message.
    void failForLackOfMemory(const std::uint32_t* in, std::uint32_t* out) noexcept;

private:
    // What failed decides what clears it: a script error (or a missing
    // script) a new script or sandbox value; a bad on_error a valid one; the
    // way the host hands over frames (padded rows, slices) nothing but a new
    // instance.
    enum class Failure { none, script, configuration, host };

    // filename when it is set (the name MLT makes absolute in a project), else script.
    const std::string& scriptPath() const { return filename_.empty() ? script_ : filename_; }
    bool isSliceOfLastCall(double hostTime, const std::uint32_t* in, const std::uint32_t* out) const;
    Failure check(double hostTime, const std::uint32_t* in, const std::uint32_t* out, std::string& error) const;
    bool runFrame(double seconds, const std::uint32_t* in, std::uint32_t* out, std::string& error);
    bool readScript(std::string& text, std::string& error) const;
    bool openHost(std::string& text, std::string& error);
    bool passValues(std::string& error);
    void closeHost();
    void respondToError(const std::uint32_t* in, std::uint32_t* out);

    std::mutex callLock_;
    unsigned width_;
    unsigned height_;
    std::string script_;
    std::string filename_;
    bool sandbox_ = false;
    double values_[scriptValueCount] = {};
    std::string onErrorName_ = "mark";
    OnError onError_ = OnError::mark;
    bool onErrorKnown_ = true;

    lua_State* L_ = nullptr;
    pelx04host::GuardedFrame frame_;
    // What the open state was made from: a change of either opens a new one.
    std::string openScript_;
    bool openSandbox_ = false;
    // The values the open state's `arg` holds.
    double passedValues_[scriptValueCount] = {};

    Failure failure_ = Failure::none;
    // What a script failure was for.
    std::string failedScript_;
    bool failedSandbox_ = false;

    long frames_ = 0;
    // The last call, to tell a slice of the same frame from the next frame.
    double lastTime_ = 0;
    std::uintptr_t lastIn_ = 0;
    std::uintptr_t lastOut_ = 0;
    Caller caller_;
    bool callerKnown_ = false;
};

}  // namespace pelx04frei0r
