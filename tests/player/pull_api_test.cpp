// The public pull API: frames come out the same whatever the pieces they are
// asked for in, as floats or as 16-bit values, again after a restart and from
// a second player of the same song; the position follows what was rendered.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "player/player.h"
#include "tests/corpus.h"

namespace {

constexpr int32_t rate = 44100;

struct SongRelease {
    void operator()(xmplayer::Song* song) const { xmplayer::freeSong(song); }
};
struct PlayerRelease {
    void operator()(xmplayer::Player* player) const { xmplayer::destroyPlayer(player); }
};
using SongHandle = std::unique_ptr<xmplayer::Song, SongRelease>;
using PlayerHandle = std::unique_ptr<xmplayer::Player, PlayerRelease>;

std::filesystem::path demoSong() {
    return std::filesystem::path(PROJECT_SOURCE_DIR) / "assets" / "song.xm";
}

SongHandle load(const std::filesystem::path& path) {
    std::string reason;
    SongHandle song(xmplayer::loadSongFile(path.string().c_str(), &reason));
    EXPECT_NE(song, nullptr) << path << ": " << reason;
    return song;
}

PlayerHandle playerOf(const xmplayer::Song& song) {
    PlayerHandle player(xmplayer::createPlayer(song, rate));
    EXPECT_NE(player, nullptr);
    return player;
}

std::vector<int16_t> renderAtOnce(xmplayer::Player& player, int32_t frames) {
    std::vector<int16_t> values(2 * static_cast<std::size_t>(frames));
    xmplayer::renderFrames(player, values.data(), frames);
    return values;
}

// The demo's song and a few corpus songs with ramps, loops and effects.
std::vector<std::filesystem::path> songsToCheck() {
    std::vector<std::filesystem::path> songs{demoSong()};
    for (const auto& path : corpusAndDemoSongs()) {
        const std::string name = path.filename().string();
        if (name == "tekilla_groove.xm" || name == "ramping.xm" || name == "effect-memory.xm") {
            songs.push_back(path);
        }
    }
    return songs;
}

TEST(PullApi, PiecesOfAnySizeGiveTheFramesOfOneCall) {
    constexpr int32_t frames = 5 * rate;
    std::mt19937 random(20261207);
    // 1 frame to several blocks (a block is 884 frames at this rate).
    std::uniform_int_distribution<int32_t> pieceSize(1, 3000);
    for (const auto& path : songsToCheck()) {
        const SongHandle song = load(path);
        ASSERT_NE(song, nullptr);
        const PlayerHandle whole = playerOf(*song);
        const std::vector<int16_t> expected = renderAtOnce(*whole, frames);

        const PlayerHandle pieces = playerOf(*song);
        std::vector<int16_t> got(expected.size());
        for (int32_t done = 0; done < frames;) {
            const int32_t count = std::min(pieceSize(random), frames - done);
            xmplayer::renderFrames(*pieces, got.data() + 2 * static_cast<std::size_t>(done), count);
            done += count;
        }
        EXPECT_TRUE(got == expected) << path;
    }
}

TEST(PullApi, FloatFramesConvertToTheSixteenBitFrames) {
    constexpr int32_t frames = 4 * rate;
    for (const auto& path : songsToCheck()) {
        const SongHandle song = load(path);
        ASSERT_NE(song, nullptr);
        const std::vector<int16_t> expected = renderAtOnce(*playerOf(*song), frames);
        const PlayerHandle player = playerOf(*song);
        std::vector<float> floats(expected.size());
        // Pieces of a prime size, so that they cross the blocks everywhere.
        constexpr int32_t piece = 997;
        for (int32_t done = 0; done < frames; done += piece) {
            xmplayer::renderFloatFrames(*player, floats.data() + 2 * static_cast<std::size_t>(done),
                                        std::min(piece, frames - done));
        }
        int32_t mismatches = 0;
        bool clipped = false;
        for (std::size_t i = 0; i < floats.size(); ++i) {
            // The documented rule: round half to even of value x 32768, clamped.
            const double scaled = std::nearbyint(static_cast<double>(floats[i]) * 32768.0);
            clipped = clipped || std::fabs(scaled) > 32767.0;
            const auto value = static_cast<int16_t>(std::clamp(scaled, -32768.0, 32767.0));
            mismatches += value != expected[i] ? 1 : 0;
        }
        EXPECT_EQ(mismatches, 0) << path;
        EXPECT_LE(*std::max_element(floats.begin(), floats.end()), 2.0f) << "full scale is 1.0";
    }
}

// The second playback of a song sounds as the first: nothing a playback does
// (finetunes set by effects, effect memories, the global volume) stays in the
// song.
TEST(PullApi, RestartAndASecondPlayerRepeatTheFirstPlayback) {
    constexpr int32_t frames = 20 * rate;
    for (const auto& path : songsToCheck()) {
        const SongHandle song = load(path);
        ASSERT_NE(song, nullptr);
        const PlayerHandle player = playerOf(*song);
        const std::vector<int16_t> first = renderAtOnce(*player, frames);
        xmplayer::restartPlayer(*player);
        EXPECT_EQ(xmplayer::renderedPosition(*player).milliseconds, 0);
        EXPECT_TRUE(renderAtOnce(*player, frames) == first) << path << " after a restart";
        EXPECT_TRUE(renderAtOnce(*playerOf(*song), frames) == first) << path << ", second player";
    }
}

// The position of the last frame rendered, frame by frame through a pass of
// the demo's song: order and row move on only forwards within a pass, rows
// change at most once per tick, and the time is the frames' own.
TEST(PullApi, ThePositionFollowsTheRenderedFrames) {
    const SongHandle song = load(demoSong());
    ASSERT_NE(song, nullptr);
    const PlayerHandle player = playerOf(*song);
    const xmplayer::Position start = xmplayer::renderedPosition(*player);
    EXPECT_EQ(start.order, 0);
    EXPECT_EQ(start.row, 0);
    EXPECT_EQ(start.milliseconds, 0);

    // Speed 6 at 125 BPM: a row is 6 x 882 frames; rows 0..63 of order 0.
    const xmplayer::SongSummary summary = xmplayer::describeSong(*song);
    ASSERT_EQ(summary.tempo, 125);
    const int32_t rowFrames = summary.speed * 882;
    std::vector<int16_t> frame(2);
    int64_t rendered = 0;
    for (int32_t row = 0; row < 64; ++row) {
        for (int32_t f = 0; f < rowFrames; ++f) {
            xmplayer::renderFrames(*player, frame.data(), 1);
            ++rendered;
            const xmplayer::Position at = xmplayer::renderedPosition(*player);
            ASSERT_EQ(at.order, 0);
            ASSERT_EQ(at.row, row) << "frame " << rendered;
            ASSERT_EQ(at.milliseconds, rendered * 1000 / rate);
        }
    }
    xmplayer::renderFrames(*player, frame.data(), 1);
    EXPECT_EQ(xmplayer::renderedPosition(*player).order, 1);
    EXPECT_EQ(xmplayer::renderedPosition(*player).row, 0);
}

// Channels heard one at a time add up to the whole mix, and a channel left
// out plays on unheard: heard again, the frames are the whole mix's again.
TEST(PullApi, UnheardChannelsPlayOnAndAddUpToTheMix) {
    constexpr int32_t frames = 3 * rate;
    const SongHandle song = load(demoSong());
    ASSERT_NE(song, nullptr);
    std::vector<float> whole(2 * static_cast<std::size_t>(frames));
    xmplayer::renderFloatFrames(*playerOf(*song), whole.data(), frames);

    const int32_t channels = xmplayer::describeSong(*song).channels;
    std::vector<double> sum(whole.size(), 0.0);
    std::vector<float> alone(whole.size());
    for (int32_t c = 0; c < channels; ++c) {
        const PlayerHandle player = playerOf(*song);
        xmplayer::setUnheardChannels(*player, ~(uint32_t{1} << c));
        xmplayer::renderFloatFrames(*player, alone.data(), frames);
        for (std::size_t i = 0; i < alone.size(); ++i) {
            sum[i] += alone[i];
        }
    }
    double largestDifference = 0.0;
    for (std::size_t i = 0; i < whole.size(); ++i) {
        largestDifference = std::max(largestDifference, std::fabs(sum[i] - whole[i]));
    }
    // The float sums of the whole mix round at every voice added.
    EXPECT_LT(largestDifference, 1e-5);

    const PlayerHandle player = playerOf(*song);
    xmplayer::setUnheardChannels(*player, ~uint32_t{0});
    std::vector<float> silent(whole.size() / 2);
    xmplayer::renderFloatFrames(*player, silent.data(), frames / 2);
    EXPECT_TRUE(std::all_of(silent.begin(), silent.end(), [](float v) { return v == 0.0f; }));
    xmplayer::setUnheardChannels(*player, 0);
    std::vector<float> rest(whole.size() - silent.size());
    xmplayer::renderFloatFrames(*player, rest.data(), frames - frames / 2);
    // From the next 20 ms block on, which at this rate is 884 frames.
    constexpr std::size_t blockValues = 2 * 884;
    EXPECT_TRUE(std::equal(rest.begin() + blockValues, rest.end(),
                           whole.begin() + silent.size() + blockValues));

    std::vector<xmplayer::ChannelView> views(32);
    EXPECT_EQ(xmplayer::viewChannels(*player, views.data(), 32), channels);
    EXPECT_TRUE(std::any_of(views.begin(), views.begin() + channels, [](const auto& view) {
        return view.instrument > 0 && view.volume > 0.0f;
    })) << "the song plays something";
}

TEST(PullApi, RefusesWhatItCannotPlay) {
    const SongHandle song = load(demoSong());
    ASSERT_NE(song, nullptr);
    for (const int32_t badRate :
         {0, -44100, xmplayer::minOutputRate - 1, xmplayer::maxOutputRate + 1}) {
        EXPECT_EQ(xmplayer::createPlayer(*song, badRate), nullptr) << badRate;
    }
    std::string reason;
    EXPECT_EQ(xmplayer::loadSongFile("/no/such/song.xm", &reason), nullptr);
    EXPECT_EQ(reason, "No such file or directory");
    const xmplayer::StreamCallbacks incomplete{};
    EXPECT_EQ(xmplayer::loadSong(incomplete, "song.xm", nullptr, &reason), nullptr);
    EXPECT_EQ(reason, "the stream callbacks are incomplete");
}

}  // namespace
