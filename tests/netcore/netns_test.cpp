#include "qttesthelpers.h"
#include "tempappdir.h"

#include <QFile>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <unistd.h>

#include <memory>
#include <vector>

namespace {

const QString kPython = QStringLiteral("/usr/bin/python3");
const QString kDeviceIp = "10.231.0.1";
const QString kHostIp = "10.231.0.2";
const QString kStrayIp = "10.231.0.9";   // a second address on the device side

QString acamPeer()
{
    return projectBinaryDir() + "/bin/netcore_acampeer";
}

QString gvcpPeer()
{
    return projectSourceDir() + "/tests/netcore/gvcppeer.py";
}

bool runIp(const QStringList& args)
{
    QProcess ip;
    ip.start("ip", args);
    return ip.waitForFinished(10000) && ip.exitStatus() == QProcess::NormalExit && ip.exitCode() == 0;
}

// Two network namespaces joined by a veth pair, made for the test and removed after it.
class NetnsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "needs root for network namespaces";
        const QString tag = QString::number(getpid() % 100000);
        m_device = "mmdev" + tag;
        m_host = "mmhost" + tag;
        m_deviceIf = "mmvd" + tag;
        const QString hostIf = "mmvh" + tag;
        const bool made = runIp({"netns", "add", m_device}) && runIp({"netns", "add", m_host})
                          && runIp({"link", "add", m_deviceIf, "netns", m_device, "type", "veth", "peer", "name",
                                    hostIf, "netns", m_host})
                          && runIp({"-n", m_device, "addr", "add", kDeviceIp + "/24", "dev", m_deviceIf})
                          && runIp({"-n", m_device, "addr", "add", kStrayIp + "/24", "dev", m_deviceIf})
                          && runIp({"-n", m_host, "addr", "add", kHostIp + "/24", "dev", hostIf})
                          && runIp({"-n", m_device, "link", "set", m_deviceIf, "up"})
                          && runIp({"-n", m_host, "link", "set", hostIf, "up"})
                          && runIp({"-n", m_device, "link", "set", "lo", "up"})
                          && runIp({"-n", m_host, "link", "set", "lo", "up"});
        if (!made) {
            removeNamespaces();
            GTEST_SKIP() << "network namespaces with a veth pair cannot be made here";
        }
    }

    void TearDown() override
    {
        for (auto& process : m_processes) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(5000);
            }
        }
        m_processes.clear();
        removeNamespaces();
    }

    void removeNamespaces()
    {
        if (!m_device.isEmpty())
            runIp({"netns", "del", m_device});   // takes the veth pair with it
        if (!m_host.isEmpty())
            runIp({"netns", "del", m_host});
    }

    QProcess* start(const QString& ns, const QString& program, const QStringList& args)
    {
        m_processes.push_back(std::make_unique<QProcess>());
        QProcess* process = m_processes.back().get();
        process->start("ip", QStringList{"netns", "exec", ns, program} + args);
        process->waitForStarted(5000);
        return process;
    }

    // A peer prints "ready" once its sockets are bound.
    static bool waitReady(QProcess* process, int timeoutMs = 10000)
    {
        QElapsedTimer clock;
        clock.start();
        while (!process->canReadLine()) {
            if (clock.hasExpired(timeoutMs) || !process->waitForReadyRead(100)) {
                if (clock.hasExpired(timeoutMs) || process->state() == QProcess::NotRunning)
                    return process->canReadLine() && process->readLine().trimmed() == "ready";
            }
        }
        return process->readLine().trimmed() == "ready";
    }

    static QJsonObject lastJsonLine(QProcess* process, int timeoutMs)
    {
        if (!process->waitForFinished(timeoutMs)) {
            process->kill();
            process->waitForFinished(5000);
        }
        const QList<QByteArray> lines = process->readAllStandardOutput().trimmed().split('\n');
        return QJsonDocument::fromJson(lines.last()).object();
    }

    QString m_device;
    QString m_host;
    QString m_deviceIf;
    std::vector<std::unique_ptr<QProcess>> m_processes;
};

} // namespace

TEST_F(NetnsTest, DeviceAnswersAnIndependentHostOverRealBroadcasts)
{
    QTemporaryDir dir;
    const QString log = dir.filePath("commands.log");
    QProcess* device = start(m_device, acamPeer(), {"device", "20", log});
    ASSERT_TRUE(device->waitForReadyRead(10000));
    const QJsonObject started = QJsonDocument::fromJson(device->readLine()).object();
    const QString id = started.value("id").toString();
    ASSERT_EQ(id.size(), 32);
    EXPECT_EQ(started.value("interfaces").toInt(), 1);

    const QJsonObject host = lastJsonLine(start(m_host, kPython, {gvcpPeer(), "host", kHostIp, "10.231.0.50"}), 20000);
    const QJsonArray discovery = host.value("discovery").toArray();
    ASSERT_EQ(discovery.size(), 1) << QJsonDocument(host).toJson().toStdString();
    const QJsonObject ack = discovery.at(0).toObject();
    EXPECT_EQ(ack.value("size").toInt(), 224);
    EXPECT_EQ(ack.value("status").toInt(), 0);
    EXPECT_EQ(ack.value("code").toInt(), 3);
    EXPECT_EQ(ack.value("length").toInt(), 216);
    EXPECT_EQ(ack.value("ackId").toInt(), 1);
    EXPECT_EQ(ack.value("pad").toString(), "0000");
    EXPECT_EQ(ack.value("requester").toString(), kHostIp);
    EXPECT_EQ(ack.value("ip").toString(), kDeviceIp);
    EXPECT_EQ(ack.value("mask").toString(), "255.255.255.0");
    EXPECT_EQ(ack.value("gev").toString(), "GEV");
    EXPECT_EQ(ack.value("model").toString().size(), 14);
    EXPECT_EQ(ack.value("version").toString(), "V2.8.6 180210 143913");
    EXPECT_EQ(ack.value("deviceClass").toString().size(), 11);
    EXPECT_EQ(ack.value("id").toString(), id);
    EXPECT_TRUE(ack.value("tailZero").toBool());

    const QJsonArray forceAck = host.value("forceipAck").toArray();
    ASSERT_EQ(forceAck.size(), 1);
    EXPECT_EQ(forceAck.at(0).toObject().value("size").toInt(), 64);
    EXPECT_EQ(forceAck.at(0).toObject().value("length").toInt(), 56);
    EXPECT_EQ(forceAck.at(0).toObject().value("id").toString(), id);
    EXPECT_EQ(forceAck.at(0).toObject().value("requester").toString(), kHostIp);
    const QJsonArray timeAck = host.value("writeregAck").toArray();
    ASSERT_EQ(timeAck.size(), 1);
    EXPECT_EQ(timeAck.at(0).toObject().value("size").toInt(), 24);
    EXPECT_EQ(timeAck.at(0).toObject().value("sub").toInt(), 1);
    EXPECT_TRUE(timeAck.at(0).toObject().value("timeOk").toBool());

    const qint64 sent = qint64(host.value("sentTime").toDouble());
    const QString when = QString("@%1.%2").arg(sent / 1000).arg(sent % 1000, 3, 10, QChar('0'));
    ASSERT_TRUE(waitUntil([&] { return QFile(log).size() > 0; }));
    QFile file(log);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(file.readAll()).trimmed().split('\n'),
              QStringList({"ip addr flush dev " + m_deviceIf, "ip route flush table main dev " + m_deviceIf,
                           "ifconfig " + m_deviceIf + " 10.231.0.50 netmask 255.255.255.0",
                           "route add default gw " + kHostIp, "date -s " + when, "hwclock --systohc"}));
}

TEST_F(NetnsTest, HostFindsAndMovesAnIndependentDevice)
{
    QProcess* device = start(m_device, kPython, {gvcpPeer(), "device", kDeviceIp, "5"});
    ASSERT_TRUE(waitReady(device));
    const QJsonObject host = lastJsonLine(start(m_host, acamPeer(), {"host"}), 20000);
    const QJsonArray found = host.value("found").toArray();
    ASSERT_EQ(found.size(), 1) << QJsonDocument(host).toJson().toStdString();
    EXPECT_EQ(found.at(0).toObject().value("id").toString(), "SC_#peer0001_#20260101_000000000");
    EXPECT_EQ(found.at(0).toObject().value("ip").toString(), "192.168.50.7");
    EXPECT_EQ(found.at(0).toObject().value("model").toString(), "PEER-MODEL-001");
    EXPECT_EQ(found.at(0).toObject().value("requester").toString(), kHostIp);
    // Outside the host's subnet: moved next to the host, its gateway the host (it has none of its own).
    const QJsonArray plan = host.value("plan").toArray();
    ASSERT_EQ(plan.size(), 1);
    EXPECT_EQ(plan.at(0).toObject().value("ip").toString(), "10.231.0.3");
    EXPECT_EQ(plan.at(0).toObject().value("gateway").toString(), kHostIp);
    EXPECT_EQ(host.value("after").toArray().at(0).toObject().value("ip").toString(), "10.231.0.3");

    const QJsonArray seen = lastJsonLine(device, 10000).value("seen").toArray();
    QStringList commands;
    for (const QJsonValue& v : seen)
        commands << v.toObject().value("cmd").toString();
    EXPECT_EQ(commands, QStringList({"writereg", "discovery", "forceip"}));
    ASSERT_EQ(seen.size(), 3);
    EXPECT_EQ(seen.at(0).toObject().value("size").toInt(), 24);
    EXPECT_EQ(seen.at(0).toObject().value("sub").toInt(), 1);
    EXPECT_EQ(seen.at(1).toObject().value("size").toInt(), 8);
    EXPECT_EQ(seen.at(1).toObject().value("flags").toInt(), 0x11);
    const QJsonObject force = seen.at(2).toObject();
    EXPECT_EQ(force.value("size").toInt(), 64);
    EXPECT_EQ(force.value("length").toInt(), 56);
    EXPECT_TRUE(force.value("zero").toBool());
    EXPECT_EQ(force.value("ip").toString(), "10.231.0.3");
    EXPECT_EQ(force.value("mask").toString(), "255.255.255.0");
    EXPECT_EQ(force.value("gateway").toString(), kHostIp);
    EXPECT_EQ(force.value("id").toString(), "SC_#peer0001_#20260101_000000000");
}

TEST_F(NetnsTest, BroadcastCoreSendsWithAndWithoutAReplyAcrossNamespaces)
{
    QProcess* echo = start(m_device, kPython, {gvcpPeer(), "reply", kDeviceIp, kStrayIp, "4000"});
    ASSERT_TRUE(waitReady(echo));
    const QJsonObject asked =
        lastJsonLine(start(m_host, acamPeer(), {"send", kDeviceIp, "4000", kHostIp, "1000", "hello"}), 10000);
    EXPECT_EQ(asked.value("rc").toInt(), 0);
    EXPECT_EQ(asked.value("reply").toString(), "answer:hello");   // the stray came first and was ignored
    EXPECT_EQ(lastJsonLine(echo, 5000).value("got").toString(), "hello");

    // A broadcast reaches a peer listening on every address.
    QProcess* quiet = start(m_device, kPython, {gvcpPeer(), "reply", "0.0.0.0", kStrayIp, "4001"});
    ASSERT_TRUE(waitReady(quiet));
    const QJsonObject fired =
        lastJsonLine(start(m_host, acamPeer(), {"send", "255.255.255.255", "4001", kHostIp, "0", "ping"}), 10000);
    EXPECT_EQ(fired.value("rc").toInt(), 0);
    EXPECT_EQ(lastJsonLine(quiet, 5000).value("got").toString(), "ping");
}

TEST_F(NetnsTest, InterfacesSharingAMacLeaveOneRecord)
{
    const QString twin = "mmtw" + QString::number(getpid() % 100000);
    ASSERT_TRUE(runIp({"-n", m_device, "link", "add", twin, "type", "veth", "peer", "name", twin + "p"}));
    ASSERT_TRUE(runIp({"-n", m_device, "addr", "add", "10.232.0.1/24", "dev", twin}));
    const auto interfacesSeen = [&] {
        QTemporaryDir dir;
        QProcess* device = start(m_device, acamPeer(), {"device", "0", dir.filePath("log")});
        return lastJsonLine(device, 10000).value("interfaces").toInt();
    };
    EXPECT_EQ(interfacesSeen(), 2);
    ASSERT_TRUE(runIp({"-n", m_device, "link", "set", twin, "address", "02:11:22:33:44:55"}));
    ASSERT_TRUE(runIp({"-n", m_device, "link", "set", m_deviceIf, "address", "02:11:22:33:44:55"}));
    EXPECT_EQ(interfacesSeen(), 1);
}
