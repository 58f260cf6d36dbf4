// Seeking is exact: after a seek to a time or to an order, the frames are
// those of a render from the start at that point, bit for bit, for every
// corpus song and the demo's; a seek that cannot be met moves nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <utility>
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
    EXPECT_FALSE(xmplayer::seekToOrder(*player, -1)) << "before the order list";
    EXPECT_FALSE(xmplayer::seekToOrder(*player, 0, 1000)) << "past the pattern";
    EXPECT_FALSE(xmplayer::seekToTime(*player, INT64_MAX)) << "no pass limit, no end to go to";
    EXPECT_EQ(xmplayer::renderedPosition(*player).frames, rate);
    expectFramesFrom(*player, reference, rate, "where the player stood");
    xmplayer::destroyPlayer(player);
    xmplayer::freeSong(song);
}

// The first order's row (within the pattern) that a pass never plays; order
// -1 when it plays them all. Every position on the way is one the song has.
std::pair<int32_t, int32_t> rowNeverPlayed(const xmplayer::Song& song, int64_t passFrames) {
    xmplayer::Player* player = xmplayer::createPlayer(song, rate);
    xmplayer::setUnheardChannels(*player, ~uint32_t{0});  // only the positions matter
    const int32_t orders = xmplayer::describeSong(song).songLength;
    std::vector<std::vector<bool>> played(static_cast<std::size_t>(orders));
    for (int32_t order = 0; order < orders; ++order) {
        played[order].resize(static_cast<std::size_t>(xmplayer::orderRows(song, order)));
    }
    // Pieces shorter than the shortest tick: every row is seen.
    constexpr int32_t piece = 64;
    std::vector<int16_t> frames(2 * piece);
    for (int64_t done = 0; done < passFrames; done += piece) {
        xmplayer::renderFrames(*player, frames.data(), piece);
        const xmplayer::Position at = xmplayer::renderedPosition(*player);
        if (at.order < 0 || at.order >= orders || at.row < 0 ||
            at.row >= static_cast<int32_t>(played[at.order].size())) {
            ADD_FAILURE() << "frame " << at.frames << " stands at order " << at.order << " row "
                          << at.row << ", which the song does not have";
            break;
        }
        played[at.order][at.row] = true;
    }
    xmplayer::destroyPlayer(player);
    for (int32_t order = 0; order < orders; ++order) {
        for (std::size_t row = 0; row < played[order].size(); ++row) {
            if (!played[order][row]) {
                return {order, static_cast<int32_t>(row)};
            }
        }
    }
    return {-1, 0};
}

// A refused seek to an order, which may have searched the whole song, puts
// the player back as it stood: the frames to come are those it would have
// given, wherever in a block it stood and whatever the block's channels
// heard.
TEST(Seeking, ARefusedSeekToAnOrderLeavesTheFramesToCome) {
    int32_t searched = 0;
    for (const auto& path : allSongs()) {
        const std::string name = path.filename().string();
        xmplayer::Song* song = xmplayer::loadSongFile(path.string().c_str());
        ASSERT_NE(song, nullptr) << path;
        const int64_t passFrames = xmplayer::measureSong(*song, rate).frames;
        if (passFrames > 600 * rate) {
            xmplayer::freeSong(song);
            continue;  // a song that does not come back within minutes
        }
        std::vector<std::pair<int32_t, int32_t>> refused{{255, 0}, {0, 5000}, {-3, 0}};
        const auto unplayed = rowNeverPlayed(*song, passFrames);
        if (unplayed.first >= 0) {
            refused.push_back(unplayed);
            ++searched;
        }
        // The first block boundary at or past the pass's end, and a frame
        // inside a block early on.
        constexpr int64_t block = 884;
        for (const int64_t stop : {(passFrames + block - 1) / block * block, 3 * block + 100}) {
            std::vector<xmplayer::Player*> players;
            std::vector<int16_t> before(2 * static_cast<std::size_t>(stop));
            for (int k = 0; k < 2; ++k) {
                players.push_back(xmplayer::createPlayer(*song, rate));
                xmplayer::renderFrames(*players[k], before.data(), static_cast<int32_t>(stop));
                // Heard from the next block on, with or without the seek.
                xmplayer::setUnheardChannels(*players[k], 1);
            }
            for (const auto& [order, row] : refused) {
                EXPECT_FALSE(xmplayer::seekToOrder(*players[1], order, row))
                    << name << " order " << order << " row " << row;
            }
            EXPECT_EQ(xmplayer::renderedPosition(*players[1]).frames, stop) << name;
            std::vector<int16_t> expected(4 * comparedFrames);
            std::vector<int16_t> got(expected.size());
            xmplayer::renderFrames(*players[0], expected.data(), 2 * comparedFrames);
            ASSERT_EQ(xmplayer::renderFrames(*players[1], got.data(), 2 * comparedFrames),
                      2 * comparedFrames);
            EXPECT_TRUE(got == expected) << name << " after a refused seek at frame " << stop;
            for (xmplayer::Player* player : players) {
                xmplayer::destroyPlayer(player);
            }
        }
        xmplayer::freeSong(song);
    }
    if (!corpusFiles("songs").empty()) {
        EXPECT_GT(searched, 0) << "no song has a row that it never plays";
    }
}

// Times before the start or past the end a pass limit sets are clamped to
// them, however far: the largest time is the way to the end.
TEST(Seeking, TimesBeyondTheEndGoToTheEnd) {
    const auto path = std::filesystem::path(PROJECT_SOURCE_DIR) / "assets" / "song.xm";
    xmplayer::Song* song = xmplayer::loadSongFile(path.string().c_str());
    ASSERT_NE(song, nullptr);
    const int64_t passFrames = xmplayer::measureSong(*song, rate).frames;
    xmplayer::Player* player = xmplayer::createPlayer(*song, rate);
    std::vector<int16_t> start(2 * comparedFrames);
    xmplayer::renderFrames(*player, start.data(), comparedFrames);
    xmplayer::setPassLimit(*player, 1);
    std::vector<int16_t> frames(2 * comparedFrames, 7);
    for (const int64_t milliseconds : {INT64_MAX, INT64_MAX / 44, int64_t{passFrames * 1000}}) {
        ASSERT_TRUE(xmplayer::seekToTime(*player, milliseconds)) << milliseconds;
        const xmplayer::Position at = xmplayer::renderedPosition(*player);
        EXPECT_EQ(at.frames, passFrames) << milliseconds;
        EXPECT_EQ(at.milliseconds, passFrames * 1000 / rate) << milliseconds;
        EXPECT_EQ(xmplayer::renderFrames(*player, frames.data(), comparedFrames), 0);
        EXPECT_TRUE(std::all_of(frames.begin(), frames.end(), [](int16_t v) { return v == 7; }))
            << "a render that ends early leaves the caller's frames";
    }
    ASSERT_TRUE(xmplayer::seekToTime(*player, INT64_MIN));
    EXPECT_EQ(xmplayer::renderedPosition(*player).frames, 0);
    expectFramesFrom(*player, start, 0, "from the start");
    xmplayer::destroyPlayer(player);
    xmplayer::freeSong(song);
}

}  // namespace
