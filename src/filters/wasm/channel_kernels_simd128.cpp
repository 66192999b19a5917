// WebAssembly kernel of mirtRGB2CONV: four pixels a step. The byte move is one
// swizzle (an index of 16 or more gives a zero byte, the black channel of the
// modes that have one); the SSE2 kernel's shifts by a vector count translate
// to a lane extract and a branch each, several times slower.
#include "filters/channel_kernels.hpp"

#if PELX04_WASM_SIMD
#include <wasm_simd128.h>

namespace pelx04 {
namespace wasm {

std::uint32_t swapSimd128(unsigned char* pixels, std::uint32_t count, const SwapKernel& k) {
    std::uint32_t addWord = 0, subWord = 0;
    for (int byte = 0; byte < 4; ++byte) {
        addWord |= std::uint32_t{k.offsets.add[byte]} << (8 * byte);
        subWord |= std::uint32_t{k.offsets.sub[byte]} << (8 * byte);
    }
    const v128_t add = wasm_i32x4_splat(static_cast<std::int32_t>(addWord));
    const v128_t sub = wasm_i32x4_splat(static_cast<std::int32_t>(subWord));
    // Byte 4j + out of the result comes from byte 4j + sourceOf[out]; alpha
    // (no offset) from its own place.
    alignas(16) std::uint8_t order[16];
    for (int j = 0; j < 4; ++j) {
        for (int out = 0; out < 3; ++out) {
            order[4 * j + out] = static_cast<std::uint8_t>(k.sourceOf[out] < 3 ? 4 * j + k.sourceOf[out] : 0x80);
        }
        order[4 * j + 3] = static_cast<std::uint8_t>(4 * j + 3);
    }
    const v128_t move = wasm_v128_load(order);
    const v128_t alpha = wasm_i32x4_splat(static_cast<std::int32_t>(0xFF000000u));
    const std::uint32_t whole = count & ~3u;
    for (std::uint32_t i = 0; i < whole; i += 4) {
        unsigned char* p = pixels + std::size_t{i} * 4u;
        const v128_t x = wasm_v128_load(p);
        const v128_t s = wasm_u8x16_sub_sat(wasm_u8x16_add_sat(x, add), sub);
        const v128_t result = wasm_i8x16_swizzle(s, move);
        // Transparent words keep their old value.
        const v128_t transparent = wasm_i32x4_eq(wasm_v128_and(x, alpha), wasm_i32x4_splat(0));
        wasm_v128_store(p, wasm_v128_bitselect(x, result, transparent));
    }
    return whole;
}

}  // namespace wasm
}  // namespace pelx04

#endif
