#include "player/output/block_render.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "player/output/mixer.h"
#include "player/output/wave_output.h"
#include "tests/output/test_ring.h"
#include "tests/output/voice_fixture.h"

namespace {

// Every tick sets one steady voice to gain (tick number) / 255, so the level
// of the output tells which tick each frame belongs to.
struct TickLog {
    int ticks = 0;
    const Sample* tone = nullptr;
    int32_t tempoOnFirstTick = 0;
};
TickLog tickLog;

void levelTick(Song* song) {
    ++tickLog.ticks;
    if (tickLog.ticks == 1 && tickLog.tempoOnFirstTick != 0) {
        setTempo(song, tickLog.tempoOnFirstTick);
    }
    song->row = tickLog.ticks;
    song->orderPos = 0x300 + tickLog.ticks;
    settledVoice(0, *tickLog.tone, tickLog.ticks, tickLog.ticks);
}

float levelOfTick(int tick) {
    return static_cast<float>(1000.0 * static_cast<float>(tick / 255.0));
}

class BlockRenderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        resetMixer(44100);
        tickLog = TickLog{};
        tickLog.tone = &tone.sample;
        song.tickFunction = levelTick;
        setTempo(&song, 125);
        outputDevice.currentSong = &song;
    }
    void TearDown() override {
        outputDevice.currentSong = nullptr;
        resetMixer(44100);
    }

    TestSample tone{constantValues(64, 1000), ForwardLoop, 0, 64};
    Song song{};
};

TEST(RingSizes, FollowTheRate) {
    EXPECT_EQ(ringSizesForRate(44100).blockFrames, 884);
    EXPECT_EQ(ringSizesForRate(44100).ringFrames, 88400);
    EXPECT_EQ(ringSizesForRate(22050).blockFrames, 444);
    EXPECT_EQ(ringSizesForRate(22050).ringFrames, 44400);
    EXPECT_EQ(ringSizesForRate(48000).blockFrames, 960);
    EXPECT_EQ(ringSizesForRate(48000).ringFrames, 96000);
    for (const auto& [rate, rampLength] : {std::pair{44100, 128}, {22050, 64}, {48000, 139}}) {
        resetMixer(rate);
        EXPECT_EQ(mixerState.rampLength, rampLength) << rate;
        EXPECT_EQ(mixerState.rampReciprocal, static_cast<float>(1.0 / rampLength));
        EXPECT_EQ(mixerState.frameDuration, static_cast<float>(1.0 / rate));
    }
    resetMixer(44100);
    EXPECT_EQ(mixerState.voices[200].index, 200);
    EXPECT_EQ(mixerState.voices[200].stepInt, 1);
    EXPECT_EQ(mixerState.voices[200].sample, nullptr);
}

TEST(Tempo, TickIsTwoAndAHalfSecondsOverTheTempo) {
    resetMixer(44100);
    Song song{};
    for (int32_t bpm = 1; bpm <= 255; ++bpm) {
        setTempo(&song, bpm);
        ASSERT_EQ(song.framesPerTick, 44100 * 5 / (2 * bpm)) << bpm;
        ASSERT_EQ(song.tempo, bpm);
    }
    resetMixer(22050);
    setTempo(&song, 125);
    EXPECT_EQ(song.framesPerTick, 441);
    resetMixer(48000);
    setTempo(&song, 125);
    EXPECT_EQ(song.framesPerTick, 960);
    resetMixer(44100);
}

TEST(Tempo, OutOfRangeTempoStillGivesATickOfAtLeastOneFrame) {
    resetMixer(44100);
    Song song{};
    for (const int32_t bpm : {0, -1, -32768}) {
        setTempo(&song, bpm);
        EXPECT_EQ(song.framesPerTick, 110250) << bpm;
        EXPECT_EQ(song.tempo, bpm);
    }
    setTempo(&song, 1000000);
    EXPECT_EQ(song.framesPerTick, 1);
    setTempo(&song, 32767);
    EXPECT_EQ(song.framesPerTick, 3);
    mixerState.outputRate = 0;
    setTempo(&song, 125);
    EXPECT_EQ(song.framesPerTick, 1);
    setTempo(nullptr, 125);
    resetMixer(44100);
}

TEST_F(BlockRenderTest, TicksFallOnExactFramesAcrossBlocks) {
    TestRing ring(884, 3);
    ASSERT_EQ(song.framesPerTick, 882);
    renderBlock();
    // The first block: tick 1 whole, then the first 2 frames of tick 2.
    EXPECT_EQ(tickLog.ticks, 2);
    EXPECT_EQ(ring.left(0, 0), levelOfTick(1));
    EXPECT_EQ(ring.left(0, 881), levelOfTick(1));
    EXPECT_EQ(ring.left(0, 882), levelOfTick(2));
    EXPECT_EQ(ring.left(0, 883), levelOfTick(2));
    EXPECT_EQ(song.tickFramesLeft, 880);
    EXPECT_EQ(ring.positions[0].row, 2);
    EXPECT_EQ(ring.positions[0].orderPos, 0x02);
    EXPECT_EQ(outputDevice.nextBlock, 1);
    EXPECT_EQ(ring.pcmLeft(0, 0), 4);
    EXPECT_EQ(ring.pcmLeft(0, 883), 8);
    EXPECT_EQ(ring.pcmLeft(1, 0), 0x7777) << "only the block being rendered is written";

    renderBlock();
    // The second block finishes tick 2 in its first 880 frames.
    EXPECT_EQ(tickLog.ticks, 3);
    EXPECT_EQ(ring.left(1, 0), levelOfTick(2));
    EXPECT_EQ(ring.left(1, 879), levelOfTick(2));
    EXPECT_EQ(ring.left(1, 880), levelOfTick(3));
    EXPECT_EQ(song.tickFramesLeft, 882 - 4);
    EXPECT_EQ(ring.positions[1].row, 3);
    EXPECT_EQ(ring.pcmLeft(1, 880), 12);

    renderBlock();
    EXPECT_EQ(outputDevice.nextBlock, 0) << "back to the first block after the last";
}

TEST_F(BlockRenderTest, TempoSetByATickAppliesToThatTick) {
    TestRing ring(884, 2);
    tickLog.tempoOnFirstTick = 250;
    renderBlock();
    EXPECT_EQ(song.framesPerTick, 441);
    EXPECT_EQ(tickLog.ticks, 3);
    EXPECT_EQ(ring.left(0, 440), levelOfTick(1));
    EXPECT_EQ(ring.left(0, 441), levelOfTick(2));
    EXPECT_EQ(ring.left(0, 881), levelOfTick(2));
    EXPECT_EQ(ring.left(0, 882), levelOfTick(3));
}

TEST_F(BlockRenderTest, PlayTimeIsTruncatedPerChunk) {
    song.framesPerTick = 100000;
    for (const auto& [blockFrames, milliseconds] : {std::pair{882, 19}, {884, 20}}) {
        TestRing ring(blockFrames, 1);
        song.playTimeMs = 0;
        song.tickFramesLeft = 0;
        renderBlock();
        EXPECT_EQ(song.playTimeMs, milliseconds) << blockFrames;
        EXPECT_EQ(ring.positions[0].playTimeMs, milliseconds);
    }
    // Ticks of 2 frames: every chunk is 2 frames and adds 0.
    song.framesPerTick = 2;
    song.playTimeMs = 0;
    song.tickFramesLeft = 0;
    tickLog.ticks = -1000;  // keep the level tick from setting a tempo
    TestRing ring(884, 1);
    song.tickFunction = [](Song*) {};
    renderBlock();
    EXPECT_EQ(song.playTimeMs, 0);
}

TEST_F(BlockRenderTest, BlockWithoutASongIsSilentAndWithoutARingNothingIsWritten) {
    {
        TestRing ring(884, 2);
        settledVoice(0, tone.sample, 255, 255);
        outputDevice.currentSong = nullptr;
        ring.positions[0] = BlockPosition{5, 6, 7};
        renderBlock();
        EXPECT_EQ(ring.pcmLeft(0, 100), 0);
        EXPECT_EQ(ring.positions[0].playTimeMs, 0);
        EXPECT_EQ(outputDevice.nextBlock, 1);
    }
    outputDevice.currentSong = &song;
    outputDevice.nextBlock = 3;
    renderBlock();
    EXPECT_EQ(outputDevice.nextBlock, 0);
    EXPECT_EQ(tickLog.ticks, 0);
}

}  // namespace
