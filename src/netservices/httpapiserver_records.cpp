// Operation records of a time range: today's from the main window's "RECORD.db",
// finished days from "./RECORD/<yyyy-MM-dd>.db".
#include "httpapiserver.h"

#include "clock.h"
#include "dayfileconnection.h"
#include "globals.h"
#include "mainwindowbase.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QJsonArray>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace {

const char kRecordTimeFormat[] = "hh.mm.ss";
const char kDayFileFormat[] = "yyyy-MM-dd";
const char kArchiveDir[] = "./RECORD/";
const char kNobodyLevel[] = "未登录";

// The search window of each day of the range: the start's day from its time, the end's
// day up to its time, whole days between. A start after the end searches the start's
// day only, from the start's time to the end's time.
using DayPlan = QMap<QDate, QPair<QTime, QTime>>;

// Only the days that have records (today and the archived days) are planned, so a
// range of many years costs no more than the files there are.
DayPlan dayPlan(const QDateTime& start, const QDateTime& end, QList<QDate> days)
{
    DayPlan plan;
    if (start.date() >= end.date()) {
        plan.insert(start.date(), qMakePair(start.time(), end.time()));
        return plan;
    }
    for (const QDate& day : days) {
        if (day < start.date() || day > end.date())
            continue;
        plan.insert(day, qMakePair(day == start.date() ? start.time() : QTime(0, 0, 0),
                                   day == end.date() ? end.time() : QTime(23, 59, 59)));
    }
    return plan;
}

// The day's rows that match; values are bound, never pasted into the statement.
// False once the answer passed its row limit (the rest is not read).
bool appendRows(QSqlDatabase db, const QDate& day, const QPair<QTime, QTime>& window, const QJsonObject& filter,
                QJsonArray& out)
{
    QString sql = QStringLiteral("SELECT * FROM RECORD WHERE recordtime BETWEEN ? AND ?");
    QStringList values{window.first.toString(kRecordTimeFormat), window.second.toString(kRecordTimeFormat)};
    const QJsonValue type = filter.value("recordtype");
    if (!type.isUndefined() && type.toString() != QLatin1String("all")) {
        sql += QStringLiteral(" AND recordtype = ?");
        values << type.toString();
    }
    const QJsonValue level = filter.value("operator");
    if (!level.isUndefined() && level.toString() != QLatin1String("all")) {
        sql += QStringLiteral(" AND recordpassword = ?");
        values << (level.toString().isEmpty() ? QString::fromUtf8(kNobodyLevel) : level.toString());
    }
    sql += ';';

    QSqlQuery query(db);
    query.prepare(sql);
    for (const QString& value : values)
        query.addBindValue(value);
    if (!query.exec()) {
        qWarning().noquote() << "查询失败：" << query.lastError().text();
        return true;
    }
    while (query.next()) {
        if (out.size() >= HttpApiServer::kMaxRecordRows)
            return false;
        const QTime time = QTime::fromString(query.value("recordtime").toString(), kRecordTimeFormat);
        out.append(QJsonArray{QDateTime(day, time).toString(HttpApiServer::kApiTimeFormat),
                              query.value("recordpassword").toString(),
                              query.value("remarks").toString(),
                              query.value("recordtype").toString()});
    }
    return true;
}

// A day's file read on its own connection of the calling thread.
bool appendDayFile(const QString& path, const QDate& day, const QPair<QTime, QTime>& window,
                   const QJsonObject& filter, QJsonArray& out)
{
    DayFileConnection connection(day.toString(kDayFileFormat) + QStringLiteral(".db"));
    if (!connection.open(path, false)) {
        qWarning().noquote() << "Cannot open database:" << connection.db().lastError().text();
        return true;
    }
    return appendRows(connection.db(), day, window, filter, out);
}

// The days of the archived record files ("yyyy-MM-dd.db", hidden ones included).
QList<QDate> archivedDays()
{
    QList<QDate> days;
    const QStringList files = QDir(QDir::currentPath() + QStringLiteral("/RECORD"))
                                  .entryList({QStringLiteral("*.db")}, QDir::Files | QDir::Hidden);
    for (const QString& file : files) {
        const QDate day = QDate::fromString(file.chopped(3), kDayFileFormat);
        if (day.isValid() && day.toString(kDayFileFormat) + QStringLiteral(".db") == file)
            days << day;
    }
    return days;
}

} // namespace

void HttpApiServer::httpapi__get_records(const CTask_FormData& request)
{
    const QDateTime start = QDateTime::fromString(request.json.value("datetime_start").toString(), kApiTimeFormat);
    const QDateTime end = QDateTime::fromString(request.json.value("datetime_end").toString(), kApiTimeFormat);
    if (!start.isValid() || !end.isValid()) {
        replyJson(request, errorString(kBadTimeText));
        return;
    }
    const QDate today = Clock::now().date();
    // Today's file is the main window's; the worker reads it on a connection of its own.
    const QString todayPath = snapshot()->todayRecordPath;
    const QJsonObject filter = request.json;
    runQuery(request, [start, end, today, todayPath, filter] {
        const QList<QDate> archived = archivedDays();
        QJsonArray records;
        const DayPlan plan = dayPlan(start, end, archived + QList<QDate>{today});
        for (auto day = plan.cbegin(); day != plan.cend(); ++day) {
            bool whole = true;
            if (day.key() == today) {
                if (!todayPath.isEmpty())
                    whole = appendDayFile(todayPath, day.key(), day.value(), filter, records);
            } else if (archived.contains(day.key())) {
                whole = appendDayFile(QString::fromLatin1(kArchiveDir) + day.key().toString(kDayFileFormat)
                                          + QStringLiteral(".db"),
                                      day.key(), day.value(), filter, records);
            }
            if (!whole)
                return errorString(kTooManyRecordsText);
        }
        return QJsonObject{{"record", records}};
    });
}
