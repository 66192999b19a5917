// The runner's one owner of the signals that end a process. Installed once,
// before or after any output or frame exists, it handles every such signal
// the same way:
// - a fault inside a frame's guard (a filter the script sent past its frame)
//   is the run's error: its message goes where the run's errors go, the
//   pending outputs are removed, and the process exits with status 1;
// - any other fault (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS) removes
//   the pending outputs and goes on to the handler installed before (a
//   sanitizer's report) or the default death;
// - the signals from outside (the lists below) and SIGABRT (FFmpeg's
//   libraries abort on a failed internal assertion, which a crafted file can
//   reach) remove the pending outputs, then the process dies by the same
//   signal.
// A signal ignored when the runner started (nohup, a background job) stays
// ignored. SIGPIPE is the runner's to ignore; real-time signals are left to
// whoever uses them; SIGKILL and SIGSTOP cannot be handled.
#pragma once

#include <csignal>

namespace pelx04run {

// The signals from outside whose default action ends a process: those a
// user or a parent sends, which a batch passes on to its jobs, and the
// others (time and file-size limits).
constexpr int userSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2};
constexpr int limitSignals[] = {SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU, SIGXFSZ};

void installFatalSignalHandlers();

// Holds back the signals from outside while something to remove is made and
// recorded, so that none is ever left unrecorded.
class EndingSignalsBlocked {
public:
    EndingSignalsBlocked();
    ~EndingSignalsBlocked();
    EndingSignalsBlocked(const EndingSignalsBlocked&) = delete;
    EndingSignalsBlocked& operator=(const EndingSignalsBlocked&) = delete;

private:
    sigset_t saved_;
};

}  // namespace pelx04run
