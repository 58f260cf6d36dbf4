#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/memory_stream.h"
#include "player/song/song_loading.h"
#include "player/song/stream.h"
#include "tests/song/xm_builder.h"

using namespace xmplayer;

namespace {

struct CallRecord {
    int opens = 0;
    const char* openedName = nullptr;
    void* closedHandle = nullptr;
    void* readBuffer = nullptr;
    int32_t readSize = 0;
    void* readHandle = nullptr;
    void* seekHandle = nullptr;
    int32_t seekOffset = 0;
    int8_t seekMode = -1;
    void* tellHandle = nullptr;
};

CallRecord calls;
int handleObject = 0;

void* recordOpen(const char* name) {
    ++calls.opens;
    calls.openedName = name;
    return &handleObject;
}
void recordClose(void* handle) {
    calls.closedHandle = handle;
}
int32_t recordRead(void* buffer, int32_t size, void* handle) {
    calls.readBuffer = buffer;
    calls.readSize = size;
    calls.readHandle = handle;
    return 1234;  // passed on unchanged, even though it exceeds the size
}
void recordSeek(void* handle, int32_t offset, int8_t mode) {
    calls.seekHandle = handle;
    calls.seekOffset = offset;
    calls.seekMode = mode;
}
int32_t recordTell(void* handle) {
    calls.tellHandle = handle;
    return 77;
}

StreamCallbacks recorder() {
    calls = CallRecord{};
    return {recordOpen, recordClose, recordRead, recordSeek, recordTell};
}

TEST(StreamLayer, PassesEveryArgumentInItsPlace) {
    const StreamCallbacks callbacks = recorder();
    ASSERT_TRUE(streamCallbacksComplete(callbacks));
    const char* name = "song name";
    SongStream* stream = streamOpen(callbacks, name);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(calls.openedName, name);
    EXPECT_EQ(stream->handle, &handleObject);

    char buffer[4];
    EXPECT_EQ(streamRead(buffer, 4, stream), 1234);
    EXPECT_EQ(calls.readBuffer, buffer);
    EXPECT_EQ(calls.readSize, 4);
    EXPECT_EQ(calls.readHandle, &handleObject);

    streamSeek(stream, -12, seekEnd);
    EXPECT_EQ(calls.seekHandle, &handleObject);
    EXPECT_EQ(calls.seekOffset, -12);
    EXPECT_EQ(calls.seekMode, seekEnd);

    EXPECT_EQ(streamTell(stream), 77);
    EXPECT_EQ(calls.tellHandle, &handleObject);

    streamClose(stream);
    EXPECT_EQ(calls.closedHandle, &handleObject);
}

TEST(StreamLayer, NullStreamsAreHarmless) {
    recorder();
    char buffer[4] = {};
    EXPECT_EQ(streamRead(buffer, 4, nullptr), 0);
    EXPECT_EQ(streamTell(nullptr), 0);
    streamSeek(nullptr, 5, seekSet);
    streamClose(nullptr);
    EXPECT_EQ(calls.readHandle, nullptr);
    EXPECT_EQ(calls.seekMode, -1);
    EXPECT_EQ(calls.tellHandle, nullptr);
    EXPECT_EQ(calls.closedHandle, nullptr);
}

TEST(StreamLayer, OneNullCallbackOpensNothing) {
    StreamCallbacks callbacks = recorder();
    callbacks.read = nullptr;
    EXPECT_FALSE(streamCallbacksComplete(callbacks));
    EXPECT_EQ(streamOpen(callbacks, "x"), nullptr);
    EXPECT_EQ(calls.opens, 0) << "nothing is called through an incomplete set";
    std::string reason;
    EXPECT_EQ(loadSong(callbacks, nullptr, nullptr, &reason), nullptr);
    EXPECT_EQ(reason, "the stream callbacks are incomplete");
    EXPECT_EQ(calls.opens, 0);
    EXPECT_FALSE(streamCallbacksComplete(StreamCallbacks{}));
}

void* failToOpen(const char*) {
    return nullptr;
}

TEST(SongControl, FailedOpenOrForeignBytesGiveNoSong) {
    const StreamCallbacks failing{failToOpen, closeMemoryStream, readMemoryStream, seekMemoryStream,
                                  tellMemoryStream};
    std::string reason;
    EXPECT_EQ(loadSong(failing, nullptr, nullptr, &reason), nullptr);
    EXPECT_EQ(reason, "the song could not be opened");

    // The sanitizer build shows that the stream and the song are released.
    const std::vector<uint8_t> foreign(400, 'x');
    EXPECT_EQ(loadSong(imageStreams(foreign), nullptr, nullptr, nullptr), nullptr);
}

TEST(SongControl, FreeSongReleasesAHalfBuiltSong) {
    EXPECT_FALSE(freeSong(nullptr));

    // As a load that failed part way leaves it: counts reached, some records
    // not yet allocated, unused slots still null.
    auto* song = static_cast<Song*>(std::calloc(1, sizeof(Song)));
    song->patternCount = 3;
    song->patterns = static_cast<SongPattern*>(std::calloc(3, sizeof(SongPattern)));
    song->patterns[0].notes = static_cast<PatternNote*>(std::calloc(8, sizeof(PatternNote)));
    song->instrumentCount = 2;
    song->instruments = static_cast<Instrument*>(std::calloc(2, sizeof(Instrument)));
    Instrument& first = song->instruments[0];
    first.sampleCount = 3;
    first.samples = static_cast<Sample**>(std::calloc(3, sizeof(Sample*)));
    first.samples[0] = static_cast<Sample*>(std::calloc(1, sizeof(Sample)));
    first.samples[0]->data = allocateSampleData(100);
    first.samples[0]->length = 100;
    first.samples[1] = static_cast<Sample*>(std::calloc(1, sizeof(Sample)));
    first.samples[2] = nullptr;
    EXPECT_TRUE(freeSong(song));  // the sanitizer build checks for leaks and bad frees

    auto* bare = static_cast<Song*>(std::calloc(1, sizeof(Song)));
    EXPECT_TRUE(freeSong(bare));
}

TEST(SampleData, HasAZeroBeforeAndEightZerosAfter) {
    int16_t* data = allocateSampleData(5);
    ASSERT_NE(data, nullptr);
    for (int k = -1; k < 13; ++k) {
        EXPECT_EQ(data[k], 0) << k;
    }
    releaseSampleData(data);
    releaseSampleData(nullptr);
    EXPECT_EQ(emptySample.data, nullptr);
    EXPECT_EQ(emptySample.length, 0u);
    EXPECT_EQ(emptySample.loopType, 0);
}

}  // namespace
