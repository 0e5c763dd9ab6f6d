#include "clock.h"
#include "fakehostroot.h"
#include "fakeshellrunner.h"
#include "publictools.h"

#include <QRegularExpression>
#include <QFile>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QByteArray kBlkidTwoDisks =
    "/dev/sda1: UUID=\"1b2c3d4e-aaaa-bbbb-cccc-0123456789ab\" BLOCK_SIZE=\"4096\" TYPE=\"ext4\" PARTUUID=\"1\"\n"
    "/dev/sda2: UUID=\"abcd\" TYPE=\"swap\"\n"
    "/dev/sdb1: UUID=\"99999999-8888-7777-6666-555555555555\" TYPE=\"ext4\"\n"
    "/dev/sdc: PTUUID=\"x\" PTTYPE=\"gpt\" UUID=\"ffffffff-0000-0000-0000-000000000000\" TYPE=\"ext4\"\n";

} // namespace

TEST(PublicToolsTest, ClocksInMillisecondsAndHundredths)
{
    Clock::setFixed(QDateTime::fromMSecsSinceEpoch(1000000000000LL));
    EXPECT_EQ(gettimeofday_ms(), 1000000000000LL);
    EXPECT_EQ(curtime_qint64_2_int(), 0);
    Clock::setFixed(QDateTime::fromMSecsSinceEpoch(1700000000123LL));
    EXPECT_EQ(curtime_qint64_2_int(), 12);
    // Setting the wall clock back does not move the monotonic one back.
    const qint64 before = monotonic_ms();
    Clock::setFixed(QDateTime::fromMSecsSinceEpoch(1000LL));
    EXPECT_GE(monotonic_ms(), before);
    // Hundredths between two millisecond readings (one call may cross a boundary).
    const qint64 msBefore = monotonic_ms();
    const qint64 cs = monotonic_cs();
    const qint64 msAfter = monotonic_ms();
    EXPECT_GE(cs, msBefore / 10);
    EXPECT_LE(cs, msAfter / 10);
    Clock::reset();
}

TEST(PublicToolsTest, AddressTexts)
{
    QString ip = "192.168.1.20";
    EXPECT_TRUE(setIPLast(ip, 7));
    EXPECT_EQ(ip, "192.168.1.7");
    QString shortIp = "192.168.1";
    EXPECT_FALSE(setIPLast(shortIp, 7));
    EXPECT_EQ(shortIp, "192.168.1");

    EXPECT_EQ(getSubNet("192.168.10.77", "255.255.255.0"), "192.168.10.0");
    EXPECT_EQ(getSubNet("192.168.10.x", "255.255.255.0"), "");
    EXPECT_EQ(getSubNet("192.168.10", "255.255.255.0"), "");

    unsigned char mac[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(string2ethaddr("aa:bb:cc", mac), 0);
    EXPECT_EQ(mac[0], 1);
    EXPECT_EQ(string2ethaddr("aa:bb:cc:zz:1FF:0e", mac), 0);
    EXPECT_EQ(ethaddr2string(mac), "aa:bb:cc:00:ff:0e");
    EXPECT_EQ(nint2string(htonl(0xC0A80A4D)), "192.168.10.77");
}

TEST(PublicToolsTest, RandomPortsAvoidTheReservedRange)
{
    srand(7);
    for (int i = 0; i < 5000; ++i) {
        const unsigned port = RandPort();
        EXPECT_GT(port, 10000u);
        EXPECT_TRUE(port < 10410 || port > 10419) << port;
    }
}

TEST(PublicToolsTest, UuidTextAndNonBlockingSockets)
{
    Clock::setFixed(QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5, 123)));
    const QString id = new_uuid();
    Clock::reset();
    EXPECT_EQ(id.size(), 32);
    EXPECT_TRUE(QRegularExpression("^SC_#[0-9a-f]{8}_#20240102_030405123$").match(id).hasMatch()) << id.toStdString();

    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(set_socket_nonblock(fd), 0);
    EXPECT_TRUE(fcntl(fd, F_GETFL) & O_NONBLOCK);
    close(fd);
    EXPECT_EQ(set_socket_nonblock(-1), -1);
}

// A close after everything was taken ends the connection in order; one with bytes the peer
// has not taken resets it, so they are not handed on after the close.
TEST(PublicToolsTest, CloseDropsOnlyWhatThePeerHasNotTaken)
{
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    // How the peer's reads end after the other side wrote `bytes` (all it can when -1) and closed.
    const auto peerEnd = [&](int bytes) {
        const int peer = socket(AF_INET, SOCK_STREAM, 0);
        const int small = 4096;
        setsockopt(peer, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        EXPECT_EQ(connect(peer, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        const int served = accept(listener, nullptr, nullptr);
        set_socket_nonblock(served);
        const QByteArray chunk(65536, 'x');
        for (int written = 0; bytes < 0 || written < bytes;) {
            const int part = bytes < 0 ? chunk.size() : qMin(chunk.size(), bytes - written);
            const ssize_t n = send(served, chunk.constData(), size_t(part), 0);
            if (n <= 0)
                break;
            written += int(n);
        }
        if (bytes >= 0) {
            for (int i = 0; i < 100 && unsentBytes(served) > 0; ++i)
                usleep(10000);
            EXPECT_EQ(unsentBytes(served), 0);
        } else {
            EXPECT_GT(unsentBytes(served), 0);
        }
        dropUnsentOnClose(served);
        close(served);
        const timeval patience{5, 0};
        setsockopt(peer, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
        char buffer[65536];
        ssize_t got = 0;
        while ((got = recv(peer, buffer, sizeof buffer, 0)) > 0) {
        }
        const int end = got < 0 ? errno : 0;
        close(peer);
        return end;
    };
    EXPECT_EQ(peerEnd(1000), 0);
    EXPECT_EQ(peerEnd(-1), ECONNRESET);
    close(listener);
    EXPECT_EQ(unsentBytes(-1), 0);
}

TEST(PublicToolsTest, DeviceIdFromSerialThenDiskThenTime)
{
    FakeHostRoot host;
    FakeShellRunner shell;
    host.write("/proc/cpuinfo", "processor : 0\nSerial\t\t: 0000000012ab34cd\n");
    EXPECT_EQ(getlocal_deviceid(), "0000000012ab34cd");
    EXPECT_FALSE(shell.ran("blkid"));

    host.write("/proc/cpuinfo", "processor : 0\nmodel name : x\n");
    shell.setOutput("blkid", kBlkidTwoDisks.left(kBlkidTwoDisks.indexOf('\n') + 1));
    EXPECT_EQ(getlocal_deviceid(), "0123456789ab");
    EXPECT_TRUE(shell.ran("blkid"));

    shell.setOutput("blkid", "");
    Clock::setFixed(QDateTime::fromMSecsSinceEpoch(1700000000123LL));
    EXPECT_EQ(getlocal_deviceid(), "1700000000123");
    Clock::reset();
}

TEST(PublicToolsTest, BlkidSearchLogsItsStartAndEnd)
{
    FakeHostRoot host;
    FakeShellRunner shell;
    shell.setOutput("blkid", "");
    static QStringList messages;
    messages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& text) { messages << text; });
    found_diskuuid_by_blkid();
    qInstallMessageHandler(previous);
    EXPECT_EQ(messages, (QStringList{"found_diskuuid_by_blkid", "end found_diskuuid_by_blkid"}));
}

TEST(PublicToolsTest, SystemDiskWinsOverAUsbDiskListedLater)
{
    FakeHostRoot host;
    FakeShellRunner shell;
    shell.setOutput("blkid", kBlkidTwoDisks);
    // No mount table: the last ext4 line wins; the partition-table line is skipped.
    EXPECT_EQ(found_diskuuid_by_blkid(), "99999999-8888-7777-6666-555555555555");
    host.write("/proc/mounts", "proc /proc proc rw 0 0\n/dev/sda1 / ext4 rw 0 0\n/dev/sdb1 /mnt/usb ext4 rw 0 0\n");
    EXPECT_EQ(found_diskuuid_by_blkid(), "1b2c3d4e-aaaa-bbbb-cccc-0123456789ab");
    host.write("/proc/mounts", "/dev/disk/by-uuid/1b2c3d4e-aaaa-bbbb-cccc-0123456789ab / ext4 rw 0 0\n");
    EXPECT_EQ(found_diskuuid_by_blkid(), "1b2c3d4e-aaaa-bbbb-cccc-0123456789ab");
    EXPECT_EQ(shell.calls().first().args, QStringList());
}

TEST(PublicToolsTest, InterfaceAddressesWithoutTouchingRoutes)
{
    FakeHostRoot host;
    char ip[32] = {}, mask[32] = {}, gateway[32] = {}, mac[32] = {};
    char lo[] = "lo";
    host.write("/proc/net/route", "Iface\tDestination\tGateway\tFlags\n");
    ASSERT_EQ(GetIfAddr(lo, ip, mask, gateway, mac), 0);
    EXPECT_STREQ(ip, "127.0.0.1");
    EXPECT_STREQ(mask, "255.0.0.0");
    EXPECT_STREQ(mac, "00:00:00:00:00:00");
    EXPECT_STREQ(gateway, "0.0.0.0");

    // Another card's default route counts only when this one has none.
    host.write("/proc/net/route", "Iface\tDestination\tGateway\tFlags\n"
                                  "eth9\t00000000\t0101A8C0\t0003\n"
                                  "lo\t00000000\t0100007F\t0003\n");
    ASSERT_EQ(GetIfAddr(lo, ip, mask, gateway, mac), 0);
    EXPECT_STREQ(gateway, "127.0.0.1");
    host.write("/proc/net/route", "Iface\tDestination\tGateway\tFlags\neth9\t00000000\t0101A8C0\t0003\n");
    ASSERT_EQ(GetIfAddr(lo, ip, mask, gateway, mac), 0);
    EXPECT_STREQ(gateway, "192.168.1.1");

    char missing[] = "nosuchcard0";
    EXPECT_EQ(GetIfAddr(missing, ip, mask, gateway, mac), -2);
    host.write("/proc/net/route", "");
    QFile::remove(host.root() + "/proc/net/route");
    EXPECT_EQ(GetIfAddr(lo, ip, mask, gateway, mac), -6);
}
