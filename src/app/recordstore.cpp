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

namespace {
constexpr const char* kCreateTable =
    "CREATE TABLE IF NOT EXISTS RECORD (recordtime TEXT, recordpassword TEXT, remarks TEXT, recordtype TEXT)";
constexpr const char* kBrokenSuffix = ".broken";
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
    if (!isOpen() && !openFile())
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
