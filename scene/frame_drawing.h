// The drawing of one frame: the pyramid, the cube once it is in view, and the
// textured ball in the last phase, each frame advancing the choreography.
#pragma once

#include "scene/animation.h"
#include "scene/frame_timer.h"

// The program-wide animation state that drawScene draws and advances.
extern SceneAnimation sceneAnimation;

// Draws one frame of sceneAnimation and advances it by one step, the turn
// taken from sceneTimer. Needs a current GL context set up by resizeScene and
// initScene. Always returns true.
bool drawScene();

// drawScene for a given state and timer.
bool drawSceneFrame(SceneAnimation& state, FrameTimer& timer);
