#pragma once

#include "tcpreactor.h"

#include <QHostAddress>

class CQTcpServer;

namespace VEKC {

// Listens on an address and port; every accepted connection becomes a session.
class TcpServReactor : public TcpReactor
{
    Q_OBJECT
public:
    TcpServReactor() = default;
    ~TcpServReactor() override;

    // The port actually listened on (the asked one, or the one chosen for port 0).
    quint16 serverPort() const { return listenPort_; }

public slots:
    bool isRunning() const override;
    bool onStart() override;
    void onFinish() override;

protected:
    void sessionGone() override;

private:
    void acceptPending();
    // Closes the oldest connection idle past the eviction age; false when none is.
    bool evictIdleSession();
    // Closes the connections whose peer has closed and whose thread has not read the end yet:
    // the caps count live connections only. Accepts come before the reads of the same pass, so
    // a client that connects per request still holds the connection it has just closed.
    void dropClosedSessions();
    void armIdleCheck();
    // Lifts the pause and hands the connections waiting in the listener's queue their slots.
    void endPause();
    int sessionsFrom(const QHostAddress& address);
    void logRefusal(const char* why, const QHostAddress& address);
    // The refusals counted since the last line, in one line (also when the server goes).
    void writeRefusals();

    // Accepting pauses at the connection limit instead of refusing in a loop.
    bool acceptPaused_ = false;
    qint64 refusedSinceLog_ = 0;
    const char* lastRefusal_ = "";
    QHostAddress lastRefusedAddress_;
    qint64 lastRefusalLogMs_ = 0;

    QSharedPointer<CQTcpServer> tcpServer_;
    std::atomic<quint16> listenPort_{0};
};

} // namespace VEKC
