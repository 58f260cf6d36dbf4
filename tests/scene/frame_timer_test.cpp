#include "scene/frame_timer.h"

#include <gtest/gtest.h>

#include "platform/clock.h"
#include "tests/scene/fake_clock.h"

namespace {

TEST(FrameTimer, StartsAtZeroAndAccumulatesElapsedMilliseconds) {
    FakeClock::set(1000);
    FrameTimer timer(FakeClock::read);
    EXPECT_EQ(timer.timeScale, 1.0f);
    EXPECT_EQ(timer.total, 0.0f);
    EXPECT_EQ(timer.lastTime, 1000.0f);

    FakeClock::now = 3000;
    EXPECT_EQ(timer.update(), 2000.0f);
    FakeClock::now = 3500;
    EXPECT_EQ(timer.update(), 2500.0f);
    EXPECT_EQ(timer.total, 2500.0f);
}

TEST(FrameTimer, ImmediateUpdatesReturnTheSameTotal) {
    FakeClock::set(50000);
    FrameTimer timer(FakeClock::read);
    FakeClock::now = 50750;
    const float first = timer.update();
    const float second = timer.update();
    EXPECT_EQ(first, 750.0f);
    EXPECT_EQ(second, first);
}

// Each update reads the clock twice and starts the next interval from the
// second reading, so the time between the two readings is lost.
TEST(FrameTimer, TimeBetweenTheTwoReadingsOfAnUpdateIsNotCounted) {
    FakeClock::set(100);
    FakeClock::advancePerRead = 3;
    FrameTimer timer(FakeClock::read);  // reads 100
    EXPECT_EQ(timer.update(), 3.0f);    // reads 103, then 106
    EXPECT_EQ(timer.update(), 6.0f);    // reads 109, then 112
    EXPECT_EQ(FakeClock::reads, 5);
}

TEST(FrameTimer, ResetRestartsTheTotalFromTheCurrentReading) {
    FakeClock::set(0);
    FrameTimer timer(FakeClock::read);
    FakeClock::now = 4000;
    timer.update();
    FakeClock::now = 9000;
    timer.reset();
    EXPECT_EQ(timer.total, 0.0f);
    FakeClock::now = 9020;
    EXPECT_EQ(timer.update(), 20.0f);
}

// Readings are stored as 32-bit floats: exact up to 2^24 ms, beyond that
// rounded to the nearest representable value, and the differences with them.
TEST(FrameTimer, StoredReadingsAreNarrowedToFloat) {
    FakeClock::set(16777217);  // 2^24 + 1 rounds to 2^24
    FrameTimer timer(FakeClock::read);
    EXPECT_EQ(timer.lastTime, 16777216.0f);
    EXPECT_EQ(timer.update(), 1.0f);

    // Near 4e9 a float is a multiple of 256.
    FakeClock::set(4000000100u);
    FrameTimer coarse(FakeClock::read);
    EXPECT_EQ(coarse.lastTime, 4000000000.0f);
    EXPECT_EQ(coarse.update(), 100.0f);
    FakeClock::now = 4000000200u;
    // 100 ms passed, but the stored reading is still 4,000,000,000.
    EXPECT_EQ(coarse.update(), 300.0f);

    // The largest reading converts exactly to double and rounds up to 2^32.
    FakeClock::set(UINT32_MAX);
    FrameTimer top(FakeClock::read);
    EXPECT_EQ(top.lastTime, 4294967296.0f);
    EXPECT_EQ(top.update(), -1.0f);
}

TEST(FrameTimer, ProgramWideTimerIsRunningFromProgramStart) {
    EXPECT_EQ(sceneTimer.timeScale, 1.0f);
    EXPECT_EQ(sceneTimer.total, 0.0f);
    // Constructed over the platform clock before main: its reading is not
    // later than now (allowing for the float rounding of the stored value).
    const double now = static_cast<double>(currentMilliseconds());
    const double slack = static_cast<double>(sceneTimer.lastTime) / 16777216.0 + 1.0;
    EXPECT_LE(static_cast<double>(sceneTimer.lastTime), now + slack);
    EXPECT_GT(static_cast<double>(sceneTimer.lastTime), now - 60000.0);
}

}  // namespace
