#include "recordstore.h"

#include "clock.h"
#include "miscfunc.h"
#include "storedfile.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <utility>

namespace {
constexpr const char* kCreateTable =
    "CREATE TABLE IF NOT EXISTS RECORD (recordtime TEXT, recordpassword TEXT, remarks TEXT, recordtype TEXT)";
constexpr const char* kBrokenSuffix = ".broken";
constexpr const char* kUnmergedSuffix = ".unmerged";
constexpr const char* kSqliteFull = "13";
constexpr const char* kJournalSuffix = "-journal";

// A transaction cut by a kill leaves its rollback journal beside the file, and the file
// with a part of it: moved away from that journal, the file would keep the part (or be
// damaged) and the journal would be played into whatever file takes the name next. A read
// lets SQLite roll it back first; false when a journal stays that may still be needed.
bool settleJournal(const QString& file)
{
    if (!QFile::exists(file))
        return true;
    const QString connection = QStringLiteral("recordSettle");
    bool read = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", connection);
        db.setDatabaseName(file);
        if (db.open()) {
            QSqlQuery query(db);
            read = query.exec("SELECT count(*) FROM sqlite_master") && query.next();
            query.finish();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(connection);
    const QString journal = file + kJournalSuffix;
    if (!QFile::exists(journal))
        return true;
    // Once a read went through, what is left is no hot journal (SQLite keeps an empty one).
    if (read)
        return QFile::remove(journal);
    qWarning() << file << "has a journal that could not be rolled back; not moved";
    return false;
}
}

RecordStore::~RecordStore()
{
    writeHeld();
    close();
    QSqlDatabase::removeDatabase(kConnectionName);
}

QString RecordStore::archivePath(const QDate& day)
{
    return QStringLiteral("./%1/%2.db").arg(kArchiveDir, day.toString(kDayFormat));
}

QSqlDatabase RecordStore::database() const
{
    return QSqlDatabase::database(kConnectionName, false);
}

bool RecordStore::isOpen() const
{
    return QSqlDatabase::contains(kConnectionName) && database().isOpen();
}

QString RecordStore::unmergedPath(const QDate& day)
{
    return archivePath(day) + kUnmergedSuffix;
}

bool RecordStore::open()
{
    mergeKeptApart();
    const QFileInfo file(kFileName);
    // Until it is archived the file is its day's: today's rows never join it.
    if (file.exists() && file.size() > 0) {
        const QDate fileDay = file.lastModified().date();
        if (fileDay.isValid() && fileDay < Clock::now().date())
            m_day = fileDay;
    }
    return archiveIfDayChanged() && (isOpen() || openFile());
}

bool RecordStore::openFile()
{
    QSqlDatabase db = QSqlDatabase::contains(kConnectionName)
                          ? QSqlDatabase::database(kConnectionName, false)
                          : QSqlDatabase::addDatabase("QSQLITE", kConnectionName);
    db.setDatabaseName(kFileName);
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (db.open()) {
            QSqlQuery query(db);
            if (query.exec(kCreateTable)) {
                // Files of older versions have no type column: their inserts would fail.
                addColumnIfNotExists(db, QStringLiteral("RECORD"), QStringLiteral("recordtype"), QStringLiteral("TEXT"));
                m_day = Clock::now().date();
                return true;
            }
            qWarning() << "RECORD.db unusable:" << query.lastError().text();
            db.close();
            // A full disk damages nothing: the file (and one set aside earlier) stays.
            if (query.lastError().nativeErrorCode() == QLatin1String(kSqliteFull))
                return false;
        } else {
            qWarning() << "RECORD.db cannot be opened:" << db.lastError().text();
        }
        // A damaged file is kept aside and replaced by an empty one.
        QFile::remove(QString(kFileName) + kBrokenSuffix);
        QFile::rename(kFileName, QString(kFileName) + kBrokenSuffix);
    }
    return false;
}

void RecordStore::close()
{
    if (QSqlDatabase::contains(kConnectionName)) {
        QSqlDatabase db = QSqlDatabase::database(kConnectionName, false);
        db.close();
    }
}

bool RecordStore::archiveFile(const QString& file, const QString& target)
{
    if (!QFile::exists(target))
        return settleJournal(file) && QFile::rename(file, target);

    // The day was archived before (the clock went back): its rows move to the archive. Added
    // there and taken from the file in one transaction over both files, so that a power cut
    // before the file's removal leaves nothing to be added a second time.
    const QString merge = QStringLiteral("recordMerge");
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", merge);
        db.setDatabaseName(target);
        if (db.open()) {
            QSqlQuery query(db);
            query.exec(kCreateTable);
            query.prepare("ATTACH DATABASE ? AS cur");
            query.addBindValue(QFileInfo(file).absoluteFilePath());
            ok = query.exec() && query.exec("BEGIN") && query.exec("INSERT INTO main.RECORD SELECT * FROM cur.RECORD")
                 && query.exec("DELETE FROM cur.RECORD") && query.exec("COMMIT");
            if (!ok)
                query.exec("ROLLBACK");
            query.exec("DETACH DATABASE cur");
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(merge);
    if (ok)
        QFile::remove(file);
    return ok;
}

bool RecordStore::archiveDay(const QDate& day)
{
    close();
    // A file that a full disk left without a table holds no rows: nothing to archive.
    if (QFileInfo(kFileName).size() == 0) {
        QFile::remove(kFileName);
        return true;
    }
    QDir().mkpath(kArchiveDir);
    if (archiveFile(kFileName, archivePath(day))) {
        m_archiveFailing = false;
        return true;
    }
    // A damaged or unwritable archive: the day waits apart and joins it once that works.
    if (archiveFile(kFileName, unmergedPath(day))) {
        m_archiveFailing = false;
        qWarning() << "RECORD.db could not be merged into" << archivePath(day) << "; kept apart until it can";
        return true;
    }
    // Retried at every record: told once.
    if (!std::exchange(m_archiveFailing, true))
        qWarning() << "RECORD.db could not be archived as" << day.toString(kDayFormat) << "; no record is written until it is";
    return false;
}

void RecordStore::mergeKeptApart()
{
    const QString suffix = QStringLiteral(".db") + kUnmergedSuffix;
    for (const QString& name : QDir(kArchiveDir).entryList({QLatin1Char('*') + suffix}, QDir::Files)) {
        const QDate day = QDate::fromString(name.chopped(suffix.size()), kDayFormat);
        if (day.isValid() && archiveFile(unmergedPath(day), archivePath(day)))
            qInfo() << "records of" << day.toString(kDayFormat) << "kept apart are now in their archive";
    }
}

bool RecordStore::archiveIfDayChanged()
{
    const QDate today = Clock::now().date();
    if (!m_day.isValid() || m_day == today)
        return true;
    if (!archiveDay(m_day))
        return false;
    mergeKeptApart();
    return openFile();
}

QSqlDatabase RecordStore::today()
{
    // A reader after midnight must not take yesterday's rows for today's.
    if (isOpen())
        archiveIfDayChanged();
    return database();
}

bool RecordStore::insert(const QString& level, const QString& text, const QString& type)
{
    const QDateTime now = Clock::now();
    if (int(m_held.size()) >= kMaxHeldRecords) {
        m_held.pop_front();
        ++m_dropped;
        qWarning().noquote() << QStringLiteral("record dropped, %1 held (%2 dropped)").arg(kMaxHeldRecords).arg(m_dropped);
    }
    m_held.push_back(Row{now.date(), now.time().toString(kTimeFormat), level, text, type});
    if (int(m_held.size()) > kHeldTriedAlways && MonotonicClock::ms() - m_failedAtMs < kHeldRetryMs)
        return false;
    return writeHeld();
}

bool RecordStore::writeRows(QSqlDatabase& db, size_t count, QString* error) const
{
    // One transaction: a failure keeps every row held, none is written twice.
    QSqlQuery query(db);
    if (!db.transaction()) {
        *error = db.lastError().text();
        return false;
    }
    query.prepare("INSERT INTO RECORD (recordtime, recordpassword, remarks, recordtype) VALUES (?, ?, ?, ?)");
    for (size_t i = 0; i < count; ++i) {
        const Row& row = m_held[i];
        query.addBindValue(row.time);
        query.addBindValue(row.level);
        query.addBindValue(row.text);
        query.addBindValue(row.type);
        if (!query.exec()) {
            *error = query.lastError().text();
            db.rollback();
            return false;
        }
    }
    if (!db.commit()) {
        *error = db.lastError().text();
        db.rollback();
        return false;
    }
    return true;
}

bool RecordStore::writeEarlierDay(const QDate& day, size_t count, QString* error) const
{
    const QString connection = QStringLiteral("recordLate");
    bool ok = false;
    QDir().mkpath(kArchiveDir);
    for (const QString& path : {archivePath(day), unmergedPath(day)}) {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", connection);
            db.setDatabaseName(path);
            QSqlQuery query(db);
            if (db.open() && query.exec(kCreateTable))
                ok = writeRows(db, count, error);
            else
                *error = db.isOpen() ? query.lastError().text() : db.lastError().text();
            db.close();
        }
        QSqlDatabase::removeDatabase(connection);
        if (ok)
            break;
    }
    return ok;
}

bool RecordStore::writeHeld()
{
    if (m_held.empty()) {
        StoredFile::reportSaved(QString::fromLatin1(kFileName));
        return true;
    }
    const size_t before = m_held.size();
    QString error = QStringLiteral("RECORD.db cannot be archived or opened");
    bool ok = archiveIfDayChanged() && (isOpen() || openFile());
    while (ok && !m_held.empty()) {
        // The rows of one day at a time; those of a finished day go to its archive.
        const QDate day = m_held.front().day;
        size_t count = 0;
        while (count < m_held.size() && m_held[count].day == day)
            ++count;
        if (day == m_day) {
            QSqlDatabase db = database();
            ok = writeRows(db, count, &error);
        } else {
            ok = writeEarlierDay(day, count, &error);
        }
        if (ok)
            m_held.erase(m_held.begin(), m_held.begin() + long(count));
    }
    if (!ok) {
        qWarning().noquote() << QStringLiteral("record not written, %1 held:").arg(m_held.size()) << error;
        StoredFile::reportFailure(QString::fromLatin1(kFileName), error);
        m_failedAtMs = MonotonicClock::ms();
        return false;
    }
    if (before > 1)
        qInfo().noquote() << QStringLiteral("%1 held record(s) written").arg(before);
    StoredFile::reportSaved(QString::fromLatin1(kFileName));
    return true;
}
