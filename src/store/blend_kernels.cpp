#include "store/blend_kernels.hpp"

#include "module/cpu_features.hpp"

namespace pelx04 {

namespace {

// No portable kernel: the literal loop is the portable pass.
std::uint32_t pictureBlendNone(unsigned char*, std::uint32_t, const std::uint32_t*, const PictureBlendParams&) {
    return 0;
}

using BlendKernelFn = std::uint32_t (*)(unsigned char*, std::uint32_t, const std::uint32_t*, const PictureBlendParams&);

}  // namespace

std::uint32_t pictureBlendFast(unsigned char* pixels, std::uint32_t count, const std::uint32_t* stored,
                               const PictureBlendParams& p) {
    return pickKernel<BlendKernelFn>(&pictureBlendNone, nullptr, PELX04_X86_KERNEL(x86::pictureBlendAvx2))(
        pixels, count, stored, p);
}

}  // namespace pelx04
