#include "globals.h"
#include "modalanswerer.h"
#include "netdialogtest.h"
#include "networkdialogs.h"
#include "nginxserver.h"
#include "qttesthelpers.h"
#include "v_selectbox.h"
#include "versiondownloaddialog.h"
#include "versionrepository.h"
#include "warnbox.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QFile>
#include <QTcpServer>
#include <gtest/gtest.h>

namespace {

class DownloadDialog : public NetDialogTest
{
protected:
    void SetUp() override
    {
        NetDialogTest::SetUp();
        for (int i = 1; i <= 15; ++i)
            server.writeFile(QString("monitor/lineA/V17/V17_pkg%1.tar.gz").arg(i, 2, 10, QChar('0')), "package");
        server.makeDir("monitor/lineB");
        server.writeFile("monitor/lineC/V17/V17_c.rar", "rar package");
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

    static QList<int> visibleIds(VersionDownloadDialog& dialog, int column)
    {
        QList<int> ids;
        const auto buttons = dialog.packageButtons(column);
        for (int i = 0; i < buttons.size(); ++i)
            if (buttons[i]->isVisible())
                ids << i;
        return ids;
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

    QString outcome;
    answerChild(dialog.get(), "v_SelectBox", [&](QWidget* box) {
        touch(box->findChild<QAbstractButton*>("yesButton"));
        answerChild(dialog.get(), "v_SelectBox", [&](QWidget* result) {
            if (static_cast<v_SelectBox*>(result)->kind() != v_SelectBox::Confirm)
                return false;
            outcome = static_cast<v_SelectBox*>(result)->text();
            touch(result->findChild<QAbstractButton*>("confirmButton"));
            return true;
        });
        return true;
    });
    touch(package);
    ASSERT_TRUE(waitUntil([&] { return !outcome.isEmpty() && package->isEnabled(); }));
    EXPECT_EQ(outcome, QString("下载成功\n重启后自动更新"));
    EXPECT_EQ(QFile(root + "/newupdate.rar").size(), qint64(sizeof("rar package") - 1));
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
