// The AVX-512 kernels: sixteen frames per step, the same arithmetic as the
// reference. Every function here carries its target itself and runs only
// where the processor reports AVX-512 (the foundation with the byte/word,
// doubleword/quadword and vector-length extensions). Fused multiply-add is
// never asked for: it would change the results.
//
// The values a group of frames interpolates between are read as a window:
// below two values per frame the sixteen frames read inside 32 consecutive
// values, below four inside 64, so one or two vector loads bring them all and
// a word permutation picks each frame's pair. Faster voices read frame by
// frame.
#if defined(__x86_64__)

#include <immintrin.h>

#include <array>
#include <cstddef>
#include <cstdint>

#include "player/mixer/mix_frame.h"
#include "player/mixer/mix_kernels.h"

namespace xmplayer {

namespace {

constexpr int32_t groupFrames = 16;

// The largest steps (exclusive) whose groups read inside one and two windows
// of 32 values: the sixteen frames span less than 15 x step + 1 values, and
// each reads the value after its own.
constexpr uint64_t oneWindowSteps = uint64_t{2} << 32;
constexpr uint64_t twoWindowSteps = uint64_t{4} << 32;

enum class Reads { oneWindow, twoWindows, scattered };

// Each group is laid out with frame m in doubleword 2m and frame m + 8 in
// doubleword 2m + 1 of one register, so that the 32 x 32-bit multiplication,
// which reads the even doublewords, takes frames 0 to 7 and, after a shift,
// frames 8 to 15, each set in frame order.
//
// The word indices that gather, from the positions of frames 0 to 7 (in one
// register's quadwords) and 8 to 15 (in another's), the index part of each
// position relative to the window into both words of the frame's doubleword.
alignas(64) constexpr std::array<uint16_t, 32> relativeIndexWords = [] {
    std::array<uint16_t, 32> words{};
    for (int word = 0; word < 32; ++word) {
        const int doubleword = word / 2;
        const int frame = doubleword / 2;
        // Word 2 of each quadword is the low half of the position's index.
        words[word] = static_cast<uint16_t>((doubleword % 2 == 0 ? 0 : 32) + 4 * frame + 2);
    }
    return words;
}();

// The interpolated values of a group's frames 0 to 7 and 8 to 15, each as
// value x 2^31: first + w x (second - first), with w = (f >> 1) x 2^-31, is
// a multiple of 2^-31 below 2^16 in magnitude, so value x 2^31 is the integer
// first x 2^31 + (f >> 1) x (second - first), below 2^48 and exact as a
// double. The reference's value is this times 2^-31, exactly.
struct GroupValues {
    __m512d early;
    __m512d late;
};

// What stays the same through a run.
struct RunReader {
    const int16_t* data;
    const int16_t* readableEnd;
    uint64_t delta;
    // Moving backward, the group's last frame reads the lowest values.
    bool backward;
    // k x delta for the frames 0 to 7 and 8 to 15 of a group.
    __m512i earlySteps;
    __m512i lateSteps;
};

[[gnu::target("avx512f,avx512dq,avx512vl,avx512bw")]] inline RunReader readerOf(const MixRun& run) {
    const __m512i frameNumbers = _mm512_setr_epi64(0, 1, 2, 3, 4, 5, 6, 7);
    const __m512i delta = _mm512_set1_epi64(static_cast<int64_t>(run.delta));
    const __m512i earlySteps = _mm512_mullo_epi64(frameNumbers, delta);
    return {run.data,
            run.readableEnd,
            run.delta,
            static_cast<int64_t>(run.delta) < 0,
            earlySteps,
            _mm512_add_epi64(earlySteps, _mm512_set1_epi64(static_cast<int64_t>(8 * run.delta)))};
}

// The two halves of each frame's value pair (first in the low word, second
// in the high word of its doubleword) and the positions (for the fractions)
// give the values.
[[gnu::target("avx512f,avx512dq,avx512vl,avx512bw"), gnu::always_inline]] inline GroupValues
valuesFromPairs(__m512i pairs, __m512i earlyPositions, __m512i latePositions) {
    const __m512i firstsAbove = _mm512_slli_epi32(pairs, 16);  // first x 2^16
    const __m512i differences =
        _mm512_sub_epi32(_mm512_srai_epi32(pairs, 16), _mm512_srai_epi32(firstsAbove, 16));
    // first x 2^31 in 64 bits, from the low word of each quadword (frames 0
    // to 7) and from the high doubleword's (frames 8 to 15).
    const __m512i earlyFirsts = _mm512_srai_epi64(_mm512_slli_epi64(pairs, 48), 17);
    const __m512i lateFirsts = _mm512_slli_epi64(_mm512_srai_epi64(firstsAbove, 32), 15);
    // f >> 1 in the low doubleword of each position; the multiplication
    // ignores the high one.
    const __m512i early = _mm512_add_epi64(
        earlyFirsts, _mm512_mul_epi32(_mm512_srli_epi32(earlyPositions, 1), differences));
    const __m512i late = _mm512_add_epi64(
        lateFirsts,
        _mm512_mul_epi32(_mm512_srli_epi32(latePositions, 1), _mm512_srli_epi64(differences, 32)));
    return {_mm512_cvtepi64_pd(early), _mm512_cvtepi64_pd(late)};
}

// The 32 values from `window`, of which `readable` may be read: the others
// come as 0.
[[gnu::target("avx512f,avx512dq,avx512vl,avx512bw")]] inline __m512i loadWindow(
    const int16_t* window, ptrdiff_t readable) {
    if (readable >= 32) {
        return _mm512_loadu_si512(window);
    }
    if (readable <= 0) {
        return _mm512_setzero_si512();
    }
    return _mm512_maskz_loadu_epi16(static_cast<__mmask32>((uint64_t{1} << readable) - 1), window);
}

// A group read through one or two windows that start at the index of its
// lowest frame; `lowest` is that frame's position.
template <Reads reads>
[[gnu::target("avx512f,avx512dq,avx512vl,avx512bw"), gnu::always_inline]] inline GroupValues
windowValues(const RunReader& reader, uint64_t position, uint64_t lowest) {
    const uint64_t windowStart = lowest & ~uint64_t{0xFFFFFFFF};
    const int16_t* const window = reader.data + static_cast<int32_t>(lowest >> 32);
    // Positions relative to the window: the index part is below 64.
    const __m512i base = _mm512_set1_epi64(static_cast<int64_t>(position - windowStart));
    const __m512i early = _mm512_add_epi64(base, reader.earlySteps);
    const __m512i late = _mm512_add_epi64(base, reader.lateSteps);
    // (index, index + 1) in the words of each frame's doubleword; the
    // permutations read only the low five (one window) or six bits of a word.
    const __m512i gatherIndices = _mm512_load_si512(relativeIndexWords.data());
    const __m512i indices = _mm512_add_epi32(_mm512_permutex2var_epi16(early, gatherIndices, late),
                                             _mm512_set1_epi32(0x10000));
    const ptrdiff_t readable = reader.readableEnd - window;
    __m512i pairs;
    if constexpr (reads == Reads::oneWindow) {
        pairs = _mm512_permutexvar_epi16(indices, loadWindow(window, readable));
    } else {
        pairs = _mm512_permutex2var_epi16(
            loadWindow(window, readable), indices,
            readable > 32 ? loadWindow(window + 32, readable - 32) : _mm512_setzero_si512());
    }
    return valuesFromPairs(pairs, early, late);
}

// A value and the one after it, read together as one 32-bit pair.
inline int32_t valuePairAt(const int16_t* data, uint64_t position) {
    int32_t pair;
    __builtin_memcpy(&pair, data + static_cast<int32_t>(position >> 32), sizeof(pair));
    return pair;
}

// A group read frame by frame, for the fastest voices; frames beyond
// `lastFrame` read where it does, so that they read only what the run reads.
[[gnu::target("avx512f,avx512dq,avx512vl,avx512bw"), gnu::always_inline]] inline GroupValues
scatteredValues(const RunReader& reader, uint64_t position, int32_t lastFrame) {
    const auto pairOf = [&](int32_t frame) {
        return valuePairAt(
            reader.data,
            position + static_cast<uint64_t>(frame < lastFrame ? frame : lastFrame) * reader.delta);
    };
    const __m512i pairs = _mm512_setr_epi32(
        pairOf(0), pairOf(8), pairOf(1), pairOf(9), pairOf(2), pairOf(10), pairOf(3), pairOf(11),
        pairOf(4), pairOf(12), pairOf(5), pairOf(13), pairOf(6), pairOf(14), pairOf(7), pairOf(15));
    const __m512i base = _mm512_set1_epi64(static_cast<int64_t>(position));
    return valuesFromPairs(pairs, _mm512_add_epi64(base, reader.earlySteps),
                           _mm512_add_epi64(base, reader.lateSteps));
}

// The values of the group that starts at `position` and ends at `lastFrame`
// (15 but for a run's last group).
template <Reads reads>
[[gnu::target("avx512f,avx512dq,avx512vl,avx512bw"), gnu::always_inline]] inline GroupValues
groupValues(const RunReader& reader, uint64_t position, int32_t lastFrame) {
    if constexpr (reads == Reads::scattered) {
        return scatteredValues(reader, position, lastFrame);
    } else {
        const uint64_t lowest =
            reader.backward ? position + static_cast<uint64_t>(lastFrame) * reader.delta : position;
        return windowValues<reads>(reader, position, lowest);
    }
}

// Each frame's value twice, for its left and right products: frames 0 to 3
// of a group's half, then 4 to 7.
[[gnu::target("avx512f,avx512dq,avx512vl,avx512bw")]] inline __m512d lowFramesTwice(
    __m512d values) {
    return _mm512_permutexvar_pd(_mm512_setr_epi64(0, 0, 1, 1, 2, 2, 3, 3), values);
}

[[gnu::target("avx512f,avx512dq,avx512vl,avx512bw")]] inline __m512d highFramesTwice(
    __m512d values) {
    return _mm512_permutexvar_pd(_mm512_setr_epi64(4, 4, 5, 5, 6, 6, 7, 7), values);
}

// Adds four frames' values times their gains in the frames' own order:
// (value 0, value 0, ..., value 3, value 3) x (left, right, ..., left, right).
[[gnu::target("avx512f,avx512dq,avx512vl,avx512bw")]] inline void addFourFrames(float* frames,
                                                                                __m512d values,
                                                                                __m512d gains) {
    const __m512d sums =
        _mm512_add_pd(_mm512_cvtps_pd(_mm256_loadu_ps(frames)), _mm512_mul_pd(values, gains));
    _mm256_storeu_ps(frames, _mm512_cvtpd_ps(sums));
}

// The same for the floats of the four frames in `mask` only; the others are
// neither read nor written.
[[gnu::target("avx512f,avx512dq,avx512vl,avx512bw")]] inline void addFramesMasked(float* frames,
                                                                                  __m512d values,
                                                                                  __m512d gains,
                                                                                  __mmask8 mask) {
    const __m512d sums = _mm512_add_pd(_mm512_cvtps_pd(_mm256_maskz_loadu_ps(mask, frames)),
                                       _mm512_mul_pd(values, gains));
    _mm256_mask_storeu_ps(frames, mask, _mm512_cvtpd_ps(sums));
}

// The gains of a group's sixteen frames as doubles, four frames to a
// register: (left, right) of each frame in turn.
struct GroupGains {
    __m512d gains[4];
};

// Adds a group's frames, or its first `frames` frames, times their gains.
[[gnu::target("avx512f,avx512dq,avx512vl,avx512bw")]] inline void addGroup(
    float* buffer, const GroupValues& values, const GroupGains& gains) {
    addFourFrames(buffer, lowFramesTwice(values.early), gains.gains[0]);
    addFourFrames(buffer + 8, highFramesTwice(values.early), gains.gains[1]);
    addFourFrames(buffer + 16, lowFramesTwice(values.late), gains.gains[2]);
    addFourFrames(buffer + 24, highFramesTwice(values.late), gains.gains[3]);
}

// Without a branch on the count, which varies from run to run: the floats
// beyond the run are masked off.
[[gnu::target("avx512f,avx512dq,avx512vl,avx512bw")]] inline void addGroupPart(
    float* buffer, const GroupValues& values, const GroupGains& gains, int32_t frames) {
    const uint32_t floats = (uint32_t{1} << (2 * frames)) - 1;
    addFramesMasked(buffer, lowFramesTwice(values.early), gains.gains[0],
                    static_cast<__mmask8>(floats));
    addFramesMasked(buffer + 8, highFramesTwice(values.early), gains.gains[1],
                    static_cast<__mmask8>(floats >> 8));
    addFramesMasked(buffer + 16, lowFramesTwice(values.late), gains.gains[2],
                    static_cast<__mmask8>(floats >> 16));
    addFramesMasked(buffer + 24, highFramesTwice(values.late), gains.gains[3],
                    static_cast<__mmask8>(floats >> 24));
}

// The steady kernel for one way of reading. The gains are taken x 2^-31,
// which the values' x 2^31 cancels exactly: a product scaled by a power of
// two rounds to the same bits scaled, and no product here comes near the
// ends of the double range.
template <Reads reads>
[[gnu::target("avx512f,avx512dq,avx512vl,avx512bw")]] uint64_t mixSteadyReading(float* buffer,
                                                                                const MixRun& run,
                                                                                float gainLeft,
                                                                                float gainRight) {
    const RunReader reader = readerOf(run);
    const int32_t frames = run.frames;
    const __m512d gain = _mm512_mul_pd(_mm512_setr_pd(gainLeft, gainRight, gainLeft, gainRight,
                                                      gainLeft, gainRight, gainLeft, gainRight),
                                       _mm512_set1_pd(fractionScale));
    const GroupGains gains{{gain, gain, gain, gain}};
    uint64_t position = run.position;
    int32_t frame = 0;
    for (; frame + groupFrames <= frames; frame += groupFrames) {
        addGroup(buffer + 2 * frame, groupValues<reads>(reader, position, groupFrames - 1), gains);
        position += groupFrames * reader.delta;
    }
    const int32_t left = frames - frame;
    if (left > 0) {
        addGroupPart(buffer + 2 * frame, groupValues<reads>(reader, position, left - 1), gains,
                     left);
        position += static_cast<uint64_t>(left) * reader.delta;
    }
    return position;
}

uint64_t stepSize(uint64_t delta) {
    return static_cast<int64_t>(delta) < 0 ? uint64_t{0} - delta : delta;
}

[[gnu::target("avx512f,avx512dq,avx512vl,avx512bw")]] uint64_t mixSteadyAvx512(float* buffer,
                                                                               const MixRun& run,
                                                                               float gainLeft,
                                                                               float gainRight) {
    const uint64_t size = stepSize(run.delta);
    if (size < oneWindowSteps) {
        return mixSteadyReading<Reads::oneWindow>(buffer, run, gainLeft, gainRight);
    }
    if (size < twoWindowSteps) {
        return mixSteadyReading<Reads::twoWindows>(buffer, run, gainLeft, gainRight);
    }
    return mixSteadyReading<Reads::scattered>(buffer, run, gainLeft, gainRight);
}

// ---- Ramps.
//
// A ramp's gains are a chain of single-precision additions, one per frame,
// each rounded: the chain cannot be reordered. Within one binade, though,
// adding the same step moves a gain by the same amount every time, so a
// group's sixteen gains are guessed at once as gain + k x d, with d the move
// of the first step, and the guess is checked in parallel: it holds when
// every guessed gain plus the step rounds to the next guessed gain. Then, the
// first being the gain itself, every gain is the chain's by induction. Where
// it fails (a gain crossing into another binade), the group's gains are
// taken one by one and the guess starts again from the next group.

// The pairs (left, right) of one frame in turn, as floats: frames 0 to 7 and
// 8 to 15.
struct RampGuess {
    __m512 early;      // k x d for frames 0 to 7
    __m512 late;       // for 8 to 15
    __m512 earlyNext;  // (k + 1) x d
    __m512 lateNext;
    __m128 sixteen;  // 16 x d, in the low pair
    __m128 move;     // d
};

[[gnu::target("avx512f,avx512dq,avx512vl,avx512bw")]] inline __m512 pairEverywhere(__m128 pair) {
    return _mm512_castsi512_ps(_mm512_set1_epi64(_mm_cvtsi128_si64(_mm_castps_si128(pair))));
}

[[gnu::target("avx512f,avx512dq,avx512vl,avx512bw")]] inline RampGuess guessFrom(__m128 gain,
                                                                                 __m128 step) {
    const __m128 move = _mm_sub_ps(_mm_add_ps(gain, step), gain);
    const __m512 moves = pairEverywhere(move);
    const __m512 early = _mm512_setr_ps(0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7);
    const __m512 late = _mm512_add_ps(early, _mm512_set1_ps(8.0f));
    const __m512 one = _mm512_set1_ps(1.0f);
    return {_mm512_mul_ps(early, moves),
            _mm512_mul_ps(late, moves),
            _mm512_mul_ps(_mm512_add_ps(early, one), moves),
            _mm512_mul_ps(_mm512_add_ps(late, one), moves),
            _mm_mul_ps(move, _mm_set1_ps(16.0f)),
            move};
}

// The gains of a group's frames as floats, (left, right) per frame.
struct RampGroupGains {
    __m512 early;
    __m512 late;
};

// The chain taken step by step for `frames` frames from `gain`; returns the
// gain after them.
[[gnu::target("avx512f,avx512dq,avx512vl,avx512bw")]] inline __m128 stepByStep(
    RampGroupGains& gains, __m128 gain, __m128 step, int32_t frames) {
    alignas(64) float pairs[2 * groupFrames] = {};
    for (int32_t frame = 0; frame < frames; ++frame) {
        _mm_storel_pi(reinterpret_cast<__m64*>(pairs + 2 * frame), gain);
        gain = _mm_add_ps(gain, step);
    }
    gains = {_mm512_load_ps(pairs), _mm512_load_ps(pairs + groupFrames)};
    return gain;
}

// Whether each guessed gain plus the step gives the next guessed gain, bit
// for bit, for the frames in `lanes` (two bits a frame).
[[gnu::target("avx512f,avx512dq,avx512vl,avx512bw")]] inline bool guessHolds(
    const RampGroupGains& gains, const RampGroupGains& next, __m512 steps, __mmask16 earlyLanes,
    __mmask16 lateLanes) {
    const __mmask16 early = _mm512_mask_cmpeq_epi32_mask(
        earlyLanes, _mm512_castps_si512(_mm512_add_ps(gains.early, steps)),
        _mm512_castps_si512(next.early));
    const __mmask16 late = _mm512_mask_cmpeq_epi32_mask(
        lateLanes, _mm512_castps_si512(_mm512_add_ps(gains.late, steps)),
        _mm512_castps_si512(next.late));
    return early == earlyLanes && late == lateLanes;
}

// The same for a whole group, in one mask test: the late frames' lanes are
// compared only where the early frames' held, so every lane holds exactly
// when the last mask is full.
[[gnu::target("avx512f,avx512dq,avx512vl,avx512bw")]] inline bool wholeGuessHolds(
    const RampGroupGains& gains, const RampGroupGains& next, __m512 steps) {
    const __mmask16 early = _mm512_cmpeq_epi32_mask(
        _mm512_castps_si512(_mm512_add_ps(gains.early, steps)), _mm512_castps_si512(next.early));
    const __mmask16 both =
        _mm512_mask_cmpeq_epi32_mask(early, _mm512_castps_si512(_mm512_add_ps(gains.late, steps)),
                                     _mm512_castps_si512(next.late));
    return _kortestc_mask16_u8(both, both) != 0;
}

// A group's float gains as doubles, four frames to a register.
[[gnu::target("avx512f,avx512dq,avx512vl,avx512bw")]] inline GroupGains widened(
    const RampGroupGains& gains) {
    return {{_mm512_cvtps_pd(_mm512_castps512_ps256(gains.early)),
             _mm512_cvtps_pd(_mm512_extractf32x8_ps(gains.early, 1)),
             _mm512_cvtps_pd(_mm512_castps512_ps256(gains.late)),
             _mm512_cvtps_pd(_mm512_extractf32x8_ps(gains.late, 1))}};
}

// The values x 2^31 back to the values.
[[gnu::target("avx512f,avx512dq,avx512vl,avx512bw")]] inline GroupValues unscaled(
    const GroupValues& values) {
    const __m512d scale = _mm512_set1_pd(fractionScale);
    return {_mm512_mul_pd(values.early, scale), _mm512_mul_pd(values.late, scale)};
}

// The gains of the group's first `frames` frames from `gain`, guessed or
// step by step; returns the gain after them.
[[gnu::target("avx512f,avx512dq,avx512vl,avx512bw")]] inline __m128 rampGroupGains(
    RampGroupGains& gains, RampGuess& guess, __m128 gain, __m128 step, __m512 steps,
    int32_t frames) {
    const __m512 start = pairEverywhere(gain);
    // The first frame's gain is the gain itself, whatever the sign of 0 x d.
    gains = {_mm512_mask_add_ps(start, 0xFFFC, start, guess.early),
             _mm512_add_ps(start, guess.late)};
    const RampGroupGains next{_mm512_add_ps(start, guess.earlyNext),
                              _mm512_add_ps(start, guess.lateNext)};
    if (frames == groupFrames) {
        if (wholeGuessHolds(gains, next, steps)) {
            return _mm_add_ps(gain, guess.sixteen);
        }
    } else {
        const auto lanes = static_cast<uint32_t>((uint64_t{1} << (2 * frames)) - 1);
        if (guessHolds(gains, next, steps, static_cast<__mmask16>(lanes),
                       static_cast<__mmask16>(lanes >> 16))) {
            // The same product as the guess's lane for the last frame.
            return _mm_add_ps(gain,
                              _mm_mul_ps(guess.move, _mm_set1_ps(static_cast<float>(frames))));
        }
    }
    const __m128 after = stepByStep(gains, gain, step, frames);
    guess = guessFrom(after, step);
    return after;
}

// The values x 2^31 as they are, or back to the values.
template <bool scaledGains>
[[gnu::target("avx512f,avx512dq,avx512vl,avx512bw"), gnu::always_inline]] inline GroupValues
valuesFor(const GroupValues& values) {
    if constexpr (scaledGains) {
        return values;
    } else {
        return unscaled(values);
    }
}

// Where `scaledGains`, the chain runs on the gains x 2^-31, which saves
// taking the values back from x 2^31 at every group. Scaling by a power of
// two commutes with every rounding here as long as no float leaves the normal
// range, and then every sum, move and product (the same real products) keeps
// its bits, scaled: see gainsScaleExactly.
template <Reads reads, bool scaledGains>
[[gnu::target("avx512f,avx512dq,avx512vl,avx512bw")]] uint64_t mixRampReading(float* buffer,
                                                                              const MixRun& run,
                                                                              RampGains& ramp) {
    const RunReader reader = readerOf(run);
    const int32_t frames = run.frames;
    const __m128 scale = _mm_set1_ps(scaledGains ? 0x1p-31f : 1.0f);
    const __m128 step = _mm_mul_ps(_mm_setr_ps(ramp.stepLeft, ramp.stepRight, 0.0f, 0.0f), scale);
    const __m512 steps = pairEverywhere(step);
    __m128 gain = _mm_mul_ps(_mm_setr_ps(ramp.left, ramp.right, 0.0f, 0.0f), scale);
    RampGuess guess = guessFrom(gain, step);
    uint64_t position = run.position;
    int32_t frame = 0;
    for (; frame + groupFrames <= frames; frame += groupFrames) {
        RampGroupGains gains;
        gain = rampGroupGains(gains, guess, gain, step, steps, groupFrames);
        addGroup(buffer + 2 * frame,
                 valuesFor<scaledGains>(groupValues<reads>(reader, position, groupFrames - 1)),
                 widened(gains));
        position += groupFrames * reader.delta;
    }
    const int32_t left = frames - frame;
    if (left > 0) {
        RampGroupGains gains;
        gain = rampGroupGains(gains, guess, gain, step, steps, left);
        addGroupPart(buffer + 2 * frame,
                     valuesFor<scaledGains>(groupValues<reads>(reader, position, left - 1)),
                     widened(gains), left);
        position += static_cast<uint64_t>(left) * reader.delta;
    }
    gain = _mm_mul_ps(gain, _mm_set1_ps(scaledGains ? 0x1p31f : 1.0f));
    ramp.left = _mm_cvtss_f32(gain);
    ramp.right = _mm_cvtss_f32(_mm_shuffle_ps(gain, gain, _MM_SHUFFLE(1, 1, 1, 1)));
    return position;
}

// Whether the gains and steps let the chain run x 2^-31 with the same bits:
// each 0 or between 2^-64 and 2^64 in size. Every float of the chain (sums,
// moves, their multiples by whole frame counts) is a multiple of the smaller
// unit in the last place of the gain and the step, at least 2^-87 here, so
// x 2^-31 it stays a normal float; and at most 2^31 frames from below 2^64
// stay far below the largest float either way. Not a number fails. Without
// branches, whose outcome would follow the gains' signs.
[[gnu::target("avx512f,avx512dq,avx512vl,avx512bw")]] inline bool gainsScaleExactly(
    const RampGains& gains) {
    const __m128 sizes = _mm_andnot_ps(
        _mm_set1_ps(-0.0f), _mm_setr_ps(gains.left, gains.right, gains.stepLeft, gains.stepRight));
    const __m128 inRange = _mm_and_ps(_mm_cmpge_ps(sizes, _mm_set1_ps(0x1p-64f)),
                                      _mm_cmplt_ps(sizes, _mm_set1_ps(0x1p64f)));
    const __m128 zero = _mm_cmpeq_ps(sizes, _mm_setzero_ps());
    return _mm_movemask_ps(_mm_or_ps(inRange, zero)) == 0xF;
}

template <Reads reads>
[[gnu::target("avx512f,avx512dq,avx512vl,avx512bw")]] uint64_t mixRampReadingAny(float* buffer,
                                                                                 const MixRun& run,
                                                                                 RampGains& gains) {
    return gainsScaleExactly(gains) ? mixRampReading<reads, true>(buffer, run, gains)
                                    : mixRampReading<reads, false>(buffer, run, gains);
}

[[gnu::target("avx512f,avx512dq,avx512vl,avx512bw")]] uint64_t mixRampAvx512(float* buffer,
                                                                             const MixRun& run,
                                                                             RampGains& gains) {
    const uint64_t size = stepSize(run.delta);
    if (size < oneWindowSteps) {
        return mixRampReadingAny<Reads::oneWindow>(buffer, run, gains);
    }
    if (size < twoWindowSteps) {
        return mixRampReadingAny<Reads::twoWindows>(buffer, run, gains);
    }
    return mixRampReadingAny<Reads::scattered>(buffer, run, gains);
}

// Sixteen values clamped to the 16-bit range as the reference does, a value
// that is not a number as 0, and rounded in the current mode (to nearest,
// ties to even); the clamp comes before the conversion, so that values beyond
// 32 bits cannot turn into the conversion's overflow result.
[[gnu::target("avx512f,avx512dq,avx512vl,avx512bw")]] inline __m256i pcmOfSixteen(__m512 value) {
    const __m512 number = _mm512_maskz_mov_ps(_mm512_cmp_ps_mask(value, value, _CMP_ORD_Q), value);
    const __m512 clamped =
        _mm512_min_ps(_mm512_max_ps(number, _mm512_set1_ps(-32768.0f)), _mm512_set1_ps(32767.0f));
    return _mm512_cvtepi32_epi16(_mm512_cvtps_epi32(clamped));
}

[[gnu::target("avx512f,avx512dq,avx512vl,avx512bw")]] void toPcm16Avx512(int16_t* destination,
                                                                         const float* source,
                                                                         int64_t valueCount) {
    int64_t value = 0;
    for (; value + 16 <= valueCount; value += 16) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(destination + value),
                            pcmOfSixteen(_mm512_loadu_ps(source + value)));
    }
    if (value < valueCount) {
        const auto mask = static_cast<__mmask16>((1u << (valueCount - value)) - 1);
        _mm256_mask_storeu_epi16(destination + value, mask,
                                 pcmOfSixteen(_mm512_maskz_loadu_ps(mask, source + value)));
    }
}

}  // namespace

const MixKernels avx512MixKernels{"avx512", mixSteadyAvx512, mixRampAvx512, toPcm16Avx512, true};

}  // namespace xmplayer

#endif
