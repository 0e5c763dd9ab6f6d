#include "paramdbfixture.h"

#include "paramdatabase.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

void ParamDbTest::SetUp()
{
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", ParamDatabase::kConnectionName);
    db.setDatabaseName(appDir.filePath(ParamDatabase::kFileName));
    ASSERT_TRUE(db.open());
    ASSERT_TRUE(ParamDatabase::createTables(db));
}

void ParamDbTest::TearDown()
{
    {
        QSqlDatabase db = QSqlDatabase::database(ParamDatabase::kConnectionName, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(ParamDatabase::kConnectionName);
}

void ParamDbTest::exec(const QString& sql)
{
    QSqlQuery query(QSqlDatabase::database(ParamDatabase::kConnectionName));
    ASSERT_TRUE(query.exec(sql)) << sql.toStdString() << ": " << query.lastError().text().toStdString();
}

void ParamDbTest::setRow(const QString& table, const QString& name, const QString& value)
{
    QSqlQuery query(QSqlDatabase::database(ParamDatabase::kConnectionName));
    query.prepare(QString("delete from %1 where name=?").arg(table));
    query.addBindValue(name);
    ASSERT_TRUE(query.exec());
    query.prepare(QString("insert into %1 values(?, ?)").arg(table));
    query.addBindValue(name);
    query.addBindValue(value);
    ASSERT_TRUE(query.exec());
}

QString ParamDbTest::value(const QString& table, const QString& name)
{
    QSqlQuery query(QSqlDatabase::database(ParamDatabase::kConnectionName));
    query.prepare(QString("select value from %1 where name=?").arg(table));
    query.addBindValue(name);
    if (!query.exec() || !query.next())
        return QString("<missing>");
    return query.value(0).toString();
}

bool ParamDbTest::hasRow(const QString& table, const QString& name)
{
    return value(table, name) != "<missing>";
}

int ParamDbTest::rowCount(const QString& table)
{
    QSqlQuery query(QSqlDatabase::database(ParamDatabase::kConnectionName));
    if (!query.exec(QString("select count(*) from %1").arg(table)) || !query.next())
        return -1;
    return query.value(0).toInt();
}
