#include "configprompts.h"
#include "loglimiter.h"
#include "logmanager.h"
#include "tempappdir.h"
#include "terminationsignals.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <glog/logging.h>
#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>
#include <utime.h>

namespace {

const QString kLog = "cnt_net/workspace/log/";

class LogManagerTest : public AppDirTest
{
protected:
    void SetUp() override { QDir().mkpath(kLog); }
    void touch(const QString& name) { ASSERT_TRUE(appDir.writeFile(kLog + name, "x")); }
    QStringList logFiles() const
    {
        return QDir(kLog).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    }
    QByteArray readLogs(const QString& prefix) const
    {
        QByteArray all;
        for (const QString& name : QDir(kLog).entryList({prefix + "*.log"}, QDir::Files))
            all += appDir.readFile(kLog + name);
        return all;
    }
};

} // namespace

TEST_F(LogManagerTest, NewLogBecomesTheNewestOfTwentyArchives)
{
    for (int i = 1; i <= 20; ++i)
        touch(QString("%1_LOG_20231201_0000%2.txt").arg(i).arg(i, 2, 10, QChar('0')));
    touch("LOG_20240102-030405.1234.log");
    touch("WARNING_20240102-030405.1234.log");
    ASSERT_TRUE(QFile::link("LOG_20240102-030405.1234.log", kLog + "prog.host.root.log.INFO.x"));
    ASSERT_TRUE(QFile::link("WARNING_20240102-030405.1234.log", kLog + "prog.WARNING"));
    touch("a_b_c.txt");
    touch("nodot");

    LogManager::clearup_cachelogfile();
    const QStringList files = logFiles();
    EXPECT_EQ(files.size(), 21) << files.join(' ').toStdString();
    EXPECT_TRUE(files.contains("20_LOG_20240102_030405.txt"));
    EXPECT_TRUE(files.contains("1_LOG_20231201_000002.txt")); // the oldest went, the rest moved down
    EXPECT_TRUE(files.contains("19_LOG_20231201_000020.txt"));
    EXPECT_FALSE(files.contains("1_LOG_20231201_000001.txt"));
    EXPECT_TRUE(files.contains("nodot"));
    EXPECT_FALSE(files.contains("a_b_c.txt"));
    EXPECT_FALSE(files.contains("WARNING_20240102-030405.1234.log"));
}

TEST_F(LogManagerTest, ErrorLinkMarksTheArchiveAndDropsItsTarget)
{
    for (int i = 1; i <= 20; ++i)
        touch(QString("%1_LOG_20231201_0000%2.txt").arg(i).arg(i, 2, 10, QChar('0')));
    touch("LOG_20240102-030405.1234.log");
    touch("ERROR_20240102-030405.1234.log");
    ASSERT_TRUE(QFile::link("LOG_20240102-030405.1234.log", kLog + "prog.INFO"));
    ASSERT_TRUE(QFile::link("ERROR_20240102-030405.1234.log", kLog + "prog.ERROR"));
    LogManager::clearup_cachelogfile();
    const QStringList files = logFiles();
    EXPECT_EQ(files.size(), 20) << files.join(' ').toStdString();
    EXPECT_TRUE(files.contains("20_ERROR_20240102_030405.txt"));
}

TEST_F(LogManagerTest, DanglingErrorLinkDoesNotMarkTheRun)
{
    touch("LOG_20240102-030405.1234.log");
    ASSERT_TRUE(QFile::link("LOG_20240102-030405.1234.log", kLog + "prog.INFO"));
    ASSERT_TRUE(QFile::link("ERROR_gone.log", kLog + "prog.ERROR"));
    LogManager::clearup_cachelogfile();
    EXPECT_TRUE(logFiles().contains("1_LOG_20240102_030405.txt")) << logFiles().join(' ').toStdString();
}

TEST_F(LogManagerTest, LinksOutOfTheLogFolderNeverDeleteTheirTarget)
{
    QTemporaryDir elsewhere;
    const QString precious = elsewhere.filePath("precious.conf");
    {
        QFile f(precious);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("keep");
    }
    ASSERT_TRUE(QFile::link(precious, kLog + "prog.ERROR"));
    ASSERT_TRUE(QFile::link(precious, kLog + "prog.WARNING"));
    LogManager::clearup_cachelogfile();
    EXPECT_TRUE(QFile::exists(precious));
    EXPECT_TRUE(logFiles().isEmpty());
}

TEST_F(LogManagerTest, ArchivesAreRenumberedInOrderAndBadStampsDropped)
{
    touch("7_LOG_20230101_000000.txt");
    touch("3_ERROR_20221231_000000.txt");
    touch("12_LOG_20230102_000000.txt");
    touch("LOG_garbage.9.log");
    LogManager::clearup_cachelogfile();
    EXPECT_EQ(logFiles(), (QStringList{"1_ERROR_20221231_000000.txt", "2_LOG_20230101_000000.txt",
                                       "3_LOG_20230102_000000.txt"}));
}

TEST_F(LogManagerTest, StandardOutputFolderKeepsTheFiftyNewest)
{
    const QString dir = "cnt_net/workspace/log_stdout/";
    const qint64 base = QDateTime::currentSecsSinceEpoch() - 10000;
    for (int i = 0; i < 60; ++i) {
        const QString name = dir + QString("out%1.txt").arg(i, 2, 10, QChar('0'));
        ASSERT_TRUE(appDir.writeFile(name, "x"));
        utimbuf times{time_t(base + i), time_t(base + i)};
        ASSERT_EQ(utime(appDir.filePath(name).toLocal8Bit().constData(), &times), 0);
    }
    LogManager::pruneStdoutFiles();
    const QStringList left = QDir(dir).entryList(QDir::Files, QDir::Name);
    EXPECT_EQ(left.size(), 50);
    EXPECT_EQ(left.first(), "out10.txt");
}

// glog starts once per process: the logging itself runs in a forked child.
TEST_F(LogManagerTest, MessagesReachTheirGlogFiles)
{
    touch("LOG_20240102-030405.1234.log");
    ASSERT_TRUE(QFile::link("LOG_20240102-030405.1234.log", kLog + "prog.INFO"));
    EXPECT_EXIT(
        {
            LogManager::__instance = new LogManager(nullptr);
            qDebug("debug-trace-%d", 1);
            qInfo("info-line");
            QMessageLogger("a/b/c", 12, "f").warning("careful");
            qCritical("broken");
            ConfigPrompts::warn("from-a-library");
            google::FlushLogFiles(google::GLOG_INFO);
            _exit(0);
        },
        ::testing::ExitedWithCode(0), "");

    const QByteArray info = readLogs("LOG_");
    // Every line names the file and line it was written from, in the program's libraries
    // too, whatever the build type.
    EXPECT_TRUE(QRegularExpression("logmanager_test.cpp:[0-9]+\\] info-line").match(info).hasMatch())
        << info.toStdString();
    EXPECT_TRUE(QRegularExpression("configprompts.cpp:[0-9]+\\] ---warning--- from-a-library").match(info).hasMatch());
    EXPECT_FALSE(info.contains("unknow:0"));
    EXPECT_FALSE(info.contains("debug-trace"));
    EXPECT_TRUE(info.contains("c:12] ---warning--- careful")) << info.toStdString();
    EXPECT_TRUE(info.contains("logmanager.cpp:244] \tbroken"));
    const QByteArray warning = readLogs("WARNING_");
    EXPECT_FALSE(warning.contains("careful"));
    EXPECT_TRUE(warning.contains("\tbroken"));
    EXPECT_TRUE(readLogs("ERROR_").contains("\tbroken"));
    EXPECT_TRUE(QDir("cnt_net/workspace/log_stdout").exists());
    EXPECT_TRUE(QFile::exists(kLog + "1_LOG_20240102_030405.txt")); // the previous run, archived first
}

TEST_F(LogManagerTest, CrashReportReachesTheErrorLog)
{
    EXPECT_EXIT(
        {
            LogManager::__instance = new LogManager(nullptr);
            qInfo("before the crash");
            raise(SIGSEGV);
        },
        ::testing::KilledBySignal(SIGSEGV), "");
    const QByteArray error = readLogs("ERROR_");
    EXPECT_TRUE(error.contains("SIGSEGV")) << error.toStdString();
    EXPECT_TRUE(error.contains("logmanager.cpp:26]"));
    EXPECT_TRUE(readLogs("LOG_").contains("before the crash")) << "the buffered lines are lost with the crash";
}

// Lines are buffered, yet a program that goes quiet has them on disk within a second.
TEST_F(LogManagerTest, BufferedLinesReachTheFileWithoutALaterLine)
{
    EXPECT_EXIT(
        {
            LogManager::__instance = new LogManager(nullptr);
            qInfo("last-words");
            QEventLoop loop;
            QTimer::singleShot(1500, &loop, &QEventLoop::quit);
            loop.exec();
            _exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_TRUE(readLogs("LOG_").contains("last-words"));
}

// SIGTERM ends the event loop; what the log limiter held and the buffered lines reach the files
// before the process is gone, even one that ends without exit handlers.
TEST_F(LogManagerTest, OnSigtermHeldCountsAndBufferedLinesReachTheFile)
{
    EXPECT_EXIT(
        {
            LogManager::__instance = new LogManager(nullptr);
            TerminationSignals::install();
            for (int i = 0; i < 100; ++i)
                qWarning("modbus: connection traded: 127.0.0.%d port 502, closed for 127.0.0.1 port %d", i % 50, 40000 + i);
            qInfo("last-line");
            ::kill(::getpid(), SIGTERM);
            const int rc = QCoreApplication::exec();
            _exit(rc);
        },
        ::testing::ExitedWithCode(0), "");
    const QByteArray info = readLogs("LOG_");
    EXPECT_EQ(info.count("modbus: connection traded:"), LogLimiter::kBurst + 1) << info.toStdString();
    EXPECT_TRUE(info.contains("port 40099 ... repeated 80 times"));
    EXPECT_TRUE(info.contains("last-line"));
    EXPECT_TRUE(info.contains("signal 15 received, quitting"));
}
