#include "platform/key_latch.h"

void notePress(KeyLatch& latch) {
    latch.pressedSinceLastPoll = true;
}

bool pollKeyLatch(KeyLatch& latch, bool downNow) {
    const bool pressed = downNow || latch.pressedSinceLastPoll;
    latch.pressedSinceLastPoll = false;
    return pressed;
}
