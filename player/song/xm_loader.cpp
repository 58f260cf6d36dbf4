#include "player/song/xm_loader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <string>

#include "player/song/xm_reading.h"
#include "player/song/xm_sample_data.h"

namespace xmplayer {

namespace {

constexpr char identification[] = "Extended Module: ";
constexpr int32_t identificationLength = 17;
constexpr int32_t trackerNameOffset = 38;
constexpr int32_t versionOffset = 58;
constexpr int32_t songHeaderOffset = 60;
// Through the end of the order table: a file shorter than this ends inside
// its own header.
constexpr int64_t minimumFileLength = 80 + 256;
// From version 0x0104 on the patterns come first and every instrument's
// sample data follows its own sample headers. The two earlier versions store
// every instrument's headers first, then the patterns, then the sample data
// of all samples in instrument and sample order.
constexpr uint16_t earliestVersion = 0x0102;
constexpr uint16_t patternsFirstVersion = 0x0104;
// The two pattern header forms. Files of the earlier versions say in the
// header's first field which one they use; a longer header holds the 9-byte
// form and bytes of no meaning after it.
constexpr uint32_t patternHeaderLength = 9;       // the row count in 16 bits
constexpr uint32_t shortPatternHeaderLength = 8;  // the row count less one in 8 bits
constexpr int32_t instrumentNameAndType = 23;
constexpr uint16_t maxEnvelopeValue = 64;
constexpr int32_t defaultTempoWhenMissing = 125;
// Later trackers write tempos up to 1000. A tempo plays as written up to what
// the record holds; the tick setter keeps every tick at least one frame long.
constexpr int32_t maxTempo = std::numeric_limits<int16_t>::max();
constexpr int32_t maxSpeed = 255;

std::string hex16(uint16_t value) {
    constexpr char digits[] = "0123456789ABCDEF";
    std::string text = "0x";
    for (const int shift : {12, 8, 4, 0}) {
        text += digits[(value >> shift) & 0x0F];
    }
    return text;
}

// A pattern's packed cells as its header measures them, read from the stream
// a piece at a time. A cell cut off by their end reads zero for the bytes it
// misses.
struct PackedCells {
    XmReader& reader;
    int64_t left;  // bytes of the packed data not fetched yet
    std::array<uint8_t, 256> piece{};
    int32_t pieceSize = 0;
    int32_t next = 0;

    bool more() const { return next < pieceSize || left > 0; }
    uint8_t u8() {
        if (next == pieceSize) {
            if (left <= 0) {
                return 0;
            }
            pieceSize = static_cast<int32_t>(std::min<int64_t>(left, piece.size()));
            piece.fill(0);  // what the stream cannot deliver reads as zero
            reader.bytes(piece.data(), pieceSize);
            left -= pieceSize;
            next = 0;
        }
        return piece[next++];
    }
};

void decodeCell(PackedCells& packed, PatternNote& cell) {
    const uint8_t first = packed.u8();
    if (first & 0x80) {
        if (first & 0x01)
            cell.note = packed.u8();
        if (first & 0x02)
            cell.instrument = packed.u8();
        if (first & 0x04)
            cell.volumeColumn = packed.u8();
        if (first & 0x08)
            cell.effect = packed.u8();
        if (first & 0x10)
            cell.effectParam = packed.u8();
    } else {
        cell.note = first;
        cell.instrument = packed.u8();
        cell.volumeColumn = packed.u8();
        cell.effect = packed.u8();
        cell.effectParam = packed.u8();
    }
    if (cell.note == 97) {
        cell.note = keyOffNote;
    }
    if (cell.instrument > 128) {
        cell.instrument = 0;
    }
}

struct PatternHeader {
    int32_t rows;  // as stored; 0 only in the 9-byte form
    uint16_t packedSize;
    int64_t dataStart;  // where the header's stored length says the cells start
    int64_t dataEnd;    // and where its packed size says they end
};

// The header's stored length says where the packed cells start. In the
// earlier versions it also tells the two forms apart; in the current one a
// length below 9 (no tracker writes one) is taken as 9.
bool readPatternHeader(XmReader& reader, bool earlyLayout, int32_t p, PatternHeader& header,
                       std::string* reason) {
    const std::string endsInside =
        "the file ends inside the header of pattern " + std::to_string(p);
    const int64_t start = reader.position();
    if (reader.remaining() < (earlyLayout ? shortPatternHeaderLength : patternHeaderLength)) {
        return refuse(reason, endsInside);
    }
    const uint32_t storedLength = reader.u32();
    const uint32_t length =
        earlyLayout ? storedLength : std::max(storedLength, patternHeaderLength);
    if (length < shortPatternHeaderLength) {
        return refuse(reason, "the header of pattern " + std::to_string(p) + " is " +
                                  std::to_string(length) + " bytes long (at least 8 in a file of " +
                                  "version 0x0102 or 0x0103)");
    }
    if (reader.remaining() < int64_t{length} - 4) {
        return refuse(reason, endsInside);
    }
    reader.u8();  // packing type
    header.rows = length == shortPatternHeaderLength ? reader.u8() + 1 : reader.u16();
    header.packedSize = reader.u16();
    header.dataStart = start + length;
    header.dataEnd = header.dataStart + header.packedSize;
    return true;
}

// Decodes the cells a pattern's packed data holds, at most `cells` of them;
// cells beyond the data stay empty.
void decodePatternCells(XmReader& reader, const PatternHeader& header, PatternNote* notes,
                        int64_t cells) {
    reader.seekTo(header.dataStart);
    PackedCells packed{reader, header.packedSize};
    for (int64_t cell = 0; cell < cells && packed.more(); ++cell) {
        decodeCell(packed, notes[cell]);
    }
}

bool readPatterns(Song* song, XmReader& reader, int32_t filePatterns, bool earlyLayout,
                  std::string* reason) {
    const int32_t channels = song->channelCount;
    for (int32_t p = 0; p < filePatterns; ++p) {
        PatternHeader header{};
        if (!readPatternHeader(reader, earlyLayout, p, header, reason)) {
            return false;
        }
        const int32_t storedRows = header.rows;
        const uint16_t packedSize = header.packedSize;
        if (storedRows > maxPatternRows) {
            return refuse(reason, "pattern " + std::to_string(p) + " has " +
                                      std::to_string(storedRows) + " rows (at most " +
                                      std::to_string(maxPatternRows) + ")");
        }
        const int64_t storedCells = int64_t{storedRows} * channels;
        // Every cell takes at least one byte, so cells the file cannot hold
        // mean a cut-off file; in the earlier layouts the sample data after
        // the patterns would be missing too.
        const int64_t remaining = std::max<int64_t>(reader.length - header.dataStart, 0);
        if (packedSize != 0 && (std::min<int64_t>(storedCells, packedSize) > remaining ||
                                (earlyLayout && header.dataEnd > reader.length))) {
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
        decodePatternCells(reader, header, pattern.notes, storedCells);
        // What follows is found by the header's lengths, whatever the cells
        // took.
        reader.seekTo(header.dataEnd);
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

// The instrument's header and its sample headers, which end where its sample
// data would start.
bool readInstrumentAndSampleHeaders(XmReader& reader, Instrument& instrument, int32_t index,
                                    XmFileFacts& facts, std::string* reason) {
    const int64_t start = reader.position();
    const uint32_t headerSize = reader.u32();
    reader.skip(instrumentNameAndType);
    const uint16_t sampleCount = reader.u16();
    if (sampleCount > maxInstrumentSamples) {
        return refuse(reason, "instrument " + std::to_string(index + 1) + " has " +
                                  std::to_string(sampleCount) + " samples (at most " +
                                  std::to_string(maxInstrumentSamples) + ")");
    }
    facts.mostSamples = std::max<int32_t>(facts.mostSamples, sampleCount);
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
        if (!readSampleHeader(reader, *sample, index, j, reason)) {
            return false;
        }
        if (sample->bits == compressedSampleBits) {
            ++facts.compressedSamples;
        }
    }
    return true;
}

bool readInstrumentSamples(Song* song, XmReader& reader, int32_t index, std::string* reason) {
    const Instrument& instrument = song->instruments[index];
    for (int32_t j = 0; j < instrument.sampleCount; ++j) {
        if (!readSampleData(reader, *instrument.samples[j], song->sampleDataCallback, index, j,
                            reason)) {
            return false;
        }
    }
    return true;
}

// Patterns, then each instrument with its sample headers and sample data.
bool readCurrentLayout(Song* song, XmReader& reader, int32_t filePatterns, XmFileFacts& facts,
                       std::string* reason) {
    if (!readPatterns(song, reader, filePatterns, false, reason)) {
        return false;
    }
    for (int32_t i = 0; i < song->instrumentCount; ++i) {
        if (!readInstrumentAndSampleHeaders(reader, song->instruments[i], i, facts, reason) ||
            !readInstrumentSamples(song, reader, i, reason)) {
            return false;
        }
    }
    return true;
}

// Every instrument's headers, then the patterns, then all sample data.
bool readEarlyLayout(Song* song, XmReader& reader, int32_t filePatterns, XmFileFacts& facts,
                     std::string* reason) {
    for (int32_t i = 0; i < song->instrumentCount; ++i) {
        if (!readInstrumentAndSampleHeaders(reader, song->instruments[i], i, facts, reason)) {
            return false;
        }
    }
    if (!readPatterns(song, reader, filePatterns, true, reason)) {
        return false;
    }
    for (int32_t i = 0; i < song->instrumentCount; ++i) {
        if (!readInstrumentSamples(song, reader, i, reason)) {
            return false;
        }
    }
    return true;
}

bool readSong(Song* song, SongStream* stream, std::string* reason, XmFileFacts& facts) {
    XmReader reader = openXmReader(stream);

    reader.seekTo(0);
    char text[identificationLength] = {};
    reader.bytes(text, identificationLength);
    if (std::memcmp(text, identification, identificationLength) != 0) {
        return refuse(reason, "not an XM file (it does not start with \"Extended Module: \")");
    }
    reader.bytes(song->title.data(), song->title.size());
    song->initialGlobalVolume = 64;
    if (reader.length < minimumFileLength) {
        return refuse(reason, "the file ends inside its header");
    }
    reader.seekTo(trackerNameOffset);
    reader.bytes(song->trackerName.data(), song->trackerName.size());
    reader.seekTo(versionOffset);
    facts.version = reader.u16();
    if (facts.version < earliestVersion) {
        return refuse(reason, "the file is of XM version " + hex16(facts.version) +
                                  ", older than the versions the player reads (0x0102 on)");
    }
    const bool earlyLayout = facts.version < patternsFirstVersion;

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
    // The earlier layouts put the patterns after every instrument's headers,
    // so instruments beyond those a cell can name would have to be walked.
    if (earlyLayout && instrumentCount > maxSongInstruments) {
        return refuse(reason, "the file of version " + hex16(facts.version) + " has " +
                                  std::to_string(instrumentCount) + " instruments (at most " +
                                  std::to_string(maxSongInstruments) + " in this version)");
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
    // Cells name instruments 1..128 only; instruments beyond are never played.
    const int32_t instruments = std::clamp<int32_t>(instrumentCount, 0, maxSongInstruments);
    song->instruments = allocateZeroed<Instrument>(size_t(instruments));
    if (song->instruments == nullptr) {
        return refuse(reason, "out of memory for the instrument table");
    }
    song->instrumentCount = static_cast<int16_t>(instruments);

    if (!(earlyLayout ? readEarlyLayout(song, reader, filePatterns, facts, reason)
                      : readCurrentLayout(song, reader, filePatterns, facts, reason))) {
        return false;
    }
    // Later trackers append chunks of their own (texts, plug-in data); they
    // are no song data and stay unread.
    facts.bytesAfterLastSample = reader.remaining();
    return true;
}

}  // namespace

bool readXmSong(Song* song, SongStream* stream) {
    return readXmSong(song, stream, nullptr);
}

bool readXmSong(Song* song, SongStream* stream, std::string* reason) {
    return readXmSong(song, stream, reason, nullptr);
}

bool readXmSong(Song* song, SongStream* stream, std::string* reason, XmFileFacts* facts) {
    XmFileFacts found{};
    const bool loaded = readSong(song, stream, reason, found);
    if (facts != nullptr) {
        *facts = found;
    }
    return loaded;
}

}  // namespace xmplayer
