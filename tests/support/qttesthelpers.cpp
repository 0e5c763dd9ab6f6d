#include "qttesthelpers.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

namespace {
constexpr int kEventSliceMs = 10;
constexpr int kPollPauseMs = 2;   // other threads get on meanwhile
}

bool waitUntil(const std::function<bool()>& condition, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return condition();
        QCoreApplication::processEvents(QEventLoop::AllEvents, kEventSliceMs);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QThread::msleep(kPollPauseMs);
    }
    return true;
}
