// Runs the jobs of a batch, each as its own runner process (its own Lua state
// and library state, so its output is that of a single run), a few at a time.
#pragma once

#include <string>
#include <vector>

#include "batch_plan.hpp"

namespace pelx04run {

// A batch as the command line asks for it.
struct BatchRequest {
    std::vector<std::string> inputs;      // files and folders
    std::string list;                     // or a file naming them, one a line
    long long index = 0;                  // > 0: only the list's Nth input, run by this process
    std::string outputFolder;
    std::string script;
    std::vector<std::string> options;     // the runner's options for every job, without INPUT, -o and --threads
    std::vector<std::string> scriptArgs;  // after "--"
    int jobs = 0;                         // at once; 0: one per core
    int threads = 0;                      // each job's codec threads; 0: the cores divided among the jobs
    bool overwrite = false;
    bool progress = false;
    bool checkOnly = false;               // plan and check, print the plan, run nothing
};

// Several inputs, a folder or a list.
bool isBatch(const std::vector<std::string>& inputs, const std::string& list);

// Plans the batch and refuses it (exit status 2) before anything runs when
// it must be; then runs it and returns its exit status. With `index`, returns
// -1 and the one job this process is to run itself, or 0 when it is skipped.
// With `checkOnly`, also refuses an input that cannot be read, then writes
// "INPUT -> OUTPUT" for each job to standard output and returns 0.
int runBatchCommand(const BatchRequest& request, BatchJob& ownJob);

struct BatchSettings {
    std::string runner;                   // this program, run once per job
    std::vector<std::string> options;     // the runner's options for every job, without INPUT and -o
    std::string script;
    std::vector<std::string> scriptArgs;  // after "--"
    int jobs = 0;                         // at once; 0: one per core
    bool overwrite = false;               // else a job whose output exists is skipped
    bool progress = false;                // one bar for the whole batch on standard error
};

// The cores this process may run on.
int usableCores();

// Returns the exit status: 0 when every job succeeded or was skipped, 1 when
// any failed. On SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1 or SIGUSR2 the
// running jobs get the same signal (each removes its temporary); on another
// signal that ends a process (SIGALRM, SIGXCPU...) they get SIGTERM; then this
// process dies by the signal. Each job is passed --batch-parent with this
// process's id.
int runBatch(const std::vector<BatchJob>& jobs, const BatchSettings& settings);

}  // namespace pelx04run
