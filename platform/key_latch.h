// A key poll that reports "down now, or pressed at some moment since the last
// poll", so a tap that begins and ends between two polls is not lost.
#pragma once

struct KeyLatch {
    bool pressedSinceLastPoll;
};

// Records a press as the window system reports it.
void notePress(KeyLatch& latch);
// Answers one poll given whether the key is down now, and starts a new
// interval: a press is reported by exactly one poll unless the key stays down.
bool pollKeyLatch(KeyLatch& latch, bool downNow);
