// The runner's protections on their own: what --sandbox refuses, the limits,
// a filter sent past its frame, and how OUTPUT is written.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "fatal_signals.hpp"
#include "guarded_frame.hpp"
#include "media_formats.hpp"
#include "output_file.hpp"
#include "script_host.hpp"

namespace {

namespace fs = std::filesystem;
using namespace pelx04run;
using namespace pelx04host;

class ScratchDir {
public:
    ScratchDir() {
        char pattern[] = "/tmp/pelx04-units-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        if (made != nullptr) path_ = made;
    }
    ~ScratchDir() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    std::vector<std::string> names() const {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(path_)) found.push_back(entry.path().filename().string());
        return found;
    }

private:
    std::string path_;
};

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

ScriptOptions scriptOptions(const std::string& scriptPath) {
    ScriptOptions options;
    options.modulePath = PELX04_MODULE_PATH;
    options.scriptPath = scriptPath;
    options.hasCommandLine = true;
    options.scriptArgs = {"a", "b"};
    return options;
}

// Opens the host, runs three frames and returns the first error, or "".
std::string runFrames(ScriptOptions options) {
    std::string error;
    lua_State* L = openScriptHost(options, error);
    if (L == nullptr) return error;
    std::vector<unsigned char> pixels(4 * 2 * 4, 0x80);
    for (long index = 0; index < 3 && error.empty(); ++index) {
        runScript(L, pixels.data(), 4, 2, index, 1.5 + static_cast<double>(index), error);
    }
    closeScriptHost(L);
    return error;
}

struct ScriptCase {
    const char* name;
    bool sandbox;
    long maxInstructions;
    std::size_t maxMemoryBytes;
    const char* script;
    const char* expected;  // in the error, or "" when the script must run
};

const ScriptCase scriptCases[] = {
    {"io", true, 0, 0, "io.write('x')", "attempt to index global 'io' (a nil value)"},
    {"os_execute", true, 0, 0, "os.execute('true')", "attempt to call field 'execute' (a nil value)"},
    {"os_getenv", true, 0, 0, "os.getenv('HOME')", "attempt to call field 'getenv' (a nil value)"},
    {"os_remove", true, 0, 0, "os.remove('x')", "attempt to call field 'remove' (a nil value)"},
    {"require_io", true, 0, 0, "require('io')", "require of 'io' is not allowed in the sandbox"},
    {"require_string", true, 0, 0, "require 'string'", "require of 'string' is not allowed in the sandbox"},
    {"loadstring", true, 0, 0, "loadstring('return 1')", "attempt to call global 'loadstring' (a nil value)"},
    {"load", true, 0, 0, "load(function() end)", "attempt to call global 'load' (a nil value)"},
    {"loadfile", true, 0, 0, "loadfile('x')", "attempt to call global 'loadfile' (a nil value)"},
    {"dofile", true, 0, 0, "dofile('x')", "attempt to call global 'dofile' (a nil value)"},
    {"string_dump", true, 0, 0, "string.dump(print)", "attempt to call field 'dump' (a nil value)"},
    {"method_dump", true, 0, 0, "('x'):dump()", "attempt to call method 'dump' (a nil value)"},
    {"loadlib", true, 0, 0, "package.loadlib('x', 'y')", "attempt to call field 'loadlib' (a nil value)"},
    {"debug", true, 0, 0, "debug.getregistry()", "attempt to index global 'debug' (a nil value)"},
    {"newproxy", true, 0, 0, "newproxy(true)", "attempt to call global 'newproxy' (a nil value)"},
    {"allowed", true, 0, 0,
     "assert(require('pelx04') == pelx04 and pelx04.mirtRGB)\n"
     "assert(os.clock() and os.time() and os.date('%Y') and os.difftime(2, 1) == 1)",
     ""},
    {"os_exit_sandboxed", true, 0, 0, "os.exit(0)", "os.exit is not allowed"},
    {"os_exit", false, 0, 0, "os.exit(0)", "os.exit is not allowed"},
    {"unsandboxed_has_io", false, 0, 0, "assert(io.write and os.getenv and loadstring and debug)", ""},
    {"frame_and_arg", false, 0, 0,
     "assert(frame.width == 4 and frame.height == 2 and frame.time == 1.5 + frame.index)\n"
     "assert(frame.row(1) and frame.row(2) == nil and frame.row(-1) == nil)\n"
     "assert(arg[0]:match('script%.lua$') and arg[1] == 'a' and arg[2] == 'b' and select(2, ...) == 'b')",
     ""},
    {"error_place", false, 0, 0, "\nif frame.index == 1 then error('boom') end",
     "frame 1 at 2.500 s: SCRIPT:2: boom\nstack traceback:"},
    {"error_level_0", false, 0, 0, "error('boom', 0)", "frame 0 at 1.500 s: SCRIPT:1: boom"},
    {"shebang_line", false, 0, 0, "#!/usr/bin/env pelx04-run\nerror('boom')", "SCRIPT:2: boom"},
    {"endless_loop", false, 100000, 0, "while true do end", "SCRIPT:1: instruction limit of 100000 per frame reached"},
    {"loop_caught_by_pcall", true, 100000, 0, "while true do pcall(function() while true do end end) end",
     "instruction limit of 100000 per frame reached"},
    {"loop_in_coroutine", true, 100000, 0, "coroutine.wrap(function() while true do end end)()",
     "instruction limit of 100000 per frame reached"},
    {"limit_is_per_frame", true, 100000, 0, "for i = 1, 20000 do end", ""},
    {"big_table", true, 0, 8 << 20, "local t = {} for i = 1, 1e7 do t[i] = i end",
     "SCRIPT: not enough memory (the script's memory limit is 8388608 bytes)"},
    {"big_string", true, 0, 8 << 20, "local s = string.rep('x', 1e8)", "not enough memory"},
    {"memory_in_budget", true, 0, 8 << 20, "local t = {} for i = 1, 1e4 do t[i] = i end", ""},
    {"precompiled", true, 0, 0, "\033Lua\x51", "SCRIPT: precompiled chunks are not accepted"},
    // Lua's own unpack forms its count e - i + 1 in an int and writes past the stack.
    {"unpack_count_overflow", true, 0, 0, "return unpack({}, -2^31, 2^31 - 1)", "SCRIPT:1: too many results to unpack"},
    {"unpack_range", true, 0, 0,
     "local a, b = unpack({1, 2, 3}, 2)\n"
     "assert(a == 2 and b == 3 and select('#', unpack({}, 0 / 0, 1)) == 2 and select('#', unpack({}, 2^60, 2^60 - 1e3)) == 0)",
     ""},
    // Lua's matcher recurses once per item: a million of them overflow any C stack.
    {"pattern_too_deep", true, 0, 0, "string.find('aaa', ('a?'):rep(1e6))",
     "SCRIPT:1: pattern 'a?a?a?a?a?a?a?a?a?a?a?a?a?a?a?a?a?a?a?a?...' (2000000 bytes) is too complex"},
    {"pattern_method_too_deep", true, 0, 0, "for _ in ('a'):gmatch(('(a-)'):rep(3) .. ('[%]]*'):rep(1000)) do end",
     "more than the 1000 allowed"},
    {"pattern_at_the_limit", true, 0, 0,
     "local s = ('a'):rep(997)\n"
     "assert(s:gsub(('(a?)'):rep(1) .. ('a?'):rep(997), '%1') == 'a' and s:match(('%a-'):rep(998) .. '$') == s)\n"
     "assert(s:find(('a?'):rep(1e4), 1, true) == nil)",
     ""},
    // About 2^40 tries inside one call of Lua's own matcher.
    {"pattern_backtracking", true, 10000000, 0, "return ('a'):rep(40):match(('a?'):rep(40) .. ('a'):rep(40))",
     "SCRIPT:1: instruction limit of 10000000 per frame reached"},
    // Found by the sandbox's fuzzer: 2^31 rounds inside one library call, beyond the instruction count.
    {"library_loops_bounded", true, 100000, 0,
     "assert(string.rep('', 2^31 - 1) == '' and ('ab'):rep(2) == 'abab' and ('x'):rep(-2^31) == '')\n"
     "assert(select(2, pcall(table.insert, {}, -2^31, 1)):find('position out of bounds'))",
     ""},
    // Each coroutine used to be charged only when its own count ran out, so
    // many short ones, or one created in an earlier frame, ran free.
    {"coroutines_share_the_budget", true, 100000, 0,
     "for i = 1, 20 do coroutine.wrap(function() for j = 1, 20000 do end end)() end",
     "instruction limit of 100000 per frame reached"},
    {"coroutine_from_an_earlier_frame", true, 100000, 0,
     "worker = worker or coroutine.create(function() while true do for j = 1, 20000 do end coroutine.yield() end end)\n"
     "for i = 1, frame.index * 10 do local ok, message = coroutine.resume(worker) if not ok then error(message, 0) end end",
     "frame 1 at 2.500 s: SCRIPT:1: instruction limit of 100000 per frame reached"},
};

class ScriptCaseTest : public ::testing::TestWithParam<ScriptCase> {};

TEST_P(ScriptCaseTest, RunsOrFailsWithItsMessage) {
    const ScriptCase& row = GetParam();
    ScratchDir dir;
    const std::string script = dir.file("script.lua");
    writeFile(script, row.script);
    ScriptOptions options = scriptOptions(script);
    options.sandbox = row.sandbox;
    options.maxInstructions = row.maxInstructions;
    options.maxMemoryBytes = row.maxMemoryBytes;
    const std::string error = runFrames(options);
    std::string expected = row.expected;
    const std::size_t placeholder = expected.find("SCRIPT");
    if (placeholder != std::string::npos) expected.replace(placeholder, 6, script);
    if (expected.empty()) {
        EXPECT_EQ(error, "");
    } else {
        EXPECT_NE(error.find(expected), std::string::npos) << "error: " << error;
    }
}

INSTANTIATE_TEST_SUITE_P(Host, ScriptCaseTest, ::testing::ValuesIn(scriptCases),
                         [](const ::testing::TestParamInfo<ScriptCase>& info) { return info.param.name; });

// The one reader of extensions, for OUTPUT and for a batch's folders: a
// hidden file's leading dot starts its name, not an extension.
TEST(MediaFormats, ExtensionOfAPath) {
    const struct {
        const char* path;
        const char* extension;
    } cases[] = {{"clip.MKV", "mkv"},       {"a.d/clip", ""},  {"out/.mkv", ""},         {".mkv", ""},
                 {"a/.hidden.mp4", "mp4"}, {"clip.", ""},     {"shot_%04d.PNG", "png"}, {"a.tar.gz", "gz"}};
    for (const auto& c : cases) EXPECT_EQ(lowerExtension(c.path), c.extension) << c.path;
}

// The whole path a runaway filter takes: the real module, a guarded frame and
// a pending output; the run must end at once with exit 1, and the output's
// temporary must be gone, whether the signals' owner was installed before
// the output and the frame or after them.
class GuardedFrameDeathTest : public ::testing::TestWithParam<bool> {};

TEST_P(GuardedFrameDeathTest, FilterSentPastTheFrameEndsTheRun) {
    const bool installedFirst = GetParam();
    ScratchDir dir;
    const std::string script = dir.file("runaway.lua");
    writeFile(script, "pelx04.mirtRGB(frame.row(frame.height - 1), frame.width, frame.height, 1, 1, 1, 0)");
    writeFile(dir.file("out.png"), "old");
    EXPECT_EXIT(
        {
            if (installedFirst) installFatalSignalHandlers();
            OutputFile output;
            std::string error;
            GuardedFrame frame;
            if (!output.open(dir.file("out.png"), error) || !mapGuardedFrame(64 * 64 * 4, frame, error)) _exit(3);
            lua_State* L = openScriptHost(scriptOptions(script), error);
            if (L == nullptr) _exit(4);
            if (!installedFirst) installFatalSignalHandlers();
            noteCurrentFrame(7);
            runScript(L, frame.pixels, 64, 64, 7, 0.25, error);
            _exit(5);
        },
        ::testing::ExitedWithCode(1), "pelx04-run: frame 7: a filter ran past the end of the frame");
    for (const std::string& name : dir.names()) EXPECT_TRUE(name == "out.png" || name == "runaway.lua") << name;
    EXPECT_EQ(readFile(dir.file("out.png")), "old");
}

INSTANTIATE_TEST_SUITE_P(Order, GuardedFrameDeathTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "installed_first" : "installed_last");
                         });

TEST(GuardedFrame, PixelsArePageAlignedAndWritableToTheEnd) {
    for (std::size_t bytes : {std::size_t{4}, std::size_t{4096}, std::size_t{1920 * 1080 * 4}}) {
        GuardedFrame frame;
        std::string error;
        ASSERT_TRUE(mapGuardedFrame(bytes, frame, error)) << error;
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(frame.pixels) % static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE)), 0u);
        EXPECT_GE(frame.mappedBytes, 2 * bytes);
        std::memset(frame.pixels, 0xab, bytes);
        unmapGuardedFrame(frame);
        EXPECT_EQ(frame.pixels, nullptr);
    }
}

enum class Existing { nothing, regularFile, symlinkToVictim, directory };

struct OutputCase {
    const char* name;
    Existing existing;
    bool commit;
    const char* expectedError;  // from open, or ""
    const char* expectedContent;  // at OUTPUT afterwards
};

const OutputCase outputCases[] = {
    {"new_file", Existing::nothing, true, "", "new"},
    {"replaced", Existing::regularFile, true, "", "new"},
    {"abandoned_keeps_old", Existing::regularFile, false, "", "old"},
    {"abandoned_leaves_nothing", Existing::nothing, false, "", nullptr},
    {"symlink_replaced_not_followed", Existing::symlinkToVictim, true, "", "new"},
    {"directory", Existing::directory, true, "is a directory", nullptr},
};

class OutputCaseTest : public ::testing::TestWithParam<OutputCase> {};

TEST_P(OutputCaseTest, LeavesOnlyTheFinishedFile) {
    const OutputCase& row = GetParam();
    ScratchDir dir;
    const std::string path = dir.file("out.png");
    writeFile(dir.file("victim"), "victim");
    if (row.existing == Existing::regularFile) writeFile(path, "old");
    if (row.existing == Existing::symlinkToVictim) ASSERT_EQ(::symlink(dir.file("victim").c_str(), path.c_str()), 0);
    if (row.existing == Existing::directory) fs::create_directory(path);

    std::string error;
    {
        OutputFile output;
        const bool opened = output.open(path, error);
        if (*row.expectedError != '\0') {
            EXPECT_FALSE(opened);
            EXPECT_NE(error.find(row.expectedError), std::string::npos) << error;
        } else {
            ASSERT_TRUE(opened) << error;
            EXPECT_NE(output.writePath(), path);
            EXPECT_EQ(fs::path(output.writePath()).parent_path(), fs::path(path).parent_path());
            ASSERT_EQ(::write(output.fd(), "new", 3), 3);
            // Until the commit, OUTPUT is what it was.
            if (row.existing == Existing::regularFile) EXPECT_EQ(readFile(path), "old");
            if (row.commit) ASSERT_TRUE(output.commit(error)) << error;
        }
    }
    EXPECT_EQ(readFile(dir.file("victim")), "victim");
    if (row.expectedContent != nullptr) {
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(path)));
        EXPECT_EQ(readFile(path), row.expectedContent);
    } else if (row.existing == Existing::nothing) {
        EXPECT_FALSE(fs::exists(fs::symlink_status(path)));
    }
    for (const std::string& name : dir.names()) EXPECT_TRUE(name == "out.png" || name == "victim") << name;
}

INSTANTIATE_TEST_SUITE_P(Output, OutputCaseTest, ::testing::ValuesIn(outputCases),
                         [](const ::testing::TestParamInfo<OutputCase>& info) { return info.param.name; });

TEST(OutputFile, DeviceIsWrittenDirectlyAndStaysADevice) {
    OutputFile output;
    std::string error;
    ASSERT_TRUE(output.open("/dev/null", error)) << error;
    EXPECT_EQ(output.writePath(), "/dev/null");
    EXPECT_EQ(::write(output.fd(), "new", 3), 3);
    ASSERT_TRUE(output.commit(error)) << error;
    struct stat status;
    ASSERT_EQ(::stat("/dev/null", &status), 0);
    EXPECT_TRUE(S_ISCHR(status.st_mode));
}

// .NAME.<96 random bits in hex>.part beside OUTPUT: nothing of the process
// (its id, a count) that another user could guess, and never the same twice.
TEST(OutputFile, TemporaryNamesCannotBeGuessed) {
    ScratchDir dir;
    const std::regex shape(std::regex_replace(dir.file(""), std::regex("[.]"), "[.]") + "[.]out[.]png[.]([0-9a-f]{24})[.]part");
    std::set<std::string> suffixes;
    for (int i = 0; i < 8; ++i) {
        OutputFile output;
        std::string error;
        ASSERT_TRUE(output.open(dir.file("out.png"), error)) << error;
        std::smatch match;
        ASSERT_TRUE(std::regex_match(output.writePath(), match, shape)) << output.writePath();
        suffixes.insert(match[1]);
    }
    EXPECT_EQ(suffixes.size(), 8u);
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool sanitizerHandlesFaults = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool sanitizerHandlesFaults = true;
#else
constexpr bool sanitizerHandlesFaults = false;
#endif
#else
constexpr bool sanitizerHandlesFaults = false;
#endif

// A run stopped by a signal removes its temporary and dies by that signal, as
// a shell expects of an interrupted command. A sanitizer reports a fault
// signal itself and exits; the temporary must be gone all the same.
TEST(OutputFile, SignalRemovesTheTemporary) {
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGABRT, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGXCPU, SIGXFSZ,
                       SIGSEGV, SIGBUS}) {
        ScratchDir dir;
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(ready[0]);
            installFatalSignalHandlers();
            OutputFile output;
            std::string error;
            if (!output.open(dir.file("out.png"), error)) _exit(3);
            if (::write(ready[1], "x", 1) != 1) _exit(4);
            for (;;) ::pause();
        }
        ::close(ready[1]);
        char byte = 0;
        ASSERT_EQ(::read(ready[0], &byte, 1), 1);
        ::close(ready[0]);
        EXPECT_EQ(dir.names().size(), 1u);
        ::kill(child, signal);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        const bool sanitizerExit = sanitizerHandlesFaults && (signal == SIGSEGV || signal == SIGBUS) &&
                                   WIFEXITED(status) && WEXITSTATUS(status) != 0;
        EXPECT_TRUE((WIFSIGNALED(status) && WTERMSIG(status) == signal) || sanitizerExit)
            << "signal " << signal << ", status " << status;
        EXPECT_TRUE(dir.names().empty()) << "signal " << signal;
    }
}

}  // namespace
