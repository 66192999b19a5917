#include "output_file.hpp"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fatal_signals.hpp"
#include "pending_cleanup.hpp"

namespace pelx04run {
namespace {

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
    EndingSignalsBlocked blocked;
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::string suffix;
        if (!randomSuffix(suffix)) {
            error = systemError("cannot name a temporary file for " + path, errno);
            return -1;
        }
        temporary = folder + "/." + stem + "." + suffix + ".part";
        slot = recordPendingFile(temporary);
        if (slot < 0) {
            error = "cannot record a temporary file for " + path + " (path too long or too many outputs)";
            return -1;
        }
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC,
                              0666);
        if (fd >= 0) return fd;
        const int openErrno = errno;
        releasePending(slot);
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
            releasePending(slot_);
            slot_ = -1;
        }
        return false;
    }
    if (direct_) return true;
    if (::rename(writePath_.c_str(), path_.c_str()) != 0) {
        error = systemError("cannot move the finished output into place at " + path_, errno);
        ::unlink(writePath_.c_str());
        releasePending(slot_);
        slot_ = -1;
        return false;
    }
    releasePending(slot_);
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
        releasePending(slot_);
        slot_ = -1;
    }
}

OutputFile::~OutputFile() { abandon(); }

}  // namespace pelx04run
