#include "platform/cursor_counter.h"

int32_t changeCursorCount(CursorCounter& counter, bool show) {
    counter.count += show ? 1 : -1;
    return counter.count;
}

bool cursorVisible(const CursorCounter& counter) {
    return counter.count >= 0;
}
