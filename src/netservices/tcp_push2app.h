#pragma once

#include "httpmanager.h"

#include <QString>
#include <QTimer>

// One push of a message to one subscriber over a client connection of its own.
// Lives in its subscriber's push thread; it ends at the subscriber's answer, at a
// failed connection, or once its life is over and no transfer is still running.
class Tcp_Push2APP : public HttpManager
{
    Q_OBJECT
public:
    // Waiting for the subscriber's answer.
    static constexpr int kLifeMs = 3000;
    // After the life: how often to look whether the connection is still busy.
    static constexpr int kDrainPollMs = 200;

    Tcp_Push2APP();

    // Connects (in the calling thread, which is the push thread) and sends the task.
    void push(const QString& address, int port, const CTask_FormData& task);
    // The warning of a push that found no connection (also for a port no connection can have).
    static void logNotConnected(const QString& url, const QString& address);

public slots:
    void SlotRecvResponse(CTask_FormData task, bool stashed) override;
    void SlotRecvRequest(CTask_FormData task) override;

private:
    void onLifeTimeout();

    QTimer* m_lifeTimer;
    qint64 m_sentMs = 0;   // monotonic
};
