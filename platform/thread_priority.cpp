#include "platform/thread_priority.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

void raiseThreadPriority() {
    // Real-time scheduling needs privileges or an RLIMIT_RTPRIO grant.
    rlimit limit{};
    for (const int policy : {SCHED_FIFO, SCHED_RR}) {
        const int highest = sched_get_priority_max(policy);
        int granted = 0;
        if (getrlimit(RLIMIT_RTPRIO, &limit) == 0) {
            granted = limit.rlim_cur == RLIM_INFINITY
                          ? highest
                          : static_cast<int>(std::min<rlim_t>(limit.rlim_cur, highest));
        }
        for (const int priority : {highest, granted}) {
            if (priority < 1) {
                continue;
            }
            sched_param parameter{};
            parameter.sched_priority = priority;
            if (pthread_setschedparam(pthread_self(), policy, &parameter) == 0) {
                return;
            }
        }
    }
    if (getrlimit(RLIMIT_NICE, &limit) == 0 && limit.rlim_cur != 0) {
        // RLIMIT_NICE n allows nice values down to 20 - n.
        const rlim_t ceiling =
            limit.rlim_cur == RLIM_INFINITY ? 40 : std::min<rlim_t>(limit.rlim_cur, 40);
        const int lowestNice = 20 - static_cast<int>(ceiling);
        if (lowestNice < 0) {
            setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), lowestNice);
        }
    }
}
