#include "eventloopworker.h"

#include "clock.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSemaphore>
#include <QThreadPool>
#include <QTimer>

EventLoopWorker::EventLoopWorker() : pool_(QSharedPointer<QThreadPool>::create())
{
    pool_->setMaxThreadCount(1);
    pool_->setExpiryTimeout(-1);
}

EventLoopWorker::~EventLoopWorker()
{
    pool_->waitForDone(-1);
}

bool EventLoopWorker::isRunning() const
{
    return pool_->activeThreadCount() > 0;
}

bool EventLoopWorker::run(const Steps& steps)
{
    auto started = QSharedPointer<QSemaphore>::create(0);
    auto ok = QSharedPointer<std::atomic<bool>>::create(false);
    pool_->start([this, steps, started, ok] {
        QEventLoop loop;
        if (steps.connectQuit)
            steps.connectQuit(&loop);
        if (!steps.start()) {
            if (steps.finishAfterFailedStart && steps.finish)
                steps.finish();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            started->release();
            return;
        }
        aliveStamp_ = MonotonicClock::ms();
        *ok = true;
        started->release();
        QTimer alive;
        QObject::connect(&alive, &QTimer::timeout, [this] { aliveStamp_ = MonotonicClock::ms(); });
        alive.start(kAliveTickMs);
        loop.exec();
        alive.stop();
        if (steps.finish)
            steps.finish();
        // Objects let go with deleteLater during the loop die before the thread idles.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    });
    started->acquire();
    if (!*ok)
        pool_->waitForDone(-1);   // a failed start leaves no thread behind
    return *ok;
}

bool EventLoopWorker::waitDone()
{
    return pool_->waitForDone(-1);
}
