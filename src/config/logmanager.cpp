#include "logmanager.h"

#include "loglimiter.h"
#include "publictools.h"
#include "spacereclaim.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QSet>
#include <QTimer>

#include <algorithm>
#include <functional>

#include <glog/logging.h>

LogManager* LogManager::__instance = nullptr;

namespace {

// Where the handler's own messages are said to come from.
const char kOwnFile[] = "logmanager.cpp";
constexpr int kCriticalLine = 244;
constexpr int kFatalLine = 250;
constexpr int kCrashLine = 26;

const char kArchiveLog[] = "X_LOG_";
const char kArchiveError[] = "X_ERROR_";
const char kStampIn[] = "yyyyMMdd-hhmmss";
const char kStampOut[] = "yyyyMMdd_hhmmss";
const char kUnknownSource[] = "unknow";

struct Destination
{
    google::LogSeverity severity;
    const char* prefix;
};
const Destination kDestinations[] = {
    {google::GLOG_INFO, "LOG_"},
    {google::GLOG_WARNING, "WARNING_"},
    {google::GLOG_ERROR, "ERROR_"},
    {google::GLOG_FATAL, "FATAL_"},
};

// Messages come from any thread; the limiter's counts are shared.
QMutex g_limiterMutex;
LogLimiter g_limiter;

void writeLine(QtMsgType type, const char* source, int line, const QByteArray& text)
{
    switch (type) {
    case QtDebugMsg:
        break;
    case QtInfoMsg:
        google::LogMessage(source, line, google::GLOG_INFO).stream() << text.constData();
        break;
    case QtWarningMsg:
        google::LogMessage(source, line, google::GLOG_INFO).stream() << "---warning--- " << text.constData();
        break;
    case QtCriticalMsg:
        google::LogMessage(kOwnFile, kCriticalLine, google::GLOG_ERROR).stream() << "\t" << text.constData();
        break;
    case QtFatalMsg:
        google::LogMessage(kOwnFile, kFatalLine, google::GLOG_FATAL).stream() << "\t" << text.constData();
        break;
    }
}

bool isNumber(const QString& text)
{
    bool ok = false;
    text.toLongLong(&ok);
    return ok;
}

bool insideFolder(const QString& path, const QString& folder)
{
    return !path.isEmpty() && QFileInfo(path).absolutePath() == folder;
}

} // namespace

LogManager::LogManager(QObject* parent) : QObject(parent)
{
    QDir().mkpath(kLogDir);
    QDir().mkpath(kStdoutDir);
    clearup_cachelogfile();
    pruneStdoutFiles();

    // glog keeps the pointer it is given, so the text must live as long as the process.
    static const QByteArray programPath = QCoreApplication::applicationFilePath().toLatin1();
    google::InitGoogleLogging(programPath.constData());
    FLAGS_log_dir = kLogDir;
    // Lines are buffered (a synchronous write per request slowed the API down);
    // the timer below and the exit and crash paths flush them.
    FLAGS_logbufsecs = kFlushSeconds;
    FLAGS_max_log_size = kMaxLogFileMb;
    // glog's own stop on a full disk lifts only after a flush-free second, which the flush timer
    // below never leaves: the log would stay stopped once the disk had room again. Writes that
    // fail are lost, the next ones go on.
    FLAGS_stop_logging_if_full_disk = false;
    FLAGS_logtostderr = false;
    google::SetLogFilenameExtension(".log");
    for (const Destination& d : kDestinations)
        google::SetLogDestination(d.severity, (QString(kLogDir) + d.prefix).toLocal8Bit().constData());
    google::InstallFailureSignalHandler();
    google::InstallFailureWriter(SignalHandle);
    qInstallMessageHandler(LogManager::outputMessage);
    m_housekeeping.setInterval(kHousekeepingMs);
    connect(&m_housekeeping, &QTimer::timeout, this, [] {
        flushRepeats();
        pruneLogFolder();
    });
    m_housekeeping.start();
    // The end of the event loop (a quit, SIGTERM) writes what is held; main does it again last.
    if (QCoreApplication::instance())
        connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, &LogManager::finish);
    // glog flushes its buffer only when a later line is written; a quiet
    // program must still have its last lines on disk within a second.
    auto* flushTimer = new QTimer(this);
    connect(flushTimer, &QTimer::timeout, this, &LogManager::flush);
    flushTimer->start(kFlushSeconds * 1000);
}

void LogManager::flush()
{
    google::FlushLogFiles(google::GLOG_INFO);
}

void LogManager::outputMessage(QtMsgType type, const QMessageLogContext& context, const QString& msg)
{
    QByteArray source = kUnknownSource;
    if (context.file) {
        source = context.file;
        const int slash = source.lastIndexOf('/');
        if (slash >= 0)
            source = source.mid(slash + 1);
    }
    if (type == QtDebugMsg)
        return;
    if (type == QtFatalMsg) {
        writeLine(type, source.constData(), context.line, msg.toUtf8());
        return;
    }
    // A flood of one kind of line (a refused peer, an unreachable subscriber) must not fill the disk.
    QStringList lines;
    {
        QMutexLocker lock(&g_limiterMutex);
        lines = g_limiter.admit(context, msg, monotonic_ms());
    }
    for (const QString& line : qAsConst(lines))
        writeLine(type, source.constData(), context.line, line.toUtf8());
}

namespace {
void writeRepeats(const std::function<QStringList(LogLimiter&)>& take)
{
    QStringList lines;
    {
        QMutexLocker lock(&g_limiterMutex);
        lines = take(g_limiter);
    }
    for (const QString& line : qAsConst(lines))
        writeLine(QtInfoMsg, kOwnFile, 0, line.toUtf8());
}
} // namespace

void LogManager::flushRepeats()
{
    writeRepeats([](LogLimiter& limiter) { return limiter.flush(monotonic_ms()); });
}

void LogManager::finish()
{
    writeRepeats([](LogLimiter& limiter) { return limiter.flushAll(); });
    flush();
}

void LogManager::pruneLogFolder(qint64 maxBytes)
{
    QDir dir(kLogDir);
    QSet<QString> current;
    QFileInfoList files;
    for (const QFileInfo& entry : dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::System)) {
        if (entry.isSymLink())
            current.insert(QFileInfo(entry.symLinkTarget()).canonicalFilePath());
        else
            files << entry;
    }
    qint64 total = 0;
    QFileInfoList removable;
    for (const QFileInfo& file : qAsConst(files)) {
        total += file.size();
        if (!current.contains(file.canonicalFilePath()))
            removable << file;
    }
    std::sort(removable.begin(), removable.end(),
              [](const QFileInfo& a, const QFileInfo& b) { return a.lastModified() < b.lastModified(); });
    const SpaceReclaim::Result pruned = SpaceReclaim::removeOldest(removable, total - maxBytes);
    if (pruned.files > 0)
        qInfo().noquote() << QStringLiteral("log files removed to keep the log folder within %1 MiB: %2 file(s), %3 KiB")
                                 .arg(maxBytes / (1024 * 1024))
                                 .arg(pruned.files)
                                 .arg(pruned.bytes / 1024);
}

void SignalHandle(const char* data, std::size_t size)
{
    google::LogMessage(kOwnFile, kCrashLine, google::GLOG_ERROR).stream() << std::string(data, size);
    google::FlushLogFiles(google::GLOG_INFO);
}

void LogManager::pruneStdoutFiles()
{
    QDir dir(kStdoutDir);
    const QFileInfoList files = dir.entryInfoList(QStringList{"*"}, QDir::Files, QDir::Time);
    for (int i = kMaxStdoutFiles; i < files.size(); ++i)
        QFile::remove(files.at(i).absoluteFilePath());
}

void LogManager::clearup_cachelogfile()
{
    QDir dir(kLogDir);
    const QString folder = QFileInfo(dir.absolutePath()).canonicalFilePath();

    // 1. glog's per-severity links. The newest INFO log stays to be archived;
    // the files behind the other links are dropped (their lines are in the INFO log).
    bool hadError = false;
    const QFileInfoList entries =
        dir.entryInfoList(QStringList{"*"}, QDir::Files | QDir::Hidden | QDir::System, QDir::Time);
    for (const QFileInfo& entry : entries) {
        // A dangling link (its file already gone) neither marks the run nor is removed here.
        if (!entry.isSymLink() || !entry.exists())
            continue;
        const QString path = entry.absoluteFilePath();
        const QString target = QFileInfo(entry.symLinkTarget()).canonicalFilePath();
        if (path.contains(".ERROR"))
            hadError = true;
        QFile::remove(path);
        // A link may point anywhere; only files of the log folder itself are ours to delete.
        if (!path.contains(".INFO") && insideFolder(target, folder))
            QFile::remove(target);
    }

    // 2. Numbered archives, oldest (lowest number) first.
    QStringList remaining = dir.entryList(QStringList{"*.*"}, QDir::Files | QDir::Hidden, QDir::Name);
    QStringList archives;
    for (;;) {
        int best = -1;
        long long bestNumber = 0;
        for (int i = 0; i < remaining.size(); ++i) {
            const QStringList fields = remaining.at(i).split('_');
            if (fields.size() != 4 || !isNumber(fields.at(0)))
                continue;
            const long long number = fields.at(0).toLongLong();
            if (best < 0 || number > bestNumber) {
                best = i;
                bestNumber = number;
            }
        }
        if (best < 0)
            break;
        archives.prepend(remaining.takeAt(best));
    }

    // 3. The previous run's glog files become new archives; anything else goes.
    for (const QString& name : remaining) {
        const QStringList fields = name.split('_');
        if (fields.size() != 2) {
            dir.remove(name);
            continue;
        }
        const QString stamp = fields.at(1).section('.', 0, 0);
        const QDateTime time = QDateTime::fromString(stamp, kStampIn);
        const QString newName =
            QString(hadError ? kArchiveError : kArchiveLog) + time.toString(kStampOut) + ".txt";
        dir.remove(newName);
        dir.rename(name, newName);
        archives.append(newName);
    }

    // 4. At most kMaxArchives remain.
    while (archives.size() > kMaxArchives)
        dir.remove(archives.takeFirst());

    // 5. Renumber from 1, oldest first.
    for (int i = 0; i < archives.size(); ++i) {
        QStringList fields = archives.at(i).split('_');
        if (fields.size() != 4) {
            dir.remove(archives.at(i));
            continue;
        }
        fields[0] = QString::number(i + 1);
        dir.rename(archives.at(i), fields.join('_'));
    }
}
