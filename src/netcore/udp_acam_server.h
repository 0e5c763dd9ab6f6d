#pragma once

#include "udp_core.h"

// Device side of the camera discovery protocol: answers DISCOVERY on every
// interface, takes a FORCEIP meant for it, sets its clock on WRITEREG.
class UDP_ACam_Server : public UDP_Core
{
    Q_OBJECT
public:
    static constexpr char kModelText[] = "MM-CAM-LINK-01";    // 14 characters
    static constexpr char kVersionText[] = "V2.8.6 180210 143913";
    static constexpr char kDeviceClassText[] = "MM-CAMERA-1";  // 11 characters
    static constexpr int kShellTimeoutMs = 10000;

    explicit UDP_ACam_Server(QObject* parent = nullptr);
    ~UDP_ACam_Server() override;

    static std::string gvcp_ack_discover(const char* id, const char* requester, const char* ip, const char* mask,
                                         const char* gateway, const char* mac);
    static std::string gvcp_ack_forceip(const char* id, const char* requester, const char* ip, const char* mask,
                                        const char* gateway, const char* mac);
    static std::string gvcp_ack_updatetime();

signals:
    void sig_updatetime();
    void sig_rebootdaemon();

public slots:
    QString AnalysisRecvMessage(sockaddr_in from, const QByteArray& data) override;

private:
    void onForceIp(const std::string& packet, const QString& requester);
    void onWriteReg(const std::string& packet, const QString& requester);
    // The interface a command reached: where it arrived, else the one in the
    // requester's subnet, else the first.
    DeviceNetInfo_Detail answeringInterface(const QString& requester) const;
};
