// The runner's command line, parsed once into one struct that every part of
// the runner reads, a batch included.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "media_input.hpp"
#include "media_output.hpp"

namespace pelx04run {

struct RunnerOptions {
    std::string script;
    std::vector<std::string> inputs;  // as given: files, folders, a sequence pattern
    std::string input;                // the one input of a single run, or empty for the test card
    std::string output;
    std::string rawSize;
    std::vector<std::string> scriptArgs;  // after "--"
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

    // A batch's own options.
    std::string list;
    long long index = 0;  // > 0: only the list's Nth input, run by this process
    int jobs = 0;         // at once; 0: one per core
    bool overwrite = false;
    bool check = false;
    // The user's own arguments less the inputs, -o and the options above
    // (and --threads, which the batch sets for each job): what every job of
    // a batch runs with, before its INPUT and -o OUTPUT.
    std::vector<std::string> jobArguments;
    bool threadsGiven = false;

    // Given by a batch to each of its jobs.
    long long batchParent = 0;  // the batch's process id
    int resultChannel = -1;     // where the job's error goes
};

// Returns -1 when the options are good and the runner is to go on, otherwise
// the exit status (0 after --help or --version).
int parseOptions(int argc, char** argv, RunnerOptions& options);

// The progress bar: on a terminal, without --quiet.
bool showsProgress(const RunnerOptions& options);

// The option a batch gives each job: its own process id, and the descriptor
// of the job's result channel.
constexpr const char* batchParentOption = "--batch-parent";
constexpr const char* resultChannelOption = "--batch-result";

}  // namespace pelx04run
