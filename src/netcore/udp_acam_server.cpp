#include "udp_acam_server.h"

#include "clock.h"
#include "gvcppacket.h"
#include "netaddress.h"
#include "shellrunner.h"

#include <QDebug>

#include <arpa/inet.h>

namespace {
const QString kDashes33(33, '-');
constexpr char kNoAddress[] = "0.0.0.0";

std::string addressAck(quint16 code, const char* id, const char* requester, const char* ip, const char* mask,
                       const char* gateway, const char* mac, int payload, Gvcp::TextField idField)
{
    std::string packet = Gvcp::acknowledge(code, payload);
    Gvcp::putMac(packet, Gvcp::kOffMac, QString::fromLatin1(mac));
    Gvcp::putIp(packet, Gvcp::kOffRequester, QString::fromLatin1(requester));
    Gvcp::putIp(packet, Gvcp::kOffIp, QString::fromLatin1(ip));
    Gvcp::putIp(packet, Gvcp::kOffMask, QString::fromLatin1(mask));
    Gvcp::putIp(packet, Gvcp::kOffGateway, QString::fromLatin1(gateway));
    Gvcp::putText(packet, idField, QString::fromLatin1(id));
    return packet;
}
} // namespace

UDP_ACam_Server::UDP_ACam_Server(QObject* parent) : UDP_Core(parent)
{
    addListen(Gvcp::kBroadcast, Gvcp::kCommandPort);
}

UDP_ACam_Server::~UDP_ACam_Server()
{
    stopListen();
}

std::string UDP_ACam_Server::gvcp_ack_discover(const char* id, const char* requester, const char* ip,
                                               const char* mask, const char* gateway, const char* mac)
{
    std::string packet = addressAck(Gvcp::kDiscoveryAck, id, requester, ip, mask, gateway, mac,
                                    Gvcp::kDiscoveryAckPayload, Gvcp::kDeviceIdField);
    Gvcp::putText(packet, Gvcp::kGevField, "GEV");
    Gvcp::putText(packet, Gvcp::kModelField, kModelText);
    Gvcp::putText(packet, Gvcp::kVersionField, kVersionText);
    Gvcp::putText(packet, Gvcp::kClassField, kDeviceClassText);
    return packet;
}

std::string UDP_ACam_Server::gvcp_ack_forceip(const char* id, const char* requester, const char* ip,
                                              const char* mask, const char* gateway, const char* mac)
{
    return addressAck(Gvcp::kForceIpAck, id, requester, ip, mask, gateway, mac, Gvcp::kForceIpPayload,
                      Gvcp::TextField{Gvcp::kOffForceId, Gvcp::kIdBytes});
}

std::string UDP_ACam_Server::gvcp_ack_updatetime()
{
    std::string packet = Gvcp::acknowledge(Gvcp::kWriteRegAck, Gvcp::kWriteRegPayload);
    Gvcp::putLe32(packet, Gvcp::kOffSubCode, Gvcp::kSubUpdateTime);
    Gvcp::putLe64(packet, Gvcp::kOffTime, Clock::nowMSecsSinceEpoch());
    return packet;
}


DeviceNetInfo_Detail UDP_ACam_Server::answeringInterface(const QString& requester) const
{
    const QString arrived = arrivalInterface();
    for (const DeviceNetInfo_Detail& netif : m_interfaces) {
        if (!arrived.isEmpty() && netif.name == arrived)
            return netif;
    }
    for (const DeviceNetInfo_Detail& netif : m_interfaces) {
        const QString net = getSubNet(netif.ip, netif.mask);
        if (!net.isEmpty() && net == getSubNet(requester, netif.mask))
            return netif;
    }
    return m_interfaces.isEmpty() ? DeviceNetInfo_Detail() : m_interfaces.first();
}

QString UDP_ACam_Server::AnalysisRecvMessage(sockaddr_in from, const QByteArray& data)
{
    if (data.size() < Gvcp::kHeaderBytes)
        return "no success";
    qInfo() << "AnalysisRecvMessage";
    const std::string packet = data.toStdString();
    const QString requester = QString::fromStdString(nint2string(from.sin_addr.s_addr));
    if (quint8(packet[0]) == Gvcp::kKey) {
        switch (Gvcp::code(packet)) {
        case Gvcp::kDiscoveryCmd:
            for (const DeviceNetInfo_Detail& netif : qAsConst(m_interfaces)) {
                const std::string ack = gvcp_ack_discover(
                    m_id.toLatin1().constData(), requester.toLatin1().constData(), netif.ip.toLatin1().constData(),
                    netif.mask.toLatin1().constData(), netif.gateway.toLatin1().constData(),
                    netif.mac.toLatin1().constData());
                sendBroadcast(ack, Gvcp::kAckPort, netif.ip);
                qInfo() << "ArmServ-Send(gvcp_ack_discover) callback from:" << m_id << netif.ip << "to" << requester;
            }
            break;
        case Gvcp::kForceIpCmd:
            onForceIp(packet, requester);
            break;
        case Gvcp::kWriteRegCmd:
            onWriteReg(packet, requester);
            break;
        default:
            break;
        }
    }
    qInfo() << "end" << "AnalysisRecvMessage";
    return "success";
}

void UDP_ACam_Server::onForceIp(const std::string& packet, const QString& requester)
{
    const std::string command = Gvcp::clipped(packet, Gvcp::kForceIpPayload);
    const QString ip = Gvcp::ip(command, Gvcp::kOffIp);
    const QString mask = Gvcp::ip(command, Gvcp::kOffMask);
    const QString gateway = Gvcp::ip(command, Gvcp::kOffGateway);
    const QString target = Gvcp::text(command, Gvcp::TextField{Gvcp::kOffForceId, Gvcp::kIdBytes});
    qInfo() << "ArmServ-Recv(gvcp_forceip_req):" << target << ip << mask << gateway;
    // An empty address or mask would leave the interface without an address after the flush.
    const bool usable = ip != QLatin1String(kNoAddress) && mask != QLatin1String(kNoAddress);
    if (target == m_id && !usable)
        qWarning() << "FORCEIP refused: no usable address" << ip << mask;
    if (target == m_id && usable && !m_interfaces.isEmpty()) {
        const DeviceNetInfo_Detail netif = answeringInterface(requester);
        // Only this interface's addresses and routes change; the others keep theirs.
        const QList<QStringList> steps = {
            {"ip", "addr", "flush", "dev", netif.name},
            {"ip", "route", "flush", "table", "main", "dev", netif.name},
            {"ifconfig", netif.name, ip, "netmask", mask},
            {"route", "add", "default", "gw", gateway},
        };
        for (const QStringList& step : steps) {
            const ShellResult result = runProgram(step.first(), step.mid(1), kShellTimeoutMs);
            if (!result.ok())
                qWarning() << "FORCEIP step failed:" << step.join(' ') << result.exitCode << result.stdErr.trimmed();
        }
        DeviceNetInfo_Detail now = netif;   // a failed re-read leaves the table as it was
        if (readInterface(netif.name, now)) {
            m_interfaces.remove(netif.mac);
            m_interfaces.insert(now.mac, now);
        }
        const std::string ack = gvcp_ack_forceip(m_id.toLatin1().constData(), requester.toLatin1().constData(),
                                                 now.ip.toLatin1().constData(), now.mask.toLatin1().constData(),
                                                 now.gateway.toLatin1().constData(), now.mac.toLatin1().constData());
        sendBroadcast(ack, Gvcp::kAckPort, now.ip);
        qInfo() << "ArmServ-Send(gvcp_forceip_req) response new info:" << m_id << now.ip;
    }
    qInfo().noquote() << kDashes33;
}

void UDP_ACam_Server::onWriteReg(const std::string& packet, const QString& requester)
{
    const std::string command = Gvcp::clipped(packet, Gvcp::kWriteRegPayload);
    switch (Gvcp::le32(command, Gvcp::kOffSubCode)) {
    case Gvcp::kSubUpdateTime: {
        // Only the clock is set; the time zone of the box stays as configured.
        const qint64 ms = Gvcp::le64(command, Gvcp::kOffTime);
        if (ms <= 0) {
            qWarning() << "WRITEREG time refused:" << ms;
            return;
        }
        const QString when = QString("@%1.%2").arg(ms / 1000).arg(ms % 1000, 3, 10, QChar('0'));
        const ShellResult set = runProgram("date", {"-s", when}, kShellTimeoutMs);
        if (set.ok()) {
            const ShellResult rtc = runProgram("hwclock", {"--systohc"}, kShellTimeoutMs);
            if (!rtc.ok())
                qWarning() << "hwclock --systohc failed:" << rtc.exitCode << rtc.stdErr.trimmed();
        } else {
            qWarning() << "date -s" << when << "failed:" << set.exitCode << set.stdErr.trimmed();
        }
        emit sig_updatetime();
        sendBroadcast(gvcp_ack_updatetime(), Gvcp::kAckPort, answeringInterface(requester).ip);
        break;
    }
    case Gvcp::kSubRestartService:
        emit sig_rebootdaemon();
        break;
    default:
        break;
    }
}
