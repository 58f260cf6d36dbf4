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
