#include "devicefile.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QSet>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>
#if defined(__x86_64__) || defined(__i386__)
#include <sys/io.h>
#endif

namespace DeviceFile {

void logOnce(const QString& key, const QString& message)
{
    static QMutex mutex;
    static QSet<QString> seen;
    QMutexLocker lock(&mutex);
    if (seen.contains(key))
        return;
    seen.insert(key);
    qWarning().noquote() << message;
}

bool exists(const QString& path)
{
    return QFileInfo::exists(path);
}

int openDevice(const QString& path, int flags)
{
    const int fd = ::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC);
    if (fd < 0)
        logOnce("open:" + path, QStringLiteral("device %1 not available: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno))));
    return fd;
}

void closeDevice(int fd)
{
    if (fd >= 0)
        ::close(fd);
}

int ioctlInt(int fd, unsigned long request, unsigned long argument)
{
    if (fd < 0)
        return -1;
    const int rc = ::ioctl(fd, request, argument);
    if (rc < 0)
        logOnce(QStringLiteral("ioctl:%1").arg(request),
                QStringLiteral("ioctl 0x%1 failed: %2").arg(request, 0, 16).arg(QString::fromLocal8Bit(std::strerror(errno))));
    return rc;
}

bool writeText(const QString& path, const QByteArray& text)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size()) {
        logOnce("write:" + path, QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
        return false;
    }
    return true;
}

bool requestIoPrivilege(int level)
{
#if defined(__x86_64__) || defined(__i386__)
    if (::iopl(level) == 0)
        return true;
    logOnce("iopl", QStringLiteral("iopl(%1) failed: %2").arg(level).arg(QString::fromLocal8Bit(std::strerror(errno))));
#else
    logOnce("iopl", QStringLiteral("iopl(%1) is not available on this architecture").arg(level));
#endif
    return false;
}

} // namespace DeviceFile
