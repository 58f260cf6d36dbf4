// Real message and question boxes for platform/messages.h, shown by the
// window system without an owner window.
#pragma once

#include "platform/messages.h"

// Installed while the window system is up; removing them restores the
// terminal fallbacks.
void installSdlMessageBoxes();
void removeSdlMessageBoxes();
