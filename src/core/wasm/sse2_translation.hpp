// Included by the SSE2 kernel files after <emmintrin.h>. In a WebAssembly
// build, Emscripten translates the SSE2 intrinsics to WebAssembly's vectors,
// but converts doubles and floats to integers one lane at a time, through
// scalar code, so as to give x86's answer for a value out of range. Every
// conversion in our kernels is of a value in range (each says why), where
// WebAssembly's saturating truncation gives the same integers in one
// instruction. On x86 this header does nothing.
#pragma once

#include "core/cpu_features.hpp"

#if PELX04_WASM_SIMD
#include <wasm_simd128.h>

#define _mm_cvttpd_epi32(x) wasm_i32x4_trunc_sat_f64x2_zero(x)
#define _mm_cvttps_epi32(x) wasm_i32x4_trunc_sat_f32x4(x)
#endif
