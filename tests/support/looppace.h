#pragma once

#include <QElapsedTimer>
#include <QTimer>

#include <functional>

// The pace of this thread's event loop while it lives, probed by a short timer: the longest
// gap between two turns, and the longest time the thread was held within one. The hold
// leaves out the time the thread stood ready while other work had the processors, which a
// loaded machine adds to any gap; work done in the thread and waits that block it stay in.
// Where the kernel keeps no such account the hold is the whole gap.
class LoopPace
{
public:
    explicit LoopPace(int probeMs = 5);
    LoopPace(const LoopPace&) = delete;
    LoopPace& operator=(const LoopPace&) = delete;

    qint64 longestGapMs() const { return qMax(m_longestGapNs, gapNs()) / 1000000; }
    qint64 longestHoldMs() const { return qMax(m_longestHoldNs, gapNs() - waitedNs()) / 1000000; }

    // The longest hold while work runs in this thread.
    static qint64 longestHoldMs(const std::function<void()>& work);

    // Time this thread has stood ready to run without a processor (ns); -1 when unknown.
    static qint64 readyWaitNs();

    // The last minute's runnable tasks per processor, rounded up, at least 1: how many times
    // slower than alone another process (a peer the test talks to) may now answer.
    static int runQueuePerCore();

private:
    qint64 gapNs() const { return m_since.nsecsElapsed(); }
    qint64 waitedNs() const;

    QTimer m_probe;
    QElapsedTimer m_since;
    qint64 m_waitAtTurn = -1;
    qint64 m_longestGapNs = 0;
    qint64 m_longestHoldNs = 0;
};
