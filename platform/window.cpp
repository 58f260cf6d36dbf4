#include "platform/window.h"

#include <SDL.h>

#include <vector>

#include "platform/sdl_message_boxes.h"

namespace {

// How long a new window waits for the window manager to give it the keyboard
// focus before it takes the focus itself.
constexpr Uint32 focusWaitMilliseconds = 1000;
constexpr Uint32 focusPollMilliseconds = 5;
constexpr int peekedEventCount = 64;

// The mode claimed by changeDisplayMode for the full-screen window.
SDL_DisplayMode fullScreenMode{};
bool fullScreenModeClaimed = false;

DisplayMode describeMode(const SDL_DisplayMode& mode) {
    return {mode.w, mode.h, static_cast<int32_t>(SDL_BYTESPERPIXEL(mode.format)) * 8};
}

// Shrinks a window whose frame the window manager draws outside the client
// area, so that frame and caption together keep the requested outer size.
void fitFrameIntoOuterSize(SDL_Window* window, const WindowRequest& request) {
    int top = 0, left = 0, bottom = 0, right = 0;
    if (SDL_GetWindowBordersSize(window, &top, &left, &bottom, &right) != 0) {
        return;
    }
    if (top == 0 && left == 0 && bottom == 0 && right == 0) {
        return;
    }
    SDL_SetWindowSize(window, request.width - left - right, request.height - top - bottom);
    SDL_SetWindowPosition(window, request.x + left, request.y + top);
}

// True once the window system has reported the window as drawn on screen,
// the point from which it can take the keyboard focus. The events stay
// queued: a key pressed meanwhile still reaches escapePressed.
bool windowExposed(SDL_Window* window) {
    SDL_Event events[peekedEventCount];
    const int count =
        SDL_PeepEvents(events, peekedEventCount, SDL_PEEKEVENT, SDL_WINDOWEVENT, SDL_WINDOWEVENT);
    const Uint32 id = SDL_GetWindowID(window);
    for (int i = 0; i < count; ++i) {
        if (events[i].window.windowID == id && events[i].window.event == SDL_WINDOWEVENT_EXPOSED) {
            return true;
        }
    }
    return false;
}

// Escape is read from the keyboard focus, and the demo offers nothing to
// click: the window asks the window manager to activate it and, where
// nothing gives it the focus (a manager that keeps new windows from taking
// it), takes the focus itself once it is on screen.
void takeKeyboardFocus(SDL_Window* window) {
    SDL_RaiseWindow(window);
    const Uint32 deadline = SDL_GetTicks() + focusWaitMilliseconds;
    while (!SDL_TICKS_PASSED(SDL_GetTicks(), deadline)) {
        SDL_PumpEvents();
        if ((SDL_GetWindowFlags(window) & SDL_WINDOW_INPUT_FOCUS) != 0) {
            return;
        }
        if (windowExposed(window)) {
            SDL_SetWindowInputFocus(window);
            return;
        }
        SDL_Delay(focusPollMilliseconds);
    }
}

}  // namespace

bool startWindowSystem() {
    // Stop signals must not become quit events that nothing reads; see
    // catchStopSignals.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // A message box over the full-screen window must not drop the mode.
    SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        return false;
    }
    // With no display to reach, the window system falls back to drivers that
    // show nothing; a person would then see nothing at all and get no reason.
    // They are taken only when asked for by name.
    const char* driver = SDL_GetCurrentVideoDriver();
    if (SDL_getenv("SDL_VIDEODRIVER") == nullptr && driver != nullptr &&
        (SDL_strcmp(driver, "offscreen") == 0 || SDL_strcmp(driver, "dummy") == 0)) {
        SDL_Quit();
        SDL_SetError("no display to show the window on (DISPLAY is not set)");
        return false;
    }
    installSdlMessageBoxes();
    return true;
}

void stopWindowSystem() {
    removeSdlMessageBoxes();
    fullScreenModeClaimed = false;
    SDL_Quit();
}

const char* windowSystemError() {
    return SDL_GetError();
}

ScreenSize primaryScreenSize() {
    SDL_DisplayMode mode{};
    if (SDL_GetCurrentDisplayMode(0, &mode) != 0) {
        return {0, 0};
    }
    return {mode.w, mode.h};
}

bool changeDisplayMode(const DisplayMode& wanted) {
    const int count = SDL_GetNumDisplayModes(0);
    if (count <= 0) {
        return false;
    }
    std::vector<SDL_DisplayMode> available(static_cast<size_t>(count));
    std::vector<DisplayMode> described;
    for (int i = 0; i < count; ++i) {
        if (SDL_GetDisplayMode(0, i, &available[static_cast<size_t>(i)]) != 0) {
            available[static_cast<size_t>(i)] = SDL_DisplayMode{};
        }
        described.push_back(describeMode(available[static_cast<size_t>(i)]));
    }
    const int32_t index = findDisplayMode(described, wanted);
    if (index < 0) {
        return false;
    }
    fullScreenMode = available[static_cast<size_t>(index)];
    fullScreenModeClaimed = true;
    return true;
}

void restoreDisplayMode(GlWindow& window) {
    if (window.window != nullptr && window.fullScreen) {
        SDL_SetWindowFullscreen(window.window, 0);
    }
    fullScreenModeClaimed = false;
}

void requestPixelFormat() {
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_ACCUM_RED_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_ACCUM_GREEN_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_ACCUM_BLUE_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_ACCUM_ALPHA_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
}

bool createWindow(const WindowRequest& request, GlWindow& window) {
    window = GlWindow{nullptr, nullptr, request.fullScreen};
    // No taskbar entry of its own. The window is a tool window only when it
    // does not cover the screen: window managers refuse tool windows full
    // screen and keep them framed where they are.
    Uint32 flags = SDL_WINDOW_OPENGL;
    int x = request.x;
    int y = request.y;
    if (request.fullScreen) {
        flags |= SDL_WINDOW_FULLSCREEN | SDL_WINDOW_HIDDEN | SDL_WINDOW_SKIP_TASKBAR;
        x = 0;
        y = 0;
    } else {
        flags |= SDL_WINDOW_RESIZABLE | SDL_WINDOW_SHOWN | SDL_WINDOW_UTILITY;
    }
    window.window = SDL_CreateWindow(request.title, x, y, request.width, request.height, flags);
    if (window.window == nullptr) {
        return false;
    }
    if (request.fullScreen) {
        if (fullScreenModeClaimed &&
            SDL_SetWindowDisplayMode(window.window, &fullScreenMode) != 0) {
            SDL_DestroyWindow(window.window);
            window.window = nullptr;
            return false;
        }
        SDL_ShowWindow(window.window);
    } else {
        fitFrameIntoOuterSize(window.window, request);
    }
    takeKeyboardFocus(window.window);
    setMessageBoxOwner(window.window);
    return true;
}

bool createGlContext(GlWindow& window) {
    if (window.window == nullptr) {
        return false;
    }
    window.glContext = SDL_GL_CreateContext(window.window);
    if (window.glContext == nullptr) {
        return false;
    }
    if (SDL_GL_MakeCurrent(window.window, window.glContext) != 0) {
        SDL_GL_DeleteContext(window.glContext);
        window.glContext = nullptr;
        return false;
    }
    return true;
}

void swapWindowBuffers(const GlWindow& window) {
    SDL_GL_SwapWindow(window.window);
}

void releaseGlContext(GlWindow& window) {
    if (window.window != nullptr) {
        SDL_GL_MakeCurrent(window.window, nullptr);
    }
}

void destroyWindow(GlWindow& window) {
    if (window.glContext != nullptr) {
        SDL_GL_DeleteContext(window.glContext);
        window.glContext = nullptr;
    }
    if (window.window != nullptr) {
        setMessageBoxOwner(nullptr);
        SDL_DestroyWindow(window.window);
        window.window = nullptr;
    }
}
