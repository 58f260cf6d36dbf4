#include "platform/terminal.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace {

int descriptorOf(StandardStream stream) {
    switch (stream) {
        case StandardStream::Input:
            return STDIN_FILENO;
        case StandardStream::Output:
            return STDOUT_FILENO;
        case StandardStream::Error:
            return STDERR_FILENO;
    }
    return -1;
}

}  // namespace

struct RawKeyboard::Saved {
    termios settings;
};

bool isTerminal(StandardStream stream) {
    return isatty(descriptorOf(stream)) == 1;
}

RawKeyboard::RawKeyboard() {
    termios settings{};
    if (isatty(STDIN_FILENO) != 1 || tcgetattr(STDIN_FILENO, &settings) != 0) {
        return;
    }
    termios raw = settings;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0) {
        saved_ = new Saved{settings};
    }
}

RawKeyboard::~RawKeyboard() {
    if (saved_ != nullptr) {
        tcsetattr(STDIN_FILENO, TCSANOW, &saved_->settings);
        delete saved_;
    }
}

std::string readKeys(int timeoutMilliseconds, bool& inputOpen) {
    if (!inputOpen) {
        poll(nullptr, 0, timeoutMilliseconds);
        return {};
    }
    pollfd input{STDIN_FILENO, POLLIN, 0};
    if (poll(&input, 1, timeoutMilliseconds) <= 0) {
        return {};
    }
    char keys[64];
    const ssize_t count = read(STDIN_FILENO, keys, sizeof keys);
    if (count <= 0) {
        inputOpen = count < 0 && errno == EINTR;
        return {};
    }
    return std::string(keys, static_cast<std::size_t>(count));
}

void setBinaryOutput() {}

void onStopRequest(void (*handler)(int)) {
    for (const int number : {SIGINT, SIGTERM, SIGHUP}) {
        std::signal(number, handler);
    }
}
