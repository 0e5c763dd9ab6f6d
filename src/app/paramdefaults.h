#pragma once

class QSqlDatabase;

// The tables the parameter stores expect in "PARAM.db": sysparam with every
// key (the loader bounds the zero values into their defaults) and one
// "cammer%1" table per camera. Missing tables and rows are added; existing
// rows are left as they are. False when the database cannot be written.
namespace ParamDefaults {

bool ensure(QSqlDatabase& db);

} // namespace ParamDefaults
