// What the driver's tests share: a wave-output device whose play position is a
// clock the test advances, a small looping song built in memory, and the
// position that song must be at after a given number of frames.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "player/output/block_render.h"
#include "player/output/wave_device.h"
#include "player/song/song.h"

// A device that plays nothing: its byte count is whatever the test sets.
struct ClockDevice {
    std::atomic<uint64_t> bytes{0};
    std::atomic<uint64_t> polls{0};
    std::atomic<bool> refuseOpen{false};
    std::atomic<bool> isOpen{false};
    std::atomic<bool> playing{false};
    // Set when the feeder polls a device that is closed or not playing.
    std::atomic<bool> polledWhileIdle{false};
    std::atomic<int> openCount{0};
    std::atomic<int> resetCount{0};
    std::atomic<int32_t> openedRate{0};
    std::atomic<uint32_t> ringBytes{0};
    // A copy of the ring as it stood when playing started (the initial fill).
    std::mutex firstFillLock;
    std::vector<int16_t> firstFill;
};

// A record for setWaveDevice; the feeder polls it every millisecond.
WaveDevice clockWaveDevice(ClockDevice* clock);

// Sets the clock to `frames` played frames and returns once the feeder has
// caught up with it (it has polled the new position and finished rendering).
void advanceClockTo(ClockDevice& clock, uint64_t frames);

// A looping song built the way the loader builds one (released by freeSong):
// `patterns` patterns of `rows` rows, played in order, two channels playing
// a looping sample: the first starts a note on the first row of every
// pattern, the second only on that of the last pattern. No effects.
struct TestSongShape {
    int32_t patterns = 2;
    int32_t rows = 32;
    int32_t speed = 6;
    int32_t tempo = 125;
};
Song* makeTestSong(const TestSongShape& shape = {});

// Where such a song stands after a number of rendered frames at the open
// rate: the order position and row of the last tick run, and playTimeMs as
// block rendering accumulates it, chunk by chunk, for blocks of blockFrames.
// Frame counts must not go backwards from one call to the next.
class ExpectedPlayback {
  public:
    ExpectedPlayback(const TestSongShape& shape, int32_t blockFrames);
    BlockPosition after(uint64_t frames);

  private:
    TestSongShape shape_;
    uint64_t blockFrames_;
    uint64_t tickFrames_;
    uint64_t frames_ = 0;
    int64_t milliseconds_ = 0;
};

// Renders `seconds` of the test song through the render device at 44100 Hz
// and checks at every hand-over that the song's own position and the heard
// position (the getters) are where the frame count says they must be, and
// that the music still sounds. Reports failures through GoogleTest.
void checkRenderStaysInStep(double seconds);
