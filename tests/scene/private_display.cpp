#include "tests/scene/private_display.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace {

constexpr int startTimeoutMs = 15000;

}  // namespace

PrivateDisplay::PrivateDisplay(int width, int height) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) {
        failure = "cannot create a pipe for Xvfb";
        return;
    }
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    const std::string displayFd = std::to_string(pipeEnds[1]);
    const pid_t child = fork();
    if (child < 0) {
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        failure = "cannot start Xvfb (fork failed)";
        return;
    }
    if (child == 0) {
        close(pipeEnds[0]);
        // The server goes with the test process, however that ends.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        const int devNull = open("/dev/null", O_RDWR);
        if (devNull >= 0) {
            dup2(devNull, STDIN_FILENO);
            dup2(devNull, STDOUT_FILENO);
            dup2(devNull, STDERR_FILENO);
        }
        // Xvfb picks a free display number and writes it to the pipe.
        execlp("Xvfb", "Xvfb", "-displayfd", displayFd.c_str(), "-screen", "0", screen.c_str(),
               "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeEnds[1]);

    std::string number;
    pollfd reader{pipeEnds[0], POLLIN, 0};
    while (number.empty() || number.back() != '\n') {
        if (poll(&reader, 1, startTimeoutMs) <= 0) {
            break;
        }
        char buffer[16];
        const ssize_t got = read(pipeEnds[0], buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        number.append(buffer, static_cast<size_t>(got));
    }
    close(pipeEnds[0]);
    if (number.empty() || number.back() != '\n') {
        kill(child, SIGTERM);
        int status = 0;
        waitpid(child, &status, 0);
        failure = WIFEXITED(status) && WEXITSTATUS(status) == 127
                      ? "Xvfb is not installed (Debian package xvfb)"
                      : "Xvfb did not start";
        return;
    }
    number.pop_back();
    setenv("DISPLAY", (":" + number).c_str(), 1);
    serverPid = child;
}

PrivateDisplay::~PrivateDisplay() {
    if (serverPid > 0) {
        kill(serverPid, SIGTERM);
        int status = 0;
        waitpid(serverPid, &status, 0);
    }
}
