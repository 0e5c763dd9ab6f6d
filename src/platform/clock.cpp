#include "clock.h"

#include <QMutex>
#include <QMutexLocker>
#include <chrono>
#include <memory>

namespace {
QMutex gClockMutex;
Clock::Source gSource;
std::shared_ptr<QDateTime> gFixed;
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

void Clock::setSource(Source source)
{
    QMutexLocker lock(&gClockMutex);
    gFixed.reset();
    gSource = std::move(source);
}

void Clock::setFixed(const QDateTime& moment)
{
    QMutexLocker lock(&gClockMutex);
    gSource = Source();
    gFixed = std::make_shared<QDateTime>(moment);
}

void Clock::advance(qint64 msecs)
{
    QMutexLocker lock(&gClockMutex);
    if (gFixed)
        *gFixed = gFixed->addMSecs(msecs);
}

qint64 MonotonicClock::ns()
{
    static const auto start = std::chrono::steady_clock::now();
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count();
}

qint64 MonotonicClock::ms()
{
    return ns() / 1000000;
}
