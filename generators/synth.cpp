#include "generators/synth.h"

#include <algorithm>
#include <array>
#include <cstdlib>

namespace synth {
namespace {

constexpr int32_t kTableBits = 12;
constexpr int32_t kTableSize = 1 << kTableBits;
constexpr int32_t kQuarter = kTableSize / 4;
// pi/2 in Q30, rounded.
constexpr int64_t kHalfPiQ30 = 1686629713;

// sin(x) for 0 <= x <= pi/2, x and the result in Q30. The Horner form of the
// Taylor series up to x^13 is accurate far beyond 16 bits on this interval.
int64_t sineQ30(int64_t x) {
    const int64_t x2 = (x * x) >> 30;
    int64_t r = kOneQ30;
    for (int64_t k = 12; k >= 2; k -= 2) {
        r = kOneQ30 - ((x2 * r) >> 30) / (k * (k + 1));
    }
    return (x * r) >> 30;
}

std::array<int32_t, kTableSize> buildSineTable() {
    std::array<int32_t, kTableSize> table{};
    for (int32_t i = 0; i <= kQuarter; ++i) {
        const int64_t x = i * kHalfPiQ30 / kQuarter;
        const auto value = static_cast<int32_t>((sineQ30(x) * 32767 + (kOneQ30 / 2)) >> 30);
        table[i] = value;
        table[(kTableSize / 2 - i) % kTableSize] = value;
        table[(kTableSize / 2 + i) % kTableSize] = -value;
        table[(kTableSize - i) % kTableSize] = -value;
    }
    return table;
}

const std::array<int32_t, kTableSize>& sineTable() {
    static const std::array<int32_t, kTableSize> table = buildSineTable();
    return table;
}

}  // namespace

int32_t sineAt(uint32_t phase) {
    const auto& table = sineTable();
    const uint32_t index = phase >> (32 - kTableBits);
    const int64_t fraction = (phase >> (16 - kTableBits)) & 0xFFFF;
    const int64_t a = table[index];
    const int64_t b = table[(index + 1) & (kTableSize - 1)];
    return static_cast<int32_t>(a + (((b - a) * fraction) >> 16));
}

uint32_t phaseStep(int64_t milliHertz, int32_t sampleRate) {
    return static_cast<uint32_t>((milliHertz << 32) / (int64_t{sampleRate} * 1000));
}

int32_t nextNoise(NoiseSource& source) {
    uint32_t x = source.state;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    source.state = x;
    return static_cast<int32_t>(x >> 16) - 32768;
}

int64_t decayFactor(int64_t tauValues) {
    return kOneQ30 - kOneQ30 / std::max<int64_t>(tauValues, 1);
}

int32_t lowPass(OnePole& filter, int32_t input, int32_t coefficientQ16) {
    const int64_t target = int64_t{input} << 16;
    filter.state += ((target - filter.state) * coefficientQ16) >> 16;
    return static_cast<int32_t>(filter.state >> 16);
}

std::vector<int16_t> normalise(std::span<const int64_t> values, int32_t peak) {
    int64_t largest = 0;
    for (const int64_t v : values) {
        largest = std::max(largest, v < 0 ? -v : v);
    }
    std::vector<int16_t> out(values.size(), 0);
    if (largest == 0) {
        return out;
    }
    for (size_t i = 0; i < values.size(); ++i) {
        const int64_t scaled = values[i] * peak;
        const int64_t rounded =
            scaled >= 0 ? (scaled + largest / 2) / largest : -((-scaled + largest / 2) / largest);
        out[i] = static_cast<int16_t>(std::clamp<int64_t>(rounded, -32767, 32767));
    }
    return out;
}

std::vector<int16_t> toEightBit(std::span<const int16_t> values) {
    std::vector<int16_t> out;
    out.reserve(values.size());
    for (const int16_t v : values) {
        const int32_t rounded = v >= 0 ? (v + 128) / 256 : -((-v + 128) / 256);
        out.push_back(static_cast<int16_t>(std::clamp(rounded, -127, 127)));
    }
    return out;
}

void appendHarmonicCycles(std::vector<int64_t>& out, int32_t cycleLength, int32_t cycles,
                          const Spectrum& from, const Spectrum& to) {
    const size_t harmonics = std::max(from.size(), to.size());
    const auto& table = sineTable();
    const int32_t stride = kTableSize / cycleLength;
    const int64_t total = int64_t{cycleLength} * cycles;
    for (int64_t n = 0; n < total; ++n) {
        // Weight of `from` in Q16: (remaining share)^2, reaching 0 on the last cycle.
        const int64_t remaining = total - 1 - n;
        const int64_t share = total > 1 ? (remaining << 16) / (total - 1) : 0;
        const int64_t weight = (share * share) >> 16;
        const int64_t position = n % cycleLength;
        int64_t sum = 0;
        for (size_t h = 0; h < harmonics; ++h) {
            const int64_t a = h < from.size() ? from[h] : 0;
            const int64_t b = h < to.size() ? to[h] : 0;
            const int64_t amplitude = b + (((a - b) * weight) >> 16);
            const int64_t index = (position * static_cast<int64_t>(h + 1) * stride) % kTableSize;
            sum += amplitude * table[index];
        }
        out.push_back(sum >> 16);
    }
}

}  // namespace synth
