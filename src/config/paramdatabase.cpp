#include "paramdatabase.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariant>

namespace ParamDatabase {

QSqlDatabase database()
{
    return QSqlDatabase::database(kConnectionName, false);
}

bool createTables(QSqlDatabase& db)
{
    QSqlQuery query(db);
    QStringList tables{QStringLiteral("sysparam")};
    for (int camera = 0; camera < kCameraTables; ++camera)
        tables << QStringLiteral("cammer%1").arg(camera);
    for (const QString& table : tables) {
        if (!query.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (name TEXT, value TEXT)").arg(table))) {
            qWarning("%s: cannot create %s: %s", kFileName, qPrintable(table), qPrintable(query.lastError().text()));
            return false;
        }
    }
    return true;
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

bool execBound(QSqlQuery& query, const QString& sql, const QList<QVariant>& values)
{
    // A save writes hundreds of rows with a few statements: the statement is prepared
    // again only when it changes (or when running the prepared one fails).
    const auto run = [&] {
        for (int i = 0; i < values.size(); ++i)
            query.bindValue(i, values.at(i));
        return query.exec();
    };
    if (query.lastQuery() == sql && run())
        return true;
    if (query.prepare(sql) && run())
        return true;
    qWarning("%s failed: %s", qPrintable(sql), qPrintable(query.lastError().text()));
    return false;
}

bool writeRow(QSqlQuery& query, const QString& table, const QString& name, const QString& value)
{
    if (!execBound(query, QString("update %1 set value=? where name=?").arg(table), {value, name}))
        return false;
    if (query.numRowsAffected() > 0)
        return true;
    return execBound(query, QString("insert into %1 values(?, ?)").arg(table), {name, value});
}

bool inTransaction(const std::function<bool(QSqlQuery& query)>& body)
{
    QSqlDatabase db = database();
    if (!db.isOpen() || !db.transaction()) {
        qInfo("Failed to start transaction: %s", qPrintable(db.lastError().text()));
        return false;
    }
    QSqlQuery query(db);
    bool ok = body(query);
    query.finish();
    if (ok && !db.commit()) {
        qInfo("Failed to commit transaction: %s", qPrintable(db.lastError().text()));
        ok = false;
    }
    if (!ok)
        db.rollback();
    return ok;
}

} // namespace ParamDatabase
