// Real message and question boxes for platform/messages.h, shown by the
// window system.
#pragma once

#include "platform/messages.h"

struct SDL_Window;

// Installed while the window system is up; removing them restores the
// terminal fallbacks.
void installSdlMessageBoxes();
void removeSdlMessageBoxes();

// The window the boxes belong to, null for none. A box that belongs to a
// window is kept in front of it, so that one shown over the full-screen
// window is not hidden behind it.
void setMessageBoxOwner(SDL_Window* owner);
