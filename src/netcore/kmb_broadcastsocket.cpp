#include "kmb_broadcastsocket.h"

#include "netaddress.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

KMB_BroadcastSocket::KMB_BroadcastSocket(Udpsend_Cond cond) : cond_(std::move(cond))
{
    dest_.sin_family = AF_INET;
    dest_.sin_port = htons(static_cast<uint16_t>(cond_.dstport));
    inet_pton(AF_INET, cond_.dstip.c_str(), &dest_.sin_addr);

    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, cond_.localip.c_str(), &local.sin_addr);
    for (int attempt = 0; attempt < kBindAttempts; ++attempt) {
        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        if (fd < 0)
            continue;
        const int on = 1;
        local.sin_port = htons(RandPort());
        if (setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) == 0 && set_socket_nonblock(fd) >= 0
            && bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0) {
            fd_ = fd;
            return;
        }
        close(fd);
    }
}

KMB_BroadcastSocket::~KMB_BroadcastSocket()
{
    if (fd_ > 0)
        close(fd_);
}

int KMB_BroadcastSocket::send(std::string data)
{
    return send(data.data(), int(data.size()));
}

int KMB_BroadcastSocket::send(const void* data, int length)
{
    if (fd_ <= 0)
        return -1;
    return int(sendto(fd_, data, size_t(length), 0, reinterpret_cast<const sockaddr*>(&dest_), sizeof dest_));
}

sockaddr_in KMB_BroadcastSocket::localName() const
{
    sockaddr_in local{};
    socklen_t size = sizeof local;
    if (fd_ > 0)
        getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &size);
    return local;
}

std::string KMB_BroadcastSocket::localAddress() const
{
    return fd_ > 0 ? nint2string(localName().sin_addr.s_addr) : std::string();
}

int KMB_BroadcastSocket::localPort() const
{
    return ntohs(localName().sin_port);
}
