#pragma once

#include <QDate>
#include <QString>

#include <deque>

class QSqlDatabase;

// Today's operation records: table RECORD of "RECORD.db" on the connection
// "dbRecord". A finished day is moved to "./RECORD/yyyy-MM-dd.db" before the
// first record of a new day (or at start) is written, so the file always holds
// one day only. Records a full disk refuses are held in order (at most kMaxHeldRecords) and
// written when there is room, into the file of their day.
class RecordStore
{
public:
    static constexpr const char* kConnectionName = "dbRecord";
    static constexpr const char* kFileName = "RECORD.db";
    static constexpr const char* kArchiveDir = "RECORD";
    static constexpr const char* kTimeFormat = "hh.mm.ss";
    static constexpr const char* kDayFormat = "yyyy-MM-dd";
    static constexpr int kMaxHeldRecords = 10000;
    // While records are held, a new one tries the disk again at most this often (a try writes
    // them all in one transaction).
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
    // Writes rows of one day to db in one transaction; the reason when it fails.
    static bool writeRows(QSqlDatabase& db, const std::deque<Row>& rows, size_t count, QString* error);
    bool writeEarlierDay(const QDate& day, size_t count, QString* error);
    bool archiveFile(const QDate& day);
    void archiveIfDayChanged();

    QDate m_day;
    std::deque<Row> m_held;
    int m_dropped = 0;
    qint64 m_failedAtMs = 0;
};
