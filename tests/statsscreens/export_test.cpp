#include "screentest.h"

#include "checkbox.h"
#include "clock.h"
#include "edit.h"
#include "exportresultworker.h"
#include "fakehostroot.h"
#include "findau.h"
#include "globals.h"
#include "modalanswerer.h"
#include "qttesthelpers.h"
#include "recordedprocess.h"
#include "resstatisticsparam.h"
#include "saveimagesettingdailog.h"
#include "statisticswidget.h"
#include "usbstick.h"
#include "warnbox.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <csignal>
#include <gtest/gtest.h>

namespace {
const QString kProgram = QString::fromLatin1(ExportResultWorker::kProgram);
const QString kStamp = QStringLiteral("2026-03-05_10.30.00");

using Progress = QList<QPair<int, int>>;
}

// A stick plugged in under a fake host (its "/proc" the real one), the day
// files of 2026-02-28, 03-01 and 03-03 and the live day; the export program
// of the build copied where the monitor calls it.
class ExportTest : public ScreenTest
{
protected:
    void SetUp() override
    {
        host.symlink("/proc", "/proc");
        stick = std::make_unique<UsbStick>("0000000e-1111-2222-3333-444444444444");
        ASSERT_TRUE(stick->ok()) << stick->error().toStdString();
        ASSERT_TRUE(stick->plug(host, "b8:17"));
        for (const char* date : {"2026-02-28", "2026-03-01", "2026-03-03"})
            writeDay(QStringLiteral("ResStatistics/%1.db").arg(date), date, 4, 1);
        countCycles(2, 1);
        QFile::remove(kProgram);
        QDir().mkpath(QFileInfo(kProgram).path());
        ASSERT_TRUE(QFile::copy(projectBinaryDir() + "/bin/export_result_statistics", kProgram));
        QObject::connect(&worker, &ExportResultWorker::exportProgress, [this](int t, int d) { progress << qMakePair(t, d); });
    }
    void TearDown() override
    {
        // The stick is unmounted before the fake host folder goes.
        stick.reset();
    }
    void stubProgram(const QByteArray& script)
    {
        QFile::remove(kProgram);
        ASSERT_TRUE(appDir.writeFile(kProgram, "#!/bin/sh\n" + script));
        QFile::setPermissions(kProgram, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    bool run(const QString& from, const QString& to)
    {
        QSignalSpy finished(&worker, &ExportResultWorker::finish);
        worker.work({from, to});
        reason = finished.value(0).value(1).toString();
        return finished.count() == 1 && finished.at(0).at(0).toBool();
    }

    FakeHostRoot host;
    std::unique_ptr<UsbStick> stick;
    ExportResultWorker worker;
    Progress progress;
    QString reason;
};

TEST_F(ExportTest, RangesSelectTheirDayFilesAndTheLiveDayLast)
{
    const QDate today(2026, 3, 5);
    // Files beside the day files that only look like one: a journal, another kind, a near-miss name.
    for (const char* name : {"2026-03-02.db-journal", "2026-03-02.csv", "x2026-03-02.db"})
        ASSERT_TRUE(writeWholeFile(QStringLiteral("ResStatistics/") + name, "not a day file"));
    EXPECT_EQ(ExportResultWorker::filesOfRange(QDate(2026, 3, 1), QDate(2026, 3, 3), today),
              (QStringList{"./ResStatistics/2026-03-01.db", "./ResStatistics/2026-03-03.db"}));
    EXPECT_EQ(ExportResultWorker::filesOfRange(QDate(2026, 3, 3), today, today),
              (QStringList{"./ResStatistics/2026-03-03.db", "./ResStatistics.db"}));
    EXPECT_TRUE(ExportResultWorker::filesOfRange(QDate(2026, 3, 3), QDate(2026, 3, 1), today).isEmpty());
}

TEST_F(ExportTest, TheExportProgramWritesOneCsvPerDayAndGroupOntoTheStick)
{
    const QString disk = FindAU();
    ASSERT_EQ(disk, host.root() + "/mnt");
    ASSERT_EQ(stick->mountPoints(), QStringList{disk}) << "mounted by the program's own call";
    worker.setTarget(disk);
    ASSERT_TRUE(run("2026-03-01", "2026-03-05")) << reason.toStdString();
    EXPECT_EQ(progress, (Progress{{3, 0}, {3, 1}, {3, 2}, {3, 3}}));

    const QString out = disk + "/" + kStamp;
    QStringList days = QDir(out).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    EXPECT_EQ(days, (QStringList{"2026-03-01", "2026-03-03", "2026-03-05"}));
    QFile csv(out + "/2026-03-01/default.csv");
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(csv.readAll());
    EXPECT_TRUE(text.contains("hour,camera,detection,cycles,NG\r\n"));
    EXPECT_TRUE(text.contains("\r\n10,all,cycle,5,1\r\n")) << "4 OK + 1 NG at 10 o'clock";
    EXPECT_TRUE(QFile(out + "/2026-03-05/default.csv").open(QIODevice::ReadOnly));
    EXPECT_TRUE(QDir("ResStatistics").entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty()) << "moved, not copied";
}

TEST_F(ExportTest, FailuresAreReportedAsFailures)
{
    worker.setTarget(FindAU());
    stubProgram("echo Done first\nexit 1\n");
    EXPECT_FALSE(run("2026-03-01", "2026-03-03"));
    EXPECT_TRUE(reason.contains("exited with 1")) << reason.toStdString();

    stubProgram("echo Done only-one\nexit 0\n");
    EXPECT_FALSE(run("2026-03-01", "2026-03-03")) << "a file without its Done line is no success";

    stubProgram("echo $$ > pid\nexec sleep 30\n");
    worker.setTimeoutMs(300);
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(run("2026-03-01", "2026-03-03"));
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_TRUE(reason.contains("timed out"));
    const pid_t pid = appDir.readFile("pid").trimmed().toInt();
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(waitUntil([pid] { return RecordedProcess::startTime(pid) < 0; })) << "the program is ended at the time-out";

    QFile::remove(kProgram);
    ASSERT_TRUE(QFile::copy(projectBinaryDir() + "/bin/export_result_statistics", kProgram));
    worker.setTimeoutMs(ExportResultWorker::kDefaultTimeoutMs);
    worker.setTarget(QString());
    EXPECT_FALSE(run("2026-03-01", "2026-03-03")) << "no disk";
    EXPECT_FALSE(run("2026-01-01", "2026-01-02")) << "no day in the range";
}

// What a failed export wrote (the program's output folders here, a part copy on a
// full stick) is taken back, so the next export carries only its own days.
TEST_F(ExportTest, AFailedExportLeavesNothingForTheNextOneToCarryAlong)
{
    const QString disk = FindAU();
    ASSERT_EQ(disk, host.root() + "/mnt");
    worker.setTarget(disk);
    const auto outputFolders = [] { return QDir("ResStatistics").entryList(QDir::Dirs | QDir::NoDotAndDotDot); };
    stubProgram("mkdir -p ResStatistics/2026-03-01 && echo half > ResStatistics/2026-03-01/default.csv\n"
                "echo Done one\nexit 1\n");
    EXPECT_FALSE(run("2026-03-01", "2026-03-03"));
    EXPECT_TRUE(outputFolders().isEmpty());

    // The stick full to the last block: the program's output cannot be moved onto it.
    QFile::remove(kProgram);
    ASSERT_TRUE(QFile::copy(projectBinaryDir() + "/bin/export_result_statistics", kProgram));
    QFile filler(disk + "/filler");
    ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
    const QByteArray block(64 * 1024, 'x');
    while (filler.write(block) == block.size() && filler.flush()) {
    }
    filler.close();
    EXPECT_FALSE(run("2026-03-01", "2026-03-05"));
    EXPECT_FALSE(QFileInfo::exists(disk + "/" + kStamp)) << "no part copy on the stick";
    EXPECT_TRUE(outputFolders().isEmpty());
    EXPECT_EQ(QDir("ResStatistics").entryList({"*.db"}, QDir::Files).size(), 3) << "the day files stay";

    ASSERT_TRUE(QFile::remove(disk + "/filler"));
    // A link of the export's name on the stick is not followed off it.
    QTemporaryDir box;
    ASSERT_TRUE(QFile::link(box.path(), disk + "/" + kStamp));
    EXPECT_FALSE(run("2026-03-03", "2026-03-03"));
    EXPECT_TRUE(QDir(box.path()).isEmpty());
    EXPECT_TRUE(QFileInfo(disk + "/" + kStamp).isSymLink());
    ASSERT_TRUE(QFile::remove(disk + "/" + kStamp));

    ASSERT_TRUE(run("2026-03-03", "2026-03-03")) << reason.toStdString();
    EXPECT_EQ(QDir(disk + "/" + kStamp).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList{"2026-03-03"});
}

TEST_F(ExportTest, TheScreenRunsOneExportAtATimeAndEndsWithItsMessage)
{
    StatisticsWidget screen;
    screen.createWidget({"All detect", "1 detect", "2 detect"});
    model->setTimer(false);
    // Every modal the screen opens is answered with 1 (the date range: today
    // only; the messages: OK), in whatever order the export's end and the
    // second press bring them.
    QStringList seen;
    QTimer operatorHand;
    QObject::connect(&operatorHand, &QTimer::timeout, [&seen] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = dynamic_cast<WarnBox*>(modal))
            seen << box->text();
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->done(1);
    });
    operatorHand.start(20);
    QSignalSpy finished(&screen, &StatisticsWidget::sigExportDataFinish);
    screen.SlotExportData();
    EXPECT_FALSE(screen.exportAllowed());
    EXPECT_FALSE(model->timer->isActive());

    screen.SlotExportData();
    ASSERT_TRUE(waitUntil([&] { return finished.count() == 1; }, 20000));
    EXPECT_TRUE(seen.contains(lanText(654))) << "Exporting, please wait!";
    ASSERT_TRUE(waitUntil([&] { return seen.contains(lanText(147)); }, 20000)) << seen.join('|').toStdString();
    EXPECT_TRUE(screen.exportAllowed());
    EXPECT_FALSE(model->timer->isActive()) << "the day timer is left as it was";
    // The live day is exported as the screen counts it, not as the last minute's save left it.
    QFile live(host.root() + "/mnt/" + kStamp + "/2026-03-05/default.csv");
    ASSERT_TRUE(live.open(QIODevice::ReadOnly));
    EXPECT_TRUE(live.readAll().contains("\r\n10,all,cycle,3,1\r\n"));
}

TEST(SaveImageSettingDailog, ExchangesItsThreeValuesAsJson)
{
    SaveImageSettingDailog dialog;
    dialog.init({{"days", 14}, {"useDiskSaveImage", 1}, {"lostUpanAlarm", 0}});
    dialog.init({});
    QJsonObject saved;
    dialog.save(saved);
    EXPECT_EQ(saved, (QJsonObject{{"days", 14}, {"useDiskSaveImage", 1}, {"lostUpanAlarm", 0}}));
    dialog.daysEdit()->setText("abc");
    dialog.save(saved);
    EXPECT_EQ(saved.value("days").toInt(), -1);
}
