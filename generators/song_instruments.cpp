#include "generators/song_instruments.h"

#include <algorithm>

#include "generators/synth.h"

namespace song {
namespace {

using synth::kOneQ30;

// Rates at which the drums are synthesised: a sample of rate 8363 * 2^k Hz
// plays at its own pitch at C-4 with a relative note of 12k.
constexpr int32_t kDrumRate = 16726;
constexpr int32_t kBrightRate = 33452;

// A periodic sample of 2^k values per cycle sounds at its note's name with a
// relative note of 12k - 60 and a finetune of 2 (the remaining 1.8 cents).
constexpr int8_t relativeNoteForCycle(int32_t cycleLength) {
    int8_t note = -60;
    for (int32_t length = cycleLength; length > 1; length /= 2) {
        note = static_cast<int8_t>(note + 12);
    }
    return note;
}
constexpr int8_t kCycleFinetune = 2;

// Linear fade to silence over the last `tail` values so that no sample ends
// on a click.
void fadeTail(std::vector<int64_t>& values, int64_t tail) {
    const auto n = static_cast<int64_t>(values.size());
    tail = std::min(tail, n);
    for (int64_t i = 0; i < tail; ++i) {
        values[n - tail + i] = values[n - tail + i] * (tail - 1 - i) / tail;
    }
}

int64_t multiplyQ30(int64_t a, int64_t b) {
    return (a * b) >> 30;
}

std::vector<int16_t> synthesiseKick() {
    const int64_t n = kDrumRate * 32 / 100;
    synth::NoiseSource noise{0x1D872B41u};
    synth::OnePole clickFilter;
    const int64_t pitchDecay = synth::decayFactor(kDrumRate * 3 / 100);
    const int64_t ampDecay = synth::decayFactor(kDrumRate * 11 / 100);
    const int64_t clickDecay = synth::decayFactor(kDrumRate / 400);
    int64_t sweep = kOneQ30;
    int64_t amp = kOneQ30;
    int64_t click = kOneQ30;
    uint32_t phase = 0;
    std::vector<int64_t> out;
    for (int64_t i = 0; i < n; ++i) {
        const int64_t milliHertz = 46000 + multiplyQ30(134000, sweep);
        const int64_t body = multiplyQ30(synth::sineAt(phase), amp);
        const int64_t tick =
            multiplyQ30(synth::lowPass(clickFilter, synth::nextNoise(noise), 20000), click) * 2 / 5;
        out.push_back(body + tick);
        phase += synth::phaseStep(milliHertz, kDrumRate);
        sweep = multiplyQ30(sweep, pitchDecay);
        amp = multiplyQ30(amp, ampDecay);
        click = multiplyQ30(click, clickDecay);
    }
    fadeTail(out, 400);
    return synth::toEightBit(synth::normalise(out, 32000));
}

std::vector<int16_t> synthesiseSnare() {
    const int64_t n = kBrightRate * 22 / 100;
    synth::NoiseSource noise{0x6C078965u};
    synth::OnePole rumble;
    synth::OnePole smooth;
    const int64_t pitchDecay = synth::decayFactor(kBrightRate * 15 / 1000);
    const int64_t bodyDecay = synth::decayFactor(kBrightRate * 45 / 1000);
    const int64_t noiseDecay = synth::decayFactor(kBrightRate * 75 / 1000);
    int64_t sweep = kOneQ30;
    int64_t bodyAmp = kOneQ30;
    int64_t noiseAmp = kOneQ30;
    uint32_t phase = 0;
    std::vector<int64_t> out;
    for (int64_t i = 0; i < n; ++i) {
        const int64_t milliHertz = 175000 + multiplyQ30(65000, sweep);
        const int64_t body = multiplyQ30(synth::sineAt(phase), bodyAmp) * 3 / 5;
        const int32_t raw = synth::nextNoise(noise);
        const int32_t bright = raw - synth::lowPass(rumble, raw, 5243);
        const int64_t hiss = multiplyQ30(synth::lowPass(smooth, bright, 39322), noiseAmp) * 7 / 10;
        out.push_back(body + hiss);
        phase += synth::phaseStep(milliHertz, kBrightRate);
        sweep = multiplyQ30(sweep, pitchDecay);
        bodyAmp = multiplyQ30(bodyAmp, bodyDecay);
        noiseAmp = multiplyQ30(noiseAmp, noiseDecay);
    }
    fadeTail(out, 300);
    return synth::toEightBit(synth::normalise(out, 31000));
}

// Twice high-passed noise with an exponential decay: a closed or open hat.
std::vector<int16_t> synthesiseHat(int64_t lengthValues, int64_t tauValues, uint32_t seed,
                                   int32_t peak) {
    synth::NoiseSource noise{seed};
    synth::OnePole first;
    synth::OnePole second;
    const int64_t decay = synth::decayFactor(tauValues);
    int64_t amp = kOneQ30;
    std::vector<int64_t> out;
    for (int64_t i = 0; i < lengthValues; ++i) {
        const int32_t raw = synth::nextNoise(noise);
        const int32_t once = raw - synth::lowPass(first, raw, 16384);
        const int32_t twice = once - synth::lowPass(second, once, 16384);
        out.push_back(multiplyQ30(twice, amp));
        amp = multiplyQ30(amp, decay);
    }
    fadeTail(out, lengthValues / 6);
    return synth::toEightBit(synth::normalise(out, peak));
}

// Saw-like spectrum through a gentle low-pass at harmonic `cutoffTenths`/10,
// amplitudes in Q16.
synth::Spectrum lowPassedSaw(int32_t harmonics, int64_t cutoffTenths, int64_t fundamentalBoost) {
    synth::Spectrum s;
    const int64_t c2 = cutoffTenths * cutoffTenths;
    for (int64_t h = 1; h <= harmonics; ++h) {
        s.push_back((int64_t{65536} * c2) / (h * (c2 + 100 * h * h)));
    }
    s[0] = s[0] * fundamentalBoost / 100;
    return s;
}

// Pulse wave of duty `dutyPermille`, low-passed like lowPassedSaw.
synth::Spectrum lowPassedPulse(int32_t harmonics, int64_t cutoffTenths, int64_t dutyPermille) {
    synth::Spectrum s;
    const int64_t c2 = cutoffTenths * cutoffTenths;
    const int64_t halfCyclePerDuty = (int64_t{1} << 31) * dutyPermille / 1000;
    for (int64_t h = 1; h <= harmonics; ++h) {
        const auto phase = static_cast<uint32_t>(h * halfCyclePerDuty);
        const int64_t shape = synth::sineAt(phase) * 2;  // sin(pi h d) in Q16
        s.push_back((shape * c2) / (h * (c2 + 100 * h * h)));
    }
    return s;
}

// Square-like spectrum (odd harmonics only), low-passed.
synth::Spectrum lowPassedSquare(int32_t harmonics, int64_t cutoffTenths, int64_t scalePercent) {
    synth::Spectrum s;
    const int64_t c2 = cutoffTenths * cutoffTenths;
    for (int64_t h = 1; h <= harmonics; ++h) {
        const int64_t a = h % 2 == 1 ? (int64_t{65536} * c2) / (h * (c2 + 100 * h * h)) : 0;
        s.push_back(a * scalePercent / 100);
    }
    return s;
}

struct PeriodicSample {
    std::vector<int64_t> values;
    uint32_t loopStart = 0;
    uint32_t loopLength = 0;
};

// An attack of `attackCycles` cycles moving from `attack` to `steady`,
// followed by one steady cycle that the sample loops.
PeriodicSample periodicSample(int32_t cycleLength, int32_t attackCycles,
                              const synth::Spectrum& attack, const synth::Spectrum& steady) {
    PeriodicSample s;
    synth::appendHarmonicCycles(s.values, cycleLength, attackCycles, attack, steady);
    s.loopStart = static_cast<uint32_t>(s.values.size());
    synth::appendHarmonicCycles(s.values, cycleLength, 1, steady, steady);
    s.loopLength = static_cast<uint32_t>(cycleLength);
    return s;
}

// Three detuned saws and a soft sub-octave: a chorused string pad, 1.2 s at
// 16726 Hz with C-4 as its pitch.
std::vector<int16_t> synthesisePad() {
    constexpr int32_t kRate = kDrumRate;
    constexpr int64_t kHarmonics = 24;
    const int64_t n = kRate * 12 / 10;
    // C-4 and 7 cents either side, and C-3, in millihertz.
    const int64_t voiceMilliHertz[] = {261626, 262686, 260570, 130813};
    const int64_t voiceWeight[] = {100, 90, 90, 45};
    synth::Spectrum saw = lowPassedSaw(kHarmonics, 70, 100);
    std::vector<int64_t> out;
    uint32_t phases[4] = {0, 0x55555555u, 0xAAAAAAAAu, 0x40000000u};
    for (int64_t i = 0; i < n; ++i) {
        int64_t sum = 0;
        for (int v = 0; v < 4; ++v) {
            int64_t voice = 0;
            for (int64_t h = 1; h <= kHarmonics; ++h) {
                voice += saw[h - 1] * synth::sineAt(static_cast<uint32_t>(phases[v] * h));
            }
            sum += (voice >> 16) * voiceWeight[v] / 100;
            phases[v] += synth::phaseStep(voiceMilliHertz[v], kRate);
        }
        out.push_back(sum);
    }
    return synth::normalise(out, 24000);
}

xm::Sample makeSample(const char* name, xm::Depth depth, std::vector<int16_t> values,
                      uint8_t volume, int8_t relativeNote) {
    xm::Sample s;
    s.name = name;
    s.depth = depth;
    s.values = std::move(values);
    s.volume = volume;
    s.relativeNote = relativeNote;
    return s;
}

xm::Instrument singleSampleInstrument(const char* name, xm::Sample sample) {
    xm::Instrument in;
    in.name = name;
    in.samples.push_back(std::move(sample));
    return in;
}

xm::Instrument makeKick() {
    return singleSampleInstrument(
        "kick", makeSample("kick: swept sine", xm::Depth::Bits8, synthesiseKick(), 64, 12));
}

xm::Instrument makeSnare() {
    return singleSampleInstrument(
        "snare", makeSample("snare: tone and noise", xm::Depth::Bits8, synthesiseSnare(), 56, 24));
}

xm::Instrument makeHats() {
    xm::Instrument in;
    in.name = "hats (open from C-5)";
    xm::Sample closed = makeSample(
        "closed hat", xm::Depth::Bits8,
        synthesiseHat(kBrightRate * 5 / 100, kBrightRate * 12 / 1000, 0x9E3779B9u, 30000), 40, 24);
    closed.panning = 108;
    xm::Sample open = makeSample(
        "open hat", xm::Depth::Bits8,
        synthesiseHat(kBrightRate * 38 / 100, kBrightRate * 11 / 100, 0x7F4A7C15u, 26000), 36, 12);
    open.panning = 148;
    in.samples = {std::move(closed), std::move(open)};
    for (size_t note = 0; note < in.noteSamples.size(); ++note) {
        in.noteSamples[note] = note < 60 ? 0 : 1;
    }
    return in;
}

xm::Instrument makeBass() {
    constexpr int32_t kCycle = 256;
    const PeriodicSample wave =
        periodicSample(kCycle, 20, lowPassedSaw(40, 140, 130), lowPassedSaw(40, 40, 140));
    xm::Sample s =
        makeSample("bass: filtered saw", xm::Depth::Bits16, synth::normalise(wave.values, 28000),
                   48, relativeNoteForCycle(kCycle));
    s.finetune = kCycleFinetune;
    s.loop = xm::LoopKind::Forward;
    s.loopStart = wave.loopStart;
    s.loopLength = wave.loopLength;
    xm::Instrument in = singleSampleInstrument("bass", std::move(s));
    in.volumeEnvelope.points = {{0, 64}, {6, 58}, {24, 48}, {40, 0}};
    in.volumeEnvelope.sustain = true;
    in.volumeEnvelope.sustainPoint = 2;
    in.fadeOut = 0x300;
    return in;
}

xm::Instrument makePad() {
    xm::Sample s = makeSample("pad: detuned saws", xm::Depth::Bits16, synthesisePad(), 40, 12);
    // The detuned voices never repeat exactly; a ping-pong loop over the last
    // 0.9 s keeps the slow beating going without a jump.
    s.loop = xm::LoopKind::PingPong;
    s.loopStart = kDrumRate * 3 / 10;
    s.loopLength = static_cast<uint32_t>(s.values.size()) - s.loopStart;
    xm::Instrument in = singleSampleInstrument("pad", std::move(s));
    // Swell in, then breathe between 64 and 48 for as long as the note lasts.
    in.volumeEnvelope.points = {{0, 8}, {8, 56}, {24, 64}, {48, 48}, {72, 64}};
    in.volumeEnvelope.loop = true;
    in.volumeEnvelope.loopStart = 2;
    in.volumeEnvelope.loopEnd = 4;
    // A slow sweep from side to side, 3.2 s a round trip.
    in.panningEnvelope.points = {{0, 32}, {40, 16}, {120, 48}, {200, 16}};
    in.panningEnvelope.loop = true;
    in.panningEnvelope.loopStart = 1;
    in.panningEnvelope.loopEnd = 3;
    in.fadeOut = 0x200;
    in.vibratoType = 0;
    in.vibratoDepth = 2;
    in.vibratoRate = 3;
    return in;
}

xm::Instrument makeLead() {
    constexpr int32_t kCycle = 64;
    const PeriodicSample wave =
        periodicSample(kCycle, 24, lowPassedPulse(14, 150, 350), lowPassedPulse(14, 70, 350));
    xm::Sample s =
        makeSample("lead: soft pulse", xm::Depth::Bits16, synth::normalise(wave.values, 26000), 44,
                   relativeNoteForCycle(kCycle));
    s.finetune = kCycleFinetune;
    s.panning = 120;
    s.loop = xm::LoopKind::Forward;
    s.loopStart = wave.loopStart;
    s.loopLength = wave.loopLength;
    xm::Instrument in = singleSampleInstrument("lead", std::move(s));
    in.volumeEnvelope.points = {{0, 0}, {2, 64}, {10, 50}, {20, 46}, {40, 0}};
    in.volumeEnvelope.sustain = true;
    in.volumeEnvelope.sustainPoint = 3;
    // Leans a little to one side while held and drifts across on release.
    in.panningEnvelope.points = {{0, 32}, {12, 40}, {44, 26}};
    in.panningEnvelope.sustain = true;
    in.panningEnvelope.sustainPoint = 1;
    in.fadeOut = 0x200;
    // A delayed vibrato: it fades in over the first 36 ticks of each note.
    in.vibratoType = 0;
    in.vibratoSweep = 36;
    in.vibratoDepth = 6;
    in.vibratoRate = 18;
    return in;
}

xm::Instrument makePluck() {
    constexpr int32_t kCycle = 64;
    const PeriodicSample wave =
        periodicSample(kCycle, 16, lowPassedSquare(21, 200, 200), lowPassedSquare(21, 30, 100));
    xm::Sample s = makeSample("pluck: square", xm::Depth::Bits8,
                              synth::toEightBit(synth::normalise(wave.values, 30000)), 40,
                              relativeNoteForCycle(kCycle));
    s.finetune = kCycleFinetune;
    s.panning = 140;
    s.loop = xm::LoopKind::Forward;
    s.loopStart = wave.loopStart;
    s.loopLength = wave.loopLength;
    xm::Instrument in = singleSampleInstrument("pluck", std::move(s));
    in.volumeEnvelope.points = {{0, 64}, {3, 48}, {16, 28}, {48, 10}, {96, 0}};
    in.fadeOut = 0x400;
    return in;
}

}  // namespace

std::vector<xm::Instrument> makeInstruments() {
    return {makeKick(), makeSnare(), makeHats(), makeBass(), makePad(), makeLead(), makePluck()};
}

}  // namespace song
