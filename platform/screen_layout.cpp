#include "platform/screen_layout.h"

WindowPosition centredWindowPosition(int32_t screenWidth, int32_t screenHeight, int32_t width,
                                     int32_t height) {
    return {(screenWidth - width) / 2, (screenHeight - height) / 2};
}

int32_t findDisplayMode(std::span<const DisplayMode> modes, const DisplayMode& wanted) {
    for (size_t i = 0; i < modes.size(); ++i) {
        const DisplayMode& mode = modes[i];
        if (mode.width == wanted.width && mode.height == wanted.height &&
            mode.bitsPerPixel == wanted.bitsPerPixel) {
            return static_cast<int32_t>(i);
        }
    }
    return -1;
}
