#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "app/memory_stream.h"
#include "player/song/song_loading.h"
#include "player/song/stream.h"
#include "tests/song/xm_builder.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

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
    int32_t seekMode = -1;
    void* tellHandle = nullptr;
    int contextsSeen = 0;  // calls that received the record as their context
};

CallRecord calls;
int handleObject = 0;

CallRecord& record(void* context) {
    auto* record = static_cast<CallRecord*>(context);
    ++record->contextsSeen;
    return *record;
}

void* recordOpen(void* context, const char* name) {
    ++record(context).opens;
    calls.openedName = name;
    return &handleObject;
}
void recordClose(void* context, void* handle) {
    record(context).closedHandle = handle;
}
int32_t recordRead(void* context, void* handle, void* buffer, int32_t size) {
    record(context).readBuffer = buffer;
    calls.readSize = size;
    calls.readHandle = handle;
    return 1234;  // passed on unchanged, even though it exceeds the size
}
bool recordSeek(void* context, void* handle, int32_t offset, int32_t mode) {
    record(context).seekHandle = handle;
    calls.seekOffset = offset;
    calls.seekMode = mode;
    return false;
}
int32_t recordTell(void* context, void* handle) {
    record(context).tellHandle = handle;
    return 77;
}

StreamCallbacks recorder() {
    calls = CallRecord{};
    return {recordOpen, recordClose, recordRead, recordSeek, recordTell, &calls};
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

    EXPECT_FALSE(stream->seekFailed);
    EXPECT_FALSE(streamSeek(stream, -12, seekEnd)) << "the callback's answer";
    EXPECT_TRUE(stream->seekFailed);
    EXPECT_EQ(calls.seekHandle, &handleObject);
    EXPECT_EQ(calls.seekOffset, -12);
    EXPECT_EQ(calls.seekMode, seekEnd);

    EXPECT_EQ(streamTell(stream), 77);
    EXPECT_EQ(calls.tellHandle, &handleObject);

    streamClose(stream);
    EXPECT_EQ(calls.closedHandle, &handleObject);
    EXPECT_EQ(calls.contextsSeen, 5);
}

TEST(StreamLayer, NullStreamsAreHarmless) {
    recorder();
    char buffer[4] = {};
    EXPECT_EQ(streamRead(buffer, 4, nullptr), 0);
    EXPECT_EQ(streamTell(nullptr), -1);
    EXPECT_FALSE(streamSeek(nullptr, 5, seekSet));
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

void* failToOpen(void*, const char*) {
    return nullptr;
}

TEST(SongControl, FailedOpenOrForeignBytesGiveNoSong) {
    const StreamCallbacks failing{failToOpen,       closeMemoryStream, readMemoryStream,
                                  seekMemoryStream, tellMemoryStream,  nullptr};
    std::string reason;
    EXPECT_EQ(loadSong(failing, nullptr, nullptr, &reason), nullptr);
    EXPECT_EQ(reason, "the song could not be opened");

    // The sanitizer build shows that the stream and the song are released.
    const std::vector<uint8_t> foreign(400, 'x');
    EXPECT_EQ(loadSong(imageStreams(foreign), nullptr, nullptr, nullptr), nullptr);
}

// A stream that can seek but fails a seek part way through the song: what
// the loader would read next is not where the song's layout leads.
struct FailingSeeks {
    std::vector<uint8_t> bytes;
    int32_t failFrom;  // seeks to this offset or beyond fail
};

void* openFailing(void* context, const char*) {
    const auto* source = static_cast<FailingSeeks*>(context);
    return createMemoryStream(source->bytes.data(), static_cast<int32_t>(source->bytes.size()));
}

bool seekFailing(void* context, void* stream, int32_t offset, int32_t mode) {
    const auto* source = static_cast<FailingSeeks*>(context);
    if (mode == seekSet && offset >= source->failFrom) {
        return false;
    }
    return seekMemoryStream(nullptr, stream, offset, mode);
}

TEST(SongControl, ASeekThatFailsPartWayFailsTheLoad) {
    FailingSeeks source{{}, 400};
    {
        std::ifstream file(std::string(PROJECT_SOURCE_DIR) + "/assets/song.xm", std::ios::binary);
        source.bytes.assign(std::istreambuf_iterator<char>(file), {});
    }
    ASSERT_GT(source.bytes.size(), 1000u);
    const StreamCallbacks callbacks{openFailing, closeMemoryStream, readMemoryStream,
                                    seekFailing, tellMemoryStream,  &source};
    std::string reason;
    EXPECT_EQ(loadSong(callbacks, nullptr, nullptr, &reason), nullptr);
    EXPECT_EQ(reason, "the stream failed to seek where the song's layout leads");

    source.failFrom = INT32_MAX;
    Song* song = loadSong(callbacks, nullptr, nullptr, &reason);
    EXPECT_NE(song, nullptr) << reason;
    freeSong(song);
    EXPECT_EQ(loadSongMemory(nullptr, 10, &reason), nullptr);
    EXPECT_EQ(reason, "no song image given");
}

#if !defined(_WIN32)
// A pipe cannot seek: the file stream opens it all the same, and the loader
// reads it through once.
TEST(SongControl, AFileThatIsAPipeLoads) {
    const std::string fifo = ::testing::TempDir() + "song_pipe_" + std::to_string(::getpid());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::ifstream file(std::string(PROJECT_SOURCE_DIR) + "/assets/song.xm", std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(file), {}};
    std::thread writer([&] {
        std::ofstream pipe(fifo, std::ios::binary);
        pipe.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    });
    std::string reason;
    Song* piped = loadSongFile(fifo.c_str(), &reason, nullptr);
    writer.join();
    ::unlink(fifo.c_str());
    ASSERT_NE(piped, nullptr) << reason;
    Song* stored = loadSongMemory(bytes.data(), bytes.size(), &reason);
    ASSERT_NE(stored, nullptr) << reason;
    EXPECT_EQ(piped->patternCount, stored->patternCount);
    EXPECT_EQ(piped->instrumentCount, stored->instrumentCount);
    EXPECT_EQ(piped->instruments[0].samples[0]->length, stored->instruments[0].samples[0]->length);
    freeSong(piped);
    freeSong(stored);
}
#endif

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
