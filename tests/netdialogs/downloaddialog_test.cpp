#include "globals.h"
#include "looppace.h"
#include "modalanswerer.h"
#include "netdialogtest.h"
#include "networkdialogs.h"
#include "nginxserver.h"
#include "qttesthelpers.h"
#include "shellrunner.h"
#include "v_selectbox.h"
#include "versiondownloaddialog.h"
#include "versionrepository.h"
#include "warnbox.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <functional>
#include <unistd.h>
#include <gtest/gtest.h>

namespace {

const QByteArray kRarPackage("Rar!\x1a\x07\x00 rar package", 20);

class DownloadDialog : public NetDialogTest
{
protected:
    void SetUp() override
    {
        NetDialogTest::SetUp();
        for (int i = 1; i <= 15; ++i)
            server.writeFile(QString("monitor/lineA/V17/V17_pkg%1.tar.gz").arg(i, 2, 10, QChar('0')), "package");
        server.makeDir("monitor/lineB");
        server.writeFile("monitor/lineC/V17/V17_c.rar", kRarPackage);
        QString error;
        ASSERT_TRUE(server.start(&error)) << error.toStdString();
        root = appDir.filePath("bin-ZEV");
        ASSERT_TRUE(writeWholeFile(root + "/monitor.bin", "program"));
    }

    std::unique_ptr<VersionDownloadDialog> makeDialog()
    {
        auto dialog = std::make_unique<VersionDownloadDialog>(new VersionRepository("127.0.0.1", server.port(), root),
                                                              nullptr);
        dialog->QDialog::show();
        return dialog;
    }

    // The positions in the column's package list of the names shown.
    static QList<int> visibleIds(VersionDownloadDialog& dialog, int column)
    {
        QList<int> ids;
        for (QAbstractButton* button : dialog.packageButtons(column))
            if (button->isVisible())
                ids << dialog.packageNames(column).indexOf(button->text());
        return ids;
    }

    // Presses the package, answers Yes and confirms the outcome, whose text it returns.
    static QString downloadWithYes(VersionDownloadDialog* dialog, QAbstractButton* package)
    {
        QString outcome;
        answerChild(dialog, "v_SelectBox", [&](QWidget* box) {
            touch(box->findChild<QAbstractButton*>("yesButton"));
            answerChild(dialog, "v_SelectBox", [&](QWidget* result) {
                if (static_cast<v_SelectBox*>(result)->kind() != v_SelectBox::Confirm)
                    return false;
                outcome = static_cast<v_SelectBox*>(result)->text();
                touch(result->findChild<QAbstractButton*>("confirmButton"));
                return true;
            });
            return true;
        });
        touch(package);
        EXPECT_TRUE(waitUntil([&] { return !outcome.isEmpty() && package->isEnabled(); }));
        return outcome;
    }

    NginxServer server;
    QString root;
};

} // namespace

TEST_F(DownloadDialog, ColumnsPageSevenPackagesAndStopAtBothEnds)
{
    auto dialog = makeDialog();
    EXPECT_TRUE(dialog->isOnline());
    ASSERT_EQ(dialog->columnTitles(), QVector<QString>({"lineA", "lineB", "lineC"}));
    EXPECT_EQ(dialog->pageCount(0), 3);
    EXPECT_EQ(dialog->pageCount(1), 0);
    EXPECT_EQ(visibleIds(*dialog, 0), QList<int>({0, 1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(visibleIds(*dialog, 2), QList<int>({0}));
    EXPECT_EQ(dialog->packageButtons(2).first()->x(), dialog->width() / 6 + 2 * dialog->width() / 3 - 100)
        << "a column without packages keeps the next columns under their titles";

    dialog->slotToNextPage(0);
    EXPECT_EQ(visibleIds(*dialog, 0), QList<int>({7, 8, 9, 10, 11, 12, 13}));
    dialog->slotToNextPage(0);
    dialog->slotToNextPage(0);
    EXPECT_EQ(dialog->currentPage(0), 2);
    EXPECT_EQ(visibleIds(*dialog, 0), QList<int>({14}));
    for (int i = 0; i < 4; ++i)
        dialog->slotToLastPage(0);
    EXPECT_EQ(dialog->currentPage(0), 0);
    dialog->slotToNextPage(1);  // an empty column pages nowhere
    EXPECT_EQ(dialog->currentPage(1), 0);
}

TEST_F(DownloadDialog, AnsweringNoDownloadsNothingAndYesStoresThePackage)
{
    auto dialog = makeDialog();
    QAbstractButton* package = dialog->packageButtons(2).first();
    QAbstractButton* exitButton = dialog->findChild<QAbstractButton*>("exitButton");

    answerChild(dialog.get(), "v_SelectBox", [&](QWidget* box) {
        EXPECT_FALSE(package->isEnabled());
        EXPECT_FALSE(exitButton->isEnabled());
        EXPECT_EQ(static_cast<v_SelectBox*>(box)->text(), QString("是否开始下载该版本?"));
        touch(box->findChild<QAbstractButton*>("noButton"));
        return true;
    });
    touch(package);
    ASSERT_TRUE(waitUntil([&] { return package->isEnabled() && exitButton->isEnabled(); }));
    EXPECT_FALSE(QFile::exists(root + "/newupdate.rar"));

    // A full disk is told as one (the shared text for files that could not be stored).
    const QString partial = root + "/" + VersionRepository::kPartialName;
    ASSERT_TRUE(QFile::link("/dev/full", partial));
    EXPECT_EQ(downloadWithYes(dialog.get(), package), lanText(900).arg(root + "/newupdate.rar"));
    EXPECT_FALSE(QFile::exists(root + "/newupdate.rar"));
    QFile::remove(partial);

    EXPECT_EQ(downloadWithYes(dialog.get(), package), QString("下载成功\n重启后自动更新"));
    EXPECT_EQ(QFile(root + "/newupdate.rar").size(), qint64(kRarPackage.size()));
}

// A name holding a right-to-left override is shown with the override escaped (not
// reversed), and the package downloaded is the one of that name.
TEST_F(DownloadDialog, AnOverrideInAPackageNameIsShownEscapedAndTheNamedPackageLoaded)
{
    server.writeFile(QString::fromUtf8("monitor/lineC/V17/V17_d\u202Egnp.rar"), kRarPackage);
    auto dialog = makeDialog();
    QAbstractButton* package = nullptr;
    for (QAbstractButton* button : dialog->packageButtons(2)) {
        if (button->text().contains("V17_d"))
            package = button;
    }
    ASSERT_TRUE(package);
    EXPECT_EQ(package->text(), QString("V17_d\\u202Egnp.rar"));
    EXPECT_EQ(downloadWithYes(dialog.get(), package), QString("下载成功\n重启后自动更新"));
    QFile stored(root + "/newupdate.rar");
    ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
    EXPECT_EQ(stored.readAll(), kRarPackage);
}

TEST_F(DownloadDialog, UnreachableServerOpensTheWarningInstead)
{
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
    const quint16 port = closed.serverPort();
    closed.close();
    ASSERT_TRUE(appDir.writeFile("cnt_net/config.json",
                                 QString(R"({"update_serveraddr":"127.0.0.1","update_serverport":%1})").arg(port).toUtf8()));
    WarnBox warn(nullptr);
    gpWarnBox = &warn;
    ModalAnswerer* answer = ModalAnswerer::finishDialog(1);
    EXPECT_EQ(NetDialogs::openVersionDownload(nullptr), 0);
    EXPECT_TRUE(answer->answered());
    EXPECT_EQ(warn.text(), QString("网络异常无法访问"));
    gpWarnBox = nullptr;
}

TEST_F(DownloadDialog, ListingOfTwentyThousandPackagesNeverHoldsTheGuiThread)
{
    constexpr int kPackages = 20000;
    for (int i = 0; i < kPackages; ++i)
        ASSERT_TRUE(server.writeFile(QString("monitor/lineD/V17/V17_bulk%1.tar.gz").arg(i, 5, 10, QChar('0')), ""));
    // The dialog waits a second for each listing: a loaded machine's server can take longer to
    // send this one, which then stays out; the dialog is opened again until it came (each
    // opening judged).
    std::unique_ptr<VersionDownloadDialog> dialog;
    qint64 hold = 0;
    qint64 pause = 0;
    qint64 opened = 0;
    for (int opening = 0; opening < 5 && (!dialog || dialog->packageNames(3).isEmpty()); ++opening) {
        dialog.reset();
        QElapsedTimer whole;
        whole.start();
        LoopPace pace;
        dialog = makeDialog();
        hold = qMax(hold, pace.longestHoldMs());
        pause = qMax(pause, pace.longestGapMs());
        opened = whole.elapsed();
    }

    // What the listing would cost read on this thread, measured in the same run.
    const ShellResult page = runProgram(
        "curl", {"-s", "--max-time", "60", QString("http://127.0.0.1:%1/monitor/lineD/V17/").arg(server.port())}, 90000);
    ASSERT_TRUE(page.ok()) << page.stdErr.toStdString();
    VersionRepository::Listing listing;
    const qint64 onThread = LoopPace::longestHoldMs([&] {
        ASSERT_TRUE(VersionRepository::parseListing(QString::fromUtf8(page.stdOut), &listing));
    });
    ASSERT_EQ(listing.packages.size(), kPackages);
    std::printf("dialog over %d packages: opened in %lld ms, GUI thread held %lld ms at most (longest pause %lld ms), "
                "the listing read on it would hold it %lld ms; %d buttons\n",
                kPackages, opened, hold, pause, onThread,
                int(dialog->findChildren<QAbstractButton*>().size()));
    EXPECT_LT(hold, 300) << "the listing was read or its buttons built on the GUI thread";
    EXPECT_LT(hold, onThread) << "the GUI thread was held as long as a listing read on it";

    ASSERT_EQ(dialog->columnTitles(), QVector<QString>({"lineA", "lineB", "lineC", "lineD"}));
    const QStringList names = dialog->packageNames(3);
    ASSERT_EQ(names.size(), VersionRepository::kMaxPackages) << "the listing's entries are capped";
    EXPECT_EQ(names.first(), QString("V17_bulk00000.tar.gz"));
    EXPECT_EQ(dialog->pageCount(3), (VersionRepository::kMaxPackages + 6) / 7);
    // Widgets for the page shown only: seven per column, the paging and the exit buttons.
    EXPECT_EQ(dialog->packageButtons(3).size(), 7);
    EXPECT_LE(dialog->findChildren<QAbstractButton*>().size(), 4 * 7 + 4 * 2 + 1);
    dialog->slotToNextPage(3);
    EXPECT_EQ(visibleIds(*dialog, 3), QList<int>({7, 8, 9, 10, 11, 12, 13}));
}

TEST_F(DownloadDialog, ASecondTapWhileTheListingIsReadOpensNothingMore)
{
    // A slow server that counts the listings asked for.
    QTcpServer slow;
    ASSERT_TRUE(slow.listen(QHostAddress::LocalHost, 0));
    int listings = 0;
    QObject::connect(&slow, &QTcpServer::newConnection, [&] {
        QTcpSocket* socket = slow.nextPendingConnection();
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [&, socket] {
            if (socket->readAll().startsWith("GET /monitor/ "))
                ++listings;
            QTimer::singleShot(600, socket, [socket] {
                socket->write("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
                socket->disconnectFromHost();
            });
        });
    });
    ASSERT_TRUE(appDir.writeFile("cnt_net/config.json",
                                 QString(R"({"update_serveraddr":"127.0.0.1","update_serverport":%1})")
                                     .arg(slow.serverPort()).toUtf8()));
    QList<int> secondTaps;
    QTimer::singleShot(100, [&] { secondTaps << NetDialogs::openVersionDownload(nullptr); });
    QTimer::singleShot(300, [&] { secondTaps << NetDialogs::openVersionDownload(nullptr); });
    ModalAnswerer* answer = ModalAnswerer::finishDialog(1, 8000);
    EXPECT_EQ(NetDialogs::openVersionDownload(nullptr), 1);
    EXPECT_TRUE(answer->answered());
    EXPECT_EQ(secondTaps, QList<int>({0, 0}));
    EXPECT_EQ(listings, 1);
}

TEST_F(DownloadDialog, SmallScreenBoxesSitWhereTheLargeBoxWouldWithTheirButtonsInTheDialog)
{
    const int w = gShowW, h = gShowH;
    gShowW = 1024;
    gShowH = 768;
    auto dialog = makeDialog();
    ASSERT_EQ(dialog->size(), QSize(700, 500));
    QAbstractButton* package = dialog->packageButtons(0).first();
    QRect boxAt, yesAt, noAt;
    answerChild(dialog.get(), "v_SelectBox", [&](QWidget* box) {
        boxAt = box->geometry();
        yesAt = box->findChild<QAbstractButton*>("yesButton")->geometry().translated(box->pos());
        noAt = box->findChild<QAbstractButton*>("noButton")->geometry().translated(box->pos());
        touch(box->findChild<QAbstractButton*>("noButton"));
        return true;
    });
    touch(package);
    ASSERT_TRUE(waitUntil([&] { return package->isEnabled(); }));
    EXPECT_EQ(boxAt, QRect(350 - 375, 250 - 185, 420, 180));
    EXPECT_TRUE(dialog->rect().contains(yesAt)) << yesAt.x() << "," << yesAt.y();
    EXPECT_TRUE(dialog->rect().contains(noAt)) << noAt.x() << "," << noAt.y();
    gShowW = w;
    gShowH = h;
}

namespace {

// Stands in for tar's backup: it takes the time a real install folder takes, then runs
// the real tar; cut, it leaves half the archive and says nothing. Other programs run as
// they are.
class SlowBackup : public ShellRunner
{
public:
    static constexpr int kBackupMs = 1500;

    SlowBackup() { ShellRunner::setInstance(this); }
    ~SlowBackup() override { ShellRunner::setInstance(nullptr); }

    ShellResult run(const QString& program, const QStringList& args, int timeoutMs,
                    const QByteArray& stdinData) override
    {
        const int at = args.indexOf("-zcf");
        if (program != "tar" || at < 0)
            return ShellRunner::run(program, args, timeoutMs, stdinData);
        QThread::msleep(kBackupMs);
        const ShellResult result = ShellRunner::run(program, args, timeoutMs, stdinData);
        if (cut) {
            QFile written(args.value(at + 1));
            written.resize(written.size() / 2);
        }
        return result;
    }

    std::atomic<bool> cut{false};
};

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

TEST_F(DownloadDialog, TheBackupNeverHoldsTheGuiThreadAndACutBackupKeepsTheEarlierOne)
{
    SlowBackup tar;
    auto dialog = makeDialog();
    QAbstractButton* package = dialog->packageButtons(2).first();
    const QString target = root + "/newupdate.rar";
    const QDir beside(QFileInfo(root).path());
    const auto backups = [&] { return beside.entryList({"bin-ZEV-*", ".bin-ZEV*"}, QDir::Files | QDir::Hidden); };
    QString outcome;
    const qint64 hold = LoopPace::longestHoldMs([&] { outcome = downloadWithYes(dialog.get(), package); });
    EXPECT_LT(hold, SlowBackup::kBackupMs / 3) << "the backup ran on the GUI thread";
    EXPECT_EQ(outcome, QString("下载成功\n重启后自动更新"));
    EXPECT_EQ(QFile(target).size(), qint64(kRarPackage.size()));
    ASSERT_EQ(backups().size(), 1) << backups().join(",").toStdString();
    const QString earlier = beside.filePath(backups().first());
    const QByteArray earlierBytes = fileBytes(earlier);
    EXPECT_TRUE(runProgram("tar", {"--force-local", "-tzf", earlier}).ok());

    // A backup that does not read whole is none: the package is not taken, the earlier backup
    // stays whole and the operator reads which file was not written.
    ASSERT_TRUE(writeWholeFile(target, "previous"));
    tar.cut = true;
    outcome = downloadWithYes(dialog.get(), package);
    EXPECT_TRUE(outcome.startsWith(lanText(900).arg(beside.filePath("bin-ZEV-"))) && outcome.endsWith(".tar.gz"))
        << outcome.toStdString();
    EXPECT_EQ(backups(), QStringList{QFileInfo(earlier).fileName()});
    EXPECT_EQ(fileBytes(earlier), earlierBytes);
    EXPECT_EQ(fileBytes(target), QByteArray("previous"));
    EXPECT_FALSE(QFile::exists(root + "/" + VersionRepository::kPartialName));

    // A package that cannot be put in place is named as well.
    tar.cut = false;
    ASSERT_TRUE(QFile::remove(target));
    ASSERT_TRUE(writeWholeFile(target + "/inside", "a folder in the way"));
    EXPECT_EQ(downloadWithYes(dialog.get(), package), lanText(900).arg(target));
    EXPECT_FALSE(QFile::exists(root + "/" + VersionRepository::kPartialName));
}

namespace {

// The mount namespace of a process ("mnt:[4026531832]"); empty when unreadable.
QByteArray mountNamespace(qint64 pid)
{
    char link[64] = {};
    const ssize_t n = ::readlink(QByteArray("/proc/" + QByteArray::number(pid) + "/ns/mnt").constData(), link, sizeof link - 1);
    return n > 0 ? QByteArray(link, int(n)) : QByteArray();
}

// The install folder on a small disk of its own (a tmpfs in a mount namespace of this
// test's own, ctest starts it under "unshare -m") that holds one backup of it, not two.
class DownloadDialogOnFullDisk : public DownloadDialog
{
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("MM_IN_MOUNTNS"))
            GTEST_SKIP() << "runs under unshare -m (ctest netdialogs.in_mount_namespace)";
        // unshare ran this program in place of itself: its parent is the one that started unshare.
        const QByteArray own = mountNamespace(::getpid());
        ASSERT_TRUE(!own.isEmpty() && own != mountNamespace(::getppid())) << "no mount namespace of our own: nothing mounted";
        DownloadDialog::SetUp();
        disk = appDir.filePath("disk");
        ASSERT_TRUE(QDir().mkpath(disk));
        ASSERT_TRUE(runProgram("mount", {"-t", "tmpfs", "-o", "size=3m", "tmpfs", disk}).ok());
        mounted = true;
        root = disk + "/bin-ZEV";
        QByteArray program(1200 * 1024, Qt::Uninitialized);
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(program.data()), program.size() / 4);
        ASSERT_TRUE(writeWholeFile(root + "/monitor.bin", program));
    }

    void TearDown() override
    {
        if (mounted)
            runProgram("umount", {disk});
        DownloadDialog::TearDown();
    }

    QString disk;
    bool mounted = false;
};

} // namespace

TEST_F(DownloadDialogOnFullDisk, TheFailureIsShownAndTheEarlierBackupKept)
{
    const QString earlier = disk + "/bin-ZEV-2026-01-01-00:00:00.tar.gz";
    ASSERT_TRUE(runProgram("tar", {"--force-local", "-czf", earlier, "-C", disk, "bin-ZEV"}).ok());
    const QByteArray earlierBytes = fileBytes(earlier);
    auto dialog = makeDialog();
    const QString outcome = downloadWithYes(dialog.get(), dialog->packageButtons(2).first());
    EXPECT_TRUE(outcome.startsWith(lanText(900).arg(disk + "/bin-ZEV-")) && outcome.endsWith(".tar.gz"))
        << outcome.toStdString();
    EXPECT_EQ(QDir(disk).entryList({"bin-ZEV-*", ".bin-ZEV*"}, QDir::Files | QDir::Hidden),
              QStringList{QFileInfo(earlier).fileName()});
    EXPECT_EQ(fileBytes(earlier), earlierBytes);
    EXPECT_FALSE(QFile::exists(root + "/newupdate.rar"));
    EXPECT_FALSE(QFile::exists(root + "/" + VersionRepository::kPartialName));
}
