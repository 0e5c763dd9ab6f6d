#include "descriptorreserve.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace DescriptorReserve {

namespace {
// Without /proc the numbers are asked one by one, up to this limit.
constexpr long kMaxScanned = 1 << 16;

// The soft limit is read at every call: an administrator or a test may change it at run time.
long softLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > INT_MAX)
        return INT_MAX;
    return long(limit.rlim_cur);
}

// Descriptors open below the limit, counted one by one: the lowest free number says nothing
// of the taken ones above it (a closed connection leaves a hole that the next open fills).
// -1 with errno set when they cannot be counted.
int takenBelow(long limit)
{
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) {
        if (errno == EMFILE || errno == ENFILE || limit > kMaxScanned)
            return -1;
        int taken = 0;   // no /proc: asked of each number
        for (int fd = 0; fd < limit; ++fd)
            taken += fcntl(fd, F_GETFD) != -1;
        return taken;
    }
    const int own = dirfd(dir);
    int taken = 0;
    while (const dirent* entry = readdir(dir)) {
        char* end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        if (end != entry->d_name && *end == '\0' && fd != own && fd < limit)
            ++taken;
    }
    closedir(dir);
    return taken;
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
    const long limit = softLimit();
    const int taken = takenBelow(limit);
    if (taken < 0)
        return errno != EMFILE && errno != ENFILE;   // no count possible: refuse only when none is free
    return limit - taken >= reserveFor(limit);
}

} // namespace DescriptorReserve
