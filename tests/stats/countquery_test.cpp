#include "statsfixture.h"

#include "clock.h"
#include "globals.h"
#include "resstatisticsdatabase.h"
#include "resstatisticsparam.h"
#include "statshooks.h"
#include "wizardpara.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QtConcurrent>
#include <QJsonArray>
#include <set>
#include <gtest/gtest.h>

namespace {

const char* const kSeriesKeys[] = {"detect_all", "detect_ng"};
const char* const kDetailKeys[] = {"detect_all_detail", "detect_ng_detail"};
const char* const kElementSeriesKeys[] = {"detect_index_all", "detect_index_ng"};
const char* const kElementDetailKeys[] = {"detect_index_all_detail", "detect_index_ng_detail"};

QList<int> values(const QJsonValue& series)
{
    QList<int> list;
    for (const QJsonValue& value : series.toArray())
        list.append(value.toInt(-1));
    return list;
}

QList<int> repeat(int count, int value) { return QList<int>::fromVector(QVector<int>(count, value)); }

// The length of every series of an answer.
std::set<int> seriesLengths(const QJsonObject& out)
{
    std::set<int> lengths;
    for (const char* key : kSeriesKeys)
        lengths.insert(out.value(key).toArray().size());
    for (const char* key : kDetailKeys)
        for (const QJsonValue& series : out.value(key).toArray())
            lengths.insert(series.toArray().size());
    for (const QJsonValue& element : out.value("every_detect").toArray()) {
        for (const char* key : kElementSeriesKeys)
            lengths.insert(element.toObject().value(key).toArray().size());
        for (const char* key : kElementDetailKeys)
            for (const QJsonValue& series : element.toObject().value(key).toArray())
                lengths.insert(series.toArray().size());
    }
    return lengths;
}

} // namespace

class CountQuery : public StatsTest
{
protected:
    void SetUp() override
    {
        StatsHooks::instance().cameraCount = [] { return 2; };  // cameras found
        QDir().mkpath("ResStatistics");
    }
    void TearDown() override { StatsHooks::instance().cameraCount = nullptr; }

    // A stored day of one group: every hourly value of camera c, detection d
    // (-1 total / cycle) is 100 (c + 1) + 10 (d + 1) + hour for OK and hour for NG.
    static QJsonObject day(const QString& date, int cameras, int detects, const QString& group = "default",
                           int morningStart = 8)
    {
        const int savedCameras = numCamera;
        const int savedDetects = gDNum;
        numCamera = cameras;
        gDNum = detects;
        CountGroup g;
        ResStatisticsParam::initStuCountGroup(g, group);
        g.morningStart = morningStart;
        auto fill = [](CountDetect& d, int c, int j) {
            for (int h = 0; h < kHoursPerDay; ++h) {
                d.OK[h] = 100 * (c + 1) + 10 * (j + 1) + h;
                d.NG[h] = h;
            }
        };
        auto fillCamera = [&](CountCamera& camera, int c) {
            for (int j = 0; j < camera.detects.size(); ++j)
                fill(camera.detects[j], c, j);
            fill(camera.cycle, c, -1);
        };
        for (int c = 0; c < g.cameras.size(); ++c)
            fillCamera(g.cameras[c], c);
        fillCamera(g.total, -1);
        CountGroupList list;
        list.date = date;
        list.groups = {g};
        const QJsonObject doc = ResStatisticsParam::StuCountToJson(list);
        numCamera = savedCameras;
        gDNum = savedDetects;
        return doc;
    }
    // Steps (OK + NG) stored by day() for an hour.
    static int steps(int c, int j, int hour) { return 100 * (c + 1) + 10 * (j + 1) + 2 * hour; }

    void archive(const QString& date, const QJsonObject& doc) { writeDay("ResStatistics/" + date + ".db", doc); }

    QJsonObject query(const QString& start, const QString& finish, const QString& group = "default")
    {
        QJsonObject out;
        EXPECT_TRUE(ResStatisticsDatabase::loadCount(start, finish, out, group));
        return out;
    }
};

TEST_F(CountQuery, HoursHoldingStartAndFinishAreIncluded)
{
    archive("2026-06-05", day("2026-06-05", 2, 2));
    QJsonObject out{{"device_sn", "kept"}};
    ASSERT_TRUE(ResStatisticsDatabase::loadCount("2026-06-05 09:30:00", "2026-06-05 11:10:00", out, "default"));
    EXPECT_EQ(out.value("device_sn").toString(), QString("kept"));
    // Hour indexes 1, 2 and 3: 09:00, 10:00 and 11:00.
    EXPECT_EQ(values(out["detect_all"]), (QList<int>{steps(-1, -1, 1), steps(-1, -1, 2), steps(-1, -1, 3)}));
    EXPECT_EQ(values(out["detect_ng"]), (QList<int>{1, 2, 3}));
    const QJsonArray allDetail = out["detect_all_detail"].toArray();
    ASSERT_EQ(allDetail.size(), 2);
    EXPECT_EQ(values(allDetail[1]), (QList<int>{steps(1, -1, 1), steps(1, -1, 2), steps(1, -1, 3)}));
    const QJsonArray every = out["every_detect"].toArray();
    ASSERT_EQ(every.size(), 2);
    EXPECT_FALSE(every[0].toObject().contains("detect_index"));
    EXPECT_EQ(values(every[1].toObject()["detect_index_all"]).first(), steps(-1, 1, 1));
    EXPECT_EQ(values(every[1].toObject()["detect_index_all_detail"].toArray()[0]).last(), steps(0, 1, 3));
    EXPECT_EQ(values(every[1].toObject()["detect_index_ng_detail"].toArray()[1]), (QList<int>{1, 2, 3}));
    EXPECT_EQ(seriesLengths(out), std::set<int>{3});
}

TEST_F(CountQuery, MissingDaysAreZeroFilledAndEverySeriesKeepsItsLength)
{
    archive("2026-06-01", day("2026-06-01", 2, 2));
    archive("2026-06-03", day("2026-06-03", 2, 2));
    const QJsonObject out = query("2026-06-01 08:00:00", "2026-06-03 09:00:00");
    const QList<int> all = values(out["detect_all"]);
    ASSERT_EQ(all.size(), 24 + 24 + 2);
    EXPECT_EQ(all.mid(24, 24), repeat(24, 0));
    EXPECT_EQ(all.value(0), steps(-1, -1, 0));
    EXPECT_EQ(all.value(49), steps(-1, -1, 1));
    EXPECT_EQ(seriesLengths(out), std::set<int>{50});
    // Elements came from days with data only.
    for (const QJsonValue& element : out["every_detect"].toArray())
        EXPECT_FALSE(element.toObject().contains("detect_index"));
}

TEST_F(CountQuery, CamerasAndDetectionsAddedLaterStartWithZeros)
{
    archive("2026-06-01", day("2026-06-01", 2, 3));
    archive("2026-06-02", day("2026-06-02", 3, 2));
    const QJsonObject out = query("2026-06-01 08:00:00", "2026-06-03 07:59:59");
    const QJsonArray allDetail = out["detect_all_detail"].toArray();
    ASSERT_EQ(allDetail.size(), 3);
    EXPECT_EQ(values(allDetail[2]).mid(0, 24), repeat(24, 0));
    EXPECT_EQ(values(allDetail[2]).value(24), steps(2, -1, 0));
    const QJsonArray every = out["every_detect"].toArray();
    ASSERT_EQ(every.size(), 3);
    EXPECT_EQ(values(every[2].toObject()["detect_index_all"]).mid(24), repeat(24, 0));
    EXPECT_EQ(values(every[2].toObject()["detect_index_all"]).value(0), steps(-1, 2, 0));
    EXPECT_EQ(every[2].toObject()["detect_index_ng_detail"].toArray().size(), 3);
    EXPECT_EQ(seriesLengths(out), std::set<int>{48});
}

TEST_F(CountQuery, ElementsMadeForDaysWithoutDataCarryTheirIndex)
{
    // 06-01 has no file: 2 cameras (found), 2 detections per cycle.
    archive("2026-06-02", day("2026-06-02", 2, 3));
    const QJsonObject out = query("2026-06-01 08:00:00", "2026-06-02 12:00:00");
    const QJsonArray every = out["every_detect"].toArray();
    ASSERT_EQ(every.size(), 3);
    EXPECT_EQ(every[0].toObject().value("detect_index").toInt(), 1);
    EXPECT_EQ(every[1].toObject().value("detect_index").toInt(), 2);
    EXPECT_FALSE(every[2].toObject().contains("detect_index"));
    EXPECT_EQ(values(every[2].toObject()["detect_index_ng"]), (repeat(24, 0) + QList<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(seriesLengths(out), std::set<int>{29});
}

TEST_F(CountQuery, DaysWithoutTheGroupAreZeroFilled)
{
    archive("2026-06-01", day("2026-06-01", 2, 2, "other"));
    archive("2026-06-02", QJsonObject{{"date", "2026-06-02"}, {"groups", QJsonArray{}}});
    ASSERT_TRUE(appDir.writeFile("ResStatistics/2026-06-03.db", "not a database at all"));
    const QJsonObject out = query("2026-06-01 08:00:00", "2026-06-04 07:00:00");
    EXPECT_EQ(values(out["detect_all"]), repeat(72, 0));
    EXPECT_EQ(seriesLengths(out), std::set<int>{72});
}

TEST_F(CountQuery, IdsBeyondTheRecordedCountsWidenEverySeries)
{
    // Detections lowered to 1 during the day: the lists kept 2 entries; a
    // camera beyond the count; an id no system has is dropped.
    QJsonObject doc = day("2026-06-01", 2, 2);
    QJsonObject group = doc["groups"].toArray()[0].toObject();
    group["detectCount"] = 1;
    group["cameraCount"] = 1;
    QJsonArray datas = group["datas"].toArray();
    datas.append(QJsonObject{{"cameraID", 12}, {"data", QJsonArray{QJsonObject{{"detectID", 0}, {"OK", QJsonArray{1}}}}}});
    group["datas"] = datas;
    doc["groups"] = QJsonArray{group};
    archive("2026-06-01", doc);
    const QJsonObject out = query("2026-06-01 08:00:00", "2026-06-01 09:59:59");
    const QJsonArray every = out["every_detect"].toArray();
    ASSERT_EQ(every.size(), 2);
    EXPECT_EQ(values(every[1].toObject()["detect_index_all"]), (QList<int>{steps(-1, 1, 0), steps(-1, 1, 1)}));
    EXPECT_EQ(out["detect_all_detail"].toArray().size(), 2);
    EXPECT_EQ(values(out["detect_all_detail"].toArray()[1]), (QList<int>{steps(1, -1, 0), steps(1, -1, 1)}));
    EXPECT_EQ(seriesLengths(out), std::set<int>{2});
}

TEST_F(CountQuery, ADayHoldingTheGroupTwiceCountsOnce)
{
    QJsonObject doc = day("2026-06-01", 2, 2);
    QJsonArray groups = doc["groups"].toArray();
    groups.append(groups[0]);
    doc["groups"] = groups;
    archive("2026-06-01", doc);
    const QJsonObject out = query("2026-06-01 08:00:00", "2026-06-01 09:59:59");
    EXPECT_EQ(seriesLengths(out), std::set<int>{2});
}

TEST_F(CountQuery, TheCurrentDayIsReadFromTheLiveFile)
{
    writeDay("ResStatistics.db", day("2026-06-10", 2, 2));
    const QJsonObject out = query("2026-06-10 08:00:00", "2026-06-10 10:30:00");
    EXPECT_EQ(values(out["detect_all"]), (QList<int>{steps(-1, -1, 0), steps(-1, -1, 1), steps(-1, -1, 2)}));
}

TEST_F(CountQuery, BeforeTheDayStartHourTheRunningDayIsReadOnce)
{
    // 06:00 on the 11th: the live file still holds the production day of the 10th.
    Clock::setFixed(at("2026-06-11 06:00:00"));
    writeDay("ResStatistics.db", day("2026-06-10", 2, 2));
    const QJsonObject out = query("2026-06-10 08:00:00", "2026-06-11 05:59:59");
    const QList<int> all = values(out["detect_all"]);
    ASSERT_EQ(all.size(), 22);
    EXPECT_EQ(all.first(), steps(-1, -1, 0));
    EXPECT_EQ(all.last(), steps(-1, -1, 21));
}

TEST_F(CountQuery, OldFormatCurrentDayIsReadUnderTheRequestedGroupAndLeftAlone)
{
    sqlite("ResStatistics.db",
           "CREATE TABLE resstatistics (name TEXT PRIMARY KEY, value1 TEXT NOT NULL, value2 TEXT NOT NULL );"
           "INSERT INTO resstatistics VALUES ('C8_D8', '5 6 7', '1 1 1');");
    const QByteArray before = appDir.readFile("ResStatistics.db");
    const QJsonObject out = query("2026-06-10 08:00:00", "2026-06-10 10:00:00", "mould-A");
    EXPECT_EQ(values(out["detect_all"]), (QList<int>{6, 7, 8}));
    EXPECT_EQ(values(out["detect_ng"]), (QList<int>{1, 1, 1}));
    EXPECT_EQ(appDir.readFile("ResStatistics.db"), before);
    EXPECT_EQ(sqlite("ResStatistics.db", "select count(*) from resstatistics;"), QString("1"));
}

TEST_F(CountQuery, AnEmptyGroupNameMeansTheCurrentGroup)
{
    WizardPara para;
    para.groupName = QStringLiteral("mould-A");
    gpWPara = &para;
    archive("2026-06-01", day("2026-06-01", 2, 2, "mould-A"));
    const QJsonObject out = query("2026-06-01 08:00:00", "2026-06-01 08:59:59", QString());
    gpWPara = nullptr;
    EXPECT_EQ(values(out["detect_all"]), QList<int>{steps(-1, -1, 0)});
}

TEST_F(CountQuery, BadTimesAndOverlongRangesAreRefusedAtOnce)
{
    const char* const bad[][2] = {
        {"2026-06-10 10:00", "2026-06-10 11:00:00"},
        {"2026-02-30 10:00:00", "2026-03-01 11:00:00"},
        {"2026-06-10 10:00:00", "tomorrow"},
        {"", ""},
        {"2026-06-10T10:00:00", "2026-06-10 11:00:00"},
        {"2025-06-10 10:00:00", "2026-06-12 10:00:00"},
    };
    for (const auto& times : bad) {
        QJsonObject out{{"device_sn", "x"}};
        EXPECT_FALSE(ResStatisticsDatabase::loadCount(times[0], times[1], out, "default")) << times[0];
        EXPECT_EQ(out, (QJsonObject{{"device_sn", "x"}}));
    }
    QJsonObject year;
    EXPECT_TRUE(ResStatisticsDatabase::loadCount("2025-06-10 10:00:00", "2026-06-11 10:00:00", year, "default"));

    // A finish before the start answers empty series.
    const QJsonObject backwards = query("2026-06-05 12:00:00", "2026-06-05 10:00:00");
    EXPECT_EQ(seriesLengths(backwards), std::set<int>{0});
    EXPECT_FALSE(QFile::exists("ResStatistics/2026-06-05.db"));
}

TEST_F(CountQuery, RunsBesideTheDatabaseThreadWithoutSharingItsConnection)
{
    makeTemplate();
    archive("2026-06-01", day("2026-06-01", 2, 2));
    ResStatisticsParam model;
    model.init(QStringLiteral("default"), 2);
    QSignalSpy loaded(&model, &ResStatisticsParam::sigLoadFinish);
    const QString path = QDir("ResStatistics").absolutePath() + "//2026-06-01.db";

    // Queries in a pool thread while the database thread reads the same day.
    QFuture<int> queries = QtConcurrent::run([] {
        int good = 0;
        for (int i = 0; i < 20; ++i) {
            QJsonObject out;
            ResStatisticsDatabase::loadCount("2026-06-01 08:00:00", "2026-06-01 12:00:00", out, "default");
            good += values(out["detect_all"]) == QList<int>{steps(-1, -1, 0), steps(-1, -1, 1), steps(-1, -1, 2),
                                                              steps(-1, -1, 3), steps(-1, -1, 4)};
        }
        return good;
    });
    for (int i = 0; i < 20; ++i)
        model.slotUpdateRecord(1, path);
    EXPECT_EQ(queries.result(), 20);
    while (loaded.size() < 20)
        ASSERT_TRUE(loaded.wait(5000));
    for (const QList<QVariant>& answer : loaded)
        EXPECT_TRUE(answer.at(0).toBool());
}
