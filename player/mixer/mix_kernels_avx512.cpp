// The AVX-512 kernels: eight frames per step for a voice at a steady gain, the
// same operations in the same order as the reference. Ramps keep the AVX2
// kernel, whose speed is set by the gains' chain of single-precision steps
// rather than by the width of the registers. Every function here carries its
// target itself and runs only where the processor reports AVX-512 (the
// foundation with the doubleword/quadword and vector-length extensions).
// Fused multiply-add is never asked for: it would change the results.
#if defined(__x86_64__)

#include <immintrin.h>

#include <cstdint>

#include "player/mixer/mix_frame.h"
#include "player/mixer/mix_kernels.h"

namespace xmplayer {

namespace {

// A value and the one after it, read together as one 32-bit pair.
inline int32_t valuePairAt(const int16_t* data, uint64_t position) {
    int32_t pair;
    __builtin_memcpy(&pair, data + static_cast<int32_t>(position >> 32), sizeof(pair));
    return pair;
}

// The interpolated values of eight frames from their value pairs and their
// positions (for the fractions). first + w x (second - first), with
// w = (f >> 1) x 2^-31, is a multiple of 2^-31 below 2^16 in magnitude: it is
// formed exactly as the integer first x 2^31 + (f >> 1) x (second - first)
// and converted once, giving the reference's double.
[[gnu::target("avx512f,avx512dq,avx512vl,avx2")]] inline __m512d interpolatedPairs(
    __m256i pairs, __m512i positions) {
    const __m512i firsts = _mm512_cvtepi16_epi64(_mm256_cvtepi32_epi16(pairs));
    const __m512i seconds = _mm512_cvtepi32_epi64(_mm256_srai_epi32(pairs, 16));
    const __m512i halfFractions = _mm512_srli_epi64(_mm512_slli_epi64(positions, 32), 33);
    const __m512i scaled =
        _mm512_add_epi64(_mm512_slli_epi64(firsts, 31),
                         _mm512_mul_epi32(halfFractions, _mm512_sub_epi64(seconds, firsts)));
    return _mm512_mul_pd(_mm512_cvtepi64_pd(scaled), _mm512_set1_pd(fractionScale));
}

// Eight frames, the first at `position`: the pairs are read one by one (eight
// plain reads beat a gather).
[[gnu::target("avx512f,avx512dq,avx512vl,avx2")]] inline __m512d interpolateEight(
    const int16_t* data, uint64_t position, uint64_t delta, __m512i positions) {
    const __m256i pairs = _mm256_setr_epi32(
        valuePairAt(data, position), valuePairAt(data, position + delta),
        valuePairAt(data, position + 2 * delta), valuePairAt(data, position + 3 * delta),
        valuePairAt(data, position + 4 * delta), valuePairAt(data, position + 5 * delta),
        valuePairAt(data, position + 6 * delta), valuePairAt(data, position + 7 * delta));
    return interpolatedPairs(pairs, positions);
}

// Adds four frames' values times their gains in the frames' own order:
// (value 0, value 0, ..., value 3, value 3) x (left, right, ..., left, right).
[[gnu::target("avx512f,avx512dq,avx512vl,avx2")]] inline void addFourFrames(float* frames,
                                                                            __m512d values,
                                                                            __m512d gains) {
    const __m512d sums =
        _mm512_add_pd(_mm512_cvtps_pd(_mm256_loadu_ps(frames)), _mm512_mul_pd(values, gains));
    _mm256_storeu_ps(frames, _mm512_cvtpd_ps(sums));
}

// The same for the first `count` floats of the four frames only; the others
// are neither read nor written.
[[gnu::target("avx512f,avx512dq,avx512vl,avx2")]] inline void addFramesMasked(float* frames,
                                                                              __m512d values,
                                                                              __m512d gains,
                                                                              int32_t count) {
    const auto mask = static_cast<__mmask8>((1u << count) - 1);
    const __m512d sums = _mm512_add_pd(_mm512_cvtps_pd(_mm256_maskz_loadu_ps(mask, frames)),
                                       _mm512_mul_pd(values, gains));
    _mm256_mask_storeu_ps(frames, mask, _mm512_cvtpd_ps(sums));
}

[[gnu::target("avx512f,avx512dq,avx512vl,avx2")]] uint64_t mixSteadyAvx512(float* buffer,
                                                                           const MixRun& run,
                                                                           float gainLeft,
                                                                           float gainRight) {
    // Locals, so that the stores into the buffer do not make the compiler
    // read the run again on every step.
    const int16_t* const data = run.data;
    const uint64_t delta = run.delta;
    const int32_t frames = run.frames;
    const __m512d gains = _mm512_setr_pd(gainLeft, gainRight, gainLeft, gainRight, gainLeft,
                                         gainRight, gainLeft, gainRight);
    const __m512i early = _mm512_setr_epi64(0, 0, 1, 1, 2, 2, 3, 3);
    const __m512i late = _mm512_setr_epi64(4, 4, 5, 5, 6, 6, 7, 7);
    uint64_t position = run.position;
    __m512i positions =
        _mm512_add_epi64(_mm512_set1_epi64(static_cast<int64_t>(position)),
                         _mm512_mullo_epi64(_mm512_set1_epi64(static_cast<int64_t>(delta)),
                                            _mm512_setr_epi64(0, 1, 2, 3, 4, 5, 6, 7)));
    const __m512i eightSteps = _mm512_set1_epi64(static_cast<int64_t>(8 * delta));
    int32_t frame = 0;
    for (; frame + 8 <= frames; frame += 8) {
        const __m512d values = interpolateEight(data, position, delta, positions);
        position += 8 * delta;
        addFourFrames(buffer + 2 * frame, _mm512_permutexvar_pd(early, values), gains);
        addFourFrames(buffer + 2 * frame + 8, _mm512_permutexvar_pd(late, values), gains);
        positions = _mm512_add_epi64(positions, eightSteps);
    }
    // The last one to seven frames in one more step: the lanes beyond the run
    // repeat its last frame's position, so that they read only what the run
    // reads, and their frames are left alone.
    const int32_t left = frames - frame;
    if (left > 0) {
        alignas(64) uint64_t lanes[8];
        for (int32_t lane = 0; lane < 8; ++lane) {
            lanes[lane] = position + static_cast<uint64_t>(lane < left ? lane : left - 1) * delta;
        }
        const __m512i tail = _mm512_load_si512(lanes);
        const __m256i pairs = _mm256_setr_epi32(
            valuePairAt(data, lanes[0]), valuePairAt(data, lanes[1]), valuePairAt(data, lanes[2]),
            valuePairAt(data, lanes[3]), valuePairAt(data, lanes[4]), valuePairAt(data, lanes[5]),
            valuePairAt(data, lanes[6]), valuePairAt(data, lanes[7]));
        const __m512d values = interpolatedPairs(pairs, tail);
        float* const at = buffer + 2 * frame;
        addFramesMasked(at, _mm512_permutexvar_pd(early, values), gains, 2 * (left < 4 ? left : 4));
        if (left > 4) {
            addFramesMasked(at + 8, _mm512_permutexvar_pd(late, values), gains, 2 * (left - 4));
        }
        position += static_cast<uint64_t>(left) * delta;
    }
    return position;
}

}  // namespace

// The AVX2 set is constant-initialised, so it is complete before this one is
// formed from it.
const MixKernels avx512MixKernels{"avx512", mixSteadyAvx512, avx2MixKernels.ramp,
                                  avx2MixKernels.toPcm16, true};

}  // namespace xmplayer

#endif
