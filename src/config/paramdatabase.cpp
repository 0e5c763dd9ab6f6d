#include "paramdatabase.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

namespace ParamDatabase {

QSqlDatabase database()
{
    return QSqlDatabase::database(kConnectionName, false);
}

Lookup selectValue(const QString& sql, const QString& name, QString* value)
{
    QSqlDatabase db = database();
    if (!db.isOpen()) {
        qWarning("parameter database is not open");
        return Lookup::Failed;
    }
    QSqlQuery query(db);
    query.prepare(sql);
    query.addBindValue(name);
    if (!query.exec()) {
        qWarning("%s failed for %s: %s", qPrintable(sql), qPrintable(name), qPrintable(query.lastError().text()));
        return Lookup::Failed;
    }
    if (!query.next())
        return Lookup::Missing;
    if (value)
        *value = query.value(0).toString();
    return Lookup::Found;
}

} // namespace ParamDatabase
