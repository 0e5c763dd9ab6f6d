#pragma once

#include "tcpreactor.h"

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

private:
    void acceptPending();

    QSharedPointer<CQTcpServer> tcpServer_;
    std::atomic<quint16> listenPort_{0};
};

} // namespace VEKC
