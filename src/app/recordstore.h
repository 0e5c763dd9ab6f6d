#pragma once

#include <QDate>
#include <QString>

class QSqlDatabase;

// Today's operation records: table RECORD of "RECORD.db" on the connection
// "dbRecord". A finished day is moved to "./RECORD/yyyy-MM-dd.db" before the
// first record of a new day (or at start) is written, so the file always holds
// one day only.
class RecordStore
{
public:
    static constexpr const char* kConnectionName = "dbRecord";
    static constexpr const char* kFileName = "RECORD.db";
    static constexpr const char* kArchiveDir = "RECORD";
    static constexpr const char* kTimeFormat = "hh.mm.ss";
    static constexpr const char* kDayFormat = "yyyy-MM-dd";

    RecordStore() = default;
    ~RecordStore();
    RecordStore(const RecordStore&) = delete;
    RecordStore& operator=(const RecordStore&) = delete;

    // Archives a file of an earlier day, then opens (creating) today's file.
    bool open();
    void close();
    bool isOpen() const;
    // Appends one record, reopening a closed database and archiving a finished day first.
    bool insert(const QString& level, const QString& text, const QString& type);

    QSqlDatabase database() const;
    // The open database of today's records, the finished day archived first.
    QSqlDatabase today();
    QDate day() const { return m_day; }
    static QString archivePath(const QDate& day);

private:
    bool openFile();
    bool archiveFile(const QDate& day);
    void archiveIfDayChanged();

    QDate m_day;
};
