// The cursor and the keyboard as the demo uses them.
#pragma once

#include <cstdint>

// One show (true) or hide (false) on the cursor's display counter; the
// cursor over the program's windows is visible while the count is zero or
// more. Returns the new count.
int32_t showCursor(bool show);

// True when Escape is down now or was pressed since the previous call, or
// when a stop signal arrived (see catchStopSignals). Collects the window
// system's pending events on the way; apart from the Escape presses among
// them nothing is acted on, not even a close request.
bool escapePressed();

// Makes a request to stop from outside end the run the way Escape does, so
// that the take-down still puts the display mode back: Ctrl+C, and SIGTERM
// and SIGHUP on Linux, Ctrl+Break and the closing of the console on Windows.
// A second such request ends the program at once.
void catchStopSignals();
