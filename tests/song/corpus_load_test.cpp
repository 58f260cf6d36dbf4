#include <gtest/gtest.h>

#include <string>

#include "player/song/file_stream.h"
#include "player/song/song_loading.h"
#include "tests/corpus.h"

using namespace xmplayer;

namespace {

// What the sequencer and the mixer rely on in every song that loads.
void expectPlayable(const Song& song, const std::string& file) {
    SCOPED_TRACE(file);
    ASSERT_GE(song.channelCount, 1);
    ASSERT_LE(song.channelCount, 32);
    ASSERT_GE(song.songLength, 1);
    ASSERT_LE(song.songLength, 256);
    EXPECT_LT(song.restartPosition, song.songLength);
    EXPECT_GE(song.defaultTempo, 1);
    for (int k = 0; k < song.songLength; ++k) {
        ASSERT_LT(song.orders[k], song.patternCount);
    }
    for (int p = 0; p < song.patternCount; ++p) {
        ASSERT_GE(song.patterns[p].rowCount, 1);
        ASSERT_NE(song.patterns[p].notes, nullptr);
    }
    for (int i = 0; i < song.instrumentCount; ++i) {
        const Instrument& instrument = song.instruments[i];
        ASSERT_LE(instrument.sampleCount, maxInstrumentSamples);
        for (uint8_t count : {instrument.volumePointCount, instrument.panningPointCount}) {
            EXPECT_LE(count, 12);
        }
        if (instrument.volumeEnvelopeFlags & envelopeLoop) {
            EXPECT_LT(instrument.volumeLoopStart, instrument.volumePointCount);
            EXPECT_LT(instrument.volumeLoopEnd, instrument.volumePointCount);
        }
        for (int j = 0; j < instrument.sampleCount; ++j) {
            const Sample* sample = instrument.samples[j];
            ASSERT_NE(sample, nullptr);
            EXPECT_EQ(sample->bits, 16);
            EXPECT_EQ(sample->data == nullptr, sample->length == 0);
            ASSERT_LE(uint64_t{sample->loopStart} + sample->loopLength, sample->length);
            if (sample->loopType == NoLoop) {
                EXPECT_EQ(sample->loopStart, 0u);
                EXPECT_EQ(sample->loopLength, sample->length);
            } else if (sample->length > 0) {
                const uint32_t end = sample->loopStart + sample->loopLength;
                const int16_t guard = sample->loopType == ForwardLoop
                                          ? sample->data[sample->loopStart]
                                          : sample->data[end - 1];
                EXPECT_EQ(sample->data[end], guard);
            }
        }
    }
}

void loadEveryFile(const std::string& folder, bool allMustLoad) {
    const StreamCallbacks files = fileStreamCallbacks();
    for (const auto& path : corpusFiles(folder)) {
        std::string reason;
        Song* song = loadSong(files, path.string().c_str(), nullptr, &reason);
        if (song == nullptr) {
            EXPECT_FALSE(allMustLoad) << path << " refused: " << reason;
            EXPECT_FALSE(reason.empty()) << path;
            continue;
        }
        expectPlayable(*song, path.filename().string());
        freeSong(song);
    }
}

TEST(CorpusLoading, EverySongLoads) {
    SKIP_WITHOUT_CORPUS("songs");
    loadEveryFile("songs", true);
}

TEST(CorpusLoading, EveryEffectSongLoads) {
    SKIP_WITHOUT_CORPUS("effects");
    loadEveryFile("effects", true);
}

TEST(CorpusLoading, MalformedFilesLoadSafelyOrAreRefused) {
    SKIP_WITHOUT_CORPUS("malformed");
    loadEveryFile("malformed", false);
}

// Two tracker test files whose pattern headers mislead a loader that takes
// every header as 9 bytes and reads cells until the rows are full: one has a
// 272-byte header, the other packs 8 rows of its 64 and ends its data there.
TEST(CorpusLoading, PatternsEndWhereTheirHeadersSay) {
    SKIP_WITHOUT_CORPUS("tracker");
    const StreamCallbacks files = fileStreamCallbacks();
    struct Case {
        const char* file;
        uint8_t firstNote;    // channel 0's, on row 0
        int32_t lastNoteRow;  // channel 0's key-off; no note in any channel after it
    };
    for (const Case& c : {Case{"pathead.xm", 61, 9}, Case{"format_xm_pattrunc.xm", 49, 5}}) {
        SCOPED_TRACE(c.file);
        std::string reason;
        const std::string path = (corpusDirectory() / "tracker" / c.file).string();
        Song* song = loadSong(files, path.c_str(), nullptr, &reason);
        ASSERT_NE(song, nullptr) << reason;
        expectPlayable(*song, c.file);
        const SongPattern& pattern = song->patterns[0];
        EXPECT_EQ(pattern.notes[0].note, c.firstNote);
        EXPECT_EQ(pattern.notes[c.lastNoteRow * song->channelCount].note, keyOffNote);
        for (int32_t cell = (c.lastNoteRow + 1) * song->channelCount;
             cell < pattern.rowCount * song->channelCount; ++cell) {
            ASSERT_EQ(pattern.notes[cell].note, 0) << "cell " << cell;
        }
        ASSERT_EQ(song->instrumentCount, 1);
        ASSERT_EQ(song->instruments[0].sampleCount, 1) << "the instrument follows the pattern";
        EXPECT_GT(song->instruments[0].samples[0]->length, 0u);
        freeSong(song);
    }
}

TEST(CorpusLoading, FileStreamRefusesWhatItCannotOpen) {
    EXPECT_EQ(openFileStream(nullptr, nullptr), nullptr);
    EXPECT_EQ(openFileStream(nullptr, "/nonexistent/song.xm"), nullptr);
    EXPECT_EQ(openFileStream(nullptr, "/"), nullptr) << "a directory is not a stream";
}

TEST(CorpusLoading, FileStreamReadsSeeksAndTells) {
    SKIP_WITHOUT_CORPUS("songs");
    const auto path = corpusFiles("songs").front();
    void* file = openFileStream(nullptr, path.string().c_str());
    ASSERT_NE(file, nullptr);
    char text[17];
    EXPECT_EQ(readFileStream(nullptr, file, text, 17), 17);
    EXPECT_EQ(std::string(text, 17), "Extended Module: ");
    EXPECT_EQ(tellFileStream(nullptr, file), 17);
    seekFileStream(nullptr, file, 0, 2);
    const int32_t length = tellFileStream(nullptr, file);
    EXPECT_EQ(length, static_cast<int32_t>(std::filesystem::file_size(path)));
    EXPECT_EQ(readFileStream(nullptr, file, text, 17), 0);
    EXPECT_FALSE(seekFileStream(nullptr, file, -length - 5, 1));
    EXPECT_EQ(tellFileStream(nullptr, file), length) << "a seek before the start is not taken";
    EXPECT_FALSE(seekFileStream(nullptr, file, 3, 9));
    EXPECT_EQ(tellFileStream(nullptr, file), length);
    seekFileStream(nullptr, file, 1, 0);
    EXPECT_EQ(readFileStream(nullptr, file, text, 2), 2);
    EXPECT_EQ(std::string(text, 2), "xt");
    closeFileStream(nullptr, file);
}

}  // namespace
