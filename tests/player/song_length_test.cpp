// The length of one pass through a song, on songs written for it (a jump
// back, a pattern loop, a break into a row already played, a restart
// position, speed changes before and inside the loop) under both rule sets
// and on the demo's song, and the pass limit of the pull API that follows
// from it.
#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "generators/xm_writer.h"
#include "player/player.h"

namespace {

// At 125 BPM and 44100 Hz a tick is 882 frames, 20 ms.
constexpr int64_t tickMilliseconds = 20;

struct Effect {
    int order;  // the pattern of that order (patterns are played in order)
    int row;
    xm::Effect effect;
    uint8_t param;
};

struct LengthCase {
    const char* name;
    int orders;
    int restart;
    std::vector<Effect> effects;
    int64_t ticks;           // one pass
    int64_t loopStartTicks;  // where the row it comes back to first played
    int loopOrder;
    int loopRow;
    xmplayer::RuleSet rules = xmplayer::RuleSet::Ft2;
};

constexpr auto speedTempo = xm::Effect::SpeedTempo;
constexpr uint8_t loopAt(int count) {
    return static_cast<uint8_t>(0x60 | count);
}

// Orders of 16-row patterns at speed 6, one note so that the song is heard.
std::filesystem::path writeSong(const LengthCase& song) {
    xm::Module module;
    module.channels = 2;
    module.restartPosition = song.restart;
    for (int p = 0; p < song.orders; ++p) {
        module.orders.push_back(static_cast<uint8_t>(p));
        module.patterns.push_back(xm::makePattern(16, module.channels));
    }
    for (const Effect& effect : song.effects) {
        xm::Cell& cell = xm::cellAt(module.patterns[effect.order], module.channels, effect.row, 1);
        cell.effect = static_cast<uint8_t>(effect.effect);
        cell.param = effect.param;
    }
    xm::Instrument instrument;
    xm::Sample sample;
    sample.values.assign(64, 1000);
    sample.loop = xm::LoopKind::Forward;
    sample.loopLength = 64;
    instrument.samples.push_back(sample);
    module.instruments.push_back(instrument);
    xm::cellAt(module.patterns[0], module.channels, 0, 0) = {49, 1, 0, 0, 0};
    const auto path =
        std::filesystem::temp_directory_path() /
        (std::string("song_length_") + song.name + "_" + std::to_string(::getpid()) + ".xm");
    const std::vector<uint8_t> bytes = xm::writeModule(module);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path;
}

TEST(SongLength, OnePassEndsWhereTheSongComesBackToAPlayedRow) {
    const auto extended = xm::Effect::Extended;
    const LengthCase cases[] = {
        {"plain", 2, 0, {}, 32 * 6, 0, 0, 0},
        {"restart", 3, 1, {}, 48 * 6, 16 * 6, 1, 0},
        // B00 on order 1's row 7: order 2 never plays.
        {"jumpBack", 3, 0, {{1, 7, xm::Effect::PositionJump, 0}}, 24 * 6, 0, 0, 0},
        // Rows 4 to 7 three times: eight rows more each pass. The repetitions
        // belong to the pass; the loop's row starts the next pattern, here
        // order 0 again, under FastTracker 2's rules, and row 0 does under
        // the player's own.
        {"patternLoop",
         1,
         0,
         {{0, 4, extended, loopAt(0)}, {0, 7, extended, loopAt(2)}},
         24 * 6,
         4 * 6,
         0,
         4},
        {"patternLoopOwnRules",
         1,
         0,
         {{0, 4, extended, loopAt(0)}, {0, 7, extended, loopAt(2)}},
         24 * 6,
         0,
         0,
         0,
         xmplayer::RuleSet::Own},
        // D08 at the last order's row 3 breaks into order 0's row 8.
        {"breakIntoPlayedRow", 2, 0, {{1, 3, xm::Effect::PatternBreak, 0x08}}, 20 * 6, 8 * 6, 0, 8},
        // Speed 3 from order 0's row 8 on, before the loop to order 1.
        {"speedBeforeLoop", 3, 1, {{0, 8, speedTempo, 3}}, 8 * 6 + 40 * 3, 8 * 6 + 8 * 3, 1, 0},
        // As before, but order 2 sets speed 6 on its first row: order 1 plays
        // at speed 3 once and at 6 after. The pass ends where the song comes
        // back to order 1's first row, whatever its speed, as other players
        // measure it.
        {"speedInsideLoop",
         3,
         1,
         {{0, 8, speedTempo, 3}, {2, 0, speedTempo, 6}},
         72 + 48 + 96,
         72,
         1,
         0},
    };
    for (const LengthCase& song : cases) {
        const auto path = writeSong(song);
        xmplayer::Song* loaded = xmplayer::loadSongFile(path.string().c_str());
        std::filesystem::remove(path);
        ASSERT_NE(loaded, nullptr) << song.name;
        const xmplayer::SongDuration duration = xmplayer::measureSong(*loaded, 44100, song.rules);
        EXPECT_TRUE(duration.comesBack) << song.name;
        EXPECT_EQ(duration.milliseconds, song.ticks * tickMilliseconds) << song.name;
        EXPECT_EQ(duration.loopStartMilliseconds, song.loopStartTicks * tickMilliseconds)
            << song.name;
        EXPECT_EQ(duration.loopOrder, song.loopOrder) << song.name;
        EXPECT_EQ(duration.loopRow, song.loopRow) << song.name;

        // Two passes through the pull API: the first, then the loop once more.
        xmplayer::Player* player = xmplayer::createPlayer(*loaded, 44100, song.rules);
        xmplayer::setPassLimit(*player, 2);
        std::vector<int16_t> frames(2 * 4096);
        int64_t total = 0;
        for (int32_t got = 1; got > 0; total += got) {
            got = xmplayer::renderFrames(*player, frames.data(), 4096);
        }
        const int64_t loopTicks = song.ticks - song.loopStartTicks;
        EXPECT_EQ(total, (song.ticks + loopTicks) * 882) << song.name;
        EXPECT_EQ(xmplayer::renderedPosition(*player).pass, 1) << song.name;
        xmplayer::destroyPlayer(player);
        xmplayer::freeSong(loaded);
    }
}

// The demo's song, whose generator planned 55 s from the start and then a
// loop from the groove at order 1: figures that the generator's own row walk
// gave before it measured through the player.
TEST(SongLength, TheDemoSongLastsWhatItsGeneratorPlannedFor) {
    const auto path = std::filesystem::path(PROJECT_SOURCE_DIR) / "assets" / "song.xm";
    xmplayer::Song* song = xmplayer::loadSongFile(path.string().c_str());
    ASSERT_NE(song, nullptr);
    const xmplayer::SongDuration duration = xmplayer::measureSong(*song);
    xmplayer::freeSong(song);

    EXPECT_TRUE(duration.comesBack);
    EXPECT_EQ(duration.loopOrder, 1);
    EXPECT_EQ(duration.loopRow, 0);
    EXPECT_EQ(duration.milliseconds, 54867);
    EXPECT_EQ(duration.loopStartMilliseconds, 7680);
}

}  // namespace
