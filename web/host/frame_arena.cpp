#include "frame_arena.hpp"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace pelx04web {
namespace {

// Three runs of 256 words, each run holding every value of one channel, with
// every alpha but 0 (most filters leave a transparent word as it was): a filter
// that changes some pixel changes some canary word. It is short on purpose:
// an overrun longer than the canary reaches the end of memory and traps, and
// that catches reads (mirtHistgram, mirtMixPict0) as well as writes.
constexpr std::size_t canaryWords = 3 * 256;
std::uint32_t canaryPattern[canaryWords];
unsigned char* arenaEnd = nullptr;
// The compiler may drop a malloc whose block is only freed; stored here, it stays.
void* volatile heapReservation = nullptr;

void makeCanaryPattern() {
    std::uint32_t state = 0x9e3779b9u;
    for (std::size_t i = 0; i < canaryWords; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        const std::uint32_t shift = static_cast<std::uint32_t>(i / 256u) * 8u;
        const std::uint32_t value = static_cast<std::uint32_t>(i % 256u);
        const std::uint32_t rgb = (state & ~(0xffu << shift) & 0xffffffu) | value << shift;
        const std::uint32_t alpha = 1u + static_cast<std::uint32_t>(i % 255u);
        canaryPattern[i] = alpha << 24 | rgb;
    }
}

unsigned char* canaryStart() { return arenaEnd - sizeof canaryPattern; }

}  // namespace

bool claimFrameArena(std::size_t heapBytes) {
    if (arenaEnd != nullptr) return true;
    // dlmalloc here never gives memory back to sbrk, so the freed block stays
    // in the malloc heap below the arena for later allocations.
    void* heap = std::malloc(heapBytes);
    if (heap == nullptr) return false;
    heapReservation = heap;
    const std::uintptr_t brk = reinterpret_cast<std::uintptr_t>(sbrk(0));
    const std::uintptr_t end = __builtin_wasm_memory_size(0) * 65536u;
    const std::uintptr_t needed = maxFramePixels * 4u + sizeof canaryPattern;
    if (end < brk || end - brk < needed || sbrk(static_cast<intptr_t>(end - brk)) == reinterpret_cast<void*>(-1)) {
        std::free(heap);
        return false;
    }
    std::free(heap);
    arenaEnd = reinterpret_cast<unsigned char*>(end);
    makeCanaryPattern();
    return true;
}

unsigned char* placeFrame(std::size_t pixels) {
    if (arenaEnd == nullptr || pixels > maxFramePixels) return nullptr;
    std::memcpy(canaryStart(), canaryPattern, sizeof canaryPattern);
    return canaryStart() - pixels * 4u;
}

bool canaryIntact() {
    return arenaEnd != nullptr && std::memcmp(canaryStart(), canaryPattern, sizeof canaryPattern) == 0;
}

}  // namespace pelx04web
