#include "webskt_server.h"

#include "descriptorreserve.h"

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
    QList<Client> gone;
    {
        QWriteLocker locker(&lock_);
        gone = clients_.values();
        clients_.clear();   // a restarted server starts without the old connections
    }
    for (const Client& entry : qAsConst(gone)) {
        QWebSocket* client = entry.socket;
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
        // The descriptors kept for files and dialogs are not given to connections.
        if (!DescriptorReserve::enoughFree()) {
            if (!refusing_)
                qWarning() << "WebSkt_Server refuses connections: descriptor reserve reached";
            refusing_ = true;
            client->abort();
            client->deleteLater();
            continue;
        }
        refusing_ = false;
        qInfo() << "WebSkt_Server has new client connected!";
        client->setMaxAllowedIncomingMessageSize(kMaxMessageBytes);
        client->setMaxAllowedIncomingFrameSize(kMaxMessageBytes);
        const quint64 id = ++lastClientId_;
        {
            QWriteLocker locker(&lock_);
            clients_.insert(id, Client{client, QDateTime::currentMSecsSinceEpoch()});
        }
        connect(client, &QWebSocket::textMessageReceived, client,
                [this, id](const QString& text) { receiveText(id, text); });
        connect(client, &QWebSocket::disconnected, client, [this, id, client] { dropClient(id, client); });
    }
}

void WebSkt_Server::receiveText(quint64 id, const QString& text)
{
    {
        QWriteLocker locker(&lock_);
        auto it = clients_.find(id);
        if (it == clients_.end())
            return;
        it->lastActiveMs = QDateTime::currentMSecsSinceEpoch();
    }
    CTask_FormData_WebSkt_Json msg = analyseBuffer_Setup1_Json(text);
    if (!msg.valid)
        return;
    msg.peer = id;
    // Emitted without the lock: a receiver may send at once.
    emit sig_recv_message(msg);
}

void WebSkt_Server::dropClient(quint64 id, QWebSocket* socket)
{
    qInfo() << "WebSkt_Server had one client disconnected:" << socket->peerAddress().toString();
    socket->deleteLater();
    QWriteLocker locker(&lock_);
    clients_.remove(id);
}

void WebSkt_Server::sendOut(const CTask_FormData_WebSkt_Json& msg)
{
    // Sockets die only by deleteLater in this thread, so the pointers stay valid while sending.
    QVarLengthArray<QWebSocket*, 16> targets;
    {
        QReadLocker locker(&lock_);
        if (msg.peer) {
            const auto it = clients_.constFind(msg.peer);
            if (it == clients_.cend()) {
                qWarning() << "WebSkt_Server drops a message for a client that is gone:" << msg.url
                           << msg.user_agent;
                return;
            }
            targets.append(it->socket);
        } else {
            for (const Client& client : qAsConst(clients_))
                targets.append(client.socket);
        }
    }
    const QString text = serialize_Setup2_Json(msg);
    for (QWebSocket* client : targets) {
        if (client->sendTextMessage(text) <= 0)
            qWarning() << "QWebSocket send fail!";
    }
}
