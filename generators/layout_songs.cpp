#include "generators/layout_songs.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace layout {
namespace {

constexpr int kChannels = 4;
constexpr int kRows = 32;

// Cell notes: 1 is C-0, so octave o starts at 12 o + 1.
constexpr uint8_t noteOf(int octave, int semitone) {
    return static_cast<uint8_t>(12 * octave + semitone + 1);
}

constexpr uint8_t kLead = 1;
constexpr uint8_t kBass = 2;
constexpr uint8_t kDrum = 3;

xm::Sample loopedCycle(std::string name, std::vector<int16_t> values) {
    xm::Sample sample;
    sample.name = std::move(name);
    sample.depth = xm::Depth::Bits8;
    sample.loop = xm::LoopKind::Forward;
    sample.loopStart = 0;
    sample.loopLength = static_cast<uint32_t>(values.size());
    sample.values = std::move(values);
    return sample;
}

// One cycle of a triangle that climbs and falls by `step` per value.
std::vector<int16_t> triangleCycle(int step) {
    std::vector<int16_t> values;
    for (int i = 0; i < 32; ++i) {
        const int rise = i < 16 ? i : 32 - i;
        values.push_back(static_cast<int16_t>(step * (rise - 8)));
    }
    return values;
}

// A random walk whose bound decays to silence; each step is one of 16
// amounts (4 to 60 either way), so that the sample compresses.
std::vector<int16_t> drumBurst() {
    constexpr int length = 3000;
    std::vector<int16_t> values;
    uint32_t state = 0x1234567u;
    int value = 0;
    for (int i = 0; i < length; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        const int bound = 120 * (length - i) / length;
        const int magnitude = 4 + 8 * static_cast<int>(state % (1 + 7 * (length - i) / length));
        const int sign = (state >> 8) & 1 ? 1 : -1;
        int next = value + sign * magnitude;
        if (std::abs(next) > bound) {
            next = value - sign * magnitude;
        }
        if (std::abs(next) > bound) {
            next = value + (value > 0 ? -4 : 4);
        }
        value = next;
        values.push_back(static_cast<int16_t>(value));
    }
    return values;
}

xm::Instrument leadInstrument() {
    xm::Instrument lead;
    lead.name = "lead";
    lead.samples = {loopedCycle("triangle", triangleCycle(14))};
    lead.volumeEnvelope.points = {{0, 0}, {3, 64}, {12, 44}, {40, 44}};
    lead.volumeEnvelope.sustain = true;
    lead.volumeEnvelope.sustainPoint = 2;
    lead.fadeOut = 800;
    return lead;
}

xm::Instrument bassInstrument() {
    std::vector<int16_t> square(64, 70);
    std::fill(square.begin() + 32, square.end(), -70);
    xm::Instrument bass;
    bass.name = "bass";
    bass.samples = {loopedCycle("square", square)};
    bass.samples[0].volume = 48;
    return bass;
}

xm::Instrument drumInstrument() {
    xm::Instrument drum;
    drum.name = "drum";
    xm::Sample burst;
    burst.name = "burst";
    burst.depth = xm::Depth::Bits8;
    burst.values = drumBurst();
    drum.samples = {burst};
    return drum;
}

void put(xm::Pattern& pattern, int row, int channel, xm::Cell cell) {
    xm::cellAt(pattern, kChannels, row, channel) = cell;
}

// One pattern over a chord: drum, bass on the root, an arpeggio in the lead
// and a held fifth that pans from side to side.
xm::Pattern chordPattern(int root, bool minor) {
    xm::Pattern pattern = xm::makePattern(kRows, kChannels);
    const std::array<int, 4> tones = {0, minor ? 3 : 4, 7, 12};
    constexpr std::array<int, 8> arpeggio = {0, 1, 2, 3, 2, 1, 2, 0};
    for (int row = 0; row < kRows; row += 4) {
        const bool downbeat = row % 8 == 0;
        put(pattern, row, 0,
            {downbeat ? noteOf(4, 0) : noteOf(5, 0), kDrum, uint8_t(downbeat ? 0 : 0x30), 0, 0});
        put(pattern, row, 1, {noteOf(2 + (row / 4) % 2, root), kBass, 0x40, 0, 0});
    }
    for (int row = 0; row < kRows - 2; row += 2) {
        put(pattern, row, 2, {noteOf(5, root + tones[arpeggio[(row / 2) % 8]]), kLead, 0, 0, 0});
    }
    put(pattern, kRows - 2, 2, {xm::kKeyOff, 0, 0, 0, 0});
    for (int row = 0; row < kRows; row += 8) {
        const uint8_t side = row % 16 == 0 ? 0x40 : 0xC0;
        put(pattern, row, 3,
            {noteOf(4, root + 7), kLead, 0x30, static_cast<uint8_t>(xm::Effect::SetPanning), side});
        put(pattern, row + 6, 3, {xm::kKeyOff, 0, 0, 0, 0});
    }
    put(pattern, 12, 2, {0, 0, 0, static_cast<uint8_t>(xm::Effect::Vibrato), 0x46});
    return pattern;
}

// Each chunk: a four-letter name, a 32-bit length and its bytes.
std::vector<uint8_t> trailingChunks() {
    std::vector<uint8_t> bytes;
    auto chunk = [&bytes](std::string_view name, std::string_view content) {
        bytes.insert(bytes.end(), name.begin(), name.end());
        const auto length = static_cast<uint32_t>(content.size());
        for (int shift = 0; shift < 32; shift += 8) {
            bytes.push_back(static_cast<uint8_t>(length >> shift));
        }
        bytes.insert(bytes.end(), content.begin(), content.end());
    };
    chunk("text", "A song message that no player plays.");
    // Bytes that would read as a pattern header and a burst of notes.
    chunk("PLUG", std::string_view("\x09\x00\x00\x00\x00\x40\x00\x10\x00\x31\x01\x40\x0f\x20", 14));
    return bytes;
}

// One instrument of 24 samples, each note's sample chosen by its position:
// notes 4 k to 4 k + 3 (counted from 0) play sample k. Two channels sweep the
// notes in opposite directions, so every sample is heard.
xm::Module manySamplesSong() {
    xm::Module module;
    module.name = "many samples";
    module.channels = 2;
    xm::Instrument spread;
    spread.name = "24 samples";
    for (int k = 0; k < 24; ++k) {
        spread.samples.push_back(
            loopedCycle("step " + std::to_string(k), triangleCycle(4 + k / 3)));
        spread.samples.back().volume = static_cast<uint8_t>(24 + k * 40 / 23);
    }
    for (int n = 0; n < xm::kNoteCount; ++n) {
        spread.noteSamples[n] = static_cast<uint8_t>(n / 4);
    }
    module.instruments = {spread};
    constexpr int rows = 48;
    xm::Pattern sweep = xm::makePattern(rows, module.channels);
    for (int row = 0; row < rows; ++row) {
        xm::cellAt(sweep, module.channels, row, 0) = {static_cast<uint8_t>(1 + 2 * row), 1, 0, 0,
                                                      0};
        xm::cellAt(sweep, module.channels, row, 1) = {static_cast<uint8_t>(96 - 2 * row), 1, 0, 0,
                                                      0};
    }
    module.patterns = {sweep};
    module.orders = {0};
    return module;
}

// A drum note whose sample offset lies beyond the drum's 3000 values follows
// a lead note on the same channel: the row is silent. Offsets inside the
// sample and an offset on a row without a note are there for contrast.
xm::Module sampleOffsetSong() {
    xm::Module module = plainSong();
    module.name = "offset beyond sample";
    constexpr uint8_t offset = static_cast<uint8_t>(xm::Effect::SampleOffset);
    xm::Pattern pattern = xm::makePattern(kRows, kChannels);
    for (int row = 0; row < kRows; row += 16) {
        put(pattern, row, 0, {noteOf(5, 0), kLead, 0, 0, 0});
        put(pattern, row + 4, 0, {noteOf(4, 0), kDrum, 0, offset, 0x10});
        put(pattern, row + 8, 0, {noteOf(4, 0), kDrum, 0, offset, 0x08});
        put(pattern, row + 10, 0, {0, 0, 0, offset, 0x20});
        put(pattern, row + 12, 0, {noteOf(5, 7), kLead, 0, 0, 0});
        put(pattern, row + 14, 0, {noteOf(5, 7), 0, 0, offset, 0x20});
        put(pattern, row, 1, {noteOf(2, 9), kBass, 0x30, 0, 0});
    }
    module.patterns = {pattern};
    module.orders = {0};
    return module;
}

}  // namespace

xm::Module plainSong() {
    xm::Module module;
    module.name = "layouts";
    module.trackerName = "layout_songs";
    module.channels = kChannels;
    module.instruments = {leadInstrument(), bassInstrument(), drumInstrument()};
    // A minor, F major, C major, G major.
    module.patterns = {chordPattern(9, true), chordPattern(5, false), chordPattern(0, false),
                       chordPattern(7, false)};
    module.orders = {0, 1, 2, 3};
    return module;
}

std::vector<NamedModule> makeLayoutSongs() {
    std::vector<NamedModule> songs;
    songs.push_back({"layout-0104.xm", plainSong()});
    for (const uint16_t version : {xm::kVersion0102, xm::kVersion0103}) {
        xm::Module module = plainSong();
        module.version = version;
        songs.push_back(
            {version == xm::kVersion0102 ? "layout-0102.xm" : "layout-0103.xm", module});
    }
    xm::Module compressed = plainSong();
    for (xm::Instrument& instrument : compressed.instruments) {
        for (xm::Sample& sample : instrument.samples) {
            sample.compressed = true;
        }
    }
    songs.push_back({"compressed-samples.xm", compressed});
    xm::Module trailing = plainSong();
    trailing.trailingData = trailingChunks();
    songs.push_back({"trailing-chunks.xm", trailing});
    songs.push_back({"many-samples.xm", manySamplesSong()});
    xm::Module fast = plainSong();
    fast.defaultTempo = 343;
    songs.push_back({"tempo-343.xm", fast});
    songs.push_back({"offset-beyond-sample.xm", sampleOffsetSong()});
    return songs;
}

}  // namespace layout
