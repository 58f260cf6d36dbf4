// One frame of mixing as the reference defines it; the vector kernels use it
// for the frames left over at the end of a run.
#pragma once

#include <cstdint>

namespace xmplayer {

// w = (f >> 1) x 2^-31: the fraction without its lowest bit, which keeps it
// within a signed 32-bit conversion.
inline constexpr double fractionScale = 0x1p-31;

// Linear interpolation between the value at the position and the next one
// (the guard value after the loop end, or the spare value before the data).
// Exact in double: the result has at most 48 significant bits, so any exact
// way of forming it gives the same value.
inline double interpolateAt(const int16_t* data, uint64_t position) {
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

// A ramp's gains after one frame: each a float, narrowed at every step.
inline float stepGain(float gain, float step) {
    return static_cast<float>(static_cast<double>(gain) + static_cast<double>(step));
}

}  // namespace xmplayer
