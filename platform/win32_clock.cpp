#include <windows.h>
// Needs the types of windows.h.
#include <mmsystem.h>

#include "platform/clock.h"

namespace {

// The system timer ticks every 15.6 ms unless a program asks for finer
// ticks; the frame sleep of 20 ms would then last 31 ms.
void useMillisecondTimer() {
    static const bool raised = timeBeginPeriod(1) == TIMERR_NOERROR;
    static_cast<void>(raised);
}

}  // namespace

uint32_t currentMilliseconds() {
    useMillisecondTimer();
    return static_cast<uint32_t>(timeGetTime());
}

void sleepMilliseconds(uint32_t milliseconds) {
    useMillisecondTimer();
    Sleep(milliseconds);
}
