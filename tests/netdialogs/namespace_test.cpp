#include "edit.h"
#include "fakehostroot.h"
#include "globals.h"
#include "hostpaths.h"
#include "modalanswerer.h"
#include "netdialogtest.h"
#include "network_carditem.h"
#include "networkmanager.h"
#include "networksettingdialog.h"
#include "qttesthelpers.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <gtest/gtest.h>

// Runs only inside its own network namespace (ctest starts it under "unshare -n"):
// a veth pair to a second namespace gives a real card with real counters, and
// the API's real port 10100 is free.
namespace {

constexpr const char* kCard = "mmva";
constexpr const char* kPeerCard = "mmvb";
constexpr const char* kPeerAddress = "10.77.0.2";

bool ip(const QStringList& args)
{
    return QProcess::execute("ip", args) == 0;
}

QString netns(qint64 pid)
{
    return QFileInfo(QString("/proc/%1/ns/net").arg(pid)).symLinkTarget();
}

// Only "lo" listed: a namespace of our own, where creating cards touches nothing of the host.
bool freshNamespace()
{
    QFile dev("/proc/net/dev");
    if (!dev.open(QIODevice::ReadOnly))
        return false;
    const QList<QByteArray> lines = dev.readAll().trimmed().split('\n');
    return lines.size() == 3 && lines.last().trimmed().startsWith("lo:");
}

const char* const kScript =
    "import json, os, re\n"
    "root = os.environ['MM_FAKE_ROOT']\n"
    "open(os.environ['MM_TOOL_LOG'], 'a').write('upnetcard\\n')\n"
    "names = re.findall(r'\\s+(\\S+):\\s+', open('/proc/net/dev').read())\n"
    "cards = [{'name': n, 'address': '10.77.0.1', 'describe': 'veth', 'describe_netplan': 'script'}\n"
    "         for n in names if n != 'lo']\n"
    "os.makedirs(root + '/etc/netplan', exist_ok=True)\n"
    "json.dump({'netcard_info': cards}, open(root + '/etc/netplan/netplan_prejson.txt', 'w'))\n";

// Recording stand-ins; "ifconfig" without arguments shows the real cards.
const char* const kTool =
    "#!/bin/sh\n"
    "echo \"$(basename \"$0\") $*\" >> \"$MM_TOOL_LOG\"\n"
    "if [ \"$(basename \"$0\")\" = ifconfig ] && [ $# -eq 0 ]; then exec /usr/sbin/ifconfig; fi\n"
    "if [ \"$(basename \"$0\")\" = iwlist ]; then printf '          ESSID:\"plant\"\\n          ESSID:\"plant\"\\n'; fi\n"
    "exit 0\n";

class InNamespace : public NetDialogTest
{
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("MM_IN_NETNS"))
            GTEST_SKIP() << "runs under unshare -n (ctest netdialogs.in_network_namespace)";
        ASSERT_TRUE(freshNamespace()) << "not in a network namespace of our own: nothing is created";
        NetDialogTest::SetUp();
        ASSERT_TRUE(ip({"link", "set", "lo", "up"}));

        m_peer.start("unshare", {"-n", "sleep", "120"});
        ASSERT_TRUE(m_peer.waitForStarted());
        const qint64 peer = m_peer.processId();
        ASSERT_TRUE(waitUntil([&] { return netns(peer) != netns(QCoreApplication::applicationPid()); }));
        const QString pid = QString::number(peer);
        ASSERT_TRUE(ip({"link", "add", kCard, "type", "veth", "peer", "name", kPeerCard}));
        ASSERT_TRUE(ip({"link", "set", kPeerCard, "netns", pid}));
        ASSERT_TRUE(ip({"addr", "add", "10.77.0.1/24", "dev", kCard}));
        ASSERT_TRUE(ip({"link", "set", kCard, "up"}));
        ASSERT_EQ(QProcess::execute("nsenter", {"-t", pid, "-n", "ip", "addr", "add", "10.77.0.2/24", "dev", kPeerCard}), 0);
        ASSERT_EQ(QProcess::execute("nsenter", {"-t", pid, "-n", "ip", "link", "set", kPeerCard, "up"}), 0);

        // Fake host files, real counters; stand-ins first on PATH.
        ASSERT_TRUE(host.symlink("/proc/net/dev", "/proc/net/dev"));
        ASSERT_TRUE(appDir.writeFile("cnt_net/orulx40_upnetcard.py", kScript));
        for (const char* tool : {"ifconfig", "iwconfig", "iwlist"}) {
            ASSERT_TRUE(appDir.writeFile(QString("tools/") + tool, kTool));
            QFile::setPermissions(appDir.filePath(QString("tools/") + tool), QFileDevice::ExeOwner | QFileDevice::ReadOwner);
        }
        m_path = qgetenv("PATH");
        qputenv("PATH", appDir.filePath("tools").toUtf8() + ':' + m_path);
        qputenv("MM_FAKE_ROOT", host.root().toUtf8());
        qputenv("MM_TOOL_LOG", appDir.filePath("tools.log").toUtf8());
    }

    void TearDown() override
    {
        if (qEnvironmentVariableIsEmpty("MM_IN_NETNS"))
            return;
        NetDialogTest::TearDown();
        if (!m_path.isEmpty())
            qputenv("PATH", m_path);
        if (m_traffic.state() != QProcess::NotRunning) {
            m_traffic.kill();
            m_traffic.waitForFinished();
        }
        ip({"link", "del", kCard});
        if (m_peer.state() != QProcess::NotRunning) {
            m_peer.kill();
            m_peer.waitForFinished();
        }
    }

    QStringList toolLines() const
    {
        return QString::fromUtf8(appDir.readFile("tools.log")).split('\n', Qt::SkipEmptyParts);
    }

    FakeHostRoot host;
    QProcess m_peer;
    QProcess m_traffic;
    QByteArray m_path;
};

int apiStatus()
{
    return runServing("curl", {"-s", "-o", "/dev/null", "-w", "%{http_code}", "-X", "POST", "-d", "{}",
                               "http://127.0.0.1:10100/v18/http/get_product_infos"})
        .toInt();
}

} // namespace

TEST_F(InNamespace, RealCardShowsTrafficAndApplySwitchesTheApiPort)
{
    ASSERT_TRUE(appDir.writeFile("cnt_net/config.json", R"({"keepme":5,"workspace":"./ws/"})"));
    gpNetDialog = new NetworkSettingDialog(nullptr);
    EXPECT_TRUE(toolLines().contains("upnetcard")) << "the missing card file is made by the script";
    gpNetDialog->show();
    auto* row = qobject_cast<Network_CardItem*>(gpNetDialog->cardRow(kCard));
    ASSERT_TRUE(row);
    EXPECT_EQ(row->card().describe, QString("veth(script)"));

    m_traffic.start("ping", {"-q", "-c", "1000", "-i", "0.005", "-s", "1200", kPeerAddress});
    ASSERT_TRUE(m_traffic.waitForStarted());
    // Measured rates have two decimals; "0 kb/s" is the text before the first one.
    const QRegularExpression measured("^\\d+\\.\\d\\d[km]b/s$");
    ASSERT_TRUE(waitUntil([&] { return measured.match(row->speedText()).hasMatch(); }, 12000))
        << row->speedText().toStdString();
    EXPECT_TRUE(row->styleSheet().contains("solid green"));
    EXPECT_TRUE(toolLines().contains("ifconfig "));

    // Cards by /24 subnet; "lo" left out.
    const QMap<QString, QString> subnets = NetworkManager::getInstance()->NetInfoChk();
    EXPECT_EQ(subnets.value("10.77.0"), QString("mmva;"));
    EXPECT_FALSE(subnets.contains("127.0.0"));

    // The scan's tools in order, each with the card as its own argument.
    QFile::remove(appDir.filePath("tools.log"));
    EXPECT_EQ(NetworkManager::getInstance()->getHotPoints(kCard), QStringList({"plant"}));
    EXPECT_EQ(toolLines().filter(kCard), QStringList({"ifconfig mmva down", "iwconfig mmva mode managed",
                                                      "ifconfig mmva up", "iwlist mmva scan"}));

    auto* api = gpNetDialog->findChild<QCheckBox*>("apiBox");
    auto* apply = gpNetDialog->findChild<QPushButton*>("applyButton");
    api->setChecked(true);
    touch(apply);
    EXPECT_EQ(apiStatus(), 200);
    api->setChecked(false);
    touch(apply);
    EXPECT_EQ(apiStatus(), 403);
    const QJsonObject config = QJsonDocument::fromJson(appDir.readFile("cnt_net/config.json")).object();
    EXPECT_EQ(config.value("keepme").toInt(), 5);
    EXPECT_FALSE(config.value("device_workapifunc").toBool());
}
