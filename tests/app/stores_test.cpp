#include "shellfixture.h"

#include "clock.h"
#include "qttesthelpers.h"
#include "countfile.h"
#include "globals.h"
#include "recordstore.h"
#include "versionjson.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QProcess>

#include <csignal>
#include <cstring>
#include <sys/inotify.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

QStringList rows(const QString& file, const QString& sql = "select recordtime, recordpassword, remarks, recordtype from RECORD")
{
    QStringList out;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "peek");
        db.setDatabaseName(file);
        if (db.open()) {
            QSqlQuery query(db);
            query.exec(sql);
            while (query.next()) {
                QStringList cells;
                for (int i = 0; i < query.record().count(); ++i)
                    cells << query.value(i).toString();
                out << cells.join('|');
            }
        }
    }
    QSqlDatabase::removeDatabase("peek");
    return out;
}

class RecordStoreTest : public AppDirTest
{
protected:
    void SetUp() override { Clock::setFixed(QDateTime(QDate(2026, 3, 14), QTime(9, 26, 53))); }
    void TearDown() override { Clock::reset(); }
};

} // namespace

TEST_F(RecordStoreTest, RecordsTheTimeOfDayLevelTextAndTypeVerbatim)
{
    RecordStore store;
    ASSERT_TRUE(store.open());
    EXPECT_TRUE(store.insert("Unlogged", "it's \"quoted\"; drop table RECORD", "set"));
    store.close();
    EXPECT_EQ(rows("RECORD.db"), QStringList{"09.26.53|Unlogged|it's \"quoted\"; drop table RECORD|set"});
}

TEST_F(RecordStoreTest, ADayChangeMovesTheFinishedDayToItsArchive)
{
    RecordStore store;
    ASSERT_TRUE(store.open());
    store.insert("Primary", "first day", "operate");
    Clock::advance(24 * 3600 * 1000);
    store.insert("Primary", "second day", "operate");
    store.close();
    EXPECT_EQ(rows("RECORD/2026-03-14.db"), QStringList{"09.26.53|Primary|first day|operate"});
    EXPECT_EQ(rows("RECORD.db"), QStringList{"09.26.53|Primary|second day|operate"});
    EXPECT_EQ(store.day(), QDate(2026, 3, 15));
}

TEST_F(RecordStoreTest, AFileOfAnEarlierDayIsArchivedAtStartAndMergedWhenTheDayExists)
{
    const QDate yesterday(2026, 3, 13);
    auto writeDay = [&](const QString& text) {
        Clock::setFixed(QDateTime(yesterday, QTime(12, 0)));
        RecordStore store;
        ASSERT_TRUE(store.open());
        store.insert("Unlogged", text, "info");
        store.close();
        QFile file("RECORD.db");
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(QDateTime(yesterday, QTime(12, 0)), QFileDevice::FileModificationTime));
    };
    // The day was archived once already (the clock went back meanwhile).
    writeDay("archived before");
    QDir().mkpath("RECORD");
    ASSERT_TRUE(QFile::rename("RECORD.db", "RECORD/2026-03-13.db"));
    writeDay("yesterday");

    Clock::setFixed(QDateTime(QDate(2026, 3, 14), QTime(8, 0)));
    RecordStore store;
    ASSERT_TRUE(store.open());
    store.insert("Unlogged", "today", "info");
    store.close();
    EXPECT_EQ(rows("RECORD/2026-03-13.db", "select remarks from RECORD"), (QStringList{"archived before", "yesterday"}));
    EXPECT_EQ(rows("RECORD.db", "select remarks from RECORD"), QStringList{"today"});
}

namespace {
constexpr const char* kMergeChildVariable = "MM_RECORD_MERGE_CHILD";
constexpr const char* kKillAtCommitVariable = "MM_RECORD_MERGE_KILL_AT_COMMIT";
}

// Run only as the child of the kill test: merges yesterday's file into its archive and is
// killed somewhere inside.
TEST_F(RecordStoreTest, MergeChildMergesUntilKilled)
{
    if (qEnvironmentVariableIsEmpty(kMergeChildVariable))
        GTEST_SKIP() << "the child of RecordStoreTest.AKillDuringAMergeLeavesEveryRowOnce";
    ASSERT_TRUE(QDir::setCurrent(qEnvironmentVariable(kMergeChildVariable)));
    // Asked to, it dies the moment the archive's transaction is committed (its journal goes).
    std::thread atCommit;
    if (qEnvironmentVariableIsSet(kKillAtCommitVariable)) {
        const int watch = inotify_init();
        ASSERT_GE(watch, 0);
        ASSERT_GE(inotify_add_watch(watch, "RECORD", IN_DELETE), 0);
        atCommit = std::thread([watch] {
            alignas(inotify_event) char buffer[4096];
            for (;;) {
                const ssize_t length = read(watch, buffer, sizeof buffer);
                for (ssize_t at = 0; at < length;) {
                    const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                    if (event->len > 0 && std::strcmp(event->name, "2026-03-13.db-journal") == 0)
                        raise(SIGKILL);
                    at += ssize_t(sizeof(inotify_event) + event->len);
                }
            }
        });
        atCommit.detach();
    }
    QFile ready("ready");
    ASSERT_TRUE(ready.open(QIODevice::WriteOnly));
    ready.close();
    RecordStore store;
    EXPECT_TRUE(store.open());
}

// Yesterday's file merged into an archive of the same day (the clock went back), killed
// (SIGKILL, as a power cut) at moments spread over the merge and the moment its commit
// lands: after the next start every row of both is there exactly once, in the archive or
// still in the file.
TEST_F(RecordStoreTest, AKillDuringAMergeLeavesEveryRowOnce)
{
    constexpr int kRows = 150000;
    const auto lay = [](const QString& file, int from, int count) {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "lay");
            db.setDatabaseName(file);
            EXPECT_TRUE(db.open());
            QSqlQuery query(db);
            EXPECT_TRUE(query.exec("CREATE TABLE RECORD (recordtime TEXT, recordpassword TEXT, remarks TEXT, recordtype TEXT)"));
            EXPECT_TRUE(query.exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT %1 UNION ALL SELECT i + 1 FROM n WHERE i < %2) "
                                                  "INSERT INTO RECORD SELECT '12.00.00', 'Unlogged', 'row ' || i, 'info' FROM n")
                                       .arg(from)
                                       .arg(from + count - 1)));
        }
        QSqlDatabase::removeDatabase("lay");
    };
    constexpr int kAtCommit = -1;
    std::vector<int> delays{kAtCommit, 0, 2, 5, 10, 20, 40, 80, 160, 320};
    bool mergedWhole = false;
    for (size_t round = 0; round < delays.size(); ++round) {
        SCOPED_TRACE(delays[round]);
        TempAppDir dir;
        QDir().mkpath("RECORD");
        lay("RECORD/2026-03-13.db", 0, kRows / 3);
        lay("RECORD.db", kRows / 3, kRows - kRows / 3);
        {
            QFile file("RECORD.db");
            ASSERT_TRUE(file.open(QIODevice::ReadWrite));
            ASSERT_TRUE(file.setFileTime(QDateTime(QDate(2026, 3, 13), QTime(12, 0)), QFileDevice::FileModificationTime));
        }
        QProcess child;
        if (delays[round] == kAtCommit)
            qputenv(kKillAtCommitVariable, "1");
        const bool started = startTestChild(child, "RecordStoreTest.MergeChild*", kMergeChildVariable, dir.path(), dir.path());
        qunsetenv(kKillAtCommitVariable);
        ASSERT_TRUE(started);
        if (delays[round] == kAtCommit) {
            child.waitForFinished(-1);
            EXPECT_EQ(child.exitStatus(), QProcess::CrashExit) << "the commit was seen";
        } else if (!child.waitForFinished(delays[round])) {
            // A child that ended by itself is not killed: its pid may be another process's by now.
            ::kill(pid_t(child.processId()), SIGKILL);
        } else {
            mergedWhole = true;
        }
        child.waitForFinished();

        RecordStore store;
        ASSERT_TRUE(store.open());
        store.close();
        QStringList all = rows("RECORD/2026-03-13.db", "select remarks from RECORD");
        all += rows("RECORD.db", "select remarks from RECORD");
        EXPECT_EQ(all.size(), kRows);
        all.removeDuplicates();
        EXPECT_EQ(all.size(), kRows) << "rows twice";
        // A loaded machine takes longer over the merge: later kills until one comes after its end.
        if (round + 1 == delays.size() && !mergedWhole && delays[round] < 16000)
            delays.push_back(delays[round] * 2);
    }
}

// A day whose archive cannot take its rows (damaged, here) waits apart and joins the archive once
// that works; one that cannot even be kept apart keeps its file, no record written beside it, at
// the day change and at the start alike. No day's rows are ever archived under another day.
TEST_F(RecordStoreTest, AFailedMergeKeepsTheDayApartAndNeverArchivesItUnderAnother)
{
    const auto damageArchive = [](const char* day) {
        QDir().mkpath("RECORD");
        QFile archive(QStringLiteral("RECORD/%1.db").arg(day));
        ASSERT_TRUE(archive.open(QIODevice::WriteOnly));
        archive.write(QByteArray(4096, 'x'));
    };
    {
        RecordStore store;
        ASSERT_TRUE(store.open());
        store.insert("Primary", "first day", "operate");
        damageArchive("2026-03-14");
        // Not even apart: a folder takes the name.
        ASSERT_TRUE(QDir().mkpath("RECORD/2026-03-14.db.unmerged"));
        Clock::advance(24 * 3600 * 1000);
        EXPECT_FALSE(store.insert("Primary", "lost second day", "operate"));
        store.close();
        EXPECT_EQ(rows("RECORD.db", "select remarks from RECORD"), QStringList{"first day"});
        QFile file("RECORD.db");
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(QDateTime(QDate(2026, 3, 14), QTime(12, 0)), QFileDevice::FileModificationTime));
    }
    {
        RecordStore store;   // the next start
        EXPECT_FALSE(store.open());
        // Held until the day can be put away, then written before the next.
        EXPECT_FALSE(store.insert("Primary", "held second day", "operate"));
        ASSERT_TRUE(QDir("RECORD/2026-03-14.db.unmerged").removeRecursively());
        EXPECT_TRUE(store.insert("Primary", "second day", "operate"));
        EXPECT_EQ(rows("RECORD/2026-03-14.db.unmerged", "select remarks from RECORD"), QStringList{"first day"});
        Clock::advance(24 * 3600 * 1000);
        store.insert("Primary", "third day", "operate");
        store.close();
    }
    EXPECT_EQ(rows("RECORD/2026-03-15.db", "select remarks from RECORD"), (QStringList{"held second day", "second day"}));
    EXPECT_TRUE(QFile::exists("RECORD/2026-03-14.db.unmerged")) << "the archive is still damaged";

    ASSERT_TRUE(QFile::remove("RECORD/2026-03-14.db"));
    RecordStore store;
    ASSERT_TRUE(store.open());
    store.insert("Primary", "still third day", "operate");
    store.close();
    EXPECT_FALSE(QFile::exists("RECORD/2026-03-14.db.unmerged"));
    EXPECT_EQ(rows("RECORD/2026-03-14.db", "select remarks from RECORD"), QStringList{"first day"});
    EXPECT_EQ(rows("RECORD.db", "select remarks from RECORD"), (QStringList{"third day", "still third day"}));
}

TEST_F(RecordStoreTest, ADamagedFileIsSetAsideAndAClosedDatabaseReopens)
{
    QFile damaged("RECORD.db");
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write(QByteArray(4096, 'x'));
    damaged.close();
    Clock::reset();

    RecordStore store;
    ASSERT_TRUE(store.open());
    EXPECT_TRUE(QFile::exists("RECORD.db.broken"));
    store.close();
    EXPECT_FALSE(store.isOpen());
    EXPECT_TRUE(store.insert("Unlogged", "after close", "info"));
    store.close();
    EXPECT_EQ(rows("RECORD.db", "select remarks from RECORD"), QStringList{"after close"});
}

TEST_F(RecordStoreTest, AFileOfAnOlderVersionGetsTheTypeColumn)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "old");
        db.setDatabaseName("RECORD.db");
        ASSERT_TRUE(db.open());
        QSqlQuery query(db);
        ASSERT_TRUE(query.exec("CREATE TABLE RECORD (recordtime TEXT, recordpassword TEXT, remarks TEXT)"));
        ASSERT_TRUE(query.exec("INSERT INTO RECORD VALUES ('08.00.00', 'Unlogged', 'old row')"));
        db.close();
    }
    QSqlDatabase::removeDatabase("old");

    RecordStore store;
    ASSERT_TRUE(store.open());
    EXPECT_TRUE(store.insert("Primary", "new row", "operate"));
    store.close();
    EXPECT_EQ(rows("RECORD.db"), (QStringList{"08.00.00|Unlogged|old row|", "09.26.53|Primary|new row|operate"}));
}

TEST_F(RecordStoreTest, TodaysRecordsAfterMidnightAreTodaysOnly)
{
    RecordStore store;
    ASSERT_TRUE(store.open());
    store.insert("Primary", "first day", "operate");
    Clock::advance(24 * 3600 * 1000);
    // A reader (the records route) asks before anything is written on the new day.
    QSqlQuery query(store.today());
    ASSERT_TRUE(query.exec("select count(*) from RECORD"));
    ASSERT_TRUE(query.next());
    EXPECT_EQ(query.value(0).toInt(), 0);
    store.close();
    EXPECT_EQ(rows("RECORD/2026-03-14.db", "select remarks from RECORD"), QStringList{"first day"});
}

class CountFileTest : public AppDirTest
{
protected:
    void SetUp() override { resetShellGlobals(); }
};

TEST_F(CountFileTest, WritesTheSixKeysAndReadsThemBack)
{
    for (int i = 0; i < kMaxCameras; ++i) {
        gAllNum[i] = 100 + i;
        gFailNum[i] = i;
        gAllCycleNum[i] = 50 + i;
        gFailCycleNum[i] = 2 * i;
    }
    gSyncNGNum = 28;
    gSyncNGCycleNum = 7;
    ASSERT_TRUE(CountFile::write());
    const QByteArray text = appDir.readFile("count.ini");
    EXPECT_TRUE(text.contains("list_allnum=100, 101, 102, 103, 104, 105, 106, 107\n"));
    EXPECT_TRUE(text.contains("list_failcyclenum=0, 2, 4, 6, 8, 10, 12, 14\n"));
    EXPECT_TRUE(text.contains("gSyncNGNum=28\n"));
    EXPECT_TRUE(text.contains("gSyncNGcycleNum=7\n"));
    EXPECT_EQ(QDir().entryList(QDir::Files), QStringList{"count.ini"}) << "no temporary file is left";

    resetShellGlobals();
    ASSERT_TRUE(CountFile::read());
    EXPECT_EQ(gAllNum[7], 107);
    EXPECT_EQ(gFailNum[3], 3);
    EXPECT_EQ(gAllCycleNum[0], 50);
    EXPECT_EQ(gFailCycleNum[7], 14);
    EXPECT_EQ(gSyncNGNum, 28);
    EXPECT_EQ(gSyncNGCycleNum, 7);
}

TEST_F(CountFileTest, MissingFileAndShortListsReadAsZero)
{
    gAllNum[0] = 9;
    EXPECT_FALSE(CountFile::read());
    EXPECT_EQ(gAllNum[0], 9) << "a missing file leaves the counters alone";
    appDir.writeFile("count.ini", "[General]\nlist_allnum=4, 5\ngSyncNGNum=x\n");
    ASSERT_TRUE(CountFile::read());
    EXPECT_EQ(gAllNum[0], 4);
    EXPECT_EQ(gAllNum[1], 5);
    EXPECT_EQ(gAllNum[2], 0);
    EXPECT_EQ(gFailNum[0], 0);
    EXPECT_EQ(gSyncNGNum, 0);
}

class VersionJsonTest : public AppDirTest
{
};

TEST_F(VersionJsonTest, SetsVersionAndCameraCountAndKeepsTheOtherKeys)
{
    appDir.writeFile("cnt_net/config.json", R"({"device_name": "press 4", "version": "old", "server_port": 10440})");
    numCamera = 3;
    ASSERT_TRUE(writeVersionToJson());
    const QJsonObject o = QJsonDocument::fromJson(appDir.readFile("cnt_net/config.json")).object();
    EXPECT_EQ(o.value("version").toString(), "18.0.1.86");
    EXPECT_EQ(o.value("camcount").toInt(), 3);
    EXPECT_EQ(o.value("device_name").toString(), "press 4");
    EXPECT_EQ(o.value("server_port").toInt(), 10440);
}

TEST_F(VersionJsonTest, ADamagedOrMissingFileIsLeftAlone)
{
    EXPECT_FALSE(writeVersionToJson());
    EXPECT_FALSE(QFile::exists("cnt_net/config.json"));
    appDir.writeFile("cnt_net/config.json", "{\"device_name\": ");
    EXPECT_FALSE(writeVersionToJson());
    EXPECT_EQ(appDir.readFile("cnt_net/config.json"), QByteArray("{\"device_name\": "));
}
