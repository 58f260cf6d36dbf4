// An X display of the test's own: a private Xvfb server, so that GL tests run
// the same on a desktop, on a headless machine and in CI.
#pragma once

#include <sys/types.h>

#include <string>

class PrivateDisplay {
  public:
    // Starts Xvfb with one screen of the given size and points DISPLAY at it.
    // On failure, available() is false and reason() says why.
    PrivateDisplay(int width, int height);
    ~PrivateDisplay();
    PrivateDisplay(const PrivateDisplay&) = delete;
    PrivateDisplay& operator=(const PrivateDisplay&) = delete;

    bool available() const { return serverPid > 0; }
    const std::string& reason() const { return failure; }

  private:
    pid_t serverPid = -1;
    std::string failure;
};
