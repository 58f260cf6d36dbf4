#include "player/output/mix_kernels.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

#include "player/output/mix_frame.h"

namespace {

#if defined(__x86_64__)
// The answer covers the operating system's support as well: AVX2 counts as
// present only where the system saves the wide registers.
bool processorHasAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
}

std::array<const MixKernels*, 3> kernelsForProcessor() {
    if (processorHasAvx2()) {
        return {&referenceMixKernels, &sse2MixKernels, &avx2MixKernels};
    }
    return {&referenceMixKernels, &sse2MixKernels, nullptr};
}
#endif

}  // namespace

uint64_t mixSteadyReference(float* buffer, const MixRun& run, float gainLeft, float gainRight) {
    uint64_t position = run.position;
    for (int32_t frame = 0; frame < run.frames; ++frame) {
        addFrame(buffer + 2 * frame, interpolateAt(run.data, position), gainLeft, gainRight);
        position += run.delta;
    }
    return position;
}

// The gains move after the frame is added, so a ramp's first frame plays at
// its starting gain; each gain is a float and is narrowed after every step.
uint64_t mixRampReference(float* buffer, const MixRun& run, RampGains& gains) {
    uint64_t position = run.position;
    for (int32_t frame = 0; frame < run.frames; ++frame) {
        addFrame(buffer + 2 * frame, interpolateAt(run.data, position), gains.left, gains.right);
        gains.left = stepGain(gains.left, gains.stepLeft);
        gains.right = stepGain(gains.right, gains.stepRight);
        position += run.delta;
    }
    return position;
}

void toPcm16Reference(int16_t* destination, const float* source, int64_t valueCount) {
    for (int64_t value = 0; value < valueCount; ++value) {
        // Clamped first, so the conversion is always defined; rounding is to
        // nearest with ties to even, the default mode. The mixer never makes
        // a value that is not a number; were there one, it would be silence.
        const float sample = source[value];
        const float clamped = std::isnan(sample) ? 0.0f : std::clamp(sample, -32768.0f, 32767.0f);
        destination[value] = static_cast<int16_t>(std::lrint(clamped));
    }
}

const MixKernels referenceMixKernels{"reference", mixSteadyReference, mixRampReference,
                                     toPcm16Reference, false};

std::span<const MixKernels* const> supportedMixKernels() {
#if defined(__x86_64__)
    static const std::array<const MixKernels*, 3> kernels = kernelsForProcessor();
    return {kernels.data(), kernels[2] != nullptr ? kernels.size() : kernels.size() - 1};
#else
    // Elsewhere the reference kernels serve, with the silent voices skipped.
    static const MixKernels scalarMixKernels{"scalar", mixSteadyReference, mixRampReference,
                                             toPcm16Reference, true};
    static const std::array<const MixKernels*, 2> kernels{&referenceMixKernels, &scalarMixKernels};
    return kernels;
#endif
}

const MixKernels& selectedMixKernels() {
    static const MixKernels& selected = *supportedMixKernels().back();
    return selected;
}
