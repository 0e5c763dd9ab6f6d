#include "statsfixture.h"

#include "clock.h"
#include "globals.h"
#include "mainwindowbase.h"
#include "resstatisticsparam.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTimer>
#include <gtest/gtest.h>
#include <limits>

namespace {

constexpr qint64 kHourMs = 3600 * 1000;

QList<int> hourList(int hour, int value = 1)
{
    QList<int> hours;
    for (int h = 0; h < kHoursPerDay; ++h)
        hours.append(h == hour ? value : 0);
    return hours;
}

} // namespace

class CounterModel : public StatsTest
{
protected:
    void SetUp() override { makeTemplate(); }

    // A started model on the current folder: clock 2026-06-10 10:30, day start 08:00.
    void start(ResStatisticsParam& model, const QString& group = QStringLiteral("default"))
    {
        model.init(group, gDNum);
        ASSERT_NE(model.database, nullptr);
    }
};

TEST_F(CounterModel, CountsStepsAndCyclesPerCameraDetectionAndHour)
{
    ResStatisticsParam model;
    start(model);
    ASSERT_EQ(model.getCurDBDate(), QString("2026-06-10"));

    // Camera 1 is NG in detection 0 and OK in detection 1 (hour index 2: 10:30 - 08:00).
    model.addRecord(0, 10, {true, false}, false);
    model.addRecord(1, 10, {true, true}, true);

    ASSERT_EQ(model.countList.groups.size(), 1);
    const CountGroup& group = model.countList.groups.first();
    ASSERT_EQ(group.cameras.size(), 2);
    EXPECT_EQ(group.cameras[0].cycle.OK, hourList(2));
    EXPECT_EQ(group.cameras[1].cycle.NG, hourList(2));
    EXPECT_EQ(group.cameras[1].cycle.OK, hourList(-1));
    EXPECT_EQ(group.total.cycle.NG, hourList(2));
    EXPECT_EQ(group.total.detects[0].NG, hourList(2));
    EXPECT_EQ(group.total.detects[1].OK, hourList(2));
    EXPECT_EQ(group.cameras[1].detects[0].NG, hourList(2));
    EXPECT_EQ(group.cameras[1].detects[1].OK, hourList(2));

    // The next cycle starts with clean flags: all OK now.
    model.addRecord(0, 10, {true, true}, false);
    model.addRecord(1, 10, {true, true}, true);
    EXPECT_EQ(model.countList.groups.first().total.cycle.OK, hourList(2));
    EXPECT_EQ(model.countList.groups.first().cameras[1].cycle.OK, hourList(2));

    // Shown through the screen's accessors once the current day is chosen.
    model.slotUpdateRecord(0, QString());
    EXPECT_EQ(model.getCount(ShiftDay, false, kAllCamerasIndex, kWholeCycleIndex), 1);
    EXPECT_EQ(model.getCount(ShiftMorning, true, kAllCamerasIndex, kWholeCycleIndex), 1);
    EXPECT_EQ(model.getCount(ShiftNight, true, kAllCamerasIndex, kWholeCycleIndex), 0);
    EXPECT_EQ(model.getCount(ShiftDay, true, 0, 1), 2);
    EXPECT_EQ(model.getRes(ShiftMorning, false, 1, 0).value(2), 1);
    // Indexes beyond the lists answer empty.
    EXPECT_TRUE(model.getRes(ShiftDay, true, 2, 0).isEmpty());
    EXPECT_TRUE(model.getRes(ShiftDay, true, 0, 5).isEmpty());
    EXPECT_EQ(model.getCount(ShiftDay, true, 5, 0), 0);
}

TEST_F(CounterModel, AStepWithoutCamerasCountsAsAllOK)
{
    ResStatisticsParam model;
    start(model);
    model.addRecord(0, 10, {}, true);
    EXPECT_EQ(model.countList.groups.first().total.detects[0].OK, hourList(2));
    EXPECT_EQ(model.countList.groups.first().total.cycle.OK, hourList(2));
}

TEST_F(CounterModel, AStepForAnUnknownGroupCreatesItWithTheCurrentCounts)
{
    gDNum = 3;
    ResStatisticsParam model;
    start(model, QStringLiteral("mould-B"));
    model.addRecord(2, 10, {true, true}, true);
    ASSERT_EQ(model.countList.groups.size(), 1);
    const CountGroup& group = model.countList.groups.first();
    EXPECT_EQ(group.groupName, QString("mould-B"));
    EXPECT_EQ(group.morningStart, 8);
    EXPECT_EQ(group.nightStart, 20);
    ASSERT_EQ(group.cameras.size(), 2);
    EXPECT_EQ(group.cameras[0].detects.size(), 3);
    EXPECT_EQ(group.total.detects[2].OK, hourList(2));

    model.curGroupName = QStringLiteral("mould-C");
    model.addRecord(0, 10, {false, true}, false);
    ASSERT_EQ(model.countList.groups.size(), 2);
    EXPECT_EQ(model.countList.groups[1].groupName, QString("mould-C"));
    EXPECT_EQ(model.countList.groups[1].total.detects[0].NG, hourList(2));
}

TEST_F(CounterModel, HourIndexIsBoundedToTheDay)
{
    ResStatisticsParam model;
    start(model);
    model.setTimer(false);  // paused by an export: the day stays
    Clock::advance(23 * kHourMs);  // 25 h 30 after the day start
    model.addRecord(0, 9, {true, true}, false);
    EXPECT_EQ(model.countList.groups.first().total.detects[0].OK, hourList(23));

    // A clock set back before the day start counts into the first hour.
    Clock::setFixed(at("2026-06-10 07:00:00"));
    model.addRecord(1, 7, {true, true}, false);
    EXPECT_EQ(model.countList.groups.first().total.detects[1].OK, hourList(0));
}

TEST_F(CounterModel, DetectionIndexesBeyondTheListsGrowThem)
{
    ResStatisticsParam model;
    start(model);
    model.addRecord(4, 10, {true, false}, false);
    const CountGroup& group = model.countList.groups.first();
    ASSERT_EQ(group.total.detects.size(), 5);
    EXPECT_EQ(group.total.detects[4].NG, hourList(2));
    EXPECT_EQ(group.cameras[1].detects[4].NG, hourList(2));
    // Negative or impossible indexes are not counted at all.
    model.addRecord(-1, 10, {true, true}, false);
    model.addRecord(kMaxDetections, 10, {true, true}, false);
    EXPECT_EQ(model.countList.groups.first().total.detects.size(), 5);
}

TEST_F(CounterModel, CheckCameraDetectCountGrowsOnlyTheCurrentGroup)
{
    ResStatisticsParam model;
    start(model);
    model.curGroupName = QStringLiteral("other");
    model.addRecord(0, 10, {true, true}, false);
    model.curGroupName = QStringLiteral("default");
    model.checkCameraDetectCount(4);
    EXPECT_EQ(model.detectCount, 4);
    EXPECT_EQ(model.countList.groups[0].total.detects.size(), 4);
    EXPECT_EQ(model.countList.groups[0].cameras[1].detects.size(), 4);
    EXPECT_EQ(model.countList.groups[1].total.detects.size(), 2);
    model.checkCameraDetectCount(1);  // lists never shrink
    EXPECT_EQ(model.countList.groups[0].total.detects.size(), 4);
}

TEST_F(CounterModel, ShiftSpansSelectTheirHours)
{
    ResStatisticsParam model;
    CountDetect d;
    ResStatisticsParam::initStuCountDetect(d);
    for (int h = 0; h < kHoursPerDay; ++h)
        d.OK[h] = h + 1;
    model.calcCount(d);
    EXPECT_EQ(d.morning.ok, 78);   // indexes 0..11: 1+..+12
    EXPECT_EQ(d.night.ok, 222);    // indexes 12..23
    EXPECT_EQ(d.day.ok, 300);

    CountGroup group;
    group.groupName = QStringLiteral("default");
    group.total.cycle = d;
    model.showList.groups = {group};
    model.showGroupName = QStringLiteral("default");
    const QList<int> night = model.getRes(ShiftNight, true, kAllCamerasIndex, kWholeCycleIndex);
    ASSERT_EQ(night.size(), 12);
    EXPECT_EQ(night.first(), 13);
    EXPECT_EQ(model.getRes(ShiftMorning, true, kAllCamerasIndex, kWholeCycleIndex).size(), 12);
    EXPECT_EQ(model.getRes(ShiftDay, true, kAllCamerasIndex, kWholeCycleIndex).size(), 24);

    // Shifts swapped on a day that started at 08:00: the night shift from 08:00 begins with the 08:00 hour.
    model.morningsStart = 20;
    model.morningsEnd = 8;
    model.nightStart = 8;
    model.nightEnd = 20;
    EXPECT_EQ(model.getRes(ShiftNight, true, kAllCamerasIndex, kWholeCycleIndex).first(), 1);
    EXPECT_EQ(model.getRes(ShiftMorning, true, kAllCamerasIndex, kWholeCycleIndex).first(), 13);

    // Equal morning start and end: no morning hour, the whole day is night.
    model.morningsStart = 8;
    model.morningsEnd = 8;
    EXPECT_EQ(model.getShiftTimeList(ShiftMorning).size(), 24);
    EXPECT_TRUE(model.getRes(ShiftMorning, true, kAllCamerasIndex, kWholeCycleIndex).isEmpty());
    model.calcCount(d);
    EXPECT_EQ(d.morning.ok, 0);
    EXPECT_EQ(d.night.ok, 300);

    // Hours of an edited file summing past the int range: totals shown at the limit, not wrapped.
    CountDetect huge;
    ResStatisticsParam::initStuCountDetect(huge);
    for (int h = 0; h < kHoursPerDay; ++h) {
        huge.OK[h] = std::numeric_limits<int>::max();
        huge.NG[h] = std::numeric_limits<int>::min();
    }
    huge.OK[0] = 5;
    model.calcCount(huge);
    EXPECT_EQ(huge.night.ok, std::numeric_limits<int>::max());
    EXPECT_EQ(huge.day.ok, std::numeric_limits<int>::max());
    EXPECT_EQ(huge.day.ng, std::numeric_limits<int>::min());

    // An unknown shown group answers nothing.
    model.showGroupName = QStringLiteral("absent");
    EXPECT_TRUE(model.getRes(ShiftDay, true, kAllCamerasIndex, kWholeCycleIndex).isEmpty());
    EXPECT_EQ(model.getCount(ShiftDay, true, kAllCamerasIndex, kWholeCycleIndex), 0);
    EXPECT_EQ(model.getGoupFromName(QStringLiteral("absent")).groupName, QString("null"));
}

TEST_F(CounterModel, ShiftTimeListsWrapAroundMidnight)
{
    ResStatisticsParam model;
    EXPECT_EQ(model.getShiftTimeList(ShiftMorning), (QList<int>{8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19}));
    EXPECT_EQ(model.getShiftTimeList(ShiftNight),
              (QList<int>{20, 21, 22, 23, 0, 1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(model.getShiftTimeList(ShiftDay).size(), 24);
    EXPECT_EQ(model.getShiftTimeList(ShiftDay).first(), 0);
    EXPECT_TRUE(model.getShiftTimeList(static_cast<ShiftType>(3)).isEmpty());
}

TEST_F(CounterModel, DayChangeArchivesTheDayAndStartsANewOne)
{
    ResStatisticsParam model;
    start(model);
    QSignalSpy saves(&model, &ResStatisticsParam::sigSaveRecord);
    model.addRecord(0, 10, {true, false}, true);

    model.checkDate();  // a minute save, no archive
    flush(model);
    ASSERT_EQ(saves.size(), 1);
    EXPECT_FALSE(saves.at(0).at(2).toBool());
    EXPECT_EQ(storedDay("ResStatistics.db").value("date").toString(), QString("2026-06-10"));
    EXPECT_FALSE(QFile::exists("ResStatistics/2026-06-10.db"));

    Clock::setFixed(at("2026-06-11 08:00:00"));
    model.checkDate();
    flush(model);
    ASSERT_EQ(saves.size(), 2);
    EXPECT_EQ(saves.at(1).at(0).toString(), QString("2026-06-10"));
    EXPECT_TRUE(saves.at(1).at(2).toBool());

    const QJsonObject archived = storedDay("ResStatistics/2026-06-10.db");
    EXPECT_EQ(archived.value("date").toString(), QString("2026-06-10"));
    const QJsonArray datas = archived.value("groups").toArray().at(0).toObject().value("datas").toArray();
    EXPECT_EQ(datas.at(2).toObject().value("cameraID").toInt(), -1);
    // The live file is the template again.
    EXPECT_TRUE(storedDay("ResStatistics.db").isEmpty());
    EXPECT_EQ(sqlite("ResStatistics.db", "select count(*) from resstatistics;"), QString("0"));

    EXPECT_EQ(model.getCurDBDate(), QString("2026-06-11"));
    EXPECT_EQ(model.countList.date, QString("2026-06-11"));
    ASSERT_EQ(model.countList.groups.size(), 1);
    EXPECT_EQ(model.countList.groups.first().total.cycle.NG, hourList(-1));
    const QJsonObject config = QJsonDocument::fromJson(appDir.readFile("resstatistics.json")).object();
    EXPECT_EQ(config.value("time").toString(), QString::number(at("2026-06-11 08:00:00").toSecsSinceEpoch()));
}

TEST_F(CounterModel, RestartBeforeTheDayStartHourStartsTheRunningProductionDay)
{
    // Stopped on the 8th, restarted on the 10th at 06:00, before the day start.
    writeConfig({{"time", QString::number(at("2026-06-08 08:00:00").toSecsSinceEpoch())},
                 {"morningsStart", 8}, {"morningsEnd", 20}, {"nightStart", 20}, {"nightEnd", 8}});
    Clock::setFixed(at("2026-06-10 06:00:00"));
    ResStatisticsParam model;
    start(model);
    model.checkDate();
    flush(model);
    EXPECT_TRUE(QFile::exists("ResStatistics/2026-06-08.db"));
    // The running production day began yesterday at 08:00, not in two hours.
    EXPECT_EQ(model.getCurDBDate(), QString("2026-06-09"));
    model.addRecord(0, 6, {true, true}, false);
    EXPECT_EQ(model.countList.groups.first().total.detects[0].OK, hourList(22));

    // A fresh start at that hour without any configuration does the same.
    QFile::remove("resstatistics.json");
    ResStatisticsParam fresh;
    fresh.laodConfig();
    EXPECT_EQ(fresh.getCurDBDate(), QString("2026-06-09"));
}

TEST_F(CounterModel, ConfigTimeAsNumberOrMissingNeverDatesTheDay1970)
{
    const uint dayStart = at("2026-06-10 08:00:00").toSecsSinceEpoch();
    ResStatisticsParam numeric;
    numeric.laodConfigFromJson({{"time", double(dayStart)}, {"morningsStart", 6}, {"morningsEnd", 18},
                                {"nightStart", 18}, {"nightEnd", 6}});
    EXPECT_EQ(numeric.time, dayStart);
    EXPECT_EQ(numeric.morningsStart, 6);
    EXPECT_EQ(numeric.nightEnd, 6);

    // Numbers no day start can be (too large for the cast, negative) are refused like text.
    for (const QJsonValue& bad : {QJsonValue(), QJsonValue("abc"), QJsonValue("0"), QJsonValue(true), QJsonValue(1e300),
                                  QJsonValue(-1e300), QJsonValue(4294967296.0)}) {
        ResStatisticsParam model;
        model.laodConfigFromJson({{"time", bad}, {"morningsStart", 8}, {"morningsEnd", 20}});
        EXPECT_EQ(model.time, dayStart);
    }

    // Started from a file without "time": the day is today's and nothing is archived.
    writeConfig({{"morningsStart", 8}, {"morningsEnd", 20}, {"nightStart", 20}, {"nightEnd", 8}});
    ResStatisticsParam model;
    start(model);
    EXPECT_EQ(model.getCurDBDate(), QString("2026-06-10"));
    model.checkDate();
    flush(model);
    EXPECT_FALSE(QDir("ResStatistics").exists());
}

TEST_F(CounterModel, UnreadableConfigIsRewrittenWithAFreshDayStart)
{
    ASSERT_TRUE(appDir.writeFile("resstatistics.json", "{ not json"));
    ResStatisticsParam model;
    model.morningsStart = 9;
    model.laodConfig();
    EXPECT_EQ(model.time, uint(at("2026-06-10 09:00:00").toSecsSinceEpoch()));
    const QJsonObject config = QJsonDocument::fromJson(appDir.readFile("resstatistics.json")).object();
    EXPECT_TRUE(config.value("time").isString());
    EXPECT_EQ(config.value("time").toString().toUInt(), model.time);
    EXPECT_EQ(config.value("morningsStart").toInt(), 9);
    EXPECT_EQ(config.value("morningsEnd").toInt(), 20);
    EXPECT_EQ(config.value("nightStart").toInt(), 20);
    EXPECT_EQ(config.value("nightEnd").toInt(), 8);
    EXPECT_EQ(config.size(), 5);

    // Shift hours outside the day are not taken.
    model.laodConfigFromJson({{"time", "1"}, {"morningsStart", 30}, {"nightEnd", -2}});
    EXPECT_EQ(model.morningsStart, 9);
    EXPECT_EQ(model.nightEnd, 8);
}

// A morning start moved from 8 to 6 during a day: counts stay under the clock
// hour they were taken in, in the charts and the shift totals, and a screen
// showing the running day follows every counted step.
TEST_F(CounterModel, ShiftStartMovedDuringTheDayKeepsHoursUnderTheirHour)
{
    ResStatisticsParam model;
    start(model);  // 10:30, day started 08:00
    Clock::setFixed(at("2026-06-10 14:20:00"));
    model.addRecord(0, 14, {true, true}, true);
    model.slotUpdateRecord(0, QString());  // the screen opens on the running day
    model.showGroupName = QStringLiteral("default");
    const auto hourOf = [&model](ShiftType t) {
        const QList<int> labels = model.getShiftTimeList(t);
        const QList<int> values = model.getRes(t, true, kAllCamerasIndex, kWholeCycleIndex);
        EXPECT_EQ(labels.size(), values.size());
        QList<int> hours;
        for (int i = 0; i < values.size() && i < labels.size(); ++i)
            if (values[i])
                hours << labels[i];
        return hours;
    };
    EXPECT_EQ(hourOf(ShiftDay), QList<int>{14});
    EXPECT_EQ(hourOf(ShiftMorning), QList<int>{14});

    QJsonObject changed{{"morningsStart", 6}, {"morningsEnd", 18}, {"nightStart", 18}, {"nightEnd", 6}};
    ASSERT_TRUE(model.checkParam(changed));
    model.laodConfigFromJson(changed);
    model.setCurGroup();
    model.checkDate();
    model.slotUpdateRecord(0, QString());
    EXPECT_EQ(hourOf(ShiftDay), QList<int>{14}) << "not under 12";
    EXPECT_EQ(hourOf(ShiftMorning), QList<int>{14});
    EXPECT_TRUE(hourOf(ShiftNight).isEmpty());
    EXPECT_EQ(model.getCount(ShiftMorning, true, kAllCamerasIndex, kWholeCycleIndex), 1);

    // 19:10 is night now: counted there, and the open screen follows without reopening.
    Clock::setFixed(at("2026-06-10 19:10:00"));
    model.addRecord(0, 19, {true, true}, true);
    EXPECT_EQ(hourOf(ShiftNight), QList<int>{19});
    EXPECT_EQ(model.getCount(ShiftNight, true, kAllCamerasIndex, kWholeCycleIndex), 1);
    EXPECT_EQ(model.getCount(ShiftDay, true, kAllCamerasIndex, kWholeCycleIndex), 2);

    // 06:30 next morning still belongs to the day that started at 08:00; at
    // 08:00 its 24 hours are over and the next day is dated from 06:00.
    Clock::setFixed(at("2026-06-11 06:30:00"));
    model.checkDate();
    model.addRecord(0, 6, {true, true}, true);
    EXPECT_EQ(hourOf(ShiftDay), QList<int>({6, 14, 19}));
    Clock::setFixed(at("2026-06-11 08:10:00"));
    model.checkDate();
    model.addRecord(0, 8, {true, true}, true);
    model.slotUpdateRecord(0, QString());
    EXPECT_EQ(model.countList.groups[0].morningStart, 6);
    EXPECT_EQ(hourOf(ShiftDay), QList<int>{8});
}

TEST_F(CounterModel, CheckParamTellsChangedShiftHours)
{
    ResStatisticsParam model;
    model.time = 1234;
    QJsonObject same{{"morningsStart", 8}, {"morningsEnd", 20}, {"nightStart", 20}, {"nightEnd", 8}};
    EXPECT_FALSE(model.checkParam(same));
    EXPECT_EQ(same.value("time").toString(), QString("1234"));
    QJsonObject changed = same;
    changed["nightEnd"] = 7;
    EXPECT_TRUE(model.checkParam(changed));

    model.countList.groups = {CountGroup()};
    model.countList.groups[0].groupName = QStringLiteral("default");
    model.time = uint(at("2026-06-10 08:00:00").toSecsSinceEpoch());
    model.morningsStart = 6;
    model.nightStart = 18;
    model.setCurGroup();
    // The running day started at 08:00: its hours keep that start; the new one begins the next day.
    EXPECT_EQ(model.countList.groups[0].morningStart, 8);
    EXPECT_EQ(model.countList.groups[0].nightStart, 18);
}

TEST_F(CounterModel, ShortListsAndEmptyDaysAreBroughtToFullLists)
{
    // A foreign current-day file: 10-hour lists and no total at all.
    QJsonObject detect{{"detectID", 0}, {"OK", QJsonArray{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}}, {"NG", QJsonArray{}}};
    QJsonObject camera{{"cameraID", 0}, {"data", QJsonArray{detect}}};
    QJsonObject group{{"groupName", "default"}, {"datas", QJsonArray{camera}}};
    writeDay("ResStatistics.db", {{"date", "2026-06-10"}, {"groups", QJsonArray{group}}});
    ResStatisticsParam model;
    start(model);
    const CountGroup& live = model.countList.groups.first();
    EXPECT_EQ(live.cameras[0].detects[0].OK.size(), 24);
    EXPECT_EQ(live.cameras[0].detects[0].OK.value(9), 10);
    EXPECT_EQ(live.total.cycle.OK.size(), 24);
    ASSERT_EQ(live.total.detects.size(), 2);  // grown to the detections per cycle
    model.addRecord(1, 10, {false}, true);
    EXPECT_EQ(model.countList.groups.first().total.cycle.NG, hourList(2));
    EXPECT_EQ(model.countList.groups.first().cameras[0].cycle.NG, hourList(2));
}

TEST_F(CounterModel, AnEmptyDayStartsTheCurrentGroup)
{
    writeDay("ResStatistics.db", {{"date", "2026-06-10"}, {"groups", QJsonArray{}}});
    ResStatisticsParam model;
    start(model, QStringLiteral("mould-A"));
    ASSERT_EQ(model.countList.groups.size(), 1);
    EXPECT_EQ(model.countList.groups.first().groupName, QString("mould-A"));
    EXPECT_EQ(model.showGroupName, QString("mould-A"));
}

TEST_F(CounterModel, ShownDayComesFromTheLiveDayOrAnArchive)
{
    ResStatisticsParam model;
    start(model);
    model.addRecord(0, 10, {true, true}, true);
    QSignalSpy loaded(&model, &ResStatisticsParam::sigLoadFinish);

    CountGroup archivedGroup;
    ResStatisticsParam::initStuCountGroup(archivedGroup, QStringLiteral("old"));
    archivedGroup.total.cycle.NG[5] = 7;
    CountGroupList archivedDay;
    archivedDay.date = QStringLiteral("2026-06-01");
    archivedDay.groups = {archivedGroup};
    QDir().mkpath("ResStatistics");
    writeDay("ResStatistics/2026-06-01.db", ResStatisticsParam::StuCountToJson(archivedDay));

    model.slotUpdateRecord(1, QDir("ResStatistics").absolutePath() + "//2026-06-01.db");
    ASSERT_TRUE(loaded.wait(5000));
    EXPECT_TRUE(loaded.last().at(0).toBool());
    EXPECT_EQ(model.getGroups(), QStringList{"old"});
    model.showGroupName = QStringLiteral("old");
    EXPECT_EQ(model.getCount(ShiftNight, false, kAllCamerasIndex, kWholeCycleIndex), 0);
    EXPECT_EQ(model.getCount(ShiftMorning, false, kAllCamerasIndex, kWholeCycleIndex), 7);

    // A day that was never stored: one empty "default" group of the current day, and no file made.
    model.slotUpdateRecord(2, QDir("ResStatistics").absolutePath() + "//2026-05-01.db");
    ASSERT_TRUE(loaded.wait(5000));
    EXPECT_FALSE(loaded.last().at(0).toBool());
    EXPECT_EQ(model.getGroups(), QStringList{"default"});
    EXPECT_EQ(model.showList.date, QString("2026-06-10"));
    EXPECT_FALSE(QFile::exists("ResStatistics/2026-05-01.db"));

    // Row 0 copies the live day at that moment.
    model.slotUpdateRecord(0, QString());
    EXPECT_TRUE(loaded.last().at(0).toBool());
    model.showGroupName = QStringLiteral("default");
    EXPECT_EQ(model.getCount(ShiftDay, true, kAllCamerasIndex, kWholeCycleIndex), 1);
}

TEST_F(CounterModel, ScreenHooksRunAfterCountingAndWhenADayIsArchived)
{
    int checks = 0;
    int lists = 0;
    ResStatisticsParam::setScreenHooks({[&] { ++checks; }, [&] { ++lists; }});
    ResStatisticsParam model;
    start(model);
    model.addRecord(0, 10, {true, true}, false);
    model.checkDate();
    EXPECT_EQ(checks, 1);
    EXPECT_EQ(lists, 0);
    Clock::advance(24 * kHourMs);
    model.checkDate();
    EXPECT_EQ(lists, 1);
    flush(model);
    ResStatisticsParam::setScreenHooks({});
}

// The day check runs from the start, whatever the screen shows; only an export pauses it.
TEST_F(CounterModel, TheDayCheckRunsFromTheStartUntilPaused)
{
    ResStatisticsParam model;
    start(model);
    ASSERT_NE(model.timer, nullptr);
    EXPECT_TRUE(model.timer->isActive());
    EXPECT_EQ(model.timer->interval(), 60000);
    model.setTimer(false);
    EXPECT_FALSE(model.timer->isActive());
    model.setTimer(true);
    EXPECT_TRUE(model.timer->isActive());
}

TEST_F(CounterModel, MainWindowStepsArriveThroughSendRecord)
{
    ResStatisticsParam model;
    start(model);
    MainWindowBase window;
    QObject::connect(&window, &MainWindowBase::sendRecord, &model, &ResStatisticsParam::addRecord);
    emit window.sendRecord(0, 10, {true, true}, false);
    emit window.sendRecord(1, 10, {false, true}, true);
    const CountGroup& group = model.countList.groups.first();
    EXPECT_EQ(group.total.detects[0].OK, hourList(2));
    EXPECT_EQ(group.total.detects[1].NG, hourList(2));
    EXPECT_EQ(group.cameras[0].cycle.NG, hourList(2));
    EXPECT_EQ(group.cameras[1].cycle.OK, hourList(2));
}
