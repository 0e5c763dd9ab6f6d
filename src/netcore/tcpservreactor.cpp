#include "tcpservreactor.h"

#include "cqtcpserver.h"
#include "clock.h"
#include "descriptorreserve.h"
#include "netaddress.h"
#include "session.h"

#include <QDebug>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

namespace VEKC {

namespace {
constexpr qint64 kRefusalLogPeriodMs = 1000;
constexpr int kAcceptRetryMs = 500;   // after the process ran out of descriptors
}

TcpServReactor::~TcpServReactor()
{
    deinitialize();
    tcpServer_.reset();
    // The last refusals of a flood are told, not left in the count.
    writeRefusals();
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
    // Out of descriptors, the server pauses accepting: it tries again shortly instead of for good.
    connect(tcpServer_.data(), &QTcpServer::acceptError, tcpServer_.data(), [this] {
        logRefusal("accept failed", QHostAddress());
        QTimer::singleShot(kAcceptRetryMs, tcpServer_.data(), [this] {
            if (tcpServer_ && !acceptPaused_)
                tcpServer_->resumeAccepting();
        });
    });
    if (!tcpServer_->listen(address_, port_)) {
        tcpServer_.reset();
        return false;
    }
    listenPort_ = tcpServer_->serverPort();
    acceptPaused_ = false;
    return true;
}

void TcpServReactor::acceptPending()
{
    while (tcpServer_ && tcpServer_->hasPendingConnections()) {
        if (sessionCount() >= limits_.maxConnections)
            dropClosedSessions();
        if (sessionCount() >= limits_.maxConnections && !evictIdleSession()) {
            // The kernel's backlog holds the rest until a slot frees.
            if (!acceptPaused_)
                qWarning() << "TcpServReactor" << "accepting paused, connection limit reached:" << limits_.maxConnections;
            acceptPaused_ = true;
            tcpServer_->pauseAccepting();
            armIdleCheck();
            return;
        }
        QTcpSocket* socket = tcpServer_->nextPendingConnection();
        if (!socket)
            break;
        const QHostAddress peer = socket->peerAddress();
        if (sessionsFrom(peer) >= limits_.maxConnectionsPerAddress || !DescriptorReserve::enoughFree())
            dropClosedSessions();
        // The descriptors kept for files and dialogs are not given to connections either.
        const char* refusal = sessionsFrom(peer) >= limits_.maxConnectionsPerAddress ? "per-address limit reached"
            : !DescriptorReserve::enoughFree() && !evictIdleSession()              ? "descriptor reserve reached"
                                                                                     : nullptr;
        if (refusal) {
            logRefusal(refusal, peer);
            socket->abort();
            socket->deleteLater();
            continue;
        }
        handOver(socket);
    }
}

void TcpServReactor::sessionGone()
{
    if (QThread::currentThread() != mainLoopThread_) {
        // The listener belongs to the main loop: the news goes there.
        QMutexLocker lock(&sessionMutex_);
        if (tcpServer_)
            QMetaObject::invokeMethod(tcpServer_.data(), [this] { sessionGone(); }, Qt::QueuedConnection);
        return;
    }
    if (!acceptPaused_ || !tcpServer_ || sessionCount() >= limits_.maxConnections)
        return;
    endPause();
}

void TcpServReactor::endPause()
{
    acceptPaused_ = false;
    qInfo() << "TcpServReactor" << "accepting again";
    tcpServer_->resumeAccepting();
    // A connection that found the slots taken was already taken from the backlog and
    // waits in the listener's queue, of which the resumed listener says nothing.
    acceptPending();
}

void TcpServReactor::armIdleCheck()
{
    // While paused, a connection that turns idle gives its slot to one waiting in the backlog.
    QTimer::singleShot(qMin(limits_.evictIdleAfterMs, NetDefaults::kPausedCheckMs), tcpServer_.data(), [this] {
        if (!acceptPaused_ || !tcpServer_)
            return;
        if (sessionCount() < limits_.maxConnections || evictIdleSession()) {
            endPause();
            return;
        }
        armIdleCheck();
    });
}

// A session's state is read and its socket closed only in the thread it lives in.
bool TcpServReactor::evictIdleSession()
{
    int idlest = 0;
    QThread* owner = nullptr;
    for (QThread* thread : loopThreads()) {
        runInLoopOf(thread, [&] {
            QMutexLocker lock(&sessionMutex_);
            for (const QPointer<Session>& s : qAsConst(sessions_)) {
                if (s && s->thread() == thread && s->isIdleFor(limits_.evictIdleAfterMs)
                    && (idlest == 0 || s->id() < idlest)) {
                    idlest = s->id();
                    owner = thread;
                }
            }
        });
    }
    if (!owner)
        return false;
    bool evicted = false;
    runInLoopOf(owner, [&] {
        QPointer<Session> session;
        {
            QMutexLocker lock(&sessionMutex_);
            session = sessions_.value(idlest);
        }
        if (!session || !session->socket() || !session->isIdleFor(limits_.evictIdleAfterMs))
            return;
        session->socket()->abort();   // its disconnected() takes it off the map
        remove_ClientSession(idlest);
        evicted = true;
    });
    return evicted;
}

void TcpServReactor::dropClosedSessions()
{
    for (QThread* thread : loopThreads()) {
        runInLoopOf(thread, [&] {
            QList<QPointer<Session>> closed;
            {
                QMutexLocker lock(&sessionMutex_);
                for (const QPointer<Session>& s : qAsConst(sessions_))
                    if (s && s->thread() == thread && s->socket() && s->socket()->socketDescriptor() >= 0
                        && peerHasClosed(int(s->socket()->socketDescriptor())))
                        closed << s;
            }
            // Its disconnected() takes it off the map, as the read of the end would have.
            for (const QPointer<Session>& s : qAsConst(closed))
                if (s && s->socket())
                    s->socket()->abort();
        });
    }
}

int TcpServReactor::sessionsFrom(const QHostAddress& address)
{
    QMutexLocker lock(&sessionMutex_);
    int n = handOversFrom(address);
    for (const QPointer<Session>& s : qAsConst(sessions_))
        n += s && s->peerAddress().isEqual(address) ? 1 : 0;
    return n;
}

void TcpServReactor::logRefusal(const char* why, const QHostAddress& address)
{
    // A flood of refused connections writes a line a second at most, with its count.
    ++refusedSinceLog_;
    lastRefusal_ = why;
    lastRefusedAddress_ = address;
    if (MonotonicClock::ms() - lastRefusalLogMs_ >= kRefusalLogPeriodMs)
        writeRefusals();
}

void TcpServReactor::writeRefusals()
{
    if (refusedSinceLog_ == 0)
        return;
    qWarning().noquote() << "TcpServReactor connection refused," << lastRefusal_ << lastRefusedAddress_.toString()
                         << "(" << refusedSinceLog_ << "refused since the last line)";
    refusedSinceLog_ = 0;
    lastRefusalLogMs_ = MonotonicClock::ms();
}

void TcpServReactor::onFinish()
{
    remove_ClientSession(-1);
    QMutexLocker lock(&sessionMutex_);
    tcpServer_.reset();
    listenPort_ = 0;
}

} // namespace VEKC
