// The cursor's display counter: every hide lowers it, every show raises it,
// and the cursor is visible while the count is zero or more. Calls therefore
// nest: two hides need two shows, and a show on a visible cursor makes the
// next hide ineffective.
#pragma once

#include <cstdint>

struct CursorCounter {
    int32_t count;  // starts at 0: visible
};

// Applies one show (true) or hide (false) and returns the new count.
int32_t changeCursorCount(CursorCounter& counter, bool show);
bool cursorVisible(const CursorCounter& counter);
