#include "filters/posterize.hpp"

#include "filters/channel_kernels.hpp"
#include "core/pixel_pass.hpp"

namespace pelx04 {

void applyPosterizeReference(unsigned char* pixels, std::uint32_t count, const PosterizeParams& p) {
    rewriteVisiblePixels(pixels, count, [&p](std::uint32_t word) { return posterizePixel(word, p); });
}

namespace {

// value / step × step is the band kernel with divisor and multiplier |step|
// (a negative step truncates toward zero the same way); a step of 0 keeps
// the channel, which is divisor and multiplier 1.
inline void setStep(BandKernel& k, int byte, std::int32_t step) {
    const std::int64_t size = step < 0 ? -std::int64_t{step} : (step == 0 ? 1 : std::int64_t{step});
    setBand(k, byte, size, size);
}

}  // namespace

// Grey mode depends on R + G + B alone: a table over the 766 sums, each entry
// made by the rule from one colour with that sum, for the portable kernel, and
// the step for the vector ones.
void applyPosterize(unsigned char* pixels, std::uint32_t count, const PosterizeParams& p) {
    std::uint32_t done;
    if (p.grey) {
        GreySteps k;
        for (int sum = 0; sum < 766; ++sum) {
            const int r = sum < 255 ? sum : 255;
            const int g = sum - r < 255 ? sum - r : 255;
            const int b = sum - r - g;
            k.rgb[sum] = posterizePixel(packWord(255, r, g, b), p) & 0xFFFFFFu;
        }
        const std::int64_t size = p.greyStep < 0 ? -std::int64_t{p.greyStep} : std::int64_t{p.greyStep};
        k.step = static_cast<std::int32_t>(size > 511 ? 511 : size);
        done = pickKernel<GreyStepsKernelFn>(&greyStepsPortable, PELX04_SSE2_KERNEL(x86::greyStepsSse2),
                                             PELX04_X86_KERNEL(x86::greyStepsAvx2))(pixels, count, k);
    } else {
        BandKernel k;
        setStep(k, 0, p.blue);
        setStep(k, 1, p.green);
        setStep(k, 2, p.red);
        setBand(k, 3, 1, 1);
        done = pickKernel<BandKernelFn>(&bandPortable, PELX04_SSE2_KERNEL(x86::bandSse2),
                                        PELX04_X86_KERNEL(x86::bandAvx2))(pixels, count, k);
    }
    applyPosterizeReference(pixels + std::size_t{done} * 4u, count - done, p);
}

}  // namespace pelx04
