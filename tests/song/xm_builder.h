// Builds XM files in memory for the loader's tests, and a stream over them
// that can deliver its bytes in small pieces.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "player/song/stream_callbacks.h"

struct XmSampleSpec {
    uint32_t lengthBytes = 0;
    uint32_t loopStartBytes = 0;
    uint32_t loopLengthBytes = 0;
    uint8_t volume = 64;
    int8_t finetune = 0;
    uint8_t type = 0;  // bit 0 forward, bit 1 ping-pong, bit 4 16-bit
    uint8_t panning = 128;
    int8_t relativeNote = 0;
    uint8_t reserved = 0;       // 0xAD: compressed data
    std::vector<uint8_t> data;  // as stored: delta coded, little-endian
};

struct XmEnvelopeSpec {
    std::vector<std::pair<uint16_t, uint16_t>> points;  // tick, value; at most 12 stored
    uint8_t pointCount = 0;
    uint8_t sustain = 0;
    uint8_t loopStart = 0;
    uint8_t loopEnd = 0;
    uint8_t flags = 0;
};

struct XmInstrumentSpec {
    uint32_t headerSize = 263;
    int32_t declaredSamples = -1;  // -1: the number of samples below
    std::array<uint8_t, 96> noteSamples{};
    XmEnvelopeSpec volume;
    XmEnvelopeSpec panning;
    uint8_t vibratoType = 0;
    uint8_t vibratoSweep = 0;
    uint8_t vibratoDepth = 0;
    uint8_t vibratoRate = 0;
    uint16_t fadeOut = 0;
    std::vector<XmSampleSpec> samples;
};

struct XmPatternSpec {
    uint16_t rows = 64;
    std::vector<uint8_t> packed;      // the cell bytes; the stored packed size is their count
    int32_t packedSizeOverride = -1;  // -1: packed.size()
};

struct XmSongSpec {
    std::string identification = "Extended Module: ";
    uint16_t version = 0x0104;  // the layout stays that of 0x0104
    uint32_t headerSize = 276;
    uint16_t songLength = 1;
    uint16_t restartPosition = 0;
    uint16_t channels = 2;
    int32_t declaredPatterns = -1;     // -1: the number of patterns below
    int32_t declaredInstruments = -1;  // -1: the number of instruments below
    uint16_t flags = 1;
    uint16_t speed = 6;
    uint16_t tempo = 125;
    std::array<uint8_t, 256> orders{};
    std::vector<XmPatternSpec> patterns;
    std::vector<XmInstrumentSpec> instruments;
};

std::vector<uint8_t> buildXm(const XmSongSpec& spec);

// One empty pattern of `rows` rows, every cell a packed empty byte 0x80.
XmPatternSpec emptyPattern(uint16_t rows, uint16_t channels);

// 8-bit sample bytes delta coded from the final values.
std::vector<uint8_t> deltaCode8(const std::vector<int8_t>& values);
// 16-bit little-endian sample bytes delta coded from the final values.
std::vector<uint8_t> deltaCode16(const std::vector<int16_t>& values);

// Stream callbacks over `bytes` (which must outlive their use) through the
// memory stream; reads deliver at most `chunk` bytes when chunk is not 0. The
// image is the test's one: the callbacks that this returns next replace it.
xmplayer::StreamCallbacks imageStreams(const std::vector<uint8_t>& bytes, int32_t chunk = 0);
