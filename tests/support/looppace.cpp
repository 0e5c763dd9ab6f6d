#include "looppace.h"

#include <QThread>
#include <cmath>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

LoopPace::LoopPace(int probeMs)
{
    m_probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_probe, &QTimer::timeout, [this] {
        const qint64 gap = gapNs();
        const qint64 wait = readyWaitNs();
        m_longestGapNs = qMax(m_longestGapNs, gap);
        m_longestHoldNs = qMax(m_longestHoldNs, gap - (wait >= 0 && m_waitAtTurn >= 0 ? wait - m_waitAtTurn : 0));
        m_waitAtTurn = wait;
        m_since.start();
    });
    m_waitAtTurn = readyWaitNs();
    m_since.start();
    m_probe.start(probeMs);
}

qint64 LoopPace::waitedNs() const
{
    const qint64 wait = readyWaitNs();
    return wait >= 0 && m_waitAtTurn >= 0 ? wait - m_waitAtTurn : 0;
}

qint64 LoopPace::longestHoldMs(const std::function<void()>& work)
{
    LoopPace pace;
    work();
    return pace.longestHoldMs();
}

qint64 LoopPace::readyWaitNs()
{
    // "<ns on a processor> <ns ready in the run queue> <slices>"
    const int fd = ::open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    char text[128] = {};
    const ssize_t n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    unsigned long long onCpu = 0;
    unsigned long long ready = 0;
    if (n <= 0 || std::sscanf(text, "%llu %llu", &onCpu, &ready) != 2)
        return -1;
    return qint64(ready);
}

int LoopPace::runQueuePerCore()
{
    double load = 0;
    FILE* f = std::fopen("/proc/loadavg", "re");
    if (!f)
        return 1;
    const bool read = std::fscanf(f, "%lf", &load) == 1;
    std::fclose(f);
    const int cores = qMax(1, QThread::idealThreadCount());
    return read ? qMax(1, int(std::ceil(load / cores))) : 1;
}
