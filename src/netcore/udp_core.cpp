#include "udp_core.h"

#include "clock.h"
#include "kmb_broadcastsocket.h"
#include "netaddress.h"

#include <QDebug>
#include <QMutexLocker>
#include <QNetworkInterface>
#include <QtConcurrent>

#include <arpa/inet.h>
#include <net/if.h>
#include <poll.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <vector>

namespace {
constexpr int kIfTextBytes = 32;   // the address helpers write into buffers of this size
constexpr char kLoopback[] = "lo";

QMutex gHookMutex;
UDP_Core::SendHook gSendHook;

UDP_Core::SendHook currentHook()
{
    QMutexLocker locker(&gHookMutex);
    return gSendHook;
}

QString textUpToZero(const QByteArray& data)
{
    const int zero = data.indexOf('\0');
    return QString::fromLatin1(zero < 0 ? data : data.left(zero));
}

QString addressText(const sockaddr_in& address)
{
    return QString::fromStdString(nint2string(address.sin_addr.s_addr));
}

void logSend(UDP_Core* core, const KMB_BroadcastSocket& socket, const std::string& payload)
{
    const QString text = QString("[UDP_SND] %1/%2 -> %3/%4 (%5): ")
                             .arg(QString::fromStdString(socket.localAddress()))
                             .arg(socket.localPort())
                             .arg(QString::fromStdString(socket.cond().dstip))
                             .arg(socket.cond().dstport)
                             .arg(payload.size())
                         + textUpToZero(QByteArray::fromStdString(payload));
    core->PrintRecvMsg(text, text);
}
} // namespace

void UDP_Core::setSendHook(SendHook hook)
{
    QMutexLocker locker(&gHookMutex);
    gSendHook = std::move(hook);
}

UDP_Core::UDP_Core(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<sockaddr_in>("sockaddr_in");
    qRegisterMetaType<std::string>("std::string");
    readInterfaces();
    m_id = new_uuid();
}

UDP_Core::~UDP_Core()
{
    stopListen();
    QMutexLocker locker(&m_socketsMutex);
    for (int fd : m_sockets)
        close(fd);
    m_sockets.clear();
}

bool UDP_Core::readInterface(const QString& name, DeviceNetInfo_Detail& detail)
{
    QByteArray ifName = name.toLocal8Bit();
    char ip[kIfTextBytes] = {};
    char mask[kIfTextBytes] = {};
    char gateway[kIfTextBytes] = {};
    char mac[kIfTextBytes] = {};
    if (GetIfAddr(ifName.data(), ip, mask, gateway, mac) != 0)
        return false;
    detail = DeviceNetInfo_Detail{name, ip, mask, QString(), mac, gateway};
    return true;
}

void UDP_Core::readInterfaces()
{
    const QList<QNetworkInterface> all = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& netif : all) {
        DeviceNetInfo_Detail detail;
        if (netif.name() == QLatin1String(kLoopback) || !readInterface(netif.name(), detail))
            continue;
        m_interfaces.insert(detail.mac, detail);
        qInfo() << "UDP_Core modify:" << m_interfaces.keys();
    }
}

KMB_INTER_ERROR UDP_Core::addListen(std::string address, int port)
{
    qInfo() << "listen:" << QString::fromStdString(address) << "/" << port;
    m_listening = true;
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        return kErrBind;
    const int on = 1;
    if (setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
        close(fd);
        return kErrBroadcast;
    }
    if (set_socket_nonblock(fd) < 0) {
        close(fd);
        return kErrNonBlock;
    }
    // Which interface a datagram came in on decides which one answers.
    setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1
        || bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        close(fd);
        return kErrBind;
    }
    QMutexLocker locker(&m_socketsMutex);
    m_sockets.append(fd);
    if (!m_listenTask.isRunning())
        m_listenTask = QtConcurrent::run(this, &UDP_Core::Slot_StartListen);
    return kErrNone;
}

void UDP_Core::stopListen()
{
    m_listening = false;
    m_listenTask.waitForFinished();
}

void UDP_Core::Slot_StartListen()
{
    while (m_listening) {
        QList<int> sockets;
        {
            QMutexLocker locker(&m_socketsMutex);
            sockets = m_sockets;
        }
        if (sockets.isEmpty()) {
            m_listening = false;
            return;
        }
        fd_set readable;
        FD_ZERO(&readable);
        int highest = -1;
        for (int fd : sockets) {
            FD_SET(fd, &readable);
            highest = qMax(highest, fd);
        }
        timeval timeout{0, kSelectTimeoutMs * 1000};
        if (select(highest + 1, &readable, nullptr, nullptr, &timeout) <= 0)
            continue;
        for (int fd : sockets) {
            if (FD_ISSET(fd, &readable))
                receiveFrom(fd);
        }
    }
}

void UDP_Core::receiveFrom(int fd)
{
    char block[kRecvBlockBytes] = {};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    sockaddr_in sender{};
    iovec io{block, sizeof block};
    msghdr message{};
    message.msg_name = &sender;
    message.msg_namelen = sizeof sender;
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t received = recvmsg(fd, &message, 0);
    if (received < 0)
        return;
    QString ifName;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info{};
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            char name[IF_NAMESIZE] = {};
            if (if_indextoname(unsigned(info.ipi_ifindex), name))
                ifName = QString::fromLocal8Bit(name);
        }
    }
    // Handlers see exactly the bytes that came (cut to the block when longer).
    const QByteArray data(block, int(received));
    sockaddr_in local{};
    socklen_t localSize = sizeof local;
    getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localSize);
    const QString text = QString("[UDP_RCV] %1/%2 <- %3/%4 (%5): ")
                             .arg(addressText(local))
                             .arg(ntohs(local.sin_port))
                             .arg(addressText(sender))
                             .arg(ntohs(sender.sin_port))
                             .arg(textUpToZero(data).size())
                         + textUpToZero(data);
    QMetaObject::invokeMethod(this, [this, sender, data, ifName] {
        setArrivalInterface(ifName);
        AnalysisRecvMessage(sender, data);
        setArrivalInterface(QString());
    }, Qt::QueuedConnection);
    PrintRecvMsg("success", text);
}

QString UDP_Core::AnalysisRecvMessage(sockaddr_in from, const QByteArray& data)
{
    Q_UNUSED(from)
    emit sig_sync_send_core(textUpToZero(data));
    return "success";
}

void UDP_Core::PrintRecvMsg(QString result, QString text)
{
    Q_UNUSED(result)
    qInfo().noquote() << text;
}

bool UDP_Core::isBroadcastTarget(const std::string& address) const
{
    in_addr target{};
    if (inet_pton(AF_INET, address.c_str(), &target) != 1)
        return false;
    if (target.s_addr == INADDR_BROADCAST)
        return true;
    for (const DeviceNetInfo_Detail& netif : m_interfaces) {
        in_addr ip{};
        in_addr mask{};
        if (inet_pton(AF_INET, netif.ip.toLatin1().constData(), &ip) == 1
            && inet_pton(AF_INET, netif.mask.toLatin1().constData(), &mask) == 1
            && (ip.s_addr | ~mask.s_addr) == target.s_addr)
            return true;
    }
    return false;
}

int UDP_Core::send_core(Udpsend_Cond cond, std::string payload, std::string& reply)
{
    if (cond.waittime_ms < 0 || cond.resend_ms < 0)
        return kErrBadTiming;
    if (const SendHook hook = currentHook())
        return hook(cond, payload, reply);
    if (cond.waittime_ms == 0) {
        KMB_BroadcastSocket socket(cond);
        socket.send(payload);
        logSend(this, socket, payload);
        return kErrNone;
    }
    return waitForReply(cond, payload, reply);
}

// Waits on the sending socket itself, so a reply never depends on the caller's
// event loop, and only the addressed peer's datagram counts.
int UDP_Core::waitForReply(Udpsend_Cond cond, const std::string& payload, std::string& reply)
{
    KMB_BroadcastSocket socket(cond);
    const bool anyPeer = isBroadcastTarget(cond.dstip);
    const in_addr_t peer = socket.destination().sin_addr.s_addr;
    const qint64 deadline = MonotonicClock::ms() + qMin(cond.waittime_ms, kMaxWaitMs);
    socket.send(payload);
    logSend(this, socket, payload);
    qint64 nextSend = cond.resend_ms > 0 ? MonotonicClock::ms() + cond.resend_ms : deadline;
    std::vector<char> block(kRecvBlockBytes);
    for (qint64 now = MonotonicClock::ms(); now < deadline && socket.descriptor() > 0; now = MonotonicClock::ms()) {
        if (now >= nextSend) {
            socket.send(payload);
            logSend(this, socket, payload);
            nextSend = now + cond.resend_ms;
        }
        pollfd waiting{socket.descriptor(), POLLIN, 0};
        if (poll(&waiting, 1, int(qMin(deadline, nextSend) - now)) <= 0)
            continue;
        sockaddr_in sender{};
        socklen_t senderSize = sizeof sender;
        const ssize_t received = recvfrom(socket.descriptor(), block.data(), block.size(), 0,
                                          reinterpret_cast<sockaddr*>(&sender), &senderSize);
        if (received < 0)
            continue;
        if (!anyPeer && sender.sin_addr.s_addr != peer) {
            qInfo() << "UDP_Core ignores a datagram from" << addressText(sender) << "while waiting for"
                    << QString::fromStdString(cond.dstip);
            continue;
        }
        reply.assign(block.data(), size_t(received));
        return kErrNone;
    }
    return kErrNoReply;
}

int UDP_Core::sendBroadcast(const std::string& payload, int port, const QString& localIp)
{
    Udpsend_Cond cond;
    cond.dstip = "255.255.255.255";
    cond.dstport = port;
    cond.localip = localIp.toStdString();
    cond.waittime_ms = 0;
    std::string reply;
    return send_core(cond, payload, reply);
}

DeviceNetInfo_Detail UDP_Core::foundNetBaseByIP(const QString& ip)
{
    for (const DeviceNetInfo_Detail& netif : qAsConst(m_interfaces)) {
        if (netif.ip == ip)
            return netif;
    }
    return DeviceNetInfo_Detail();
}

QString UDP_Core::getSameUseNet(QString ip)
{
    for (const DeviceNetInfo_Detail& netif : qAsConst(m_interfaces)) {
        const QString net = getSubNet(netif.ip, netif.mask);
        if (!net.isEmpty() && net == getSubNet(ip, netif.mask))
            return netif.ip;
    }
    return QString();
}
