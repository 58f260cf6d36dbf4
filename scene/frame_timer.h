// The scene's stopwatch over the platform's 32-bit millisecond clock.
#pragma once

#include <cstdint>

// A source of milliseconds as an unsigned 32-bit count; the program uses the
// platform clock, tests pass a clock they control.
using MillisecondClock = uint32_t (*)();

// Accumulates scaled clock time in milliseconds. Every field is a 32-bit
// float: clock readings are narrowed to the nearest float when stored, so
// above 2^24 ms of clock value the stored reading (and with it every
// difference taken from it) is only as fine as the float allows.
class FrameTimer {
  public:
    explicit FrameTimer(MillisecondClock clock);
    FrameTimer();  // over the platform clock

    // Restarts the total at zero from the current clock reading.
    void reset();
    // Adds the scaled time since the last reset or update and returns the new
    // total in milliseconds. The clock is read twice; what passes between the
    // two readings is not counted.
    float update();

    float lastTime;
    float timeScale;
    float total;

  private:
    MillisecondClock clock;
};

// The program-wide timer of the scene, constructed during static
// initialisation, that is when the program starts.
extern FrameTimer sceneTimer;
