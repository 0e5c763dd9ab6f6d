#include "statsfixture.h"

#include "globals.h"
#include "resstatisticsdatabase.h"
#include "resstatisticsparam.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QSignalSpy>
#include <gtest/gtest.h>

class StatsDatabase : public StatsTest
{
protected:
    // Old-format rows: "C%1_D%2" with OK and NG hour texts.
    void writeOldRows(const QString& file, const QStringList& rows)
    {
        QString sql = "CREATE TABLE IF NOT EXISTS resstatistics (name TEXT PRIMARY KEY, value1 TEXT NOT NULL, value2 TEXT NOT NULL );";
        for (const QString& row : rows)
            sql += QStringLiteral("INSERT INTO resstatistics VALUES (%1);").arg(row);
        sqlite(file, sql);
    }
};

TEST_F(StatsDatabase, MissingCurrentDayFileIsCopiedFromTheTemplateAndSynced)
{
    makeTemplate(false);
    ResStatisticsDatabase database(nullptr, nullptr);
    EXPECT_TRUE(QFile::exists("ResStatistics.db"));
    EXPECT_EQ(shell.lines(), QStringList{"sync"});
    // The template had no table: it is created in the live file only.
    EXPECT_EQ(sqlite("ResStatistics.db", "select name from sqlite_master where type='table';"), QString("resstatistics"));
    EXPECT_EQ(sqlite("ResStatisticsNULL.db", "select count(*) from sqlite_master;"), QString("0"));
    EXPECT_TRUE(warnings.isEmpty());
}

TEST_F(StatsDatabase, UnopenableCurrentDayFileWarnsThenRebootsThroughTheRunner)
{
    gLan = 1;
    gaLanStr[4 * 544 + 1] = QStringLiteral("Res statistics file error, please");
    ASSERT_TRUE(QDir().mkdir("ResStatistics.db"));  // a folder cannot be opened as a database
    ResStatisticsDatabase database(nullptr, nullptr);
    EXPECT_EQ(warnings, QStringList{"Res statistics file error, please"});
    EXPECT_EQ(shell.lines(), QStringList{"reboot"});
    gLan = 0;
    gaLanStr[4 * 544 + 1].clear();
}

TEST_F(StatsDatabase, SavingTwiceKeepsOneRowWithTheLaterText)
{
    makeTemplate();
    ResStatisticsDatabase database(nullptr, nullptr);
    database.slotSaveRecord("2026-06-10", dayWithCycleNG("2026-06-10", 3, 1), false);
    database.slotSaveRecord("2026-06-10", dayWithCycleNG("2026-06-10", 3, 2), false);
    EXPECT_EQ(sqlite("ResStatistics.db", "select count(*) from resstatistics;"), QString("1"));
    EXPECT_EQ(cycleNG(storedDay("ResStatistics.db")).value(3), 2);
    // Stored indented, as the day files always were.
    EXPECT_TRUE(sqlite("ResStatistics.db", "select value1 from resstatistics;").contains("\n    \"date\""));
    EXPECT_EQ(sqlite("ResStatistics.db", "select length(value2) from resstatistics;"), QString("0"));
}

TEST_F(StatsDatabase, ArchiveMovesTheDayAndReplacesAnArchiveOfTheSameDate)
{
    makeTemplate();
    ResStatisticsDatabase database(nullptr, nullptr);
    QDir().mkpath("ResStatistics");
    writeDay("ResStatistics/2026-06-10.db", dayWithCycleNG("2026-06-10", 0, 99));

    database.slotSaveRecord("2026-06-10", dayWithCycleNG("2026-06-10", 4, 5), true);
    EXPECT_EQ(cycleNG(storedDay("ResStatistics/2026-06-10.db")).value(4), 5);
    EXPECT_EQ(cycleNG(storedDay("ResStatistics/2026-06-10.db")).value(0), 0);
    EXPECT_EQ(sqlite("ResStatistics.db", "select count(*) from resstatistics;"), QString("0"));

    // The next save writes the new day into the fresh file.
    database.slotSaveRecord("2026-06-11", dayWithCycleNG("2026-06-11", 1, 1), false);
    EXPECT_EQ(storedDay("ResStatistics.db").value("date").toString(), QString("2026-06-11"));
}

TEST_F(StatsDatabase, AFailedArchiveKeepsTheDayUntilItCanBeMoved)
{
    makeTemplate();
    ResStatisticsDatabase database(nullptr, nullptr);
    ASSERT_TRUE(appDir.writeFile("ResStatistics", "a file where the archive folder belongs"));

    database.slotSaveRecord("2026-06-10", dayWithCycleNG("2026-06-10", 4, 5), true);
    // Not archived: the live file still holds the finished day...
    EXPECT_EQ(storedDay("ResStatistics.db").value("date").toString(), QString("2026-06-10"));
    // ...and the next day is not written over it.
    database.slotSaveRecord("2026-06-11", dayWithCycleNG("2026-06-11", 1, 1), false);
    EXPECT_EQ(storedDay("ResStatistics.db").value("date").toString(), QString("2026-06-10"));

    ASSERT_TRUE(QFile::remove("ResStatistics"));
    database.slotSaveRecord("2026-06-11", dayWithCycleNG("2026-06-11", 1, 2), false);
    EXPECT_EQ(cycleNG(storedDay("ResStatistics/2026-06-10.db")).value(4), 5);
    EXPECT_EQ(storedDay("ResStatistics.db").value("date").toString(), QString("2026-06-11"));
    EXPECT_EQ(cycleNG(storedDay("ResStatistics.db")).value(1), 2);
}

TEST_F(StatsDatabase, OldFormatArchiveIsConvertedOnFirstRead)
{
    makeTemplate();
    ResStatisticsDatabase database(nullptr, nullptr);
    QDir().mkpath("ResStatistics");
    writeOldRows("ResStatistics/2026-03-01.db",
                 {"'C0_D0', '1 2 3 4 5 6 7 8 9 10', '0 0 1'",
                  "'C1_D8', '', '5 5'",
                  "'C8_D8', '7', '2'",
                  "'C8_D1', '1 x 3', ''"});
    QJsonObject day;
    database.loadCountFromJson(QDir("ResStatistics").absolutePath() + "//2026-03-01.db", day);

    CountGroupList read;
    ResStatisticsParam::StuCountFromJson(read, day);
    EXPECT_EQ(read.date, QString("2026-03-01"));
    ASSERT_EQ(read.groups.size(), 1);
    const CountGroup& group = read.groups.first();
    EXPECT_EQ(group.groupName, QString("default"));
    ASSERT_EQ(group.cameras.size(), 2);
    EXPECT_EQ(group.cameras[0].detects[0].OK.mid(0, 11), (QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0}));
    EXPECT_EQ(group.cameras[0].detects[0].OK.size(), 24);
    EXPECT_EQ(group.cameras[0].detects[0].NG.value(2), 1);
    EXPECT_EQ(group.cameras[1].cycle.NG.mid(0, 3), (QList<int>{5, 5, 0}));
    EXPECT_EQ(group.total.cycle.OK.value(0), 7);
    EXPECT_EQ(group.total.detects[1].OK.mid(0, 3), (QList<int>{1, 0, 0}));  // reading stops at "x"

    // Converted in place; the old rows stay.
    EXPECT_EQ(storedDay("ResStatistics/2026-03-01.db").value("date").toString(), QString("2026-03-01"));
    EXPECT_EQ(sqlite("ResStatistics/2026-03-01.db", "select count(*) from resstatistics;"), QString("5"));
}

TEST_F(StatsDatabase, OldFormatCurrentDayTakesTheLiveDateAndGroup)
{
    makeTemplate();
    writeOldRows("ResStatistics.db", {"'C8_D8', '0 0 4', ''"});
    ResStatisticsParam model;
    model.init(QStringLiteral("mould-A"), 2);
    ASSERT_EQ(model.countList.groups.size(), 1);
    EXPECT_EQ(model.countList.groups.first().groupName, QString("mould-A"));
    EXPECT_EQ(model.countList.groups.first().total.cycle.OK.value(2), 4);
    const QJsonObject stored = storedDay("ResStatistics.db");
    EXPECT_EQ(stored.value("date").toString(), QString("2026-06-10"));
    EXPECT_EQ(stored.value("groups").toArray().at(0).toObject().value("groupName").toString(), QString("mould-A"));
}

TEST_F(StatsDatabase, ReadingADayThatWasNeverStoredAnswersFalseAndMakesNoFile)
{
    makeTemplate();
    ResStatisticsDatabase database(nullptr, nullptr);
    QSignalSpy finished(&database, &ResStatisticsDatabase::sigLoadFinish);
    database.slotUpdateRecord(appDir.filePath("ResStatistics/2026-01-01.db"));
    ASSERT_EQ(finished.size(), 1);
    EXPECT_FALSE(finished.at(0).at(1).toBool());
    EXPECT_TRUE(finished.at(0).at(0).toJsonObject().isEmpty());
    EXPECT_FALSE(QFile::exists("ResStatistics/2026-01-01.db"));

    QJsonObject untouched{{"keep", 1}};
    database.loadCountFromJson("ResStatistics/2026-01-02.db", untouched);
    EXPECT_EQ(untouched, (QJsonObject{{"keep", 1}}));
    EXPECT_FALSE(QFile::exists("ResStatistics/2026-01-02.db"));
}

TEST(StatsFileNames, RemoveSuffixGivesTheBaseName)
{
    EXPECT_EQ(removeSuffix("./ResStatistics/2026-03-01.db"), QString("2026-03-01"));
    EXPECT_EQ(removeSuffix("./ResStatistics.db"), QString("ResStatistics"));
    EXPECT_EQ(removeSuffix("/abs//ResStatistics//2026-03-01.db"), QString("2026-03-01"));
    EXPECT_EQ(removeSuffix("./dir/file"), QString(""));
    EXPECT_EQ(removeSuffix("plain"), QString("plain"));
}
