// How long a module plays, found by walking its rows the way a player steps
// through them: speed and tempo changes, pattern breaks, position jumps,
// pattern loops and pattern delays.
#pragma once

#include <cstdint>

#include "tools/xm_writer.h"

namespace xm {

struct PlayLength {
    int64_t firstPassMicroseconds = 0;  // from the start until the song first wraps
    int64_t loopMicroseconds = 0;       // one round from the wrap's target to the next wrap
    int loopOrder = 0;                  // order position that the wrap goes to
    bool wrapsToRestart = false;        // both wraps were the ordinary advance past the end
    int firstPassRows = 0;              // rows played in the first pass, repeats counted
};

// Walks `module` (which must be valid) through two wraps. A wrap is the
// ordinary advance past the last order position (to the restart position), a
// jump or break past the end (to order 0), or a jump back to an earlier or the
// same order position. Throws std::runtime_error for a song that never wraps
// within a million rows or that sets speed 0.
PlayLength measurePlayLength(const Module& module);

}  // namespace xm
