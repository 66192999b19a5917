#include "core/cpu_features.hpp"

namespace pelx04 {
namespace {

CpuLevel askCpu() {
#if PELX04_X86
    // The builtins also check that the operating system saves the wide
    // registers, so a reported AVX2 is usable.
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl") &&
        __builtin_cpu_supports("avx512vbmi")) {
        return CpuLevel::avx512;
    }
    if (__builtin_cpu_supports("avx2")) return CpuLevel::avx2;
    return CpuLevel::sse2;
#elif PELX04_WASM_SIMD
    // The module validated in this browser, so its vectors are there.
    return CpuLevel::sse2;
#else
    return CpuLevel::portable;
#endif
}

// Written by limitCpuLevel only, from tests and benchmarks that run one
// thread; the filters only read it.
CpuLevel levelCap = highestCpuLevel;

}  // namespace

CpuLevel detectedCpuLevel() {
    static const CpuLevel detected = askCpu();
    return detected;
}

CpuLevel cpuLevel() {
    const CpuLevel detected = detectedCpuLevel();
    return levelCap < detected ? levelCap : detected;
}

void limitCpuLevel(CpuLevel level) { levelCap = level; }

const char* cpuLevelName(CpuLevel level) {
    switch (level) {
        case CpuLevel::portable: return "portable";
        case CpuLevel::sse2: return PELX04_WASM_SIMD ? "simd128" : "sse2";
        case CpuLevel::avx2: return "avx2";
        case CpuLevel::avx512: return "avx512";
    }
    return "unknown";
}

}  // namespace pelx04
