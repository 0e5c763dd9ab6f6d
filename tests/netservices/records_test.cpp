#include "apitestkit.h"
#include "clock.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlDatabase>
#include <gtest/gtest.h>

namespace {

// An archived day file "./RECORD/<date>.db" with the given rows {time, level, text, type}.
void archiveDay(const QString& date, const QList<QStringList>& rows)
{
    QDir().mkpath("RECORD");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "archive-writer");
        db.setDatabaseName("RECORD/" + date + ".db");
        ASSERT_TRUE(db.open());
        StandInWindow::createRecordTable(db);
        for (const QStringList& r : rows)
            StandInWindow::addRecord(db, r.at(0), r.at(1), r.at(2), r.at(3));
        db.close();
    }
    QSqlDatabase::removeDatabase("archive-writer");
}

QJsonArray row(const char* when, const char* level, const char* text, const char* type)
{
    return QJsonArray{when, level, text, type};
}

} // namespace

class RecordQuery : public ApiTest
{
protected:
    void SetUp() override
    {
        ApiTest::SetUp();
        Clock::setFixed(QDateTime(QDate(2026, 12, 7), QTime(12, 0)));
        archiveDay("2026-12-05", {{"22.59.59", "高级", "late", "set"}, {"23.30.00", "未登录", "night", "run"}});
        archiveDay("2026-12-06", {{"00.10.00", "初级", "early", "operate"}, {"01.00.00", "未登录", "one", "info"},
                                  {"01.00.01", "未登录", "after", "info"}});
        QSqlDatabase today = window->recordDatabase();
        StandInWindow::addRecord(today, "08.00.00", "未登录", "today", "run");
        StandInWindow::addRecord(today, "09.00.00", "高级", "set today", "set");
    }
    QJsonArray query(const QJsonObject& body)
    {
        const HttpReply r = post("get_records", QJsonDocument(body).toJson(QJsonDocument::Compact));
        EXPECT_EQ(r.result().keys(), QStringList{"record"});
        return r.result().value("record").toArray();
    }
};

TEST_F(RecordQuery, AcrossMidnightSearchesBothDays)
{
    const QJsonArray rows = query({{"datetime_start", "2026-12-05 23:00:00"}, {"datetime_end", "2026-12-06 01:00:00"}});
    EXPECT_EQ(rows, (QJsonArray{row("2026-12-05 23:30:00", "未登录", "night", "run"),
                                row("2026-12-06 00:10:00", "初级", "early", "operate"),
                                row("2026-12-06 01:00:00", "未登录", "one", "info")}));
}

TEST_F(RecordQuery, TodayFromTheMainWindowAndArchivedDaysTogether)
{
    const QJsonArray rows = query({{"datetime_start", "2026-12-01 00:00:00"}, {"datetime_end", "2026-12-31 00:00:00"}});
    ASSERT_EQ(rows.size(), 7);
    EXPECT_EQ(rows.at(0), row("2026-12-05 22:59:59", "高级", "late", "set"));
    EXPECT_EQ(rows.at(6), row("2026-12-07 09:00:00", "高级", "set today", "set"));
    // Only today in range.
    EXPECT_EQ(query({{"datetime_start", "2026-12-07 08:30:00"}, {"datetime_end", "2026-12-07 23:00:00"}}),
              (QJsonArray{row("2026-12-07 09:00:00", "高级", "set today", "set")}));
    // Before any archived day.
    EXPECT_EQ(query({{"datetime_start", "2026-11-01 00:00:00"}, {"datetime_end", "2026-11-30 00:00:00"}}),
              QJsonArray());
    // A start after the end: nothing.
    EXPECT_EQ(query({{"datetime_start", "2026-12-07 10:00:00"}, {"datetime_end", "2026-12-07 07:00:00"}}),
              QJsonArray());
}

TEST_F(RecordQuery, TypeAndOperatorFilters)
{
    const QJsonObject range{{"datetime_start", "2026-12-05 00:00:00"}, {"datetime_end", "2026-12-07 23:59:59"}};
    QJsonObject all = range;
    all.insert("recordtype", "all");
    all.insert("operator", "all");
    EXPECT_EQ(query(all), query(range));
    EXPECT_EQ(query(all).size(), 7);

    QJsonObject info = range;
    info.insert("recordtype", "info");
    EXPECT_EQ(query(info).size(), 2);

    QJsonObject nobody = range;
    nobody.insert("operator", "");
    const QJsonArray nobodyRows = query(nobody);
    EXPECT_EQ(nobodyRows.size(), 4);
    for (const QJsonValue& v : nobodyRows)
        EXPECT_EQ(v.toArray().at(1).toString(), QString("未登录"));

    QJsonObject both = nobody;
    both.insert("recordtype", "run");
    EXPECT_EQ(query(both), (QJsonArray{row("2026-12-05 23:30:00", "未登录", "night", "run"),
                                       row("2026-12-07 08:00:00", "未登录", "today", "run")}));
}

TEST_F(RecordQuery, HostileValuesSelectNothingAndChangeNothing)
{
    const QJsonObject range{{"datetime_start", "2026-12-05 00:00:00"}, {"datetime_end", "2026-12-07 23:59:59"}};
    for (const char* hostile : {"x' OR '1'='1", "run'; DROP TABLE RECORD; --", "' OR 1=1 --"}) {
        QJsonObject type = range;
        type.insert("recordtype", hostile);
        EXPECT_EQ(query(type), QJsonArray()) << hostile;
        QJsonObject level = range;
        level.insert("operator", hostile);
        EXPECT_EQ(query(level), QJsonArray()) << hostile;
    }
    EXPECT_EQ(query(range).size(), 7);
}

TEST_F(RecordQuery, BadTimesAreRefused)
{
    const QJsonObject error{{"errorstring", "错误的时间格式"}};
    for (const char* body : {R"({"datetime_start":"2026-12-05 00:00:00","datetime_end":"2026-12-06 01:00"})",
                             R"({"datetime_start":"2026-12-05 00:00:00"})",
                             R"({"datetime_start":1,"datetime_end":"2026-12-06 01:00:00"})"}) {
        EXPECT_EQ(post("get_records", body).result(), error) << body;
    }
}

TEST_F(RecordQuery, ARangeOfCenturiesIsAnsweredQuickly)
{
    QElapsedTimer timer;
    timer.start();
    const QJsonArray rows = query({{"datetime_start", "0100-01-01 00:00:00"}, {"datetime_end", "9999-12-31 23:59:59"}});
    EXPECT_EQ(rows.size(), 7);
    EXPECT_LT(timer.elapsed(), 3000);
}
