// Seeking is exact: after a seek to a time or to an order, the frames are
// those of a render from the start at that point, bit for bit, for every
// corpus song and the demo's; a seek that cannot be met moves nothing.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "player/player.h"
#include "tests/corpus.h"

namespace {

constexpr int32_t rate = 44100;
constexpr int32_t referenceSeconds = 30;
constexpr int32_t comparedFrames = 1500;

std::vector<std::filesystem::path> allSongs() {
    std::vector<std::filesystem::path> songs = corpusAndDemoSongs();
    const std::vector<std::filesystem::path> wild = corpusFiles("wild");
    songs.insert(songs.end(), wild.begin(), wild.end());
    return songs;
}

// Renders comparedFrames frames from where the player stands and compares
// them with the reference from `frame` on.
void expectFramesFrom(xmplayer::Player& player, const std::vector<int16_t>& reference,
                      int64_t frame, const std::string& what) {
    ASSERT_LE(2 * (frame + comparedFrames), static_cast<int64_t>(reference.size())) << what;
    std::vector<int16_t> got(2 * comparedFrames);
    ASSERT_EQ(xmplayer::renderFrames(player, got.data(), comparedFrames), comparedFrames);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), reference.begin() + 2 * frame)) << what;
}

TEST(Seeking, FramesAfterASeekAreThoseOfARenderFromTheStart) {
    std::mt19937 random(7);
    for (const auto& path : allSongs()) {
        const std::string name = path.filename().string();
        xmplayer::Song* song = xmplayer::loadSongFile(path.string().c_str());
        ASSERT_NE(song, nullptr) << path;
        xmplayer::Player* player = xmplayer::createPlayer(*song, rate);
        std::vector<int16_t> reference(2 * static_cast<std::size_t>(referenceSeconds) * rate);
        xmplayer::renderFrames(*player, reference.data(), referenceSeconds * rate);

        // Times forwards and backwards, within a block and across many.
        std::uniform_int_distribution<int64_t> time(0, (referenceSeconds - 1) * 1000);
        for (int k = 0; k < 6; ++k) {
            const int64_t milliseconds = time(random);
            ASSERT_TRUE(xmplayer::seekToTime(*player, milliseconds));
            const xmplayer::Position at = xmplayer::renderedPosition(*player);
            EXPECT_EQ(at.milliseconds, milliseconds) << name;
            expectFramesFrom(*player, reference, (milliseconds * rate + 999) / 1000,
                             name + " at " + std::to_string(milliseconds) + " ms");
        }

        // The first time each of the first orders plays, where it is early
        // enough to compare.
        const int32_t orders = std::min(xmplayer::describeSong(*song).songLength, 6);
        for (int32_t order = 0; order < orders; ++order) {
            if (!xmplayer::seekToOrder(*player, order)) {
                continue;  // an order the song never plays
            }
            const int64_t frame = xmplayer::renderedPosition(*player).frames;
            if (frame + comparedFrames > referenceSeconds * rate) {
                continue;
            }
            std::vector<int16_t> first(2);
            xmplayer::renderFrames(*player, first.data(), 1);
            const xmplayer::Position at = xmplayer::renderedPosition(*player);
            EXPECT_EQ(at.order, order) << name;
            EXPECT_EQ(at.row, 0) << name;
            ASSERT_TRUE(xmplayer::seekToTime(*player, 0));
            xmplayer::seekToOrder(*player, order);
            expectFramesFrom(*player, reference, frame,
                             name + " at order " + std::to_string(order));
        }
        xmplayer::destroyPlayer(player);
        xmplayer::freeSong(song);
    }
}

TEST(Seeking, ASeekThatCannotBeMetMovesNothing) {
    const auto path = std::filesystem::path(PROJECT_SOURCE_DIR) / "assets" / "song.xm";
    xmplayer::Song* song = xmplayer::loadSongFile(path.string().c_str());
    ASSERT_NE(song, nullptr);
    xmplayer::Player* player = xmplayer::createPlayer(*song, rate);
    std::vector<int16_t> reference(2 * 3 * rate);
    xmplayer::renderFrames(*player, reference.data(), 3 * rate);
    ASSERT_TRUE(xmplayer::seekToTime(*player, 1000));

    EXPECT_FALSE(xmplayer::seekToOrder(*player, 200)) << "past the order list";
    EXPECT_FALSE(xmplayer::seekToOrder(*player, 0, 1000)) << "past the pattern";
    xmplayer::setPassLimit(*player, 1);
    EXPECT_FALSE(xmplayer::seekToTime(*player, 60 * 60 * 1000)) << "past the end";
    EXPECT_EQ(xmplayer::renderedPosition(*player).frames, rate);
    expectFramesFrom(*player, reference, rate, "where the player stood");
    xmplayer::destroyPlayer(player);
    xmplayer::freeSong(song);
}

}  // namespace
