#include <windows.h>

#include <string>

#include "platform/win32_message_boxes.h"
#include "platform/window.h"

struct Win32Window {
    HWND handle;
    HDC deviceContext;
};

namespace {

std::string lastError;
bool displayModeChanged = false;
PIXELFORMATDESCRIPTOR pixelFormatRequest{};
// The window procedure of the system's "STATIC" class, which the demo's
// window belongs to; its own procedure passes everything else on to it.
WNDPROC staticProcedure = nullptr;

// Keeps the system's words for why `what` failed, for windowSystemError.
void noteError(const char* what) {
    const DWORD code = GetLastError();
    char text[256] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, text, sizeof text, nullptr);
    std::string reason(text, length);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r')) {
        reason.pop_back();
    }
    if (reason.empty()) {
        reason = "error " + std::to_string(code);
    }
    lastError = std::string(what) + " failed: " + reason;
}

// Nothing but Escape ends the run, so a close request (the close button,
// Alt+F4) is ignored. The frames are drawn by OpenGL: the static control
// must neither paint its text nor erase the background over them.
LRESULT CALLBACK demoWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CLOSE:
            return 0;
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT:
            ValidateRect(window, nullptr);
            return 0;
        default:
            return CallWindowProcA(staticProcedure, window, message, wParam, lParam);
    }
}

}  // namespace

bool startWindowSystem() {
    if (GetSystemMetrics(SM_CXSCREEN) <= 0 || GetSystemMetrics(SM_CYSCREEN) <= 0) {
        lastError = "no display to show the window on";
        return false;
    }
    lastError.clear();
    installWin32MessageBoxes();
    return true;
}

void stopWindowSystem() {
    removeWin32MessageBoxes();
    if (displayModeChanged) {
        ChangeDisplaySettingsA(nullptr, 0);
        displayModeChanged = false;
    }
}

const char* windowSystemError() {
    return lastError.c_str();
}

ScreenSize primaryScreenSize() {
    return {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

bool changeDisplayMode(const DisplayMode& wanted) {
    DEVMODEA mode{};
    mode.dmSize = sizeof mode;
    mode.dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT;
    mode.dmBitsPerPel = static_cast<DWORD>(wanted.bitsPerPixel);
    mode.dmPelsWidth = static_cast<DWORD>(wanted.width);
    mode.dmPelsHeight = static_cast<DWORD>(wanted.height);
    if (ChangeDisplaySettingsA(&mode, CDS_FULLSCREEN) != DISP_CHANGE_SUCCESSFUL) {
        return false;
    }
    displayModeChanged = true;
    return true;
}

void restoreDisplayMode(GlWindow& /*window*/) {
    if (displayModeChanged) {
        // Back to the mode kept in the registry, the one the desktop had.
        ChangeDisplaySettingsA(nullptr, 0);
        displayModeChanged = false;
    }
}

void requestPixelFormat() {
    pixelFormatRequest = PIXELFORMATDESCRIPTOR{};
    pixelFormatRequest.nSize = sizeof pixelFormatRequest;
    pixelFormatRequest.nVersion = 1;
    pixelFormatRequest.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
    pixelFormatRequest.iPixelType = PFD_TYPE_RGBA;
    pixelFormatRequest.cColorBits = 32;
    pixelFormatRequest.cDepthBits = 16;
}

bool createWindow(const WindowRequest& request, GlWindow& window) {
    window = GlWindow{nullptr, nullptr, request.fullScreen};
    const DWORD style = (request.fullScreen ? WS_POPUP : WS_OVERLAPPEDWINDOW) | WS_CLIPSIBLINGS |
                        WS_CLIPCHILDREN | WS_VISIBLE;
    const int x = request.fullScreen ? 0 : request.x;
    const int y = request.fullScreen ? 0 : request.y;
    // A tool window: no taskbar button of its own. The size is the outer
    // one, frame and caption included.
    const HWND handle =
        CreateWindowExA(WS_EX_TOOLWINDOW, "STATIC", request.title, style, x, y, request.width,
                        request.height, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    if (handle == nullptr) {
        noteError("CreateWindowExA");
        return false;
    }
    staticProcedure = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(handle, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(demoWindowProcedure)));
    const HDC deviceContext = GetDC(handle);
    if (staticProcedure == nullptr || deviceContext == nullptr) {
        noteError(deviceContext == nullptr ? "GetDC" : "SetWindowLongPtrA");
        DestroyWindow(handle);
        return false;
    }
    window.window = new Win32Window{handle, deviceContext};
    return true;
}

bool createGlContext(GlWindow& window) {
    if (window.window == nullptr) {
        return false;
    }
    const HDC deviceContext = window.window->deviceContext;
    const int format = ChoosePixelFormat(deviceContext, &pixelFormatRequest);
    if (format == 0) {
        noteError("ChoosePixelFormat");
        return false;
    }
    if (SetPixelFormat(deviceContext, format, &pixelFormatRequest) == 0) {
        noteError("SetPixelFormat");
        return false;
    }
    const HGLRC context = wglCreateContext(deviceContext);
    if (context == nullptr) {
        noteError("wglCreateContext");
        return false;
    }
    if (wglMakeCurrent(deviceContext, context) == 0) {
        noteError("wglMakeCurrent");
        wglDeleteContext(context);
        return false;
    }
    window.glContext = context;
    return true;
}

void swapWindowBuffers(const GlWindow& window) {
    SwapBuffers(window.window->deviceContext);
}

void releaseGlContext(GlWindow& /*window*/) {
    wglMakeCurrent(nullptr, nullptr);
}

void destroyWindow(GlWindow& window) {
    if (window.glContext != nullptr) {
        wglDeleteContext(static_cast<HGLRC>(window.glContext));
        window.glContext = nullptr;
    }
    if (window.window != nullptr) {
        ReleaseDC(window.window->handle, window.window->deviceContext);
        DestroyWindow(window.window->handle);
        delete window.window;
        window.window = nullptr;
    }
}
