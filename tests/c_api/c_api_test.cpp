// The C API gives what the C++ API gives, however the song is loaded, and
// its errors arrive as a status with the library's own sentence.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "player/c_api/xmplayer.h"
#include "player/player.h"
#include "tests/c_api/render_from_c.h"
#include "tests/corpus.h"

namespace {

constexpr int32_t rate = 48000;
constexpr int32_t frames = 3 * rate;

std::filesystem::path demoSong() {
    return std::filesystem::path(PROJECT_SOURCE_DIR) / "assets" / "song.xm";
}

std::vector<uint8_t> fileBytes(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// A stream over bytes in memory, found through the context; one that cannot
// seek answers every seek and tell with a failure, as a pipe does.
struct Source {
    const std::vector<uint8_t>* bytes;
    bool seekable;
    int opened;
};
struct Cursor {
    int32_t position;
};

void* openSource(void* context, const char* /*name*/) {
    ++static_cast<Source*>(context)->opened;
    return new Cursor{0};
}
void closeSource(void* /*context*/, void* stream) {
    delete static_cast<Cursor*>(stream);
}
int32_t readSource(void* context, void* stream, void* buffer, int32_t size) {
    const auto& bytes = *static_cast<Source*>(context)->bytes;
    auto* cursor = static_cast<Cursor*>(stream);
    // Never more than 1000 bytes at once, as a pipe delivers.
    const int32_t count =
        std::min({size, 1000, static_cast<int32_t>(bytes.size()) - cursor->position});
    std::memcpy(buffer, bytes.data() + cursor->position, static_cast<size_t>(count));
    cursor->position += count;
    return count;
}
bool seekSource(void* context, void* stream, int32_t offset, int32_t mode) {
    const auto* source = static_cast<Source*>(context);
    auto* cursor = static_cast<Cursor*>(stream);
    const int64_t base = mode == xmplayerSeekSet ? 0
                         : mode == xmplayerSeekCurrent
                             ? cursor->position
                             : static_cast<int64_t>(source->bytes->size());
    const int64_t target = base + offset;
    if (!source->seekable || target < 0 || target > static_cast<int64_t>(source->bytes->size())) {
        return false;
    }
    cursor->position = static_cast<int32_t>(target);
    return true;
}
int32_t tellSource(void* context, void* stream) {
    return static_cast<Source*>(context)->seekable ? static_cast<Cursor*>(stream)->position : -1;
}

enum class LoadWay { File, Memory, Stream, StreamThatCannotSeek };

XmplayerSong* loadThrough(LoadWay way, const std::filesystem::path& path, Source& source) {
    XmplayerSong* song = nullptr;
    XmplayerError error{};
    const XmplayerStreamCallbacks callbacks{openSource, closeSource, readSource,
                                            seekSource, tellSource,  &source};
    XmplayerStatus status = xmplayerStatusOk;
    switch (way) {
        case LoadWay::File:
            status = xmplayerLoadFile(path.string().c_str(), &song, &error);
            break;
        case LoadWay::Memory:
            status = xmplayerLoadMemory(source.bytes->data(), source.bytes->size(), &song, &error);
            break;
        case LoadWay::Stream:
        case LoadWay::StreamThatCannotSeek:
            source.seekable = way == LoadWay::Stream;
            status = xmplayerLoadStream(&callbacks, "any name", &song, &error);
            EXPECT_EQ(source.opened, 1);
            break;
    }
    EXPECT_EQ(status, xmplayerStatusOk) << path << ": " << error.message;
    EXPECT_EQ(error.status, status);
    EXPECT_STREQ(error.message, "");
    return song;
}

std::vector<std::filesystem::path> songsToCheck() {
    std::vector<std::filesystem::path> songs{demoSong()};
    for (const auto& path : corpusFiles("songs")) {
        if (path.filename() == "tekilla_groove.xm" || path.filename() == "rhino_sting.xm") {
            songs.push_back(path);
        }
    }
    return songs;
}

TEST(CApi, GivesTheFramesOfTheCppApiHoweverTheSongIsLoaded) {
    for (const auto& path : songsToCheck()) {
        const std::vector<uint8_t> bytes = fileBytes(path);
        xmplayer::Song* reference = xmplayer::loadSongFile(path.string().c_str());
        ASSERT_NE(reference, nullptr) << path;
        xmplayer::Player* cppPlayer = xmplayer::createPlayer(*reference, rate);
        std::vector<int16_t> expected(2 * frames);
        xmplayer::renderFrames(*cppPlayer, expected.data(), frames);
        xmplayer::restartPlayer(*cppPlayer);
        std::vector<float> expectedFloats(2 * frames);
        xmplayer::renderFloatFrames(*cppPlayer, expectedFloats.data(), frames);
        const xmplayer::SongSummary summary = xmplayer::describeSong(*reference);

        for (const LoadWay way :
             {LoadWay::File, LoadWay::Memory, LoadWay::Stream, LoadWay::StreamThatCannotSeek}) {
            const std::string what =
                path.filename().string() + " loaded " + std::to_string(static_cast<int>(way));
            Source source{&bytes, true, 0};
            XmplayerSong* song = loadThrough(way, path, source);
            ASSERT_NE(song, nullptr) << what;
            XmplayerSongSummary described{};
            ASSERT_EQ(xmplayerDescribeSong(song, &described, nullptr), xmplayerStatusOk);
            EXPECT_STREQ(described.title, summary.title) << what;
            EXPECT_EQ(described.channels, summary.channels) << what;
            EXPECT_EQ(described.songLength, summary.songLength) << what;
            EXPECT_EQ(described.patterns, summary.patterns) << what;

            XmplayerPlayer* player = nullptr;
            ASSERT_EQ(xmplayerCreatePlayer(song, rate, xmplayerRulesFt2, &player, nullptr),
                      xmplayerStatusOk);
            std::vector<int16_t> got(2 * frames);
            // In pieces that cross the blocks.
            for (int32_t done = 0; done < frames; done += 1999) {
                xmplayerRenderFrames(player, got.data() + 2 * done, std::min(1999, frames - done));
            }
            EXPECT_TRUE(got == expected) << what;
            xmplayerRestartPlayer(player);
            std::vector<float> gotFloats(2 * frames);
            EXPECT_EQ(xmplayerRenderFloatFrames(player, gotFloats.data(), frames), frames);
            EXPECT_TRUE(gotFloats == expectedFloats) << what;
            xmplayerDestroyPlayer(player);
            xmplayerFreeSong(song);
        }

        std::vector<int16_t> fromC(2 * frames);
        char message[xmplayerMessageCapacity] = {};
        EXPECT_EQ(renderFromC(path.string().c_str(), rate, 0, fromC.data(), frames, message,
                              sizeof message),
                  frames)
            << message;
        EXPECT_TRUE(fromC == expected) << path << " rendered by C code";
        xmplayer::destroyPlayer(cppPlayer);
        xmplayer::freeSong(reference);
    }
}

// Positions, seeks, pass limits, channel views, the measure and the pattern
// cells are the C++ calls' own.
TEST(CApi, PassesEveryCallThrough) {
    const std::filesystem::path path = demoSong();
    xmplayer::Song* reference = xmplayer::loadSongFile(path.string().c_str());
    ASSERT_NE(reference, nullptr);
    XmplayerSong* song = nullptr;
    ASSERT_EQ(xmplayerLoadFile(path.string().c_str(), &song, nullptr), xmplayerStatusOk);

    const xmplayer::SongDuration measured =
        xmplayer::measureSong(*reference, rate, xmplayer::RuleSet::Own);
    XmplayerDuration duration{};
    ASSERT_EQ(xmplayerMeasureSong(song, rate, xmplayerRulesOwn, &duration, nullptr),
              xmplayerStatusOk);
    EXPECT_EQ(duration.frames, measured.frames);
    EXPECT_EQ(duration.milliseconds, measured.milliseconds);
    EXPECT_EQ(duration.loopStartFrames, measured.loopStartFrames);
    EXPECT_EQ(duration.loopOrder, measured.loopOrder);
    EXPECT_EQ(duration.comesBack, measured.comesBack);

    const int32_t orders = xmplayer::describeSong(*reference).songLength;
    for (int32_t order = -1; order <= orders; ++order) {
        EXPECT_EQ(xmplayerOrderPattern(song, order), xmplayer::orderPattern(*reference, order));
        EXPECT_EQ(xmplayerOrderRows(song, order), xmplayer::orderRows(*reference, order));
    }
    const int32_t pattern = xmplayer::orderPattern(*reference, 1);
    const int32_t cellCount = xmplayerPatternCells(song, pattern, nullptr, 0);
    ASSERT_EQ(cellCount,
              xmplayerPatternRows(song, pattern) * xmplayer::describeSong(*reference).channels);
    std::vector<XmplayerPatternCell> cells(static_cast<std::size_t>(cellCount));
    std::vector<xmplayer::PatternCell> cppCells(cells.size());
    EXPECT_EQ(xmplayerPatternCells(song, pattern, cells.data(), cellCount), cellCount);
    xmplayer::patternCells(*reference, pattern, cppCells.data(), cellCount);
    EXPECT_EQ(std::memcmp(cells.data(), cppCells.data(), cells.size() * sizeof cells[0]), 0);

    XmplayerPlayer* player = nullptr;
    ASSERT_EQ(xmplayerCreatePlayer(song, rate, xmplayerRulesOwn, &player, nullptr),
              xmplayerStatusOk);
    xmplayer::Player* cppPlayer = xmplayer::createPlayer(*reference, rate, xmplayer::RuleSet::Own);
    ASSERT_EQ(xmplayerSeekToOrder(player, 1, 8, nullptr), xmplayerStatusOk);
    ASSERT_TRUE(xmplayer::seekToOrder(*cppPlayer, 1, 8));
    xmplayerSetUnheardChannels(player, 2);
    xmplayer::setUnheardChannels(*cppPlayer, 2);
    std::vector<int16_t> got(2 * rate);
    std::vector<int16_t> expected(got.size());
    xmplayerRenderFrames(player, got.data(), rate);
    xmplayer::renderFrames(*cppPlayer, expected.data(), rate);
    EXPECT_TRUE(got == expected) << "after a seek, one channel unheard";

    XmplayerPosition at{};
    ASSERT_EQ(xmplayerRenderedPosition(player, &at, nullptr), xmplayerStatusOk);
    const xmplayer::Position cppAt = xmplayer::renderedPosition(*cppPlayer);
    EXPECT_EQ(at.order, cppAt.order);
    EXPECT_EQ(at.row, cppAt.row);
    EXPECT_EQ(at.frames, cppAt.frames);
    EXPECT_EQ(at.milliseconds, cppAt.milliseconds);
    std::vector<XmplayerChannelView> views(4);
    std::vector<xmplayer::ChannelView> cppViews(4);
    EXPECT_EQ(xmplayerViewChannels(player, views.data(), 4),
              xmplayer::viewChannels(*cppPlayer, cppViews.data(), 4));
    for (std::size_t c = 0; c < views.size(); ++c) {
        EXPECT_EQ(views[c].instrument, cppViews[c].instrument) << c;
        EXPECT_EQ(views[c].volume, cppViews[c].volume) << c;
    }

    // A pass limit ends the song: the end is reached by the largest time.
    xmplayerSetPassLimit(player, 1);
    ASSERT_EQ(xmplayerSeekToTime(player, INT64_MAX, nullptr), xmplayerStatusOk);
    ASSERT_EQ(xmplayerRenderedPosition(player, &at, nullptr), xmplayerStatusOk);
    EXPECT_EQ(at.frames, duration.frames);
    EXPECT_EQ(xmplayerRenderFrames(player, got.data(), rate), 0);
    xmplayerDestroyPlayer(player);
    xmplayer::destroyPlayer(cppPlayer);
    xmplayerFreeSong(song);
    xmplayer::freeSong(reference);
}

TEST(CApi, ErrorsComeAsAStatusAndTheLibrarysSentence) {
    XmplayerError error{};
    XmplayerSong* song = reinterpret_cast<XmplayerSong*>(&error);  // must be reset to null
    EXPECT_EQ(xmplayerLoadFile("/no/such/song.xm", &song, &error), xmplayerStatusLoadFailed);
    EXPECT_EQ(song, nullptr);
    EXPECT_EQ(error.status, xmplayerStatusLoadFailed);
    EXPECT_STREQ(error.message, "No such file or directory");

    const std::vector<uint8_t> foreign(400, 'x');
    EXPECT_EQ(xmplayerLoadMemory(foreign.data(), foreign.size(), &song, &error),
              xmplayerStatusLoadFailed);
    EXPECT_STREQ(error.message, "not an XM file (it does not start with \"Extended Module: \")");
    EXPECT_EQ(xmplayerLoadMemory(nullptr, 10, &song, &error), xmplayerStatusInvalidArgument);
    EXPECT_EQ(xmplayerLoadStream(nullptr, "x", &song, &error), xmplayerStatusInvalidArgument);
    const XmplayerStreamCallbacks incomplete{};
    EXPECT_EQ(xmplayerLoadStream(&incomplete, "x", &song, &error), xmplayerStatusLoadFailed);
    EXPECT_STREQ(error.message, "the stream callbacks are incomplete");
    EXPECT_EQ(xmplayerLoadFile(demoSong().string().c_str(), nullptr, &error),
              xmplayerStatusInvalidArgument);
    // Failing without an error record to fill.
    EXPECT_EQ(xmplayerLoadFile("/no/such/song.xm", &song, nullptr), xmplayerStatusLoadFailed);

    ASSERT_EQ(xmplayerLoadFile(demoSong().string().c_str(), &song, &error), xmplayerStatusOk);
    XmplayerPlayer* player = nullptr;
    for (const int32_t badRate : {0, xmplayerMinRate - 1, xmplayerMaxRate + 1}) {
        EXPECT_EQ(xmplayerCreatePlayer(song, badRate, xmplayerRulesFt2, &player, &error),
                  xmplayerStatusInvalidArgument);
        EXPECT_EQ(player, nullptr);
        EXPECT_EQ(std::string(error.message),
                  "the rate " + std::to_string(badRate) + " Hz is outside 1000 to 384000 Hz");
        XmplayerDuration duration{};
        EXPECT_EQ(xmplayerMeasureSong(song, badRate, xmplayerRulesFt2, &duration, &error),
                  xmplayerStatusInvalidArgument);
    }
    EXPECT_EQ(xmplayerCreatePlayer(nullptr, rate, xmplayerRulesFt2, &player, &error),
              xmplayerStatusInvalidArgument);
    EXPECT_STREQ(error.message, "no song given");

    ASSERT_EQ(xmplayerCreatePlayer(song, rate, xmplayerRulesFt2, &player, &error),
              xmplayerStatusOk);
    const struct {
        int32_t order;
        int32_t row;
        const char* message;
    } refusals[] = {
        {40, 0, "order 40 is not in the order list (8 entries)"},
        {0, 64, "order 0 has rows 0 to 63, not 64"},
    };
    for (const auto& refusal : refusals) {
        EXPECT_EQ(xmplayerSeekToOrder(player, refusal.order, refusal.row, &error),
                  xmplayerStatusRefused);
        EXPECT_STREQ(error.message, refusal.message);
    }
    EXPECT_EQ(xmplayerSeekToTime(player, INT64_MAX, &error), xmplayerStatusRefused);
    EXPECT_NE(std::string(error.message).find("no pass limit"), std::string::npos) << error.message;
    EXPECT_EQ(xmplayerRenderedPosition(nullptr, nullptr, &error), xmplayerStatusInvalidArgument);
    EXPECT_EQ(xmplayerRenderFrames(nullptr, nullptr, 10), 0);
    EXPECT_EQ(xmplayerViewChannels(nullptr, nullptr, 4), 0);
    EXPECT_STREQ(xmplayerStatusText(xmplayerStatusRefused), "refused");
    xmplayerDestroyPlayer(player);
    xmplayerFreeSong(song);
    xmplayerDestroyPlayer(nullptr);
    xmplayerFreeSong(nullptr);
}

TEST(CApi, SaysItsVersion) {
    EXPECT_EQ(xmplayerVersion(), XMPLAYER_VERSION);
    char text[32];
    std::snprintf(text, sizeof text, "%d.%d.%d", XMPLAYER_VERSION_MAJOR, XMPLAYER_VERSION_MINOR,
                  XMPLAYER_VERSION_PATCH);
    EXPECT_STREQ(xmplayerVersionText(), text);
    EXPECT_STREQ(xmplayerVersionText(), PROJECT_VERSION);
}

}  // namespace
