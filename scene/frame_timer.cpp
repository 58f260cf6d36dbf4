#include "scene/frame_timer.h"

#include "platform/clock.h"

FrameTimer::FrameTimer(MillisecondClock clock)
    : lastTime(0.0f), timeScale(1.0f), total(0.0f), clock(clock) {
    reset();
}

FrameTimer::FrameTimer() : FrameTimer(currentMilliseconds) {}

void FrameTimer::reset() {
    const double reading = static_cast<double>(clock());
    lastTime = static_cast<float>(reading * static_cast<double>(timeScale));
    total = 0.0f;
}

float FrameTimer::update() {
    const double reading = static_cast<double>(clock());
    total = static_cast<float>((reading - static_cast<double>(lastTime)) *
                                   static_cast<double>(timeScale) +
                               static_cast<double>(total));
    lastTime = static_cast<float>(static_cast<double>(clock()));
    return total;
}

FrameTimer sceneTimer;
