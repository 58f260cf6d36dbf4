#include "player/output/mix_kernels.h"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

#if defined(__SSE2__)

// Two frames per step in SSE2, the same operations in the same order as the
// reference: one pair of double lanes holds the two frames' values, their
// left products, their right products. The frames' positions are kept both in
// scalars (for the loads) and in a vector (for the fractions).

// The value at a position's integer part and the one after it, as one 32-bit load.
inline __m128i loadValuePair(const int16_t* data, uint64_t position) {
    int32_t pair;
    std::memcpy(&pair, data + static_cast<int32_t>(position >> 32), sizeof(pair));
    return _mm_cvtsi32_si128(pair);
}

// The interpolated values at `position` and `next`; `positions` holds the
// same two in its 64-bit lanes.
inline __m128d interpolatePair(const int16_t* data, uint64_t position, uint64_t next,
                               __m128i positions) {
    const __m128i pairs =
        _mm_unpacklo_epi32(loadValuePair(data, position), loadValuePair(data, next));
    const __m128i firsts = _mm_srai_epi32(_mm_slli_epi32(pairs, 16), 16);
    const __m128i seconds = _mm_srai_epi32(pairs, 16);
    const __m128i fractions =
        _mm_srli_epi32(_mm_shuffle_epi32(positions, _MM_SHUFFLE(3, 1, 2, 0)), 1);
    const __m128d w = _mm_mul_pd(_mm_cvtepi32_pd(fractions), _mm_set1_pd(fractionScale));
    const __m128d difference = _mm_cvtepi32_pd(_mm_sub_epi32(seconds, firsts));
    return _mm_add_pd(_mm_cvtepi32_pd(firsts), _mm_mul_pd(w, difference));
}

// Adds value x gain to two frames: the left values of both frames in one
// pair of lanes, the right values in the other.
inline void addFramePair(float* frames, __m128d values, __m128d gainsLeft, __m128d gainsRight) {
    const __m128 stored = _mm_loadu_ps(frames);
    const __m128 bySide = _mm_shuffle_ps(stored, stored, _MM_SHUFFLE(3, 1, 2, 0));
    const __m128d left = _mm_add_pd(_mm_cvtps_pd(bySide), _mm_mul_pd(values, gainsLeft));
    const __m128d right =
        _mm_add_pd(_mm_cvtps_pd(_mm_movehl_ps(bySide, bySide)), _mm_mul_pd(values, gainsRight));
    _mm_storeu_ps(frames, _mm_unpacklo_ps(_mm_cvtpd_ps(left), _mm_cvtpd_ps(right)));
}

uint64_t mixSteadySse2(float* buffer, const MixRun& run, float gainLeft, float gainRight) {
    const __m128d gainsLeft = _mm_set1_pd(gainLeft);
    const __m128d gainsRight = _mm_set1_pd(gainRight);
    uint64_t position = run.position;
    __m128i positions =
        _mm_set_epi64x(static_cast<int64_t>(position + run.delta), static_cast<int64_t>(position));
    const __m128i twoSteps = _mm_set1_epi64x(static_cast<int64_t>(2 * run.delta));
    int32_t frame = 0;
    for (; frame + 2 <= run.frames; frame += 2) {
        const uint64_t next = position + run.delta;
        addFramePair(buffer + 2 * frame, interpolatePair(run.data, position, next, positions),
                     gainsLeft, gainsRight);
        position = next + run.delta;
        positions = _mm_add_epi64(positions, twoSteps);
    }
    if (frame < run.frames) {
        addFrame(buffer + 2 * frame, interpolate(run.data, position), gainLeft, gainRight);
        position += run.delta;
    }
    return position;
}

// The gains stay floats: a float addition rounds exactly as the double sum
// narrowed to float.
uint64_t mixRampSse2(float* buffer, const MixRun& run, RampGains& gains) {
    __m128 gain = _mm_setr_ps(gains.left, gains.right, 0.0f, 0.0f);
    const __m128 step = _mm_setr_ps(gains.stepLeft, gains.stepRight, 0.0f, 0.0f);
    uint64_t position = run.position;
    __m128i positions =
        _mm_set_epi64x(static_cast<int64_t>(position + run.delta), static_cast<int64_t>(position));
    const __m128i twoSteps = _mm_set1_epi64x(static_cast<int64_t>(2 * run.delta));
    int32_t frame = 0;
    for (; frame + 2 <= run.frames; frame += 2) {
        const uint64_t next = position + run.delta;
        const __m128 gainNext = _mm_add_ps(gain, step);
        // (left 0, left 1, right 0, right 1)
        const __m128 bySide = _mm_unpacklo_ps(gain, gainNext);
        addFramePair(buffer + 2 * frame, interpolatePair(run.data, position, next, positions),
                     _mm_cvtps_pd(bySide), _mm_cvtps_pd(_mm_movehl_ps(bySide, bySide)));
        gain = _mm_add_ps(gainNext, step);
        position = next + run.delta;
        positions = _mm_add_epi64(positions, twoSteps);
    }
    alignas(16) float last[4];
    _mm_store_ps(last, gain);
    gains.left = last[0];
    gains.right = last[1];
    if (frame < run.frames) {
        RampGains rest = gains;
        const MixRun tail{run.data, position, run.delta, run.frames - frame};
        position = mixRampReference(buffer + 2 * frame, tail, rest);
        gains = rest;
    }
    return position;
}

#endif

}  // namespace

const MixKernels referenceMixKernels{mixSteadyReference, mixRampReference, false};
#if defined(__SSE2__)
const MixKernels fastMixKernels{mixSteadySse2, mixRampSse2, true};
#else
const MixKernels fastMixKernels{mixSteadyReference, mixRampReference, true};
#endif
