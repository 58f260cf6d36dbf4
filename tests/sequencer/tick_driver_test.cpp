// The tick driver on songs built in memory: row ticks, speed, pattern delay,
// order advance, restart, jumps and breaks, and songs beyond the table's limits.
#include <gtest/gtest.h>

#include <vector>

#include "player/sequencer/channel.h"
#include "player/sequencer/row_processing.h"
#include "tests/sequencer/song_builder.h"

using namespace xmplayer;

namespace {

// Every row r of every pattern p sets channel 0's volume to a value naming the
// row (Cxx), so the volume tells which row the last row tick processed.
int32_t rowMark(int32_t pattern, int32_t row) {
    return pattern * 64 + row + 1;
}

class TickDriver : public ::testing::Test {
  protected:
    void build(SongShape shape) {
        song = buildSong(shape);
        for (int32_t p = 0; p < shape.patterns; ++p) {
            for (int32_t r = 0; r < song->patterns[p].rowCount; ++r) {
                cellAt(song, p, r, 0).effect = static_cast<uint8_t>(Effect::SetVolume);
                cellAt(song, p, r, 0).effectParam = static_cast<uint8_t>(rowMark(p, r));
            }
        }
    }

    void TearDown() override { releaseBuiltSong(song); }

    // Runs `ticks` ticks and returns the calls (counted from 1) that were row
    // ticks, seen through the volume mark changing or the row being re-run.
    std::vector<int> rowTickCalls(int ticks) {
        std::vector<int> calls;
        for (int call = 1; call <= ticks; ++call) {
            play.channel(0).volume = -1;
            play.ticks(1);
            if (play.channel(0).volume != -1) {
                calls.push_back(call);
            }
        }
        return calls;
    }

    // Plays until the next row tick and returns the mark it set.
    int32_t nextRowMark() {
        for (int guard = 0; guard < 1000; ++guard) {
            play.channel(0).volume = -1;
            play.ticks(1);
            if (play.channel(0).volume != -1) {
                return play.channel(0).volume;
            }
        }
        return -1;
    }

    Sequencer& sequencer() { return play.sequencer(); }

    Song* song = nullptr;
    SongPlayback play;
};

TEST_F(TickDriver, SpeedSixGivesRowTicksOnCalls1And7And13) {
    build({.channels = 1, .patterns = 1, .rows = 64});
    play.start(song);
    EXPECT_EQ(rowTickCalls(13), (std::vector<int>{1, 7, 13}));
    EXPECT_EQ(play.channel(0).volume, rowMark(0, 2));
    EXPECT_EQ(sequencer().row, 2);
}

TEST_F(TickDriver, SpeedZeroMakesEveryTickARowTick) {
    build({.channels = 2, .patterns = 1, .rows = 64});
    setCell(song, 0, 0, 1, cell(0, 0, 0, Effect::SpeedTempo, 0));
    play.start(song);
    EXPECT_EQ(rowTickCalls(4), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(sequencer().speed, 0);
    EXPECT_EQ(sequencer().tick, 0);
    EXPECT_EQ(sequencer().row, 3);
}

TEST_F(TickDriver, PatternDelayLengthensOneRowBySpeedPerStep) {
    build({.channels = 2, .patterns = 1, .rows = 64});
    setCell(song, 0, 0, 1, cell(0, 0, 0, Effect::Extended, 0xE2));
    play.start(song);
    EXPECT_EQ(rowTickCalls(25), (std::vector<int>{1, 19, 25}));
    EXPECT_EQ(sequencer().patternDelayTicks, 0);
}

TEST_F(TickDriver, LastOrderWrapsToTheRestartPosition) {
    build({.channels = 1, .patterns = 3, .rows = 2, .speed = 1});
    song->restartPosition = 1;
    play.start(song);
    std::vector<int32_t> marks;
    for (int i = 0; i < 9; ++i) {
        marks.push_back(nextRowMark());
    }
    EXPECT_EQ(marks, (std::vector<int32_t>{rowMark(0, 0), rowMark(0, 1), rowMark(1, 0),
                                           rowMark(1, 1), rowMark(2, 0), rowMark(2, 1),
                                           rowMark(1, 0), rowMark(1, 1), rowMark(2, 0)}));
}

TEST_F(TickDriver, RestartPositionBeyondTheSongRestartsAtTheFirstOrder) {
    build({.channels = 1, .patterns = 2, .rows = 1, .speed = 1});
    song->restartPosition = 2;
    play.start(song);
    nextRowMark();
    nextRowMark();
    EXPECT_EQ(nextRowMark(), rowMark(0, 0));
}

TEST_F(TickDriver, ThirtyTwoRowPatternAdvancesAfterRow31) {
    build({.channels = 1, .patterns = 2, .rows = 32, .speed = 1});
    play.start(song);
    for (int r = 0; r < 32; ++r) {
        EXPECT_EQ(nextRowMark(), rowMark(0, r));
    }
    EXPECT_EQ(nextRowMark(), rowMark(1, 0));
    EXPECT_EQ(sequencer().orderPos, 1);
}

TEST_F(TickDriver, JumpOnTheLastRowIsNotUndoneByTheOrdinaryAdvance) {
    build({.channels = 2, .patterns = 3, .rows = 4, .speed = 1});
    setCell(song, 0, 3, 1, cell(0, 0, 0, Effect::PositionJump, 2));
    play.start(song);
    for (int r = 0; r < 4; ++r) {
        nextRowMark();
    }
    EXPECT_EQ(nextRowMark(), rowMark(2, 0));
}

TEST_F(TickDriver, BreakBeyondTheLandingPatternStartsItAtRowZero) {
    build({.channels = 2, .patterns = 2, .rows = 64, .speed = 1});
    resizePattern(song, 1, 16);
    for (int r = 0; r < 16; ++r) {
        cellAt(song, 1, r, 0) =
            cell(0, 0, 0, Effect::SetVolume, static_cast<uint8_t>(rowMark(1, r)));
    }
    setCell(song, 0, 0, 1,
            cell(0, 0, 0, Effect::PatternBreak, 0x20));  // row 20 of a 16-row pattern
    play.start(song);
    nextRowMark();
    EXPECT_EQ(nextRowMark(), rowMark(1, 0));
    EXPECT_EQ(nextRowMark(), rowMark(1, 1));
}

TEST_F(TickDriver, ChannelsBeyondTheTableAreNotPlayed) {
    build({.channels = 40, .patterns = 1, .rows = 4, .speed = 1});
    // The row stride stays 40 cells: channel 31 of row 1 is read correctly.
    cellAt(song, 0, 1, 31) = cell(0, 0, 0, Effect::SetVolume, 33);
    cellAt(song, 0, 1, 39) = cell(0, 0, 0, Effect::PositionJump, 0);
    play.start(song);
    nextRowMark();
    EXPECT_EQ(nextRowMark(), rowMark(0, 1));
    EXPECT_EQ(play.channel(31).volume, 33);
    EXPECT_EQ(play.channel(31).voice, &play.mixer().voices[31]);
    EXPECT_EQ(nextRowMark(), rowMark(0, 2));  // the jump in track 39 is not played
}

TEST_F(TickDriver, OrdersNamingMissingPatternsPlaySilenceAndMoveOn) {
    build({.channels = 1, .patterns = 2, .rows = 1, .speed = 1});
    song->orders[1] = 200;   // no such pattern
    song->songLength = 300;  // beyond the order list; orders 2..255 name pattern 0
    play.start(song);
    EXPECT_EQ(rowTickCalls(3), (std::vector<int>{1, 3}));  // order 1 plays nothing
    EXPECT_EQ(sequencer().orderPos, 2);
    for (int tick = 0; tick < 600; ++tick) {
        play.ticks(1);
        ASSERT_GE(sequencer().orderPos, 0);
        ASSERT_LT(sequencer().orderPos, 256);
    }
}

}  // namespace
