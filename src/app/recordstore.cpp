#include "recordstore.h"

#include "clock.h"
#include "miscfunc.h"

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
        return QFile::rename(file, target);

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
    if (!archiveIfDayChanged() || (!isOpen() && !openFile()))
        return false;
    QSqlQuery query(database());
    query.prepare("INSERT INTO RECORD (recordtime, recordpassword, remarks, recordtype) VALUES (?, ?, ?, ?)");
    query.addBindValue(Clock::now().time().toString(kTimeFormat));
    query.addBindValue(level);
    query.addBindValue(text);
    query.addBindValue(type);
    if (!query.exec()) {
        qWarning() << "record not written:" << query.lastError().text();
        return false;
    }
    return true;
}
