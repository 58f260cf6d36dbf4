// The AVX2 kernels: four frames per step, the same operations in the same
// order as the reference. Every function here carries the AVX2 target itself,
// so the rest of the program is built for the baseline processor and these
// run only where the processor reports AVX2. AVX2 alone brings no fused
// multiply-add, which would change the results.
#if defined(__x86_64__)

#include <immintrin.h>

#include <cstdint>

#include "player/mixer/mix_frame.h"
#include "player/mixer/mix_kernels.h"

namespace xmplayer {

namespace {

// The values at a position's index and the one after it, in one 32-bit read.
[[gnu::target("avx2")]] inline __m128i loadValuePair(const int16_t* data, uint64_t position) {
    int32_t pair;
    __builtin_memcpy(&pair, data + static_cast<int32_t>(position >> 32), sizeof(pair));
    return _mm_cvtsi32_si128(pair);
}

// The interpolated values of four frames, the first at `position`; the
// indices come from scalars, the fractions from the positions in a vector.
// The value first + w x (second - first) with w = (f >> 1) x 2^-31 is a
// multiple of 2^-31 below 2^16 in magnitude, so it is formed exactly as the
// integer first x 2^31 + (f >> 1) x (second - first) and converted once: the
// same double as the reference's, with fewer conversions.
[[gnu::target("avx2")]] inline __m256d interpolateFour(const int16_t* data, uint64_t position,
                                                       uint64_t delta, __m256i positions) {
    const __m128i pairs = _mm_unpacklo_epi64(
        _mm_unpacklo_epi32(loadValuePair(data, position), loadValuePair(data, position + delta)),
        _mm_unpacklo_epi32(loadValuePair(data, position + 2 * delta),
                           loadValuePair(data, position + 3 * delta)));
    // One pair in the low half of each 64-bit lane; the high halves stay 0.
    const __m256i wide = _mm256_cvtepu32_epi64(pairs);
    const __m256i firsts = _mm256_srai_epi32(_mm256_slli_epi32(wide, 16), 16);
    const __m256i differences = _mm256_sub_epi32(_mm256_srai_epi32(wide, 16), firsts);
    const __m256i halfFractions = _mm256_srli_epi64(_mm256_slli_epi64(positions, 32), 33);
    const __m256i scaled = _mm256_add_epi64(
        _mm256_slli_epi64(_mm256_mul_epi32(firsts, _mm256_set1_epi64x(int64_t{1} << 30)), 1),
        _mm256_mul_epi32(halfFractions, differences));
    // An integer below 2^51 in magnitude added to the bits of 1.5 x 2^52 gives
    // the double 1.5 x 2^52 + integer; taking 1.5 x 2^52 away leaves it.
    const __m256d bias = _mm256_set1_pd(0x1.8p52);
    const __m256d exact = _mm256_sub_pd(
        _mm256_castsi256_pd(_mm256_add_epi64(scaled, _mm256_castpd_si256(bias))), bias);
    return _mm256_mul_pd(exact, _mm256_set1_pd(fractionScale));
}

// Adds two frames' values times their gains, all in the frames' own order:
// (value 0, value 0, value 1, value 1) x (left 0, right 0, left 1, right 1).
[[gnu::target("avx2")]] inline void addTwoFrames(float* frames, __m256d values, __m256d gains) {
    const __m256d sums =
        _mm256_add_pd(_mm256_cvtps_pd(_mm_loadu_ps(frames)), _mm256_mul_pd(values, gains));
    _mm_storeu_ps(frames, _mm256_cvtpd_ps(sums));
}

[[gnu::target("avx2")]] inline void addFourFrames(float* frames, __m256d values, __m256d earlyGains,
                                                  __m256d lateGains) {
    addTwoFrames(frames, _mm256_permute4x64_pd(values, _MM_SHUFFLE(1, 1, 0, 0)), earlyGains);
    addTwoFrames(frames + 4, _mm256_permute4x64_pd(values, _MM_SHUFFLE(3, 3, 2, 2)), lateGains);
}

[[gnu::target("avx2")]] inline __m256i fourPositions(uint64_t position, uint64_t delta) {
    return _mm256_setr_epi64x(
        static_cast<int64_t>(position), static_cast<int64_t>(position + delta),
        static_cast<int64_t>(position + 2 * delta), static_cast<int64_t>(position + 3 * delta));
}

[[gnu::target("avx2")]] uint64_t mixSteadyAvx2(float* buffer, const MixRun& run, float gainLeft,
                                               float gainRight) {
    // Locals, so that the stores into the buffer do not make the compiler
    // read the run again on every step.
    const int16_t* const data = run.data;
    const uint64_t delta = run.delta;
    const int32_t frames = run.frames;
    const __m256d gains = _mm256_setr_pd(gainLeft, gainRight, gainLeft, gainRight);
    uint64_t position = run.position;
    __m256i positions = fourPositions(position, delta);
    const __m256i fourSteps = _mm256_set1_epi64x(static_cast<int64_t>(4 * delta));
    int32_t frame = 0;
    for (; frame + 4 <= frames; frame += 4) {
        addFourFrames(buffer + 2 * frame, interpolateFour(data, position, delta, positions), gains,
                      gains);
        position += 4 * delta;
        positions = _mm256_add_epi64(positions, fourSteps);
    }
    for (; frame < frames; ++frame) {
        addFrame(buffer + 2 * frame, interpolateAt(data, position), gainLeft, gainRight);
        position += delta;
    }
    return position;
}

// The gains stay floats, (left, right) in the low lanes, each stepped in turn:
// a float addition rounds exactly as the double sum narrowed to float.
[[gnu::target("avx2")]] uint64_t mixRampAvx2(float* buffer, const MixRun& run, RampGains& gains) {
    const int16_t* const data = run.data;
    const uint64_t delta = run.delta;
    const int32_t frames = run.frames;
    __m128 gain = _mm_setr_ps(gains.left, gains.right, 0.0f, 0.0f);
    const __m128 step = _mm_setr_ps(gains.stepLeft, gains.stepRight, 0.0f, 0.0f);
    uint64_t position = run.position;
    __m256i positions = fourPositions(position, delta);
    const __m256i fourSteps = _mm256_set1_epi64x(static_cast<int64_t>(4 * delta));
    int32_t frame = 0;
    for (; frame + 4 <= frames; frame += 4) {
        const __m128 gain1 = _mm_add_ps(gain, step);
        const __m128 gain2 = _mm_add_ps(gain1, step);
        const __m128 gain3 = _mm_add_ps(gain2, step);
        addFourFrames(buffer + 2 * frame, interpolateFour(data, position, delta, positions),
                      _mm256_cvtps_pd(_mm_movelh_ps(gain, gain1)),
                      _mm256_cvtps_pd(_mm_movelh_ps(gain2, gain3)));
        gain = _mm_add_ps(gain3, step);
        position += 4 * delta;
        positions = _mm256_add_epi64(positions, fourSteps);
    }
    float left = _mm_cvtss_f32(gain);
    float right = _mm_cvtss_f32(_mm_shuffle_ps(gain, gain, _MM_SHUFFLE(1, 1, 1, 1)));
    for (; frame < frames; ++frame) {
        addFrame(buffer + 2 * frame, interpolateAt(data, position), left, right);
        left = stepGain(left, gains.stepLeft);
        right = stepGain(right, gains.stepRight);
        position += delta;
    }
    gains.left = left;
    gains.right = right;
    return position;
}

// Eight values clamped to the 16-bit range as the reference does, a value that
// is not a number as 0, and rounded in the current mode (to nearest, ties to
// even). The clamp comes before the conversion so that values beyond 32 bits
// cannot turn into the conversion's overflow result.
[[gnu::target("avx2")]] inline __m256i clampedPcm(const float* source) {
    const __m256 value = _mm256_loadu_ps(source);
    const __m256 number = _mm256_and_ps(value, _mm256_cmp_ps(value, value, _CMP_ORD_Q));
    const __m256 clamped =
        _mm256_min_ps(_mm256_max_ps(number, _mm256_set1_ps(-32768.0f)), _mm256_set1_ps(32767.0f));
    return _mm256_cvtps_epi32(clamped);
}

[[gnu::target("avx2")]] void toPcm16Avx2(int16_t* destination, const float* source,
                                         int64_t valueCount) {
    int64_t value = 0;
    for (; value + 16 <= valueCount; value += 16) {
        // The packing works within each 128-bit half; the permutation puts
        // the four groups of four back in order.
        const __m256i packed =
            _mm256_packs_epi32(clampedPcm(source + value), clampedPcm(source + value + 8));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(destination + value),
                            _mm256_permute4x64_epi64(packed, _MM_SHUFFLE(3, 1, 2, 0)));
    }
    toPcm16Reference(destination + value, source + value, valueCount - value);
}

}  // namespace

const MixKernels avx2MixKernels{"avx2", mixSteadyAvx2, mixRampAvx2, toPcm16Avx2, true};

}  // namespace xmplayer

#endif
