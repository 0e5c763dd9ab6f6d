#include "statsfixture.h"

#include "clock.h"
#include "globals.h"
#include "resstatisticsdatabase.h"
#include "resstatisticsparam.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <gtest/gtest.h>
#include <time.h>

namespace {

// The local time zone of the process for the span of a test.
class LocalZone
{
public:
    explicit LocalZone(const char* zone)
        : m_had(qEnvironmentVariableIsSet("TZ")), m_old(qgetenv("TZ"))
    {
        qputenv("TZ", zone);
        tzset();
    }
    ~LocalZone()
    {
        if (m_had)
            qputenv("TZ", m_old);
        else
            qunsetenv("TZ");
        tzset();
    }

private:
    bool m_had;
    QByteArray m_old;
};

} // namespace

class DayChange : public StatsTest
{
protected:
    void SetUp() override { makeTemplate(); }

    QString config(const QString& day) const
    {
        return QString::number(at(day).toSecsSinceEpoch());
    }
    void writeDayStart(const QString& moment)
    {
        writeConfig({{"time", config(moment)}, {"morningsStart", 8}, {"morningsEnd", 20},
                     {"nightStart", 20}, {"nightEnd", 8}});
    }
};

TEST_F(DayChange, AFallBackNightEndsTheDayAtTheDayStartHourOnce)
{
    LocalZone zone("Europe/Berlin");
    Clock::setFixed(at("2026-10-24 10:30:00"));
    ResStatisticsParam model;
    model.init(QStringLiteral("default"), 2);
    ASSERT_EQ(model.getCurDBDate(), QString("2026-10-24"));
    model.addRecord(0, 10, {true, false}, true);

    // 07:00 winter time is 24 hours after 08:00 summer time, yet still the same production day.
    Clock::setFixed(at("2026-10-25 07:00:00"));
    model.checkDate();
    flush(model);
    EXPECT_FALSE(QFile::exists("ResStatistics/2026-10-24.db"));
    EXPECT_EQ(model.getCurDBDate(), QString("2026-10-24"));

    Clock::setFixed(at("2026-10-25 08:00:00"));
    model.checkDate();
    Clock::advance(60 * 1000);
    model.checkDate();
    flush(model);
    EXPECT_EQ(model.getCurDBDate(), QString("2026-10-25"));
    EXPECT_EQ(cycleNG(storedDay("ResStatistics/2026-10-24.db")).value(2), 1);
    EXPECT_EQ(storedDay("ResStatistics.db").value("date").toString(), QString("2026-10-25"));
}

// The first cycle after the day-start hour opens the new day before the minute's check
// comes: the finished day is archived whole and the cycle counts in hour 0 of the new one.
// Paused by an export, the day waits for the export's end.
TEST_F(DayChange, TheFirstCycleAfterTheStartHourCountsInTheNewDay)
{
    writeDayStart("2026-06-09 08:00:00");
    Clock::setFixed(at("2026-06-10 07:59:50"));
    ResStatisticsParam model;
    model.init(QStringLiteral("default"), 2);
    ASSERT_EQ(model.getCurDBDate(), QString("2026-06-09"));
    model.addRecord(0, 0, {true, false}, true);

    Clock::setFixed(at("2026-06-10 08:00:05"));
    model.setTimer(false);
    model.addRecord(0, 0, {true, false}, true);
    EXPECT_EQ(model.getCurDBDate(), QString("2026-06-09")) << "no day change under an export";
    model.setTimer(true);
    model.addRecord(0, 0, {false, false}, true);
    flush(model);
    EXPECT_EQ(model.getCurDBDate(), QString("2026-06-10"));
    EXPECT_EQ(cycleNG(storedDay("ResStatistics/2026-06-09.db")).value(23), 2);
    EXPECT_EQ(model.countList.groups.first().total.cycle.NG.value(0), 1);
    EXPECT_EQ(model.countList.groups.first().total.cycle.NG.value(23), 0);
    model.saveNow();
    EXPECT_EQ(cycleNG(storedDay("ResStatistics.db")).value(0), 1);
    EXPECT_EQ(storedDay("ResStatistics.db").value("date").toString(), QString("2026-06-10"));
}

TEST_F(DayChange, ADayStartHourInTheSpringGapStartsWhenTheClocksGoOn)
{
    LocalZone zone("Europe/Berlin");
    ResStatisticsParam model;
    model.morningsStart = 2;
    Clock::setFixed(at("2026-03-29 05:00:00"));  // 02:00 does not exist that night
    model.createNewTime();
    EXPECT_EQ(model.getCurDBDate(), QString("2026-03-29"));
    EXPECT_EQ(QDateTime::fromSecsSinceEpoch(model.time), at("2026-03-29 03:00:00"));
    EXPECT_EQ(model.currentHourIndex(), 2);
}

TEST_F(DayChange, TheCountQueryPlacesAGapDayStartWhereTheCountsPutIt)
{
    LocalZone zone("Europe/Berlin");
    QJsonObject day = dayWithCycleNG("2026-03-29", 1, 6);
    QJsonArray groups = day["groups"].toArray();
    QJsonObject group = groups[0].toObject();
    group["morningStart"] = 2;
    groups[0] = group;
    day["groups"] = groups;
    QDir().mkpath("ResStatistics");
    writeDay("ResStatistics/2026-03-29.db", day);
    QJsonObject out;
    ASSERT_TRUE(ResStatisticsDatabase::loadCount("2026-03-29 03:00:00", "2026-03-29 04:59:59", out, "default"));
    // Two zeros from the 08:00 window of the missing day before, then hour indexes 0 and 1.
    const QJsonArray ng = out["detect_ng"].toArray();
    ASSERT_EQ(ng.size(), 4);
    EXPECT_EQ(ng[3].toInt(), 6);
}

TEST_F(DayChange, AMorningStartMovedLaterKeepsTheFinishedDaysArchive)
{
    ResStatisticsParam model;
    model.init(QStringLiteral("default"), 2);
    model.addRecord(0, 10, {true, false}, true);
    // The screen moves the day start from 08:00 to 10:00 during the day.
    QJsonObject shifts{{"morningsStart", 10}, {"morningsEnd", 22}, {"nightStart", 22}, {"nightEnd", 10}};
    ASSERT_TRUE(model.checkParam(shifts));
    model.laodConfigFromJson(shifts);
    model.setCurGroup();
    model.checkDate();

    Clock::setFixed(at("2026-06-11 08:00:00"));
    model.checkDate();
    Clock::setFixed(at("2026-06-11 10:00:00"));
    model.checkDate();
    flush(model);
    EXPECT_EQ(cycleNG(storedDay("ResStatistics/2026-06-10.db")).value(2), 1);
    EXPECT_EQ(model.getCurDBDate(), QString("2026-06-11"));
    EXPECT_EQ(model.time, uint(at("2026-06-11 10:00:00").toSecsSinceEpoch()));
}

TEST_F(DayChange, ARestartTakesTheDayTheLiveFileHolds)
{
    // The day of the 9th was never archived and the shift file is gone.
    writeDay("ResStatistics.db", dayWithCycleNG("2026-06-09", 5, 3));
    ResStatisticsParam model;
    model.init(QStringLiteral("default"), 2);
    EXPECT_EQ(model.getCurDBDate(), QString("2026-06-09"));
    model.checkDate();
    flush(model);
    EXPECT_EQ(cycleNG(storedDay("ResStatistics/2026-06-09.db")).value(5), 3);
    EXPECT_EQ(model.getCurDBDate(), QString("2026-06-10"));
    EXPECT_EQ(model.countList.groups.first().total.cycle.NG.value(5), 0);
}

TEST_F(DayChange, ARestartWithAStaleDayStartDoesNotArchiveTheRunningDay)
{
    // The day changed to the 10th but the shift file still names the 9th.
    QDir().mkpath("ResStatistics");
    writeDay("ResStatistics/2026-06-09.db", dayWithCycleNG("2026-06-09", 1, 9));
    writeDay("ResStatistics.db", dayWithCycleNG("2026-06-10", 2, 4));
    writeDayStart("2026-06-09 08:00:00");
    ResStatisticsParam model;
    model.init(QStringLiteral("default"), 2);
    EXPECT_EQ(model.getCurDBDate(), QString("2026-06-10"));
    model.checkDate();
    flush(model);
    EXPECT_EQ(cycleNG(storedDay("ResStatistics/2026-06-09.db")).value(1), 9);
    EXPECT_FALSE(QFile::exists("ResStatistics/2026-06-10.db"));
    EXPECT_EQ(cycleNG(storedDay("ResStatistics.db")).value(2), 4);

    // A live file dated ahead of the clock (clock set back) leaves the day start alone.
    writeDay("ResStatistics.db", dayWithCycleNG("2026-06-12", 2, 4));
    writeDayStart("2026-06-10 08:00:00");
    ResStatisticsParam later;
    later.init(QStringLiteral("default"), 2);
    EXPECT_EQ(later.getCurDBDate(), QString("2026-06-10"));
}

TEST_F(DayChange, TheTemplateIsMadeWhenTheFolderHasNone)
{
    ASSERT_TRUE(QFile::remove("ResStatisticsNULL.db"));
    ResStatisticsDatabase database(nullptr, nullptr);
    EXPECT_EQ(sqlite("ResStatisticsNULL.db", "select name from sqlite_master where type='table';"),
              QString("resstatistics"));
    EXPECT_EQ(sqlite("ResStatisticsNULL.db", "select count(*) from resstatistics;"), QString("0"));
    EXPECT_EQ(sqlite("ResStatistics.db", "select name from sqlite_master where type='table';"),
              QString("resstatistics"));
    EXPECT_TRUE(QDir().entryList({"*.part"}, QDir::Files | QDir::Hidden).isEmpty());

    // Lost while running: the next archive makes it again before the copy.
    database.slotSaveRecord("2026-06-10", dayWithCycleNG("2026-06-10", 0, 1), false);
    ASSERT_TRUE(QFile::remove("ResStatisticsNULL.db"));
    database.slotSaveRecord("2026-06-10", dayWithCycleNG("2026-06-10", 0, 2), true);
    EXPECT_EQ(cycleNG(storedDay("ResStatistics/2026-06-10.db")).value(0), 2);
    EXPECT_TRUE(QFile::exists("ResStatisticsNULL.db"));
    EXPECT_EQ(sqlite("ResStatistics.db", "select count(*) from resstatistics;"), QString("0"));
}
