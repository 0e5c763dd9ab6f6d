#include "storedfile.h"

#include <QDebug>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QSaveFile>
#include <QHash>
#include <QStringList>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// Larger content (pictures) is not kept for a retry: its writer makes the next one.
constexpr int kMaxRetainedBytes = 256 * 1024;

QMutex g_mutex;
// The latest content of each path whose write failed, kept for the retry.
QHash<QString, QByteArray> g_failing;
StoredFile::FailureHandler g_handler;

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

bool write(const QString& path, const QByteArray& bytes, QString* error)
{
    QString reason;
    const bool ok = attempt(path, bytes, &reason);
    FailureHandler handler;
    {
        QMutexLocker lock(&g_mutex);
        if (ok) {
            if (g_failing.remove(path))
                qInfo().noquote() << "Stored file written again:" << path;
            return true;
        }
        const bool known = g_failing.contains(path);
        if (bytes.size() <= kMaxRetainedBytes)
            g_failing.insert(path, bytes);
        if (known) {
            if (error)
                *error = reason;
            return false;
        }
        handler = g_handler;
    }
    qWarning().noquote() << "Stored file not written, old content kept:" << path << reason;
    if (handler)
        handler(path, reason);
    if (error)
        *error = reason;
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

QStringList failingPaths()
{
    QMutexLocker lock(&g_mutex);
    return g_failing.keys();
}

int retryPending()
{
    QHash<QString, QByteArray> pending;
    {
        QMutexLocker lock(&g_mutex);
        pending = g_failing;
    }
    int failing = 0;
    for (auto it = pending.cbegin(); it != pending.cend(); ++it) {
        {
            // A newer write of the path may have succeeded meanwhile.
            QMutexLocker lock(&g_mutex);
            if (g_failing.value(it.key()) != it.value())
                continue;
        }
        failing += write(it.key(), it.value()) ? 0 : 1;
    }
    return failing;
}

} // namespace StoredFile
