#pragma once

#include "devicenetinfo_detail.h"
#include "udpsend_cond.h"

#include <QByteArray>
#include <QFuture>
#include <QMap>
#include <QMetaType>
#include <QMutex>
#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <netinet/in.h>
#include <string>

using KMB_INTER_ERROR = int;

Q_DECLARE_METATYPE(sockaddr_in)
Q_DECLARE_METATYPE(std::string)

// Base of the datagram services: the host's interfaces, bound listening sockets
// served by one background loop, and sends from a chosen local interface.
class UDP_Core : public QObject
{
    Q_OBJECT
public:
    // Error bits of addListen and send_core.
    enum : int {
        kErrNone = 0,
        kErrBroadcast = 2,
        kErrBind = 4,
        kErrNonBlock = 8,
        kErrNoReply = 16,
        kErrBadTiming = 32,
    };
    static constexpr int kRecvBlockBytes = 2048;   // longer datagrams are cut to this
    static constexpr int kSelectTimeoutMs = 200;
    static constexpr int kMaxWaitMs = 1000;        // a waiting send never blocks longer

    // Replaces every datagram send of every core (tests); an empty function restores the sockets.
    using SendHook = std::function<int(const Udpsend_Cond&, const std::string& payload, std::string& reply)>;
    static void setSendHook(SendHook hook);

    explicit UDP_Core(QObject* parent = nullptr);
    ~UDP_Core() override;

    KMB_INTER_ERROR addListen(std::string address, int port);
    void stopListen();
    // With a wait time, blocks until a reply from the addressed peer (any peer for a
    // broadcast) arrives on the sending socket, or the wait ends (16).
    int send_core(Udpsend_Cond cond, std::string payload, std::string& reply);

    DeviceNetInfo_Detail foundNetBaseByIP(const QString& ip);
    QString getSameUseNet(QString ip);

    QMap<QString, DeviceNetInfo_Detail> interfaces() const { return m_interfaces; }
    void setInterfaces(const QMap<QString, DeviceNetInfo_Detail>& table) { m_interfaces = table; }
    QString deviceId() const { return m_id; }

signals:
    void sig_sync_send_core(QString recv);

public slots:
    virtual QString AnalysisRecvMessage(sockaddr_in from, const QByteArray& data);
    virtual void PrintRecvMsg(QString result, QString text);
    void Slot_StartListen();

protected:
    // Name of the interface the datagram being handled arrived on; empty when unknown.
    QString arrivalInterface() const { return m_arrivalInterface; }
    void setArrivalInterface(const QString& name) { m_arrivalInterface = name; }
    bool isBroadcastTarget(const std::string& address) const;
    // Address, mask, gateway and MAC of the named interface as the system has them now.
    static bool readInterface(const QString& name, DeviceNetInfo_Detail& detail);
    // One datagram to 255.255.255.255:port from the local address, no reply expected.
    int sendBroadcast(const std::string& payload, int port, const QString& localIp);

    QMap<QString, DeviceNetInfo_Detail> m_interfaces;   // by MAC text
    QString m_id;

private:
    void readInterfaces();
    void receiveFrom(int fd);
    int waitForReply(Udpsend_Cond cond, const std::string& payload, std::string& reply);

    QFuture<void> m_listenTask;
    std::atomic<bool> m_listening{false};
    QList<int> m_sockets;
    QMutex m_socketsMutex;
    QString m_arrivalInterface;
};
