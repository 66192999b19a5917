// pelx04-run: a small stand-in for a host application. It loads frames, hands
// each to a Lua script that has pelx04 required, and writes the results.
//
//   pelx04-run [--quiet] SCRIPT [INPUT] [-o OUTPUT]   one image (or the test card) to a PNG
//   pelx04-run --raw WIDTHxHEIGHT [--quiet] SCRIPT    raw BGRA frames, stdin to stdout
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "image_io.hpp"
#include "raw_stream.hpp"
#include "script_host.hpp"
#include "test_card.hpp"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#define pelx04Dup _dup
#define pelx04Dup2 _dup2
#define pelx04Fdopen _fdopen
#define pelx04Isatty _isatty
#define pelx04Fileno _fileno
#else
#include <csignal>
#include <unistd.h>
#define pelx04Dup dup
#define pelx04Dup2 dup2
#define pelx04Fdopen fdopen
#define pelx04Isatty isatty
#define pelx04Fileno fileno
#endif

namespace {

namespace fs = std::filesystem;
using namespace pelx04run;

constexpr int exitFailure = 1;
constexpr int exitUsage = 2;

const char synopsisText[] =
    "usage: pelx04-run [--quiet] SCRIPT [INPUT] [-o OUTPUT]\n"
    "       pelx04-run --raw WIDTHxHEIGHT [--quiet] SCRIPT\n";

const char helpText[] =
    "\n"
    "Runs the Lua SCRIPT once per frame with pelx04 required and the global table\n"
    "frame = {data, width, height, index, row(y)}.\n"
    "\n"
    "  INPUT            a PNG, JPEG, BMP or TGA image; without it, a 1920x1080 test card\n"
    "  -o OUTPUT        the PNG to write (default out/<script name>.png)\n"
    "  --raw WxH        read raw BGRA frames of W x H pixels from standard input until it\n"
    "                   ends and write each processed frame to standard output\n"
    "  -q, --quiet      no progress report in --raw mode\n";

struct Options {
    std::string script;
    std::string input;
    std::string output;
    std::string rawSize;
    bool raw = false;
    bool quiet = false;
};

int fail(const std::string& message) {
    std::fprintf(stderr, "pelx04-run: %s\n", message.c_str());
    return exitFailure;
}

int usageError(const std::string& message) {
    std::fprintf(stderr, "pelx04-run: %s\n%s", message.c_str(), synopsisText);
    return exitUsage;
}

// Returns -1 when the options are good, otherwise the exit code.
int parseOptions(int argc, char** argv, Options& options) {
    std::vector<std::string> positional;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            positional.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "-h" || arg == "--help") {
            std::fputs(synopsisText, stdout);
            std::fputs(helpText, stdout);
            return 0;
        } else if (arg == "-q" || arg == "--quiet") {
            options.quiet = true;
        } else if (arg == "-o" || arg == "--output" || arg == "--raw") {
            if (i + 1 >= argc) return usageError(arg + " needs a value");
            (arg == "--raw" ? options.rawSize : options.output) = argv[++i];
            if (arg == "--raw") options.raw = true;
        } else {
            return usageError("unknown option '" + arg + "'");
        }
    }
    if (positional.empty()) return usageError("no script given");
    options.script = positional[0];
    if (options.raw) {
        if (positional.size() > 1 || !options.output.empty()) {
            return usageError("--raw reads standard input and writes standard output; no INPUT or -o");
        }
    } else {
        if (positional.size() > 2) return usageError("too many arguments");
        if (positional.size() == 2) options.input = positional[1];
        if (options.output.empty()) {
            options.output = (fs::path("out") / fs::path(options.script).stem()).string() + ".png";
        }
    }
    return -1;
}

// The module built or installed beside the runner: <exe dir>/../lua/pelx04.so.
std::string modulePath(const char* argv0) {
    fs::path exe;
#ifdef _WIN32
    char buffer[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    if (length > 0 && length < MAX_PATH) exe = fs::path(std::string(buffer, length));
    const char* suffix = "pelx04.dll";
#else
    std::error_code ec;
    exe = fs::read_symlink("/proc/self/exe", ec);
    const char* suffix = "pelx04.so";
#endif
    if (exe.empty()) {
        std::error_code ignored;
        exe = fs::absolute(fs::path(argv0), ignored);
    }
    const fs::path dir = (exe.parent_path() / ".." / "lua").lexically_normal();
    return (dir / suffix).string();
}

ScriptOptions scriptOptions(const Options& options, const std::string& module) {
    ScriptOptions script;
    script.modulePath = module;
    script.scriptPath = options.script;
    return script;
}

int runImage(const Options& options, const std::string& module) {
    std::string error;
    lua_State* L = openScriptHost(scriptOptions(options, module), error);
    if (L == nullptr) return fail(error);

    Frame frame;
    const bool loaded = options.input.empty() ? makeTestCard(frame) : loadImage(options.input, frame, error);
    if (!loaded) {
        closeScriptHost(L);
        return fail(options.input.empty() ? "out of memory making the test card" : error);
    }
    const bool ran = runScript(L, frame.bytes(), frame.width, frame.height, 0, 0.0, error);
    closeScriptHost(L);
    std::fflush(stdout);
    if (!ran) return fail(error);
    if (!saveFrame(options.output, frame, error)) return fail(error);
    return 0;
}

class Progress {
public:
    explicit Progress(bool shown) : shown_(shown), start_(Clock::now()), last_(start_) {}

    void frameDone(unsigned long long frames) {
        if (!shown_) return;
        const Clock::time_point now = Clock::now();
        if (now - last_ < std::chrono::milliseconds(250)) return;
        last_ = now;
        print(frames, now, "");
    }

    void finish(unsigned long long frames) {
        if (shown_) print(frames, Clock::now(), "\n");
    }

private:
    using Clock = std::chrono::steady_clock;

    void print(unsigned long long frames, Clock::time_point now, const char* end) {
        const double seconds = std::chrono::duration<double>(now - start_).count();
        const double fps = seconds > 0 ? static_cast<double>(frames) / seconds : 0.0;
        std::fprintf(stderr, "\rpelx04-run: %llu frames, %.1f fps%s", frames, fps, end);
        std::fflush(stderr);
    }

    bool shown_;
    Clock::time_point start_;
    Clock::time_point last_;
};

int runRaw(const Options& options, const std::string& module) {
    int width = 0;
    int height = 0;
    std::size_t frameBytes = 0;
    std::string error;
    if (!parseFrameSize(options.rawSize, width, height, frameBytes, error)) return usageError(error);

    if (pelx04Isatty(pelx04Fileno(stdout))) {
        return fail("standard output is a terminal; send the frames to a file or a pipe");
    }
    Frame frame;
    if (!resizeFrame(frame, width, height)) return fail("cannot hold a frame of " + options.rawSize + " pixels");

#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
#else
    // A closed downstream pipe becomes a write error reported below, not a
    // silent death by SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    // Frames own standard output: the script's print and io.write go to
    // standard error instead, so they cannot corrupt the stream.
    const int frameFd = pelx04Dup(pelx04Fileno(stdout));
    std::FILE* frameOut = frameFd >= 0 ? pelx04Fdopen(frameFd, "wb") : nullptr;
    if (frameOut == nullptr || pelx04Dup2(pelx04Fileno(stderr), pelx04Fileno(stdout)) < 0) {
        return fail(std::string("cannot set up standard output: ") + std::strerror(errno));
    }
    const bool showProgress = !options.quiet && pelx04Isatty(pelx04Fileno(stderr));

    lua_State* L = openScriptHost(scriptOptions(options, module), error);
    if (L == nullptr) {
        std::fclose(frameOut);
        return fail(error);
    }
    Progress progress(showProgress);
    unsigned long long frames = 0;
    int status = 0;
    for (;;) {
        std::size_t got = 0;
        const RawRead read = readRawFrame(stdin, frame.bytes(), frameBytes, got);
        if (read == RawRead::end) break;
        if (read == RawRead::failed) {
            status = fail("cannot read frame " + std::to_string(frames) + " from standard input");
            break;
        }
        if (read == RawRead::shortFrame) {
            progress.finish(frames);
            status = fail("standard input ended inside frame " + std::to_string(frames) + ": " +
                          std::to_string(got) + " of " + std::to_string(frameBytes) + " bytes");
            break;
        }
        if (!runScript(L, frame.bytes(), width, height, static_cast<long>(frames), -1.0, error)) {
            progress.finish(frames);
            status = fail(error);
            break;
        }
        if (!writeRawFrame(frameOut, frame.bytes(), frameBytes)) {
            progress.finish(frames);
            status = fail("cannot write frame " + std::to_string(frames) + ": " + std::strerror(errno));
            break;
        }
        ++frames;
        progress.frameDone(frames);
    }
    closeScriptHost(L);
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

}  // namespace

int main(int argc, char** argv) {
    try {
        Options options;
        const int parsed = parseOptions(argc, argv, options);
        if (parsed >= 0) return parsed;
        const std::string module = modulePath(argv[0]);
        return options.raw ? runRaw(options, module) : runImage(options, module);
    } catch (const std::bad_alloc&) {
        return fail("out of memory");
    } catch (const std::exception& e) {
        return fail(e.what());
    }
}
