// Frame buffers that a script cannot use to corrupt the program's heap.
#pragma once

#include <cstddef>
#include <string>

namespace pelx04host {

// Pixels start on a page boundary, then the slack up to the next page, then an
// inaccessible guard at least as large as the frame: a filter that a script
// sends past its frame (frame.row(h - 1) with the full height) faults there
// instead of corrupting the heap. Rows are packed: the stride is width * 4.
struct GuardedFrame {
    unsigned char* pixels = nullptr;
    std::size_t bytes = 0;
    void* mapping = nullptr;
    std::size_t mappedBytes = 0;
};

bool mapGuardedFrame(std::size_t bytes, GuardedFrame& frame, std::string& error);
void unmapGuardedFrame(GuardedFrame& frame);

// What a fault in a guard means, as every program reports it.
constexpr char pastFrameError[] =
    "a filter ran past the end of the frame (the script gave it a size or a row that does not fit in the frame)";

// SIGSEGV/SIGBUS handler, installed once, for a program that leaves those
// signals to it (the plugin): a fault inside any live guard (not under
// runGuarded) writes "PROGRAM: " and describeGuardFault's message to stderr,
// calls beforeExit (null: nothing) and _exit(1)s, never returning into Lua.
// Other faults go to the handler that was there before (the default action,
// a sanitizer's report, or the host program's own). It also gives the calling
// thread an alternate signal stack. `program` must outlive the process's use
// of it (a literal).
void installGuardFaultHandler(const char* program, void (*beforeExit)());

// For a program that owns its fault signals itself, in its handler: whether
// a fault at `address` is inside a live guard, and the message for it
// ("frame N: " pastFrameError "; stopped"), at most `capacity` bytes, not
// terminated. Both async-signal-safe.
bool inLiveGuard(const void* address);
std::size_t describeGuardFault(char* out, std::size_t capacity);

// Async-signal-safe store of the frame index for that message. The first call
// on a thread also gives that thread an alternate signal stack, so call it
// from the thread that runs the script.
void noteCurrentFrame(long index);

// Runs body(data) so that a fault in a live guard on this thread returns here
// with false instead of ending the process: for a program that must outlive
// its scripts (the plugin, inside someone else's). body is abandoned where it
// faulted, so what it was running (a Lua state inside a call) must never be
// used again, not even closed. Needs installGuardFaultHandler.
bool runGuarded(void (*body)(void*), void* data);

}  // namespace pelx04host
