// What standard output can show: whether it is a terminal that takes cursor
// movements and how large it is.
#pragma once

struct TerminalSize {
    int columns;
    int rows;
};

// True when standard output is a terminal and TERM names one that moves the
// cursor: not unset, empty or "dumb".
bool takesCursorMovements();

// The size of the terminal on standard output; 80 x 24 when it does not say.
TerminalSize terminalSize();
