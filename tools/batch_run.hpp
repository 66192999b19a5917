// Runs the jobs of a batch, each as its own runner process (its own Lua state
// and library state, so its output is that of a single run), a few at a time.
#pragma once

#include <string>
#include <vector>

#include "batch_plan.hpp"
#include "runner_options.hpp"

namespace pelx04run {

// Several inputs, a folder or a list.
bool isBatch(const std::vector<std::string>& inputs, const std::string& list);

// The cores this process may run on.
int usableCores();

// Plans the batch and refuses it (exit status 2) before anything runs when
// it must be; then runs it and returns its exit status: 0 when every job
// succeeded or was skipped, 1 when any failed. With --check, also refuses an
// input that cannot be read, then writes "INPUT -> OUTPUT" for each job to
// standard output and returns 0.
//
// On SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1 or SIGUSR2 the running jobs get
// the same signal (each removes its temporary); on another signal that ends a
// process (SIGALRM, SIGXCPU...) they get SIGTERM; then this process dies by
// the signal. Each job is told this process's id, to end when it ends, and
// reports its error through a channel of its own.
int runBatch(const RunnerOptions& options);

// The list's job that --index names: returns -1 with `job` set when this
// process is to run it, otherwise the exit status (0 when it is skipped, 2
// when the list is refused).
int findListTask(const RunnerOptions& options, BatchJob& job);

}  // namespace pelx04run
