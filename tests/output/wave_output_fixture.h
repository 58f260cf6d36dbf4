// What the driver's tests share: a wave-output device whose play position is a
// clock the test advances, small looping songs built in memory, and the
// position such a song must be at after a given number of frames.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "player/output/wave_device.h"
#include "player/output/wave_output.h"
#include "player/playback/playback.h"
#include "tests/playback/test_song.h"

using xmplayer::BlockPosition;
using xmplayer::OutputDevice;
using xmplayer::Song;
using xmplayer::WaveDevice;

// Returns once `value` no longer holds `old`, as value.wait(old) would, but
// looks again every millisecond: GCC 12's std::atomic::wait can miss the
// notification where it has no futex to wait on (mingw-w64), and then waits
// for ever.
template <typename Value>
void waitWhile(const std::atomic<Value>& value, Value old) {
    while (value.load() == old) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

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

// Where a makeTestSong song stands after a number of frames rendered at
// `rate`: the order position and row of the last tick run, and playTimeMs as
// block rendering accumulates it, chunk by chunk, for blocks of blockFrames.
// Frame counts must not go backwards from one call to the next.
class ExpectedPlayback {
  public:
    ExpectedPlayback(const TestSongShape& shape, int32_t blockFrames, int32_t rate = 44100);
    BlockPosition after(uint64_t frames);

  private:
    TestSongShape shape_;
    uint64_t blockFrames_;
    uint64_t tickFrames_;
    float frameDuration_;
    uint64_t frames_ = 0;
    int64_t milliseconds_ = 0;
};

// Renders `seconds` of the test song through the render device at 44100 Hz
// and checks at every hand-over that the playback's own position and the heard
// position (the getters) are where the frame count says they must be, and
// that the music still sounds. Reports failures through GoogleTest.
void checkRenderStaysInStep(double seconds);
