#include "webskt_server.h"

#include <QDateTime>
#include <QDebug>
#include <QVarLengthArray>
#include <QWebSocket>
#include <QWebSocketServer>

WebSkt_Server::WebSkt_Server(QObject* parent) : WebSkt_Core(parent) {}

WebSkt_Server::~WebSkt_Server()
{
    deinitialize();
}

int WebSkt_Server::clientCount()
{
    QReadLocker locker(&lock_);
    return clients_.size();
}

bool WebSkt_Server::isCnted()
{
    return clientCount() > 0;
}

bool WebSkt_Server::onStart()
{
    server_ = QSharedPointer<QWebSocketServer>::create(QStringLiteral("websocket"), QWebSocketServer::NonSecureMode);
    connect(server_.data(), &QWebSocketServer::newConnection, server_.data(), [this] { acceptClient(); });
    connect(this, &WebSkt_Core::sig_send_message, server_.data(),
            [this](const CTask_FormData_WebSkt_Json& msg) { sendOut(msg); });
    if (!server_->listen(address_, port_)) {
        qWarning() << "websocket listen fail" << server_->errorString();
        return false;
    }
    listenPort_ = server_->serverPort();
    return true;
}

void WebSkt_Server::onFinish()
{
    QList<void*> gone;
    {
        QWriteLocker locker(&lock_);
        gone = clients_.keys();
        clients_.clear();   // a restarted server starts without the old connections
    }
    for (void* key : gone) {
        auto* client = static_cast<QWebSocket*>(key);
        client->disconnect();
        client->abort();
        client->deleteLater();
    }
    server_.reset();
    listenPort_ = 0;
}

void WebSkt_Server::acceptClient()
{
    while (server_->hasPendingConnections()) {
        QWebSocket* client = server_->nextPendingConnection();
        if (!client)
            return;
        qInfo() << "WebSkt_Server has new client connected!";
        client->setMaxAllowedIncomingMessageSize(kMaxMessageBytes);
        client->setMaxAllowedIncomingFrameSize(kMaxMessageBytes);
        {
            QWriteLocker locker(&lock_);
            clients_.insert(client, QDateTime::currentMSecsSinceEpoch());
        }
        connect(client, &QWebSocket::textMessageReceived, client,
                [this, client](const QString& text) { receiveText(client, text); });
        connect(client, &QWebSocket::disconnected, client, [this, client] { dropClient(client); });
    }
}

void WebSkt_Server::receiveText(QWebSocket* client, const QString& text)
{
    {
        QWriteLocker locker(&lock_);
        auto it = clients_.find(client);
        if (it == clients_.end())
            return;
        it.value() = QDateTime::currentMSecsSinceEpoch();
    }
    CTask_FormData_WebSkt_Json msg = analyseBuffer_Setup1_Json(text);
    if (!msg.valid)
        return;
    msg.peer = client;
    // Emitted without the lock: a receiver may send at once.
    emit sig_recv_message(msg);
}

void WebSkt_Server::dropClient(QWebSocket* client)
{
    qInfo() << "WebSkt_Server had one client disconnected:" << client->peerAddress().toString();
    client->deleteLater();
    QWriteLocker locker(&lock_);
    clients_.remove(client);
}

void WebSkt_Server::sendOut(const CTask_FormData_WebSkt_Json& msg)
{
    // Sockets die only by deleteLater in this thread, so the pointers stay valid while sending.
    QVarLengthArray<QWebSocket*, 16> targets;
    {
        QReadLocker locker(&lock_);
        if (msg.peer) {
            if (!clients_.contains(msg.peer)) {
                qWarning() << "WebSkt_Server drops a message for a client that is gone:" << msg.url
                           << msg.user_agent;
                return;
            }
            targets.append(static_cast<QWebSocket*>(msg.peer));
        } else {
            for (auto it = clients_.cbegin(); it != clients_.cend(); ++it)
                targets.append(static_cast<QWebSocket*>(it.key()));
        }
    }
    const QString text = serialize_Setup2_Json(msg);
    for (QWebSocket* client : targets) {
        if (client->sendTextMessage(text) <= 0)
            qWarning() << "QWebSocket send fail!";
    }
}
