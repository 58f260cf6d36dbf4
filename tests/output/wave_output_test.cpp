// The wave-output driver against a device whose clock the test advances:
// ring sizes, the initial fill, the feeder following the play position, the
// position getters, and starting, stopping, releasing and closing in every
// order a caller may use them.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "player/output/mixer.h"
#include "player/output/wave_output.h"
#include "player/song/file_stream.h"
#include "player/song/player_control.h"
#include "player/song/stream.h"
#include "tests/output/wave_output_fixture.h"

// Found by argument-dependent lookup, so beside BlockPosition itself.
static bool operator==(const BlockPosition& a, const BlockPosition& b) {
    return a.orderPos == b.orderPos && a.row == b.row && a.playTimeMs == b.playTimeMs;
}

static void PrintTo(const BlockPosition& position, std::ostream* out) {
    *out << "{order " << int{position.orderPos} << ", row " << int{position.row} << ", "
         << position.playTimeMs << " ms}";
}

namespace {

BlockPosition heard(const Song* song) {
    return BlockPosition{static_cast<uint8_t>(getPlayingOrder(song)),
                         static_cast<uint8_t>(getPlayingRow(song)), getPlayingTimeMs(song)};
}

class WaveOutputTest : public ::testing::Test {
  protected:
    void SetUp() override {
        registerFileStream();
        device_ = clockWaveDevice(&clock_);
        setWaveDevice(&device_);
    }

    void TearDown() override {
        closeOutputDevice();
        EXPECT_FALSE(clock_.polledWhileIdle.load()) << "the feeder polled an idle or closed device";
        setWaveDevice(nullptr);
        for (Song* song : songs_) {
            freeSong(song);
        }
    }

    Song* song(const TestSongShape& shape = {}) {
        songs_.push_back(makeTestSong(shape));
        return songs_.back();
    }

    ClockDevice clock_;
    WaveDevice device_{};
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
    ASSERT_TRUE(openOutputDevice(expected.rate, 0));
    EXPECT_EQ(clock_.openedRate.load(), expected.rate);
    EXPECT_EQ(outputDevice.blockFrames, expected.blockFrames);
    EXPECT_EQ(outputDevice.ringFrames, expected.ringFrames);
    EXPECT_EQ(ringBlockCount(), 100);
    EXPECT_EQ(mixerState.outputRate, expected.rate);
    EXPECT_EQ(mixerState.rampLength, expected.rampLength);
    ASSERT_TRUE(playSong(song()));
    EXPECT_EQ(clock_.ringBytes.load(), static_cast<uint32_t>(expected.ringFrames) * 4);
}

INSTANTIATE_TEST_SUITE_P(Rates, RingSizeTest,
                         ::testing::Values(RingCase{44100, 884, 88400, 128},
                                           RingCase{22050, 444, 44400, 64},
                                           RingCase{48000, 960, 96000, 139}));

TEST_F(WaveOutputTest, OpeningIsRefusedWithoutStreamCallbacksOrDevice) {
    setStreamCallbacks(nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_FALSE(openOutputDevice(44100, 0));
    EXPECT_EQ(clock_.openCount.load(), 0) << "the device must not be touched";
    registerFileStream();

    clock_.refuseOpen.store(true);
    EXPECT_FALSE(openOutputDevice(44100, 0));
    EXPECT_FALSE(playSong(song()));
    clock_.refuseOpen.store(false);

    for (const int32_t rate : {0, -44100, minOutputRate - 1, maxOutputRate + 1}) {
        EXPECT_FALSE(openOutputDevice(rate, 0)) << rate;
    }
    setWaveDevice(nullptr);
    EXPECT_FALSE(openOutputDevice(44100, 0));
}

TEST_F(WaveOutputTest, PlayingRefusesWhatCannotPlay) {
    ASSERT_TRUE(openOutputDevice(44100, 0));
    EXPECT_FALSE(playSong(nullptr));
    Song* unfinished = song();
    unfinished->tickFunction = nullptr;
    EXPECT_FALSE(playSong(unfinished));
    EXPECT_EQ(outputDevice.currentSong, nullptr);
}

TEST_F(WaveOutputTest, TheWholeRingIsRenderedBeforeTheFirstFrameIsHeard) {
    ASSERT_TRUE(openOutputDevice(44100, 0));
    Song* playing = song();
    ASSERT_TRUE(playSong(playing));
    advanceClockTo(clock_, 0);
    // 88400 frames of 882-frame ticks: 101 ticks have run, the last with 682
    // frames still to go; row 16 at speed 6.
    EXPECT_EQ(playing->tickFramesLeft, 101 * 882 - 88400);
    EXPECT_EQ(playing->row, 16);
    ExpectedPlayback expected({}, 884);
    EXPECT_EQ(playing->playTimeMs, expected.after(88400).playTimeMs);
    EXPECT_EQ(outputDevice.nextBlock, 0);

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
    EXPECT_EQ(heard(nullptr), BlockPosition{});
    EXPECT_EQ(heard(playing), BlockPosition{}) << "before any play";
    ASSERT_TRUE(openOutputDevice(44100, 0));
    EXPECT_EQ(heard(playing), BlockPosition{}) << "open, not playing";
    ASSERT_TRUE(playSong(playing));

    // Block 0 ends after one 882-frame tick (19 ms) and 2 frames of the next.
    EXPECT_EQ(heard(playing), (BlockPosition{0, 0, 19}));
    EXPECT_EQ(heard(nullptr), BlockPosition{});

    ExpectedPlayback expected({}, 884);
    for (const int32_t block : {1, 37, 99}) {
        advanceClockTo(clock_, uint64_t{884} * block + 100);
        EXPECT_EQ(heard(playing), expected.after(uint64_t{884} * (block + 1))) << block;
    }
    // Past the end of the ring the device plays block 0 again, which the
    // feeder has refilled with the music that follows block 99.
    advanceClockTo(clock_, 88400 + 5);
    EXPECT_EQ(heard(playing), expected.after(uint64_t{884} * 101));
    advanceClockTo(clock_, 88400 + 884 * 60);
    EXPECT_EQ(heard(playing), expected.after(uint64_t{884} * 161));

    ASSERT_TRUE(stopSong(playing));
    EXPECT_EQ(heard(playing), BlockPosition{}) << "after stop";
}

TEST_F(WaveOutputTest, ThePlayPositionIsNotCutTo32Bits) {
    ASSERT_TRUE(openOutputDevice(44100, 0));
    ASSERT_TRUE(playSong(song()));
    // Just past 2^32 bytes (about 6.8 hours): a 32-bit count would have
    // wrapped to a few frames and named block 0.
    const uint64_t frames = (uint64_t{1} << 30) + 884 * 3;
    advanceClockTo(clock_, frames);
    const auto expectedBlock = static_cast<int32_t>(frames % 88400 / 884);
    ASSERT_NE(expectedBlock, static_cast<int32_t>(884 * 3 % 88400 / 884));
    EXPECT_EQ(outputDevice.nextBlock, expectedBlock);
    EXPECT_EQ(outputDevice.audibleBlock, expectedBlock);
}

TEST_F(WaveOutputTest, StoppingIsHarmlessWhenNothingPlays) {
    Song* idle = song();
    EXPECT_TRUE(stopSong(idle)) << "no device open";
    ASSERT_TRUE(openOutputDevice(44100, 0));
    EXPECT_TRUE(stopSong(idle)) << "never played";
    EXPECT_FALSE(stopSong(nullptr));
    ASSERT_TRUE(playSong(idle));
    EXPECT_FALSE(stopSong(nullptr));
    EXPECT_NE(outputDevice.currentSong, nullptr) << "a null stop does nothing";
    EXPECT_TRUE(stopSong(idle));
    EXPECT_TRUE(stopSong(idle));
    EXPECT_EQ(outputDevice.currentSong, nullptr);
    EXPECT_EQ(outputDevice.pcmBuffer, nullptr);
    EXPECT_EQ(outputDevice.mixBuffer, nullptr);
    EXPECT_EQ(outputDevice.blockPositions, nullptr);
    EXPECT_TRUE(outputDevice.feederExited.load());
    EXPECT_FALSE(outputDevice.feederThread.joinable());
}

// Every start is from silence, whatever the voices were doing when playback
// stopped; and nothing of a released song is read by the next one.
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
    ASSERT_TRUE(openOutputDevice(44100, 0));
    Song* first = makeTestSong();
    ASSERT_TRUE(playSong(first));
    const std::vector<int16_t> freshStart = firstFill();
    playIntoLastPattern();
    ASSERT_EQ(first->orderPos, 1);
    ASSERT_TRUE(stopSong(first));

    ASSERT_TRUE(playSong(first));
    EXPECT_EQ(heard(first), (BlockPosition{0, 0, 19}));
    EXPECT_EQ(first->orderPos, 0);
    EXPECT_TRUE(firstFill() == freshStart) << "the restart differs from the first start";

    playIntoLastPattern();
    ASSERT_TRUE(freeSong(first));
    ASSERT_TRUE(playSong(song()));
    EXPECT_TRUE(firstFill() == freshStart) << "a song started after a release differs";
}

TEST_F(WaveOutputTest, ReleasingAPlayingSongSilencesItFirst) {
    ASSERT_TRUE(openOutputDevice(44100, 0));
    Song* playing = makeTestSong();
    ASSERT_TRUE(playSong(playing));
    advanceClockTo(clock_, 884 * 50);
    const int resetsBefore = clock_.resetCount.load();
    EXPECT_TRUE(freeSong(playing));
    EXPECT_GT(clock_.resetCount.load(), resetsBefore);
    EXPECT_FALSE(clock_.playing.load());
    EXPECT_EQ(outputDevice.currentSong, nullptr);
    EXPECT_TRUE(outputDevice.feederExited.load());
    EXPECT_EQ(getPlayingTimeMs(playing), 0) << "only the pointer's nullness is looked at";
    EXPECT_FALSE(freeSong(nullptr));

    // Releasing another song stops whatever plays as well.
    Song* other = makeTestSong();
    ASSERT_TRUE(playSong(song()));
    EXPECT_TRUE(freeSong(other));
    EXPECT_EQ(outputDevice.currentSong, nullptr);
}

TEST_F(WaveOutputTest, AFailedLoadLeavesPlaybackAlone) {
    ASSERT_TRUE(openOutputDevice(44100, 0));
    Song* playing = song();
    ASSERT_TRUE(playSong(playing));
    const auto path = std::filesystem::temp_directory_path() / "wave_output_test_not_a_song.xm";
    std::ofstream(path) << "Extended Module: but nothing after the identification";
    std::string reason;
    EXPECT_EQ(loadSong(path.c_str(), nullptr, &reason), nullptr);
    std::filesystem::remove(path);
    EXPECT_EQ(outputDevice.currentSong, playing);
    EXPECT_TRUE(clock_.playing.load());
}

TEST_F(WaveOutputTest, ClosingOrReopeningStopsPlaybackFirst) {
    ASSERT_TRUE(openOutputDevice(44100, 0));
    ASSERT_TRUE(playSong(song()));
    advanceClockTo(clock_, 884 * 10);
    closeOutputDevice();
    EXPECT_FALSE(clock_.isOpen.load());
    EXPECT_EQ(outputDevice.currentSong, nullptr);
    EXPECT_FALSE(outputDevice.feederThread.joinable());
    EXPECT_FALSE(playSong(song())) << "no device open";
    closeOutputDevice();

    ASSERT_TRUE(openOutputDevice(44100, 0));
    ASSERT_TRUE(playSong(song()));
    ASSERT_TRUE(openOutputDevice(22050, 0));
    EXPECT_EQ(outputDevice.currentSong, nullptr);
    EXPECT_EQ(outputDevice.blockFrames, 444);
    EXPECT_TRUE(clock_.isOpen.load());
}

}  // namespace
