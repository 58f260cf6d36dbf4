#include <windows.h>

#include "platform/thread_priority.h"

void raiseThreadPriority() {
    // The highest priority a normal process may give a thread; a failure
    // leaves the thread as it was, which is all the contract promises.
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
}
