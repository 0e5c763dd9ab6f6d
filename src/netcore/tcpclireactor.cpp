#include "tcpclireactor.h"

#include "cqtcpsocket.h"
#include "session.h"

#include <QPointer>
#include <QThreadPool>
#include <QtConcurrent>

namespace VEKC {

namespace {
// Connections are made on threads of their own: long jobs on the global pool never delay them.
QThreadPool& connectPool()
{
    static QThreadPool pool;
    return pool;
}
} // namespace

TcpCliReactor::~TcpCliReactor()
{
    deinitialize();
    remove_ClientSession(-1);
}

bool TcpCliReactor::isRunning() const
{
    return socketThreadPool_->activeThreadCount() > 0;
}

bool TcpCliReactor::onStart()
{
    QPointer<CQTcpSocket> socket;
    {
        QMutexLocker lock(&sessionMutex_);
        socket = new CQTcpSocket(nullptr);
    }
    socket->connectToHost(address_, port_, QIODevice::ReadWrite);
    if (!socket->waitForConnected(kConnectWaitMs)) {
        delete socket.data();
        return false;
    }
    adoptSocket(socket.data());
    return true;
}

bool TcpCliReactor::connectInBackground(QHostAddress const& address, quint16 port)
{
    if (m_connecting.isRunning())
        return false;
    deinitialize();
    address_ = address;
    port_ = port;
    m_connecting = QtConcurrent::run(&connectPool(), [this] { emit connectFinished(initialize()); });
    return true;
}

void TcpCliReactor::deinitialize()
{
    m_connecting.waitForFinished();
    TcpReactor::deinitialize();
}

void TcpCliReactor::onFinish()
{
    remove_ClientSession(-1);
}

int TcpCliReactor::hasSession()
{
    return sessionCount() > 0 ? 1 : 0;
}

QList<int> TcpCliReactor::getAliveSession()
{
    bool reconnect = false;
    {
        QMutexLocker lock(&sessionMutex_);
        for (const QPointer<Session>& s : sessions_)
            if (s && !s->isWorking())
                reconnect = true;
    }
    if (reconnect && !reAction(address_, port_))
        return {};
    return TcpReactor::getAliveSession();
}

} // namespace VEKC
