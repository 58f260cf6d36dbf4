#include "player/song/xm_loader.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "player/sequencer/channel.h"

namespace {

constexpr char identification[] = "Extended Module: ";
constexpr int32_t identificationLength = 17;
constexpr int32_t songHeaderOffset = 60;
// Through the end of the order table: a file shorter than this ends inside
// its own header.
constexpr int64_t minimumFileLength = 80 + 256;
constexpr int32_t patternHeaderLength = 9;
constexpr int32_t instrumentNameAndType = 23;
constexpr int32_t sampleNameAndReserved = 23;
constexpr uint16_t maxEnvelopeValue = 64;
constexpr uint8_t maxSampleVolume = 64;
constexpr int32_t defaultTempoWhenMissing = 125;
constexpr int32_t maxTempo = 255;
constexpr int32_t maxSpeed = 255;

// Reads through the stream layer. Every seek is clamped to the stream, and a
// read that comes back short is retried until the stream has nothing more, so
// a stream that delivers in pieces reads the same as one that does not; what
// the stream cannot deliver stays zero.
struct XmReader {
    SongStream* stream;
    int64_t length;

    int64_t position() const { return streamTell(stream); }
    int64_t remaining() const { return std::max<int64_t>(0, length - position()); }

    void seekTo(int64_t target) {
        streamSeek(stream, static_cast<int32_t>(std::clamp<int64_t>(target, 0, length)), seekSet);
    }
    void skip(int64_t count) { seekTo(position() + count); }

    void bytes(void* destination, int64_t count) {
        auto* out = static_cast<uint8_t*>(destination);
        while (count > 0) {
            const int32_t want = static_cast<int32_t>(std::min<int64_t>(count, INT32_MAX));
            const int32_t got = streamRead(out, want, stream);
            if (got <= 0 || got > want) {
                return;
            }
            out += got;
            count -= got;
        }
    }
    uint8_t u8() {
        uint8_t value = 0;
        bytes(&value, 1);
        return value;
    }
    uint16_t u16() {
        uint8_t raw[2] = {};
        bytes(raw, 2);
        return static_cast<uint16_t>(raw[0] | raw[1] << 8);
    }
    uint32_t u32() {
        uint8_t raw[4] = {};
        bytes(raw, 4);
        return uint32_t{raw[0]} | uint32_t{raw[1]} << 8 | uint32_t{raw[2]} << 16 |
               uint32_t{raw[3]} << 24;
    }
};

// The stream's length, found by seeking to its end; the position is kept.
int64_t measureStream(SongStream* stream) {
    const int32_t start = streamTell(stream);
    streamSeek(stream, 0, seekEnd);
    const int32_t end = streamTell(stream);
    streamSeek(stream, start, seekSet);
    return std::max<int32_t>(end, 0);
}

bool refuse(std::string* reason, const std::string& text) {
    if (reason != nullptr) {
        *reason = text;
    }
    return false;
}

template <typename T>
T* allocateZeroed(size_t count) {
    return static_cast<T*>(std::calloc(count == 0 ? 1 : count, sizeof(T)));
}

void decodeCell(XmReader& reader, PatternNote& cell) {
    const uint8_t first = reader.u8();
    if (first & 0x80) {
        if (first & 0x01)
            cell.note = reader.u8();
        if (first & 0x02)
            cell.instrument = reader.u8();
        if (first & 0x04)
            cell.volumeColumn = reader.u8();
        if (first & 0x08)
            cell.effect = reader.u8();
        if (first & 0x10)
            cell.effectParam = reader.u8();
    } else {
        cell.note = first;
        cell.instrument = reader.u8();
        cell.volumeColumn = reader.u8();
        cell.effect = reader.u8();
        cell.effectParam = reader.u8();
    }
    if (cell.note == 97) {
        cell.note = keyOffNote;
    }
    if (cell.instrument > 128) {
        cell.instrument = 0;
    }
}

bool readPatterns(Song* song, XmReader& reader, int32_t filePatterns, std::string* reason) {
    const int32_t channels = song->channelCount;
    for (int32_t p = 0; p < filePatterns; ++p) {
        if (reader.remaining() < patternHeaderLength) {
            return refuse(reason,
                          "the file ends inside the header of pattern " + std::to_string(p));
        }
        reader.u32();  // header length, taken to be 9
        reader.u8();   // packing type
        const int32_t storedRows = reader.u16();
        const uint16_t packedSize = reader.u16();
        if (storedRows > maxPatternRows) {
            return refuse(reason, "pattern " + std::to_string(p) + " has " +
                                      std::to_string(storedRows) + " rows (at most " +
                                      std::to_string(maxPatternRows) + ")");
        }
        const int64_t storedCells = int64_t{storedRows} * channels;
        // Every cell takes at least one byte, so cells the file cannot hold
        // mean a cut-off file.
        if (packedSize != 0 && storedCells > reader.remaining()) {
            return refuse(reason, "the file ends inside the data of pattern " + std::to_string(p));
        }
        // No row to play would leave the sequencer outside the pattern.
        const int32_t rows = storedRows == 0 ? emptyPatternRows : storedRows;
        SongPattern& pattern = song->patterns[p];
        pattern.notes = allocateZeroed<PatternNote>(size_t(rows) * size_t(channels));
        if (pattern.notes == nullptr) {
            return refuse(reason, "out of memory for pattern " + std::to_string(p));
        }
        pattern.rowCount = rows;
        if (packedSize != 0) {
            for (int64_t cell = 0; cell < storedCells; ++cell) {
                decodeCell(reader, pattern.notes[cell]);
            }
        }
    }
    for (int32_t p = filePatterns; p < song->patternCount; ++p) {
        SongPattern& pattern = song->patterns[p];
        pattern.notes = allocateZeroed<PatternNote>(size_t(emptyPatternRows) * size_t(channels));
        if (pattern.notes == nullptr) {
            return refuse(reason, "out of memory for pattern " + std::to_string(p));
        }
        pattern.rowCount = emptyPatternRows;
    }
    return true;
}

// Values above the 0..64 a tracker writes would overflow the 16.16 envelope
// arithmetic, and ticks that go backwards would never be reached: values are
// capped and ticks made non-decreasing.
void readEnvelope(XmReader& reader, std::array<EnvelopePoint, maxEnvelopePoints>& points) {
    uint16_t previousTick = 0;
    for (int k = 0; k < storedEnvelopePoints; ++k) {
        EnvelopePoint& point = points[k];
        point.tick = std::max(reader.u16(), previousTick);
        point.value = std::min(reader.u16(), maxEnvelopeValue);
        previousTick = point.tick;
    }
}

// A file holds 12 points; a sustain or loop index outside the points in use
// switches that feature off, so the envelope walk never leaves its points.
void boundEnvelope(uint8_t& pointCount, uint8_t& flags, uint8_t& sustain, uint8_t& loopStart,
                   uint8_t& loopEnd) {
    pointCount = std::min<uint8_t>(pointCount, storedEnvelopePoints);
    if (pointCount < 2) {
        flags = 0;
    }
    if (sustain >= pointCount) {
        flags &= ~envelopeSustain;
        sustain = 0;
    }
    if (loopStart >= pointCount || loopEnd >= pointCount) {
        flags &= ~envelopeLoop;
        loopStart = 0;
        loopEnd = 0;
    }
}

void readInstrumentHeader(XmReader& reader, Instrument& instrument) {
    reader.u32();  // sample header size, taken to be 40
    reader.bytes(instrument.noteSamples.data(), instrument.noteSamples.size());
    readEnvelope(reader, instrument.volumeEnvelope);
    readEnvelope(reader, instrument.panningEnvelope);
    instrument.volumePointCount = reader.u8();
    instrument.panningPointCount = reader.u8();
    instrument.volumeSustainPoint = reader.u8();
    instrument.volumeLoopStart = reader.u8();
    instrument.volumeLoopEnd = reader.u8();
    instrument.panningSustainPoint = reader.u8();
    instrument.panningLoopStart = reader.u8();
    instrument.panningLoopEnd = reader.u8();
    instrument.volumeEnvelopeFlags = reader.u8();
    instrument.panningEnvelopeFlags = reader.u8();
    instrument.vibratoType = reader.u8();
    instrument.vibratoSweep = reader.u8();
    instrument.vibratoDepth = reader.u8();
    instrument.vibratoRate = reader.u8();
    instrument.fadeOut = static_cast<uint16_t>(reader.u16() << 1);
    boundEnvelope(instrument.volumePointCount, instrument.volumeEnvelopeFlags,
                  instrument.volumeSustainPoint, instrument.volumeLoopStart,
                  instrument.volumeLoopEnd);
    boundEnvelope(instrument.panningPointCount, instrument.panningEnvelopeFlags,
                  instrument.panningSustainPoint, instrument.panningLoopStart,
                  instrument.panningLoopEnd);
}

void readSampleHeader(XmReader& reader, Sample& sample) {
    sample.length = reader.u32();
    sample.loopStart = reader.u32();
    sample.loopLength = reader.u32();
    sample.volume = std::min(reader.u8(), maxSampleVolume);
    sample.finetune = static_cast<int8_t>(reader.u8());
    const uint8_t type = reader.u8();
    sample.panning = reader.u8();
    sample.relativeNote = static_cast<int8_t>(reader.u8());
    reader.skip(sampleNameAndReserved);

    sample.loopType = NoLoop;
    sample.bits = 8;
    if (type & 0x01)
        sample.loopType = ForwardLoop;
    if (type & 0x02)
        sample.loopType = PingPongLoop;
    if (type & 0x10)
        sample.bits = 16;
    if (sample.loopType == NoLoop) {
        sample.loopStart = 0;
        sample.loopLength = sample.length;
    }
    if (sample.bits == 16) {
        sample.length >>= 1;
        sample.loopStart >>= 1;
        sample.loopLength >>= 1;
    }
    if (sample.loopLength == 0) {
        sample.loopStart = 0;
        sample.loopLength = sample.length;
        sample.loopType = NoLoop;
    }
}

// Keeps the loop, and with it the guard value after it, inside the sample: a
// loop reaching past the end ends at the end, a loop starting at or past the
// end is no loop.
void clampLoop(Sample& sample) {
    if (sample.loopType == NoLoop || sample.loopStart >= sample.length) {
        sample.loopType = NoLoop;
        sample.loopStart = 0;
        sample.loopLength = sample.length;
    } else if (uint64_t{sample.loopStart} + sample.loopLength > sample.length) {
        sample.loopLength = sample.length - sample.loopStart;
    }
}

bool readSampleData(Song* song, XmReader& reader, Sample& sample, int32_t instrumentIndex,
                    int32_t sampleIndex, std::string* reason) {
    const uint32_t bytesPerValue = sample.bits / 8;
    // Sample data cut short by the end of the file keeps what the file holds.
    const int64_t available = reader.remaining() / bytesPerValue;
    if (sample.length > available) {
        sample.length = static_cast<uint32_t>(available);
    }
    clampLoop(sample);
    if (sample.length == 0) {
        sample.bits = 16;  // like every loaded sample, though it has no data
        return true;
    }
    const int32_t byteCount = static_cast<int32_t>(sample.length * bytesPerValue);
    sample.data = allocateSampleData(sample.length);
    if (sample.data == nullptr) {
        return refuse(reason, "out of memory for sample " + std::to_string(sampleIndex) +
                                  " of instrument " + std::to_string(instrumentIndex + 1));
    }
    // The file's bytes are read into the start of the data block and widened
    // in place: value i only overwrites bytes at or after byte i.
    auto* raw = reinterpret_cast<uint8_t*>(sample.data);
    if (song->sampleDataCallback != nullptr) {
        song->sampleDataCallback(raw, byteCount, sample.bits, instrumentIndex, sampleIndex);
        reader.skip(byteCount);
    } else {
        reader.bytes(raw, byteCount);
    }
    if (sample.bits == 8) {
        for (int64_t i = int64_t{sample.length} - 1; i >= 0; --i) {
            sample.data[i] = static_cast<int16_t>(raw[i] << 8);
        }
        sample.bits = 16;
    } else {
        for (uint32_t i = 0; i < sample.length; ++i) {
            sample.data[i] = static_cast<int16_t>(raw[2 * i] | raw[2 * i + 1] << 8);
        }
    }
    if (song->sampleDataCallback == nullptr) {
        uint16_t sum = 0;
        for (uint32_t i = 0; i < sample.length; ++i) {
            sum = static_cast<uint16_t>(sum + static_cast<uint16_t>(sample.data[i]));
            sample.data[i] = static_cast<int16_t>(sum);
        }
    }
    const uint32_t loopEnd = sample.loopStart + sample.loopLength;
    if (sample.loopType == PingPongLoop) {
        sample.data[loopEnd] = sample.data[loopEnd - 1];
    } else if (sample.loopType == ForwardLoop) {
        sample.data[loopEnd] = sample.data[sample.loopStart];
    }
    return true;
}

bool readInstrument(Song* song, XmReader& reader, int32_t index, std::string* reason) {
    Instrument& instrument = song->instruments[index];
    const int64_t start = reader.position();
    const uint32_t headerSize = reader.u32();
    reader.skip(instrumentNameAndType);
    const uint16_t sampleCount = reader.u16();
    if (sampleCount > maxInstrumentSamples) {
        return refuse(reason, "instrument " + std::to_string(index + 1) + " has " +
                                  std::to_string(sampleCount) + " samples (at most " +
                                  std::to_string(maxInstrumentSamples) + ")");
    }
    if (sampleCount > 0) {
        readInstrumentHeader(reader, instrument);
        instrument.samples = allocateZeroed<Sample*>(sampleCount);
        if (instrument.samples == nullptr) {
            return refuse(
                reason, "out of memory for the samples of instrument " + std::to_string(index + 1));
        }
        instrument.sampleCount = sampleCount;
    }
    reader.seekTo(start + headerSize);
    for (int32_t j = 0; j < sampleCount; ++j) {
        auto* sample = allocateZeroed<Sample>(1);
        if (sample == nullptr) {
            return refuse(
                reason, "out of memory for the samples of instrument " + std::to_string(index + 1));
        }
        instrument.samples[j] = sample;
        readSampleHeader(reader, *sample);
    }
    for (int32_t j = 0; j < sampleCount; ++j) {
        if (!readSampleData(song, reader, *instrument.samples[j], index, j, reason)) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool readXmSong(Song* song, SongStream* stream) {
    return readXmSong(song, stream, nullptr);
}

bool readXmSong(Song* song, SongStream* stream, std::string* reason) {
    XmReader reader{stream, measureStream(stream)};

    reader.seekTo(0);
    char text[identificationLength] = {};
    reader.bytes(text, identificationLength);
    if (std::memcmp(text, identification, identificationLength) != 0) {
        return refuse(reason, "not an XM file (it does not start with \"Extended Module: \")");
    }
    song->tickFunction = advanceTick;
    song->initialGlobalVolume = 64;
    if (reader.length < minimumFileLength) {
        return refuse(reason, "the file ends inside its header");
    }

    reader.seekTo(songHeaderOffset);
    const uint32_t headerSize = reader.u32();
    const uint16_t songLength = reader.u16();
    const uint16_t restartPosition = reader.u16();
    const uint16_t channelCount = reader.u16();
    const uint16_t filePatterns = reader.u16();
    const int16_t instrumentCount = static_cast<int16_t>(reader.u16());
    song->flags = reader.u16();
    const uint16_t speed = reader.u16();
    const uint16_t tempo = reader.u16();
    reader.bytes(song->orders.data(), song->orders.size());

    if (channelCount == 0) {
        return refuse(reason, "the song has no channels");
    }
    if (channelCount > maxSongChannels) {
        return refuse(reason, "the song has " + std::to_string(channelCount) +
                                  " channels (at most " + std::to_string(maxSongChannels) + ")");
    }
    if (filePatterns > maxSongPatterns) {
        return refuse(reason, "the song has " + std::to_string(filePatterns) +
                                  " patterns (at most " + std::to_string(maxSongPatterns) + ")");
    }
    song->channelCount = static_cast<int16_t>(channelCount);
    // The file holds 256 order entries; an empty order list would leave the
    // sequencer without a pattern, so at least the first entry is played.
    song->songLength = static_cast<int16_t>(std::clamp<int32_t>(songLength, 1, maxSongLength));
    song->restartPosition =
        static_cast<int16_t>(restartPosition < song->songLength ? restartPosition : 0);
    song->defaultSpeed = static_cast<int16_t>(std::min<int32_t>(speed, maxSpeed));
    // A tick lasts 2.5 / tempo seconds: tempo 0 has no length.
    song->defaultTempo = static_cast<int16_t>(tempo == 0 ? defaultTempoWhenMissing
                                                         : std::min<int32_t>(tempo, maxTempo));

    reader.seekTo(int64_t{songHeaderOffset} + headerSize);
    int32_t used = 0;
    for (int32_t k = 0; k < song->songLength; ++k) {
        if (song->orders[k] >= used) {
            used = song->orders[k] + 1;
        }
    }
    song->usedPatternCount = used;
    song->patternCount = std::max<int32_t>(filePatterns, used);
    song->patterns = allocateZeroed<SongPattern>(size_t(song->patternCount));
    if (song->patterns == nullptr) {
        song->patternCount = 0;
        return refuse(reason, "out of memory for the pattern table");
    }
    if (!readPatterns(song, reader, filePatterns, reason)) {
        return false;
    }

    // Cells name instruments 1..128 only; instruments beyond are never played.
    const int32_t instruments = std::clamp<int32_t>(instrumentCount, 0, maxSongInstruments);
    song->instruments = allocateZeroed<Instrument>(size_t(instruments));
    if (song->instruments == nullptr) {
        return refuse(reason, "out of memory for the instrument table");
    }
    song->instrumentCount = static_cast<int16_t>(instruments);
    for (int32_t i = 0; i < instruments; ++i) {
        if (!readInstrument(song, reader, i, reason)) {
            return false;
        }
    }
    return true;
}
