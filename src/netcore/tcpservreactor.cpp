#include "tcpservreactor.h"

#include "cqtcpserver.h"
#include "clock.h"
#include "session.h"

#include <QDebug>
#include <QTcpSocket>

namespace VEKC {

TcpServReactor::~TcpServReactor()
{
    deinitialize();
    tcpServer_.reset();
}

bool TcpServReactor::isRunning() const
{
    return running_ && MonotonicClock::ms() - aliveStamp_ < kAliveWindowMs;
}

bool TcpServReactor::onStart()
{
    QMutexLocker lock(&sessionMutex_);
    tcpServer_.reset(new CQTcpServer(nullptr));
    connect(tcpServer_.data(), &QTcpServer::newConnection, this, &TcpServReactor::acceptPending,
            Qt::DirectConnection);
    if (!tcpServer_->listen(address_, port_)) {
        tcpServer_.reset();
        return false;
    }
    listenPort_ = tcpServer_->serverPort();
    return true;
}

void TcpServReactor::acceptPending()
{
    while (tcpServer_ && tcpServer_->hasPendingConnections()) {
        QTcpSocket* socket = tcpServer_->nextPendingConnection();
        if (!socket)
            break;
        if (sessionCount() >= limits_.maxConnections) {
            qWarning() << "TcpServReactor" << "connection refused, limit reached:" << limits_.maxConnections;
            socket->abort();
            socket->deleteLater();
            continue;
        }
        adoptSocket(socket);
    }
}

void TcpServReactor::onFinish()
{
    remove_ClientSession(-1);
    QMutexLocker lock(&sessionMutex_);
    tcpServer_.reset();
    listenPort_ = 0;
}

} // namespace VEKC
