// A millisecond clock that tests set by hand, counting how often it is read.
#pragma once

#include <cstdint>

struct FakeClock {
    static inline uint32_t now = 0;
    static inline uint32_t advancePerRead = 0;
    static inline int32_t reads = 0;

    static uint32_t read() {
        ++reads;
        const uint32_t reading = now;
        now += advancePerRead;
        return reading;
    }

    static void set(uint32_t milliseconds) {
        now = milliseconds;
        advancePerRead = 0;
        reads = 0;
    }
};
