#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "generators/xm_writer.h"
#include "player/player.h"
#include "player/song/song_loading.h"
#include "player/song/xm_loader.h"
#include "tests/song/xm_builder.h"

using namespace xmplayer;

namespace {

struct SongDeleter {
    void operator()(Song* song) const { freeSong(song); }
};
using SongPtr = std::unique_ptr<Song, SongDeleter>;

struct LoadResult {
    SongPtr song;
    std::string reason;
};

LoadResult load(const std::vector<uint8_t>& bytes, SampleDataCallback callback = nullptr,
                int32_t chunk = 0) {
    LoadResult result;
    result.song.reset(loadSong(imageStreams(bytes, chunk), nullptr, callback, &result.reason));
    return result;
}

// Two channels, one pattern of four empty rows, played once.
XmSongSpec smallSong() {
    XmSongSpec spec;
    spec.patterns.push_back(emptyPattern(4, spec.channels));
    return spec;
}

XmSongSpec songWithSamples(std::vector<XmSampleSpec> samples) {
    XmSongSpec spec = smallSong();
    XmInstrumentSpec instrument;
    instrument.samples = std::move(samples);
    spec.instruments.push_back(instrument);
    return spec;
}

const Sample& firstSample(const Song& song) {
    return *song.instruments[0].samples[0];
}

TEST(XmIdentification, OnlyTheExactSeventeenBytesAreAccepted) {
    std::vector<uint8_t> good = buildXm(smallSong());
    good[58] = 0x34;  // any version number: 0x1234
    good[59] = 0x12;
    LoadResult result = load(good);
    ASSERT_NE(result.song, nullptr) << result.reason;
    EXPECT_EQ(result.song->initialGlobalVolume, 64);
    for (size_t k = 0; k < 17; ++k) {
        std::vector<uint8_t> bytes = good;
        bytes[k] ^= 0x20;  // letter case, and the final space into 0
        result = load(bytes);
        EXPECT_EQ(result.song, nullptr) << "byte " << k;
        EXPECT_NE(result.reason.find("not an XM file"), std::string::npos) << result.reason;
    }
    EXPECT_EQ(load({}).song, nullptr);
}

TEST(XmHeader, PatternsStartAfterTheStoredHeaderSize) {
    for (const uint32_t headerSize : {276u, 300u, 280u}) {
        XmSongSpec spec = smallSong();
        spec.headerSize = headerSize;
        spec.patterns[0].rows = 1;
        spec.patterns[0].packed = {0x81, 0x30, 0x81, 0x31};
        LoadResult result = load(buildXm(spec));
        ASSERT_NE(result.song, nullptr) << result.reason;
        EXPECT_EQ(result.song->patterns[0].rowCount, 1);
        EXPECT_EQ(result.song->patterns[0].notes[0].note, 0x30) << headerSize;
        EXPECT_EQ(result.song->patterns[0].notes[1].note, 0x31) << headerSize;
    }
}

TEST(XmHeader, ValuesOutsideThePlayableRangeAreClampedOrRefused) {
    XmSongSpec spec = smallSong();
    spec.songLength = 300;
    spec.restartPosition = 256;
    spec.tempo = 0;
    spec.speed = 1000;
    LoadResult result = load(buildXm(spec));
    ASSERT_NE(result.song, nullptr) << result.reason;
    EXPECT_EQ(result.song->songLength, 256);
    EXPECT_EQ(result.song->restartPosition, 0);
    EXPECT_EQ(result.song->defaultTempo, 125);
    EXPECT_EQ(result.song->defaultSpeed, 255);

    spec = smallSong();
    spec.songLength = 0;
    spec.orders[0] = 3;
    spec.tempo = 1000;
    result = load(buildXm(spec));
    ASSERT_NE(result.song, nullptr) << result.reason;
    EXPECT_EQ(result.song->songLength, 1) << "the first order entry is always played";
    EXPECT_EQ(result.song->patternCount, 4);
    EXPECT_EQ(result.song->patterns[3].rowCount, 64);
    EXPECT_EQ(result.song->defaultTempo, 1000);
    spec.tempo = 65535;
    EXPECT_EQ(load(buildXm(spec)).song->defaultTempo, 32767);

    spec = smallSong();
    spec.channels = 32;
    spec.patterns = {emptyPattern(1, 32)};
    EXPECT_NE(load(buildXm(spec)).song, nullptr);
    spec.channels = 33;
    spec.patterns = {emptyPattern(1, 33)};
    result = load(buildXm(spec));
    EXPECT_EQ(result.song, nullptr);
    EXPECT_EQ(result.reason, "the song has 33 channels (at most 32)");
    spec.channels = 0;
    spec.patterns = {emptyPattern(1, 0)};
    result = load(buildXm(spec));
    EXPECT_EQ(result.song, nullptr);
    EXPECT_EQ(result.reason, "the song has no channels");
}

TEST(XmHeader, AFileEndingInsideItsHeaderIsRefused) {
    std::vector<uint8_t> bytes = buildXm(smallSong());
    bytes.resize(200);
    LoadResult result = load(bytes);
    EXPECT_EQ(result.song, nullptr);
    EXPECT_EQ(result.reason, "the file ends inside its header");
}

TEST(XmPatterns, PackedAndUnpackedCellsAreDecoded) {
    XmSongSpec spec = smallSong();
    spec.patterns[0].rows = 3;
    spec.patterns[0].packed = {
        0x83, 0x31, 0x05,                    // row 0, channel 0: note and instrument only
        0x00, 0x07, 0x40, 0x0C, 0x20,        // channel 1: unpacked, note 0 and four more bytes
        0x9F, 97,   129,  0x10, 0x0F, 0xFF,  // row 1, channel 0: all five, key-off, instrument 129
        0x62, 0x80, 0x00, 0x00, 0x00,        // channel 1: unpacked note 98 is kept as read
        0x98, 0x0A, 0x44,                    // row 2, channel 0: effect and parameter only
        0x80,                                // channel 1: empty
    };
    LoadResult result = load(buildXm(spec));
    ASSERT_NE(result.song, nullptr) << result.reason;
    const PatternNote* notes = result.song->patterns[0].notes;
    auto expectCell = [](const PatternNote& cell, uint8_t note, uint8_t instrument, uint8_t volume,
                         uint8_t effect, uint8_t param) {
        EXPECT_EQ(cell.note, note);
        EXPECT_EQ(cell.instrument, instrument);
        EXPECT_EQ(cell.volumeColumn, volume);
        EXPECT_EQ(cell.effect, effect);
        EXPECT_EQ(cell.effectParam, param);
    };
    expectCell(notes[0], 0x31, 5, 0, 0, 0);
    expectCell(notes[1], 0, 7, 0x40, 0x0C, 0x20);
    expectCell(notes[2], 255, 0, 0x10, 0x0F, 0xFF);
    expectCell(notes[3], 98, 128, 0, 0, 0);
    expectCell(notes[4], 0, 0, 0, 0x0A, 0x44);
    expectCell(notes[5], 0, 0, 0, 0, 0);
}

// What a tracker view shows through the public calls: the cells as written
// (a key-off as the file's 97) and the title, trimmed and printable.
TEST(XmPatterns, ThePublicViewShowsTheCellsAndTheTitle) {
    XmSongSpec spec = smallSong();
    spec.patterns[0].rows = 2;
    spec.patterns[0].packed = {
        0x9F, 97,   3,    0x10, 0x0F, 0xFF,  // row 0, channel 0: key-off with everything
        0x00, 0x07, 0x40, 0x0C, 0x20,        // channel 1
        0x80, 0x81, 49,                      // row 1: empty, a note alone
    };
    std::vector<uint8_t> bytes = buildXm(spec);
    const std::string title = "  Song\x01 title     ";
    std::copy(title.begin(), title.end(), bytes.begin() + 17);
    LoadResult result = load(bytes);
    ASSERT_NE(result.song, nullptr) << result.reason;
    const Song& song = *result.song;
    EXPECT_STREQ(describeSong(song).title, "Song? title");
    ASSERT_EQ(patternRows(song, 0), 2);
    EXPECT_EQ(patternRows(song, 1), 0);
    EXPECT_EQ(patternCells(song, 1, nullptr, 0), 0);
    std::vector<PatternCell> cells(5);
    ASSERT_EQ(patternCells(song, 0, cells.data(), 3), 4);
    const std::vector<std::array<uint8_t, 5>> expected{
        {97, 3, 0x10, 0x0F, 0xFF}, {0, 7, 0x40, 0x0C, 0x20}, {0, 0, 0, 0, 0}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const PatternCell& cell = cells[i];
        EXPECT_EQ((std::array<uint8_t, 5>{cell.note, cell.instrument, cell.volume, cell.effect,
                                          cell.parameter}),
                  expected[i])
            << i;
    }
    EXPECT_EQ(cells[3].note, 0) << "beyond the capacity nothing is written";
}

TEST(XmPatterns, RowCountsAndPatternsBeyondTheFile) {
    XmSongSpec spec = smallSong();
    XmPatternSpec noData;
    noData.rows = 32;
    XmPatternSpec noRows;
    noRows.rows = 0;
    noRows.packedSizeOverride = 1;  // data announced, yet no cell to decode
    spec.patterns = {noData, noRows};
    spec.songLength = 3;
    spec.orders[0] = 0;
    spec.orders[1] = 4;
    spec.orders[2] = 1;
    spec.orders[3] = 9;  // beyond the song length: not made to exist
    LoadResult result = load(buildXm(spec));
    ASSERT_NE(result.song, nullptr) << result.reason;
    const Song& song = *result.song;
    EXPECT_EQ(song.usedPatternCount, 5);
    EXPECT_EQ(song.patternCount, 5);
    EXPECT_EQ(song.patterns[0].rowCount, 32) << "a pattern without data keeps its rows";
    EXPECT_EQ(song.patterns[1].rowCount, 64) << "a pattern stored with no rows";
    for (int p = 2; p < 5; ++p) {
        EXPECT_EQ(song.patterns[p].rowCount, 64);
    }
    for (int p = 0; p < 5; ++p) {
        for (int cell = 0; cell < song.patterns[p].rowCount * song.channelCount; ++cell) {
            const PatternNote& note = song.patterns[p].notes[cell];
            ASSERT_EQ(
                note.note | note.instrument | note.volumeColumn | note.effect | note.effectParam,
                0);
        }
    }
}

TEST(XmPatterns, PatternsBeyondTheLimitsOrTheFileAreRefused) {
    XmSongSpec spec = smallSong();
    spec.patterns = {emptyPattern(1025, 2)};
    LoadResult result = load(buildXm(spec));
    EXPECT_EQ(result.song, nullptr);
    EXPECT_EQ(result.reason, "pattern 0 has 1025 rows (at most 1024)");

    spec = smallSong();
    spec.declaredPatterns = 257;
    result = load(buildXm(spec));
    EXPECT_EQ(result.song, nullptr);
    EXPECT_EQ(result.reason, "the song has 257 patterns (at most 256)");

    spec = smallSong();
    spec.patterns = {emptyPattern(64, 2)};
    std::vector<uint8_t> bytes = buildXm(spec);
    bytes.resize(bytes.size() - 10);
    result = load(bytes);
    EXPECT_EQ(result.song, nullptr);
    EXPECT_EQ(result.reason, "the file ends inside the data of pattern 0");

    spec = smallSong();
    spec.declaredPatterns = 2;
    result = load(buildXm(spec));
    EXPECT_EQ(result.song, nullptr);
    EXPECT_EQ(result.reason, "the file ends inside the header of pattern 1");
}

TEST(XmSamples, EightBitDeltaValuesAreWidenedIntoTheUpperByte) {
    XmSampleSpec sample;
    sample.lengthBytes = 4;
    sample.data = {0x10, 0xF0, 0x7F, 0x02};
    LoadResult result = load(buildXm(songWithSamples({sample})));
    ASSERT_NE(result.song, nullptr) << result.reason;
    const Sample& loaded = firstSample(*result.song);
    EXPECT_EQ(loaded.bits, 16);
    EXPECT_EQ(loaded.length, 4u);
    EXPECT_EQ(loaded.data[0], 4096);
    EXPECT_EQ(loaded.data[1], 0);
    EXPECT_EQ(loaded.data[2], 0x7F00);
    EXPECT_EQ(loaded.data[3], -32512) << "0x7F + 0x02 wraps to 0x81";
    EXPECT_EQ(loaded.loopType, NoLoop);
    EXPECT_EQ(loaded.loopStart, 0u);
    EXPECT_EQ(loaded.loopLength, 4u);
    EXPECT_EQ(loaded.data[-1], 0);
    for (int k = 4; k < 12; ++k) {
        EXPECT_EQ(loaded.data[k], 0) << "an unlooped sample keeps its zero tail";
    }
}

TEST(XmSamples, SixteenBitValuesAreDeltaDecodedWithWrapping) {
    XmSampleSpec sample;
    sample.type = 0x10;
    sample.data = deltaCode16({1000, -1000, 32767, -32768, 5});
    sample.data.push_back(0xAB);  // an odd byte length rounds down
    sample.lengthBytes = static_cast<uint32_t>(sample.data.size());
    LoadResult result = load(buildXm(songWithSamples({sample})));
    ASSERT_NE(result.song, nullptr) << result.reason;
    const Sample& loaded = firstSample(*result.song);
    EXPECT_EQ(loaded.length, 5u);
    EXPECT_EQ(loaded.bits, 16);
    const std::vector<int16_t> values(loaded.data, loaded.data + 5);
    EXPECT_EQ(values, (std::vector<int16_t>{1000, -1000, 32767, -32768, 5}));

    XmSampleSpec big;
    big.type = 0x10;
    big.lengthBytes = 1000;
    big.data.assign(1000, 0);
    result = load(buildXm(songWithSamples({big})));
    ASSERT_NE(result.song, nullptr) << result.reason;
    EXPECT_EQ(firstSample(*result.song).length, 500u);
}

TEST(XmSamples, LoopTypesAndTheirGuardValues) {
    const std::vector<int8_t> values = {1, 2, 3, 4, 5, 6, 7, 8};
    XmSampleSpec forward;
    forward.lengthBytes = 8;
    forward.loopStartBytes = 2;
    forward.loopLengthBytes = 4;
    forward.type = 0x01;
    forward.data = deltaCode8(values);
    XmSampleSpec pingPong = forward;
    pingPong.type = 0x03;  // bit 1 wins over bit 0
    XmSampleSpec zeroLength = forward;
    zeroLength.loopLengthBytes = 0;
    XmSampleSpec pingPong16;
    pingPong16.type = 0x12;
    pingPong16.data = deltaCode16({10, 20, 30, 40});
    pingPong16.lengthBytes = 8;
    pingPong16.loopStartBytes = 2;
    pingPong16.loopLengthBytes = 6;
    LoadResult result = load(buildXm(songWithSamples({forward, pingPong, zeroLength, pingPong16})));
    ASSERT_NE(result.song, nullptr) << result.reason;
    const Instrument& instrument = result.song->instruments[0];

    const Sample& f = *instrument.samples[0];
    EXPECT_EQ(f.loopType, ForwardLoop);
    EXPECT_EQ(f.loopStart, 2u);
    EXPECT_EQ(f.loopLength, 4u);
    EXPECT_EQ(f.data[6], 3 << 8) << "the guard copies the loop's first value";
    EXPECT_EQ(f.data[7], 8 << 8) << "values after the loop are kept";

    const Sample& p = *instrument.samples[1];
    EXPECT_EQ(p.loopType, PingPongLoop);
    EXPECT_EQ(p.data[6], 6 << 8) << "the guard copies the loop's last value";

    const Sample& z = *instrument.samples[2];
    EXPECT_EQ(z.loopType, NoLoop);
    EXPECT_EQ(z.loopStart, 0u);
    EXPECT_EQ(z.loopLength, 8u);
    EXPECT_EQ(z.data[8], 0);

    const Sample& w = *instrument.samples[3];
    EXPECT_EQ(w.loopType, PingPongLoop);
    EXPECT_EQ(w.loopStart, 1u);
    EXPECT_EQ(w.loopLength, 3u);
    EXPECT_EQ(w.data[4], 40);
}

TEST(XmSamples, LoopsReachingBeyondTheSampleAreClampedToIt) {
    const std::vector<int8_t> values = {1, 2, 3, 4, 5, 6};
    XmSampleSpec pastEnd;
    pastEnd.lengthBytes = 6;
    pastEnd.loopStartBytes = 2;
    pastEnd.loopLengthBytes = 100;
    pastEnd.type = 0x01;
    pastEnd.data = deltaCode8(values);
    XmSampleSpec startAtEnd = pastEnd;
    startAtEnd.loopStartBytes = 6;
    startAtEnd.loopLengthBytes = 2;
    XmSampleSpec hugeStart = pastEnd;
    hugeStart.type = 0x02;
    hugeStart.loopStartBytes = 0xFFFFFFF0u;
    hugeStart.loopLengthBytes = 0x20;  // start + length wraps in 32 bits
    XmSampleSpec pingPongPastEnd = pastEnd;
    pingPongPastEnd.type = 0x02;
    LoadResult result =
        load(buildXm(songWithSamples({pastEnd, startAtEnd, hugeStart, pingPongPastEnd})));
    ASSERT_NE(result.song, nullptr) << result.reason;
    const Instrument& instrument = result.song->instruments[0];

    const Sample& a = *instrument.samples[0];
    EXPECT_EQ(a.loopType, ForwardLoop);
    EXPECT_EQ(a.loopStart, 2u);
    EXPECT_EQ(a.loopLength, 4u);
    EXPECT_EQ(a.data[6], 3 << 8);

    for (int j : {1, 2}) {
        const Sample& s = *instrument.samples[j];
        EXPECT_EQ(s.loopType, NoLoop) << j;
        EXPECT_EQ(s.loopStart, 0u) << j;
        EXPECT_EQ(s.loopLength, 6u) << j;
        EXPECT_EQ(s.data[6], 0) << j;
    }

    const Sample& d = *instrument.samples[3];
    EXPECT_EQ(d.loopType, PingPongLoop);
    EXPECT_EQ(d.loopLength, 4u);
    EXPECT_EQ(d.data[6], 6 << 8);
}

TEST(XmSamples, DataCutShortByTheEndOfTheFileKeepsWhatIsThere) {
    XmSampleSpec first;
    first.type = 0x11;
    first.lengthBytes = 400;
    first.loopStartBytes = 100;
    first.loopLengthBytes = 300;
    first.data = deltaCode16(std::vector<int16_t>(200, 7));
    XmSampleSpec second;
    second.lengthBytes = 1000;
    second.data = {1, 1};
    std::vector<uint8_t> bytes = buildXm(songWithSamples({first, second}));
    bytes.resize(bytes.size() - 2 - 102);  // keeps 149 values of the first sample
    LoadResult result = load(bytes);
    ASSERT_NE(result.song, nullptr) << result.reason;
    const Sample& a = *result.song->instruments[0].samples[0];
    EXPECT_EQ(a.length, 149u);
    EXPECT_EQ(a.loopStart, 50u);
    EXPECT_EQ(a.loopLength, 99u);
    EXPECT_EQ(a.data[148], 7);
    EXPECT_EQ(a.data[149], 7) << "the guard of the shortened loop";
    const Sample& b = *result.song->instruments[0].samples[1];
    EXPECT_EQ(b.length, 0u);
    EXPECT_EQ(b.data, nullptr);
    EXPECT_EQ(b.loopType, NoLoop);
}

TEST(XmSamples, HeaderValuesAreSettled) {
    XmSampleSpec sample;
    sample.volume = 200;
    sample.finetune = -16;
    sample.panning = 255;
    sample.relativeNote = -12;
    XmSampleSpec quiet = sample;
    quiet.volume = 48;
    LoadResult result = load(buildXm(songWithSamples({sample, quiet})));
    ASSERT_NE(result.song, nullptr) << result.reason;
    const Sample& s = firstSample(*result.song);
    EXPECT_EQ(s.volume, 64) << "a volume above 64 is capped";
    EXPECT_EQ(result.song->instruments[0].samples[1]->volume, 48);
    EXPECT_EQ(s.finetune, -16);
    EXPECT_EQ(s.panning, 255);
    EXPECT_EQ(s.relativeNote, -12);
    EXPECT_EQ(s.length, 0u);
    EXPECT_EQ(s.data, nullptr);
    EXPECT_EQ(s.bits, 16);
}

int32_t callbackCalls = 0;
std::vector<std::vector<int32_t>> callbackArguments;

void fillSampleData(void* buffer, int32_t byteLength, int32_t bits, int32_t instrumentIndex,
                    int32_t sampleIndex) {
    ++callbackCalls;
    callbackArguments.push_back({byteLength, bits, instrumentIndex, sampleIndex});
    auto* bytes = static_cast<uint8_t*>(buffer);
    for (int32_t k = 0; k < byteLength; ++k) {
        bytes[k] = static_cast<uint8_t>(0x10 * (k + 1));
    }
}

TEST(XmSamples, CallbackSuppliesFinalValuesAndTheStreamIsSkipped) {
    XmSampleSpec eight;
    eight.lengthBytes = 3;
    eight.data = {0x55, 0x55, 0x55};
    XmSampleSpec sixteen;
    sixteen.type = 0x11;
    sixteen.lengthBytes = 4;
    sixteen.loopLengthBytes = 4;
    sixteen.data = {0x66, 0x66, 0x66, 0x66};
    XmSongSpec spec = songWithSamples({eight});
    XmInstrumentSpec second;
    second.samples = {XmSampleSpec{}, sixteen};
    spec.instruments.push_back(second);
    callbackCalls = 0;
    callbackArguments.clear();
    LoadResult result = load(buildXm(spec), fillSampleData);
    ASSERT_NE(result.song, nullptr) << result.reason;
    EXPECT_EQ(callbackCalls, 2) << "a sample without data is not asked for";
    EXPECT_EQ(callbackArguments[0], (std::vector<int32_t>{3, 8, 0, 0}));
    EXPECT_EQ(callbackArguments[1], (std::vector<int32_t>{4, 16, 1, 1}));
    const Sample& a = firstSample(*result.song);
    EXPECT_EQ(a.data[0], 0x1000) << "no delta decoding of callback data";
    EXPECT_EQ(a.data[1], 0x2000);
    EXPECT_EQ(a.data[2], 0x3000);
    const Sample& b = *result.song->instruments[1].samples[1];
    EXPECT_EQ(b.data[0], 0x2010);
    EXPECT_EQ(b.data[1], 0x4030);
    EXPECT_EQ(b.data[2], 0x2010) << "the forward loop guard";
}

// Table: 0, 1, -1, 16, -128, the rest 0. Nibbles 3 1 4 2 3 sum to 16, 17,
// -111, -112, -96; the fifth value's byte has a high nibble that is not used.
XmSampleSpec compressedSample() {
    XmSampleSpec sample;
    sample.reserved = 0xAD;
    sample.type = 0x01;
    sample.lengthBytes = 5;
    sample.loopStartBytes = 1;
    sample.loopLengthBytes = 4;
    sample.data = {0, 1, 0xFF, 16, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x13, 0x24, 0xF3};
    return sample;
}

TEST(XmSamples, CompressedSamplesAreRunningSumsOfTheirTableLowNibbleFirst) {
    XmSampleSpec after;
    after.lengthBytes = 1;
    after.data = {5};
    std::vector<uint8_t> bytes = buildXm(songWithSamples({compressedSample(), after}));
    LoadResult result = load(bytes);
    ASSERT_NE(result.song, nullptr) << result.reason;
    const Sample& a = firstSample(*result.song);
    EXPECT_EQ(a.bits, 16);
    EXPECT_EQ(std::vector<int16_t>(a.data, a.data + 5),
              (std::vector<int16_t>{16 << 8, 17 << 8, -111 * 256, -112 * 256, -96 * 256}));
    EXPECT_EQ(a.data[5], a.data[1]) << "the forward loop's guard";
    EXPECT_EQ(result.song->instruments[0].samples[1]->data[0], 5 << 8)
        << "the next sample's data follows the packed bytes";

    bytes.resize(bytes.size() - 3);  // keeps the table and one packed byte
    result = load(bytes);
    ASSERT_NE(result.song, nullptr) << result.reason;
    EXPECT_EQ(firstSample(*result.song).length, 2u);
    EXPECT_EQ(firstSample(*result.song).data[1], 17 << 8);

    callbackCalls = 0;
    callbackArguments.clear();
    result = load(buildXm(songWithSamples({compressedSample(), after})), fillSampleData);
    ASSERT_NE(result.song, nullptr) << result.reason;
    EXPECT_EQ(callbackArguments, (std::vector<std::vector<int32_t>>{{5, 8, 0, 0}, {1, 8, 0, 1}}))
        << "the callback supplies the decoded 8-bit values";

    XmSampleSpec sixteen = compressedSample();
    sixteen.type = 0x10;
    result = load(buildXm(songWithSamples({sixteen})));
    EXPECT_EQ(result.song, nullptr);
    EXPECT_EQ(result.reason,
              "sample 0 of instrument 1 is stored compressed with 16-bit values, which the player "
              "cannot decode");
}

TEST(XmInstruments, SampleCountsAndEmptySlots) {
    XmSongSpec spec = smallSong();
    XmInstrumentSpec empty;
    empty.headerSize = 29;
    XmInstrumentSpec padded;
    padded.headerSize = 300;  // extra header bytes are skipped
    XmSampleSpec sample;
    sample.lengthBytes = 2;
    sample.data = {0x01, 0x01};
    padded.samples = {sample};
    padded.noteSamples.fill(0);
    padded.noteSamples[95] = 20;  // kept as read
    spec.instruments = {empty, padded};
    LoadResult result = load(buildXm(spec));
    ASSERT_NE(result.song, nullptr) << result.reason;
    const Song& song = *result.song;
    ASSERT_EQ(song.instrumentCount, 2);
    EXPECT_EQ(song.instruments[0].sampleCount, 0);
    EXPECT_EQ(song.instruments[0].samples, nullptr);
    EXPECT_EQ(song.instruments[1].sampleCount, 1);
    EXPECT_EQ(song.instruments[1].samples[0]->data[1], 0x0200);
    EXPECT_EQ(song.instruments[1].noteSamples[95], 20);
}

TEST(XmInstruments, MoreSamplesThanTheMapCanNameRefuseTheWholeSong) {
    XmSampleSpec sample;
    sample.lengthBytes = 16;
    sample.data.assign(16, 1);
    XmSongSpec spec = songWithSamples({sample, sample});
    XmInstrumentSpec tooMany;
    tooMany.declaredSamples = 257;
    spec.instruments.push_back(tooMany);
    // The first instrument's samples are built before the refusal; the
    // sanitizer build shows that they are released with the song.
    LoadResult result = load(buildXm(spec));
    EXPECT_EQ(result.song, nullptr);
    EXPECT_EQ(result.reason, "instrument 2 has 257 samples (at most 256)");

    spec.instruments[1].declaredSamples = 256;
    spec.instruments[1].samples.assign(256, sample);
    result = load(buildXm(spec));
    ASSERT_NE(result.song, nullptr) << result.reason;
    ASSERT_EQ(result.song->instruments[1].sampleCount, 256);
    EXPECT_EQ(result.song->instruments[1].samples[255]->data[15], 16 << 8);
}

// A small song of the earlier layouts as the project's writer stores it:
// with no instrument, its one pattern's header starts at 336.
std::vector<uint8_t> earlySong(uint16_t version) {
    xm::Module module;
    module.version = version;
    module.channels = 2;
    module.orders = {0};
    module.patterns = {xm::makePattern(4, 2)};
    xm::cellAt(module.patterns[0], 2, 1, 1) = {49, 0, 0x30, 0x0C, 0x20};
    module.trailingData = {'t', 'e', 'x', 't'};  // so that the file goes on after the pattern
    return xm::writeModule(module);
}

TEST(XmVersions, EarlierVersionsLoadWhereTheirLengthsAddUp) {
    constexpr size_t patternHeader = 336;
    for (const uint16_t version : {xm::kVersion0102, xm::kVersion0103}) {
        SCOPED_TRACE(version);
        std::vector<uint8_t> bytes = earlySong(version);
        LoadResult result = load(bytes);
        ASSERT_NE(result.song, nullptr) << result.reason;
        EXPECT_EQ(result.song->patterns[0].rowCount, 4);
        EXPECT_EQ(result.song->patterns[0].notes[3].note, 49);
        EXPECT_EQ(result.song->patterns[0].notes[3].effectParam, 0x20);
        result = load(std::vector<uint8_t>(bytes.begin(), bytes.end() - 6));
        EXPECT_EQ(result.reason, "the file ends inside the data of pattern 0");

        // The packed size, not the cells, says where the pattern ends.
        ++bytes[patternHeader + (version == xm::kVersion0102 ? 6 : 7)];
        result = load(bytes);
        ASSERT_NE(result.song, nullptr) << result.reason;
        EXPECT_EQ(result.song->patterns[0].notes[3].effectParam, 0x20);

        bytes[patternHeader] = 7;
        result = load(bytes);
        EXPECT_EQ(result.song, nullptr);
        EXPECT_EQ(result.reason,
                  "the header of pattern 0 is 7 bytes long (at least 8 in a file of version 0x0102 "
                  "or 0x0103)");
    }
    // The header's own length, not the version, says which form it has.
    std::vector<uint8_t> bytes = earlySong(xm::kVersion0102);
    bytes[58] = 0x03;
    LoadResult result = load(bytes);
    ASSERT_NE(result.song, nullptr) << result.reason;
    EXPECT_EQ(result.song->patterns[0].notes[3].volumeColumn, 0x30);
}

// A pattern's header says where its packed cells start and how many bytes
// they take: a longer header is skipped, cells beyond the packed size are
// empty, a cell cut by it misses its last bytes, and the instrument follows
// the packed data whatever the cells took.
TEST(XmPatterns, TheHeaderLengthsFindTheCells) {
    struct Case {
        const char* name;
        uint32_t headerLength;
        std::vector<uint8_t> packed;  // one row of two channels
        uint16_t packedSize;
        std::vector<uint8_t> expectedNotes;
    };
    const std::vector<Case> cases = {
        {"the usual header", 9, {0x81, 0x30, 0x81, 0x31}, 4, {0x30, 0x31}},
        {"a longer header", 40, {0x81, 0x30, 0x81, 0x31}, 4, {0x30, 0x31}},
        {"a header shorter than its fields", 5, {0x81, 0x30, 0x81, 0x31}, 4, {0x30, 0x31}},
        {"cells beyond the packed size", 9, {0x81, 0x30}, 2, {0x30, 0}},
        {"a cell cut by the packed size", 9, {0x81, 0x30, 0x83, 0x31}, 4, {0x30, 0x31}},
        {"packed data longer than its cells",
         9,
         {0x81, 0x30, 0x81, 0x31, 0x81, 0x32},
         6,
         {0x30, 0x31}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        XmSongSpec spec = smallSong();
        spec.patterns[0].rows = 1;
        spec.patterns[0].packed = c.packed;
        spec.patterns[0].packedSizeOverride = c.packedSize;
        XmInstrumentSpec instrument;
        instrument.samples.push_back(XmSampleSpec{});
        spec.instruments.push_back(instrument);
        std::vector<uint8_t> bytes = buildXm(spec);
        // The builder writes a 9-byte header at 336; make it as long as the case says.
        constexpr size_t header = 336;
        bytes[header] = static_cast<uint8_t>(c.headerLength);
        if (c.headerLength > 9) {
            bytes.insert(bytes.begin() + header + 9, c.headerLength - 9, 0xEE);
        }
        LoadResult result = load(bytes);
        ASSERT_NE(result.song, nullptr) << result.reason;
        const PatternNote* notes = result.song->patterns[0].notes;
        EXPECT_EQ(notes[0].note, c.expectedNotes[0]);
        EXPECT_EQ(notes[1].note, c.expectedNotes[1]);
        if (c.name == std::string("a cell cut by the packed size")) {
            EXPECT_EQ(notes[1].instrument, 0) << "the instrument's first byte is not a cell's";
        }
        ASSERT_EQ(result.song->instrumentCount, 1);
        EXPECT_EQ(result.song->instruments[0].sampleCount, 1) << "the instrument is found";
    }
}

TEST(XmVersions, OtherVersionsAndLayoutsBeyondTheFormatAreRefused) {
    XmSongSpec spec = smallSong();
    for (const uint16_t version : {0x0101, 0x0000}) {
        spec.version = version;
        LoadResult result = load(buildXm(spec));
        EXPECT_EQ(result.song, nullptr);
        EXPECT_EQ(result.reason, "the file is of XM version " +
                                     std::string(version == 0 ? "0x0000" : "0x0101") +
                                     ", older than the versions the player reads (0x0102 on)");
    }
    spec.version = 0x0102;
    spec.declaredInstruments = 129;
    LoadResult result = load(buildXm(spec));
    EXPECT_EQ(result.song, nullptr);
    EXPECT_EQ(result.reason,
              "the file of version 0x0102 has 129 instruments (at most 128 in this version)");
}

TEST(XmInstruments, InstrumentsBeyondWhatCellsCanNameAreNotRead) {
    XmSongSpec spec = smallSong();
    XmInstrumentSpec empty;
    empty.headerSize = 29;
    spec.instruments.assign(130, empty);
    LoadResult result = load(buildXm(spec));
    ASSERT_NE(result.song, nullptr) << result.reason;
    EXPECT_EQ(result.song->instrumentCount, 128);

    spec.instruments.clear();
    spec.declaredInstruments = 0x8000;  // negative as a 16-bit count
    result = load(buildXm(spec));
    ASSERT_NE(result.song, nullptr) << result.reason;
    EXPECT_EQ(result.song->instrumentCount, 0);
}

TEST(XmInstruments, EnvelopesAreReadAndBounded) {
    XmSongSpec spec = songWithSamples({XmSampleSpec{}});
    XmInstrumentSpec& instrument = spec.instruments[0];
    instrument.volume.points = {{0, 64}, {10, 32}, {20, 0}};
    instrument.volume.pointCount = 3;
    instrument.volume.sustain = 1;
    instrument.volume.loopStart = 0;
    instrument.volume.loopEnd = 2;
    instrument.volume.flags = envelopeOn | envelopeSustain | envelopeLoop;
    instrument.panning.points = {{0, 32}, {5, 200}, {3, 10}};  // value too large, tick backwards
    instrument.panning.pointCount = 20;
    instrument.panning.sustain = 12;
    instrument.panning.loopStart = 2;
    instrument.panning.loopEnd = 12;
    instrument.panning.flags = envelopeOn | envelopeSustain | envelopeLoop;
    instrument.fadeOut = 0x8001;
    instrument.vibratoType = 1;
    instrument.vibratoSweep = 2;
    instrument.vibratoDepth = 3;
    instrument.vibratoRate = 4;
    XmInstrumentSpec single = instrument;
    single.volume.pointCount = 1;
    single.panning.pointCount = 0;
    spec.instruments.push_back(single);
    LoadResult result = load(buildXm(spec));
    ASSERT_NE(result.song, nullptr) << result.reason;
    const Instrument& a = result.song->instruments[0];
    EXPECT_EQ(a.volumePointCount, 3);
    EXPECT_EQ(a.volumeEnvelopeFlags, envelopeOn | envelopeSustain | envelopeLoop);
    EXPECT_EQ(a.volumeEnvelope[1].tick, 10);
    EXPECT_EQ(a.volumeEnvelope[1].value, 32);
    EXPECT_EQ(a.volumeSustainPoint, 1);
    EXPECT_EQ(a.volumeLoopEnd, 2);
    EXPECT_EQ(a.panningPointCount, 12) << "a file holds 12 points";
    EXPECT_EQ(a.panningEnvelopeFlags, envelopeOn) << "sustain and loop beyond the points";
    EXPECT_EQ(a.panningEnvelope[1].value, 64);
    EXPECT_EQ(a.panningEnvelope[2].tick, 5);
    EXPECT_EQ(a.panningEnvelope[2].value, 10);
    EXPECT_EQ(a.panningEnvelope[12].tick, 0) << "points beyond the file's 12 stay zero";
    EXPECT_EQ(a.fadeOut, 0x0002);
    EXPECT_EQ(a.vibratoType, 1);
    EXPECT_EQ(a.vibratoSweep, 2);
    EXPECT_EQ(a.vibratoDepth, 3);
    EXPECT_EQ(a.vibratoRate, 4);
    const Instrument& b = result.song->instruments[1];
    EXPECT_EQ(b.volumeEnvelopeFlags, 0) << "fewer than two points";
    EXPECT_EQ(b.panningEnvelopeFlags, 0);
}

TEST(XmStreams, PiecewiseReadsLoadTheSameSong) {
    XmSampleSpec sample;
    sample.type = 0x11;
    sample.lengthBytes = 6;
    sample.loopLengthBytes = 6;
    sample.data = deltaCode16({100, 200, 300});
    XmSongSpec spec = songWithSamples({sample});
    spec.patterns[0].rows = 1;
    spec.patterns[0].packed = {0x83, 49, 1, 0x00, 0x02, 0x03, 0x04, 0x05};
    const std::vector<uint8_t> bytes = buildXm(spec);
    LoadResult whole = load(bytes);
    LoadResult pieces = load(bytes, nullptr, 3);
    ASSERT_NE(whole.song, nullptr) << whole.reason;
    ASSERT_NE(pieces.song, nullptr) << pieces.reason;
    EXPECT_EQ(pieces.song->patterns[0].notes[1].volumeColumn, 3);
    EXPECT_EQ(pieces.song->patterns[0].notes[1].effectParam, 5);
    EXPECT_EQ(std::vector<int16_t>(pieces.song->instruments[0].samples[0]->data,
                                   pieces.song->instruments[0].samples[0]->data + 4),
              (std::vector<int16_t>{100, 200, 300, 100}));
}

}  // namespace
