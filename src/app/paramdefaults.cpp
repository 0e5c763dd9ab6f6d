#include "paramdefaults.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

namespace {

struct DefaultRow
{
    const char* key;
    int items;  // blank-separated integers; -1: a text value
};

// Rows the loader reads but does not create itself.
const DefaultRow kRows[] = {
    {"trigInDelay", 8}, {"exposeTime", 4}, {"sharp", 4}, {"contrast", 4}, {"adjustPlus", 4},
    {"numFailDetect", 8}, {"numAllDetect", 8}, {"isPswUsed", 1}, {"password", -1},
    {"system1", 9}, {"system2", 18}, {"system3", 11}, {"system4", 3}, {"system5", 13}, {"system6", 12},
};

bool exec(QSqlQuery& query, const QString& sql)
{
    if (query.exec(sql))
        return true;
    qWarning("PARAM.db: %s: %s", qPrintable(sql), qPrintable(query.lastError().text()));
    return false;
}

} // namespace

namespace ParamDefaults {

bool ensure(QSqlDatabase& db)
{
    QSqlQuery query(db);
    if (!exec(query, "CREATE TABLE IF NOT EXISTS sysparam (name TEXT, value TEXT)"))
        return false;
    for (int camera = 0; camera < kCameraTables; ++camera)
        if (!exec(query, QStringLiteral("CREATE TABLE IF NOT EXISTS cammer%1 (name TEXT, value TEXT)").arg(camera)))
            return false;
    for (const DefaultRow& row : kRows) {
        query.prepare("SELECT value FROM sysparam WHERE name = ?");
        query.addBindValue(row.key);
        if (!query.exec())
            return false;
        if (query.next())
            continue;
        QStringList zeros;
        for (int i = 0; i < row.items; ++i)
            zeros << QStringLiteral("0");
        query.prepare("INSERT INTO sysparam (name, value) VALUES (?, ?)");
        query.addBindValue(row.key);
        query.addBindValue(zeros.join(' '));
        if (!query.exec())
            return false;
    }
    return true;
}

} // namespace ParamDefaults
