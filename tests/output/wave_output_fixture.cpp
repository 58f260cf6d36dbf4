#include "tests/output/wave_output_fixture.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <thread>

#include "player/output/block_render.h"
#include "player/output/mixer.h"
#include "player/sequencer/channel.h"

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
    instrument.samples.fill(&emptySample);
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
