#include "paramdefaults.h"

#include "paramdatabase.h"

#include <QSqlDatabase>
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

} // namespace

namespace ParamDefaults {

bool ensure(QSqlDatabase& db)
{
    if (!ParamDatabase::createTables(db))
        return false;
    QSqlQuery query(db);
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
