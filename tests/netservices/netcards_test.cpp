#include "fakehostroot.h"
#include "fakeshellrunner.h"
#include "hostpaths.h"
#include "networkmanager.h"
#include "qttesthelpers.h"
#include "recordedprocess.h"
#include "receiveratemeter.h"
#include "shellrunner.h"
#include "tempappdir.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <gtest/gtest.h>
#include <signal.h>

namespace {

const QByteArray kProcNetDev =
    "Inter-|   Receive                                                |  Transmit\n"
    " face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets errs drop fifo colls carrier compressed\n"
    "    lo:    1000      10    0    0    0     0          0         0     1000      10    0    0    0     0       0          0\n"
    "  eth0:    5000      50    0    0    0     0          0         0     2000      20    0    0    0     0       0          0\n"
    "wlan0:     7000      70    0    0    0     0          0         0     3000      30    0    0    0     0       0          0\n"
    "  eth1:       0       0    0    0    0     0          0         0        0       0    0    0    0     0       0          0\n";

QByteArray cardFile(const QJsonArray& cards)
{
    return QJsonDocument(QJsonObject{{"netcard_info", cards}}).toJson();
}

QJsonObject fileObject(const QString& path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return QJsonDocument::fromJson(file.readAll()).object();
}

class NetCards : public AppDirTest
{
protected:
    void SetUp() override
    {
        host.write("/proc/net/dev", kProcNetDev);
        manager = NetworkManager::getInstance();
        manager->setPriorityCardName(QString());
        shell.clear();
    }

    FakeHostRoot host;
    FakeShellRunner shell;
    NetworkManager* manager = nullptr;
};

} // namespace

TEST(ReceiveRate, BaselineFirstThenMeasuredTimeAndRebaseOnDrop)
{
    ReceiveRateMeter meter;
    // The first reading only sets the baseline: a card that received 4 GB since boot shows no rate.
    EXPECT_FALSE(meter.sample("eth0", 4'000'000'000ULL, 1000).measured);

    auto r = meter.sample("eth0", 4'000'000'000ULL, 3500);
    EXPECT_TRUE(r.measured);
    EXPECT_EQ(ReceiveRateMeter::rateText(r.bytesPerSecond), QString("0.00b/s"));

    // 1 kb/s over 2 s of real time, not over a fixed 2.5 s.
    r = meter.sample("eth0", 4'000'002'048ULL, 5500);
    EXPECT_EQ(ReceiveRateMeter::rateText(r.bytesPerSecond), QString("1.00kb/s"));
    r = meter.sample("eth0", 4'000'002'048ULL + 1024 * 1024, 6500);
    EXPECT_EQ(ReceiveRateMeter::rateText(r.bytesPerSecond), QString("1.00mb/s"));

    // A counter that went back (card reset) re-bases instead of wrapping to a huge rate.
    EXPECT_FALSE(meter.sample("eth0", 100, 7000).measured);
    r = meter.sample("eth0", 100 + 512, 8000);
    EXPECT_TRUE(r.measured);
    EXPECT_DOUBLE_EQ(r.bytesPerSecond, 512.0);

    // Cards keep their own baselines.
    EXPECT_FALSE(meter.sample("eth1", 10, 8000).measured);
}

TEST(ReceiveRate, TextUnitsAtTheirBoundaries)
{
    EXPECT_EQ(ReceiveRateMeter::rateText(1023), QString("1023.00b/s"));
    EXPECT_EQ(ReceiveRateMeter::rateText(1024), QString("1.00kb/s"));
    EXPECT_EQ(ReceiveRateMeter::rateText(1024.0 * 1024 - 1), QString("1024.00kb/s"));
    EXPECT_EQ(ReceiveRateMeter::rateText(1024.0 * 1024), QString("1.00mb/s"));
    EXPECT_EQ(ReceiveRateMeter::rateText(0), QString("0.00b/s"));
}

TEST_F(NetCards, CardListTakesPresentCardsOnceWiredFirst)
{
    host.write(NetworkManager::kWiredFile,
               cardFile({QJsonObject{{"name", "eth1"}, {"address", "10.0.0.2"}},
                         QJsonObject{{"name", "gone0"}, {"address", "10.0.0.9"}},
                         QJsonObject{{"name", "eth0"}, {"address", "10.0.0.1"}, {"describe", "main"},
                                     {"describe_netplan", "netplan"}, {"use", false}},
                         QJsonObject{{"name", "eth0"}, {"address", "10.0.0.3"}}}));
    host.write(NetworkManager::kWirelessFile,
               cardFile({QJsonObject{{"name", "eth0"}, {"iswifi", true}},
                         QJsonObject{{"name", "wlan0"}, {"iswifi", true}, {"use", false}, {"hotname", "plant"}}}));

    ASSERT_TRUE(manager->initnetcard(false));
    EXPECT_FALSE(shell.ran("setsid")) << "the script runs only when the wired file is missing";
    QStringList order;
    for (const QJsonValue& card : manager->cardList())
        order << card.toObject().value("name").toString();
    EXPECT_EQ(order, QStringList({"eth1", "eth0", "wlan0"}));

    const auto cards = manager->readNetInfo();
    EXPECT_EQ(cards.value("eth0").address, QString("10.0.0.1"));
    EXPECT_EQ(cards.value("eth0").describe, QString("main(netplan)"));
    EXPECT_TRUE(cards.value("eth0").use) << "use is read only for wireless cards";
    EXPECT_FALSE(cards.value("wlan0").use);
    EXPECT_EQ(cards.value("wlan0").hotname, QString("plant"));

    // A bad wireless file leaves the wired cards.
    host.write(NetworkManager::kWirelessFile, "{ not json");
    ASSERT_TRUE(manager->initnetcard(false));
    EXPECT_EQ(manager->cardList().size(), 2);
}

TEST_F(NetCards, MissingFileRunsScriptAndNoPresentCardDropsReport)
{
    ASSERT_FALSE(manager->initnetcard(false));
    ASSERT_EQ(shell.lines(), QStringList({"setsid python3 ./cnt_net/orulx40_upnetcard.py"}));

    host.write(NetworkManager::kWiredFile, cardFile({QJsonObject{{"name", "absent9"}}}));
    host.write(NetworkManager::kReportFile, "report");
    EXPECT_FALSE(manager->initnetcard(false));
    EXPECT_FALSE(QFile::exists(host.root() + NetworkManager::kReportFile));
}

TEST_F(NetCards, SavingWiredAndWirelessCardsKeepsDescribeAndOnePriority)
{
    host.write(NetworkManager::kWiredFile,
               cardFile({QJsonObject{{"name", "eth0"}, {"describe", "main"}, {"describe_netplan", "np"},
                                     {"ispriority", true}},
                         QJsonObject{{"name", "eth1"}, {"ispriority", true}}}));
    host.write(NetworkManager::kWirelessFile,
               cardFile({QJsonObject{{"name", "wlan0"}, {"iswifi", true}, {"hotname", "old"}}}));
    ASSERT_TRUE(manager->initnetcard(false));
    auto cards = manager->readNetInfo();
    cards["wlan0"].hotname = "plant-wifi";
    cards["wlan0"].passwd = "p \"q\"";
    cards["eth0"].isdhcp = true;
    manager->setPriorityCardName("eth1");

    QString error;
    ASSERT_TRUE(manager->writeCardFiles(cards.values(), &error)) << error.toStdString();
    const QJsonArray wired = fileObject(host.root() + NetworkManager::kWiredFile).value("netcard_info").toArray();
    const QJsonArray wireless = fileObject(host.root() + NetworkManager::kWirelessFile).value("netcard_info").toArray();
    ASSERT_EQ(wired.size(), 2);
    ASSERT_EQ(wireless.size(), 1);
    const QJsonObject eth0 = wired.at(0).toObject();
    EXPECT_EQ(eth0.value("describe").toString(), QString("main")) << "the script's note is not stored into describe";
    EXPECT_TRUE(eth0.value("isdhcp").toBool());
    EXPECT_FALSE(eth0.value("ispriority").toBool()) << "only the named priority card keeps the flag";
    EXPECT_TRUE(wired.at(1).toObject().value("ispriority").toBool());
    EXPECT_FALSE(eth0.contains("use"));
    EXPECT_EQ(wireless.at(0).toObject().value("hotname").toString(), QString("plant-wifi"));
    EXPECT_EQ(wireless.at(0).toObject().value("passwd").toString(), QString("p \"q\""));

    // The script adds its note again; the next save still stores describe as it was.
    QJsonArray rewritten = wired;
    QJsonObject noted = eth0;
    noted.insert("describe_netplan", "np");
    rewritten.replace(0, noted);
    host.write(NetworkManager::kWiredFile, cardFile(rewritten));
    ASSERT_TRUE(manager->initnetcard(false));
    EXPECT_EQ(manager->readNetInfo().value("eth0").describe, QString("main(np)"));
    ASSERT_TRUE(manager->writeCardFiles(manager->readNetInfo().values()));
    EXPECT_EQ(fileObject(host.root() + NetworkManager::kWiredFile).value("netcard_info").toArray().at(0)
                  .toObject().value("describe").toString(), QString("main"));

    // A folder where a card file belongs: the failure is reported with its reason.
    QFile::remove(host.root() + NetworkManager::kWirelessFile);
    QDir().mkpath(host.root() + NetworkManager::kWirelessFile);
    EXPECT_FALSE(manager->writeCardFiles(cards.values(), &error));
    EXPECT_TRUE(error.contains("wifi_prejson.txt")) << error.toStdString();
}

TEST_F(NetCards, CardsAbsentAtASaveKeepTheirEntriesAndPlaces)
{
    // A Wi-Fi dongle and a wired card that are unplugged while the operator saves.
    const QJsonObject dongle{{"name", "wlx00c0ca"}, {"iswifi", true}, {"use", true}, {"hotname", "plant"},
                             {"passwd", "secret"}, {"address", "192.168.5.7"}};
    const QJsonObject spare{{"name", "eth9"}, {"address", "10.9.9.9"}, {"describe", "spare"}};
    host.write(NetworkManager::kWiredFile,
               cardFile({spare, QJsonObject{{"name", "eth0"}, {"address", "10.0.0.1"}},
                         QJsonObject{{"name", "eth1"}, {"address", "10.0.1.1"}}}));
    host.write(NetworkManager::kWirelessFile,
               cardFile({dongle, QJsonObject{{"name", "wlan0"}, {"iswifi", true}, {"hotname", "old"}}}));
    ASSERT_TRUE(manager->initnetcard(false));
    auto cards = manager->readNetInfo();
    ASSERT_EQ(cards.keys(), QStringList({"eth0", "eth1", "wlan0"}));
    cards["eth0"].address = "10.0.0.2";
    cards["wlan0"].hotname = "new";

    QString error;
    ASSERT_TRUE(manager->writeCardFiles(cards.values(), &error)) << error.toStdString();
    const QJsonArray wired = fileObject(host.root() + NetworkManager::kWiredFile).value("netcard_info").toArray();
    const QJsonArray wireless = fileObject(host.root() + NetworkManager::kWirelessFile).value("netcard_info").toArray();
    ASSERT_EQ(wired.size(), 3);
    EXPECT_EQ(wired.at(0).toObject(), spare);
    EXPECT_EQ(wired.at(1).toObject().value("address").toString(), QString("10.0.0.2"));
    EXPECT_EQ(wired.at(2).toObject().value("name").toString(), QString("eth1"));
    ASSERT_EQ(wireless.size(), 2);
    EXPECT_EQ(wireless.at(0).toObject(), dongle) << "the dongle's network and password survive the save";
    EXPECT_EQ(wireless.at(1).toObject().value("hotname").toString(), QString("new"));

    // Plugged in again, the dongle is offered with what it had.
    host.write("/proc/net/dev", kProcNetDev + QByteArray("wlx00c0ca:  0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n"));
    ASSERT_TRUE(manager->initnetcard(false));
    EXPECT_EQ(manager->readNetInfo().value("wlx00c0ca").passwd, QString("secret"));
}

TEST_F(NetCards, WifiScanResetsCardThenListsEachNetworkOnceAndRefusesHostileNames)
{
    shell.setOutput("iwlist",
                    "wlan0     Scan completed :\n"
                    "          Cell 01 - Address: 00:11:22:33:44:55\n"
                    "                    ESSID:\"plant\"\n"
                    "                    ESSID:\"\"\n"
                    "                    ESSID:\"office 2\"\n"
                    "                    ESSID:\"plant\"\n"
                    "                    ESSID:\"Plant\"\n");
    EXPECT_EQ(manager->getHotPoints("wlan0"), QStringList({"plant", "office 2", "Plant"}));
    EXPECT_EQ(shell.lines(), QStringList({"ifconfig wlan0 down", "iwconfig wlan0 mode managed", "ifconfig wlan0 up",
                                          "iwlist wlan0 scan"}));

    shell.clear();
    for (const QString& name : {QString(), QString("wlan0;reboot"), QString(".."), QString("-a"),
                                QString("wlan0 down"), QString("abcdefghijklmnop")}) {
        EXPECT_TRUE(manager->getHotPoints(name).isEmpty());
        EXPECT_FALSE(NetworkManager::isWifi(name));
    }
    EXPECT_TRUE(NetworkManager::isValidCardName("enp3s0:1"));
    EXPECT_TRUE(shell.calls().isEmpty()) << shell.lines().join("\n").toStdString();
}

TEST_F(NetCards, PollTakesUpBroadcastCardsAndClearsNotRunning)
{
    host.makeDir("/sys/class/net/wlan0/wireless");
    EXPECT_TRUE(NetworkManager::isWifi("wlan0"));
    EXPECT_FALSE(NetworkManager::isWifi("eth0"));

    shell.setOutput("ifconfig",
                    "eth0: flags=4163<UP,BROADCAST,RUNNING,MULTICAST>  mtu 1500\n"
                    "        inet 10.0.0.1  netmask 255.255.255.0\n\n"
                    "eth1: flags=4099<UP,BROADCAST,MULTICAST>  mtu 1500\n\n"
                    "lo: flags=73<UP,LOOPBACK,RUNNING>  mtu 65536\n\n"
                    "tun0: flags=4305<UP,POINTOPOINT,RUNNING,NOARP,MULTICAST>  mtu 1500\n");
    manager->pollTick();
    ASSERT_TRUE(waitUntil([&] { return !manager->ifconfigPending(); }));
    ASSERT_TRUE(waitUntil([&] { return manager->speedTable().contains("eth0"); }));
    const auto table = manager->speedTable();
    EXPECT_EQ(table.keys(), QStringList({"eth0", "eth1"}));
    EXPECT_EQ(table.value("eth0").bytes, 5000u);
    EXPECT_FALSE(table.value("eth1").active);
}

TEST(NetTools, ScriptTimeOutEndsTheScriptAndWhatItStarted)
{
    TempAppDir appDir;
    // Made before the slow script exists: making the manager runs the script once (no card file yet).
    NetworkManager* manager = NetworkManager::getInstance();
    ASSERT_TRUE(appDir.writeFile("cnt_net/orulx40_upnetcard.py",
                                 "import subprocess, time\n"
                                 "child = subprocess.Popen(['sleep', '300'])\n"
                                 "open('child.pid', 'w').write(str(child.pid))\n"
                                 "time.sleep(300)\n"));
    manager->setScriptTimeoutMs(1500);
    QElapsedTimer timer;
    timer.start();
    manager->run_upnetcard();
    manager->setScriptTimeoutMs(NetworkManager::kScriptTimeoutMs);
    EXPECT_LT(timer.elapsed(), 10000);
    const pid_t child = appDir.readFile("child.pid").toInt();
    ASSERT_GT(child, 0);
    EXPECT_TRUE(waitUntil([&] { return RecordedProcess::startTime(child) < 0; }, 3000)) << "the script's child still runs";
    if (RecordedProcess::startTime(child) >= 0)
        ::kill(child, SIGKILL);
}

TEST(NetTools, ProcessAliveSeesOnlyTheRealProcess)
{
    TempAppDir appDir;
    const QString name = QString("mmalive%1").arg(QCoreApplication::applicationPid() % 100000);
    ASSERT_TRUE(QFile::copy("/bin/sleep", appDir.filePath(name)));
    QFile::setPermissions(appDir.filePath(name), QFileDevice::ExeOwner | QFileDevice::ReadOwner);
    EXPECT_FALSE(NetworkManager::getProcessAlive(name));
    QProcess process;
    process.start(appDir.filePath(name), {"30"});
    ASSERT_TRUE(process.waitForStarted());
    EXPECT_TRUE(NetworkManager::getProcessAlive(name));
    process.kill();
    process.waitForFinished();
    EXPECT_FALSE(NetworkManager::getProcessAlive(name));
    EXPECT_FALSE(NetworkManager::getProcessAlive(QString()));

    // A script run by an interpreter is found by the script's name, which its command name never holds.
    const QString script = name + "_watch.py";
    ASSERT_TRUE(appDir.writeFile(script, "import time\ntime.sleep(30)\n"));
    EXPECT_FALSE(NetworkManager::getProcessAlive(script));
    // The interpreter itself, not a wrapper script on PATH: a wrapper killed while it is still
    // choosing the interpreter leaves a child with the same command line behind for a moment.
    QProcess interpreter;
    const QString python = QStandardPaths::findExecutable("python3", {"/usr/bin", "/usr/local/bin"});
    interpreter.start(python.isEmpty() ? QStringLiteral("python3") : python, {appDir.filePath(script)});
    ASSERT_TRUE(interpreter.waitForStarted());
    EXPECT_TRUE(NetworkManager::getProcessAlive(script));
    interpreter.kill();
    interpreter.waitForFinished();
    EXPECT_FALSE(NetworkManager::getProcessAlive(script)) << "the search never finds itself";

    EXPECT_TRUE(NetworkManager::chkIPformat("192.168.1.20"));
    EXPECT_TRUE(NetworkManager::chkIPformat("fe80::1"));
    EXPECT_FALSE(NetworkManager::chkIPformat("300.1.1.1"));
    EXPECT_FALSE(NetworkManager::chkIPformat(""));
}

// The demo's cards as its stand-ins give them (assets/demodata): the card-update script
// writes both card files, the host folder lists both cards and marks the wireless one, the
// scan finds its networks, and a poll sees the wired card running with traffic and the
// wireless one not running. Nothing is written outside the test's folder.
TEST(NetTools, DemoStandInsGiveAWiredAndAWirelessCard)
{
    TempAppDir appDir;
    const QString python = QStandardPaths::findExecutable("python3");
    const QString demo = projectSourceDir() + "/assets/demodata/";
    ASSERT_EQ(QProcess::execute(demo + "make_safe_bin.sh", {appDir.filePath(".safebin")}), 0);
    QProcess cards;
    cards.start(demo + "make_demo_cards.sh", {appDir.path(), python});
    ASSERT_TRUE(cards.waitForFinished(20000));
    ASSERT_EQ(cards.exitCode(), 0) << cards.readAllStandardError().toStdString();
    const QString root = QString::fromLocal8Bit(cards.readAllStandardOutput()).trimmed();
    ASSERT_EQ(root, appDir.filePath(".host"));

    struct Restore
    {
        QString root = HostPaths::root();
        QByteArray path = qgetenv("PATH");
        ~Restore()
        {
            qputenv("PATH", path);
            HostPaths::setRoot(root);
        }
    } restore;
    const QByteArray path = restore.path;
    HostPaths::setRoot(root);
    qputenv("PATH", appDir.filePath(".safebin").toUtf8() + ':' + path);

    NetworkManager* manager = NetworkManager::getInstance();
    EXPECT_TRUE(manager->initnetcard(false));
    const auto known = manager->readNetInfo();
    EXPECT_EQ(known.keys(), QStringList({"eth0", "wlan0"}));
    EXPECT_FALSE(known.value("eth0").iswifi);
    EXPECT_TRUE(known.value("eth0").ispriority);
    EXPECT_TRUE(known.value("wlan0").iswifi);
    EXPECT_EQ(known.value("wlan0").describe, QString("Demo wireless card(demo)"));
    EXPECT_TRUE(NetworkManager::isWifi("wlan0"));
    EXPECT_FALSE(NetworkManager::isWifi("eth0"));
    EXPECT_EQ(manager->getHotPoints("wlan0").size(), 5);
    EXPECT_TRUE(manager->getHotPoints("eth0").isEmpty());

    manager->NDSpeed_Touch(true, 50);
    EXPECT_TRUE(waitUntil([&] {
        const auto table = manager->speedTable();
        return table.value("eth0").active && table.value("eth0").rate.endsWith("kb/s") && table.contains("wlan0");
    }, 10000)) << manager->speedTable().value("eth0").rate.toStdString();
    EXPECT_FALSE(manager->speedTable().value("wlan0").active);
    manager->NDSpeed_Touch(false, 50);
    EXPECT_TRUE(waitUntil([&] { return !manager->ifconfigPending(); }));

    const QString calls = QString::fromUtf8(appDir.readFile(".safebin/calls.log"));
    EXPECT_TRUE(calls.contains("python3 ./cnt_net/orulx40_upnetcard.py\n"));
    EXPECT_TRUE(calls.contains("iwlist wlan0 scan\n"));
}
