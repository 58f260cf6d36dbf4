#include "tests/output/wave_output_fixture.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <tuple>

#include <gtest/gtest.h>

#include "player/output/render_device.h"
#include "player/output/wave_output.h"
#include "player/song/song_loading.h"

using namespace xmplayer;

namespace {

void* openClock(void* context, int32_t rate) {
    auto* clock = static_cast<ClockDevice*>(context);
    clock->openCount.fetch_add(1);
    if (clock->refuseOpen.load()) {
        return nullptr;
    }
    clock->openedRate.store(rate);
    clock->isOpen.store(true);
    return clock;
}

void playClockLoop(void* device, const int16_t* ring, uint32_t byteCount) {
    auto* clock = static_cast<ClockDevice*>(device);
    {
        std::lock_guard<std::mutex> hold(clock->firstFillLock);
        clock->firstFill.assign(ring, ring + byteCount / sizeof(int16_t));
    }
    clock->ringBytes.store(byteCount);
    clock->bytes.store(0);
    clock->playing.store(true);
}

uint64_t clockBytes(void* device) {
    auto* clock = static_cast<ClockDevice*>(device);
    if (!clock->isOpen.load() || !clock->playing.load()) {
        clock->polledWhileIdle.store(true);
    }
    const uint64_t bytes = clock->bytes.load();
    clock->polls.fetch_add(1);
    return bytes;
}

void resetClock(void* device) {
    auto* clock = static_cast<ClockDevice*>(device);
    clock->resetCount.fetch_add(1);
    clock->playing.store(false);
    clock->bytes.store(0);
}

void closeClock(void* device) {
    static_cast<ClockDevice*>(device)->isOpen.store(false);
}

}  // namespace

WaveDevice clockWaveDevice(ClockDevice* clock) {
    return WaveDevice{openClock, playClockLoop, clockBytes, resetClock, closeClock, clock, 1};
}

void advanceClockTo(ClockDevice& clock, uint64_t frames) {
    clock.bytes.store(frames * 4);
    // The first poll counted after the store may have read the clock before
    // it; the one after it cannot, and the third starts only once the
    // second's catch-up is done.
    const uint64_t seen = clock.polls.load();
    while (clock.polls.load() < seen + 3) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

ExpectedPlayback::ExpectedPlayback(const TestSongShape& shape, int32_t blockFrames, int32_t rate)
    : shape_(shape), blockFrames_(static_cast<uint64_t>(blockFrames)) {
    // The tick length and frame duration of a playback of such a song.
    Song* song = makeTestSong(shape);
    auto probe = std::make_unique<Playback>();
    if (!startPlayback(*probe, *song, rate, ft2Rules)) {
        ADD_FAILURE() << "a playback at " << rate << " Hz did not start";
    }
    tickFrames_ = static_cast<uint64_t>(std::max(probe->sequencer.framesPerTick, 1));
    frameDuration_ = probe->mixer.frameDuration;
    freeSong(song);
}

BlockPosition ExpectedPlayback::after(uint64_t frames) {
    // Each chunk of a block (a run of frames within one tick) adds its own
    // truncated milliseconds.
    while (frames_ < frames) {
        const uint64_t blockEnd = (frames_ / blockFrames_ + 1) * blockFrames_;
        const uint64_t tickEnd = (frames_ / tickFrames_ + 1) * tickFrames_;
        const uint64_t end = std::min({blockEnd, tickEnd, frames});
        milliseconds_ += static_cast<int32_t>(static_cast<double>(end - frames_) *
                                              static_cast<double>(frameDuration_) * 1000.0);
        frames_ = end;
    }
    const uint64_t ticksRun = (frames + tickFrames_ - 1) / tickFrames_;
    const uint64_t rowsEntered = (ticksRun - 1) / static_cast<uint64_t>(shape_.speed);
    BlockPosition position{};
    position.row = static_cast<uint8_t>(rowsEntered % static_cast<uint64_t>(shape_.rows));
    position.orderPos = static_cast<uint8_t>(rowsEntered / static_cast<uint64_t>(shape_.rows) %
                                             static_cast<uint64_t>(shape_.patterns));
    position.playTimeMs = static_cast<int32_t>(milliseconds_);
    return position;
}

namespace {

struct InStepCheck {
    const OutputDevice* output;
    Song* song;
    int32_t blockFrames;
    ExpectedPlayback heard;
    ExpectedPlayback rendered;
    uint64_t framesSeen = 0;
    uint64_t handOvers = 0;
    uint64_t silentHandOvers = 0;
    uint64_t positionMismatches = 0;
    std::string firstMismatch;
};

bool samePosition(const BlockPosition& a, const BlockPosition& b) {
    return a.orderPos == b.orderPos && a.row == b.row && a.playTimeMs == b.playTimeMs;
}

std::string describe(const char* what, uint64_t frame, const BlockPosition& got,
                     const BlockPosition& expected) {
    return std::string(what) + " at frame " + std::to_string(frame) + ": order " +
           std::to_string(got.orderPos) + " row " + std::to_string(got.row) + " " +
           std::to_string(got.playTimeMs) + " ms, expected order " +
           std::to_string(expected.orderPos) + " row " + std::to_string(expected.row) + " " +
           std::to_string(expected.playTimeMs) + " ms";
}

// Runs on the feeder thread, between two catch-ups: the playback is the
// feeder's own, and the heard block is the one holding the first frame handed
// over.
bool checkInStep(const int16_t* frames, uint32_t frameCount, void* context) {
    auto& check = *static_cast<InStepCheck*>(context);
    const uint64_t blocksBehind = check.framesSeen / static_cast<uint64_t>(check.blockFrames);
    const auto blockFrames = static_cast<uint64_t>(check.blockFrames);
    const OutputDevice& output = *check.output;
    const BlockPosition heardNow{static_cast<uint8_t>(getPlayingOrder(output)),
                                 static_cast<uint8_t>(getPlayingRow(output)),
                                 getPlayingTimeMs(output)};
    const BlockPosition heardExpected = check.heard.after((blocksBehind + 1) * blockFrames);
    const Playback& playback = *output.playback;
    const BlockPosition renderedNow{static_cast<uint8_t>(playback.sequencer.orderPos),
                                    static_cast<uint8_t>(playback.sequencer.row),
                                    playback.playTimeMs};
    const BlockPosition renderedExpected = check.rendered.after(
        (blocksBehind + static_cast<uint64_t>(ringBlockCount(output))) * blockFrames);
    for (const auto& [what, got, expected] :
         {std::tuple{"heard", heardNow, heardExpected},
          std::tuple{"rendered", renderedNow, renderedExpected}}) {
        if (!samePosition(got, expected) && check.positionMismatches++ == 0) {
            check.firstMismatch = describe(what, check.framesSeen, got, expected);
        }
    }
    int loudest = 0;
    for (uint32_t i = 0; i < frameCount * 2; ++i) {
        loudest = std::max(loudest, std::abs(int{frames[i]}));
    }
    check.silentHandOvers += loudest < 1000 ? 1 : 0;
    check.framesSeen += frameCount;
    ++check.handOvers;
    return true;
}

}  // namespace

void checkRenderStaysInStep(double seconds) {
    RenderTarget target;
    const WaveDevice device = renderWaveDevice(&target);
    OutputDevice output;
    setWaveDevice(output, &device);
    ASSERT_TRUE(openOutputDevice(output, 44100));
    Song* song = makeTestSong();
    const int32_t blockFrames = output.blockFrames;
    InStepCheck check{&output,
                      song,
                      blockFrames,
                      ExpectedPlayback({}, blockFrames),
                      ExpectedPlayback({}, blockFrames),
                      0,
                      0,
                      0,
                      0,
                      {}};
    const auto frames = static_cast<uint64_t>(seconds * 44100.0);
    target.sink = checkInStep;
    target.sinkContext = &check;
    target.frameLimit = frames;
    ASSERT_TRUE(playSong(output, song));
    waitWhile(target.finished, false);
    closeOutputDevice(output);
    freeSong(song);

    EXPECT_EQ(check.framesSeen, frames);
    EXPECT_EQ(target.framesDelivered.load(), frames);
    EXPECT_FALSE(target.sinkRefused.load());
    EXPECT_EQ(check.positionMismatches, 0u) << check.firstMismatch;
    EXPECT_EQ(check.silentHandOvers, 0u) << "of " << check.handOvers << " hand-overs";
    // An hour is far from the 24.8 days at which playTimeMs would overflow,
    // but the last heard time must have kept counting all the way.
    const BlockPosition last = check.heard.after(frames);
    EXPECT_GT(last.playTimeMs, static_cast<int32_t>(seconds * 1000.0 * 0.9));
}
