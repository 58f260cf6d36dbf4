// The wave-output driver against a device whose clock the test advances:
// ring sizes, the initial fill, the feeder following the play position, the
// position getters, starting, stopping and closing in every order a caller may
// use them, and the ring's blocks rendered in turn.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "player/output/wave_output.h"
#include "player/player.h"
#include "player/song/song_loading.h"
#include "tests/output/test_ring.h"
#include "tests/output/wave_output_fixture.h"

namespace xmplayer {

// Found by argument-dependent lookup, so beside BlockPosition itself.
static bool operator==(const BlockPosition& a, const BlockPosition& b) {
    return a.orderPos == b.orderPos && a.row == b.row && a.playTimeMs == b.playTimeMs;
}

static void PrintTo(const BlockPosition& position, std::ostream* out) {
    *out << "{order " << int{position.orderPos} << ", row " << int{position.row} << ", "
         << position.playTimeMs << " ms}";
}

}  // namespace xmplayer

using namespace xmplayer;

namespace {

BlockPosition heard(const OutputDevice& output) {
    return BlockPosition{static_cast<uint8_t>(getPlayingOrder(output)),
                         static_cast<uint8_t>(getPlayingRow(output)), getPlayingTimeMs(output)};
}

class WaveOutputTest : public ::testing::Test {
  protected:
    void SetUp() override {
        device_ = clockWaveDevice(&clock_);
        setWaveDevice(output_, &device_);
    }

    void TearDown() override {
        closeOutputDevice(output_);
        EXPECT_FALSE(clock_.polledWhileIdle.load()) << "the feeder polled an idle or closed device";
        setWaveDevice(output_, nullptr);
        for (Song* song : songs_) {
            freeSong(song);
        }
    }

    // A song released after the device has closed.
    Song* song(const TestSongShape& shape = {}) {
        songs_.push_back(makeTestSong(shape));
        return songs_.back();
    }

    BlockPosition heard() const { return ::heard(output_); }

    ClockDevice clock_;
    WaveDevice device_{};
    OutputDevice output_;
    std::vector<Song*> songs_;
};

struct RingCase {
    int32_t rate;
    int32_t blockFrames;
    int32_t ringFrames;
    int32_t rampLength;
};

class RingSizeTest : public WaveOutputTest, public ::testing::WithParamInterface<RingCase> {};

TEST_P(RingSizeTest, OpeningSizesTheRingAndTheRamps) {
    const RingCase expected = GetParam();
    EXPECT_EQ(ringSizesForRate(expected.rate).blockFrames, expected.blockFrames);
    EXPECT_EQ(ringSizesForRate(expected.rate).ringFrames, expected.ringFrames);
    ASSERT_TRUE(openOutputDevice(output_, expected.rate));
    EXPECT_EQ(clock_.openedRate.load(), expected.rate);
    EXPECT_EQ(output_.rate, expected.rate);
    EXPECT_EQ(output_.blockFrames, expected.blockFrames);
    EXPECT_EQ(output_.ringFrames, expected.ringFrames);
    EXPECT_EQ(ringBlockCount(output_), 100);
    ASSERT_TRUE(playSong(output_, song()));
    EXPECT_EQ(clock_.ringBytes.load(), static_cast<uint32_t>(expected.ringFrames) * 4);
    ASSERT_NE(output_.playback, nullptr);
    EXPECT_EQ(output_.playback->mixer.outputRate, expected.rate);
    EXPECT_EQ(output_.playback->mixer.rampLength, expected.rampLength);
}

INSTANTIATE_TEST_SUITE_P(Rates, RingSizeTest,
                         ::testing::Values(RingCase{44100, 884, 88400, 128},
                                           RingCase{22050, 444, 44400, 64},
                                           RingCase{48000, 960, 96000, 139}));

TEST_F(WaveOutputTest, OpeningIsRefusedWithoutADeviceOrAtABadRate) {
    clock_.refuseOpen.store(true);
    EXPECT_FALSE(openOutputDevice(output_, 44100));
    EXPECT_EQ(clock_.openCount.load(), 1);
    EXPECT_FALSE(playSong(output_, song()));
    clock_.refuseOpen.store(false);

    for (const int32_t rate : {0, -44100, minOutputRate - 1, maxOutputRate + 1}) {
        EXPECT_FALSE(openOutputDevice(output_, rate)) << rate;
    }
    EXPECT_EQ(clock_.openCount.load(), 1) << "a bad rate never reaches the device";
    setWaveDevice(output_, nullptr);
    EXPECT_FALSE(openOutputDevice(output_, 44100));
    OutputDevice fresh;
    EXPECT_FALSE(openOutputDevice(fresh, 44100)) << "a new output device has no wave device";
}

TEST_F(WaveOutputTest, PlayingRefusesWhatCannotPlay) {
    EXPECT_FALSE(playSong(output_, song())) << "nothing open";
    ASSERT_TRUE(openOutputDevice(output_, 44100));
    EXPECT_FALSE(playSong(output_, nullptr));
    EXPECT_EQ(output_.currentSong, nullptr);
    EXPECT_EQ(output_.playback, nullptr);
}

TEST_F(WaveOutputTest, TheWholeRingIsRenderedBeforeTheFirstFrameIsHeard) {
    ASSERT_TRUE(openOutputDevice(output_, 44100));
    Song* playing = song();
    ASSERT_TRUE(playSong(output_, playing));
    advanceClockTo(clock_, 0);
    // 88400 frames of 882-frame ticks: 101 ticks have run, the last with 682
    // frames still to go; row 16 at speed 6.
    ASSERT_NE(output_.playback, nullptr);
    EXPECT_EQ(output_.playback->tickFramesLeft, 101 * 882 - 88400);
    EXPECT_EQ(output_.playback->sequencer.row, 16);
    ExpectedPlayback expected({}, 884);
    EXPECT_EQ(output_.playback->playTimeMs, expected.after(88400).playTimeMs);
    EXPECT_EQ(output_.nextBlock, 0);

    // The note starts on the first frame and fades in over the ramp, so the
    // ring is silent only at its very start.
    std::lock_guard<std::mutex> hold(clock_.firstFillLock);
    ASSERT_EQ(clock_.firstFill.size(), 88400u * 2);
    EXPECT_EQ(clock_.firstFill[0], 0);
    int loudest = 0;
    for (int16_t value : clock_.firstFill) {
        loudest = std::max(loudest, std::abs(int{value}));
    }
    EXPECT_GT(loudest, 1000);
}

TEST_F(WaveOutputTest, GettersReportTheBlockBeingHeard) {
    Song* playing = song();
    EXPECT_EQ(heard(), BlockPosition{}) << "before any play";
    ASSERT_TRUE(openOutputDevice(output_, 44100));
    EXPECT_EQ(heard(), BlockPosition{}) << "open, not playing";
    ASSERT_TRUE(playSong(output_, playing));

    // Block 0 ends after one 882-frame tick (19 ms) and 2 frames of the next.
    EXPECT_EQ(heard(), (BlockPosition{0, 0, 19}));

    ExpectedPlayback expected({}, 884);
    for (const int32_t block : {1, 37, 99}) {
        advanceClockTo(clock_, uint64_t{884} * block + 100);
        EXPECT_EQ(heard(), expected.after(uint64_t{884} * (block + 1))) << block;
    }
    // Past the end of the ring the device plays block 0 again, which the
    // feeder has refilled with the music that follows block 99.
    advanceClockTo(clock_, 88400 + 5);
    EXPECT_EQ(heard(), expected.after(uint64_t{884} * 101));
    advanceClockTo(clock_, 88400 + 884 * 60);
    EXPECT_EQ(heard(), expected.after(uint64_t{884} * 161));

    stopSong(output_);
    EXPECT_EQ(heard(), BlockPosition{}) << "after stop";
}

TEST_F(WaveOutputTest, ThePlayPositionIsNotCutTo32Bits) {
    ASSERT_TRUE(openOutputDevice(output_, 44100));
    ASSERT_TRUE(playSong(output_, song()));
    // Just past 2^32 bytes (about 6.8 hours): a 32-bit count would have
    // wrapped to a few frames and named block 0.
    const uint64_t frames = (uint64_t{1} << 30) + 884 * 3;
    advanceClockTo(clock_, frames);
    const auto expectedBlock = static_cast<int32_t>(frames % 88400 / 884);
    ASSERT_NE(expectedBlock, static_cast<int32_t>(884 * 3 % 88400 / 884));
    EXPECT_EQ(output_.nextBlock, expectedBlock);
    EXPECT_EQ(output_.audibleBlock, expectedBlock);
}

TEST_F(WaveOutputTest, StoppingIsHarmlessWhenNothingPlays) {
    Song* idle = song();
    stopSong(output_);  // no device open
    ASSERT_TRUE(openOutputDevice(output_, 44100));
    stopSong(output_);  // never played
    ASSERT_TRUE(playSong(output_, idle));
    EXPECT_NE(output_.currentSong, nullptr);
    stopSong(output_);
    stopSong(output_);
    EXPECT_EQ(output_.currentSong, nullptr);
    EXPECT_EQ(output_.pcmBuffer, nullptr);
    EXPECT_EQ(output_.mixBuffer, nullptr);
    EXPECT_EQ(output_.blockPositions, nullptr);
    EXPECT_EQ(output_.playback, nullptr);
    EXPECT_TRUE(output_.feederExited.load());
    EXPECT_FALSE(output_.feederThread.joinable());
}

// Every start is from silence, whatever the voices were doing when playback
// stopped; and nothing of a song stopped and released is read by the next one.
TEST_F(WaveOutputTest, PlayingAgainStartsFromTheBeginningWithTheSameSound) {
    const auto firstFill = [this] {
        std::lock_guard<std::mutex> hold(clock_.firstFillLock);
        return clock_.firstFill;
    };
    // Into the last pattern, where the second channel sounds too.
    const auto playIntoLastPattern = [this] {
        advanceClockTo(clock_, 884 * 90);
        advanceClockTo(clock_, 88400 + 884 * 80);
    };
    ASSERT_TRUE(openOutputDevice(output_, 44100));
    Song* first = makeTestSong();
    ASSERT_TRUE(playSong(output_, first));
    const std::vector<int16_t> freshStart = firstFill();
    playIntoLastPattern();
    ASSERT_EQ(output_.playback->sequencer.orderPos, 1);
    stopSong(output_);

    ASSERT_TRUE(playSong(output_, first));
    EXPECT_EQ(heard(), (BlockPosition{0, 0, 19}));
    EXPECT_EQ(output_.playback->sequencer.orderPos, 0);
    EXPECT_TRUE(firstFill() == freshStart) << "the restart differs from the first start";

    playIntoLastPattern();
    stopSong(output_);
    ASSERT_TRUE(freeSong(first));
    ASSERT_TRUE(playSong(output_, song()));
    EXPECT_TRUE(firstFill() == freshStart) << "a song started after a release differs";
}

// Once stopSong returns the device reads nothing of the song any more, so
// that the song may be released at once.
TEST_F(WaveOutputTest, StoppingSilencesTheDeviceBeforeItReturns) {
    ASSERT_TRUE(openOutputDevice(output_, 44100));
    Song* playing = makeTestSong();
    ASSERT_TRUE(playSong(output_, playing));
    advanceClockTo(clock_, 884 * 50);
    const int resetsBefore = clock_.resetCount.load();
    stopSong(output_);
    EXPECT_GT(clock_.resetCount.load(), resetsBefore);
    EXPECT_FALSE(clock_.playing.load());
    EXPECT_EQ(output_.currentSong, nullptr);
    EXPECT_EQ(output_.playback, nullptr);
    EXPECT_TRUE(output_.feederExited.load());
    EXPECT_TRUE(freeSong(playing));
    EXPECT_EQ(getPlayingTimeMs(output_), 0) << "nothing plays";
    EXPECT_FALSE(freeSong(nullptr));
}

TEST_F(WaveOutputTest, AFailedLoadLeavesPlaybackAlone) {
    ASSERT_TRUE(openOutputDevice(output_, 44100));
    Song* playing = song();
    ASSERT_TRUE(playSong(output_, playing));
    const auto path = std::filesystem::temp_directory_path() / "wave_output_test_not_a_song.xm";
    std::ofstream(path) << "Extended Module: but nothing after the identification";
    std::string reason;
    EXPECT_EQ(loadSongFile(path.string().c_str(), &reason), nullptr);
    std::filesystem::remove(path);
    EXPECT_FALSE(reason.empty());
    EXPECT_EQ(output_.currentSong, playing);
    EXPECT_TRUE(clock_.playing.load());
}

TEST_F(WaveOutputTest, ClosingOrReopeningStopsPlaybackFirst) {
    ASSERT_TRUE(openOutputDevice(output_, 44100));
    ASSERT_TRUE(playSong(output_, song()));
    advanceClockTo(clock_, 884 * 10);
    closeOutputDevice(output_);
    EXPECT_FALSE(clock_.isOpen.load());
    EXPECT_EQ(output_.currentSong, nullptr);
    EXPECT_FALSE(output_.feederThread.joinable());
    EXPECT_FALSE(playSong(output_, song())) << "no device open";
    closeOutputDevice(output_);

    ASSERT_TRUE(openOutputDevice(output_, 44100));
    ASSERT_TRUE(playSong(output_, song()));
    ASSERT_TRUE(openOutputDevice(output_, 22050));
    EXPECT_EQ(output_.currentSong, nullptr);
    EXPECT_EQ(output_.blockFrames, 444);
    EXPECT_TRUE(clock_.isOpen.load());

    // Setting another wave device closes the open one, playing or not.
    ASSERT_TRUE(playSong(output_, song()));
    setWaveDevice(output_, &device_);
    EXPECT_FALSE(clock_.isOpen.load());
    EXPECT_EQ(output_.currentSong, nullptr);
    EXPECT_EQ(output_.waveOut, nullptr);
}

// Each ring block is rendered by the rendering core in turn, into its own
// place in the ring only, with the position the core reports for it.
TEST(RingBlocks, AreRenderedInTurnEachIntoItsOwnPlace) {
    Song* song = makeTestSong();
    {
        TestRing ring(*song, 44100, 884, 3);
        ASSERT_TRUE(ring.started);
        auto alone = std::make_unique<Playback>();
        ASSERT_TRUE(startPlayback(*alone, *song, 44100, ft2Rules));
        std::vector<float> mix(2 * 884);
        std::vector<int16_t> pcm(2 * 884);
        for (int32_t block = 0; block < 7; ++block) {
            const int32_t place = block % 3;
            ASSERT_EQ(ring.output.nextBlock, place);
            renderRingBlock(ring.output);
            const BlockPosition expected = renderBlock(*alone, mix.data(), pcm.data(), 884);
            EXPECT_EQ(ring.output.nextBlock, (place + 1) % 3) << "back to the first after the last";
            EXPECT_EQ(ring.positions[place], expected) << block;
            EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), ring.pcm.begin() + place * 2 * 884))
                << block;
            if (block < 2) {
                EXPECT_EQ(ring.pcmLeft(place + 1, 0), 0x7777)
                    << "only the block being rendered is written";
            }
        }
    }
    freeSong(song);
}

TEST(RingBlocks, WithoutARingNothingIsRendered) {
    OutputDevice output;
    output.nextBlock = 3;
    renderRingBlock(output);
    EXPECT_EQ(output.nextBlock, 0);
    output.blockFrames = 884;
    output.ringFrames = 884 * 4;
    output.nextBlock = 2;
    renderRingBlock(output);
    EXPECT_EQ(output.nextBlock, 0) << "a ring without buffers or playback";
}

}  // namespace
