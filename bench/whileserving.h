#pragma once

// Runs work on a thread of its own while the calling thread keeps serving its
// events (the program's GUI-thread services and timers go on meanwhile).

#include <QEventLoop>

#include <functional>
#include <thread>

inline void whileServing(const std::function<void()>& work)
{
    QEventLoop loop;
    std::thread worker([&] {
        work();
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
}
