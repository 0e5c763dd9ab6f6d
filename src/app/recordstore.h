#pragma once

#include <QDate>
#include <QString>

class QSqlDatabase;

// Today's operation records: table RECORD of "RECORD.db" on the connection
// "dbRecord". A finished day is moved to "./RECORD/yyyy-MM-dd.db" before the
// first record of a new day (or at start) is written, so the file always holds
// one day only. A day that cannot join its archive waits apart and joins it later.
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

    // Where a day's rows wait when they could not join its archive: "./RECORD/yyyy-MM-dd.db.unmerged".
    static QString unmergedPath(const QDate& day);

private:
    bool openFile();
    // Moves file to target, or its rows into target when that exists (the clock went back).
    static bool archiveFile(const QString& file, const QString& target);
    bool archiveDay(const QDate& day);
    // False when the finished day's file could be neither archived nor kept apart: it is then
    // not opened, since today's rows would be archived with it under its day.
    bool archiveIfDayChanged();
    // Puts the days kept apart into their archives, where that works now.
    static void mergeKeptApart();

    QDate m_day;
    bool m_archiveFailing = false;
};
