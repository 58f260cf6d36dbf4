#include "platform/input.h"

#include <SDL.h>
#include <signal.h>

#include <atomic>

#include "platform/cursor_counter.h"
#include "platform/key_latch.h"

namespace {

CursorCounter cursorCounter{};
KeyLatch escapeLatch{};

std::atomic<bool> stopSignalled{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

void noteStopSignal(int) {
    stopSignalled.store(true);
}

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
    const bool escape = pollKeyLatch(escapeLatch, keys[SDL_SCANCODE_ESCAPE] != 0);
    return escape || stopSignalled.load();
}

void catchStopSignals() {
    struct sigaction action {};
    action.sa_handler = noteStopSignal;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (const int number : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(number, &action, nullptr);
    }
}
