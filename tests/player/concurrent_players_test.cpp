// Players at once: four different songs on four threads, and two players of
// one shared song, each giving exactly what a lone player of its song gives.
// Run under ThreadSanitizer too (label threads).
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "player/player.h"
#include "tests/corpus.h"

namespace {

constexpr int32_t rate = 44100;
constexpr int32_t frames = 6 * rate;
constexpr int32_t pieceFrames = 1000;

std::vector<int16_t> render(const xmplayer::Song& song) {
    xmplayer::Player* player = xmplayer::createPlayer(song, rate);
    std::vector<int16_t> values(2 * static_cast<std::size_t>(frames));
    if (player == nullptr) {
        return {};
    }
    for (int32_t done = 0; done < frames; done += pieceFrames) {
        xmplayer::renderFrames(*player, values.data() + 2 * static_cast<std::size_t>(done),
                               std::min(pieceFrames, frames - done));
    }
    xmplayer::destroyPlayer(player);
    return values;
}

// Four songs, the demo's own among them, so that the test runs without the
// corpus too (then on copies of one song).
std::vector<std::filesystem::path> fourSongs() {
    std::vector<std::filesystem::path> songs = corpusFiles("songs");
    songs.resize(std::min<std::size_t>(songs.size(), 3));
    while (songs.size() < 4) {
        songs.push_back(std::filesystem::path(PROJECT_SOURCE_DIR) / "assets" / "song.xm");
    }
    return songs;
}

TEST(ConcurrentPlayers, EachPlayerGivesWhatItGivesAlone) {
    const std::vector<std::filesystem::path> paths = fourSongs();
    std::vector<xmplayer::Song*> songs;
    for (const auto& path : paths) {
        songs.push_back(xmplayer::loadSongFile(path.string().c_str()));
        ASSERT_NE(songs.back(), nullptr) << path;
    }
    std::vector<std::vector<int16_t>> alone;
    for (const xmplayer::Song* song : songs) {
        alone.push_back(render(*song));
    }

    // Four songs on four threads, and two more threads sharing the first song.
    std::vector<std::vector<int16_t>> together(songs.size() + 2);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < together.size(); ++t) {
        const xmplayer::Song* song = songs[t < songs.size() ? t : 0];
        threads.emplace_back([&together, t, song] { together[t] = render(*song); });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (std::size_t t = 0; t < together.size(); ++t) {
        const std::size_t expected = t < songs.size() ? t : 0;
        EXPECT_TRUE(together[t] == alone[expected])
            << "player " << t << " of " << paths[expected] << " differs from its lone render";
    }
    for (xmplayer::Song* song : songs) {
        xmplayer::freeSong(song);
    }
}

}  // namespace
