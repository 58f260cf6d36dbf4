#include "platform/input.h"

#include <SDL.h>

#include "platform/cursor_counter.h"
#include "platform/key_latch.h"

namespace {

CursorCounter cursorCounter{};
KeyLatch escapeLatch{};

}  // namespace

int32_t showCursor(bool show) {
    const int32_t count = changeCursorCount(cursorCounter, show);
    SDL_ShowCursor(cursorVisible(cursorCounter) ? SDL_ENABLE : SDL_DISABLE);
    return count;
}

bool escapePressed() {
    SDL_Event event;
    while (SDL_PollEvent(&event) != 0) {
        if (event.type == SDL_KEYDOWN && event.key.keysym.scancode == SDL_SCANCODE_ESCAPE) {
            notePress(escapeLatch);
        }
    }
    const Uint8* keys = SDL_GetKeyboardState(nullptr);
    return pollKeyLatch(escapeLatch, keys[SDL_SCANCODE_ESCAPE] != 0);
}
