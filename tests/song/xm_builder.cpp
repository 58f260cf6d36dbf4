#include "tests/song/xm_builder.h"

#include <algorithm>

#include "app/memory_stream.h"

namespace {

void put8(std::vector<uint8_t>& out, uint8_t value) {
    out.push_back(value);
}
void put16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t value) {
    put16(out, static_cast<uint16_t>(value));
    put16(out, static_cast<uint16_t>(value >> 16));
}
void putText(std::vector<uint8_t>& out, const std::string& text, size_t size) {
    for (size_t k = 0; k < size; ++k) {
        out.push_back(k < text.size() ? static_cast<uint8_t>(text[k]) : 0);
    }
}

void putEnvelopePoints(std::vector<uint8_t>& out, const XmEnvelopeSpec& envelope) {
    for (size_t k = 0; k < 12; ++k) {
        const auto point =
            k < envelope.points.size() ? envelope.points[k] : std::pair<uint16_t, uint16_t>{0, 0};
        put16(out, point.first);
        put16(out, point.second);
    }
}

void putInstrument(std::vector<uint8_t>& out, const XmInstrumentSpec& instrument) {
    const size_t start = out.size();
    const uint16_t sampleCount = instrument.declaredSamples >= 0
                                     ? static_cast<uint16_t>(instrument.declaredSamples)
                                     : static_cast<uint16_t>(instrument.samples.size());
    put32(out, instrument.headerSize);
    putText(out, "instrument", 22);
    put8(out, 0);
    put16(out, sampleCount);
    if (sampleCount > 0) {
        put32(out, 40);
        out.insert(out.end(), instrument.noteSamples.begin(), instrument.noteSamples.end());
        putEnvelopePoints(out, instrument.volume);
        putEnvelopePoints(out, instrument.panning);
        put8(out, instrument.volume.pointCount);
        put8(out, instrument.panning.pointCount);
        put8(out, instrument.volume.sustain);
        put8(out, instrument.volume.loopStart);
        put8(out, instrument.volume.loopEnd);
        put8(out, instrument.panning.sustain);
        put8(out, instrument.panning.loopStart);
        put8(out, instrument.panning.loopEnd);
        put8(out, instrument.volume.flags);
        put8(out, instrument.panning.flags);
        put8(out, instrument.vibratoType);
        put8(out, instrument.vibratoSweep);
        put8(out, instrument.vibratoDepth);
        put8(out, instrument.vibratoRate);
        put16(out, instrument.fadeOut);
    }
    // The header is as long as it says: padded, or cut where it says it ends.
    out.resize(start + instrument.headerSize, 0);
    for (const XmSampleSpec& sample : instrument.samples) {
        put32(out, sample.lengthBytes);
        put32(out, sample.loopStartBytes);
        put32(out, sample.loopLengthBytes);
        put8(out, sample.volume);
        put8(out, static_cast<uint8_t>(sample.finetune));
        put8(out, sample.type);
        put8(out, sample.panning);
        put8(out, static_cast<uint8_t>(sample.relativeNote));
        put8(out, sample.reserved);
        putText(out, "sample", 22);
    }
    for (const XmSampleSpec& sample : instrument.samples) {
        out.insert(out.end(), sample.data.begin(), sample.data.end());
    }
}

}  // namespace

std::vector<uint8_t> buildXm(const XmSongSpec& spec) {
    std::vector<uint8_t> out;
    putText(out, spec.identification, 17);
    putText(out, "test song", 20);
    put8(out, 0x1A);
    putText(out, "test builder", 20);
    put16(out, spec.version);
    put32(out, spec.headerSize);
    put16(out, spec.songLength);
    put16(out, spec.restartPosition);
    put16(out, spec.channels);
    put16(out, spec.declaredPatterns >= 0 ? static_cast<uint16_t>(spec.declaredPatterns)
                                          : static_cast<uint16_t>(spec.patterns.size()));
    put16(out, spec.declaredInstruments >= 0 ? static_cast<uint16_t>(spec.declaredInstruments)
                                             : static_cast<uint16_t>(spec.instruments.size()));
    put16(out, spec.flags);
    put16(out, spec.speed);
    put16(out, spec.tempo);
    out.insert(out.end(), spec.orders.begin(), spec.orders.end());
    // The patterns start where the stored header size says, whatever was written.
    out.resize(60 + size_t{spec.headerSize}, 0);
    for (const XmPatternSpec& pattern : spec.patterns) {
        put32(out, 9);
        put8(out, 0);
        put16(out, pattern.rows);
        put16(out, pattern.packedSizeOverride >= 0
                       ? static_cast<uint16_t>(pattern.packedSizeOverride)
                       : static_cast<uint16_t>(pattern.packed.size()));
        out.insert(out.end(), pattern.packed.begin(), pattern.packed.end());
    }
    for (const XmInstrumentSpec& instrument : spec.instruments) {
        putInstrument(out, instrument);
    }
    return out;
}

XmPatternSpec emptyPattern(uint16_t rows, uint16_t channels) {
    XmPatternSpec pattern;
    pattern.rows = rows;
    pattern.packed.assign(size_t{rows} * channels, 0x80);
    return pattern;
}

std::vector<uint8_t> deltaCode8(const std::vector<int8_t>& values) {
    std::vector<uint8_t> bytes;
    uint8_t previous = 0;
    for (const int8_t value : values) {
        const auto current = static_cast<uint8_t>(value);
        bytes.push_back(static_cast<uint8_t>(current - previous));
        previous = current;
    }
    return bytes;
}

std::vector<uint8_t> deltaCode16(const std::vector<int16_t>& values) {
    std::vector<uint8_t> bytes;
    uint16_t previous = 0;
    for (const int16_t value : values) {
        const auto current = static_cast<uint16_t>(value);
        const auto delta = static_cast<uint16_t>(current - previous);
        bytes.push_back(static_cast<uint8_t>(delta));
        bytes.push_back(static_cast<uint8_t>(delta >> 8));
        previous = current;
    }
    return bytes;
}

namespace {

const std::vector<uint8_t>* image = nullptr;
int32_t readChunk = 0;

void* openImage(void*, const char*) {
    return createMemoryStream(image->data(), static_cast<int32_t>(image->size()));
}

int32_t readInChunks(void* context, void* stream, void* buffer, int32_t size) {
    return readMemoryStream(context, stream, buffer,
                            readChunk > 0 ? std::min(size, readChunk) : size);
}

}  // namespace

xmplayer::StreamCallbacks imageStreams(const std::vector<uint8_t>& bytes, int32_t chunk) {
    image = &bytes;
    readChunk = chunk;
    return {openImage,        closeMemoryStream, readInChunks,
            seekMemoryStream, tellMemoryStream,  nullptr};
}
