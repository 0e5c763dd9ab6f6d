#pragma once

#include "udpsend_cond.h"

#include <netinet/in.h>
#include <string>

// Sending socket of the broadcast core: bound to the condition's local address
// and a random port, broadcast enabled, non-blocking.
class KMB_BroadcastSocket
{
public:
    static constexpr int kBindAttempts = 1000;

    explicit KMB_BroadcastSocket(Udpsend_Cond cond);
    ~KMB_BroadcastSocket();
    KMB_BroadcastSocket(const KMB_BroadcastSocket&) = delete;
    KMB_BroadcastSocket& operator=(const KMB_BroadcastSocket&) = delete;

    // One sendto of the bytes to the destination; its result, or -1 without a socket.
    int send(std::string data);
    int send(const void* data, int length);

    int descriptor() const { return fd_; }
    const Udpsend_Cond& cond() const { return cond_; }
    const sockaddr_in& destination() const { return dest_; }
    // Bound local address and port as "a.b.c.d" and number; empty and 0 without a socket.
    std::string localAddress() const;
    int localPort() const;

private:
    sockaddr_in localName() const;

    Udpsend_Cond cond_;
    int fd_ = 0;
    sockaddr_in dest_{};
};
