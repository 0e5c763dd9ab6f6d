#include "statsfixture.h"

#include "globals.h"
#include "resstatisticsparam.h"

#include <QJsonArray>
#include <gtest/gtest.h>

namespace {

// Globals the writers read, restored afterwards.
class DayCounterJson : public ::testing::Test
{
protected:
    void SetUp() override { numCamera = 2; gDNum = 3; }
    void TearDown() override { numCamera = 0; gDNum = 2; }

    static CountGroupList sampleDay()
    {
        CountGroup group;
        ResStatisticsParam::initStuCountGroup(group, QStringLiteral("mould-A"));
        group.morningStart = 6;
        group.nightStart = 18;
        group.cameras[1].detects[2].NG[23] = 5;
        group.cameras[0].cycle.OK[0] = 7;
        group.total.detects[0].OK[11] = 3;
        group.total.cycle.NG[12] = 1;
        CountGroupList day;
        day.date = QStringLiteral("2026-06-10");
        day.groups = {group};
        return day;
    }
};

QJsonObject detectObject(int id, QJsonArray ok, QJsonArray ng = {})
{
    return {{"detectID", id}, {"OK", ok}, {"NG", ng}};
}

} // namespace

TEST_F(DayCounterJson, WritesPositionsAsIdsWithTotalAndCycleLast)
{
    const QJsonObject doc = ResStatisticsParam::StuCountToJson(sampleDay());
    EXPECT_EQ(doc.value("date").toString(), QString("2026-06-10"));
    const QJsonObject group = doc.value("groups").toArray().at(0).toObject();
    EXPECT_EQ(group.value("groupName").toString(), QString("mould-A"));
    EXPECT_EQ(group.value("cameraCount").toInt(), 2);
    EXPECT_EQ(group.value("detectCount").toInt(), 3);
    EXPECT_EQ(group.value("morningStart").toInt(), 6);
    EXPECT_EQ(group.value("nightStart").toInt(), 18);
    const QJsonArray datas = group.value("datas").toArray();
    ASSERT_EQ(datas.size(), 3);
    const int cameraIds[] = {0, 1, -1};
    for (int c = 0; c < 3; ++c) {
        const QJsonObject camera = datas.at(c).toObject();
        EXPECT_EQ(camera.value("cameraID").toInt(), cameraIds[c]);
        const QJsonArray data = camera.value("data").toArray();
        ASSERT_EQ(data.size(), 4);
        const int detectIds[] = {0, 1, 2, -1};
        for (int d = 0; d < 4; ++d) {
            EXPECT_EQ(data.at(d).toObject().value("detectID").toInt(), detectIds[d]);
            EXPECT_EQ(data.at(d).toObject().value("OK").toArray().size(), 24);
        }
    }
    EXPECT_EQ(datas.at(1).toObject().value("data").toArray().at(2).toObject().value("NG").toArray().at(23).toInt(), 5);

    int written = -1;
    CountCamera camera;
    ResStatisticsParam::initStuCountCamera(camera);
    ResStatisticsParam::StuCountCameraToJson(camera, 4, written);
    EXPECT_EQ(written, 3);
}

TEST_F(DayCounterJson, DetectCountIsTheCurrentSettingWhateverTheLists)
{
    CountGroupList day = sampleDay();
    gDNum = 1;  // lowered during the day: the lists keep their 3 entries
    const QJsonObject group = ResStatisticsParam::StuCountToJson(day).value("groups").toArray().at(0).toObject();
    EXPECT_EQ(group.value("detectCount").toInt(), 1);
    EXPECT_EQ(group.value("datas").toArray().at(0).toObject().value("data").toArray().size(), 4);
}

TEST_F(DayCounterJson, RoundTripKeepsListsAndNames)
{
    const CountGroupList day = sampleDay();
    CountGroupList read;
    ResStatisticsParam::StuCountFromJson(read, ResStatisticsParam::StuCountToJson(day));
    EXPECT_EQ(read.date, day.date);
    ASSERT_EQ(read.groups.size(), 1);
    const CountGroup& group = read.groups.first();
    const CountGroup& original = day.groups.first();
    EXPECT_EQ(group.groupName, original.groupName);
    EXPECT_EQ(group.morningStart, 6);
    EXPECT_EQ(group.nightStart, 18);
    ASSERT_EQ(group.cameras.size(), 2);
    for (int c = 0; c < 2; ++c) {
        EXPECT_EQ(group.cameras[c].cameraID, c);
        EXPECT_EQ(group.cameras[c].cycle.detectID, -1);
        EXPECT_EQ(group.cameras[c].cycle.OK, original.cameras[c].cycle.OK);
        ASSERT_EQ(group.cameras[c].detects.size(), 3);
        for (int d = 0; d < 3; ++d) {
            EXPECT_EQ(group.cameras[c].detects[d].detectID, d);
            EXPECT_EQ(group.cameras[c].detects[d].OK, original.cameras[c].detects[d].OK);
            EXPECT_EQ(group.cameras[c].detects[d].NG, original.cameras[c].detects[d].NG);
        }
    }
    EXPECT_EQ(group.total.cameraID, -1);
    EXPECT_EQ(group.total.detects[0].OK, original.total.detects[0].OK);
    EXPECT_EQ(group.total.cycle.NG, original.total.cycle.NG);
}

TEST_F(DayCounterJson, ReaderPlacesEntriesByOrderAndKeepsLengths)
{
    const QJsonObject totalFirst{{"cameraID", -1}, {"data", QJsonArray{detectObject(-1, {1})}}};
    const QJsonObject camera5{{"cameraID", 5}, {"data", QJsonArray{detectObject(0, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10})}}};
    const QJsonObject camera3{{"cameraID", 3}, {"data", QJsonArray{detectObject(7, {}), detectObject(-1, {4}, {"x"})}}};
    const QJsonObject totalLast{{"cameraID", -1}, {"data", QJsonArray{detectObject(-1, {9, 9})}}};
    const QJsonObject group{{"groupName", "g"}, {"datas", QJsonArray{totalFirst, camera5, camera3, totalLast}}};
    CountGroupList day;
    ResStatisticsParam::StuCountFromJson(day, {{"groups", QJsonArray{group}}});
    EXPECT_TRUE(day.date.isEmpty());
    ASSERT_EQ(day.groups.size(), 1);
    const CountGroup& read = day.groups.first();
    EXPECT_EQ(read.morningStart, 8);  // missing: defaults
    EXPECT_EQ(read.nightStart, 20);
    ASSERT_EQ(read.cameras.size(), 2);
    EXPECT_EQ(read.cameras[0].cameraID, 5);
    EXPECT_EQ(read.cameras[1].cameraID, 3);
    EXPECT_EQ(read.cameras[0].detects[0].OK.size(), 10);
    EXPECT_EQ(read.cameras[1].detects[0].detectID, 7);
    EXPECT_EQ(read.cameras[1].cycle.NG, QList<int>{0});  // a non-number reads 0
    EXPECT_EQ(read.total.cycle.OK, (QList<int>{9, 9}));  // the later total wins

    CountGroupList empty;
    empty.date = QStringLiteral("x");
    empty.groups = {CountGroup()};
    ResStatisticsParam::StuCountFromJson(empty, QJsonObject());
    EXPECT_TRUE(empty.date.isEmpty());
    EXPECT_TRUE(empty.groups.isEmpty());
}
