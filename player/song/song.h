// The in-memory form of one XM song: header values, order list, patterns,
// instruments and samples. A loaded song is only read while it plays, so any
// number of playbacks may share it.
#pragma once

#include <array>
#include <cstdint>

#include "player/song/stream_callbacks.h"

namespace xmplayer {

// One pattern cell, five bytes as the format stores them.
struct PatternNote {
    uint8_t note;        // 0 none, 1..96 a note, 255 key-off (the file's 97); others kept as read
    uint8_t instrument;  // 0 none, 1..128 the instrument number counted from 1
    uint8_t volumeColumn;
    uint8_t effect;
    uint8_t effectParam;
};

constexpr uint8_t keyOffNote = 255;

struct SongPattern {
    int32_t rowCount;
    PatternNote* notes;  // rowCount x channelCount cells, row after row
};

struct EnvelopePoint {
    uint16_t tick;
    uint16_t value;  // 0..64; for panning 32 is the centre
};

enum SampleLoopType : uint8_t {
    NoLoop = 1,
    ForwardLoop = 2,
    PingPongLoop = 4,
};

struct Sample {
    // length + 8 values (the 8 after the end are zero but for the loop guard),
    // preceded by one readable zero value at data[-1]; null when length is 0.
    // Allocate and release with allocateSampleData / releaseSampleData.
    int16_t* data;
    uint32_t length;
    uint32_t loopStart;
    uint32_t loopLength;
    uint8_t volume;    // 0..64
    int8_t finetune;   // 1/128 semitone
    int32_t panning;   // 0..255
    uint8_t bits;      // 16 for every loaded sample
    uint8_t loopType;  // SampleLoopType
    int8_t relativeNote;
};

// The note-to-sample map holds byte indices: no instrument can name more.
constexpr int maxInstrumentSamples = 256;
constexpr int maxEnvelopePoints = 20;  // room in the record
constexpr int storedEnvelopePoints = 12;  // what a file supplies

// Bits of the envelope flags.
constexpr uint8_t envelopeOn = 0x01;
constexpr uint8_t envelopeSustain = 0x02;
constexpr uint8_t envelopeLoop = 0x04;

struct Instrument {
    int32_t sampleCount;  // 0..maxInstrumentSamples
    // sampleCount own samples, null when there are none; a map entry at or
    // beyond sampleCount names no sample and plays as emptySample.
    Sample** samples;
    std::array<uint8_t, 96> noteSamples;
    std::array<EnvelopePoint, maxEnvelopePoints> volumeEnvelope;
    std::array<EnvelopePoint, maxEnvelopePoints> panningEnvelope;
    uint8_t volumePointCount;
    uint8_t panningPointCount;
    uint8_t volumeSustainPoint;
    uint8_t volumeLoopStart;
    uint8_t volumeLoopEnd;
    uint8_t panningSustainPoint;
    uint8_t panningLoopStart;
    uint8_t panningLoopEnd;
    uint8_t volumeEnvelopeFlags;
    uint8_t panningEnvelopeFlags;
    uint8_t vibratoType;
    uint8_t vibratoSweep;
    uint8_t vibratoDepth;
    uint8_t vibratoRate;
    uint16_t fadeOut;  // twice the file's value, kept to 16 bits
};

// Bit 0 of Song::flags.
constexpr uint16_t linearFrequencyTable = 0x0001;

struct Song {
    SongPattern* patterns;
    Instrument* instruments;
    int16_t songLength;
    int16_t restartPosition;
    int16_t channelCount;
    int32_t usedPatternCount;
    int32_t patternCount;
    int16_t instrumentCount;
    uint16_t flags;
    int16_t defaultSpeed;
    int16_t defaultTempo;
    std::array<uint8_t, 256> orders;
    std::array<char, 20> title;  // as the file holds it, padded with spaces or zeros
    std::array<char, 20> trackerName;  // the program that wrote the file, likewise
    uint8_t initialGlobalVolume;
    SampleDataCallback sampleDataCallback;
};

// The all-zero sample that stands in for a missing one; never released.
extern const Sample emptySample;

// Sample data with one zero value before data[0] (so that a backward ping-pong
// voice reflected just below a loop starting at 0 reads inside the allocation)
// and `length` + 8 zeroed values from data[0] on. Returns null on allocation
// failure or when the count does not fit.
int16_t* allocateSampleData(uint32_t length);
void releaseSampleData(int16_t* data);

}  // namespace xmplayer
