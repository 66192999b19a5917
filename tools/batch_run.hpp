// Runs the jobs of a batch, each as its own runner process (its own Lua state
// and library state, so its output is that of a single run), a few at a time.
#pragma once

#include <string>
#include <vector>

#include "batch_plan.hpp"

namespace pelx04run {

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
// any failed. On SIGINT, SIGTERM or SIGHUP the running jobs get the same
// signal (each removes its temporary), and this process dies by it.
int runBatch(const std::vector<BatchJob>& jobs, const BatchSettings& settings);

}  // namespace pelx04run
