#pragma once

// The parameter database "PARAM.db" as the parameter stores reach it: the
// SQLite connection "dbIn", opened by the main window (tests open it themselves).

#include <functional>

class QSqlDatabase;
class QSqlQuery;
class QString;
class QVariant;
template <typename T> class QList;

namespace ParamDatabase {

constexpr const char* kConnectionName = "dbIn";
constexpr const char* kFileName = "PARAM.db";
constexpr int kCameraTables = 8;

// Creates the tables the stores read and write, when missing: sysparam and one
// "cammer%1" table per camera, each with the text columns (name, value).
bool createTables(QSqlDatabase& db);

QSqlDatabase database();
// Outcome of a single-value look-up: a failed query is not a missing row.
enum class Lookup { Found, Missing, Failed };
Lookup selectValue(const QString& sql, const QString& name, QString* value);
// Prepares sql, binds the values in order and runs it; failures are logged.
bool execBound(QSqlQuery& query, const QString& sql, const QList<QVariant>& values);
// Updates the (name, value) row of the table, or inserts it when no row changed.
bool writeRow(QSqlQuery& query, const QString& table, const QString& name, const QString& value);
// Runs body in one transaction on the parameter database: committed when body
// returns true, rolled back otherwise; false when anything failed.
bool inTransaction(const std::function<bool(QSqlQuery& query)>& body);

} // namespace ParamDatabase
