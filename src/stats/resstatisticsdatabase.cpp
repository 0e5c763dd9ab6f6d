#include "resstatisticsdatabase.h"

#include "clock.h"
#include "dayfileconnection.h"
#include "globals.h"
#include "resstatisticsparam.h"
#include "shellrunner.h"
#include "statsfilewarning.h"
#include "storedfile.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <QtDebug>

const char* const ResStatisticsDatabase::kCurrentDayFile = "ResStatistics.db";
const char* const ResStatisticsDatabase::kTemplateFile = "ResStatisticsNULL.db";
const char* const ResStatisticsDatabase::kArchiveDir = "./ResStatistics";
const char* const ResStatisticsDatabase::kTableName = "resstatistics";
const char* const ResStatisticsDatabase::kJsonRowName = "statisticsjson";

namespace {

const char kSaveConnection[] = "dbResStatistics";
const char kReadConnection[] = "dbFindResStatistics";
const char kTemplateConnection[] = "dbResStatisticsTemplate";
const char kCurrentDayBaseName[] = "ResStatistics";
// Read as bytes: the text is UTF-8 in the file and is parsed as UTF-8, so a
// round trip through UTF-16 is skipped (it costs as much as the parse).
const char kSelectJson[] = "select CAST(value1 AS BLOB) from resstatistics where name='statisticsjson'";
// Row 544: "Res statistics file error, please / restore parameter group / or contact supplier".
constexpr int kFileErrorTextRow = 544;
constexpr int kOldFormatTotalIndex = 8;

QString currentDayFile() { return QString::fromLatin1(ResStatisticsDatabase::kCurrentDayFile); }
QString templateFile() { return QString::fromLatin1(ResStatisticsDatabase::kTemplateFile); }

// Checks the day table and creates it when missing, logging as operators expect.
void ensureTable(QSqlDatabase& db)
{
    const QString table = QString::fromLatin1(ResStatisticsDatabase::kTableName);
    if (tableExists(db, table)) {
        qInfo() << "statistics table exists, no need to create a new one.";
        return;
    }
    QSqlQuery query(db);
    const QString sql = QStringLiteral(
        "CREATE TABLE IF NOT EXISTS %1 (name TEXT PRIMARY KEY, value1 TEXT NOT NULL, value2 TEXT NOT NULL )").arg(table);
    if (!query.exec(sql))
        qInfo().noquote() << "Failed to create statistics table:" << query.lastError().text();
    else
        qInfo() << "statistics table created successfully.";
}

// Up to 24 integers separated by white space, hour index 0 first; later hours keep their values.
void readOldHours(const QString& text, QList<int>& hours)
{
    const QStringList parts = text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    for (int i = 0; i < parts.size() && i < kHoursPerDay && i < hours.size(); ++i) {
        bool ok = false;
        const int value = parts[i].toInt(&ok);
        if (!ok)
            break;
        hours[i] = value;
    }
}

} // namespace

QByteArray ResStatisticsDatabase::readJsonText(QSqlQuery& query, bool* rowFound)
{
    QByteArray text;
    bool found = false;
    if (query.exec(QString::fromLatin1(kSelectJson)) && query.next()) {
        found = true;
        text = query.value(0).toByteArray();
    }
    query.finish();
    if (rowFound)
        *rowFound = found;
    return text;
}

namespace {

// The template is an empty day file holding the table. The program makes it
// when the folder has none (a fresh application folder, or one lost while
// running), under a temporary name so a half-made template is never copied.
void ensureTemplate()
{
    if (QFileInfo::exists(templateFile()))
        return;
    const QString part = templateFile() + QStringLiteral(".part");
    QFile::remove(part);
    {
        DayFileConnection connection(QString::fromLatin1(kTemplateConnection));
        if (!connection.open(part, false)) {
            qWarning().noquote() << "statistics: cannot create the template" << templateFile();
            return;
        }
        ensureTable(connection.db());
    }
    if (!QFile::rename(part, templateFile())) {
        qWarning().noquote() << "statistics: cannot create the template" << templateFile();
        QFile::remove(part);
        return;
    }
    qInfo().noquote() << "statistics: template" << templateFile() << "created";
}

// Without a template the next open starts an empty day file, which works as well.
void copyTemplateToCurrentDay()
{
    ensureTemplate();
    if (!QFile::copy(templateFile(), currentDayFile())) {
        qWarning().noquote() << "statistics: template" << templateFile() << "not copied to" << currentDayFile();
        return;
    }
    // A read-only shipped template must not make the live day read-only.
    QFile::setPermissions(currentDayFile(), QFile::permissions(currentDayFile()) | QFile::WriteOwner);
}

bool isDayDate(const QString& date)
{
    const QDate parsed = QDate::fromString(date, QLatin1String(kDayDateFormat));
    return parsed.isValid() && parsed.toString(QLatin1String(kDayDateFormat)) == date;
}

} // namespace

bool tableExists(QSqlDatabase& db, const QString& name)
{
    QSqlQuery query(db);
    query.prepare(QStringLiteral("SELECT name FROM sqlite_master WHERE type='table' AND name=:tableName;"));
    query.bindValue(QStringLiteral(":tableName"), name);
    return query.exec() && query.next();
}

QString removeSuffix(const QString& path)
{
    const int dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return path;
    return path.left(dot).split(QLatin1Char('/')).last();
}

ResStatisticsDatabase::ResStatisticsDatabase(ResStatisticsParam* param_, QObject* parent)
    : QObject(parent)
    , param(param_)
{
    if (!QFileInfo::exists(currentDayFile())) {
        copyTemplateToCurrentDay();
        runProgram(QStringLiteral("sync"), {});
    }
    DayFileConnection connection(QString::fromLatin1(kSaveConnection));
    if (!connection.open(currentDayFile(), false)) {
        qCritical().noquote() << "statistics: current-day file cannot be opened:" << currentDayFile();
        StatsFileWarning::show(lanText(kFileErrorTextRow));
        runProgram(QStringLiteral("reboot"), {});
        return;
    }
    ensureTable(connection.db());
}

bool ResStatisticsDatabase::readDayFile(const QString& path, QJsonObject& out)
{
    // SQLite would create a missing file; a day that was never stored is not read.
    if (!QFileInfo(path).isFile())
        return false;
    DayFileConnection connection(QString::fromLatin1(kReadConnection));
    if (!connection.open(path, false))
        return false;
    QSqlQuery query(connection.db());
    out = loadCountFromJson(query, path);
    return true;
}

void ResStatisticsDatabase::loadCountFromJson(QString path, QJsonObject& out)
{
    readDayFile(path, out);
}

void ResStatisticsDatabase::loadCountFromJson(QString path)
{
    QJsonObject document;
    const bool ok = readDayFile(path, document);
    emit sigLoadFinish(document, ok);
}

void ResStatisticsDatabase::slotUpdateRecord(QString path)
{
    loadCountFromJson(path);
}

QJsonObject ResStatisticsDatabase::oldFormatDay(QSqlQuery& query, const QString& date, const QString& groupName)
{
    CountGroup group;
    ResStatisticsParam::initStuCountGroup(group, QStringLiteral("default"));
    loadCountFromJson(group, query);
    group.groupName = groupName;
    CountGroupList day;
    day.date = date;
    day.groups = {group};
    return ResStatisticsParam::StuCountToJson(day);
}

QJsonObject ResStatisticsDatabase::loadCountFromJson(QSqlQuery query, QString path)
{
    QByteArray text = readJsonText(query);
    if (text.isEmpty()) {
        QString date = removeSuffix(path);
        QString groupName = QStringLiteral("default");
        if (date == QLatin1String(kCurrentDayBaseName)) {
            date = param ? param->getCurDBDate() : Clock::now().date().toString(QLatin1String(kDayDateFormat));
            if (param)
                groupName = param->getCurGroupName();
        }
        const QJsonObject built = oldFormatDay(query, date, groupName);
        saveCountFromJson(built, query);
        bool rowFound = false;
        text = readJsonText(query, &rowFound);
        if (text.isEmpty()) {
            if (rowFound)
                qInfo() << "resstatistics laod statisticsjson fail";
            return built;
        }
    }
    return QJsonDocument::fromJson(text).object();
}

bool ResStatisticsDatabase::saveCountFromJson(QJsonObject counters, QSqlQuery query)
{
    query.prepare(QStringLiteral(
        "INSERT INTO resstatistics (name, value1, value2) VALUES (:name, :value1, :value2) "
        "ON CONFLICT(name) DO UPDATE SET value1 = excluded.value1, value2 = excluded.value2"));
    query.bindValue(QStringLiteral(":name"), QString::fromLatin1(kJsonRowName));
    query.bindValue(QStringLiteral(":value1"), QString::fromUtf8(QJsonDocument(counters).toJson(QJsonDocument::Indented)));
    query.bindValue(QStringLiteral(":value2"), QString(""));
    const bool ok = query.exec();
    if (!ok)
        qDebug().noquote() << "Upsert failed:" << query.lastError().text();
    query.finish();
    return ok;
}

bool ResStatisticsDatabase::loadCountFromJson(CountGroup& group, QSqlQuery& query)
{
    for (int i = 0; i < numCamera && i < group.cameras.size(); ++i)
        loadCountCamera(group.cameras[i], i, query);
    loadCountCamera(group.total, kOldFormatTotalIndex, query);
    group.groupName = QStringLiteral("default");
    return true;
}

bool ResStatisticsDatabase::loadCountCamera(CountCamera& camera, int cameraIndex, QSqlQuery query)
{
    const QString sql = QStringLiteral("select value1 ,value2 from resstatistics where name='C%1_D%2'");
    for (int d = 0; d < gDNum && d < camera.detects.size(); ++d)
        loadCountDetect(camera.detects[d], sql.arg(cameraIndex).arg(d), query);
    loadCountDetect(camera.cycle, sql.arg(cameraIndex).arg(kWholeCycleIndex), query);
    return true;
}

bool ResStatisticsDatabase::loadCountDetect(CountDetect& detect, QString sql, QSqlQuery query)
{
    if (!query.exec(sql) || !query.next()) {
        query.finish();
        return false;
    }
    readOldHours(query.value(0).toString(), detect.OK);
    readOldHours(query.value(1).toString(), detect.NG);
    query.finish();
    return true;
}

void ResStatisticsDatabase::slotSaveRecord(QString date, QJsonObject counters, bool archive)
{
    // A day that could not be archived stays in the live file; the next day is
    // not written over it until the archive succeeds.
    if (!m_pendingArchive.isEmpty()) {
        if (!archiveCurrentDay(m_pendingArchive)) {
            qWarning().noquote() << "statistics: day" << m_pendingArchive << "still not archived; save skipped";
            return;
        }
        m_pendingArchive.clear();
    }
    {
        DayFileConnection connection(QString::fromLatin1(kSaveConnection));
        if (!connection.open(currentDayFile(), false)) {
            if (archive)
                m_pendingArchive = date;
            return;
        }
        ensureTable(connection.db());
        QSqlQuery query(connection.db());
        saveCountFromJson(counters, query);
    }
    if (archive && !archiveCurrentDay(date))
        m_pendingArchive = date;
}

bool ResStatisticsDatabase::archiveCurrentDay(const QString& date)
{
    if (!isDayDate(date)) {
        qWarning().noquote() << "statistics: not archiving under a malformed date:" << date;
        return true;
    }
    QDir archiveDir(QString::fromLatin1(kArchiveDir));
    if (!archiveDir.exists() && !QDir().mkpath(archiveDir.path())) {
        qWarning().noquote() << "statistics: cannot create" << archiveDir.absolutePath();
        return false;
    }
    const QString target = archiveDir.absoluteFilePath(date + QStringLiteral(".db"));
    // Over an archive of the same day in one step: a cut never leaves the day without one.
    QString reason;
    if (!StoredFile::replace(currentDayFile(), target, &reason)) {
        qWarning().noquote() << "statistics: archiving the day to" << target << "failed:" << reason;
        return false;
    }
    copyTemplateToCurrentDay();
    return true;
}
