#pragma once

#include "gvcp_discover_ack_payload.h"
#include "udp_core.h"

#include <QList>
#include <QMap>

// Host side of the camera discovery protocol. Its actions block the caller in
// a nested event loop while acknowledges arrive, so they run in its own thread.
class UDP_ACam_Client : public UDP_Core
{
    Q_OBJECT
public:
    static constexpr int kDiscoverWaitMs = 500;
    static constexpr int kCommandWaitMs = 200;
    static constexpr int kForceIpWaitMs = 1000;
    static constexpr int kCandidates = 250;
    static constexpr int kLastPartCycle = 253;   // last parts 1 to 253 are proposed

    // One device to be given an address.
    struct ForceIpPlan
    {
        QString localIp;   // the host interface that sends the command
        QString id;
        QString ip;
        QString mask;
        QString gateway;
    };

    explicit UDP_ACam_Client(QObject* parent = nullptr);
    ~UDP_ACam_Client() override;

    QMap<QString, gvcp_discover_ack_payload> findCamera();
    void ActForceIP();
    void ActUpdateTime();
    void ActRebootDaemon(const QString& id);

    // The FORCEIP commands ActForceIP sends for the devices found so far.
    QList<ForceIpPlan> planForceIP();
    QMap<QString, gvcp_discover_ack_payload> devices() const { return m_devices; }

    static std::string gvcp_cmd_discover();
    static std::string gvcp_cmd_forceip(const QString& ip, const QString& mask, const QString& gateway,
                                        const QString& id);
    static std::string gvcp_cmd_uptime();
    static std::string gvcp_cmd_rebootdaemon();

public slots:
    QString AnalysisRecvMessage(sockaddr_in from, const QByteArray& data) override;

private:
    static void spin(int ms);

    QMap<QString, gvcp_discover_ack_payload> m_devices;   // by device id
};
