#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "platform/terminal_screen.h"

namespace {

constexpr TerminalSize usualSize{80, 24};

}  // namespace

bool takesCursorMovements() {
    // A console takes the cursor movements of terminals once it is asked to
    // (Windows 10 and later); TERM=dumb asks for plain lines, as elsewhere.
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(output, &mode) == 0) {
        return false;
    }
    const char* term = std::getenv("TERM");
    if (term != nullptr && std::strcmp(term, "dumb") == 0) {
        return false;
    }
    return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
           SetConsoleMode(output, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

TerminalSize terminalSize() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info) == 0) {
        return usualSize;
    }
    const int columns = info.srWindow.Right - info.srWindow.Left + 1;
    const int rows = info.srWindow.Bottom - info.srWindow.Top + 1;
    if (columns <= 0 || rows <= 0) {
        return usualSize;
    }
    return {columns, rows};
}
