#include "screentest.h"

#include "clock.h"
#include "globals.h"
#include "languagetable.h"
#include "resstatisticsparam.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QProcess>
#include <gtest/gtest.h>

ScreenTest::ScreenTest()
{
    numCamera = 4;
    gDNum = 2;
    gLan = 1;
    LanguageTable::load();
    Clock::setFixed(QDateTime::fromString(QStringLiteral("2026-03-05 10:30:00"), QStringLiteral("yyyy-MM-dd hh:mm:ss")));
    model = ResStatisticsParam::getInstance();
    model->init(QStringLiteral("default"), gDNum);
}

ScreenTest::~ScreenTest()
{
    delete model;
    Clock::reset();
    numCamera = 0;
    gDNum = 2;
}

void ScreenTest::countCycles(int ok, int ng)
{
    const int hour = Clock::now().time().hour();
    for (int i = 0; i < ok + ng; ++i) {
        QList<bool> cameras;
        for (int c = 0; c < numCamera; ++c)
            cameras << (i < ok);
        model->addRecord(0, hour, cameras, false);
        model->addRecord(1, hour, cameras, true);
    }
    model->slotUpdateRecord(0, QString());
}

void ScreenTest::writeDay(const QString& file, const QString& date, int ok, int ng) const
{
    CountGroupList day;
    day.date = date;
    CountGroup group;
    ResStatisticsParam::initStuCountGroup(group, QStringLiteral("default"));
    group.total.cycle.OK[2] = ok;
    group.total.cycle.NG[2] = ng;
    day.groups.append(group);
    QString text = QString::fromUtf8(QJsonDocument(ResStatisticsParam::StuCountToJson(day)).toJson(QJsonDocument::Compact));
    text.replace('\'', QStringLiteral("''"));
    QDir().mkpath(QFileInfo(file).path());
    QProcess sqlite;
    sqlite.start(QStringLiteral("sqlite3"),
                 {file, QStringLiteral("CREATE TABLE IF NOT EXISTS resstatistics (name TEXT PRIMARY KEY, value1 TEXT NOT "
                                       "NULL, value2 TEXT NOT NULL ); INSERT OR REPLACE INTO resstatistics VALUES "
                                       "('statisticsjson', '%1', '');")
                            .arg(text)});
    ASSERT_TRUE(sqlite.waitForFinished(10000));
    ASSERT_EQ(sqlite.exitCode(), 0) << sqlite.readAllStandardError().toStdString();
}
