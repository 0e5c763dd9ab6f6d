#include "exportresultworker.h"

#include "clock.h"
#include "confineddir.h"
#include "shellrunner.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>

namespace {
constexpr const char* kArchiveDir = "./ResStatistics";
constexpr const char* kLiveDayFile = "./ResStatistics.db";
constexpr const char* kDateFormat = "yyyy-MM-dd";
constexpr const char* kStampFormat = "yyyy-MM-dd_hh.mm.ss";
constexpr const char* kDoneMark = "Done";

void logResult(const ShellResult& result)
{
    if (!result.stdErr.isEmpty())
        qDebug().noquote() << QString::fromLocal8Bit(result.stdErr);
    if (result.timedOut)
        qInfo() << "Process timed out";
    else if (result.started && result.exitCode < 0)
        qInfo() << "Process crashed!";
    else
        qInfo() << "Process finished with exit code:" << result.exitCode;
}
} // namespace

ExportResultWorker::ExportResultWorker(QObject* parent)
    : QObject(parent)
{
}

void ExportResultWorker::setTarget(const QString& path)
{
    QMutexLocker lock(&m_mutex);
    m_target = path;
}

QString ExportResultWorker::target() const
{
    QMutexLocker lock(&m_mutex);
    return m_target;
}

void ExportResultWorker::setTimeoutMs(int ms)
{
    QMutexLocker lock(&m_mutex);
    m_timeoutMs = ms;
}

QStringList ExportResultWorker::filesOfRange(const QDate& start, const QDate& end, const QDate& today)
{
    QStringList files;
    const QStringList names = QDir(QLatin1String(kArchiveDir))
                                  .entryList({QStringLiteral("*.db")}, QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& name : names) {
        const QDate date = QDate::fromString(name.section('.', 0, 0), QLatin1String(kDateFormat));
        if (date.isValid() && start <= date && date <= end)
            files.append(QLatin1String(kArchiveDir) + '/' + name);
    }
    if (start <= today && today <= end)
        files.append(QLatin1String(kLiveDayFile));
    return files;
}

void ExportResultWorker::work(QPair<QString, QString> range)
{
    qInfo() << "start export Statistics result work";
    const QString stamp = Clock::now().toString(QLatin1String(kStampFormat));
    const QDate start = QDate::fromString(range.first, QLatin1String(kDateFormat));
    const QDate end = QDate::fromString(range.second, QLatin1String(kDateFormat));
    const QStringList files = filesOfRange(start, end, Clock::now().date());
    total = files.size();
    done = 0;
    emit exportProgress(total, done);

    int timeoutMs = 0;
    QString disk;
    {
        QMutexLocker lock(&m_mutex);
        timeoutMs = m_timeoutMs;
        disk = m_target;
    }
    clearOutput();
    QString error;
    bool ok = exportToHistogram(QLatin1String(kProgram), {files.join(',')}, timeoutMs, &error);
    if (ok && files.isEmpty()) {
        ok = false;
        error = QStringLiteral("no statistics in the range");
    }
    if (ok && disk.isEmpty()) {
        ok = false;
        error = QStringLiteral("no USB disk");
    }
    const QString destination = disk + '/' + stamp;
    // Only a folder made by this export is taken back on failure.
    const QFileInfo before(destination);
    const bool madeDestination = ok && !before.exists() && !before.isSymLink();
    if (ok) {
        // Made as a real folder right under the mount point: a link there is not followed.
        ok = ConfinedDir(disk).openDir(stamp, true, nullptr, &error).isOpen() && moveOutput(destination, &error);
        if (!ok && error.isEmpty())
            error = QStringLiteral("cannot create ") + destination;
    }
    if (ok) {
        const ShellResult sync = runProgram(QStringLiteral("sync"), {}, kSyncTimeoutMs);
        qInfo() << "sync finish";
        if (!sync.ok()) {
            ok = false;
            error = QStringLiteral("sync failed");
        }
    }
    if (!ok) {
        qWarning().noquote() << "statistics export failed:" << error;
        // A part-written copy on a full stick is no export; the local output goes too.
        if (madeDestination && !QDir(destination).removeRecursively())
            qWarning().noquote() << "statistics export: cannot remove" << destination;
        clearOutput();
        runProgram(QStringLiteral("sync"), {}, kSyncTimeoutMs);
    }
    emit finish(ok, error);
}

bool ExportResultWorker::exportToHistogram(const QString& program, const QStringList& arguments, int timeoutMs,
                                           QString* error)
{
    qInfo() << "start export to histogram";
    const ShellResult result = ShellRunner::instance().runLines(program, arguments, timeoutMs, [this](const QByteArray& raw) {
        const QString line = QString::fromLocal8Bit(raw);
        if (line.startsWith(QLatin1String(kDoneMark))) {
            ++done;
            emit exportProgress(total, done);
        }
        qDebug().noquote() << line;
    });
    logResult(result);
    QString reason;
    if (!result.started)
        reason = QStringLiteral("export program did not start: ") + QString::fromLocal8Bit(result.stdErr);
    else if (result.timedOut)
        reason = QStringLiteral("export program timed out");
    else if (result.exitCode != 0)
        reason = QStringLiteral("export program exited with %1").arg(result.exitCode);
    else if (done < total)
        reason = QStringLiteral("export program reported %1 of %2 files").arg(done).arg(total);
    if (error)
        *error = reason;
    return reason.isEmpty();
}

bool ExportResultWorker::moveOutput(const QString& destination, QString* error)
{
    const QFileInfoList folders = QDir(QLatin1String(kArchiveDir)).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    if (folders.isEmpty()) {
        *error = QStringLiteral("the export program left no output");
        return false;
    }
    QStringList arguments{QStringLiteral("--")};
    for (const QFileInfo& folder : folders)
        arguments.append(folder.filePath());
    arguments.append(destination + '/');
    if (!runAndPrintOutput(QStringLiteral("mv"), arguments, kMoveTimeoutMs)) {
        *error = QStringLiteral("moving the output to ") + destination + QStringLiteral(" failed");
        return false;
    }
    return true;
}

void ExportResultWorker::clearOutput()
{
    const QFileInfoList folders = QDir(QLatin1String(kArchiveDir)).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QFileInfo& folder : folders) {
        qInfo().noquote() << "statistics export: removing the left output" << folder.filePath();
        if (folder.isSymLink())
            QFile::remove(folder.filePath());
        else
            QDir(folder.filePath()).removeRecursively();
    }
}

bool runAndPrintOutput(const QString& program, const QStringList& arguments, int timeoutMs)
{
    qDebug().noquote() << '(' + arguments.join(QStringLiteral(", ")) + ')';
    const ShellResult result = runProgram(program, arguments, timeoutMs);
    if (!result.stdOut.isEmpty())
        qDebug().noquote() << QString::fromLocal8Bit(result.stdOut);
    logResult(result);
    return result.ok();
}
