#include "guarded_frame.hpp"

#ifdef _WIN32

#include <cstdlib>

namespace pelx04host {

// No guard on Windows: a plain allocation.
bool mapGuardedFrame(std::size_t bytes, GuardedFrame& frame, std::string& error) {
    void* memory = std::malloc(bytes == 0 ? 1 : bytes);
    if (memory == nullptr) {
        error = "cannot allocate a frame of " + std::to_string(bytes) + " bytes";
        return false;
    }
    frame.pixels = static_cast<unsigned char*>(memory);
    frame.bytes = bytes;
    frame.mapping = memory;
    frame.mappedBytes = bytes;
    return true;
}

void unmapGuardedFrame(GuardedFrame& frame) {
    std::free(frame.mapping);
    frame = GuardedFrame();
}

void installGuardFaultHandler(const char*, void (*)()) {}
bool inLiveGuard(const void*) { return false; }
std::size_t describeGuardFault(char*, std::size_t) { return 0; }
void noteCurrentFrame(long) {}

bool runGuarded(void (*body)(void*), void* data) {
    body(data);
    return true;
}

}  // namespace pelx04host

#else

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <new>

#include <setjmp.h>
#include <sys/mman.h>
#include <unistd.h>

namespace pelx04host {
namespace {

// The live guards, read by the fault handler. A slot is claimed by setting
// its start from 0 with an exchange; the handler reads start and end as
// atomics, so it sees either a whole range or none.
struct GuardSlot {
    std::atomic<std::uintptr_t> start{0};
    std::atomic<std::uintptr_t> end{0};
};

// Slots come in blocks chained as they are needed and never freed, so that
// the handler can walk them at any moment: a process may hold any number of
// frames (MLT keeps an instance per clip, render thread and size for as long
// as a project is open), and the chain is as long as the most it held at once.
constexpr int guardBlockSlots = 256;
struct GuardBlock {
    GuardSlot slots[guardBlockSlots];
    std::atomic<GuardBlock*> next{nullptr};
};

GuardBlock firstGuardBlock;
std::atomic<long> currentFrame{-1};
std::atomic<bool> handlerInstalled{false};
const char* programName = "";
void (*cleanUpBeforeExit)() = nullptr;
struct sigaction previousSegv;
struct sigaction previousBus;

// Big enough for the handler's own needs, whatever the C library says a
// minimum is.
constexpr std::size_t altStackBytes = 256 * 1024;
thread_local bool threadHasAltStack = false;
// Where a guard fault on this thread returns to (runGuarded), or null. Read by
// the fault handler: initial-exec, so that reading it never allocates.
__thread sigjmp_buf* recoveryPoint __attribute__((tls_model("initial-exec"))) = nullptr;

bool inLiveGuardAt(std::uintptr_t address) {
    for (const GuardBlock* block = &firstGuardBlock; block != nullptr;
         block = block->next.load(std::memory_order_acquire)) {
        for (const GuardSlot& slot : block->slots) {
            const std::uintptr_t end = slot.end.load(std::memory_order_acquire);
            const std::uintptr_t start = slot.start.load(std::memory_order_acquire);
            if (start != 0 && end != 0 && address >= start && address < end) return true;
        }
    }
    return false;
}

bool claimGuardSlot(std::uintptr_t start, std::uintptr_t end) {
    GuardBlock* block = &firstGuardBlock;
    for (;;) {
        for (GuardSlot& slot : block->slots) {
            std::uintptr_t expected = 0;
            if (!slot.start.compare_exchange_strong(expected, start, std::memory_order_acq_rel)) continue;
            slot.end.store(end, std::memory_order_release);
            return true;
        }
        GuardBlock* next = block->next.load(std::memory_order_acquire);
        if (next == nullptr) {
            GuardBlock* fresh = new (std::nothrow) GuardBlock;
            if (fresh == nullptr) return false;
            // Another thread may have chained one first: then that one is next.
            if (block->next.compare_exchange_strong(next, fresh, std::memory_order_acq_rel)) {
                next = fresh;
            } else {
                delete fresh;
            }
        }
        block = next;
    }
}

void releaseGuardSlot(std::uintptr_t end) {
    for (GuardBlock* block = &firstGuardBlock; block != nullptr; block = block->next.load(std::memory_order_acquire)) {
        for (GuardSlot& slot : block->slots) {
            if (slot.end.load(std::memory_order_acquire) != end) continue;
            slot.end.store(0, std::memory_order_release);
            slot.start.store(0, std::memory_order_release);
            return;
        }
    }
}

// Async-signal-safe decimal formatting of the frame index.
std::size_t formatLong(long value, char* out) {
    char digits[24];
    std::size_t count = 0;
    unsigned long magnitude = value < 0 ? 0ul - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    std::size_t length = 0;
    if (value < 0) out[length++] = '-';
    while (count > 0) out[length++] = digits[--count];
    return length;
}

void writeAll(const char* text, std::size_t length) {
    while (length > 0) {
        const ssize_t n = ::write(STDERR_FILENO, text, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        text += n;
        length -= static_cast<std::size_t>(n);
    }
}

void onFault(int signal, siginfo_t* info, void* context) {
    if (inLiveGuard(info->si_addr)) {
        // Nothing outside the frame was written: the fault is the first touch
        // of the guard. The mask saved by sigsetjmp unblocks the signal again.
        if (recoveryPoint != nullptr) siglongjmp(*recoveryPoint, 1);
        char message[512];
        std::size_t length = 0;
        const std::size_t nameLength = std::min<std::size_t>(std::strlen(programName), 64);
        std::memcpy(message, programName, nameLength);
        length += nameLength;
        message[length++] = ':';
        message[length++] = ' ';
        length += describeGuardFault(message + length, sizeof message - length - 1);
        message[length++] = '\n';
        writeAll(message, length);
        if (cleanUpBeforeExit != nullptr) cleanUpBeforeExit();
        _exit(1);
    }
    // Not ours: hand the fault to whoever handled it before. Returning
    // re-runs the faulting instruction under that handler; a signal sent by
    // kill is sent again.
    const struct sigaction& previous = signal == SIGBUS ? previousBus : previousSegv;
    if ((previous.sa_flags & SA_SIGINFO) != 0 && previous.sa_sigaction != nullptr) {
        previous.sa_sigaction(signal, info, context);
        return;
    }
    ::sigaction(signal, &previous, nullptr);
    if (info->si_code <= 0) ::raise(signal);
}

void giveThreadAltStack() {
    if (threadHasAltStack) return;
    threadHasAltStack = true;
    stack_t current;
    if (::sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE) == 0) return;
    void* memory = ::mmap(nullptr, altStackBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) return;
    stack_t stack;
    stack.ss_sp = memory;
    stack.ss_size = altStackBytes;
    stack.ss_flags = 0;
    // Kept for the thread's life: a thread's alternate stack is never freed
    // while the thread may still fault.
    if (::sigaltstack(&stack, nullptr) != 0) ::munmap(memory, altStackBytes);
}

std::size_t pageBytes() {
    const long page = ::sysconf(_SC_PAGESIZE);
    return page > 0 ? static_cast<std::size_t>(page) : 4096;
}

}  // namespace

bool inLiveGuard(const void* address) { return inLiveGuardAt(reinterpret_cast<std::uintptr_t>(address)); }

std::size_t describeGuardFault(char* out, std::size_t capacity) {
    char message[256];
    std::size_t length = 0;
    const char head[] = "frame ";
    std::memcpy(message, head, sizeof head - 1);
    length += sizeof head - 1;
    length += formatLong(currentFrame.load(std::memory_order_relaxed), message + length);
    message[length++] = ':';
    message[length++] = ' ';
    std::memcpy(message + length, pastFrameError, sizeof pastFrameError - 1);
    length += sizeof pastFrameError - 1;
    const char tail[] = "; stopped";
    std::memcpy(message + length, tail, sizeof tail - 1);
    length += sizeof tail - 1;
    length = std::min(length, capacity);
    std::memcpy(out, message, length);
    return length;
}

bool mapGuardedFrame(std::size_t bytes, GuardedFrame& frame, std::string& error) {
    const std::size_t page = pageBytes();
    const std::size_t limit = SIZE_MAX / 2 - page;
    if (bytes > limit) {
        error = "cannot map a frame of " + std::to_string(bytes) + " bytes";
        return false;
    }
    const std::size_t dataBytes = (bytes + page - 1) / page * page;
    const std::size_t guardBytes = dataBytes == 0 ? page : dataBytes;
    const std::size_t total = dataBytes + guardBytes;
    void* mapping = ::mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED) {
        error = "cannot map a frame of " + std::to_string(bytes) + " bytes: " + std::strerror(errno);
        return false;
    }
    unsigned char* base = static_cast<unsigned char*>(mapping);
    if (::mprotect(base + dataBytes, guardBytes, PROT_NONE) != 0) {
        error = std::string("cannot protect a frame's guard: ") + std::strerror(errno);
        ::munmap(mapping, total);
        return false;
    }
    const std::uintptr_t guardStart = reinterpret_cast<std::uintptr_t>(base + dataBytes);
    if (!claimGuardSlot(guardStart, guardStart + guardBytes)) {
        ::munmap(mapping, total);
        error = "cannot allocate a frame's guard (out of memory)";
        return false;
    }
    frame.pixels = base;
    frame.bytes = bytes;
    frame.mapping = mapping;
    frame.mappedBytes = total;
    return true;
}

void unmapGuardedFrame(GuardedFrame& frame) {
    if (frame.mapping == nullptr) return;
    releaseGuardSlot(reinterpret_cast<std::uintptr_t>(frame.mapping) + frame.mappedBytes);
    ::munmap(frame.mapping, frame.mappedBytes);
    frame = GuardedFrame();
}

void installGuardFaultHandler(const char* program, void (*beforeExit)()) {
    giveThreadAltStack();
    if (handlerInstalled.exchange(true)) return;
    programName = program;
    cleanUpBeforeExit = beforeExit;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_sigaction = onFault;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    ::sigaction(SIGSEGV, &action, &previousSegv);
    ::sigaction(SIGBUS, &action, &previousBus);
}

void noteCurrentFrame(long index) {
    giveThreadAltStack();
    currentFrame.store(index, std::memory_order_relaxed);
}

bool runGuarded(void (*body)(void*), void* data) {
    giveThreadAltStack();
    sigjmp_buf point;
    sigjmp_buf* const previous = recoveryPoint;
    if (sigsetjmp(point, 1) != 0) {
        recoveryPoint = previous;
        return false;
    }
    recoveryPoint = &point;
    body(data);
    recoveryPoint = previous;
    return true;
}

}  // namespace pelx04host

#endif
