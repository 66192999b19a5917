#include "diagnostics.hpp"

#include <cerrno>
#include <cstdio>

#include <unistd.h>

namespace pelx04run {
namespace {

int resultChannel = -1;

void writeLine(const std::string& text) { std::fprintf(stderr, "%s: %s\n", programName, text.c_str()); }

// Async-signal-safe.
bool writeAll(int fd, const char* data, std::size_t length) {
    while (length > 0) {
        const ssize_t n = ::write(fd, data, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

// Into the batch's channel, whole: the batch reads it once the job has ended.
bool sendResult(const char* message, std::size_t length) {
    return resultChannel >= 0 && writeAll(resultChannel, message, length);
}

void error(const std::string& message) {
    if (!sendResult(message.data(), message.size())) writeLine(message);
}

}  // namespace

void setResultChannel(int fd) { resultChannel = fd; }

int fail(const std::string& message) {
    error(message);
    return exitFailure;
}

int usageError(const std::string& message) {
    error(message);
    std::fprintf(stderr, "Run with --help for more information.\n");
    return exitUsage;
}

int refuse(const std::string& message) {
    error(message);
    return exitUsage;
}

void failInSignalHandler(const char* text, std::size_t length) {
    if (sendResult(text, length)) return;
    const char separator[] = ": ";
    writeAll(STDERR_FILENO, programName, std::char_traits<char>::length(programName));
    writeAll(STDERR_FILENO, separator, sizeof separator - 1);
    writeAll(STDERR_FILENO, text, length);
    writeAll(STDERR_FILENO, "\n", 1);
}

void warn(const std::string& message) { writeLine("warning: " + message); }

void note(const std::string& message) { writeLine(message); }

void statusLine(const std::string& text, bool last) {
    std::fprintf(stderr, "\r%s: %s\033[K%s", programName, text.c_str(), last ? "\n" : "");
    std::fflush(stderr);
}

void clearStatusLine() { std::fprintf(stderr, "\r\033[K"); }

}  // namespace pelx04run
