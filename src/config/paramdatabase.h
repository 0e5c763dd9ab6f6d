#pragma once

// The parameter database "PARAM.db" as the parameter stores reach it: the
// SQLite connection "dbIn", opened by the main window (tests open it themselves).

class QSqlDatabase;
class QString;

namespace ParamDatabase {

constexpr const char* kConnectionName = "dbIn";
constexpr const char* kFileName = "PARAM.db";

QSqlDatabase database();
// Outcome of a single-value look-up: a failed query is not a missing row.
enum class Lookup { Found, Missing, Failed };
Lookup selectValue(const QString& sql, const QString& name, QString* value);

} // namespace ParamDatabase
