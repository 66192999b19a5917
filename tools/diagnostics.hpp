// Every message the runner writes to standard error goes through here, so it
// is written one way: "pelx04-run: " and the text. A job of a batch sends its
// error to the batch through a channel of its own instead, so the batch never
// has to find it among the job's other messages.
#pragma once

#include <cstddef>
#include <string>

namespace pelx04run {

constexpr const char* programName = "pelx04-run";
constexpr int exitFailure = 1;
constexpr int exitUsage = 2;

// A job of a batch: from now on fail() and usageError() write their message
// to `fd` (whole, without the program's name) and not to standard error.
void setResultChannel(int fd);

// "pelx04-run: MESSAGE"; then exit status 1.
int fail(const std::string& message);
// The same, then "Run with --help for more information."; exit status 2.
int usageError(const std::string& message);
// The same as fail(), with exit status 2: a refusal that is no misuse of the
// command line (a batch's check).
int refuse(const std::string& message);
void warn(const std::string& message);  // "pelx04-run: warning: MESSAGE"
void note(const std::string& message);  // "pelx04-run: MESSAGE", no error

// fail() for a signal handler: async-signal-safe, `text` not terminated.
void failInSignalHandler(const char* text, std::size_t length);

// A terminal's one status line, rewritten in place; `last` ends it.
void statusLine(const std::string& text, bool last);
void clearStatusLine();

}  // namespace pelx04run
