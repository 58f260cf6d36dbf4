#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <csignal>
#include <cstdio>

#include "platform/terminal.h"

namespace {

DWORD handleNumberOf(StandardStream stream) {
    switch (stream) {
        case StandardStream::Input:
            return STD_INPUT_HANDLE;
        case StandardStream::Output:
            return STD_OUTPUT_HANDLE;
        case StandardStream::Error:
            return STD_ERROR_HANDLE;
    }
    return STD_ERROR_HANDLE;
}

constexpr int pipePollMilliseconds = 5;

// The characters of the key presses among the console's input events.
std::string readConsoleKeys(HANDLE input, DWORD timeoutMilliseconds) {
    if (WaitForSingleObject(input, timeoutMilliseconds) != WAIT_OBJECT_0) {
        return {};
    }
    INPUT_RECORD records[64];
    DWORD count = 0;
    if (ReadConsoleInputA(input, records, 64, &count) == 0) {
        return {};
    }
    std::string keys;
    for (DWORD i = 0; i < count; ++i) {
        const INPUT_RECORD& record = records[i];
        if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown != 0 &&
            record.Event.KeyEvent.uChar.AsciiChar != 0) {
            keys.append(record.Event.KeyEvent.wRepeatCount, record.Event.KeyEvent.uChar.AsciiChar);
        }
    }
    return keys;
}

// A pipe cannot be waited on: it is polled for bytes until the time is up.
std::string readPipeKeys(HANDLE input, DWORD timeoutMilliseconds, bool& inputOpen) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMilliseconds;
    for (;;) {
        DWORD available = 0;
        if (PeekNamedPipe(input, nullptr, 0, nullptr, &available, nullptr) == 0) {
            inputOpen = false;  // the writer has closed its end
            return {};
        }
        if (available > 0) {
            char keys[64];
            DWORD count = 0;
            const DWORD wanted = available < sizeof keys ? available : sizeof keys;
            if (ReadFile(input, keys, wanted, &count, nullptr) == 0 || count == 0) {
                inputOpen = false;
                return {};
            }
            return std::string(keys, count);
        }
        if (GetTickCount64() >= deadline) {
            return {};
        }
        Sleep(pipePollMilliseconds);
    }
}

}  // namespace

struct RawKeyboard::Saved {
    DWORD mode;
};

bool isTerminal(StandardStream stream) {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(handleNumberOf(stream)), &mode) != 0;
}

RawKeyboard::RawKeyboard() {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(input, &mode) == 0) {
        return;
    }
    // Ctrl+C stays a signal, as it is in a raw POSIX terminal.
    const DWORD raw = mode & ~static_cast<DWORD>(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT);
    if (SetConsoleMode(input, raw) != 0) {
        saved_ = new Saved{mode};
    }
}

RawKeyboard::~RawKeyboard() {
    if (saved_ != nullptr) {
        SetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), saved_->mode);
        delete saved_;
    }
}

std::string readKeys(int timeoutMilliseconds, bool& inputOpen) {
    const DWORD timeout = timeoutMilliseconds > 0 ? static_cast<DWORD>(timeoutMilliseconds) : 0;
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (!inputOpen || input == nullptr || input == INVALID_HANDLE_VALUE) {
        inputOpen = false;
        Sleep(timeout);
        return {};
    }
    DWORD mode = 0;
    if (GetConsoleMode(input, &mode) != 0) {
        return readConsoleKeys(input, timeout);
    }
    if (GetFileType(input) == FILE_TYPE_PIPE) {
        return readPipeKeys(input, timeout, inputOpen);
    }
    // A file or a device such as NUL: whatever it holds is there at once.
    char keys[64];
    DWORD count = 0;
    if (ReadFile(input, keys, sizeof keys, &count, nullptr) == 0 || count == 0) {
        inputOpen = false;
        Sleep(timeout);
        return {};
    }
    return std::string(keys, count);
}

void setBinaryOutput() {
    std::fflush(stdout);
    _setmode(_fileno(stdout), _O_BINARY);
}

void onStopRequest(void (*handler)(int)) {
    for (const int number : {SIGINT, SIGTERM, SIGBREAK}) {
        std::signal(number, handler);
    }
}
