#include "pending_cleanup.hpp"

#include <atomic>
#include <cerrno>
#include <climits>

#include <unistd.h>

namespace pelx04run {
namespace {

enum class Kind { file, folders };

// A slot's path is written only while its sequence number is odd; the
// handler copies it and uses the copy only if the number was even and
// unchanged around the copy, so it never removes a half-written path.
// Characters are atomics so that the copy is not a data race.
struct PendingSlot {
    std::atomic<unsigned> sequence{0};
    std::atomic<bool> live{false};
    std::atomic<Kind> kind{Kind::file};
    std::atomic<int> levels{0};  // folders: the innermost and the levels - 1 above it
    std::atomic<char> path[PATH_MAX];
};

// Room for many outputs in flight, each with a temporary and the folders
// made for it.
constexpr int slotCount = 64;
PendingSlot pendingSlots[slotCount];

int claimSlot(const std::string& path, Kind kind, int levels) {
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
        pendingSlots[i].kind.store(kind, std::memory_order_relaxed);
        pendingSlots[i].levels.store(levels, std::memory_order_relaxed);
        pendingSlots[i].live.store(true, std::memory_order_relaxed);
        pendingSlots[i].sequence.fetch_add(1, std::memory_order_release);
        return i;
    }
    return -1;
}

// The innermost folder, then each one above it that was made too, while
// they are empty.
void removeFolders(char* path, std::size_t length, int levels) {
    for (; levels > 0 && ::rmdir(path) == 0; --levels) {
        while (length > 0 && path[length - 1] != '/') --length;
        while (length > 0 && path[length - 1] == '/') --length;
        if (length == 0) break;
        path[length] = '\0';
    }
}

}  // namespace

int recordPendingFile(const std::string& path) { return claimSlot(path, Kind::file, 0); }

int recordPendingFolders(const std::string& innermost, int count) {
    return count > 0 ? claimSlot(innermost, Kind::folders, count) : -1;
}

void releasePending(int record) {
    if (record < 0) return;
    pendingSlots[record].sequence.fetch_add(1, std::memory_order_acq_rel);
    pendingSlots[record].live.store(false, std::memory_order_relaxed);
    pendingSlots[record].sequence.fetch_add(1, std::memory_order_release);
}

void removePendingOutputs() {
    const int savedErrno = errno;
    // Files first, so that the folders made for them are empty.
    for (const Kind pass : {Kind::file, Kind::folders}) {
        for (PendingSlot& slot : pendingSlots) {
            const unsigned before = slot.sequence.load(std::memory_order_acquire);
            if ((before & 1u) != 0 || !slot.live.load(std::memory_order_relaxed)) continue;
            const Kind kind = slot.kind.load(std::memory_order_relaxed);
            const int levels = slot.levels.load(std::memory_order_relaxed);
            char path[PATH_MAX];
            std::size_t i = 0;
            for (; i + 1 < sizeof path; ++i) {
                path[i] = slot.path[i].load(std::memory_order_relaxed);
                if (path[i] == '\0') break;
            }
            path[i] = '\0';
            std::atomic_thread_fence(std::memory_order_acquire);
            if (slot.sequence.load(std::memory_order_relaxed) != before || kind != pass) continue;
            if (kind == Kind::file) {
                ::unlink(path);
            } else {
                removeFolders(path, i, levels);
            }
        }
    }
    errno = savedErrno;
}

}  // namespace pelx04run
