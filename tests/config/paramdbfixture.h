#pragma once

#include "tempappdir.h"

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QRect>
#include <ostream>

// Readable failure messages.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
inline void PrintTo(const QRect& r, std::ostream* os)
{
    *os << "(" << r.left() << "," << r.top() << ")-(" << r.right() << "," << r.bottom() << ")";
}

// A temporary application folder with "PARAM.db" open as the connection
// "dbIn", holding an empty sysparam and cammer0..7 (name, value) tables.
class ParamDbTest : public AppDirTest
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Direct SQL on the same file, for setting up rows and checking stored text.
    void exec(const QString& sql);
    void setRow(const QString& table, const QString& name, const QString& value);
    QString value(const QString& table, const QString& name);
    bool hasRow(const QString& table, const QString& name);
    int rowCount(const QString& table);
};
