#include "descriptorreserve.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace DescriptorReserve {

namespace {
// The soft limit is read at every call: an administrator or a test may change it at run time.
long softLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > INT_MAX)
        return INT_MAX;
    return long(limit.rlim_cur);
}

int reserveFor(long limit)
{
    return int(std::max<long>(kMinimum, limit / 8));
}
} // namespace

int reserve()
{
    return reserveFor(softLimit());
}

bool enoughFree()
{
    // The lowest free descriptor: every one below it is taken.
    const int probe = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (probe < 0)
        return errno != EMFILE && errno != ENFILE;   // no probe possible: no reason to refuse
    close(probe);
    const long limit = softLimit();
    return limit - probe >= reserveFor(limit);
}

} // namespace DescriptorReserve
