// The scene's choreography: the state of the animation and its advance by one
// step per frame, apart from any drawing so that it runs without a GL context.
#pragma once

#include <cstdint>

class FrameTimer;

// The animation state with its values at program start. Every update reads
// these 32-bit floats, evaluates in double precision and stores the result
// narrowed to a 32-bit float again.
struct SceneAnimation {
    float cameraZ = -100.0f;  // z translation of the pyramid and the cube
    float cubeY = 2.0f;       // y translation of the cube
    float cubeMin = -0.1f;    // the cube's low faces on all three axes
    float cubeMax = 0.1f;     // the cube's high faces on all three axes
    float ballY = 5.0f;       // y translation of the ball
    float apexY = -1.0f;      // y coordinate of the pyramid's apex
    // The step of the choreography: exactly -2, 0, 1, ... 12, compared by
    // exact equality.
    float phase = -2.0f;
    float angle = 0.0f;  // degrees, shared by all three bodies
    // Turning speed during the intro; afterwards the argument of the apex's
    // sine motion.
    float spin = 0.0f;
    int32_t holdFrames = 0;   // frames counted in phase 11 before the pull-back
    int32_t cubeVisible = 0;  // set once, when the cube comes into view
};

// The phase in which the ball falls and rests.
constexpr float ballPhase = 12.0f;

// Advances the choreography by one frame, up to but not including the ball
// step: the approach, spin-up and descent branches, or the main steps with the
// stages on the apex, the hold and the pull-back. The timer is updated only in
// the main steps, once. Returns true when this frame has a ball step: the ball
// is then drawn with the state as it stands and moved by advanceBall.
bool advanceChoreography(SceneAnimation& state, FrameTimer& timer);

// The ball step's motion, after the ball has been drawn: the fall, the press
// on the cube and the apex, and the rest position.
void advanceBall(SceneAnimation& state);
