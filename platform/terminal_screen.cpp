#include "platform/terminal_screen.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

constexpr TerminalSize usualSize{80, 24};

}  // namespace

bool takesCursorMovements() {
    if (isatty(STDOUT_FILENO) != 1) {
        return false;
    }
    const char* term = std::getenv("TERM");
    return term != nullptr && term[0] != '\0' && std::strcmp(term, "dumb") != 0;
}

TerminalSize terminalSize() {
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0) {
        return usualSize;
    }
    return {size.ws_col, size.ws_row};
}
