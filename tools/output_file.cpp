#include "output_file.hpp"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include <fcntl.h>
#include <pthread.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pelx04run {
namespace {

// The temporaries a signal handler must remove. A slot's path is written only
// while its sequence number is odd; the handler copies it and uses the copy
// only if the number was even and unchanged around the copy, so it never
// removes a half-written path. Characters are atomics so that the copy is not
// a data race.
struct PendingSlot {
    std::atomic<unsigned> sequence{0};
    std::atomic<bool> live{false};
    std::atomic<int> folders{0};  // 0: a temporary file; n: a folder and the n - 1 above it, all made for an output
    std::atomic<char> path[PATH_MAX];
};

// Room for many outputs in flight, each with a temporary and the folders
// made for it.
constexpr int slotCount = 64;
PendingSlot pendingSlots[slotCount];

// Claims a free slot for `path`, or returns -1 when all are taken.
int claimSlot(const std::string& path, int folders = 0) {
    if (path.size() >= PATH_MAX) return -1;
    for (int i = 0; i < slotCount; ++i) {
        unsigned expected = pendingSlots[i].sequence.load(std::memory_order_acquire);
        if ((expected & 1u) != 0 || pendingSlots[i].live.load(std::memory_order_relaxed)) continue;
        // Odd while we own it for writing; another thread claiming the same
        // slot fails the exchange.
        if (!pendingSlots[i].sequence.compare_exchange_strong(expected, expected + 1, std::memory_order_acq_rel)) {
            continue;
        }
        for (std::size_t c = 0; c < path.size(); ++c) {
            pendingSlots[i].path[c].store(path[c], std::memory_order_relaxed);
        }
        pendingSlots[i].path[path.size()].store('\0', std::memory_order_relaxed);
        pendingSlots[i].folders.store(folders, std::memory_order_relaxed);
        pendingSlots[i].live.store(true, std::memory_order_relaxed);
        pendingSlots[i].sequence.fetch_add(1, std::memory_order_release);
        return i;
    }
    return -1;
}

void releaseSlot(int slot) {
    if (slot < 0) return;
    pendingSlots[slot].sequence.fetch_add(1, std::memory_order_acq_rel);
    pendingSlots[slot].live.store(false, std::memory_order_relaxed);
    pendingSlots[slot].sequence.fetch_add(1, std::memory_order_release);
}

// Signals whose default action ends the process and that arrive from
// outside: a user, a parent, a time or file-size limit. They are blocked while
// a temporary is created and recorded, so that none is ever left unrecorded.
// SIGPIPE is not among them: the runner ignores it and reports the write
// error. Real-time signals are left to whoever uses them.
constexpr int endingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM,
                                 SIGVTALRM, SIGPROF, SIGXCPU, SIGXFSZ, SIGABRT};
// Faults raised by the instruction that fails: not blocked (a blocked fault
// kills at once), and passed on to a handler installed before ours (the
// guard's, a sanitizer's) once the temporaries are gone.
constexpr int faultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS};

class CleanupSignalsBlocked {
public:
    CleanupSignalsBlocked() {
        sigset_t set;
        sigemptyset(&set);
        for (int signal : endingSignals) sigaddset(&set, signal);
        pthread_sigmask(SIG_BLOCK, &set, &saved_);
    }
    ~CleanupSignalsBlocked() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }
    CleanupSignalsBlocked(const CleanupSignalsBlocked&) = delete;
    CleanupSignalsBlocked& operator=(const CleanupSignalsBlocked&) = delete;

private:
    sigset_t saved_;
};

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Paths whose meaning is not a file in a folder: /dev/stdout names whatever
// standard output is, even a regular file, and must be written, not replaced.
bool isSpecialTree(const std::string& path) {
    return path.rfind("/dev/", 0) == 0 || path.rfind("/proc/", 0) == 0;
}

bool randomSuffix(std::string& suffix) {
    unsigned char bytes[12];
    std::size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        got += static_cast<std::size_t>(n);
    }
    static const char digits[] = "0123456789abcdef";
    suffix.clear();
    for (unsigned char byte : bytes) {
        suffix += digits[byte >> 4];
        suffix += digits[byte & 15];
    }
    return true;
}

std::string systemError(const std::string& what, int error) { return what + ": " + std::strerror(error); }

}  // namespace

namespace {

// What is at OUTPUT now: nothing, or a file we may replace or write.
bool checkExisting(const std::string& path, bool& exists, struct stat& existing, std::string& error) {
    exists = ::stat(path.c_str(), &existing) == 0;
    if (!exists && errno != ENOENT) {
        error = systemError("cannot use output " + path, errno);
        return false;
    }
    if (exists && S_ISDIR(existing.st_mode)) {
        error = "output " + path + " is a directory";
        return false;
    }
    // A file we may not write is not ours to replace either.
    if (exists && ::access(path.c_str(), W_OK) != 0) {
        error = systemError("cannot write output " + path, errno);
        return false;
    }
    return true;
}

// A device, a FIFO or a path under /dev or /proc, opened as it is.
int openDirect(const std::string& path, std::string& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error = systemError("cannot open output " + path, errno);
        return -1;
    }
    struct stat opened;
    if (::fstat(fd, &opened) != 0 || S_ISDIR(opened.st_mode) || (S_ISREG(opened.st_mode) && !isSpecialTree(path))) {
        ::close(fd);
        error = "output " + path + " changed while it was being opened";
        return -1;
    }
    return fd;
}

// A new file of an unpredictable name in OUTPUT's folder, recorded for
// removal before any signal that would end the process can arrive. Returns
// its descriptor, with `temporary` and `slot` set.
int createTemporary(const std::string& path, std::string& temporary, int& slot, std::string& error) {
    // Long names are cut so that the temporary's name stays a legal length.
    const std::string folder = folderOf(path);
    const std::string stem = nameOf(path).substr(0, 128);
    CleanupSignalsBlocked blocked;
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::string suffix;
        if (!randomSuffix(suffix)) {
            error = systemError("cannot name a temporary file for " + path, errno);
            return -1;
        }
        temporary = folder + "/." + stem + "." + suffix + ".part";
        slot = claimSlot(temporary);
        if (slot < 0) {
            error = "cannot record a temporary file for " + path + " (path too long or too many outputs)";
            return -1;
        }
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC,
                              0666);
        if (fd >= 0) return fd;
        const int openErrno = errno;
        releaseSlot(slot);
        slot = -1;
        if (openErrno == EEXIST) continue;
        error = systemError("cannot create a temporary file in " + folder + " for " + path, openErrno);
        return -1;
    }
    error = "cannot create a temporary file in " + folder + " for " + path + ": every name tried exists";
    return -1;
}

}  // namespace

bool OutputFile::open(const std::string& path, std::string& error) {
    if (fd_ >= 0) {
        error = "output " + path + ": already open";
        return false;
    }
    if (path.empty()) {
        error = "no output file given";
        return false;
    }
    bool exists = false;
    struct stat existing;
    if (!checkExisting(path, exists, existing, error)) return false;
    direct_ = exists && (!S_ISREG(existing.st_mode) || isSpecialTree(path));
    std::string temporary;
    fd_ = direct_ ? openDirect(path, error) : createTemporary(path, temporary, slot_, error);
    if (fd_ < 0) return false;
    path_ = path;
    writePath_ = direct_ ? path : temporary;
    // A file that is replaced keeps its permissions.
    if (!direct_ && exists) ::fchmod(fd_, existing.st_mode & 0777);
    return true;
}

bool OutputFile::commit(std::string& error) {
    if (fd_ < 0) {
        error = "output " + path_ + " is not open";
        return false;
    }
    // Written data must be on disk before the name points at it.
    if (!direct_ && ::fsync(fd_) != 0 && errno != EINVAL) {
        error = systemError("cannot write " + path_, errno);
        abandon();
        return false;
    }
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && errno != EINTR) {
        error = systemError("cannot write " + path_, errno);
        if (!direct_) {
            ::unlink(writePath_.c_str());
            releaseSlot(slot_);
            slot_ = -1;
        }
        return false;
    }
    if (direct_) return true;
    if (::rename(writePath_.c_str(), path_.c_str()) != 0) {
        error = systemError("cannot move the finished output into place at " + path_, errno);
        ::unlink(writePath_.c_str());
        releaseSlot(slot_);
        slot_ = -1;
        return false;
    }
    releaseSlot(slot_);
    slot_ = -1;
    return true;
}

void OutputFile::abandon() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (slot_ >= 0) {
        ::unlink(writePath_.c_str());
        releaseSlot(slot_);
        slot_ = -1;
    }
}

OutputFile::~OutputFile() { abandon(); }

int recordPendingFolders(const std::string& innermost, int count) {
    return count > 0 ? claimSlot(innermost, count) : -1;
}

void releasePendingFolders(int record) { releaseSlot(record); }

void removePendingOutputs() {
    const int savedErrno = errno;
    // Files first, so that the folders made for them are empty.
    for (const bool folders : {false, true}) {
        for (PendingSlot& slot : pendingSlots) {
            const unsigned before = slot.sequence.load(std::memory_order_acquire);
            if ((before & 1u) != 0 || !slot.live.load(std::memory_order_relaxed)) continue;
            int levels = slot.folders.load(std::memory_order_relaxed);
            char path[PATH_MAX];
            std::size_t i = 0;
            for (; i + 1 < sizeof path; ++i) {
                path[i] = slot.path[i].load(std::memory_order_relaxed);
                if (path[i] == '\0') break;
            }
            path[i] = '\0';
            std::atomic_thread_fence(std::memory_order_acquire);
            if (slot.sequence.load(std::memory_order_relaxed) != before || (levels > 0) != folders) continue;
            if (!folders) {
                ::unlink(path);
                continue;
            }
            // The innermost folder, then each one above it that was made too,
            // while they are empty.
            for (; levels > 0 && ::rmdir(path) == 0; --levels) {
                while (i > 0 && path[i - 1] != '/') --i;
                while (i > 0 && path[i - 1] == '/') --i;
                if (i == 0) break;
                path[i] = '\0';
            }
        }
    }
    errno = savedErrno;
}

namespace {

// What each fault signal did before our handler: a sanitizer's report, the
// frame guard's message, or the default death.
struct sigaction previousFaultActions[sizeof faultSignals / sizeof faultSignals[0]];

bool isFaultSignal(int signal, std::size_t& index) {
    for (index = 0; index < sizeof faultSignals / sizeof faultSignals[0]; ++index) {
        if (faultSignals[index] == signal) return true;
    }
    return false;
}

void removeOutputsAndDie(int signal, siginfo_t* info, void* context) {
    removePendingOutputs();
    std::size_t index = 0;
    if (isFaultSignal(signal, index)) {
        const struct sigaction& previous = previousFaultActions[index];
        if ((previous.sa_flags & SA_SIGINFO) != 0 && previous.sa_sigaction != nullptr) {
            previous.sa_sigaction(signal, info, context);
            return;
        }
        if ((previous.sa_flags & SA_SIGINFO) == 0 && previous.sa_handler != SIG_DFL &&
            previous.sa_handler != SIG_IGN) {
            previous.sa_handler(signal);
            return;
        }
        // The handler reset itself to the default: a fault from an
        // instruction happens again when we return, and kills; one sent by
        // kill is sent again.
        if (info != nullptr && info->si_code > 0) return;
    }
    // The handler was installed to reset itself and not to block its signal,
    // so this ends the process by the signal itself, as the caller expects.
    std::raise(signal);
}

void installCleanupHandler(int signal, struct sigaction* previous) {
    struct sigaction old;
    if (::sigaction(signal, nullptr, &old) != 0) return;
    // A signal ignored when we started (nohup, a background job) stays ignored.
    if (!(old.sa_flags & SA_SIGINFO) && old.sa_handler == SIG_IGN) return;
    if (previous != nullptr) *previous = old;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_sigaction = removeOutputsAndDie;
    sigemptyset(&action.sa_mask);
    // On the alternate stack where a thread has one: a fault from a stack
    // overflow has no stack left to run a handler on.
    action.sa_flags = static_cast<int>(SA_SIGINFO | SA_RESETHAND | SA_NODEFER | SA_ONSTACK);
    ::sigaction(signal, &action, nullptr);
}

}  // namespace

void installOutputCleanupHandlers() {
    static std::atomic<bool> installed{false};
    if (installed.exchange(true)) return;
    // SIGABRT too: FFmpeg's libraries abort on a failed internal assertion,
    // and a crafted file can reach one.
    for (int signal : endingSignals) installCleanupHandler(signal, nullptr);
    for (std::size_t i = 0; i < sizeof faultSignals / sizeof faultSignals[0]; ++i) {
        installCleanupHandler(faultSignals[i], &previousFaultActions[i]);
    }
}

}  // namespace pelx04run
