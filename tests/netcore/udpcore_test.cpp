#include "qttesthelpers.h"
#include "udp_core.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

namespace {

// A plain socket on a loopback address and a free port.
struct PlainSocket
{
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local{};

    explicit PlainSocket(const char* ip, quint16 port = 0)
    {
        local.sin_family = AF_INET;
        local.sin_port = htons(port);
        inet_pton(AF_INET, ip, &local.sin_addr);
        bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
        socklen_t size = sizeof local;
        getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size);
    }
    ~PlainSocket() { close(fd); }
    quint16 port() const { return ntohs(local.sin_port); }
    // One datagram within the time; the sender in *sender.
    QByteArray receive(int timeoutMs, sockaddr_in* sender = nullptr)
    {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0)
            return QByteArray();
        char block[4096];
        sockaddr_in from{};
        socklen_t size = sizeof from;
        const ssize_t n = recvfrom(fd, block, sizeof block, 0, reinterpret_cast<sockaddr*>(&from), &size);
        if (sender)
            *sender = from;
        return QByteArray(block, int(qMax<ssize_t>(n, 0)));
    }
    void sendTo(const sockaddr_in& to, const QByteArray& bytes)
    {
        sendto(fd, bytes.constData(), size_t(bytes.size()), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
};

Udpsend_Cond loopbackCond(quint16 port, int waitMs, int resendMs = 0)
{
    Udpsend_Cond cond;
    cond.dstip = "127.0.0.1";
    cond.dstport = port;
    cond.localip = "127.0.0.1";
    cond.waittime_ms = waitMs;
    cond.resend_ms = resendMs;
    return cond;
}

class RecordingCore : public UDP_Core
{
public:
    QList<QByteArray> received;
    QString AnalysisRecvMessage(sockaddr_in from, const QByteArray& data) override
    {
        received << data;
        return UDP_Core::AnalysisRecvMessage(from, data);
    }
    ~RecordingCore() override { stopListen(); }
};

} // namespace

TEST(UdpCore, WaitingSendTakesOnlyTheAddressedPeersReplyAndBoundsItsWait)
{
    UDP_Core core;
    std::string reply;
    EXPECT_EQ(core.send_core(loopbackCond(9, -1), "x", reply), 32);
    EXPECT_EQ(core.send_core(loopbackCond(9, 10, -1), "x", reply), 32);

    PlainSocket peer("127.0.0.1");
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(core.send_core(loopbackCond(peer.port(), 0, 300), "once", reply), 0);
    EXPECT_LT(timer.elapsed(), 200);
    EXPECT_EQ(peer.receive(1000), QByteArray("once"));
    EXPECT_TRUE(peer.receive(400).isEmpty());

    // The peer answers after a stray datagram from another loopback address reached the sender.
    std::thread answer([&peer] {
        sockaddr_in sender{};
        if (peer.receive(3000, &sender) != "ask")
            return;
        PlainSocket stray("127.0.0.2");
        stray.sendTo(sender, "stray");
        usleep(50000);
        peer.sendTo(sender, QByteArray("real\0tail", 9));
    });
    EXPECT_EQ(core.send_core(loopbackCond(peer.port(), 1000), "ask", reply), 0);
    answer.join();
    EXPECT_EQ(reply, std::string("real\0tail", 9));

    // Nobody answers: at most a second whatever was asked, then 16; a resend goes out meanwhile.
    timer.restart();
    EXPECT_EQ(core.send_core(loopbackCond(peer.port(), 5000, 300), "ask", reply), 16);
    EXPECT_GE(timer.elapsed(), 950);
    EXPECT_LT(timer.elapsed(), 1500);
    int copies = 0;
    while (!peer.receive(100).isEmpty())
        ++copies;
    EXPECT_GE(copies, 3);
}

TEST(UdpCore, ListeningLoopHandsEachDatagramWithItsRealLength)
{
    RecordingCore core;
    PlainSocket probe("127.0.0.1");
    const quint16 port = probe.port();
    close(probe.fd);
    probe.fd = -1;
    ASSERT_EQ(core.addListen("127.0.0.1", port), 0);
    EXPECT_EQ(core.addListen("127.0.0.1", port), 4);   // already bound
    EXPECT_EQ(core.addListen("not-an-address", port), 4);

    QSignalSpy texts(&core, &UDP_Core::sig_sync_send_core);
    PlainSocket sender("127.0.0.1");
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    sender.sendTo(to, "hello");
    sender.sendTo(to, QByteArray(3000, 'z'));
    ASSERT_TRUE(waitUntil([&] { return core.received.size() == 2; }));
    EXPECT_EQ(core.received[0], QByteArray("hello"));
    EXPECT_EQ(core.received[1], QByteArray(2048, 'z'));
    ASSERT_GE(texts.count(), 1);
    EXPECT_EQ(texts.at(0).at(0).toString(), "hello");

    core.stopListen();
    sender.sendTo(to, "late");
    QTest::qWait(300);
    EXPECT_EQ(core.received.size(), 2);
}

TEST(UdpCore, FindsInterfacesByAddressAndSubnet)
{
    UDP_Core core;
    core.setInterfaces({
        {"02:00:00:00:00:01", DeviceNetInfo_Detail{"a", "10.0.0.5", "255.0.0.0", "", "02:00:00:00:00:01", ""}},
        {"02:00:00:00:00:02", DeviceNetInfo_Detail{"b", "192.168.3.1", "255.255.255.0", "", "02:00:00:00:00:02", ""}},
    });
    EXPECT_EQ(core.getSameUseNet("192.168.3.7"), "192.168.3.1");
    EXPECT_EQ(core.getSameUseNet("10.200.1.1"), "10.0.0.5");
    EXPECT_EQ(core.getSameUseNet("172.16.0.1"), "");
    EXPECT_EQ(core.foundNetBaseByIP("192.168.3.1").name, "b");
    EXPECT_TRUE(core.foundNetBaseByIP("192.168.3.2").isEmpty());
    EXPECT_EQ(core.deviceId().size(), 32);
}
