#include "tests/output/wave_output_fixture.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <string>
#include <thread>
#include <tuple>

#include <gtest/gtest.h>

#include "player/output/block_render.h"
#include "player/output/mixer.h"
#include "player/output/render_device.h"
#include "player/output/wave_output.h"
#include "player/sequencer/channel.h"
#include "player/song/file_stream.h"
#include "player/song/player_control.h"

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

Song* makeTestSong(const TestSongShape& shape) {
    constexpr uint32_t sampleLength = 64;
    auto* song = static_cast<Song*>(std::calloc(1, sizeof(Song)));
    constexpr int16_t channels = 2;
    song->channelCount = channels;
    song->songLength = static_cast<int16_t>(shape.patterns);
    song->patternCount = shape.patterns;
    song->usedPatternCount = shape.patterns;
    song->instrumentCount = 1;
    song->flags = linearFrequencyTable;
    song->defaultSpeed = static_cast<int16_t>(shape.speed);
    song->defaultTempo = static_cast<int16_t>(shape.tempo);
    song->initialGlobalVolume = 64;
    song->tickFunction = advanceTick;
    song->patterns = static_cast<SongPattern*>(std::calloc(shape.patterns, sizeof(SongPattern)));
    for (int32_t p = 0; p < shape.patterns; ++p) {
        song->orders[p] = static_cast<uint8_t>(p);
        SongPattern& pattern = song->patterns[p];
        pattern.rowCount = shape.rows;
        pattern.notes = static_cast<PatternNote*>(
            std::calloc(static_cast<std::size_t>(shape.rows) * channels, sizeof(PatternNote)));
        pattern.notes[0] = PatternNote{static_cast<uint8_t>(49 + 12 * p), 1, 0, 0, 0};
        if (p == shape.patterns - 1) {
            pattern.notes[1] = PatternNote{37, 1, 0, 0, 0};
        }
    }
    song->instruments = static_cast<Instrument*>(std::calloc(1, sizeof(Instrument)));
    Instrument& instrument = song->instruments[0];
    instrument.sampleCount = 1;
    instrument.samples = static_cast<Sample**>(std::calloc(1, sizeof(Sample*)));
    auto* sample = static_cast<Sample*>(std::calloc(1, sizeof(Sample)));
    sample->data = allocateSampleData(sampleLength);
    for (uint32_t i = 0; i < sampleLength; ++i) {
        sample->data[i] =
            static_cast<int16_t>(8000.0 * std::sin(i * 2.0 * std::numbers::pi / sampleLength));
    }
    sample->data[sampleLength] = sample->data[0];  // the forward loop's guard value
    sample->length = sampleLength;
    sample->loopStart = 0;
    sample->loopLength = sampleLength;
    sample->volume = 64;
    sample->panning = 128;
    sample->bits = 16;
    sample->loopType = ForwardLoop;
    instrument.samples[0] = sample;
    return song;
}

ExpectedPlayback::ExpectedPlayback(const TestSongShape& shape, int32_t blockFrames)
    : shape_(shape), blockFrames_(static_cast<uint64_t>(blockFrames)) {
    Song tempoProbe{};
    setTempo(&tempoProbe, shape.tempo);
    tickFrames_ = static_cast<uint64_t>(tempoProbe.framesPerTick);
}

BlockPosition ExpectedPlayback::after(uint64_t frames) {
    // Each chunk of a block (a run of frames within one tick) adds its own
    // truncated milliseconds.
    while (frames_ < frames) {
        const uint64_t blockEnd = (frames_ / blockFrames_ + 1) * blockFrames_;
        const uint64_t tickEnd = (frames_ / tickFrames_ + 1) * tickFrames_;
        const uint64_t end = std::min({blockEnd, tickEnd, frames});
        milliseconds_ +=
            static_cast<int32_t>(static_cast<double>(end - frames_) *
                                 static_cast<double>(mixerState.frameDuration) * 1000.0);
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

// Runs on the feeder thread, between two catch-ups: the song is the feeder's
// own, and the heard block is the one holding the first frame handed over.
bool checkInStep(const int16_t* frames, uint32_t frameCount, void* context) {
    auto& check = *static_cast<InStepCheck*>(context);
    const uint64_t blocksBehind = check.framesSeen / static_cast<uint64_t>(check.blockFrames);
    const auto blockFrames = static_cast<uint64_t>(check.blockFrames);
    const BlockPosition heardNow{static_cast<uint8_t>(getPlayingOrder(check.song)),
                                 static_cast<uint8_t>(getPlayingRow(check.song)),
                                 getPlayingTimeMs(check.song)};
    const BlockPosition heardExpected = check.heard.after((blocksBehind + 1) * blockFrames);
    const BlockPosition songNow{static_cast<uint8_t>(check.song->orderPos),
                                static_cast<uint8_t>(check.song->row), check.song->playTimeMs};
    const BlockPosition songExpected = check.rendered.after(
        (blocksBehind + static_cast<uint64_t>(ringBlockCount())) * blockFrames);
    for (const auto& [what, got, expected] : {std::tuple{"heard", heardNow, heardExpected},
                                              std::tuple{"song", songNow, songExpected}}) {
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
    registerFileStream();
    RenderTarget target;
    const WaveDevice device = renderWaveDevice(&target);
    setWaveDevice(&device);
    ASSERT_TRUE(openOutputDevice(44100, 0));
    Song* song = makeTestSong();
    const int32_t blockFrames = outputDevice.blockFrames;
    InStepCheck check{song,
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
    ASSERT_TRUE(playSong(song));
    target.finished.wait(false);
    freeSong(song);
    closeOutputDevice();
    setWaveDevice(nullptr);

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
