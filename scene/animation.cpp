#include "scene/animation.h"

#include <cmath>

#include "scene/frame_timer.h"

namespace {

// The stages in which the cube rides the apex and then rises and grows. In the
// riding phase the cube sits on the apex until the apex reaches the
// threshold; the rising phase lifts it until it passes the upper limit.
struct LiftStage {
    float ridingPhase;
    float threshold;
    float upperLimit;
    float halfSize;
};

constexpr LiftStage stageTwo{3.0f, -0.55f, 0.3f, 0.15f};
constexpr LiftStage stageThree{6.0f, 0.15f, 0.75f, 0.25f};
constexpr LiftStage stageFour{9.0f, 0.5f, 1.3f, 0.3f};

// Single-precision constants take part widened to double.
double wide(float value) {
    return static_cast<double>(value);
}

void add(float& field, double amount) {
    field = static_cast<float>(wide(field) + amount);
}

void rideOnApex(SceneAnimation& state) {
    state.cubeY = static_cast<float>(wide(state.apexY) + wide(0.2f));
}

void rise(SceneAnimation& state) {
    add(state.cubeY, wide(0.025f));
}

void runLiftStage(SceneAnimation& state, const LiftStage& stage) {
    const float risingPhase = stage.ridingPhase + 1.0f;
    if (state.phase != stage.ridingPhase && state.phase != risingPhase) {
        return;
    }
    if (wide(state.apexY) >= wide(stage.threshold) && state.phase == stage.ridingPhase) {
        state.phase = risingPhase;
    }
    if (wide(state.apexY) <= wide(stage.threshold) && state.phase == stage.ridingPhase) {
        rideOnApex(state);
    } else if (wide(state.cubeY) <= wide(stage.upperLimit)) {
        rise(state);
        state.cubeMin = -stage.halfSize;
        state.cubeMax = stage.halfSize;
    } else {
        state.phase = risingPhase + 1.0f;
    }
}

// The waiting steps compare with double-precision thresholds (-0.55 and 0.15
// as doubles, their single-precision twins being used by the stages).
void leaveWaiting(SceneAnimation& state, float waitingPhase, double threshold) {
    if (state.phase == waitingPhase && wide(state.apexY) >= threshold) {
        state.phase = waitingPhase + 1.0f;
    }
}

void runMainSteps(SceneAnimation& state, FrameTimer& timer) {
    const double seconds = wide(timer.update()) / wide(1000.0f);
    add(state.angle, std::sin(seconds) * 10.0);

    add(state.spin, wide(0.2f));

    if (state.phase < 11.0f) {
        add(state.apexY, std::sin(wide(state.spin)) / 10.0 + wide(0.005f));
    } else {
        add(state.apexY, std::sin(wide(state.spin)) / 10.0);
    }

    // Stage 1 rides the apex from the main branch's start (phase 0) and
    // rises in phase 1 until the cube passes -0.5.
    if (state.phase == 0.0f || state.phase == 1.0f) {
        if (wide(state.apexY) >= wide(-1.0f) && state.phase == 0.0f) {
            state.phase = 1.0f;
        }
        if (wide(state.apexY) <= wide(-1.0f) && state.phase == 0.0f) {
            rideOnApex(state);
        } else if (wide(state.cubeY) <= wide(-0.5f)) {
            rise(state);
        } else {
            state.phase = 2.0f;
        }
    }

    leaveWaiting(state, 2.0f, -0.55);
    runLiftStage(state, stageTwo);
    leaveWaiting(state, 5.0f, 0.15);
    runLiftStage(state, stageThree);
    leaveWaiting(state, 8.0f, wide(0.5f));
    runLiftStage(state, stageFour);

    if (state.phase == 11.0f && state.holdFrames < 100) {
        state.holdFrames += 1;
    } else if (state.phase == 11.0f) {
        if (wide(state.cameraZ) > wide(-15.0f)) {
            add(state.cameraZ, -wide(0.1f));
        }
    }
    if (state.phase == 11.0f && wide(state.cameraZ) <= wide(-15.0f)) {
        state.phase = ballPhase;
    }
}

}  // namespace

bool advanceChoreography(SceneAnimation& state, FrameTimer& timer) {
    if (wide(state.cameraZ) <= wide(-5.0f) && state.phase < 11.0f) {
        add(state.cameraZ, wide(0.2f));
        state.spin = 1.0f;
    } else if (wide(state.spin) < wide(10.0f)) {
        state.cubeVisible = 1;
        add(state.spin, 0.1);
        add(state.angle, wide(state.spin));
    } else if (wide(state.cubeY) > wide(-0.8f) && state.phase == -2.0f) {
        state.angle = static_cast<float>((wide(state.spin) + 0.1) + wide(state.angle));
        add(state.cubeY, -0.05);
    } else {
        if (state.phase == -2.0f) {
            state.phase = 0.0f;
        }
        runMainSteps(state, timer);
        return state.phase == ballPhase;
    }
    return false;
}

void advanceBall(SceneAnimation& state) {
    if (wide(state.ballY) >= wide(1.5f)) {
        add(state.ballY, -wide(0.2f));
    } else if (wide(state.ballY) >= wide(-1.0f)) {
        add(state.ballY, -wide(0.1f));
        if (state.cubeY >= state.ballY) {
            state.cubeY = state.ballY;
        }
        if (state.apexY >= state.ballY) {
            state.apexY = state.ballY;
        }
    }
    if (wide(state.ballY) <= wide(-1.0f)) {
        state.ballY = -1.0f;
        state.cubeY = -1.0f;
        state.apexY = -1.0f;
        state.cubeMin = -0.5f;
        state.cubeMax = -0.5f;
        state.angle = 0.0f;
    }
}
