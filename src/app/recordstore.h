#pragma once

#include <QDate>
#include <QString>

#include <deque>

class QSqlDatabase;

// Today's operation records: table RECORD of "RECORD.db" on the connection
// "dbRecord". A finished day is moved to "./RECORD/yyyy-MM-dd.db" before the
// first record of a new day (or at start) is written, so the file always holds
// one day only. A day that cannot join its archive waits apart and joins it later. Records
// that cannot be written (a full disk) are held in order, at most kMaxHeldRecords, and written
// when there is room, into the file of their day.
class RecordStore
{
public:
    static constexpr const char* kConnectionName = "dbRecord";
    static constexpr const char* kFileName = "RECORD.db";
    static constexpr const char* kArchiveDir = "RECORD";
    static constexpr const char* kTimeFormat = "hh.mm.ss";
    static constexpr const char* kDayFormat = "yyyy-MM-dd";
    static constexpr int kMaxHeldRecords = 10000;
    // While more than kHeldTriedAlways records are held, a new one tries the disk again at most
    // this often (a try writes them all in one transaction).
    static constexpr int kHeldTriedAlways = 64;
    static constexpr qint64 kHeldRetryMs = 5000;

    RecordStore() = default;
    ~RecordStore();
    RecordStore(const RecordStore&) = delete;
    RecordStore& operator=(const RecordStore&) = delete;

    // Archives a file of an earlier day, then opens (creating) today's file.
    bool open();
    void close();
    bool isOpen() const;
    // Appends one record, reopening a closed database and archiving a finished day first. False
    // when it is held for a later write (held records go first).
    bool insert(const QString& level, const QString& text, const QString& type);
    // Writes the held records, oldest first, now; true when none is left.
    bool writeHeld();
    int heldCount() const { return int(m_held.size()); }
    // Held records dropped (the oldest) to keep within kMaxHeldRecords since the start.
    int droppedCount() const { return m_dropped; }

    QSqlDatabase database() const;
    // The open database of today's records, the finished day archived first.
    QSqlDatabase today();
    QDate day() const { return m_day; }
    static QString archivePath(const QDate& day);

    // Where a day's rows wait when they could not join its archive: "./RECORD/yyyy-MM-dd.db.unmerged".
    static QString unmergedPath(const QDate& day);

private:
    struct Row
    {
        QDate day;
        QString time;
        QString level;
        QString text;
        QString type;
    };
    bool openFile();
    // Writes the first count held rows (of one day) to db in one transaction; the reason when it fails.
    bool writeRows(QSqlDatabase& db, size_t count, QString* error) const;
    // Into the day's archive, or beside it where that is damaged.
    bool writeEarlierDay(const QDate& day, size_t count, QString* error) const;
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
    std::deque<Row> m_held;
    int m_dropped = 0;
    qint64 m_failedAtMs = 0;
};
