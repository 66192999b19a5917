// Which instruction sets the fast paths may use. The library is built for the
// baseline of its target; faster kernels live in files of their own, compiled
// with their own flags, and are chosen here at run time from what the CPU
// reports. Only GCC and Clang on x86 build those files: everything else runs
// the portable kernels.
//
// WebAssembly has no run-time choice inside a module: a browser refuses a whole
// module with vector instructions it lacks. The page therefore loads one of
// two builds, chosen when it starts: the portable one, or one compiled with
// -msimd128, whose 128-bit level plays the part of SSE2 (see PELX04_WASM_SIMD).
#pragma once

// A build may define PELX04_X86=0 to try the portable configuration on x86.
#ifndef PELX04_X86
#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define PELX04_X86 1
#else
#define PELX04_X86 0
#endif
#endif

// A WebAssembly build with 128-bit vectors. Its level is CpuLevel::sse2: the
// SSE2 kernel files build there through Emscripten's translation of the SSE2
// intrinsics (the build gives them -msse2), and a kernel whose translation is
// slow has a WebAssembly twin in src/<part>/wasm/<name>_simd128.cpp that
// takes its place (PELX04_SIMD128_KERNEL).
#if defined(__EMSCRIPTEN__) && defined(__wasm_simd128__)
#define PELX04_WASM_SIMD 1
#else
#define PELX04_WASM_SIMD 0
#endif

namespace pelx04 {

// Ordered: each level may use everything below it. SSE2 is the floor of every
// x86-64 CPU and of the i686 builds (compiled with -msse2). avx512 means the
// F, BW, DQ, VL and VBMI subsets together (Intel server CPUs since Ice Lake,
// AMD since Zen 4): its kernels lean on VBMI's byte permutes.
enum class CpuLevel : int { portable = 0, sse2 = 1, avx2 = 2, avx512 = 3 };

constexpr CpuLevel highestCpuLevel = CpuLevel::avx512;

// What this CPU (and its operating system, for the wide registers) offers;
// asked once, on first use.
CpuLevel detectedCpuLevel();

// The level kernels run at: the detected one, lowered by limitCpuLevel.
CpuLevel cpuLevel();

// For tests and benchmarks only (not reachable from Lua): caps the level at
// the given one so that every kernel can be run and timed on one machine.
// Passing highestCpuLevel lifts the cap again.
void limitCpuLevel(CpuLevel level);

const char* cpuLevelName(CpuLevel level);

// Adding a kernel: put it in src/<part>/x86/<name>_sse2.cpp, _avx2.cpp or
// _avx512.cpp (the build gives *_avx2.cpp files -mavx2 and *_avx512.cpp files
// the five AVX-512 subsets, nothing else), guard its body with
// #if PELX04_X86, declare it in namespace x86 beside the portable kernel, and
// pick it in the filter's applyXxx with pickKernel. Such a file must not call
// inline functions of shared headers (pixel.hpp and the like): the copy the
// linker keeps could be the one compiled with -mavx2, and would then run on
// CPUs without it. Its helpers go in an unnamed namespace.
//
// The kernel for the current level: the best one at or below it that exists.
// A null pointer marks a level without its own kernel (or not built here).
template <class Kernel>
inline Kernel pickKernel(Kernel portable, Kernel sse2, Kernel avx2, Kernel avx512 = nullptr) {
    const CpuLevel level = cpuLevel();
    if (level >= CpuLevel::avx512 && avx512 != nullptr) return avx512;
    if (level >= CpuLevel::avx2 && avx2 != nullptr) return avx2;
    if (level >= CpuLevel::sse2 && sse2 != nullptr) return sse2;
    return portable;
}

}  // namespace pelx04

// Names an x86 kernel where one is built, a null kernel elsewhere, so that a
// dispatch reads the same on every target.
#if PELX04_X86
#define PELX04_X86_KERNEL(name) (&name)
#else
#define PELX04_X86_KERNEL(name) nullptr
#endif

// The 128-bit slot of a dispatch: the SSE2 kernel on x86, and in a WebAssembly
// build with vectors the SSE2 kernel as Emscripten translates it
// (PELX04_SSE2_KERNEL) or the kernel written for WebAssembly
// (PELX04_SIMD128_KERNEL). A file of SSE2 kernels guards its body with
// #if PELX04_SSE2; one of WebAssembly kernels with #if PELX04_WASM_SIMD.
#define PELX04_SSE2 (PELX04_X86 || PELX04_WASM_SIMD)
#if PELX04_X86 || PELX04_WASM_SIMD
#define PELX04_SSE2_KERNEL(name) (&name)
#else
#define PELX04_SSE2_KERNEL(name) nullptr
#endif
#if PELX04_X86
#define PELX04_SIMD128_KERNEL(sse2Name, wasmName) (&sse2Name)
#elif PELX04_WASM_SIMD
#define PELX04_SIMD128_KERNEL(sse2Name, wasmName) (&wasmName)
#else
#define PELX04_SIMD128_KERNEL(sse2Name, wasmName) nullptr
#endif
