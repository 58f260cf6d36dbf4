#include "player/output/mix_kernels.h"

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

}  // namespace

const MixKernels referenceMixKernels{mixSteadyReference, mixRampReference, false};
const MixKernels fastMixKernels{mixSteadyReference, mixRampReference, true};
