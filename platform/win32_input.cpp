#include <windows.h>

#include <atomic>

#include "platform/input.h"
#include "platform/key_latch.h"

namespace {

KeyLatch escapeLatch{};
std::atomic<int> stopRequests{0};

// Ctrl+C, Ctrl+Break and the closing of the console the demo runs in. The
// handler runs on a thread of its own; the main loop sees the request at its
// next poll and takes everything down. A second request ends the program at
// once, through the system's own handler.
BOOL WINAPI noteStopRequest(DWORD event) {
    if (stopRequests.fetch_add(1) > 0) {
        return FALSE;
    }
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        // The system ends the process as soon as this returns: the take-down
        // gets the time it may wait.
        Sleep(5000);
    }
    return TRUE;
}

}  // namespace

int32_t showCursor(bool show) {
    return ShowCursor(show ? TRUE : FALSE);
}

bool escapePressed() {
    // The window's messages are collected so that the system sees it
    // responding; of them only Escape presses count, and the window's own
    // procedure ignores close requests.
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE) != 0) {
        if (message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE) {
            notePress(escapeLatch);
        }
        DispatchMessageA(&message);
    }
    // Any non-zero answer counts: down now, or pressed since the last call.
    const bool escape = pollKeyLatch(escapeLatch, GetAsyncKeyState(VK_ESCAPE) != 0);
    return escape || stopRequests.load() > 0;
}

void catchStopSignals() {
    SetConsoleCtrlHandler(noteStopRequest, TRUE);
}
