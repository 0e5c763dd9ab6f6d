#pragma once

#include <QSqlDatabase>
#include <QString>

// One named SQLite connection on a day file for the span of a call. The name
// carries the calling thread, so the database thread and the count query
// (which run at the same time) never share or remove each other's connection.
// Queries on it must be gone before it is destroyed.
class DayFileConnection
{
public:
    explicit DayFileConnection(const QString& baseName);
    ~DayFileConnection();
    DayFileConnection(const DayFileConnection&) = delete;
    DayFileConnection& operator=(const DayFileConnection&) = delete;

    // Opens path; a read-only connection never creates or changes the file.
    bool open(const QString& path, bool readOnly);
    void close();
    QSqlDatabase& db() { return m_db; }

private:
    QString m_name;
    QSqlDatabase m_db;
};
