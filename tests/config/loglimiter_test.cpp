// The log stays bounded while running: repeated lines are counted, old files removed.
#include "loglimiter.h"
#include "logmanager.h"
#include "tempappdir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <glog/logging.h>
#include <gtest/gtest.h>

#include <utime.h>

TEST(LogLimiterTest, AFloodOfOneKindPassesABurstAndIsCountedOnce)
{
    LogLimiter limiter(3, 1000);
    QStringList written;
    for (int i = 0; i < 5003; ++i) {
        written += limiter.admit(QStringLiteral("Session %1 closed: idle").arg(i), 10);
        if (i == 100)   // another kind of line is not held back by the flood
            written += limiter.admit(QStringLiteral("camera 2 lost"), 10);
    }
    EXPECT_EQ(written, (QStringList{"Session 0 closed: idle", "Session 1 closed: idle", "Session 2 closed: idle",
                                    "camera 2 lost"}));

    // The next window starts with the count of the last one, then passes lines again.
    EXPECT_EQ(limiter.admit("Session 9 closed: idle", 1010),
              (QStringList{"Session 5002 closed: idle ... repeated 5,000 times", "Session 9 closed: idle"}));
    for (int i = 0; i < 4; ++i)
        limiter.admit("Session 9 closed: idle", 1020);
    EXPECT_TRUE(limiter.flush(1500).isEmpty());   // window not over yet
    EXPECT_EQ(limiter.flush(2010), QStringList{"Session 9 closed: idle ... repeated 2 times"});
    EXPECT_TRUE(limiter.flush(5000).isEmpty());
}

TEST(LogLimiterTest, AtTheEndEveryHeldCountIsWrittenWindowOverOrNot)
{
    LogLimiter limiter(2, 10000);
    QStringList written;
    for (int i = 0; i < 7; ++i)
        written += limiter.admit(QStringLiteral("modbus: connection traded: 127.0.0.%1").arg(i), 100);
    for (int i = 0; i < 3; ++i)
        written += limiter.admit(QStringLiteral("push dropped for 10.0.0.%1").arg(i), 5000);
    written += limiter.admit(QStringLiteral("camera 1 lost"), 5000);
    EXPECT_TRUE(limiter.flush(6000).isEmpty()) << "no window is over";
    QStringList atEnd = limiter.flushAll();
    atEnd.sort();
    EXPECT_EQ(atEnd, (QStringList{"modbus: connection traded: 127.0.0.6 ... repeated 5 times",
                                  "push dropped for 10.0.0.2 ... repeated 1 times"}));
    // Each line once: what was written is not counted again.
    EXPECT_TRUE(limiter.flushAll().isEmpty());
    EXPECT_EQ(written.size(), 2 + 2 + 1);
}

namespace {
const QString kLog = "cnt_net/workspace/log/";

void writeOldFile(const QString& name, int bytes, int ageSeconds)
{
    QFile file(kLog + name);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(bytes, 'o'));
    file.close();
    const time_t when = time(nullptr) - ageSeconds;
    utimbuf times{when, when};
    utime(QFile::encodeName(kLog + name).constData(), &times);
}
} // namespace

using LogFolderTest = AppDirTest;

// glog starts once per process: the logging runs in a forked child.
TEST_F(LogFolderTest, ARequestFloodAndOldFilesLeaveTheFolderBounded)
{
    QDir().mkpath(kLog);
    constexpr int kMb = 1024 * 1024;
    EXPECT_EXIT(
        {
            LogManager::__instance = new LogManager(nullptr);
            for (int i = 0; i < 200000; ++i)
                qWarning("TcpServReactor connection refused, peer 127.0.0.1:%d", i % 60000);
            qInfo("after the flood");
            google::FlushLogFiles(google::GLOG_INFO);
            for (int i = 1; i <= 6; ++i)
                writeOldFile(QStringLiteral("%1_LOG_20240101_00000%1.txt").arg(i), kMb, 3600 * (10 - i));
            // The files being written alone pass a bound of nothing: removing the rest would not help.
            LogManager::pruneLogFolder(0);
            for (int i = 1; i <= 6; ++i) {
                if (!QFile::exists(kLog + QStringLiteral("%1_LOG_20240101_00000%1.txt").arg(i)))
                    _exit(2);
            }
            LogManager::pruneLogFolder(3 * kMb);
            _exit(0);
        },
        ::testing::ExitedWithCode(0), "");

    qint64 total = 0;
    for (const QFileInfo& file : QDir(kLog).entryInfoList(QDir::Files)) {
        if (!file.isSymLink())
            total += file.size();
    }
    EXPECT_LE(total, 3 * kMb);
    // The newest archives stay, the oldest went (no more than needed), the file being written is kept.
    EXPECT_TRUE(QFile::exists(kLog + "5_LOG_20240101_000005.txt"));
    EXPECT_TRUE(QFile::exists(kLog + "6_LOG_20240101_000006.txt"));
    EXPECT_FALSE(QFile::exists(kLog + "1_LOG_20240101_000001.txt"));
    QByteArray info;
    for (const QString& name : QDir(kLog).entryList({"LOG_*.log"}, QDir::Files)) {
        QFile file(kLog + name);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        info += file.readAll();
    }
    EXPECT_TRUE(info.contains("after the flood"));
    EXPECT_LT(info.size(), 64 * 1024);   // 200,000 refusals did not become 200,000 lines
}
