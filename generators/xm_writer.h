// Building and writing Extended Module (XM) files.
//
// The records below describe a module as a tracker would show it: patterns of
// cells, instruments with envelopes and samples as plain sample values. The
// writer turns them into the file layout: a 276-byte song header, packed
// pattern cells, 263-byte instrument headers, 40-byte sample headers and
// delta-coded sample data. It also writes what older and later trackers
// write: the layouts of versions 0x0102 and 0x0103 (patterns after the
// instruments' headers, all sample data last), up to 256 samples in an
// instrument, 4-bit compressed samples, tempos up to 1000 and chunks of
// their own after the last sample.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "player/song/effect_numbers.h"

namespace xm {

constexpr int kMaxChannels = 32;
constexpr int kMaxOrders = 256;
constexpr int kMaxRows = 256;
constexpr int kMaxInstruments = 128;
constexpr int kMaxSamplesPerInstrument = 256;  // what the byte-wide note map names
constexpr int kMaxEnvelopePoints = 12;
constexpr int kNoteCount = 96;

// Cell note value that releases the playing note.
constexpr uint8_t kKeyOff = 97;

// Effect numbers as the file stores them (letters continue after 9: A = 10),
// shared with the player that interprets them.
using ::xmplayer::Effect;
using ::xmplayer::ExtendedCommand;

struct Cell {
    uint8_t note = 0;  // 0 none, 1..96 C-0..B-7, 97 key-off
    uint8_t instrument = 0;
    uint8_t volume = 0;  // volume column byte
    uint8_t effect = 0;
    uint8_t param = 0;
};

struct Pattern {
    int rows = 64;
    std::vector<Cell> cells;  // rows x channel count, row after row
};

struct EnvelopePoint {
    uint16_t tick = 0;
    uint16_t value = 0;
};

struct Envelope {
    std::vector<EnvelopePoint> points;
    bool sustain = false;
    uint8_t sustainPoint = 0;
    bool loop = false;
    uint8_t loopStart = 0;
    uint8_t loopEnd = 0;
};

enum class LoopKind : uint8_t { None, Forward, PingPong };
enum class Depth : uint8_t { Bits8, Bits16 };

struct Sample {
    std::string name;
    Depth depth = Depth::Bits16;
    std::vector<int16_t> values;  // in -128..127 for 8-bit samples
    LoopKind loop = LoopKind::None;
    uint32_t loopStart = 0;  // in values
    uint32_t loopLength = 0;
    uint8_t volume = 64;
    int8_t finetune = 0;
    uint8_t panning = 128;
    int8_t relativeNote = 0;
    // 8-bit values stored as 4-bit deltas: the sample's steps from one value
    // to the next (the first from 0) may take at most 16 different values.
    bool compressed = false;
};

struct Instrument {
    std::string name;
    std::vector<Sample> samples;
    std::array<uint8_t, kNoteCount> noteSamples{};  // sample slot for each note
    Envelope volumeEnvelope;                        // off when it has no points
    Envelope panningEnvelope;
    uint8_t vibratoType = 0;
    uint8_t vibratoSweep = 0;
    uint8_t vibratoDepth = 0;
    uint8_t vibratoRate = 0;
    uint16_t fadeOut = 0;
};

// The file versions the writer lays out. 0x0102 and 0x0103 store every
// instrument's headers, then the patterns (0x0102 with 8-byte pattern headers
// that hold the row count less one in a byte), then all sample data.
constexpr uint16_t kVersion0102 = 0x0102;
constexpr uint16_t kVersion0103 = 0x0103;
constexpr uint16_t kVersion0104 = 0x0104;

struct Module {
    uint16_t version = kVersion0104;
    std::string name;
    std::string trackerName;
    int channels = 8;
    bool linearFrequencies = true;
    int defaultSpeed = 6;
    int defaultTempo = 125;
    int restartPosition = 0;
    std::vector<uint8_t> orders;
    std::vector<Pattern> patterns;
    std::vector<Instrument> instruments;
    std::vector<uint8_t> trailingData;  // written after the last sample
};

// A blank pattern of `rows` rows for `channels` channels.
Pattern makePattern(int rows, int channels);

// The cell at `row` and `channel`; both must lie inside the pattern.
Cell& cellAt(Pattern& pattern, int channels, int row, int channel);
const Cell& cellAt(const Pattern& pattern, int channels, int row, int channel);

// Checks every count, index and range that the file format or a player relies
// on; throws std::invalid_argument naming the first fault.
void validate(const Module& module);

// The complete file image of a valid module; throws like validate().
std::vector<uint8_t> writeModule(const Module& module);

// Appends the packed form of one cell: a full five-byte cell when all fields
// are set, otherwise a mask byte (bit 7 set) followed by the non-zero fields.
void appendPackedCell(std::vector<uint8_t>& out, const Cell& cell);

// Delta coding as the format stores sample data: each stored value is the
// difference from the previous one, wrapping at the sample's width. A
// compressed sample is its 16 deltas, then the index of each value's delta
// in a nibble, two to a byte, low nibble first; throws when the steps take
// more than 16 values.
std::vector<uint8_t> encodeSampleData(const Sample& sample);

}  // namespace xm
