#include "fakeshellrunner.h"
#include "qttesthelpers.h"
#include "udp_acam_client.h"
#include "udp_acam_server.h"

#include <QDateTime>
#include <QSignalSpy>
#include <gtest/gtest.h>

#include <arpa/inet.h>

namespace {

struct SentDatagram
{
    Udpsend_Cond cond;
    QByteArray bytes;
};

// Every send of the cores is captured instead of leaving the machine.
class DiscoveryTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        UDP_Core::setSendHook([this](const Udpsend_Cond& cond, const std::string& payload, std::string&) {
            sent << SentDatagram{cond, QByteArray::fromStdString(payload)};
            return 0;
        });
    }
    void TearDown() override { UDP_Core::setSendHook(UDP_Core::SendHook()); }

    FakeShellRunner runner;
    QList<SentDatagram> sent;
};

DeviceNetInfo_Detail netif(const QString& name, const QString& ip, const QString& mask, const QString& mac,
                           const QString& gateway)
{
    return DeviceNetInfo_Detail{name, ip, mask, QString(), mac, gateway};
}

const QMap<QString, DeviceNetInfo_Detail> kDeviceInterfaces = {
    {"02:00:00:00:00:01", netif("mmtest0", "192.168.1.10", "255.255.255.0", "02:00:00:00:00:01", "192.168.1.1")},
    {"02:00:00:00:00:02", netif("mmtest1", "10.0.0.7", "255.0.0.0", "02:00:00:00:00:02", "10.0.0.1")},
};

sockaddr_in from(const char* ip)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    inet_pton(AF_INET, ip, &address.sin_addr);
    return address;
}

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}

QByteArray ipBytes(const char* ip)
{
    in_addr a{};
    inet_pton(AF_INET, ip, &a);
    return QByteArray(reinterpret_cast<const char*>(&a.s_addr), 4);
}

// A text field as the byte table gives it: ASCII, zero-padded to its size.
QByteArray field(const QByteArray& text, int size)
{
    return text.left(size) + QByteArray(qMax(0, size - text.size()), '\0');
}

QByteArray le64(qint64 v)
{
    QByteArray b;
    for (int i = 0; i < 8; ++i)
        b += char((quint64(v) >> (8 * i)) & 0xFF);
    return b;
}

class TestServer : public UDP_ACam_Server
{
public:
    using UDP_ACam_Server::UDP_ACam_Server;
    QString receive(const char* sender, const QByteArray& data, const QString& arrival = QString())
    {
        setArrivalInterface(arrival);
        const QString result = AnalysisRecvMessage(from(sender), data);
        setArrivalInterface(QString());
        return result;
    }
};

QByteArray forceIp(const QString& id, const char* ip, const char* mask, const char* gateway)
{
    return hex("4211000400380001") + QByteArray(12, '\0') + ipBytes(ip) + ipBytes(mask) + ipBytes(gateway)
           + field(id.toLatin1(), 32);
}

} // namespace

TEST_F(DiscoveryTest, DeviceAnswersDiscoveryOnEveryInterfaceByteForByte)
{
    TestServer server;
    server.setInterfaces(kDeviceInterfaces);
    EXPECT_EQ(server.receive("192.168.1.50", hex("42110002000000")), "no success");   // 7 bytes
    EXPECT_EQ(server.receive("192.168.1.50", hex("4311000200000001")), "success");    // wrong key
    EXPECT_TRUE(sent.isEmpty());

    server.receive("192.168.1.50", hex("4211000200000001"));
    ASSERT_EQ(sent.size(), 2);
    const QByteArray id = server.deviceId().toLatin1();
    ASSERT_EQ(id.size(), 32);
    const char* expectIp[] = {"192.168.1.10", "10.0.0.7"};
    const char* expectMask[] = {"255.255.255.0", "255.0.0.0"};
    const char* expectGw[] = {"192.168.1.1", "10.0.0.1"};
    for (int i = 0; i < 2; ++i) {
        const QByteArray expected = hex("00000003") + hex("00d80001") + hex(i == 0 ? "020000000001" : "020000000002")
                                    + QByteArray(2, '\0') + ipBytes("192.168.1.50") + ipBytes(expectIp[i])
                                    + ipBytes(expectMask[i]) + ipBytes(expectGw[i]) + field("GEV", 32)
                                    + field(UDP_ACam_Server::kModelText, 32)
                                    + field("V2.8.6 180210 143913", 32) + field(UDP_ACam_Server::kDeviceClassText, 48)
                                    + id + QByteArray(16, '\0');
        EXPECT_EQ(sent[i].bytes.size(), 224);
        EXPECT_EQ(sent[i].bytes.toHex(), expected.toHex()) << i;
        EXPECT_EQ(sent[i].cond.dstip, "255.255.255.255");
        EXPECT_EQ(sent[i].cond.dstport, 10400);
        EXPECT_EQ(sent[i].cond.waittime_ms, 0);
        EXPECT_EQ(sent[i].cond.localip, expectIp[i]);
    }
    EXPECT_EQ(QByteArray(UDP_ACam_Server::kModelText).size(), 14);
    EXPECT_EQ(QByteArray(UDP_ACam_Server::kDeviceClassText).size(), 11);
}

TEST_F(DiscoveryTest, ForceIpReconfiguresOnlyTheInterfaceItCameInOnThroughTheRunner)
{
    TestServer server;
    server.setInterfaces(kDeviceInterfaces);

    server.receive("10.9.9.9", forceIp("SC_#someone_#else", "10.0.0.99", "255.0.0.0", "10.0.0.1"));
    server.receive("10.9.9.9", forceIp(server.deviceId(), "0.0.0.0", "255.0.0.0", "10.0.0.1"));
    server.receive("10.9.9.9", forceIp(server.deviceId(), "10.0.0.99", "0.0.0.0", "10.0.0.1"));
    EXPECT_TRUE(runner.calls().isEmpty());
    EXPECT_TRUE(sent.isEmpty());

    // Arrived on mmtest1 although the sender sits in mmtest0's subnet: mmtest1 changes, not the first one.
    server.receive("192.168.1.50", forceIp(server.deviceId(), "10.0.0.99", "255.0.0.0", "10.0.0.1"), "mmtest1");
    EXPECT_EQ(runner.lines(), QStringList({"ip addr flush dev mmtest1", "ip route flush table main dev mmtest1",
                                           "ifconfig mmtest1 10.0.0.99 netmask 255.0.0.0",
                                           "route add default gw 10.0.0.1"}));
    ASSERT_EQ(sent.size(), 1);
    // mmtest1 cannot be re-read here: the ack carries its record as it stands.
    const QByteArray ack = hex("0000000500380001") + hex("020000000002") + QByteArray(2, '\0')
                           + ipBytes("192.168.1.50") + ipBytes("10.0.0.7") + ipBytes("255.0.0.0") + ipBytes("10.0.0.1")
                           + server.deviceId().toLatin1();
    EXPECT_EQ(sent[0].bytes.toHex(), ack.toHex());
    EXPECT_EQ(sent[0].cond.localip, "10.0.0.7");

    // Without a known arrival the requester's subnet decides.
    runner.clear();
    server.receive("192.168.1.77", forceIp(server.deviceId(), "192.168.1.30", "255.255.255.0", "192.168.1.1"));
    ASSERT_FALSE(runner.calls().isEmpty());
    EXPECT_EQ(runner.lines().first(), "ip addr flush dev mmtest0");
}

TEST_F(DiscoveryTest, WriteRegSetsOnlyTheClockThroughTheRunnerAndAcknowledges)
{
    TestServer server;
    server.setInterfaces(kDeviceInterfaces);
    QSignalSpy updated(&server, &UDP_ACam_Server::sig_updatetime);
    QSignalSpy reboot(&server, &UDP_ACam_Server::sig_rebootdaemon);

    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    server.receive("192.168.1.50", hex("4211008200100001") + hex("0100000000000000") + le64(1700000000123));
    EXPECT_EQ(runner.lines(), QStringList({"date -s @1700000000.123", "hwclock --systohc"}));
    EXPECT_EQ(updated.count(), 1);
    ASSERT_EQ(sent.size(), 1);
    const QByteArray ack = sent[0].bytes;
    ASSERT_EQ(ack.size(), 24);
    EXPECT_EQ(ack.left(16).toHex(), (hex("0000008300100001") + hex("0100000000000000")).toHex());
    qint64 deviceTime = 0;
    for (int i = 7; i >= 0; --i)
        deviceTime = (deviceTime << 8) | quint8(ack[16 + i]);
    EXPECT_GE(deviceTime, before);
    EXPECT_LE(deviceTime, QDateTime::currentMSecsSinceEpoch());
    EXPECT_EQ(sent[0].cond.localip, "192.168.1.10");

    runner.clear();
    sent.clear();
    server.receive("192.168.1.50", hex("4211008200100001") + hex("0200000000000000") + le64(0));
    server.receive("192.168.1.50", hex("4211008200100001") + hex("0300000000000000") + le64(1700000000123));
    server.receive("192.168.1.50", hex("4211008200100001") + hex("01000000"));   // time missing: refused
    EXPECT_EQ(reboot.count(), 1);
    EXPECT_EQ(updated.count(), 1);
    EXPECT_TRUE(runner.calls().isEmpty());
    EXPECT_TRUE(sent.isEmpty());
}

namespace {

QByteArray discoveryAck(const QString& id, const char* requester, const char* ip, const char* mask)
{
    return QByteArray::fromStdString(UDP_ACam_Server::gvcp_ack_discover(id.toLatin1().constData(), requester, ip,
                                                                        mask, "0.0.0.0", "02:00:00:00:00:09"));
}

const QMap<QString, DeviceNetInfo_Detail> kHostInterfaces = {
    {"0a:00:00:00:00:01", netif("eth0", "192.168.1.5", "255.255.255.0", "0a:00:00:00:00:01", "192.168.1.1")},
    {"0a:00:00:00:00:02", netif("eth1", "10.0.0.5", "255.255.255.0", "0a:00:00:00:00:02", "0.0.0.0")},
};

} // namespace

TEST_F(DiscoveryTest, HostPlansConflictFreeAddressesAndSendsCommandsByteForByte)
{
    UDP_ACam_Client client;   // announces the time from every interface it has
    for (const SentDatagram& d : sent) {
        EXPECT_EQ(d.bytes.size(), 24);
        EXPECT_EQ(d.bytes.left(12).toHex(), (hex("4211008200100001") + hex("01000000")).toHex());
        EXPECT_EQ(d.cond.dstport, 3956);
    }
    client.setInterfaces(kHostInterfaces);
    sent.clear();

    EXPECT_TRUE(client.findCamera().isEmpty());
    ASSERT_EQ(sent.size(), 2);
    EXPECT_EQ(sent[0].bytes.toHex(), QByteArray("4211000200000001"));
    EXPECT_EQ(sent[0].cond.localip, "192.168.1.5");
    EXPECT_EQ(sent[1].cond.localip, "10.0.0.5");

    const sockaddr_in any = from("192.168.1.99");
    client.AnalysisRecvMessage(any, discoveryAck("SC_#a1", "192.168.1.5", "192.168.1.20", "255.255.255.0"));
    client.AnalysisRecvMessage(any, discoveryAck("SC_#a2", "192.168.1.5", "192.168.1.20", "255.255.255.0"));
    client.AnalysisRecvMessage(any, discoveryAck("SC_#b1", "192.168.1.5", "192.168.1.252", "255.255.255.0"));
    client.AnalysisRecvMessage(any, discoveryAck("SC_#b2", "192.168.1.5", "192.168.1.252", "255.255.255.0"));
    client.AnalysisRecvMessage(any, discoveryAck("SC_#b3", "192.168.1.5", "192.168.1.252", "255.255.255.0"));
    client.AnalysisRecvMessage(any, discoveryAck("SC_#c1", "10.0.0.5", "172.16.0.9", "255.255.0.0"));
    client.AnalysisRecvMessage(any, discoveryAck("SC_#d1", "10.7.7.7", "10.7.7.8", "255.255.255.0"));
    ASSERT_EQ(client.devices().size(), 7);

    const QList<UDP_ACam_Client::ForceIpPlan> plan = client.planForceIP();
    QStringList lines;
    for (const auto& e : plan)
        lines << QStringList{e.localIp, e.id, e.ip, e.mask, e.gateway}.join(' ');
    EXPECT_EQ(lines, QStringList({
                         "192.168.1.5 SC_#a2 192.168.1.21 255.255.255.0 192.168.1.1",   // .20 taken by a1
                         "192.168.1.5 SC_#b2 192.168.1.253 255.255.255.0 192.168.1.1",  // .252 taken by b1
                         "192.168.1.5 SC_#b3 192.168.1.1 255.255.255.0 192.168.1.1",    // wraps past 253
                         "10.0.0.5 SC_#c1 10.0.0.6 255.255.255.0 10.0.0.5",             // moved into the host's net
                     }));

    sent.clear();
    client.ActForceIP();
    ASSERT_EQ(sent.size(), 4);
    EXPECT_EQ(sent[0].bytes.toHex(), forceIp("SC_#a2", "192.168.1.21", "255.255.255.0", "192.168.1.1").toHex());
    EXPECT_EQ(sent[0].cond.localip, "192.168.1.5");
    EXPECT_EQ(sent[3].cond.localip, "10.0.0.5");

    // A FORCEIP acknowledge moves the record's four addresses; an unknown id changes nothing.
    const QByteArray ack = QByteArray::fromStdString(
        UDP_ACam_Server::gvcp_ack_forceip("SC_#c1", "10.0.0.5", "10.0.0.6", "255.255.255.0", "10.0.0.5", "02:00:00:00:00:09"));
    client.AnalysisRecvMessage(any, ack);
    client.AnalysisRecvMessage(any, QByteArray::fromStdString(UDP_ACam_Server::gvcp_ack_forceip(
                                        "SC_#zz", "1.1.1.1", "1.1.1.2", "255.0.0.0", "1.1.1.1", "02:00:00:00:00:08")));
    const gvcp_discover_ack_payload moved = client.devices().value("SC_#c1");
    EXPECT_EQ(moved.ipText(), "10.0.0.6");
    EXPECT_EQ(moved.gatewayText(), "10.0.0.5");
    EXPECT_EQ(moved.modelText(), UDP_ACam_Server::kModelText);
    EXPECT_EQ(client.devices().size(), 7);

    sent.clear();
    client.ActRebootDaemon("SC_#nobody");
    EXPECT_TRUE(sent.isEmpty());
    client.ActRebootDaemon("SC_#a1");
    ASSERT_EQ(sent.size(), 1);
    EXPECT_EQ(sent[0].bytes.toHex(), (hex("4211008200100001") + hex("02000000") + QByteArray(12, '\0')).toHex());
    EXPECT_EQ(sent[0].cond.localip, "192.168.1.5");
}
