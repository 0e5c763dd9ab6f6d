#include "udp_acam_client.h"

#include "clock.h"
#include "gvcppacket.h"
#include "netaddress.h"

#include <QDebug>
#include <QEventLoop>
#include <QTimer>

#include <cstring>

namespace {
const QString kDashes53(53, '-');
constexpr char kNoAddress[] = "0.0.0.0";
} // namespace

UDP_ACam_Client::UDP_ACam_Client(QObject* parent) : UDP_Core(parent)
{
    addListen(Gvcp::kBroadcast, Gvcp::kAckPort);
    ActUpdateTime();
}

UDP_ACam_Client::~UDP_ACam_Client()
{
    stopListen();
}

std::string UDP_ACam_Client::gvcp_cmd_discover()
{
    return Gvcp::command(Gvcp::kDiscoveryCmd, 0);
}

std::string UDP_ACam_Client::gvcp_cmd_forceip(const QString& ip, const QString& mask, const QString& gateway,
                                              const QString& id)
{
    std::string packet = Gvcp::command(Gvcp::kForceIpCmd, Gvcp::kForceIpPayload);
    Gvcp::putIp(packet, Gvcp::kOffIp, ip);
    Gvcp::putIp(packet, Gvcp::kOffMask, mask);
    Gvcp::putIp(packet, Gvcp::kOffGateway, gateway);
    Gvcp::putText(packet, Gvcp::TextField{Gvcp::kOffForceId, Gvcp::kIdBytes}, id);
    return packet;
}

std::string UDP_ACam_Client::gvcp_cmd_uptime()
{
    std::string packet = Gvcp::command(Gvcp::kWriteRegCmd, Gvcp::kWriteRegPayload);
    Gvcp::putLe32(packet, Gvcp::kOffSubCode, Gvcp::kSubUpdateTime);
    Gvcp::putLe64(packet, Gvcp::kOffTime, Clock::nowMSecsSinceEpoch());
    return packet;
}

std::string UDP_ACam_Client::gvcp_cmd_rebootdaemon()
{
    std::string packet = Gvcp::command(Gvcp::kWriteRegCmd, Gvcp::kWriteRegPayload);
    Gvcp::putLe32(packet, Gvcp::kOffSubCode, Gvcp::kSubRestartService);
    return packet;
}


void UDP_ACam_Client::spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

QString UDP_ACam_Client::AnalysisRecvMessage(sockaddr_in from, const QByteArray& data)
{
    Q_UNUSED(from)
    if (data.size() < Gvcp::kHeaderBytes)
        return "no success";
    const std::string packet = data.toStdString();
    switch (Gvcp::code(packet)) {
    case Gvcp::kDiscoveryAck: {
        const gvcp_discover_ack_payload record = gvcp_discover_ack_payload::fromPacket(packet);
        m_devices.insert(record.idText(), record);
        qInfo() << "AppCli-Recv(GVCP_DISCOVERY_ACK):" << record.modelText() << record.idText() << record.ipText()
                << record.maskText() << "->" << record.requesterText();
        break;
    }
    case Gvcp::kForceIpAck: {
        const std::string ack = Gvcp::clipped(packet, Gvcp::kForceIpPayload);
        const QString id = Gvcp::text(ack, Gvcp::TextField{Gvcp::kOffForceId, Gvcp::kIdBytes});
        auto it = m_devices.find(id);
        if (it != m_devices.end()) {
            // requester, address, mask and gateway sit at the same offsets in both acknowledges
            std::memcpy(it->requester, ack.data() + Gvcp::kOffRequester, 16);
            qInfo() << "AppCli-Recv(GVCP_FORCEIP_ACK) found:" << id << it->ipText() << it->maskText() << "->"
                    << it->requesterText();
        }
        break;
    }
    default:
        break;
    }
    qInfo().noquote() << kDashes53;
    return "success";
}

QMap<QString, gvcp_discover_ack_payload> UDP_ACam_Client::findCamera()
{
    m_devices.clear();
    for (const DeviceNetInfo_Detail& netif : qAsConst(m_interfaces))
        sendBroadcast(gvcp_cmd_discover(), Gvcp::kCommandPort, netif.ip);
    spin(kDiscoverWaitMs);
    return m_devices;
}

void UDP_ACam_Client::ActUpdateTime()
{
    for (const DeviceNetInfo_Detail& netif : qAsConst(m_interfaces))
        sendBroadcast(gvcp_cmd_uptime(), Gvcp::kCommandPort, netif.ip);
    spin(kCommandWaitMs);
}

void UDP_ACam_Client::ActRebootDaemon(const QString& id)
{
    auto it = m_devices.constFind(id);
    if (it == m_devices.constEnd()) {
        qInfo() << "Reboot OruCamera error!";
        return;
    }
    const QString local = getSameUseNet(it->ipText());
    if (local.isEmpty())
        return;
    sendBroadcast(gvcp_cmd_rebootdaemon(), Gvcp::kCommandPort, local);
    spin(kCommandWaitMs);
}

QList<UDP_ACam_Client::ForceIpPlan> UDP_ACam_Client::planForceIP()
{
    QList<ForceIpPlan> entries;
    QList<QString> gateways;   // of the local interface of each entry
    for (const gvcp_discover_ack_payload& device : qAsConst(m_devices)) {
        const QString requester = device.requesterText();
        const DeviceNetInfo_Detail local = foundNetBaseByIP(requester);
        if (local.isEmpty())
            continue;
        const QString deviceNet = getSubNet(device.ipText(), device.maskText());
        const QString localNet = getSubNet(requester, local.mask);
        if (deviceNet.isEmpty() || localNet.isEmpty())
            continue;
        // Outside the host's subnet the host's own address is planned: it is certain to clash and move.
        const bool sameNet = deviceNet == localNet;
        entries << ForceIpPlan{requester, device.idText(), sameNet ? device.ipText() : requester,
                               sameNet ? device.maskText() : local.mask, QString()};
        gateways << local.gateway;
    }

    QStringList inUse;
    for (const DeviceNetInfo_Detail& netif : qAsConst(m_interfaces))
        inUse << netif.ip;

    QList<ForceIpPlan> queued;
    for (int i = 0; i < entries.size(); ++i) {
        ForceIpPlan entry = entries.at(i);
        if (!inUse.contains(entry.ip)) {
            inUse << entry.ip;   // the device may stay where it is
            continue;
        }
        const QStringList parts = entry.ip.split('.');
        if (parts.size() != 4)
            continue;
        const int last = parts.last().toInt();
        for (int k = 0; k < kCandidates; ++k) {
            QString candidate = entry.ip;
            if (!setIPLast(candidate, (last + k) % kLastPartCycle + 1))
                break;
            if (inUse.contains(candidate))
                continue;
            entry.ip = candidate;
            // The device's way out is the host side's gateway when it lies in the new
            // subnet, else the host interface itself; never the device's own address.
            const QString gateway = gateways.at(i);
            const QString net = getSubNet(candidate, entry.mask);
            entry.gateway = (!gateway.isEmpty() && gateway != kNoAddress && getSubNet(gateway, entry.mask) == net)
                                ? gateway
                                : entry.localIp;
            inUse << candidate;
            queued << entry;
            break;
        }
    }
    return queued;
}

void UDP_ACam_Client::ActForceIP()
{
    const QList<ForceIpPlan> queued = planForceIP();
    if (queued.isEmpty())
        return;
    for (const ForceIpPlan& entry : queued)
        sendBroadcast(gvcp_cmd_forceip(entry.ip, entry.mask, entry.gateway, entry.id), Gvcp::kCommandPort, entry.localIp);
    spin(kForceIpWaitMs);
}
