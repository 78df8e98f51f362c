#include "ProcessLimits.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

void raiseOpenFileLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

void runInBackground()
{
    constexpr int LowestPriority = 19;
    // On Linux a thread's id names that thread alone: the rest of the process keeps its priority.
    const auto thread = static_cast<id_t>(::gettid());
    errno = 0;
    const int now = ::getpriority(PRIO_PROCESS, thread);
    if (errno == 0)
        ::setpriority(PRIO_PROCESS, thread, std::min(now + BackgroundNiceness, LowestPriority));
}
