// pelx04-run: runs a Lua script over every frame of a video, an image
// sequence or a still, over the built-in test card, or over raw BGRA frames
// between two pipes. Media is read and written with FFmpeg's libraries.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>

#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

#include "batch_run.hpp"
#include "diagnostics.hpp"
#include "fatal_signals.hpp"
#include "guarded_frame.hpp"
#include "media_formats.hpp"
#include "media_input.hpp"
#include "media_output.hpp"
#include "media_pipeline.hpp"
#include "output_file.hpp"
#include "output_target.hpp"
#include "progress.hpp"
#include "raw_stream.hpp"
#include "runner_options.hpp"
#include "script_host.hpp"
#include "test_card.hpp"

namespace {

namespace fs = std::filesystem;
using namespace pelx04run;
using namespace pelx04host;
using namespace pelx04image;

// The script's state and its frame, each released where its owner ends. No
// Lua error unwinds through them: the script runs under a protected call.
class ScriptState {
public:
    ScriptState() = default;
    ScriptState(const ScriptState&) = delete;
    ScriptState& operator=(const ScriptState&) = delete;
    ~ScriptState() {
        if (L != nullptr) closeScriptHost(L);
    }
    lua_State* L = nullptr;
};

class FrameMapping {
public:
    FrameMapping() = default;
    FrameMapping(const FrameMapping&) = delete;
    FrameMapping& operator=(const FrameMapping&) = delete;
    ~FrameMapping() { unmapGuardedFrame(frame); }
    GuardedFrame frame;
};

// The module beside this runner: in the build tree ../lua/pelx04.so, once
// installed the directory CMake placed it in, relative to the runner.
std::string modulePath(const char* argv0) {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (exe.empty()) exe = fs::absolute(fs::path(argv0), ec);
    const fs::path dir = exe.parent_path();
    const fs::path built = (dir / ".." / "lua" / "pelx04.so").lexically_normal();
    if (fs::exists(built, ec)) return built.string();
    return (dir / PELX04_INSTALLED_MODULE_DIR / "pelx04.so").lexically_normal().string();
}

bool openScript(const RunnerOptions& options, const char* argv0, lua_State*& L, std::string& error) {
    ScriptOptions script;
    script.modulePath = modulePath(argv0);
    script.scriptPath = options.script;
    script.hasCommandLine = true;
    script.scriptArgs = options.scriptArgs;
    script.sandbox = options.sandbox;
    script.maxInstructions = options.maxInstructions >= 0 ? options.maxInstructions
                             : options.sandbox           ? sandboxDefaultMaxInstructions
                                                         : 0;
    script.maxMemoryBytes = options.maxMemorySet ? options.maxMemory : options.sandbox ? sandboxDefaultMaxMemoryBytes : 0;
    L = openScriptHost(script, error);
    return L != nullptr;
}

bool parseTime(const std::string& text, const char* option, double& seconds, std::string& error) {
    if (text.empty()) return true;
    int64_t microseconds = 0;
    if (av_parse_time(&microseconds, text.c_str(), 1) < 0 || microseconds < 0) {
        error = std::string("bad ") + option + " '" + text + "': expected [HH:]MM:SS[.m...] or seconds";
        return false;
    }
    seconds = static_cast<double>(microseconds) / AV_TIME_BASE;
    return true;
}

// Where a still goes without -o: out/<script name>.png.
std::string defaultStillOutput(const RunnerOptions& options) {
    return (fs::path("out") / fs::path(options.script).stem()).string() + "." + defaultStillExtension;
}

int runTestCard(const RunnerOptions& options, lua_State* L) {
    std::string error;
    Frame card;
    if (!makeTestCard(card)) return fail("out of memory making the test card");
    GuardedFrame frame;
    if (!mapGuardedFrame(card.words.size() * 4, frame, error)) return fail(error);
    std::memcpy(frame.pixels, card.bytes(), card.words.size() * 4);
    card.words.clear();
    noteCurrentFrame(0);
    const bool ran = runScript(L, frame.pixels, testCardWidth, testCardHeight, 0, 0.0, error);
    std::fflush(stdout);
    if (!ran) {
        unmapGuardedFrame(frame);
        return fail(error);
    }
    VideoSource source;
    source.width = testCardWidth;
    source.height = testCardHeight;
    source.pixelFormat = AV_PIX_FMT_BGRA;
    source.expectedFrames = 1;
    source.still = true;
    OutputTarget target;
    MediaOutput output;
    const bool written = target.open(options.output, error) &&
                         output.open(options.output, target.fd(), source, nullptr, -1, options.encoder, error) &&
                         output.writeFrame(frame.pixels, FrameTiming{}, error) && output.finish(error) &&
                         target.commit(error);
    unmapGuardedFrame(frame);
    if (!written) {
        target.abandon();
        return fail(error);
    }
    return 0;
}

int runMedia(RunnerOptions& options, lua_State* L) {
    std::string error;
    double start = 0;
    double duration = -1;
    if (!parseTime(options.start, "--start", start, error) || !parseTime(options.duration, "--duration", duration, error)) {
        return usageError(error);
    }
    MediaInput input;
    InputLimits limits;
    limits.maxPixels = options.maxPixels;
    limits.threads = options.encoder.threads;
    if (!input.openFile(options.input, limits, error)) return fail(error);
    if (options.output.empty()) {
        if (!input.video().still) return usageError("a video needs -o OUTPUT");
        options.output = defaultStillOutput(options);
    }
    if (!checkOutputSparesInput(options.input, options.output, input.video().expectedFrames, error)) {
        return usageError(error);
    }
    if (!input.setRange(start, duration, error)) return fail(error);
    const VideoSource& video = input.video();
    if (av_pix_fmt_desc_get(video.pixelFormat) != nullptr &&
        av_pix_fmt_desc_get(video.pixelFormat)->comp[0].depth > 8) {
        warn(std::string("the input's ") + av_get_pix_fmt_name(video.pixelFormat) +
             " pictures are converted to 8 bits per channel for the script");
    }
    if (video.transfer == AVCOL_TRC_SMPTE2084 || video.transfer == AVCOL_TRC_ARIB_STD_B67) {
        warn("the input is HDR; the script sees its code values, not tone-mapped colours");
    }

    OutputTarget target;
    MediaOutput output;
    if (!target.open(options.output, error) ||
        !output.open(options.output, target.fd(), video, input.format(), input.videoStreamIndex(), options.encoder,
                     error)) {
        target.abandon();
        return fail(error);
    }
    if (!options.quiet) {
        for (const std::string& text : output.notes()) note(text);
    }
    PipelineSettings settings;
    settings.maxFrames = options.frames;
    // The total for the progress bar: the container's count, or what the
    // duration and frame rate give, within --start and --duration.
    const double rate = av_q2d(video.frameRate);
    double span = video.durationSeconds > 0 ? video.durationSeconds - start : 0;
    if (duration >= 0 && (span <= 0 || duration < span)) span = duration;
    settings.expectedFrames = start <= 0 && duration < 0 && video.expectedFrames > 0
                                  ? video.expectedFrames
                                  : static_cast<long long>(span > 0 ? span * rate + 0.5 : 0);
    settings.progress = showsProgress(options);
    const PipelineResult result = runPipeline(input, output, L, settings);
    std::fflush(stdout);
    if (!result.error.empty()) {
        target.abandon();
        return fail(result.error);
    }
    if (result.frames == 0) {
        target.abandon();
        return fail("'" + options.input + "' gave no frames" + (options.start.empty() ? "" : " after --start"));
    }
    if (!target.commit(error)) return fail(error);
    if (!result.warning.empty()) {
        warn(result.warning + "; the " + std::to_string(result.frames) + " frames that could be decoded were kept");
    }
    return 0;
}

struct RawFrameSize {
    int width = 0;
    int height = 0;
    std::size_t bytes = 0;
};

// Refused before a byte is allocated: a size on the command line is no
// reason to reserve gigabytes.
int checkRawSize(const RunnerOptions& options, RawFrameSize& size) {
    std::string error;
    if (!parseFrameSize(options.rawSize, size.width, size.height, size.bytes, error)) return usageError(error);
    if (static_cast<std::uint64_t>(size.width) * static_cast<std::uint64_t>(size.height) > options.maxPixels) {
        return usageError("--raw " + options.rawSize + " is past the limit of " + std::to_string(options.maxPixels) +
                          " pixels (--max-pixels raises it)");
    }
    if (isatty(STDOUT_FILENO)) return fail("standard output is a terminal; send the frames to a file or a pipe");
    return -1;
}

// Frames own standard output: the script's print and io.write go to
// standard error instead, so they cannot corrupt the stream.
std::FILE* takeStandardOutput(std::string& error) {
    const int frameFd = dup(STDOUT_FILENO);
    std::FILE* frameOut = frameFd >= 0 ? fdopen(frameFd, "wb") : nullptr;
    if (frameOut == nullptr || dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        error = std::string("cannot set up standard output: ") + std::strerror(errno);
        if (frameOut != nullptr) std::fclose(frameOut);
        return nullptr;
    }
    return frameOut;
}

// Runs the script over each frame of standard input and writes it to
// `out`, until the input ends; returns the exit status so far.
int filterRawFrames(lua_State* L, const RawFrameSize& size, unsigned char* pixels, std::FILE* out,
                    Progress& progress, long long& frames) {
    std::string error;
    for (;;) {
        std::size_t got = 0;
        const RawRead read = readRawFrame(stdin, pixels, size.bytes, got);
        if (read == RawRead::end) return 0;
        if (read == RawRead::failed) return fail("cannot read frame " + std::to_string(frames) + " from standard input");
        if (read == RawRead::shortFrame) {
            progress.finish(frames);
            return fail("standard input ended inside frame " + std::to_string(frames) + ": " + std::to_string(got) +
                        " of " + std::to_string(size.bytes) + " bytes");
        }
        noteCurrentFrame(static_cast<long>(frames));
        if (!runScript(L, pixels, size.width, size.height, static_cast<long>(frames), -1.0, error)) {
            progress.finish(frames);
            return fail(error);
        }
        if (!writeRawFrame(out, pixels, size.bytes)) {
            progress.finish(frames);
            return fail("cannot write frame " + std::to_string(frames) + ": " + std::strerror(errno));
        }
        ++frames;
        progress.frameDone(frames);
    }
}

// Flushes and closes the frame stream: a write error there fails a run that
// had not failed yet.
int closeFrameStream(std::FILE* out, int status, Progress& progress, long long frames) {
    std::fflush(stdout);
    const bool flushed = std::fflush(out) == 0;
    const int flushErrno = errno;
    const bool closed = std::fclose(out) == 0;
    if (status != 0) return status;
    progress.finish(frames);
    if (!flushed || !closed) return fail(std::string("cannot write frames: ") + std::strerror(flushErrno));
    return 0;
}

int runRaw(const RunnerOptions& options, const char* argv0) {
    RawFrameSize size;
    const int refused = checkRawSize(options, size);
    if (refused >= 0) return refused;
    // A closed downstream pipe becomes a write error reported below, not a
    // silent death by SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    std::string error;
    std::FILE* frameOut = takeStandardOutput(error);
    if (frameOut == nullptr) return fail(error);
    Progress progress(showsProgress(options), 0);
    long long frames = 0;
    int status = 0;
    {
        ScriptState script;
        FrameMapping mapping;
        if (!openScript(options, argv0, script.L, error) || !mapGuardedFrame(size.bytes, mapping.frame, error)) {
            status = fail(error);
        } else {
            status = filterRawFrames(script.L, size, mapping.frame.pixels, frameOut, progress, frames);
        }
    }
    return closeFrameStream(frameOut, status, progress, frames);
}

// A job of a batch ends when the batch does, however the batch ends (SIGKILL
// too): the kernel then sends it SIGTERM, whose handler removes the job's
// temporaries. A batch already gone by now is seen by the parent's id.
void endWithBatch(pid_t batch) {
    struct sigaction term {};
    sigaction(SIGTERM, nullptr, &term);
    const bool ignored = (term.sa_flags & SA_SIGINFO) == 0 && term.sa_handler == SIG_IGN;
    const int signal = ignored ? SIGKILL : SIGTERM;
    prctl(PR_SET_PDEATHSIG, signal);
    if (getppid() != batch) raise(signal);
}

// A job of a batch: its error goes to the batch's channel, which its own
// programs (the script's os.execute) do not inherit; it ends with the batch.
void joinBatch(const RunnerOptions& options) {
    if (options.resultChannel >= 0 && fcntl(options.resultChannel, F_SETFD, FD_CLOEXEC) == 0) {
        setResultChannel(options.resultChannel);
    }
    if (options.batchParent > 0) endWithBatch(static_cast<pid_t>(options.batchParent));
}

// The script is compiled, not run: a syntax error or a missing file is
// refused with the rest of a batch's check.
int checkScript(const RunnerOptions& options, const char* argv0) {
    std::string error;
    ScriptState script;
    return openScript(options, argv0, script.L, error) ? -1 : refuse(error);
}

// One input into one output, a still from the test card, or raw frames.
int runSingle(RunnerOptions& options, const char* argv0) {
    installFatalSignalHandlers();
    joinBatch(options);
    av_log_set_level(AV_LOG_ERROR);
    if (!options.rawSize.empty()) return runRaw(options, argv0);

    if (options.input.empty() && options.output.empty()) options.output = defaultStillOutput(options);
    std::string error;
    ScriptState script;
    if (!openScript(options, argv0, script.L, error)) return fail(error);
    // A closed pipe at OUTPUT is a write error, reported as one.
    std::signal(SIGPIPE, SIG_IGN);
    return options.input.empty() ? runTestCard(options, script.L) : runMedia(options, script.L);
}

int run(int argc, char** argv) {
    RunnerOptions options;
    const int parsed = parseOptions(argc, argv, options);
    if (parsed >= 0) return parsed;
    const int scriptRefused = options.check ? checkScript(options, argv[0]) : -1;
    if (scriptRefused >= 0) return scriptRefused;
    if (!isBatch(options.inputs, options.list)) return runSingle(options, argv[0]);
    if (options.index == 0) return runBatch(options);
    BatchJob job;
    const int skipped = findListTask(options, job);
    if (skipped >= 0) return skipped;
    RunnerOptions task = options;
    task.input = job.input;
    task.output = job.output;
    return runSingle(task, argv[0]);
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        return fail("out of memory");
    } catch (const std::exception& e) {
        return fail(e.what());
    }
}
