#pragma once

#include "webskt_core.h"

#include <QSharedPointer>
#include <atomic>
#include <memory>

class QTimer;
class QWebSocket;

// WebSocket JSON channel, client side: one connection kept alive with pings.
// A lost connection stays down until the owner calls reAction again.
class WebSkt_Client : public WebSkt_Core
{
    Q_OBJECT
public:
    static constexpr int kPingPeriodMs = 900;
    static constexpr int kConnectTimeoutMs = 200;

    explicit WebSkt_Client(QObject* parent = nullptr);
    ~WebSkt_Client() override;

public slots:
    bool isCnted() override;
    bool onStart() override;
    void onFinish() override;

private:
    QSharedPointer<QWebSocket> socket_;
    std::unique_ptr<QTimer> pingTimer_;
    std::atomic<bool> hasSocket_{false};
    std::atomic<qint64> aliveStamp_{0};   // monotonic ms of the last connect or pong
};
