#include "runner_options.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

#include <CLI/CLI.hpp>

#include "batch_run.hpp"
#include "diagnostics.hpp"
#include "media_formats.hpp"

namespace pelx04run {
namespace {

// Everything after "--" belongs to the script, as with lua's own command
// line. Returns the number of arguments that are the runner's own.
int splitScriptArguments(int argc, char** argv, RunnerOptions& options) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) {
            options.scriptArgs.assign(argv + i + 1, argv + argc);
            return i;
        }
    }
    return argc;
}

// What a batch answers itself, so that its jobs are run without them.
struct BatchOnly {
    std::vector<const CLI::Option*> options;
    const CLI::Option* inputs = nullptr;

    bool has(const CLI::Option* option) const {
        return std::find(options.begin(), options.end(), option) != options.end();
    }
};

// The one table of the runner's options.
BatchOnly defineOptions(CLI::App& app, RunnerOptions& options, std::string& indexText) {
    BatchOnly batchOnly;
    app.footer(formatsHelp());
    app.set_version_flag("--version", std::string(programName) + " " + PELX04_VERSION);
    app.add_option("SCRIPT", options.script, "the Lua script run on every frame")->required();
    batchOnly.inputs =
        app.add_option("INPUT", options.inputs,
                       "a video, an image sequence (shot_%04d.png) or an image; without it, a 1920x1080 test card; "
                       "several, or a folder, run as a batch into -o FOLDER/")
            ->expected(0, CLI::detail::expected_max_vector_size);
    batchOnly.options.push_back(
        app.add_option("-o,--output", options.output,
                       std::string("the file to write; its extension chooses the container (default for a "
                                   "still: out/<script name>.") + defaultStillExtension + ")"));
    app.add_option("--raw", options.rawSize,
                   "read raw BGRA frames of WIDTHxHEIGHT from standard input, write them to standard output");
    app.add_option("--codec", options.encoder.codec,
                   "the video encoder (default " + defaultEncodersText() + ")");
    app.add_option("--crf", options.encoder.crf, "the encoder's constant quality (default " + defaultQualitiesText() + ")")
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
    batchOnly.options.push_back(
        app.add_option("-j,--jobs", options.jobs, "a batch's jobs at once (default: one per core)")
            ->check(CLI::PositiveNumber));
    batchOnly.options.push_back(app.add_flag(
        "--overwrite", options.overwrite, "in a batch, run the jobs whose output exists too (else skipped)"));
    batchOnly.options.push_back(
        app.add_option("--list", options.list, "run a batch over the inputs of this file, one path a line"));
    batchOnly.options.push_back(app.add_option(
        "--index", indexText, "run only the Nth input of --list (1 for the first), as a cluster array task does"));
    batchOnly.options.push_back(
        app.add_flag("--check", options.check,
                     "plan a batch and check its script and inputs, print each INPUT -> OUTPUT and run nothing "
                     "(exit 2 on a refusal)"));
    batchOnly.options.push_back(
        app.add_option("--threads", options.encoder.threads,
                       "threads for the decoder and for the encoder, at most 16 or twice the cores (default: "
                       "libavcodec's choice; a batch divides the cores among its jobs)")
            ->check(CLI::NonNegativeNumber)
            ->each([&options](const std::string&) { options.threadsGiven = true; }));
    app.add_flag("-q,--quiet", options.quiet, "no progress bar and no notes about dropped streams");
    // What a batch tells each job; not for users.
    batchOnly.options.push_back(app.add_option(batchParentOption, options.batchParent)->group(""));
    batchOnly.options.push_back(app.add_option(resultChannelOption, options.resultChannel)->group(""));
    return batchOnly;
}

// The option a word names, or null. A single dash and one letter is a short
// option; "--name" and "--name=value" a long one.
const CLI::Option* optionNamed(const CLI::App& app, const std::string& word) {
    if (word.size() < 2 || word[0] != '-') return nullptr;
    return app.get_option_no_throw(word.substr(0, word.find('=')));
}

bool takesValue(const CLI::Option* option) { return option->get_items_expected_max() > 0; }

// The user's own arguments, word by word, less INPUT and the batch's own
// options with their values. A cluster of short options (-qj2) is taken
// apart, so that each keeps or loses its own value.
std::vector<std::string> jobArguments(const CLI::App& app, const BatchOnly& batchOnly, int ownArgs, char** argv) {
    std::vector<std::string> kept;
    bool scriptSeen = false;
    for (int i = 1; i < ownArgs; ++i) {
        const std::string word = argv[i];
        const bool longOption = word.rfind("--", 0) == 0;
        if (longOption || (word.size() > 1 && word[0] == '-')) {
            std::vector<std::string> parts;  // one option and its value
            const CLI::Option* option = nullptr;
            if (longOption) {
                option = optionNamed(app, word);
                parts.push_back(word);
                if (option != nullptr && takesValue(option) && word.find('=') == std::string::npos && i + 1 < ownArgs) {
                    parts.emplace_back(argv[++i]);
                }
                if (option == nullptr || !batchOnly.has(option)) kept.insert(kept.end(), parts.begin(), parts.end());
                continue;
            }
            for (std::size_t c = 1; c < word.size(); ++c) {
                const std::string name = std::string("-") + word[c];
                option = optionNamed(app, name);
                parts = {name};
                if (option != nullptr && takesValue(option)) {
                    if (c + 1 < word.size()) {
                        parts.push_back(word.substr(c + 1));
                    } else if (i + 1 < ownArgs) {
                        parts.emplace_back(argv[++i]);
                    }
                    c = word.size();
                }
                if (option == nullptr || !batchOnly.has(option)) kept.insert(kept.end(), parts.begin(), parts.end());
            }
            continue;
        }
        // A word of its own: SCRIPT, then the inputs.
        if (!scriptSeen) kept.push_back(word);
        scriptSeen = true;
    }
    return kept;
}

// Digits alone, 1 or more, and within range.
bool parseIndex(const std::string& text, long long& index) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    index = std::strtoll(text.c_str(), nullptr, 10);
    return errno == 0 && index >= 1;
}

// What the parser alone cannot refuse: bounds and options that do not go together.
int checkOptions(RunnerOptions& options, const std::string& indexText) {
    if (!indexText.empty() && !parseIndex(indexText, options.index)) {
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

}  // namespace

int parseOptions(int argc, char** argv, RunnerOptions& options) {
    const int ownArgs = splitScriptArguments(argc, argv, options);
    CLI::App app("pelx04-run [OPTIONS] SCRIPT INPUT -o OUTPUT [-- SCRIPT ARGS...]\n"
                 "pelx04-run [OPTIONS] SCRIPT [IMAGE] [-o OUTPUT.png]\n"
                 "pelx04-run --raw WIDTHxHEIGHT [OPTIONS] SCRIPT\n\n"
                 "Runs the Lua SCRIPT once per frame with pelx04 loaded and the global table\n"
                 "frame = {data, width, height, index, time, row(y)}, and writes the frames it leaves.",
                 programName);
    std::string indexText;
    const BatchOnly batchOnly = defineOptions(app, options, indexText);
    try {
        app.parse(ownArgs, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? 0 : exitUsage;
    }
    const int checked = checkOptions(options, indexText);
    if (checked >= 0) return checked;
    if (isBatch(options.inputs, options.list)) options.jobArguments = jobArguments(app, batchOnly, ownArgs, argv);
    return -1;
}

bool showsProgress(const RunnerOptions& options) { return !options.quiet && isatty(STDERR_FILENO) != 0; }

}  // namespace pelx04run
