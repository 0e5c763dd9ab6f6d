#include "netaddress.h"

#include "clock.h"
#include "hostpaths.h"

#include <QFile>
#include <QStringList>
#include <QUuid>

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kMacBytes = 6;
constexpr unsigned kMinRandPort = 10000;
constexpr unsigned kReservedPortFirst = 10410;
constexpr unsigned kReservedPortLast = 10419;
constexpr int kRouteLineMax = 255;
constexpr char kNoGateway[] = "0.0.0.0";

void copyText(char* out, const std::string& text)
{
    std::memcpy(out, text.c_str(), text.size() + 1);
}

std::string sockaddrText(const sockaddr& address)
{
    return nint2string(reinterpret_cast<const sockaddr_in&>(address).sin_addr.s_addr);
}

} // namespace

std::string nint2string(unsigned int addr)
{
    in_addr in{};
    in.s_addr = addr;
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &in, text, sizeof text);
    return text;
}

std::string ethaddr2string(unsigned char* mac)
{
    char text[3 * kMacBytes] = {};
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4],
                  mac[5]);
    return text;
}

int string2ethaddr(const QString& text, unsigned char* mac)
{
    const QStringList fields = text.split(':');
    if (fields.size() != kMacBytes)
        return 0;
    for (int i = 0; i < kMacBytes; ++i)
        mac[i] = static_cast<unsigned char>(fields.at(i).toUInt(nullptr, 16) & 0xFF);
    return 0;
}

int set_socket_nonblock(int fd)
{
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0)
        return -1; // -1 | O_NONBLOCK would set every flag
    return fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

bool peerHasClosed(int fd)
{
    char byte;
    const ssize_t got = recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

int unsentBytes(int fd)
{
    int bytes = 0;
    return ioctl(fd, SIOCOUTQ, &bytes) == 0 ? bytes : 0;
}

void resetOnClose(int fd)
{
    const linger now{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &now, sizeof now);
}

void dropUnsentOnClose(int fd)
{
    if (unsentBytes(fd) > 0)
        resetOnClose(fd);
}

unsigned short RandPort()
{
    for (;;) {
        const unsigned port = unsigned(rand()) & 0xFFFF;
        if (port > kMinRandPort && (port < kReservedPortFirst || port > kReservedPortLast))
            return static_cast<unsigned short>(port);
    }
}

int GetIfAddr(char* ifname, char* ip, char* mask, char* gateway, char* mac)
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        qWarning("socket error");
        return -1;
    }
    ifreq request{};
    std::strncpy(request.ifr_name, ifname, IFNAMSIZ - 1);
    request.ifr_addr.sa_family = AF_INET;

    if (ioctl(fd, SIOCGIFHWADDR, &request) < 0) {
        close(fd);
        qWarning("ioctl SIOCGIFHWADDR error");
        return -2;
    }
    copyText(mac, ethaddr2string(reinterpret_cast<unsigned char*>(request.ifr_hwaddr.sa_data)));

    if (ioctl(fd, SIOCGIFADDR, &request) < 0) {
        close(fd);
        return -4;
    }
    copyText(ip, sockaddrText(request.ifr_addr));

    if (ioctl(fd, SIOCGIFNETMASK, &request) < 0) {
        close(fd);
        return -5;
    }
    copyText(mask, sockaddrText(request.ifr_netmask));
    close(fd);

    // Read only: the routes of the host are never changed here. This
    // interface's own default route is preferred over another interface's.
    QFile routes(HostPaths::path("/proc/net/route"));
    if (!routes.open(QIODevice::ReadOnly))
        return -6;
    routes.readLine(); // header
    bool haveAny = false;
    bool haveOwn = false;
    unsigned long anyGateway = 0;
    unsigned long ownGateway = 0;
    while (!routes.atEnd()) {
        const QByteArray line = routes.readLine(kRouteLineMax + 1);
        char name[kRouteLineMax + 1] = {};
        unsigned long destination = 0;
        unsigned long via = 0;
        if (std::sscanf(line.constData(), "%255s\t%lX\t%lX", name, &destination, &via) != 3 || destination != 0)
            continue;
        if (!haveAny) {
            haveAny = true;
            anyGateway = via;
        }
        if (!haveOwn && std::strncmp(name, request.ifr_name, IFNAMSIZ) == 0) {
            haveOwn = true;
            ownGateway = via;
        }
    }
    if (haveOwn || haveAny)
        copyText(gateway, nint2string(static_cast<unsigned int>(haveOwn ? ownGateway : anyGateway)));
    else
        copyText(gateway, kNoGateway);
    return 0;
}

QString new_uuid()
{
    const QString first = QUuid::createUuid().toString(QUuid::WithoutBraces).section('-', 0, 0);
    return QString("SC_#%1_#%2").arg(first, Clock::now().toString("yyyyMMdd_hhmmsszzz"));
}

bool setIPLast(QString& ip, int n)
{
    QStringList fields = ip.split('.');
    if (fields.size() != 4)
        return false;
    fields[3] = QString::number(n);
    ip = fields.join('.');
    return true;
}

QString getSubNet(const QString& ip, const QString& mask)
{
    const QStringList ipFields = ip.split('.');
    const QStringList maskFields = mask.split('.');
    if (ipFields.size() != 4 || maskFields.size() != 4)
        return QString();
    QStringList net;
    for (int i = 0; i < 4; ++i) {
        bool ipOk = false;
        bool maskOk = false;
        const int a = ipFields.at(i).toInt(&ipOk);
        const int b = maskFields.at(i).toInt(&maskOk);
        if (!ipOk || !maskOk)
            return QString();
        net << QString::number(a & b);
    }
    return net.join('.');
}
