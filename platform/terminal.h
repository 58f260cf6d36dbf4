// The terminal the command-line tools talk to: whether a standard stream is
// one, and keys read one by one without echo.
#pragma once

#include <string>

enum class StandardStream { Input, Output, Error };

bool isTerminal(StandardStream stream);

// While it lives, standard input (when it is a terminal) delivers keys one by
// one without echo; the terminal gets its settings back however the tool ends.
class RawKeyboard {
  public:
    RawKeyboard();
    ~RawKeyboard();
    RawKeyboard(const RawKeyboard&) = delete;
    RawKeyboard& operator=(const RawKeyboard&) = delete;

  private:
    struct Saved;
    Saved* saved_ = nullptr;
};

// Waits up to timeoutMilliseconds for input and returns the bytes that came,
// empty when none did. Once standard input has ended (a pipe or /dev/null),
// inputOpen turns false and later calls only wait.
std::string readKeys(int timeoutMilliseconds, bool& inputOpen);

// Makes standard output carry the bytes written to it unchanged, for raw
// audio: where text streams turn each line feed into two bytes, it stops.
void setBinaryOutput();

// Calls `handler` when the user interrupts the tool (Ctrl+C, Ctrl+Break) or
// the system asks it to end (a terminate signal, a hung-up terminal). The
// handler runs as a signal handler: it may only set a flag.
void onStopRequest(void (*handler)(int));
