#pragma once

#include "tcpreactor.h"

#include <QFuture>

namespace VEKC {

// One outgoing connection, made when the reactor starts; no reconnect of its own.
class TcpCliReactor : public TcpReactor
{
    Q_OBJECT
public:
    static constexpr int kConnectWaitMs = 200;

    TcpCliReactor() = default;
    ~TcpCliReactor() override;

    int hasSession();

    // Connects on a pool thread and returns at once: the connection's wait never holds the
    // caller. connectFinished tells the outcome; false when a connection is still being made.
    bool connectInBackground(QHostAddress const& address, quint16 port);
    bool connecting() const { return m_connecting.isRunning(); }

signals:
    void connectFinished(bool ok);

public slots:
    bool isRunning() const override;
    QList<int> getAliveSession() override;
    bool onStart() override;
    void onFinish() override;
    // Waits for a connection being made first: its loop is then there to be ended.
    void deinitialize() override;

private:
    QFuture<void> m_connecting;
};

} // namespace VEKC
