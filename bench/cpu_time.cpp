// Runs a command and reports what it cost: the CPU time of the process and
// everything it waited for (user and system, in microseconds) and its peak
// resident memory (in KB), as "MICROSECONDS KILOBYTES" on one line of the
// report file. The command's own output goes where this program's goes; the
// exit status is the command's. CPU time, unlike the time on the clock, does
// not grow when other programs share the processor.
//
// Usage: cpu_time REPORT_FILE COMMAND [ARGUMENT ...]

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

extern char** environ;

namespace {

int64_t microseconds(const timeval& time) {
    return int64_t{time.tv_sec} * 1000000 + time.tv_usec;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: cpu_time REPORT_FILE COMMAND [ARGUMENT ...]\n");
        return 2;
    }
    pid_t child = 0;
    const int spawned = posix_spawnp(&child, argv[2], nullptr, nullptr, argv + 2, environ);
    if (spawned != 0) {
        std::fprintf(stderr, "cpu_time: cannot run %s: %s\n", argv[2], std::strerror(spawned));
        return 127;
    }
    int status = 0;
    rusage usage{};
    while (wait4(child, &status, 0, &usage) < 0) {
        if (errno != EINTR) {
            std::fprintf(stderr, "cpu_time: waiting for %s: %s\n", argv[2], std::strerror(errno));
            return 127;
        }
    }
    std::FILE* report = std::fopen(argv[1], "w");
    if (report == nullptr) {
        std::fprintf(stderr, "cpu_time: cannot write %s: %s\n", argv[1], std::strerror(errno));
        return 127;
    }
    std::fprintf(
        report, "%lld %ld\n",
        static_cast<long long>(microseconds(usage.ru_utime) + microseconds(usage.ru_stime)),
        usage.ru_maxrss);
    std::fclose(report);
    if (WIFSIGNALED(status)) {
        std::fprintf(stderr, "cpu_time: %s ended by signal %d\n", argv[2], WTERMSIG(status));
        return 128 + WTERMSIG(status);
    }
    return WEXITSTATUS(status);
}
