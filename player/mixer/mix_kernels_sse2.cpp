// The SSE2 kernels: two frames per step, the same operations in the same
// order as the reference. One pair of double lanes holds the two frames'
// values, their left products, their right products.
#if defined(__x86_64__)

#include <emmintrin.h>

#include <cstdint>
#include <cstring>

#include "player/mixer/mix_kernels.h"

namespace xmplayer {

namespace {

constexpr double fractionScale = 0x1p-31;

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
        const MixRun tail{run.data, position, run.delta, run.frames - frame, run.readableEnd};
        position = mixSteadyReference(buffer + 2 * frame, tail, gainLeft, gainRight);
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
    gains.left = _mm_cvtss_f32(gain);
    gains.right = _mm_cvtss_f32(_mm_shuffle_ps(gain, gain, _MM_SHUFFLE(1, 1, 1, 1)));
    if (frame < run.frames) {
        const MixRun tail{run.data, position, run.delta, run.frames - frame, run.readableEnd};
        position = mixRampReference(buffer + 2 * frame, tail, gains);
    }
    return position;
}

// Four values clamped to the 16-bit range as the reference does, a value that
// is not a number as 0. The clamp comes before the conversion so that values
// beyond 32 bits cannot turn into the conversion's overflow result.
inline __m128i clampedPcm(const float* source) {
    const __m128 value = _mm_loadu_ps(source);
    const __m128 number = _mm_and_ps(value, _mm_cmpord_ps(value, value));
    const __m128 clamped =
        _mm_min_ps(_mm_max_ps(number, _mm_set1_ps(-32768.0f)), _mm_set1_ps(32767.0f));
    // Rounds in the current mode: to nearest, ties to even.
    return _mm_cvtps_epi32(clamped);
}

void toPcm16Sse2(int16_t* destination, const float* source, int64_t valueCount) {
    int64_t value = 0;
    for (; value + 8 <= valueCount; value += 8) {
        const __m128i packed =
            _mm_packs_epi32(clampedPcm(source + value), clampedPcm(source + value + 4));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(destination + value), packed);
    }
    toPcm16Reference(destination + value, source + value, valueCount - value);
}

}  // namespace

const MixKernels sse2MixKernels{"sse2", mixSteadySse2, mixRampSse2, toPcm16Sse2, true};

}  // namespace xmplayer

#endif
