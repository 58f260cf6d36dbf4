// The window system as the demo uses it: one OpenGL window, in a centred
// window or full screen in one exact display mode, and its GL context.
#pragma once

#include <cstdint>

#include "platform/screen_layout.h"

// The window system's own record of a window: SDL's on Linux, the Win32
// handles behind the Windows back end.
#if defined(_WIN32)
struct Win32Window;
using NativeWindow = Win32Window;
#else
struct SDL_Window;
using NativeWindow = SDL_Window;
#endif

struct GlWindow {
    NativeWindow* window;
    void* glContext;
    bool fullScreen;
};

struct WindowRequest {
    const char* title;
    int32_t x;  // outer top-left corner; ignored in full screen, which sits at (0, 0)
    int32_t y;
    int32_t width;  // outer size: frame and caption included where the window manager says
    int32_t height;
    bool fullScreen;
};

// Connects to the window system and installs the message and question boxes
// of platform/messages.h. False, with the reason in windowSystemError(), when
// there is no display to connect to.
bool startWindowSystem();
// Closes every window and puts back any display mode the program changed.
// Safe to call at any point, also when the start failed; the message
// handlers fall back to the terminal.
void stopWindowSystem();
const char* windowSystemError();

struct ScreenSize {
    int32_t width;
    int32_t height;
};
// The primary screen's size in its current mode.
ScreenSize primaryScreenSize();

// Claims the exact full-screen mode for the next full-screen window. False
// when the primary display does not offer that mode; nothing changes then.
bool changeDisplayMode(const DisplayMode& mode);
// Leaves full screen, returning the display to the mode it had at start.
void restoreDisplayMode(GlWindow& window);

// Asks for the pixel format of every later window: double-buffered RGBA with
// at least 8 bits per colour, a 16-bit depth buffer, no alpha, stencil or
// accumulation bits, and a compatibility context with immediate mode and GLU.
void requestPixelFormat();
// Creates the visible window; false (window left null) on failure.
bool createWindow(const WindowRequest& request, GlWindow& window);
// Creates the GL context for the window and makes it current on this thread.
bool createGlContext(GlWindow& window);
void swapWindowBuffers(const GlWindow& window);
// Leaves no context current on this thread.
void releaseGlContext(GlWindow& window);
void destroyWindow(GlWindow& window);
