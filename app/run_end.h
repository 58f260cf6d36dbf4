// How a run of the demo ended, and the process exit status each end gives.
#pragma once

enum class RunEnd {
    Escape,              // the user pressed Escape
    DisplayRefused,      // full screen asked for, but the display lacks 640 x 480 x 32
    TextureMissing,      // the scene could not load its texture
    WindowSystemFailed,  // no display to connect to
    QuestionFailed,      // the full-screen question could not be shown
    WindowFailed,        // the window or its GL context could not be created
    DeviceFailed,        // the audio output device did not open
    SongFailed,          // the embedded song did not load
};

// 0 for Escape and for the ends that need no explanation (the user's own
// display or files), -1 (255 as seen by the shell) when something the demo
// needs failed and a message said why.
int exitStatusFor(RunEnd end);
