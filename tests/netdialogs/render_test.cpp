// The network dialogs drawn in all four languages on both screen sizes: each
// must paint something and the texts of its buttons must fit. With
// MM_RENDER_DIR set the drawings are saved there as PNG files; MM_RENDER_IMAGES
// names a folder of pictures to use instead of the plain fills.
#include "fakehostroot.h"
#include "fakeshellrunner.h"
#include "globals.h"
#include "layoutcheck.h"
#include "netdialogtest.h"
#include "network_carditem_setdia.h"
#include "networkmanager.h"
#include "networksettingdialog.h"
#include "nginxserver.h"
#include "qttesthelpers.h"
#include "v_selectbox.h"
#include "versiondownloaddialog.h"
#include "versionrepository.h"

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPixmap>
#include <memory>
#include <utility>

namespace {

struct Screen
{
    int width, height;
};
const Screen kScreens[] = {{1920, 1080}, {1024, 768}};

// More than one colour: something was drawn.
bool painted(const QPixmap& pixmap)
{
    const QImage image = pixmap.toImage();
    const QRgb first = image.pixel(0, 0);
    for (int y = 0; y < image.height(); y += 7)
        for (int x = 0; x < image.width(); x += 7)
            if (image.pixel(x, y) != first)
                return true;
    return false;
}

class RenderNetDialogs : public NetDialogTest
{
protected:
    void SetUp() override
    {
        NetDialogTest::SetUp();
        const QString images = qEnvironmentVariable("MM_RENDER_IMAGES");
        if (!images.isEmpty()) {
            QDir().mkpath("images");
            for (const QString& name : QDir(images).entryList(QDir::Files))
                QFile::copy(images + '/' + name, "images/" + name);
            background = std::make_unique<QPixmap>("images/background.png");
            gpPixmapBG = background.get();
        }
        host.write("/proc/net/dev", "  eth0: 5000 50 0 0\n wlan0: 7000 70 0 0\n");
        const auto file = [](const QJsonArray& cards) { return QJsonDocument(QJsonObject{{"netcard_info", cards}}).toJson(); };
        host.write(NetworkManager::kWiredFile,
                   file({QJsonObject{{"name", "eth0"}, {"address", "192.168.1.20"}, {"netmask", "255.255.255.0"},
                                     {"gateway", "192.168.1.1"}, {"mac", "00:1b:21:3a:4f:10"},
                                     {"describe", "Intel I210"}, {"ispriority", true}}}));
        host.write(NetworkManager::kWirelessFile,
                   file({QJsonObject{{"name", "wlan0"}, {"iswifi", true}, {"use", false}, {"hotname", "plant"},
                                     {"address", "10.0.0.5"}, {"describe", "AX200"}}}));
        shell.setOutput("iwlist", "  ESSID:\"plant\"\n  ESSID:\"office-2G\"\n");
        for (int i = 1; i <= 9; ++i)
            server.writeFile(QString("monitor/press-line/V17/V17_18.0.%1.tar.gz").arg(i), "x");
        server.writeFile("monitor/robot-cell/V17/V17_18.1.0.rar", "x");
        server.makeDir("monitor/spare");
        QString error;
        ASSERT_TRUE(server.start(&error)) << error.toStdString();
    }

    void TearDown() override
    {
        gpPixmapBG = nullptr;
        NetDialogTest::TearDown();
    }

    void check(QWidget* widget, const QString& name)
    {
        const QPixmap pixmap = widget->grab();
        EXPECT_TRUE(painted(pixmap)) << name.toStdString();
        // Texts whole, nothing off its parent or under another control but a dialog opened over
        // it. The placing of the dialogs on the screen and of the question box over the
        // download list are the fitting tests' concern.
        const auto dialogOver = [](const QWidget*, const QWidget* upper) { return qobject_cast<const QDialog*>(upper); };
        const QStringList faults = name.startsWith("download_question") || name.startsWith("download_failure")
                                       ? cutTexts(widget)
                                       : layoutFaults(widget, widget->geometry(), dialogOver);
        EXPECT_TRUE(faults.isEmpty()) << name.toStdString() << ":\n" << faults.join('\n').toStdString();
        const QString dir = qEnvironmentVariable("MM_RENDER_DIR");
        if (!dir.isEmpty()) {
            QDir().mkpath(dir);
            pixmap.save(dir + '/' + name + ".png");
        }
    }

    // Red text of the box that lies where the operator cannot read it: outside its white frame,
    // outside its dialog (the small box starts left of it) or under its button; and how much lies inside.
    static std::pair<int, int> boxTextOutsideInside(QWidget* dialog, const v_SelectBox& box)
    {
        const QImage image = dialog->grab().toImage();
        const QRect button = box.findChild<QWidget*>("confirmButton")->geometry().translated(box.pos());
        const QRect shown = box.geometry() & dialog->rect();
        const QRect readable = shown.adjusted(kFrame, kFrame, -kFrame, -kFrame) & QRect(0, 0, dialog->width(), button.top());
        std::pair<int, int> counts(0, 0);
        for (int y = shown.top(); y <= shown.bottom(); ++y) {
            for (int x = shown.left(); x <= shown.right(); ++x) {
                const QColor c = image.pixelColor(x, y);
                if (c.red() < 128 || c.green() > 100 || c.blue() > 100 || button.contains(x, y))
                    continue;
                ++(readable.contains(x, y) ? counts.second : counts.first);
            }
        }
        return counts;
    }
    static constexpr int kFrame = 5;

    FakeHostRoot host;
    FakeShellRunner shell;
    NginxServer server;
    std::unique_ptr<QPixmap> background;
};

} // namespace

TEST_F(RenderNetDialogs, AllLanguagesBothScreens)
{
    for (const Screen& screen : kScreens) {
        for (int lan = 0; lan < 4; ++lan) {
            gShowW = screen.width;
            gShowH = screen.height;
            gLan = lan;
            const QString suffix = QString("_%1_%2").arg(screen.width).arg(lan);
            dropNetDialog();
            gpNetDialog = new NetworkSettingDialog(nullptr);
            gpNetDialog->show();
            gpNetDialog->slotTimeout_ChKState();
            check(gpNetDialog, "network" + suffix);

            {
                Network_CardItem_SetDia editor(NetworkManager::getInstance()->readNetInfo().value("wlan0"), gpNetDialog);
                editor.show();
                check(gpNetDialog, "network_card" + suffix);
            }

            VersionDownloadDialog download(new VersionRepository("127.0.0.1", server.port(), appDir.filePath("bin-ZEV")),
                                           nullptr);
            download.QDialog::show();
            check(&download, "download" + suffix);
            v_SelectBox question(download.width() / 2 - 375, download.height() / 2 - 185, &download,
                                 v_SelectBox::Question);
            question.setText("是否开始下载该版本?");
            question.QDialog::show();
            check(&download, "download_question" + suffix);
            question.hide();

            // A failure names the file not written: all of its path is read on the box.
            v_SelectBox failure(question.x(), question.y(), &download, v_SelectBox::Confirm);
            failure.setText(lanText(900).arg("/root/bin-ZEV-2026-12-08-09:30:32.tar.gz"));
            failure.QDialog::show();
            check(&download, "download_failure" + suffix);
            const auto [outside, inside] = boxTextOutsideInside(&download, failure);
            EXPECT_EQ(outside, 0) << "text pixels off the failure box, " << suffix.toStdString();
            EXPECT_GT(inside, 500) << suffix.toStdString();
        }
    }
}
