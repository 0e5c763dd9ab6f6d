#pragma once

#include "tcpreactor.h"

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

public slots:
    bool isRunning() const override;
    QList<int> getAliveSession() override;
    bool onStart() override;
    void onFinish() override;
};

} // namespace VEKC
