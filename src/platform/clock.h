#pragma once

#include <QDateTime>
#include <functional>

// Wall-clock time for everything that depends on the day or the hour
// (counters, day change, archives, records). Tests replace the source.
class Clock
{
public:
    using Source = std::function<QDateTime()>;

    static QDateTime now();
    // Cheap when no test clock is installed (no local-time conversion, no lock).
    static qint64 nowMSecsSinceEpoch();

    // Replaces the source of "now"; an empty function restores the system clock.
    static void setSource(Source source);
    // Freezes the clock at a fixed moment (tests); advance() moves it on.
    static void setFixed(const QDateTime& moment);
    static void advance(qint64 msecs);
    static void reset() { setSource(Source()); }
};

// Time that never jumps: time-outs, alive stamps, durations.
class MonotonicClock
{
public:
    // Milliseconds returned by a test source (a virtual clock).
    using Source = std::function<qint64()>;

    // Milliseconds since an arbitrary fixed point (the first call in this process).
    static qint64 ms();
    static qint64 ns();

    // Replaces the steady clock (tests with virtual time); an empty function restores it.
    // Set it before other threads read the clock.
    static void setSource(Source source);
};
