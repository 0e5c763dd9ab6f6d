#pragma once

#include <QSharedPointer>
#include <QtGlobal>
#include <atomic>
#include <functional>
#include <limits>

class QEventLoop;
class QThreadPool;

// One-thread pool that runs a start step, then an event loop until the owner's
// close signal, then a finish step: the start and stop scheme of the cores that
// keep their sockets in a thread of their own.
class EventLoopWorker
{
public:
    static constexpr int kAliveTickMs = 1000;

    struct Steps
    {
        std::function<void(QEventLoop*)> connectQuit;  // wire the owner's close signal to the loop
        std::function<bool()> start;                  // false ends the task at once
        std::function<void()> finish;
        bool finishAfterFailedStart = false;
    };

    EventLoopWorker();
    ~EventLoopWorker();

    // Blocks until the start step has run; what it returned.
    bool run(const Steps& steps);
    // Waits for the task after the owner has emitted its close signal.
    bool waitDone();
    bool isRunning() const;
    // Monotonic ms of the loop's last sign of life (refreshed every second); far in the past
    // before the first start. A stop leaves it as it was.
    qint64 aliveStamp() const { return aliveStamp_; }

private:
    QSharedPointer<QThreadPool> pool_;
    std::atomic<qint64> aliveStamp_{std::numeric_limits<qint64>::min() / 2};
};
