// OUTPUT written so that a failed or interrupted run never leaves a partial
// file there, and so that nobody can make the runner write somewhere else.
#pragma once

#include <string>

namespace pelx04run {

// A directory is refused. An existing OUTPUT that is not a regular file (a
// device, a FIFO) or that lies under /dev or /proc (/dev/stdout) is opened and
// written directly, never replaced. Otherwise a temporary file is created
// exclusively (O_CREAT|O_EXCL|O_NOFOLLOW, unpredictable name, mode
// 0666 & ~umask, or the mode of the file it replaces) in OUTPUT's folder and
// renamed into place by commit(). A pending temporary is removed on
// abandon(), in the destructor, and, once installFatalSignalHandlers() has
// run, on every signal that ends the process (see fatal_signals.hpp).
class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    bool open(const std::string& path, std::string& error);
    // Write through this (a custom AVIOContext, say) and never reopen by path;
    // commit() and abandon() close it, so nothing else may.
    int fd() const { return fd_; }
    // The temporary path, or OUTPUT itself when written directly.
    const std::string& writePath() const { return writePath_; }
    bool commit(std::string& error);  // flush to disk, close and rename into place
    void abandon();                   // close and remove the temporary

private:
    std::string path_;
    std::string writePath_;
    int fd_ = -1;
    int slot_ = -1;  // index in the table of pending temporaries, or -1
    bool direct_ = false;
};

}  // namespace pelx04run
