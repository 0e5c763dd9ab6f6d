#include "storedfile.h"

#include <QDebug>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QList>
#include <QStringList>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstdio>
#include <cstring>

namespace {

// A path whose last write failed, with the content to write again (none once dropped, and
// none for stores that retry themselves).
struct Failing
{
    QString path;
    QByteArray bytes;
    bool held = false;
};

QMutex g_mutex;
// In the order the paths started failing.
QList<Failing> g_failing;
qint64 g_heldBytes = 0;
int g_dropped = 0;
StoredFile::FailureHandler g_handler;
StoredFile::SavedHandler g_savedHandler;
QString g_reservePath;

int indexOf(const QString& path)
{
    for (int i = 0; i < g_failing.size(); ++i)
        if (g_failing.at(i).path == path)
            return i;
    return -1;
}

void release(Failing& entry)
{
    g_heldBytes -= entry.bytes.size();
    entry.bytes.clear();
    entry.held = false;
}

// The oldest held contents go first; their paths stay failing until written anew.
void keepWithinBound()
{
    for (int i = 0; i < g_failing.size() && g_heldBytes > StoredFile::kMaxHeldBytes; ++i) {
        Failing& entry = g_failing[i];
        if (!entry.held)
            continue;
        release(entry);
        ++g_dropped;
        qWarning().noquote() << QStringLiteral("Stored file content dropped from the retry (over %1 MiB held, %2 dropped):")
                                    .arg(StoredFile::kMaxHeldBytes / (1024 * 1024))
                                    .arg(g_dropped)
                                 << entry.path;
    }
}

// Marks path failing; true when it was not failing before (the moment to tell).
bool markFailing(const QString& path, const QByteArray* bytes)
{
    int at = indexOf(path);
    const bool fresh = at < 0;
    if (fresh) {
        g_failing.append(Failing{path, {}, false});
        at = g_failing.size() - 1;
    }
    if (bytes) {
        Failing& entry = g_failing[at];
        release(entry);
        entry.bytes = *bytes;
        entry.held = true;
        g_heldBytes += bytes->size();
        keepWithinBound();
    }
    return fresh;
}

// Forgets a failing path; true when it was failing.
bool markWritten(const QString& path)
{
    const int at = indexOf(path);
    if (at < 0)
        return false;
    release(g_failing[at]);
    g_failing.removeAt(at);
    return true;
}

void tellFailure(const QString& path, const QString& reason, const StoredFile::FailureHandler& handler)
{
    qWarning().noquote() << "Stored file not written, old content kept:" << path << reason;
    if (handler)
        handler(path, reason);
}

void tellSaved(const QString& path, const StoredFile::SavedHandler& handler)
{
    qInfo().noquote() << "Stored file written again:" << path;
    if (handler)
        handler(path);
}

// A write goes to "<file>.storing-<pid>-<random>" beside the file first. A kill in the middle
// leaves that behind; the first write of a later run into the folder removes it.
constexpr char kPartMarker[] = ".storing-";
const QDateTime g_started = QDateTime::currentDateTimeUtc();
QSet<QString> g_swept;

QByteArray partName(const QByteArray& path)
{
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QByteArray word(6, 'x');
    for (char& c : word)
        c = kLetters[QRandomGenerator::global()->bounded(int(sizeof kLetters - 1))];
    return path + kPartMarker + QByteArray::number(qint64(::getpid())) + '-' + word;
}

// Parts of an earlier run (another pid, or this pid but older than this run) in the folder of path.
void sweepLeftovers(const QString& path)
{
    const QString folder = QFileInfo(path).absolutePath();
    {
        QMutexLocker lock(&g_mutex);
        if (g_swept.contains(folder))
            return;
        g_swept.insert(folder);
    }
    static const QRegularExpression part(QStringLiteral("\\.storing-(\\d+)-[A-Za-z0-9]{6}$"));
    const QString ownPid = QString::number(qint64(::getpid()));
    const QDir dir(folder);
    for (const QFileInfo& file : dir.entryInfoList({QStringLiteral("*.storing-*")}, QDir::Files | QDir::Hidden)) {
        const QRegularExpressionMatch match = part.match(file.fileName());
        if (!match.hasMatch() || (match.captured(1) == ownPid && file.lastModified().toUTC() >= g_started))
            continue;
        if (QFile::remove(file.absoluteFilePath()))
            qInfo().noquote() << "Stored file left by a cut write removed:" << file.absoluteFilePath();
    }
}

QString lastError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool writeAll(int fd, const QByteArray& bytes)
{
    for (qint64 done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

bool attempt(const QString& path, const QByteArray& bytes, QString* reason)
{
    sweepLeftovers(path);
    const QByteArray target = QFile::encodeName(path);
    QByteArray part;
    int fd = -1;
    for (int tries = 0; fd < 0 && tries < 16; ++tries) {
        part = partName(target);
        fd = ::open(part.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        *reason = lastError();
        return false;
    }
    // The file keeps its permissions.
    struct stat st = {};
    if (::stat(target.constData(), &st) == 0)
        (void)::fchmod(fd, st.st_mode & 07777);
    // Every byte on the disk before the name is given over: a short file never takes its place.
    bool ok = writeAll(fd, bytes) && ::fsync(fd) == 0;
    if (!ok)
        *reason = lastError();
    if (::close(fd) != 0 && ok) {
        *reason = lastError();
        ok = false;
    }
    if (ok && ::rename(part.constData(), target.constData()) != 0) {
        *reason = lastError();
        ok = false;
    }
    if (!ok)
        ::unlink(part.constData());
    return ok;
}

} // namespace

namespace StoredFile {

bool write(const QString& path, const QByteArray& bytes, QString* error, Retry retry)
{
    QString reason;
    const bool ok = attempt(path, bytes, &reason);
    if (!ok && error)
        *error = reason;
    if (ok) {
        SavedHandler handler;
        {
            QMutexLocker lock(&g_mutex);
            if (!markWritten(path))
                return true;
            handler = g_savedHandler;
        }
        tellSaved(path, handler);
        return true;
    }
    FailureHandler handler;
    {
        QMutexLocker lock(&g_mutex);
        if (retry == Retry::Hold && !markFailing(path, &bytes))
            return false;
        handler = g_handler;
    }
    tellFailure(path, reason, handler);
    return false;
}

bool replace(const QString& from, const QString& path, QString* error)
{
    // rename() swaps the name over in one step; a removal first would leave a moment without it.
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(path).constData()) == 0)
        return true;
    if (error)
        *error = QString::fromLocal8Bit(std::strerror(errno));
    return false;
}

void setFailureHandler(FailureHandler handler)
{
    QMutexLocker lock(&g_mutex);
    g_handler = std::move(handler);
}

void setSavedHandler(SavedHandler handler)
{
    QMutexLocker lock(&g_mutex);
    g_savedHandler = std::move(handler);
}

void reportFailure(const QString& path, const QString& reason)
{
    FailureHandler handler;
    {
        QMutexLocker lock(&g_mutex);
        if (!markFailing(path, nullptr))
            return;
        handler = g_handler;
    }
    tellFailure(path, reason, handler);
}

void reportSaved(const QString& path)
{
    SavedHandler handler;
    {
        QMutexLocker lock(&g_mutex);
        if (!markWritten(path))
            return;
        handler = g_savedHandler;
    }
    tellSaved(path, handler);
}

QStringList failingPaths()
{
    QMutexLocker lock(&g_mutex);
    QStringList paths;
    for (const Failing& entry : qAsConst(g_failing))
        paths << entry.path;
    return paths;
}

int droppedCount()
{
    QMutexLocker lock(&g_mutex);
    return g_dropped;
}

bool keepReserve(const QString& path, qint64 bytes)
{
    {
        QMutexLocker lock(&g_mutex);
        g_reservePath = path;
    }
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    struct stat st = {};
    // Blocks, not the size: a sparse file would hold no room.
    bool ok = fstat(fd, &st) == 0 && st.st_blocks * 512 >= bytes;
    if (!ok)
        ok = posix_fallocate(fd, 0, bytes) == 0;
    ::close(fd);
    // A part of it would hold room that no write can use.
    if (!ok)
        ::unlink(name.constData());
    return ok;
}

bool spendReserve()
{
    QString path;
    {
        QMutexLocker lock(&g_mutex);
        path = g_reservePath;
    }
    if (path.isEmpty() || ::unlink(QFile::encodeName(path).constData()) != 0)
        return false;
    qInfo().noquote() << "Stored file reserve given up for the files held:" << path;
    return true;
}

int retryPending()
{
    QStringList paths = failingPaths();
    int failing = 0;
    for (const QString& path : qAsConst(paths)) {
        QByteArray bytes;
        {
            // A newer write may have stored the path meanwhile; its content may have been dropped.
            QMutexLocker lock(&g_mutex);
            const int at = indexOf(path);
            if (at < 0)
                continue;
            if (!g_failing.at(at).held) {
                ++failing;
                continue;
            }
            bytes = g_failing.at(at).bytes;
        }
        failing += write(path, bytes) ? 0 : 1;
    }
    return failing;
}

} // namespace StoredFile
