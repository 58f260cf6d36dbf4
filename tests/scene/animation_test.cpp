#include "scene/animation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "scene/frame_timer.h"
#include "tests/scene/fake_clock.h"

namespace {

// One frame as drawScene sees it: the state drawn at its start, the state
// after it, whether it had a ball step and how often it read the clock.
struct Frame {
    SceneAnimation drawn;
    SceneAnimation after;
    bool ballStep = false;
    SceneAnimation ballDrawn;
    int32_t clockReads = 0;
};

// Runs the choreography the way drawScene does, with a clock advanced by a
// fixed number of milliseconds per frame. frames[0] is frame 1.
class Choreography {
  public:
    explicit Choreography(uint32_t millisecondsPerFrame = 20)
        : step(millisecondsPerFrame), timer((FakeClock::set(startTime), FakeClock::read)) {}

    // Each run keeps its own time, so that two runs can be interleaved.
    const Frame& advance() {
        Frame frame;
        frame.drawn = state;
        clockNow += step;
        FakeClock::now = clockNow;
        const int32_t readsBefore = FakeClock::reads;
        frame.ballStep = advanceChoreography(state, timer);
        if (frame.ballStep) {
            frame.ballDrawn = state;
            advanceBall(state);
        }
        frame.clockReads = FakeClock::reads - readsBefore;
        frame.after = state;
        frames.push_back(frame);
        return frames.back();
    }

    void runTo(size_t frameNumber) {
        while (frames.size() < frameNumber) {
            advance();
        }
    }

    // Frame numbers count from 1.
    const Frame& frame(size_t number) const { return frames.at(number - 1); }

    size_t firstFrameEndingIn(float phase) const {
        for (size_t i = 0; i < frames.size(); ++i) {
            if (frames[i].after.phase == phase) {
                return i + 1;
            }
        }
        return 0;
    }

    static constexpr uint32_t startTime = 5000;
    uint32_t step;
    uint32_t clockNow = startTime;
    FrameTimer timer;
    SceneAnimation state;
    std::vector<Frame> frames;
};

constexpr size_t framesToRest = 1300;

TEST(Choreography, FirstFrameDrawsThePyramidFarAwayAndApproaches) {
    Choreography run;
    const Frame& first = run.advance();
    EXPECT_EQ(first.drawn.cameraZ, -100.0f);
    EXPECT_EQ(first.drawn.angle, 0.0f);
    EXPECT_EQ(first.drawn.cubeVisible, 0);
    EXPECT_EQ(first.drawn.apexY, -1.0f);
    EXPECT_EQ(first.drawn.phase, -2.0f);
    EXPECT_EQ(first.after.cameraZ, -99.8f);
    EXPECT_EQ(first.after.spin, 1.0f);
    EXPECT_FALSE(first.ballStep);
    EXPECT_EQ(first.clockReads, 0);
}

TEST(Choreography, ApproachSpinUpAndDescentFollowTheirFrames) {
    Choreography run;
    run.runTo(700);
    // Approach: frames 1 to 476, the pyramid alone and unrotated.
    for (size_t n = 1; n <= 476; ++n) {
        const Frame& f = run.frame(n);
        SCOPED_TRACE(n);
        ASSERT_LE(f.drawn.cameraZ, -5.0f);
        ASSERT_NEAR(f.after.cameraZ - f.drawn.cameraZ, 0.2f, 1e-4);
        ASSERT_EQ(f.after.cubeVisible, 0);
        ASSERT_EQ(f.after.angle, 0.0f);
        ASSERT_EQ(f.clockReads, 0);
    }
    EXPECT_NEAR(run.frame(476).after.cameraZ, -4.8f, 1e-3);

    // The first spin-up frame shows the cube for the frames after it.
    const Frame& spinStart = run.frame(477);
    EXPECT_EQ(spinStart.drawn.cubeVisible, 0);
    EXPECT_EQ(spinStart.after.cubeVisible, 1);
    EXPECT_EQ(spinStart.after.spin, 1.1f);
    EXPECT_EQ(spinStart.after.angle, 1.1f);
    EXPECT_EQ(spinStart.after.cameraZ, spinStart.drawn.cameraZ);

    // Spin-up: each frame turns by the new, faster spin; it ends with frame 566.
    for (size_t n = 478; n <= 566; ++n) {
        const Frame& f = run.frame(n);
        SCOPED_TRACE(n);
        ASSERT_LT(f.drawn.spin, 10.0f);
        ASSERT_NEAR(f.after.spin - f.drawn.spin, 0.1, 1e-5);
        ASSERT_NEAR(f.after.angle - f.drawn.angle, f.after.spin, 1e-3);
        ASSERT_EQ(f.after.cubeY, 2.0f);
    }
    EXPECT_NEAR(run.frame(566).after.spin, 10.0f, 1e-4);

    // Descent: the cube sinks 0.05 per frame, turning by spin + 0.1, until it
    // is at or below -0.8; then the main steps start with phase 0.
    size_t n = 567;
    while (run.frame(n).after.phase == -2.0f) {
        const Frame& f = run.frame(n);
        SCOPED_TRACE(n);
        ASSERT_GT(f.drawn.cubeY, -0.8f);
        ASSERT_NEAR(f.drawn.cubeY - f.after.cubeY, 0.05, 1e-5);
        ASSERT_NEAR(f.after.angle - f.drawn.angle, f.drawn.spin + 0.1, 1e-3);
        ASSERT_EQ(f.clockReads, 0);
        ++n;
    }
    EXPECT_GE(n, 620u);
    EXPECT_LE(n, 626u);
    const Frame& mainStart = run.frame(n);
    EXPECT_LE(mainStart.drawn.cubeY, -0.8f);
    EXPECT_EQ(mainStart.after.phase, 0.0f);
    EXPECT_EQ(mainStart.clockReads, 2);  // one timer update
    EXPECT_NEAR(mainStart.after.spin - mainStart.drawn.spin, 0.2, 1e-5);
}

// The phase only moves forwards through -2, 0, 1, 2, 4, 5, 7, 8, 10, 11, 12:
// the riding phases 3, 6 and 9, entered from their waiting steps, pass on to
// rising in the same frame.
TEST(Choreography, PhasesRunForwardAndRidingPhasesPassOnAtOnce) {
    Choreography run;
    run.runTo(framesToRest);
    std::vector<float> seen{run.frame(1).after.phase};
    for (const Frame& f : run.frames) {
        ASSERT_GE(f.after.phase, f.drawn.phase);
        if (f.after.phase != seen.back()) {
            seen.push_back(f.after.phase);
        }
    }
    const std::vector<float> expected{-2.0f, 0.0f, 1.0f,  2.0f,  4.0f, 5.0f,
                                      7.0f,  8.0f, 10.0f, 11.0f, 12.0f};
    EXPECT_EQ(seen, expected);
}

TEST(Choreography, StageOneRidesTheApexThenLiftsTheCube) {
    Choreography run;
    run.runTo(framesToRest);
    const size_t rising = run.firstFrameEndingIn(1.0f);
    const size_t done = run.firstFrameEndingIn(2.0f);
    ASSERT_GT(rising, 0u);
    for (size_t n = run.firstFrameEndingIn(0.0f); n < rising; ++n) {
        const SceneAnimation& s = run.frame(n).after;
        SCOPED_TRACE(n);
        ASSERT_LT(s.apexY, -1.0f);
        ASSERT_EQ(s.cubeY, static_cast<float>(static_cast<double>(s.apexY) + 0.2f));
    }
    EXPECT_GE(run.frame(rising).after.apexY, -1.0f);
    for (size_t n = rising; n < done; ++n) {
        const Frame& f = run.frame(n);
        SCOPED_TRACE(n);
        ASSERT_LE(f.drawn.cubeY, -0.5f);
        ASSERT_NEAR(f.after.cubeY - f.drawn.cubeY, 0.025, 1e-6);
        ASSERT_EQ(f.after.cubeMax, 0.1f);
    }
    EXPECT_GT(run.frame(done).drawn.cubeY, -0.5f);
    EXPECT_EQ(run.frame(done).after.cubeY, run.frame(done).drawn.cubeY);
}

struct StageExpectation {
    float waiting;
    double threshold;  // the waiting step's (double-precision) threshold
    float rising;
    float upperLimit;
    float halfSize;
};

TEST(Choreography, LaterStagesWaitForTheApexThenRiseAndGrow) {
    Choreography run;
    run.runTo(framesToRest);
    const StageExpectation stages[] = {
        {2.0f, -0.55, 4.0f, 0.3f, 0.15f},
        {5.0f, 0.15, 7.0f, 0.75f, 0.25f},
        {8.0f, 0.5, 10.0f, 1.3f, 0.3f},
    };
    for (const StageExpectation& stage : stages) {
        SCOPED_TRACE(stage.waiting);
        const size_t waitStart = run.firstFrameEndingIn(stage.waiting);
        const size_t riseStart = run.firstFrameEndingIn(stage.rising);
        const size_t done = run.firstFrameEndingIn(stage.rising + 1.0f);
        ASSERT_GT(waitStart, 0u);
        ASSERT_GT(riseStart, waitStart);
        ASSERT_GT(done, riseStart);
        for (size_t n = waitStart; n < riseStart; ++n) {
            ASSERT_LT(static_cast<double>(run.frame(n).after.apexY), stage.threshold) << n;
        }
        const Frame& leave = run.frame(riseStart);
        EXPECT_GE(static_cast<double>(leave.after.apexY), stage.threshold);
        // The rise takes place already in the frame that leaves the waiting.
        EXPECT_NEAR(leave.after.cubeY - leave.drawn.cubeY, 0.025, 1e-6);
        for (size_t n = riseStart; n < done; ++n) {
            const Frame& f = run.frame(n);
            SCOPED_TRACE(n);
            ASSERT_LE(f.drawn.cubeY, stage.upperLimit);
            ASSERT_NEAR(f.after.cubeY - f.drawn.cubeY, 0.025, 1e-6);
            ASSERT_EQ(f.after.cubeMin, -stage.halfSize);
            ASSERT_EQ(f.after.cubeMax, stage.halfSize);
        }
        EXPECT_GT(run.frame(done).drawn.cubeY, stage.upperLimit);
        EXPECT_EQ(run.frame(done).after.cubeY, run.frame(done).drawn.cubeY);
    }
    // About 300 frames of stages, from about frame 624 to about 924.
    EXPECT_NEAR(static_cast<double>(run.firstFrameEndingIn(11.0f)), 924.0, 30.0);
}

TEST(Choreography, HoldsAHundredFramesThenPullsBackAndStartsTheBall) {
    Choreography run;
    run.runTo(framesToRest);
    const size_t holdStart = run.firstFrameEndingIn(11.0f);
    const float approachEnd = run.frame(476).after.cameraZ;
    EXPECT_EQ(run.frame(holdStart).after.holdFrames, 1);
    size_t n = holdStart;
    for (; run.frame(n).after.holdFrames < 100; ++n) {
        ASSERT_EQ(run.frame(n).after.cameraZ, approachEnd) << n;
    }
    EXPECT_EQ(n, holdStart + 99);
    EXPECT_EQ(run.frame(n).after.cameraZ, approachEnd);  // the 100th hold frame
    ++n;
    for (; run.frame(n).after.phase == 11.0f; ++n) {
        const Frame& f = run.frame(n);
        SCOPED_TRACE(n);
        ASSERT_EQ(f.after.holdFrames, 100);
        ASSERT_NEAR(f.drawn.cameraZ - f.after.cameraZ, 0.1, 1e-5);
        ASSERT_GT(f.after.cameraZ, -15.0f);
        ASSERT_FALSE(f.ballStep);
    }
    // Phase 12 comes in the frame in which cameraZ reaches -15, and that
    // frame already has its ball step.
    const Frame& ballStart = run.frame(n);
    EXPECT_EQ(ballStart.after.phase, 12.0f);
    EXPECT_LE(ballStart.after.cameraZ, -15.0f);
    EXPECT_GT(ballStart.drawn.cameraZ, -15.0f);
    EXPECT_TRUE(ballStart.ballStep);
    EXPECT_EQ(ballStart.ballDrawn.ballY, 5.0f);
    EXPECT_NEAR(static_cast<double>(n), 1125.0, 30.0);
}

TEST(Choreography, BallFallsPressesCubeAndApexAndComesToRest) {
    Choreography run;
    run.runTo(framesToRest);
    const size_t ballStart = run.firstFrameEndingIn(12.0f);
    size_t n = ballStart;
    for (; run.frame(n).after.ballY != -1.0f; ++n) {
        const Frame& f = run.frame(n);
        SCOPED_TRACE(n);
        ASSERT_TRUE(f.ballStep);
        const double drop = static_cast<double>(f.ballDrawn.ballY) - f.after.ballY;
        if (f.ballDrawn.ballY >= 1.5f) {
            ASSERT_NEAR(drop, 0.2, 1e-5);
        } else {
            ASSERT_NEAR(drop, 0.1, 1e-5);
            ASSERT_LE(f.after.cubeY, f.after.ballY);
            ASSERT_LE(f.after.apexY, f.after.ballY);
        }
    }
    EXPECT_NEAR(static_cast<double>(n - ballStart), 40.0, 10.0);
    // Rest: everything at -1, the cube collapsed to a point, no turn, and so
    // in every later frame.
    for (; n <= framesToRest; ++n) {
        const SceneAnimation& s = run.frame(n).after;
        SCOPED_TRACE(n);
        ASSERT_TRUE(run.frame(n).ballStep);
        ASSERT_EQ(s.ballY, -1.0f);
        ASSERT_EQ(s.cubeY, -1.0f);
        ASSERT_EQ(s.apexY, -1.0f);
        ASSERT_EQ(s.cubeMin, -0.5f);
        ASSERT_EQ(s.cubeMax, -0.5f);
        ASSERT_EQ(s.angle, 0.0f);
        ASSERT_EQ(s.phase, 12.0f);
    }
}

// In the main steps the bodies turn by 10 x sin(seconds since start); the
// rest of the choreography does not depend on time.
TEST(Choreography, MainStepsTurnByTheSineOfTheTimersSeconds) {
    Choreography slow(20);
    Choreography fast(77);
    slow.runTo(framesToRest);
    fast.runTo(framesToRest);
    for (size_t n = 1; n <= framesToRest; ++n) {
        const Frame& a = slow.frame(n);
        const Frame& b = fast.frame(n);
        ASSERT_EQ(a.after.phase, b.after.phase) << n;
        ASSERT_EQ(a.after.cubeY, b.after.cubeY) << n;
        ASSERT_EQ(a.after.apexY, b.after.apexY) << n;
        ASSERT_EQ(a.after.cameraZ, b.after.cameraZ) << n;
        ASSERT_EQ(a.after.ballY, b.after.ballY) << n;
    }
    // In the hold only the sine turns the bodies. The timer was made before
    // frame 1 and the clock moves 20 ms per frame, so its total in frame n is
    // 20 n milliseconds.
    bool sawTurn = false;
    const size_t holdStart = slow.firstFrameEndingIn(11.0f) + 1;
    for (size_t n = holdStart; n < holdStart + 50; ++n) {
        const Frame& f = slow.frame(n);
        const double turn = std::sin(20.0 * static_cast<double>(n) / 1000.0) * 10.0;
        ASSERT_NEAR(static_cast<double>(f.after.angle) - f.drawn.angle, turn, 2e-3) << n;
        sawTurn = sawTurn || std::fabs(turn) > 1.0;
    }
    EXPECT_TRUE(sawTurn);
}

}  // namespace
