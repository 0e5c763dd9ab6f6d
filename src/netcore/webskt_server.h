#pragma once

#include "webskt_core.h"

#include <QMap>
#include <QReadWriteLock>
#include <QSharedPointer>
#include <atomic>

class QWebSocket;
class QWebSocketServer;

// WebSocket JSON channel, server side: any number of clients, replies by peer.
class WebSkt_Server : public WebSkt_Core
{
    Q_OBJECT
public:
    explicit WebSkt_Server(QObject* parent = nullptr);
    ~WebSkt_Server() override;

    int clientCount();
    // The port actually listened on (the chosen one when started with port 0); 0 while stopped.
    quint16 serverPort() const { return listenPort_; }

public slots:
    bool isCnted() override;
    bool onStart() override;
    void onFinish() override;

private:
    struct Client
    {
        QWebSocket* socket = nullptr;
        long long lastActiveMs = 0;   // ms since the epoch
    };

    void acceptClient();
    void receiveText(quint64 id, const QString& text);
    void dropClient(quint64 id, QWebSocket* socket);
    void sendOut(const CTask_FormData_WebSkt_Json& msg);

    QSharedPointer<QWebSocketServer> server_;
    QReadWriteLock lock_;
    QMap<quint64, Client> clients_;
    quint64 lastClientId_ = 0;   // worker thread only; ids are never reused
    bool refusing_ = false;
    std::atomic<quint16> listenPort_{0};
};
