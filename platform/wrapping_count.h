// A 32-bit count that wraps (a sound card's byte position: 2^32 bytes are
// 6.8 hours of 16-bit stereo at 44100 Hz), carried on in 64 bits.
#pragma once

#include <cstdint>

struct WrappingCount {
    uint32_t last;   // the count as last read
    uint64_t wraps;  // how often it has gone round
};

// The 64-bit count for the 32-bit one just read. Read at least once per
// wrap, the result never goes back: a count below the last one has wrapped.
uint64_t extendCount(WrappingCount& count, uint32_t now);
