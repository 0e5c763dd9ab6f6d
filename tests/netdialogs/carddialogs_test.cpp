#include "edit.h"
#include "editip.h"
#include "fakehostroot.h"
#include "fakeshellrunner.h"
#include "globals.h"
#include "hostpaths.h"
#include "modalanswerer.h"
#include "shellrunner.h"
#include "netdialogtest.h"
#include "network_carditem.h"
#include "network_carditem_setdia.h"
#include "networkmanager.h"
#include "networksettingdialog.h"
#include "qttesthelpers.h"
#include "textshowwidget.h"
#include "vek_netmn.h"
#include "httpapiserver.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QScroller>
#include <QTextBrowser>
#include <gtest/gtest.h>

namespace {

const QByteArray kProcNetDev =
    "Inter-|   Receive |  Transmit\n face |bytes packets|bytes packets\n"
    "    lo:    1000      10    0    0    0     0          0         0     1000      10\n"
    "  eth0:    5000      50    0    0    0     0          0         0     2000      20\n"
    "  eth1:    6000      60    0    0    0     0          0         0     2000      20\n"
    " wlan0:    7000      70    0    0    0     0          0         0     3000      30\n";

QJsonArray fileCards(const QString& hostPath)
{
    QFile file(HostPaths::path(hostPath));
    file.open(QIODevice::ReadOnly);
    return QJsonDocument::fromJson(file.readAll()).object().value("netcard_info").toArray();
}

class CardDialogs : public NetDialogTest
{
protected:
    void SetUp() override
    {
        NetDialogTest::SetUp();
        host.write("/proc/net/dev", kProcNetDev);
        const auto file = [](const QJsonArray& cards) { return QJsonDocument(QJsonObject{{"netcard_info", cards}}).toJson(); };
        host.write(NetworkManager::kWiredFile,
                   file({QJsonObject{{"name", "eth0"}, {"address", "10.0.0.1"}, {"netmask", "255.255.255.0"},
                                     {"mac", "00:11:22:33:44:55"}, {"describe", "Intel"}, {"ispriority", true}},
                         QJsonObject{{"name", "eth1"}, {"address", "10.0.1.1"}, {"describe", "Realtek"}}}));
        host.write(NetworkManager::kWirelessFile,
                   file({QJsonObject{{"name", "wlan0"}, {"iswifi", true}, {"hotname", "home"}, {"use", true}}}));
        shell.setOutput("iwlist", "          ESSID:\"plant\"\n          ESSID:\"office\"\n          ESSID:\"plant\"\n"
                                  "          ESSID:\"guest\u202Etsil\"\n");
        NetworkManager::getInstance()->setPriorityCardName(QString());
    }

    FakeHostRoot host;
    FakeShellRunner shell;
};

} // namespace

TEST_F(CardDialogs, EditorShowsWirelessRowsOnlyForWirelessCardsAndCollectsTheEdits)
{
    const auto cards = NetworkManager::getInstance()->readNetInfo();
    stu_netinfo wired = cards.value("eth0");
    wired.hotname = "kept";
    Network_CardItem_SetDia wiredEditor(wired, nullptr);
    // As drawn (800 x 500), or taller where its rows need it on a screen that has the room.
    EXPECT_EQ(wiredEditor.size(), QSize(800, 500).expandedTo(wiredEditor.contentSize()));
    EXPECT_FALSE(wiredEditor.findChild<QComboBox*>("QComboBox_pComUse"));
    EXPECT_FALSE(wiredEditor.findChild<Edit*>("Edit_editHotName"));
    EXPECT_FALSE(shell.ran("iwlist")) << "no scan for a wired card";
    wiredEditor.findChild<EditIP*>("IPAddressEdite_IP")->setAddress("192.168.5.7");
    wiredEditor.findChild<EditIP*>("IPAddressEdite_Route")->setAddress("192.168.5.1");
    wiredEditor.findChild<QComboBox*>("QComboBox_pComTool")->setCurrentIndex(1);
    const stu_netinfo edited = wiredEditor.getNetINfo();
    EXPECT_EQ(edited.address, QString("192.168.5.7"));
    EXPECT_EQ(edited.gateway, QString("192.168.5.1"));
    EXPECT_EQ(edited.netmask, QString("255.255.255.0"));
    EXPECT_TRUE(edited.isdhcp);
    EXPECT_EQ(edited.hotname, QString("kept"));

    Network_CardItem_SetDia wirelessEditor(cards.value("wlan0"), nullptr);
    EXPECT_EQ(wirelessEditor.size(), QSize(800, 800).expandedTo(wirelessEditor.contentSize()));
    auto* scanned = wirelessEditor.findChild<QComboBox*>("QComboBox_pLabHotName");
    ASSERT_TRUE(scanned);
    QStringList ssids;
    for (int i = 0; i < scanned->count(); ++i)
        ssids << scanned->itemText(i);
    EXPECT_EQ(ssids, QStringList({"plant", "office", "guest\\u202Etsil", "home"})) << "a name from the air shown escaped";
    EXPECT_EQ(scanned->currentText(), QString("home"));
    emit scanned->textActivated("guest\\u202Etsil");
    EXPECT_EQ(wirelessEditor.getNetINfo().hotname, QString::fromUtf8("guest\u202Etsil")) << "and taken as it is";
    emit scanned->textActivated("office");
    wirelessEditor.findChild<QComboBox*>("QComboBox_pComUse")->setCurrentIndex(1);
    wirelessEditor.findChild<Edit*>("Edit_editPasswd")->setText("s3cret");
    const stu_netinfo wifi = wirelessEditor.getNetINfo();
    EXPECT_EQ(wifi.hotname, QString("office"));
    EXPECT_EQ(wifi.passwd, QString("s3cret"));
    EXPECT_FALSE(wifi.use);
}

TEST_F(CardDialogs, EditorRefusesWhatIsNoAddressAndKeepsEmptyGatewayAndDnsEmpty)
{
    stu_netinfo card = NetworkManager::getInstance()->readNetInfo().value("eth1");
    card.gateway = "10.0.0.1; reboot";
    card.netmask = "255.255.255.0";
    Network_CardItem_SetDia editor(card, nullptr);
    editor.show();
    auto* refusal = editor.findChild<QLabel*>("refusalLabel");
    ASSERT_TRUE(refusal);
    EXPECT_FALSE(refusal->isVisible());
    const auto accepted = [&] {
        editor.setResult(QDialog::Rejected);
        editor.acceptDialog();
        return editor.result() == QDialog::Accepted;
    };

    // Neither cut to "10.0.0.0" nor stored: the operator is told and the editor stays.
    EXPECT_FALSE(accepted());
    EXPECT_TRUE(refusal->isVisible());
    EXPECT_EQ(refusal->text(), lanText(611) + " 10.0.0.1; reboot: not an address (four numbers 0 to 255), refused");
    EXPECT_EQ(editor.getNetINfo().gateway, QString("10.0.0.1; reboot")) << "a refused text is never changed";

    auto* gateway = editor.findChild<EditIP*>("IPAddressEdite_Route");
    // (The octets themselves clamp numbers to 0..255.)
    for (const char* bad : {"10.0..1", "10.0.0.1x", "a.b.c.d"}) {
        gateway->setAddress(bad);
        EXPECT_FALSE(accepted()) << bad;
    }
    // An empty gateway and DNS stay empty (no "0.0.0.0"); an empty address of a static card does not.
    gateway->setAddress("");
    editor.findChild<EditIP*>("IPAddressEdite_Mask")->setAddress("255.255.0.0");
    EXPECT_TRUE(accepted()) << refusal->text().toStdString();
    stu_netinfo edited = editor.getNetINfo();
    EXPECT_EQ(edited.gateway, QString());
    EXPECT_EQ(edited.dns, QString());
    EXPECT_EQ(edited.address, QString("10.0.1.1"));
    editor.findChild<EditIP*>("IPAddressEdite_IP")->setAddress("");
    EXPECT_FALSE(accepted());
    EXPECT_EQ(refusal->text(), "IP: needed for a static address, refused");
    editor.findChild<QComboBox*>("QComboBox_pComTool")->setCurrentIndex(1);
    EXPECT_TRUE(accepted()) << "a DHCP card needs no address of its own";
    gateway->setAddress("010.000.000.001");
    EXPECT_TRUE(accepted());
    EXPECT_EQ(editor.getNetINfo().gateway, QString("10.0.0.1"));
}

TEST_F(CardDialogs, AcceptedEditWritesBothFilesWithOnePriorityAndRunsScript)
{
    gpNetDialog = new NetworkSettingDialog(nullptr);
    gpNetDialog->show();
    auto* row = qobject_cast<Network_CardItem*>(gpNetDialog->cardRow("eth1"));
    ASSERT_TRUE(row);
    EXPECT_EQ(row->findChild<QLabel*>("labpriority")->text(), QString());
    shell.clear();

    answerChild(gpNetDialog, "Network_CardItem_SetDia", [](QWidget* editor) {
        editor->findChild<QCheckBox*>("RouteMetric")->setChecked(true);
        editor->findChild<EditIP*>("IPAddressEdite_IP")->setAddress("10.0.1.99");
        qobject_cast<QDialog*>(editor)->done(QDialog::Accepted);
        return true;
    });
    touch(row->findChild<QPushButton*>("modifyButton"));
    ASSERT_TRUE(waitUntil([&] { return shell.ran("setsid"); }, 8000)) << "the script runs after an accepted edit";
    ASSERT_TRUE(waitUntil([&] { return row->findChild<QLabel*>("labip")->text() == "10.0.1.99"; }));

    const QJsonArray wired = fileCards(NetworkManager::kWiredFile);
    ASSERT_EQ(wired.size(), 2);
    EXPECT_FALSE(wired.at(0).toObject().value("ispriority").toBool()) << "eth0 is no longer the priority card";
    EXPECT_TRUE(wired.at(1).toObject().value("ispriority").toBool());
    EXPECT_EQ(fileCards(NetworkManager::kWirelessFile).at(0).toObject().value("hotname").toString(), QString("home"));
    EXPECT_EQ(row->findChild<QLabel*>("labpriority")->text(), QString("优先启用"));
}

TEST_F(CardDialogs, RowShowsStateRateAndMarks)
{
    auto cards = NetworkManager::getInstance()->readNetInfo();
    gLan = 3;
    Network_CardItem japanese(cards.value("wlan0"), nullptr);
    EXPECT_TRUE(japanese.findChild<QLabel*>("labtip")->isHidden());
    gLan = 1;
    Network_CardItem row(cards.value("eth0"), nullptr);
    EXPECT_FALSE(row.findChild<QLabel*>("labtip")->isHidden());
    EXPECT_TRUE(row.findChild<QLabel*>("labuse")->isHidden());
    row.chgHardWare(true);
    EXPECT_TRUE(row.styleSheet().contains("border-left: 10px solid green;"));
    row.chgHardWare(false);
    EXPECT_TRUE(row.styleSheet().contains("border-left: 10px solid red;"));
    row.updateSpeed("1.00kb/s");
    EXPECT_EQ(row.speedText(), QString("1.00kb/s"));
    stu_netinfo changed = cards.value("eth0");
    changed.use = false;
    changed.ispriority = false;
    changed.address = "10.9.9.9";
    row.reload_information(changed);
    EXPECT_FALSE(row.findChild<QLabel*>("labuse")->isHidden());
    EXPECT_EQ(row.findChild<QLabel*>("labip")->text(), QString("10.9.9.9"));
    EXPECT_EQ(row.findChild<QLabel*>("labpriority")->text(), QString());
}

TEST_F(CardDialogs, ApplyKeepsOtherKeysAndLinkStateFollowsTheSource)
{
    VEK_NETMN::getInstance()->apiServer()->setListenAddress(QHostAddress::LocalHost, 0);
    ASSERT_TRUE(appDir.writeFile("cnt_net/config.json",
                                 R"({"extra":{"a":1},"serverport":"999","workspace":"./ws/","devicename":"old",
                                     "device_workapifunc":false})"));
    NetworkSettingDialog::setLinkStateSource([] { return -3; });
    gpNetDialog = new NetworkSettingDialog(nullptr);
    gpNetDialog->show();
    EXPECT_EQ(gpNetDialog->findChild<QLabel*>("lab_showstate")->text(), QString("Failed to connect to the server"));
    NetworkSettingDialog::setLinkStateSource([] { return 1; });
    gpNetDialog->slotTimeout_ZELState();
    EXPECT_EQ(gpNetDialog->findChild<QLabel*>("lab_showstate")->text(), QString("Connection successful"));
    NetworkSettingDialog::setLinkStateSource(nullptr);

    EXPECT_EQ(gpNetDialog->findChild<Edit*>("deviceNameEdit")->text(), QString("old"));
    gpNetDialog->findChild<QCheckBox*>("apiBox")->setChecked(true);
    gpNetDialog->findChild<Edit*>("deviceNameEdit")->setText("press-7");
    gpNetDialog->findChild<EditIP*>("serverEdit")->setAddress("192.168.3.4");
    EXPECT_EQ(gpNetDialog->findChild<Edit*>("pingTargetEdit")->text(), QString("192.168.3.4"));
    touch(gpNetDialog->findChild<QPushButton*>("applyButton"));

    const QJsonObject config = QJsonDocument::fromJson(appDir.readFile("cnt_net/config.json")).object();
    EXPECT_EQ(config.value("extra").toObject().value("a").toInt(), 1);
    EXPECT_EQ(config.value("serverport").toString(), QString("10432"));
    EXPECT_EQ(config.value("workspace").toString(), QString("./ws/"));
    EXPECT_EQ(config.value("videoapp_dir").toString(), QString("/root/bin-ZEV/cnt_net/"));
    EXPECT_EQ(config.value("devicename").toString(), QString("press-7"));
    EXPECT_EQ(config.value("serveraddr").toString(), QString("192.168.3.4"));
    EXPECT_TRUE(config.value("device_workapifunc").toBool());
    EXPECT_TRUE(VEK_NETMN::getInstance()->isApiWorking());
    EXPECT_TRUE(gpNetDialog->lastApplyOk());

    // A config file that cannot be replaced: the reason is kept, the services still restart.
    QFile::remove(appDir.filePath("cnt_net/config.json"));
    QDir().mkpath(appDir.filePath("cnt_net/config.json"));
    gpNetDialog->slotUpdateZEL();
    QString error;
    EXPECT_FALSE(gpNetDialog->lastApplyOk(&error));
    EXPECT_TRUE(error.contains("config.json")) << error.toStdString();
}

TEST_F(CardDialogs, PingShowsOutputRefusesOptionsAndEndsWhenHidden)
{
    ShellRunner::setInstance(nullptr);  // the real ping
    gpNetDialog = new NetworkSettingDialog(nullptr);
    gpNetDialog->show();
    auto* target = gpNetDialog->findChild<Edit*>("pingTargetEdit");
    auto* button = gpNetDialog->findChild<QPushButton*>("pingButton");
    QTextBrowser* panel = gpNetDialog->pingPanel()->textBrowser;

    target->setText("-f");
    button->click();
    EXPECT_TRUE(gpNetDialog->pingPanel()->isVisible());
    EXPECT_TRUE(panel->toPlainText().contains("refused"));
    EXPECT_FALSE(gpNetDialog->findChild<QProcess*>());

    target->setText("127.0.0.1");
    button->click();
    EXPECT_FALSE(panel->toPlainText().contains("refused")) << "each ping starts on a clear panel";
    ASSERT_TRUE(waitUntil([&] { return panel->toPlainText().contains("bytes from 127.0.0.1"); }, 8000))
        << panel->toPlainText().toStdString();
    QProcess* ping = gpNetDialog->findChild<QProcess*>();
    ASSERT_TRUE(ping);
    const qint64 pid = ping->processId();
    gpNetDialog->hide();
    EXPECT_FALSE(gpNetDialog->findChild<QProcess*>());
    EXPECT_FALSE(gpNetDialog->pingPanel()->isVisible());
    EXPECT_TRUE(waitUntil([&] { return !QFile::exists(QString("/proc/%1/cmdline").arg(pid)); }, 3000));
}

TEST_F(CardDialogs, OnASmallPanelTheDialogsFitAndTheirButtonsStayInReach)
{
    const int w = gShowW, h = gShowH;
    gShowW = 1024;
    gShowH = 768;
    const QRect screen(0, 0, gShowW, gShowH);
    gpNetDialog = new NetworkSettingDialog(nullptr);
    gpNetDialog->show();
    EXPECT_TRUE(screen.contains(gpNetDialog->geometry())) << gpNetDialog->width() << "x" << gpNetDialog->height();
    // The title bar's buttons lie inside; the body scrolls beneath them.
    for (QPushButton* b : gpNetDialog->findChildren<QPushButton*>()) {
        if (b->parentWidget() != gpNetDialog->titleLabel()->parentWidget())
            continue;
        EXPECT_TRUE(gpNetDialog->rect().contains(b->geometry().translated(b->parentWidget()->pos())))
            << b->text().toStdString();
    }
    auto* target = gpNetDialog->findChild<Edit*>("pingTargetEdit");
    target->setText("-f");  // refused: the panel shows without a ping
    gpNetDialog->findChild<QPushButton*>("pingButton")->click();
    ASSERT_TRUE(gpNetDialog->pingPanel()->isVisible());
    EXPECT_TRUE(gpNetDialog->rect().contains(gpNetDialog->pingPanel()->geometry()))
        << gpNetDialog->pingPanel()->x() << "," << gpNetDialog->pingPanel()->y();

    // The card editor lies inside the dialog below its title bar, so both titles show; its
    // lists are worked by finger as the other drop-downs: dragged, with rows of 50 px.
    Network_CardItem_SetDia wirelessEditor(NetworkManager::getInstance()->readNetInfo().value("wlan0"), gpNetDialog);
    wirelessEditor.show();
    EXPECT_GT(wirelessEditor.y(), gpNetDialog->titleLabel()->parentWidget()->geometry().bottom());
    EXPECT_TRUE(gpNetDialog->rect().contains(wirelessEditor.geometry())) << wirelessEditor.height();
    for (const char* name : {"QComboBox_pComUse", "QComboBox_pLabHotName", "QComboBox_pComTool"}) {
        auto* box = wirelessEditor.findChild<QComboBox*>(name);
        box->showPopup();
        ASSERT_TRUE(waitUntil([&] { return box->view()->isVisible(); })) << name;
        EXPECT_TRUE(QScroller::hasScroller(box->view()->viewport())) << name;
        EXPECT_GE(box->view()->visualRect(box->model()->index(0, 0)).height(), 50) << name;
        box->hidePopup();
    }
    gShowW = w;
    gShowH = h;
}
