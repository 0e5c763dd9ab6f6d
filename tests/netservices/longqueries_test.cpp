// Record queries over a year of archived days: answered from a worker while the GUI
// thread (which runs the detection cycle) keeps its pace.
#include "apitestkit.h"
#include "clock.h"
#include "httpapiserver.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlDatabase>
#include <QTimer>
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

// The longest time this thread's event loop went without running a 5 ms timer.
class PaceWatch
{
public:
    PaceWatch()
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            m_worst = std::max(m_worst, m_clock.restart());
        });
        m_clock.start();
        m_timer.start();
    }
    qint64 worstGapMs() const { return m_worst; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_worst = 0;
};

} // namespace

using LongQueries = ApiTest;

TEST_F(LongQueries, AYearOfRecordsIsQueriedOffTheGuiThreadAndAnOversizedAnswerIsRefused)
{
    Clock::setFixed(QDateTime(QDate(2026, 12, 7), QTime(12, 0)));
    archiveYear(QDate(2026, 12, 6));
    const auto query = [this](const char* start, const char* end, qint64* worstGap) {
        PaceWatch pace;
        const HttpReply r = post("get_records", QJsonDocument(QJsonObject{{"datetime_start", start},
                                                                         {"datetime_end", end}})
                                                      .toJson(QJsonDocument::Compact));
        *worstGap = pace.worstGapMs();
        return r.result();
    };

    qint64 gap = 0;
    const QJsonObject half = query("2026-06-07 00:00:00", "2026-12-07 00:00:00", &gap);
    EXPECT_EQ(half.value("record").toArray().size(), 183 * kRowsPerDay);
    EXPECT_LT(gap, 150);

    const QJsonObject year = query("2025-12-01 00:00:00", "2026-12-07 00:00:00", &gap);
    EXPECT_EQ(year, (QJsonObject{{"errorstring", QString::fromUtf8(HttpApiServer::kTooManyRecordsText)}}));
    EXPECT_LT(gap, 150);
}
