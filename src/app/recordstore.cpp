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

namespace {
constexpr const char* kCreateTable =
    "CREATE TABLE IF NOT EXISTS RECORD (recordtime TEXT, recordpassword TEXT, remarks TEXT, recordtype TEXT)";
constexpr const char* kBrokenSuffix = ".broken";
constexpr const char* kSqliteFull = "13";
}

RecordStore::~RecordStore()
{
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

bool RecordStore::open()
{
    const QDate today = Clock::now().date();
    const QFileInfo file(kFileName);
    if (file.exists() && file.size() > 0) {
        const QDate fileDay = file.lastModified().date();
        if (fileDay.isValid() && fileDay < today)
            archiveFile(fileDay);
    }
    return openFile();
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

bool RecordStore::archiveFile(const QDate& day)
{
    close();
    QDir().mkpath(kArchiveDir);
    const QString target = archivePath(day);
    if (!QFile::exists(target))
        return QFile::rename(kFileName, target);

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
            query.addBindValue(QFileInfo(kFileName).absoluteFilePath());
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
        QFile::remove(kFileName);
    else
        qWarning() << "RECORD.db could not be merged into" << target;
    return ok;
}

void RecordStore::archiveIfDayChanged()
{
    const QDate today = Clock::now().date();
    if (!m_day.isValid() || m_day == today)
        return;
    archiveFile(m_day);
    // Today's rows are today's even while a full disk keeps the new file from being made.
    m_day = today;
    openFile();
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
    archiveIfDayChanged();
    const QDateTime now = Clock::now();
    if (int(m_held.size()) >= kMaxHeldRecords) {
        m_held.pop_front();
        ++m_dropped;
        qWarning().noquote() << QStringLiteral("record dropped, %1 held for a full disk (%2 dropped)")
                                    .arg(kMaxHeldRecords)
                                    .arg(m_dropped);
    }
    m_held.push_back(Row{now.date(), now.time().toString(kTimeFormat), level, text, type});
    if (m_held.size() > 1 && MonotonicClock::ms() - m_failedAtMs < kHeldRetryMs)
        return false;
    return writeHeld();
}

bool RecordStore::writeRows(QSqlDatabase& db, const std::deque<Row>& rows, size_t count, QString* error)
{
    // One transaction: a failure keeps every row held, none is written twice.
    QSqlQuery query(db);
    if (!db.transaction()) {
        *error = db.lastError().text();
        return false;
    }
    query.prepare("INSERT INTO RECORD (recordtime, recordpassword, remarks, recordtype) VALUES (?, ?, ?, ?)");
    for (size_t i = 0; i < count; ++i) {
        const Row& row = rows[i];
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

bool RecordStore::writeEarlierDay(const QDate& day, size_t count, QString* error)
{
    const QString connection = QStringLiteral("recordLate");
    bool ok = false;
    {
        QDir().mkpath(kArchiveDir);
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", connection);
        db.setDatabaseName(archivePath(day));
        if (db.open() && QSqlQuery(db).exec(kCreateTable))
            ok = writeRows(db, m_held, count, error);
        else
            *error = db.lastError().text();
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    return ok;
}

bool RecordStore::writeHeld()
{
    const size_t before = m_held.size();
    QString error;
    while (!m_held.empty()) {
        // The rows of one day at a time; those of a finished day go to its archive.
        const QDate day = m_held.front().day;
        size_t count = 0;
        while (count < m_held.size() && m_held[count].day == day)
            ++count;
        bool ok = false;
        if (day == m_day || !m_day.isValid()) {
            if (isOpen() || openFile()) {
                QSqlDatabase db = database();
                ok = writeRows(db, m_held, count, &error);
            } else {
                error = database().lastError().text();
            }
        } else {
            ok = writeEarlierDay(day, count, &error);
        }
        if (!ok) {
            qWarning().noquote() << QStringLiteral("record not written, %1 held:").arg(m_held.size()) << error;
            StoredFile::reportFailure(QString::fromLatin1(kFileName), error);
            m_failedAtMs = MonotonicClock::ms();
            return false;
        }
        m_held.erase(m_held.begin(), m_held.begin() + long(count));
    }
    if (before > 1)
        qInfo().noquote() << QStringLiteral("%1 held record(s) written").arg(before);
    StoredFile::reportSaved(QString::fromLatin1(kFileName));
    return true;
}
