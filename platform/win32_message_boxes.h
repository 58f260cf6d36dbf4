// Real message and question boxes for platform/messages.h on Windows, shown
// with no owner window.
#pragma once

#include "platform/messages.h"

// Installed while the window system is up; removing them restores the
// terminal fallbacks.
void installWin32MessageBoxes();
void removeWin32MessageBoxes();
