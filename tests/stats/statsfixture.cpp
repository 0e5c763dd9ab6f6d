#include "statsfixture.h"

#include "clock.h"
#include "globals.h"
#include "resstatisticsdatabase.h"
#include "resstatisticsparam.h"
#include "statsfilewarning.h"

#include <QJsonArray>
#include <QJsonDocument>
#include "groupprocess.h"

namespace {
const char kCreateTable[] =
    "CREATE TABLE IF NOT EXISTS resstatistics (name TEXT PRIMARY KEY, value1 TEXT NOT NULL, value2 TEXT NOT NULL );";
}

StatsTest::StatsTest()
{
    numCamera = 2;
    gDNum = 2;
    Clock::setFixed(at("2026-06-10 10:30:00"));
    StatsFileWarning::setHandler([this](const QString& text) { warnings << text; });
}

StatsTest::~StatsTest()
{
    StatsFileWarning::setHandler({});
    Clock::reset();
    numCamera = 0;
    gDNum = 2;
}

QDateTime StatsTest::at(const QString& text)
{
    return QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

QJsonObject StatsTest::dayWithCycleNG(const QString& date, int hour, int value)
{
    CountGroup group;
    ResStatisticsParam::initStuCountGroup(group, QStringLiteral("default"));
    group.total.cycle.NG[hour] = value;
    CountGroupList day;
    day.date = date;
    day.groups = {group};
    return ResStatisticsParam::StuCountToJson(day);
}

QList<int> StatsTest::cycleNG(const QJsonObject& day)
{
    const QJsonArray datas = day.value("groups").toArray().at(0).toObject().value("datas").toArray();
    const QJsonArray data = datas.last().toObject().value("data").toArray();
    QList<int> hours;
    for (const QJsonValue& value : data.last().toObject().value("NG").toArray())
        hours.append(value.toInt());
    return hours;
}

void StatsTest::makeTemplate(bool withTable)
{
    if (withTable)
        sqlite(QStringLiteral("ResStatisticsNULL.db"), QString::fromLatin1(kCreateTable));
    else
        ASSERT_TRUE(appDir.writeFile(QStringLiteral("ResStatisticsNULL.db"), QByteArray()));
}

QString StatsTest::sqlite(const QString& file, const QString& sql) const
{
    GroupProcess process;
    process.start(QStringLiteral("sqlite3"), {file, sql});
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

QJsonObject StatsTest::storedDay(const QString& file) const
{
    const QString text = sqlite(file, QStringLiteral("select value1 from resstatistics where name='statisticsjson';"));
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

void StatsTest::writeDay(const QString& file, const QJsonObject& day) const
{
    QString text = QString::fromUtf8(QJsonDocument(day).toJson(QJsonDocument::Compact));
    text.replace(QLatin1Char('\''), QLatin1String("''"));
    sqlite(file, QString::fromLatin1(kCreateTable)
                     + QStringLiteral("INSERT OR REPLACE INTO resstatistics VALUES ('statisticsjson', '%1', '');").arg(text));
}

void StatsTest::writeConfig(const QJsonObject& config) const
{
    ASSERT_TRUE(appDir.writeFile(QStringLiteral("resstatistics.json"), QJsonDocument(config).toJson()));
}

void StatsTest::flush(ResStatisticsParam& param)
{
    QMetaObject::invokeMethod(param.database, [] {}, Qt::BlockingQueuedConnection);
}
