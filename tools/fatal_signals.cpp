#include "fatal_signals.hpp"

#include <atomic>
#include <cstring>

#include <pthread.h>
#include <unistd.h>

#include "diagnostics.hpp"
#include "guarded_frame.hpp"
#include "pending_cleanup.hpp"

namespace pelx04run {

using namespace pelx04host;

namespace {

// Every signal from outside that ends the process, and SIGABRT: all but the
// faults, which are handled as they are raised.
sigset_t endingSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : userSignals) sigaddset(&set, signal);
    for (int signal : limitSignals) sigaddset(&set, signal);
    sigaddset(&set, SIGABRT);
    return set;
}
// Faults raised by the instruction that fails: never blocked (a blocked
// fault kills at once).
constexpr int faultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS};
constexpr std::size_t faultCount = sizeof faultSignals / sizeof faultSignals[0];

// What each fault signal did before: a sanitizer's report, or the default.
struct sigaction previousFaultActions[faultCount];

bool isFaultSignal(int signal, std::size_t& index) {
    for (index = 0; index < faultCount; ++index) {
        if (faultSignals[index] == signal) return true;
    }
    return false;
}

void endGuardedRun() {
    char message[256];
    const std::size_t length = describeGuardFault(message, sizeof message);
    failInSignalHandler(message, length);
    removePendingOutputs();
    _exit(exitFailure);
}

// Passes a fault on to what handled it before.
void passFaultOn(const struct sigaction& previous, int signal, siginfo_t* info, void* context) {
    if ((previous.sa_flags & SA_SIGINFO) != 0 && previous.sa_sigaction != nullptr) {
        previous.sa_sigaction(signal, info, context);
        return;
    }
    if ((previous.sa_flags & SA_SIGINFO) == 0 && previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
        previous.sa_handler(signal);
        return;
    }
    // The handler reset itself to the default: a fault from an instruction
    // happens again when we return, and kills; one sent by kill is sent again.
    if (info != nullptr && info->si_code > 0) return;
    std::raise(signal);
}

void onFatalSignal(int signal, siginfo_t* info, void* context) {
    std::size_t index = 0;
    const bool fault = isFaultSignal(signal, index);
    if (fault && info != nullptr && info->si_code > 0 && inLiveGuard(info->si_addr)) endGuardedRun();
    removePendingOutputs();
    if (fault) {
        passFaultOn(previousFaultActions[index], signal, info, context);
        return;
    }
    // The handler was installed to reset itself and not to block its signal,
    // so this ends the process by the signal itself, as the caller expects.
    std::raise(signal);
}

void installHandler(int signal, struct sigaction* previous) {
    struct sigaction old;
    if (::sigaction(signal, nullptr, &old) != 0) return;
    if (!(old.sa_flags & SA_SIGINFO) && old.sa_handler == SIG_IGN) return;
    if (previous != nullptr) *previous = old;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_sigaction = onFatalSignal;
    sigemptyset(&action.sa_mask);
    // On the alternate stack where a thread has one: a fault from a stack
    // overflow has no stack left to run a handler on.
    action.sa_flags = static_cast<int>(SA_SIGINFO | SA_RESETHAND | SA_NODEFER | SA_ONSTACK);
    ::sigaction(signal, &action, nullptr);
}

}  // namespace

void installFatalSignalHandlers() {
    static std::atomic<bool> installed{false};
    if (installed.exchange(true)) return;
    const sigset_t ending = endingSignals();
    for (int signal = 1; signal < SIGRTMIN; ++signal) {
        if (sigismember(&ending, signal) == 1) installHandler(signal, nullptr);
    }
    for (std::size_t i = 0; i < faultCount; ++i) installHandler(faultSignals[i], &previousFaultActions[i]);
}

EndingSignalsBlocked::EndingSignalsBlocked() {
    const sigset_t set = endingSignals();
    pthread_sigmask(SIG_BLOCK, &set, &saved_);
}

EndingSignalsBlocked::~EndingSignalsBlocked() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }

}  // namespace pelx04run
