// Deterministic sound synthesis for the song generator.
//
// Everything here is integer or fixed-point arithmetic: the samples that the
// generator writes must come out byte for byte the same on every machine and
// with every compiler, so no value may pass through the C library's maths.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace synth {

// Fixed-point one in Q30, the format of amplitudes and decay factors.
constexpr int64_t kOneQ30 = int64_t{1} << 30;

// Samples of sin(2 pi phase / 2^32) scaled to +-32767, linearly interpolated
// from a 4096-entry table that is computed with an integer Taylor series.
int32_t sineAt(uint32_t phase);

// Phase step per output value for a tone of `milliHertz` at `sampleRate`.
uint32_t phaseStep(int64_t milliHertz, int32_t sampleRate);

// Fixed-seed xorshift generator; the state must not be 0.
struct NoiseSource {
    uint32_t state = 0x2545F491u;
};

// Next white-noise value in -32768..32767.
int32_t nextNoise(NoiseSource& source);

// Per-value factor in Q30 by which an exponential decay with a time constant
// of `tauValues` sample values shrinks (1 - 1/tau, close enough to e^(-1/tau)).
int64_t decayFactor(int64_t tauValues);

// One-pole low-pass: state moves toward the input by `coefficientQ16`/65536.
struct OnePole {
    int64_t state = 0;
};
int32_t lowPass(OnePole& filter, int32_t input, int32_t coefficientQ16);

// Scales `values` so that the largest magnitude becomes `peak` (rounding half
// away from zero) and narrows them to 16 bits. A silent input stays silent.
std::vector<int16_t> normalise(std::span<const int64_t> values, int32_t peak);

// Narrows 16-bit values to the 8-bit range by rounding off the low byte.
std::vector<int16_t> toEightBit(std::span<const int16_t> values);

// Harmonic content of one cycle of a periodic tone: amplitude of harmonic h
// (1-based) in Q16 at index h - 1.
using Spectrum = std::vector<int64_t>;

// Appends `cycles` cycles of `cycleLength` values (a divisor of 4096) to
// `out`, crossfading the spectrum from `from` to `to` over those cycles with
// the weight of `from` falling as the square of the remaining share.
// Every cycle starts at phase 0, so a loop over whole cycles is seamless.
void appendHarmonicCycles(std::vector<int64_t>& out, int32_t cycleLength, int32_t cycles,
                          const Spectrum& from, const Spectrum& to);

}  // namespace synth
