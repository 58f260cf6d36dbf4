#include "player/mixer/mix_kernels.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <utility>

#include "player/mixer/mix_frame.h"

namespace xmplayer {

namespace {

#if defined(__x86_64__)
// The answers cover the operating system's support as well: a set counts as
// present only where the system saves its registers.
std::array<const MixKernels*, 2> kernelsForProcessor() {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") != 0 && __builtin_cpu_supports("avx512dq") != 0 &&
        __builtin_cpu_supports("avx512vl") != 0 && __builtin_cpu_supports("avx512bw") != 0 &&
        __builtin_cpu_supports("avx2") != 0) {
        return {&avx2MixKernels, &avx512MixKernels};
    }
    if (__builtin_cpu_supports("avx2") != 0) {
        return {&avx2MixKernels, nullptr};
    }
    return {nullptr, nullptr};
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

namespace {

uint64_t walkSteady(float* /*buffer*/, const MixRun& run, float /*gainLeft*/, float /*gainRight*/) {
    return run.position + run.delta * static_cast<uint32_t>(run.frames);
}

uint64_t walkRamp(float* /*buffer*/, const MixRun& run, RampGains& gains) {
    for (int32_t frame = 0; frame < run.frames; ++frame) {
        gains.left = stepGain(gains.left, gains.stepLeft);
        gains.right = stepGain(gains.right, gains.stepRight);
    }
    return run.position + run.delta * static_cast<uint32_t>(run.frames);
}

void walkToPcm16(int16_t* /*destination*/, const float* /*source*/, int64_t /*valueCount*/) {}

}  // namespace

const MixKernels walkingMixKernels{"walking", walkSteady, walkRamp, walkToPcm16, true};

std::span<const MixKernels* const> supportedMixKernels() {
#if defined(__x86_64__)
    // The reference, the baseline SSE2 set, then what the processor adds.
    static const auto kernels = [] {
        std::array<const MixKernels*, 4> sets{&referenceMixKernels, &sse2MixKernels};
        size_t count = 2;
        for (const MixKernels* extra : kernelsForProcessor()) {
            if (extra != nullptr) {
                sets[count++] = extra;
            }
        }
        return std::pair{sets, count};
    }();
    return {kernels.first.data(), kernels.second};
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

}  // namespace xmplayer
