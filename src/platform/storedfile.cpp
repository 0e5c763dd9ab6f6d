#include "storedfile.h"

#include <QDebug>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QSaveFile>
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

bool attempt(const QString& path, const QByteArray& bytes, QString* reason)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *reason = file.errorString();
        return false;
    }
    // commit() alone trusts the buffered tail: its flush failing on a full disk still
    // renames a short file into place, so the flush and the error are checked first.
    if (file.write(bytes) != bytes.size() || !file.flush() || file.error() != QFileDevice::NoError) {
        *reason = file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        *reason = file.errorString();
        return false;
    }
    return true;
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
