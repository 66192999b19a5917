#include "batch_run.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "diagnostics.hpp"
#include "fatal_signals.hpp"

extern char** environ;

namespace pelx04run {
namespace {

namespace fs = std::filesystem;

// A user's signal is passed on to the running jobs: each ends as it would
// alone, removing its temporary, and then the batch dies by the same signal.
// On a limit's, the jobs are ended with SIGTERM, then the batch dies by it. A
// fault, an abort or SIGKILL cannot be waited for: each job learns of the
// batch's death by its own parent-death signal (see runner_main).
bool isUserSignal(int signal) {
    return std::find(std::begin(userSignals), std::end(userSignals), signal) != std::end(userSignals);
}

enum class Outcome { pending, running, done, failed, skipped };

struct JobState {
    Outcome outcome = Outcome::pending;
    pid_t pid = -1;
    int messages = -1;  // the job's standard error, an unlinked temporary file
    int result = -1;    // its result channel, another: the error, if it failed
    std::string firstError;
};

// A path as an argument that can never be read as an option.
std::string asArgument(const std::string& path) { return !path.empty() && path[0] == '-' ? "./" + path : path; }

// An unlinked file that holds what a job writes to standard error.
int messageFile() {
    const char* folder = std::getenv("TMPDIR");
    const std::string dir = folder != nullptr && folder[0] != '\0' ? folder : "/tmp";
    int fd = open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
    std::string name = dir + "/pelx04-run-XXXXXX";
    fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0) unlink(name.c_str());
    return fd;
}

std::string readAll(int fd) {
    std::string text;
    char buffer[4096];
    if (lseek(fd, 0, SEEK_SET) < 0) return text;
    for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) != 0;) {
        if (got < 0) {
            if (errno == EINTR) continue;
            break;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
    return text;
}

// Reads and closes one of a job's files.
std::string takeAll(int& fd) {
    if (fd < 0) return std::string();
    std::string text = readAll(fd);
    close(fd);
    fd = -1;
    return text;
}

// A job that failed without saying why.
std::string endedBy(int status) {
    if (WIFSIGNALED(status)) return std::string("killed by signal ") + std::to_string(WTERMSIG(status));
    return "exit status " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
}

// Where the job finds its result channel.
constexpr int resultFd = 3;

class Batch {
public:
    Batch(const std::vector<BatchJob>& jobs, const RunnerOptions& options, std::string runner, int atOnce,
          int threads)
        : jobs_(jobs), options_(options), runner_(std::move(runner)), atOnce_(atOnce), threads_(threads),
          progress_(showsProgress(options)), states_(jobs.size()), started_(Clock::now()) {}

    int run();

private:
    using Clock = std::chrono::steady_clock;

    bool start(std::size_t index, const sigset_t& childMask);
    void reap(bool wait);
    void finish(std::size_t index, int status);
    void report(std::size_t index, const std::string& messages);
    void drawBar();
    void clearBar();

    const std::vector<BatchJob>& jobs_;
    const RunnerOptions& options_;
    const std::string runner_;  // this program, run once per job
    const int atOnce_;
    const int threads_;  // each job's codec threads
    const bool progress_;
    std::vector<JobState> states_;
    Clock::time_point started_;
    int running_ = 0;
    std::size_t ended_ = 0;
    std::size_t done_ = 0;
    std::size_t failed_ = 0;
    std::size_t skipped_ = 0;
    bool barShown_ = false;
    sigset_t stopSignals_;  // those not ignored when the batch began: a job starts with their defaults
};

bool Batch::start(std::size_t index, const sigset_t& childMask) {
    const BatchJob& job = jobs_[index];
    JobState& state = states_[index];
    std::vector<std::string> args{runner_,
                                  batchParentOption,
                                  std::to_string(getpid()),
                                  resultChannelOption,
                                  std::to_string(resultFd),
                                  "--threads",
                                  std::to_string(threads_)};
    args.insert(args.end(), options_.jobArguments.begin(), options_.jobArguments.end());
    args.insert(args.end(), {asArgument(job.input), "-o", asArgument(job.output)});
    if (!options_.scriptArgs.empty()) {
        args.emplace_back("--");
        args.insert(args.end(), options_.scriptArgs.begin(), options_.scriptArgs.end());
    }
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    state.messages = messageFile();
    state.result = messageFile();
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    if (state.messages >= 0) posix_spawn_file_actions_adddup2(&actions, state.messages, STDERR_FILENO);
    // Where no result channel could be made, the job's error goes to its
    // standard error with the rest.
    posix_spawn_file_actions_adddup2(&actions, state.result >= 0 ? state.result : STDERR_FILENO, resultFd);
    // The job starts with the signals this process holds back unblocked and
    // at their defaults, whatever this process inherited.
    posix_spawnattr_setsigmask(&attributes, &childMask);
    posix_spawnattr_setsigdefault(&attributes, &stopSignals_);
    // In a process group of its own, a job hears a terminal's Ctrl-C only
    // through this process, once: a second SIGINT while it removes its
    // temporary would kill it halfway.
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
    const int spawned = posix_spawn(&state.pid, runner_.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (spawned != 0) {
        state.outcome = Outcome::failed;
        state.firstError = std::string("cannot start ") + runner_ + ": " + std::strerror(spawned);
        takeAll(state.messages);
        takeAll(state.result);
        ++failed_;
        ++ended_;
        report(index, "");
        return false;
    }
    state.outcome = Outcome::running;
    ++running_;
    return true;
}

void Batch::reap(bool wait) {
    for (;;) {
        int status = 0;
        const pid_t pid = waitpid(-1, &status, wait ? 0 : WNOHANG);
        if (pid < 0 && errno == EINTR) continue;
        if (pid <= 0) return;
        for (std::size_t i = 0; i < states_.size(); ++i) {
            if (states_[i].outcome == Outcome::running && states_[i].pid == pid) finish(i, status);
        }
        if (wait && running_ == 0) return;
    }
}

void Batch::finish(std::size_t index, int status) {
    JobState& state = states_[index];
    --running_;
    ++ended_;
    std::string messages = takeAll(state.messages);
    const std::string result = takeAll(state.result);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        state.outcome = Outcome::done;
        ++done_;
    } else {
        // The error's first line is the job's line in the report; the rest
        // (a script's traceback) follows what else the job said.
        state.outcome = Outcome::failed;
        const std::size_t lineEnd = result.find('\n');
        state.firstError = result.empty() ? endedBy(status) : result.substr(0, lineEnd);
        if (lineEnd != std::string::npos) messages += result.substr(lineEnd + 1);
        ++failed_;
    }
    report(index, messages);
}

// One line per job as it ends, then what else the job said, indented.
void Batch::report(std::size_t index, const std::string& messages) {
    clearBar();
    const JobState& state = states_[index];
    const BatchJob& job = jobs_[index];
    const char* word = state.outcome == Outcome::done ? "done" : state.outcome == Outcome::skipped ? "skipped" : "FAILED";
    note("[" + std::to_string(ended_) + "/" + std::to_string(jobs_.size()) + "] " + word + " " + job.input + " -> " +
         job.output + (state.outcome == Outcome::skipped ? " (exists; --overwrite replaces it)" : "") +
         (state.outcome == Outcome::failed ? ": " + state.firstError : ""));
    std::size_t at = 0;
    while (at < messages.size()) {
        std::size_t end = messages.find('\n', at);
        if (end == std::string::npos) end = messages.size();
        std::fprintf(stderr, "    %s\n", messages.substr(at, end - at).c_str());
        at = end + 1;
    }
    drawBar();
}

void Batch::drawBar() {
    if (!progress_) return;
    constexpr std::size_t barWidth = 30;
    const std::size_t filled = jobs_.empty() ? 0 : barWidth * ended_ / jobs_.size();
    char bar[barWidth + 1];
    for (std::size_t i = 0; i < barWidth; ++i) bar[i] = i < filled ? '#' : '.';
    bar[barWidth] = '\0';
    const long long seconds = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - started_).count();
    char text[160];
    std::snprintf(text, sizeof text, "[%s] %zu/%zu files, %d running, %zu failed, %lld:%02lld", bar, ended_,
                  jobs_.size(), running_, failed_, seconds / 60, seconds % 60);
    statusLine(text, false);
    barShown_ = true;
}

void Batch::clearBar() {
    if (!barShown_) return;
    clearStatusLine();
    barShown_ = false;
}

int Batch::run() {
    // The signals are taken one at a time from the queue below, never by a
    // handler, so a signal between two checks cannot be lost.
    // A signal ignored when the batch began (a shell's background job
    // ignores SIGINT) stays ignored, by this process and its jobs.
    sigemptyset(&stopSignals_);
    const auto watch = [this](int signal) {
        struct sigaction old {};
        if (sigaction(signal, nullptr, &old) == 0 && (old.sa_flags & SA_SIGINFO) == 0 && old.sa_handler == SIG_IGN) {
            return;
        }
        sigaddset(&stopSignals_, signal);
    };
    for (int signal : userSignals) watch(signal);
    for (int signal : limitSignals) watch(signal);
    sigset_t watched = stopSignals_;
    sigaddset(&watched, SIGCHLD);
    sigset_t childMask;
    std::signal(SIGPIPE, SIG_IGN);
    // Ignored, SIGCHLD would let the kernel reap the jobs before waitpid sees them.
    std::signal(SIGCHLD, SIG_DFL);
    sigprocmask(SIG_BLOCK, &watched, &childMask);
    for (int signal : userSignals) sigdelset(&childMask, signal);
    for (int signal : limitSignals) sigdelset(&childMask, signal);
    sigdelset(&childMask, SIGCHLD);

    std::size_t next = 0;
    int stoppedBy = 0;
    drawBar();
    while (stoppedBy == 0 && (next < jobs_.size() || running_ > 0)) {
        while (running_ < atOnce_ && next < jobs_.size()) {
            const std::size_t index = next++;
            std::error_code ec;
            if (!options_.overwrite && fs::exists(fs::symlink_status(jobs_[index].output, ec))) {
                states_[index].outcome = Outcome::skipped;
                ++skipped_;
                ++ended_;
                report(index, "");
                continue;
            }
            start(index, childMask);
        }
        if (running_ == 0) continue;
        const timespec tick{0, 250 * 1000 * 1000};
        const int signal = sigtimedwait(&watched, nullptr, &tick);
        if (signal > 0 && signal != SIGCHLD) {
            stoppedBy = signal;
            for (const JobState& state : states_) {
                if (state.outcome == Outcome::running) kill(state.pid, isUserSignal(signal) ? signal : SIGTERM);
            }
            reap(true);
            break;
        }
        reap(false);
        drawBar();
    }
    clearBar();
    note(std::to_string(done_) + " done, " + std::to_string(failed_) + " failed, " + std::to_string(skipped_) +
         " skipped" +
         (stoppedBy != 0 ? ", " + std::to_string(jobs_.size() - ended_) + " not run: interrupted" : std::string()));
    for (std::size_t i = 0; i < jobs_.size(); ++i) {
        if (states_[i].outcome == Outcome::failed) note("  failed " + jobs_[i].input + ": " + states_[i].firstError);
    }
    std::fflush(stderr);
    if (stoppedBy != 0) {
        std::signal(stoppedBy, SIG_DFL);
        sigprocmask(SIG_UNBLOCK, &watched, nullptr);
        raise(stoppedBy);
    }
    sigprocmask(SIG_UNBLOCK, &watched, nullptr);
    return failed_ == 0 ? 0 : 1;
}

}  // namespace

int usableCores() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<int>(online) : 1;
}

bool isBatch(const std::vector<std::string>& inputs, const std::string& list) {
    std::error_code ec;
    return !list.empty() || inputs.size() > 1 || (inputs.size() == 1 && fs::is_directory(inputs.front(), ec));
}

namespace {

// The batch's plan, or the exit status of its refusal.
int planRequested(const RunnerOptions& options, BatchPlan& plan) {
    if (!namesFolder(options.output)) {
        return usageError("several inputs need -o naming a folder (one that exists, or a path ending in /)");
    }
    std::vector<std::string> inputs = options.inputs;
    std::string error;
    if ((!options.list.empty() && !readInputList(options.list, inputs, error)) ||
        !planBatch(inputs, options.output, options.overwrite, plan, error)) {
        return usageError(error);
    }
    if (options.index > 0 && static_cast<std::size_t>(options.index) > plan.jobs.size()) {
        return usageError("--index " + std::to_string(options.index) + ": '" + options.list + "' holds " +
                          std::to_string(plan.jobs.size()) + " inputs");
    }
    return -1;
}

int printPlan(const BatchPlan& plan) {
    for (const BatchJob& job : plan.jobs) {
        if (access(job.input.c_str(), R_OK) != 0) {
            return usageError("cannot read the input '" + job.input + "': " + std::strerror(errno));
        }
    }
    for (const BatchJob& job : plan.jobs) std::printf("%s -> %s\n", job.input.c_str(), job.output.c_str());
    return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int findListTask(const RunnerOptions& options, BatchJob& job) {
    BatchPlan plan;
    const int refused = planRequested(options, plan);
    if (refused >= 0) return refused;
    if (options.check) return printPlan(plan);
    job = plan.jobs[static_cast<std::size_t>(options.index - 1)];
    std::error_code ec;
    if (!options.overwrite && fs::exists(fs::symlink_status(job.output, ec))) {
        note("skipped " + job.input + ": '" + job.output + "' exists (--overwrite replaces it)");
        return 0;
    }
    return -1;
}

int runBatch(const RunnerOptions& options) {
    BatchPlan plan;
    const int refused = planRequested(options, plan);
    if (refused >= 0) return refused;
    if (options.check) return printPlan(plan);
    if (!plan.ignored.empty()) {
        std::string names;
        for (const std::string& name : plan.ignored) names += (names.empty() ? "" : ", ") + name;
        warn("ignored " + std::to_string(plan.ignored.size()) + " files that are not media the runner reads: " + names);
    }
    std::error_code ec;
    const int cores = usableCores();
    const int jobs = options.jobs > 0 ? options.jobs : cores;
    const int atOnce = static_cast<int>(std::min(static_cast<std::size_t>(jobs), plan.jobs.size()));
    // N jobs share the cores rather than each starting a thread per core.
    const int threads = options.encoder.threads > 0 ? options.encoder.threads : std::max(1, cores / atOnce);
    return Batch(plan.jobs, options, fs::read_symlink("/proc/self/exe", ec).string(), jobs, threads).run();
}

}  // namespace pelx04run
