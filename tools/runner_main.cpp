// pelx04-run: runs a Lua script over every frame of a video, an image
// sequence or a still, over the built-in test card, or over raw BGRA frames
// between two pipes. Media is read and written with FFmpeg's libraries.
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include <sys/prctl.h>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include "batch_run.hpp"
#include "guarded_frame.hpp"
#include "image_io.hpp"
#include "media_input.hpp"
#include "media_output.hpp"
#include "media_pipeline.hpp"
#include "output_file.hpp"
#include "output_target.hpp"
#include "progress.hpp"
#include "raw_stream.hpp"
#include "script_host.hpp"
#include "test_card.hpp"

namespace {

namespace fs = std::filesystem;
using namespace pelx04run;

constexpr int exitFailure = 1;
constexpr int exitUsage = 2;

struct Options {
    std::string script;
    std::string input;
    std::vector<std::string> inputs;
    std::string output;
    std::string list;
    std::string indexText;
    long long index = 0;
    bool check = false;
    long long batchParent = 0;
    int jobs = 0;
    bool overwrite = false;
    std::string rawSize;
    std::vector<std::string> scriptArgs;
    EncoderSettings encoder;
    std::string start;
    std::string duration;
    long long frames = -1;
    std::uint64_t maxPixels = defaultMaxPixels;
    bool sandbox = false;
    long maxInstructions = -1;
    std::size_t maxMemory = 0;
    bool maxMemorySet = false;
    bool quiet = false;
};

int fail(const std::string& message) {
    std::fprintf(stderr, "pelx04-run: %s\n", message.c_str());
    return exitFailure;
}

int usageError(const std::string& message) {
    std::fprintf(stderr, "pelx04-run: %s\nRun with --help for more information.\n", message.c_str());
    return exitUsage;
}

void warn(const std::string& message) { std::fprintf(stderr, "pelx04-run: warning: %s\n", message.c_str()); }

// Digits alone, 1 or more, and within range.
bool parseIndex(const std::string& text, long long& index) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    index = std::strtoll(text.c_str(), nullptr, 10);
    return errno == 0 && index >= 1;
}

// Returns -1 when the options are good, otherwise the exit code.
int parseOptions(int argc, char** argv, Options& options) {
    // Everything after "--" belongs to the script, as with lua's own command line.
    int ownArgs = argc;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) {
            ownArgs = i;
            options.scriptArgs.assign(argv + i + 1, argv + argc);
            break;
        }
    }
    CLI::App app("pelx04-run [OPTIONS] SCRIPT INPUT -o OUTPUT [-- SCRIPT ARGS...]\n"
                 "pelx04-run [OPTIONS] SCRIPT [IMAGE] [-o OUTPUT.png]\n"
                 "pelx04-run --raw WIDTHxHEIGHT [OPTIONS] SCRIPT\n\n"
                 "Runs the Lua SCRIPT once per frame with pelx04 loaded and the global table\n"
                 "frame = {data, width, height, index, time, row(y)}, and writes the frames it leaves.",
                 "pelx04-run");
    app.set_version_flag("--version", std::string("pelx04-run ") + PELX04_VERSION);
    app.add_option("SCRIPT", options.script, "the Lua script run on every frame")->required();
    app.add_option("INPUT", options.inputs,
                   "a video, an image sequence (shot_%04d.png) or an image; without it, a 1920x1080 test card; "
                   "several, or a folder, run as a batch into -o FOLDER/")
        ->expected(0, CLI::detail::expected_max_vector_size);
    app.add_option("-o,--output", options.output,
                   "the file to write; its extension chooses the container (default for a still: "
                   "out/<script name>.png)");
    app.add_option("--raw", options.rawSize,
                   "read raw BGRA frames of WIDTHxHEIGHT from standard input, write them to standard output");
    app.add_option("--codec", options.encoder.codec,
                   "the video encoder (default libx264 for mp4/mkv/mov, libvpx-vp9 for webm, png for images)");
    app.add_option("--crf", options.encoder.crf, "the encoder's constant quality (default 18 for libx264)")
        ->check(CLI::Range(0, 63));
    app.add_option("--opt", options.encoder.options, "an encoder option KEY=VALUE, such as preset=slow (repeatable)")
        ->allow_extra_args(false)
        ->check([](const std::string& value) {
            const std::size_t equals = value.find('=');
            return equals == std::string::npos || equals == 0 ? std::string("expected KEY=VALUE") : std::string();
        });
    app.add_option("--start", options.start, "start at this time of the input ([HH:]MM:SS[.m] or seconds)");
    app.add_option("--duration", options.duration, "stop after this much of the input");
    app.add_option("--frames", options.frames, "stop after N frames")->check([](const std::string& value) {
        // No frames at all is no run: better said now than as an input that "gave no frames".
        char* end = nullptr;
        errno = 0;
        const long long count = std::strtoll(value.c_str(), &end, 10);
        const bool positive = end != value.c_str() && *end == '\0' && errno == 0 && count > 0;
        return positive ? std::string() : std::string("expected 1 or more");
    });
    app.add_option("--max-pixels", options.maxPixels,
                   "refuse frames of more pixels than this, before decoding them (default 67108864, 8192x8192)")
        ->check(CLI::PositiveNumber);
    app.add_flag("--sandbox", options.sandbox,
                 "run the script without io, os (but its clocks), require (but pelx04), load* and dofile, "
                 "with the limits below");
    app.add_option("--max-instructions", options.maxInstructions,
                   "Lua instructions per frame, 0 for no limit (default 1000000000 under --sandbox)")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--max-memory", options.maxMemory, "bytes of Lua memory, such as 256MB (default 1GB under --sandbox)")
        // Checked before the size is read: the size reader wraps -1 to 2^64 - 1, no limit at all.
        ->check([](const std::string& value) {
            return value.find('-') != std::string::npos ? std::string("a size cannot be negative") : std::string();
        })
        ->transform(CLI::AsSizeValue(false))
        ->each([&options](const std::string&) { options.maxMemorySet = true; });
    app.add_option("-j,--jobs", options.jobs, "a batch's jobs at once (default: one per core)")
        ->check(CLI::PositiveNumber);
    app.add_flag("--overwrite", options.overwrite, "in a batch, run the jobs whose output exists too (else skipped)");
    app.add_option("--list", options.list, "run a batch over the inputs of this file, one path a line");
    app.add_option("--index", options.indexText, "run only the Nth input of --list (1 for the first), as a cluster "
                                                 "array task does");
    app.add_flag("--check", options.check,
                 "plan a batch and check its script and inputs, print each INPUT -> OUTPUT and run nothing "
                 "(exit 2 on a refusal)");
    app.add_option("--threads", options.encoder.threads,
                   "threads for the decoder and for the encoder, at most 16 or twice the cores (default: "
                   "libavcodec's choice; a batch divides the cores among its jobs)")
        ->check(CLI::NonNegativeNumber);
    // How a batch tells a job its own process id; not for users.
    app.add_option("--batch-parent", options.batchParent)->group("");
    app.add_flag("-q,--quiet", options.quiet, "no progress bar and no notes about dropped streams");
    try {
        app.parse(ownArgs, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? 0 : exitUsage;
    }
    if (!options.indexText.empty() && !parseIndex(options.indexText, options.index)) {
        return usageError("--index must be a whole number of 1 or more");
    }
    const int maxThreads = std::max(16, 2 * usableCores());
    if (options.encoder.threads > maxThreads) {
        return usageError("--threads " + std::to_string(options.encoder.threads) + " is refused: at most " +
                          std::to_string(maxThreads) + " (16, or twice the cores where that is more)");
    }
    if (options.check && !isBatch(options.inputs, options.list)) {
        return usageError("--check plans a batch: several inputs, a folder or --list");
    }
    if (options.inputs.size() == 1 && options.list.empty()) options.input = options.inputs.front();
    if (!options.list.empty() && !options.inputs.empty()) return usageError("--list takes the place of INPUT");
    if (options.index > 0 && options.list.empty()) return usageError("--index needs --list");
    if (!options.rawSize.empty() && (!options.inputs.empty() || !options.list.empty() || !options.output.empty())) {
        return usageError("--raw reads standard input and writes standard output; no INPUT or -o");
    }
    return -1;
}

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

bool openScript(const Options& options, const char* argv0, lua_State*& L, std::string& error) {
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
std::string defaultStillOutput(const Options& options) {
    return (fs::path("out") / fs::path(options.script).stem()).string() + ".png";
}

bool showProgress(const Options& options) { return !options.quiet && isatty(STDERR_FILENO) != 0; }

int runTestCard(const Options& options, lua_State* L) {
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

int runMedia(Options& options, lua_State* L) {
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
        for (const std::string& note : output.notes()) std::fprintf(stderr, "pelx04-run: %s\n", note.c_str());
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
    settings.progress = showProgress(options);
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

int runRaw(const Options& options, const char* argv0) {
    int width = 0;
    int height = 0;
    std::size_t frameBytes = 0;
    std::string error;
    if (!parseFrameSize(options.rawSize, width, height, frameBytes, error)) return usageError(error);
    // Refused before a byte is allocated: a size on the command line is no
    // reason to reserve gigabytes.
    if (static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) > options.maxPixels) {
        return usageError("--raw " + options.rawSize + " is past the limit of " + std::to_string(options.maxPixels) +
                          " pixels (--max-pixels raises it)");
    }
    if (isatty(STDOUT_FILENO)) return fail("standard output is a terminal; send the frames to a file or a pipe");

    // A closed downstream pipe becomes a write error reported below, not a
    // silent death by SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    // Frames own standard output: the script's print and io.write go to
    // standard error instead, so they cannot corrupt the stream.
    const int frameFd = dup(STDOUT_FILENO);
    std::FILE* frameOut = frameFd >= 0 ? fdopen(frameFd, "wb") : nullptr;
    if (frameOut == nullptr || dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        return fail(std::string("cannot set up standard output: ") + std::strerror(errno));
    }
    lua_State* L = nullptr;
    if (!openScript(options, argv0, L, error)) {
        std::fclose(frameOut);
        return fail(error);
    }
    GuardedFrame frame;
    if (!mapGuardedFrame(frameBytes, frame, error)) {
        closeScriptHost(L);
        std::fclose(frameOut);
        return fail(error);
    }
    Progress progress(showProgress(options), 0);
    long long frames = 0;
    int status = 0;
    for (;;) {
        std::size_t got = 0;
        const RawRead read = readRawFrame(stdin, frame.pixels, frameBytes, got);
        if (read == RawRead::end) break;
        if (read == RawRead::failed) {
            status = fail("cannot read frame " + std::to_string(frames) + " from standard input");
            break;
        }
        if (read == RawRead::shortFrame) {
            progress.finish(frames);
            status = fail("standard input ended inside frame " + std::to_string(frames) + ": " + std::to_string(got) +
                          " of " + std::to_string(frameBytes) + " bytes");
            break;
        }
        noteCurrentFrame(static_cast<long>(frames));
        if (!runScript(L, frame.pixels, width, height, static_cast<long>(frames), -1.0, error)) {
            progress.finish(frames);
            status = fail(error);
            break;
        }
        if (!writeRawFrame(frameOut, frame.pixels, frameBytes)) {
            progress.finish(frames);
            status = fail("cannot write frame " + std::to_string(frames) + ": " + std::strerror(errno));
            break;
        }
        ++frames;
        progress.frameDone(frames);
    }
    closeScriptHost(L);
    unmapGuardedFrame(frame);
    std::fflush(stdout);
    const bool flushed = std::fflush(frameOut) == 0;
    const int flushErrno = errno;
    const bool closed = std::fclose(frameOut) == 0;
    if (status == 0) {
        progress.finish(frames);
        if (!flushed || !closed) status = fail(std::string("cannot write frames: ") + std::strerror(flushErrno));
    }
    return status;
}

// The options every job of a batch is run with.
std::vector<std::string> jobOptions(const Options& options) {
    std::vector<std::string> args{"--max-pixels", std::to_string(options.maxPixels)};
    const auto add = [&args](const char* name, const std::string& value) {
        if (!value.empty()) args.insert(args.end(), {name, value});
    };
    add("--codec", options.encoder.codec);
    for (const std::string& option : options.encoder.options) add("--opt", option);
    if (options.encoder.crf >= 0) add("--crf", std::to_string(options.encoder.crf));
    add("--start", options.start);
    add("--duration", options.duration);
    if (options.frames >= 0) add("--frames", std::to_string(options.frames));
    if (options.sandbox) args.emplace_back("--sandbox");
    if (options.maxInstructions >= 0) add("--max-instructions", std::to_string(options.maxInstructions));
    if (options.maxMemorySet) add("--max-memory", std::to_string(options.maxMemory));
    if (options.quiet) args.emplace_back("--quiet");
    return args;
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

// Returns the batch's exit status, or -1 when this process is to run the one
// job that --index names, with INPUT and OUTPUT set to it.
int runBatchMode(Options& options) {
    BatchRequest request;
    request.inputs = options.inputs;
    request.list = options.list;
    request.index = options.index;
    request.outputFolder = options.output;
    request.script = options.script;
    request.options = jobOptions(options);
    request.scriptArgs = options.scriptArgs;
    request.jobs = options.jobs;
    request.threads = options.encoder.threads;
    request.overwrite = options.overwrite;
    request.progress = showProgress(options);
    request.checkOnly = options.check;
    BatchJob job;
    const int status = runBatchCommand(request, job);
    options.input = job.input;
    options.output = job.output;
    return status;
}

int run(int argc, char** argv) {
    Options options;
    const int parsed = parseOptions(argc, argv, options);
    if (parsed >= 0) return parsed;
    if (options.check) {
        // The script is compiled, not run: a syntax error or a missing file is
        // refused with the rest.
        std::string error;
        lua_State* L = nullptr;
        if (!openScript(options, argv[0], L, error)) {
            std::fprintf(stderr, "pelx04-run: %s\n", error.c_str());
            return exitUsage;
        }
        closeScriptHost(L);
    }
    if (isBatch(options.inputs, options.list)) {
        const int status = runBatchMode(options);
        if (status >= 0) return status;
    }
    installGuardFaultHandler("pelx04-run", removePendingOutputs);
    installOutputCleanupHandlers();
    if (options.batchParent > 0) endWithBatch(static_cast<pid_t>(options.batchParent));
    av_log_set_level(AV_LOG_ERROR);
    if (!options.rawSize.empty()) return runRaw(options, argv[0]);

    if (options.input.empty() && options.output.empty()) options.output = defaultStillOutput(options);
    std::string error;
    lua_State* L = nullptr;
    if (!openScript(options, argv[0], L, error)) return fail(error);
    // A closed pipe at OUTPUT is a write error, reported as one.
    std::signal(SIGPIPE, SIG_IGN);
    const int status = options.input.empty() ? runTestCard(options, L) : runMedia(options, L);
    closeScriptHost(L);
    return status;
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
