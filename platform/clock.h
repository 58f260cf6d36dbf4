// The millisecond clock and the sleep the program paces itself with.
#pragma once

#include <cstdint>

// Milliseconds since an arbitrary start, as an unsigned 32-bit count that wraps.
uint32_t currentMilliseconds();
void sleepMilliseconds(uint32_t milliseconds);
