#include "statsfixture.h"

#include "resstatisticsparam.h"

#include <QJsonArray>
#include <gtest/gtest.h>

namespace {
// Machine cycles of the first group's total in a stored day, over all hours.
int storedCycles(const QJsonObject& day)
{
    const QJsonArray datas = day.value("groups").toArray().at(0).toObject().value("datas").toArray();
    const QJsonObject cycle = datas.last().toObject().value("data").toArray().last().toObject();
    int cycles = 0;
    for (const char* key : {"OK", "NG"}) {
        for (const QJsonValue& value : cycle.value(key).toArray())
            cycles += value.toInt();
    }
    return cycles;
}

void countCycles(ResStatisticsParam& model, int cycles)
{
    for (int i = 0; i < cycles; ++i) {
        model.addRecord(0, 0, {true, i % 2 == 0}, false);
        model.addRecord(1, 0, {true, true}, true);
    }
}
} // namespace

class StatsSave : public StatsTest
{
protected:
    void SetUp() override { makeTemplate(); }
};

// Counts reach the day file at every stop (day check running or paused), and within
// seconds of changing, long before the day check's minute and with nothing but init()
// called: a killed program loses only the cycles of those seconds.
TEST_F(StatsSave, AStopKeepsEveryCycleAndChangedCountsAreSavedWithinSeconds)
{
    for (bool dayCheck : {true, false}) {
        SCOPED_TRACE(dayCheck);
        const int before = storedCycles(storedDay("ResStatistics.db"));
        {
            ResStatisticsParam model;
            model.init(QStringLiteral("default"), 2);
            model.setTimer(dayCheck);
            countCycles(model, 5);
        }
        EXPECT_EQ(storedCycles(storedDay("ResStatistics.db")), before + 5) << "saved when the model stops";
    }

    ResStatisticsParam model;
    model.init(QStringLiteral("default"), 2);
    countCycles(model, 3);
    EXPECT_TRUE(waitUntil([&] { return storedCycles(storedDay("ResStatistics.db")) == 13; },
                          ResStatisticsParam::kQuickSaveMs + 3000));

    // Paused by an export: the export's own save holds the day, nothing writes under it.
    model.setTimer(false);
    countCycles(model, 1);
    EXPECT_FALSE(waitUntil([&] { return storedCycles(storedDay("ResStatistics.db")) == 14; },
                           ResStatisticsParam::kQuickSaveMs + 1000));
    model.setTimer(true);

    // Before an export: on disk once the call returns.
    countCycles(model, 1);
    model.saveNow();
    EXPECT_EQ(storedCycles(storedDay("ResStatistics.db")), 15);
}
