#include "player/output/mix_kernels.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

namespace {

// w = (f >> 1) x 2^-31: the fraction without its lowest bit, which keeps it
// within a signed 32-bit conversion.
constexpr double fractionScale = 0x1p-31;

// Linear interpolation between the value at the position and the next one
// (the guard value after the loop end, or the spare value before the data).
// Exact in double: the result has at most 48 significant bits.
inline double interpolate(const int16_t* data, uint64_t position) {
    const auto index = static_cast<int32_t>(position >> 32);
    const auto fraction = static_cast<uint32_t>(position);
    const double w = static_cast<double>(static_cast<int32_t>(fraction >> 1)) * fractionScale;
    const int32_t first = data[index];
    const int32_t second = data[index + 1];
    return static_cast<double>(first) + w * static_cast<double>(second - first);
}

// The products and the sum are double; the frame's float is the sum narrowed.
inline void addFrame(float* frame, double value, float gainLeft, float gainRight) {
    frame[0] =
        static_cast<float>(static_cast<double>(frame[0]) + value * static_cast<double>(gainLeft));
    frame[1] =
        static_cast<float>(static_cast<double>(frame[1]) + value * static_cast<double>(gainRight));
}

#if defined(__x86_64__)
// GCC and Clang keep a table of the processor's features, filled before any
// constructor of the program runs.
bool processorHasAvx2() {
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
        addFrame(buffer + 2 * frame, interpolate(run.data, position), gainLeft, gainRight);
        position += run.delta;
    }
    return position;
}

// The gains move after the frame is added, so a ramp's first frame plays at
// its starting gain; each gain is a float and is narrowed after every step.
uint64_t mixRampReference(float* buffer, const MixRun& run, RampGains& gains) {
    uint64_t position = run.position;
    for (int32_t frame = 0; frame < run.frames; ++frame) {
        addFrame(buffer + 2 * frame, interpolate(run.data, position), gains.left, gains.right);
        gains.left = static_cast<float>(static_cast<double>(gains.left) +
                                        static_cast<double>(gains.stepLeft));
        gains.right = static_cast<float>(static_cast<double>(gains.right) +
                                         static_cast<double>(gains.stepRight));
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
