#include "clock.h"

#include <QMutex>
#include <QMutexLocker>
#include <atomic>
#include <chrono>
#include <optional>

namespace {
QMutex gClockMutex;
std::atomic<bool> gOverridden{false};
Clock::Source gSource;
std::optional<QDateTime> gFixed;
QMutex gMonotonicMutex;
std::atomic<bool> gMonotonicOverridden{false};
MonotonicClock::Source gMonotonicSource;
} // namespace

QDateTime Clock::now()
{
    QMutexLocker lock(&gClockMutex);
    if (gFixed)
        return *gFixed;
    if (gSource)
        return gSource();
    return QDateTime::currentDateTime();
}

qint64 Clock::nowMSecsSinceEpoch()
{
    if (!gOverridden.load(std::memory_order_acquire))
        return QDateTime::currentMSecsSinceEpoch();
    return now().toMSecsSinceEpoch();
}

void Clock::setSource(Source source)
{
    QMutexLocker lock(&gClockMutex);
    gFixed.reset();
    gSource = std::move(source);
    gOverridden.store(bool(gSource), std::memory_order_release);
}

void Clock::setFixed(const QDateTime& moment)
{
    QMutexLocker lock(&gClockMutex);
    gSource = Source();
    gFixed = moment;
    gOverridden.store(true, std::memory_order_release);
}

void Clock::advance(qint64 msecs)
{
    QMutexLocker lock(&gClockMutex);
    if (gFixed)
        *gFixed = gFixed->addMSecs(msecs);
}

void MonotonicClock::setSource(Source source)
{
    QMutexLocker lock(&gMonotonicMutex);
    gMonotonicSource = std::move(source);
    gMonotonicOverridden.store(bool(gMonotonicSource), std::memory_order_release);
}

qint64 MonotonicClock::ns()
{
    if (gMonotonicOverridden.load(std::memory_order_acquire)) {
        QMutexLocker lock(&gMonotonicMutex);
        if (gMonotonicSource)
            return gMonotonicSource() * 1000000;
    }
    static const auto start = std::chrono::steady_clock::now();
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count();
}

qint64 MonotonicClock::ms()
{
    return ns() / 1000000;
}
