// Where the demo's window goes and which display mode full screen may use:
// arithmetic that needs no window system.
#pragma once

#include <cstdint>
#include <span>

struct WindowPosition {
    int32_t x;
    int32_t y;
};

// Top-left corner that centres a window of the given outer size on a screen.
// The halves truncate toward zero, so a screen narrower (or lower) than the
// window gives a negative coordinate and the window hangs off both edges.
WindowPosition centredWindowPosition(int32_t screenWidth, int32_t screenHeight, int32_t width,
                                     int32_t height);

struct DisplayMode {
    int32_t width;
    int32_t height;
    // Storage per pixel: an X screen of depth 24 keeps 32 bits per pixel.
    int32_t bitsPerPixel;
};

// Index of the first mode that is exactly the requested one, or -1. Nothing
// close is accepted: full screen runs in that mode or not at all.
int32_t findDisplayMode(std::span<const DisplayMode> modes, const DisplayMode& wanted);
