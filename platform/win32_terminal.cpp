#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

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

// What a terminal sends for an arrow key, for the keys that type no
// character; nothing for the rest.
const char* arrowSequence(WORD virtualKey) {
    switch (virtualKey) {
        case VK_UP:
            return "\x1b[A";
        case VK_DOWN:
            return "\x1b[B";
        case VK_RIGHT:
            return "\x1b[C";
        case VK_LEFT:
            return "\x1b[D";
        default:
            return "";
    }
}

// The key presses among the console's input events, as the bytes a terminal
// would send for them.
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
        if (record.EventType != KEY_EVENT || record.Event.KeyEvent.bKeyDown == 0) {
            continue;
        }
        const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
        for (WORD repeat = 0; repeat < key.wRepeatCount; ++repeat) {
            if (key.uChar.AsciiChar != 0) {
                keys += key.uChar.AsciiChar;
            } else {
                keys += arrowSequence(key.wVirtualKeyCode);
            }
        }
    }
    return keys;
}

// Input that is not a console (a pipe, a file, NUL) is read by a thread of
// its own that blocks in ReadFile: a pipe cannot be waited on, and peeking
// into one is not supported everywhere (Wine refuses it for pipes from the
// host). The record lives as long as the process, since its thread may be
// blocked in ReadFile until the process ends.
struct InputReader {
    std::mutex mutex;
    std::condition_variable arrived;
    std::string bytes;
    bool ended = false;
};

InputReader& inputReader() {
    static InputReader* const reader = [] {
        auto* started = new InputReader;
        std::thread([started] {
            const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
            char buffer[64];
            for (;;) {
                DWORD count = 0;
                const bool read = ReadFile(input, buffer, sizeof buffer, &count, nullptr) != 0;
                const std::lock_guard<std::mutex> lock(started->mutex);
                if (!read || count == 0) {
                    started->ended = true;
                    started->arrived.notify_all();
                    return;
                }
                started->bytes.append(buffer, count);
                started->arrived.notify_all();
            }
        }).detach();
        return started;
    }();
    return *reader;
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
    InputReader& reader = inputReader();
    std::unique_lock<std::mutex> lock(reader.mutex);
    reader.arrived.wait_for(lock, std::chrono::milliseconds(timeout),
                            [&reader] { return !reader.bytes.empty() || reader.ended; });
    std::string keys;
    keys.swap(reader.bytes);
    if (keys.empty() && reader.ended) {
        inputOpen = false;
    }
    return keys;
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
