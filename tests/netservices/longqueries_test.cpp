// Record queries over a year of archived days: answered from a worker while the GUI
// thread (which runs the detection cycle) keeps its pace.
#include "apitestkit.h"
#include "clock.h"
#include "httpapiserver.h"
#include "looppace.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <cstdio>
#include <gtest/gtest.h>

namespace {

constexpr int kDays = 366;
constexpr int kRowsPerDay = 300;   // a year of them is more than one answer may hold

void archiveYear(const QDate& lastDay)
{
    QDir().mkpath("RECORD");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "year-writer");
        for (int d = 0; d < kDays; ++d) {
            db.setDatabaseName("RECORD/" + lastDay.addDays(-d).toString("yyyy-MM-dd") + ".db");
            ASSERT_TRUE(db.open());
            QSqlQuery(db).exec("PRAGMA synchronous = OFF");  // test data: no need to wait for the disk
            StandInWindow::createRecordTable(db);
            db.transaction();
            for (int r = 0; r < kRowsPerDay; ++r)
                StandInWindow::addRecord(db, QTime(0, 0).addSecs(r * 60).toString("hh.mm.ss"), "未登录",
                                         QStringLiteral("row %1").arg(r), "run");
            db.commit();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase("year-writer");
}

} // namespace

using LongQueries = ApiTest;

TEST_F(LongQueries, AYearOfRecordsIsQueriedOffTheGuiThreadAndAnOversizedAnswerIsRefused)
{
    Clock::setFixed(QDateTime(QDate(2026, 12, 7), QTime(12, 0)));
    archiveYear(QDate(2026, 12, 6));
    const auto query = [this](const char* start, const char* end, qint64* worstHold) {
        LoopPace pace;
        const HttpReply r = post("get_records", QJsonDocument(QJsonObject{{"datetime_start", start},
                                                                         {"datetime_end", end}})
                                                      .toJson(QJsonDocument::Compact));
        *worstHold = pace.longestHoldMs();
        std::printf("records from %s to %s: the GUI thread held %lld ms at most, its longest pause %lld ms\n", start, end,
                    *worstHold, pace.longestGapMs());
        return r.result();
    };

    // The GUI thread's hold leaves out the time a loaded machine kept it waiting for a processor;
    // reading the archive on it would hold it for the whole query.
    qint64 hold = 0;
    const QJsonObject half = query("2026-06-07 00:00:00", "2026-12-07 00:00:00", &hold);
    EXPECT_EQ(half.value("record").toArray().size(), 183 * kRowsPerDay);
    EXPECT_LT(hold, 150) << "the GUI thread was held by the query";

    const QJsonObject year = query("2025-12-01 00:00:00", "2026-12-07 00:00:00", &hold);
    EXPECT_EQ(year, (QJsonObject{{"errorstring", QString::fromUtf8(HttpApiServer::kTooManyRecordsText)}}));
    EXPECT_LT(hold, 150) << "the GUI thread was held by the query";
}
