#include "guarded_frame.hpp"

#ifdef _WIN32

#include <cstdlib>

namespace pelx04run {

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

void installGuardFaultHandler(const char*, void (*)(), void (*)(const char*, std::size_t)) {}
void noteCurrentFrame(long) {}

}  // namespace pelx04run

#else

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>

#include <sys/mman.h>
#include <unistd.h>

namespace pelx04run {
namespace {

// The live guards, read by the fault handler. A slot is claimed by setting
// its start from 0 with an exchange; the handler reads start and end as
// atomics, so it sees either a whole range or none.
struct GuardSlot {
    std::atomic<std::uintptr_t> start{0};
    std::atomic<std::uintptr_t> end{0};
};

constexpr int guardSlotCount = 256;
GuardSlot guardSlots[guardSlotCount];
std::atomic<long> currentFrame{-1};
std::atomic<bool> handlerInstalled{false};
const char* programName = "";
void (*cleanUpBeforeExit)() = nullptr;
void (*writeFaultMessage)(const char*, std::size_t) = nullptr;
struct sigaction previousSegv;
struct sigaction previousBus;

// Big enough for the handler's own needs, whatever the C library says a
// minimum is.
constexpr std::size_t altStackBytes = 256 * 1024;
thread_local bool threadHasAltStack = false;

bool inLiveGuard(std::uintptr_t address) {
    for (const GuardSlot& slot : guardSlots) {
        const std::uintptr_t end = slot.end.load(std::memory_order_acquire);
        const std::uintptr_t start = slot.start.load(std::memory_order_acquire);
        if (start != 0 && end != 0 && address >= start && address < end) return true;
    }
    return false;
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
    const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(info->si_addr);
    if (inLiveGuard(address)) {
        char message[256];
        std::size_t length = 0;
        const std::size_t nameLength = std::min<std::size_t>(std::strlen(programName), 64);
        std::memcpy(message, programName, nameLength);
        length += nameLength;
        const char head[] = ": frame ";
        std::memcpy(message + length, head, sizeof head - 1);
        length += sizeof head - 1;
        const std::size_t textStart = nameLength + 2;
        length += formatLong(currentFrame.load(std::memory_order_relaxed), message + length);
        const char tail[] =
            ": a filter ran past the end of the frame (the script gave it a size or a row that does not fit "
            "in the frame); stopped\n";
        std::memcpy(message + length, tail, sizeof tail - 1);
        length += sizeof tail - 1;
        if (writeFaultMessage != nullptr) {
            writeFaultMessage(message + textStart, length - textStart - 1);
        } else {
            writeAll(message, length);
        }
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
    for (GuardSlot& slot : guardSlots) {
        std::uintptr_t expected = 0;
        if (!slot.start.compare_exchange_strong(expected, guardStart, std::memory_order_acq_rel)) continue;
        slot.end.store(guardStart + guardBytes, std::memory_order_release);
        frame.pixels = base;
        frame.bytes = bytes;
        frame.mapping = mapping;
        frame.mappedBytes = total;
        return true;
    }
    ::munmap(mapping, total);
    error = "too many frames live at once";
    return false;
}

void unmapGuardedFrame(GuardedFrame& frame) {
    if (frame.mapping == nullptr) return;
    const std::uintptr_t guardEnd = reinterpret_cast<std::uintptr_t>(frame.mapping) + frame.mappedBytes;
    for (GuardSlot& slot : guardSlots) {
        if (slot.end.load(std::memory_order_acquire) != guardEnd) continue;
        slot.end.store(0, std::memory_order_release);
        slot.start.store(0, std::memory_order_release);
        break;
    }
    ::munmap(frame.mapping, frame.mappedBytes);
    frame = GuardedFrame();
}

void installGuardFaultHandler(const char* program, void (*beforeExit)(),
                              void (*writeMessage)(const char* text, std::size_t length)) {
    giveThreadAltStack();
    if (handlerInstalled.exchange(true)) return;
    programName = program;
    cleanUpBeforeExit = beforeExit;
    writeFaultMessage = writeMessage;
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

}  // namespace pelx04run

#endif
