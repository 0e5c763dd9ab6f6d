#include "publictools.h"

#include "clock.h"
#include "hostpaths.h"
#include "shellrunner.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <QUuid>

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr qint64 kCentisModulo = 1000000000;
constexpr int kBlkidTimeoutMs = 1000;

// Text up to the first NUL byte, as the host files and tool outputs are read.
QString textUpToNul(const QByteArray& bytes)
{
    const int nul = bytes.indexOf('\0');
    return QString::fromLocal8Bit(nul < 0 ? bytes : bytes.left(nul));
}

QByteArray readHostFile(const QString& hostPath, bool* exists = nullptr)
{
    QFile file(HostPaths::path(hostPath));
    if (exists)
        *exists = file.exists();
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

// The device (first field) of the file system mounted at "/", from /proc/mounts.
QString rootDevice()
{
    QString device;
    const QStringList lines = textUpToNul(readHostFile("/proc/mounts")).split('\n', Qt::SkipEmptyParts);
    for (const QString& line : lines) {
        const QStringList fields = line.split(' ', Qt::SkipEmptyParts);
        if (fields.size() >= 3 && fields.at(1) == "/" && fields.at(0) != "rootfs")
            device = fields.at(0); // later mounts over "/" hide earlier ones
    }
    return device;
}

} // namespace

qint64 gettimeofday_ms()
{
    return Clock::nowMSecsSinceEpoch();
}

int curtime_qint64_2_int()
{
    return int((gettimeofday_ms() / 10) % kCentisModulo);
}

qint64 monotonic_ms()
{
    return MonotonicClock::ms();
}

qint64 monotonic_cs()
{
    return MonotonicClock::ms() / 10;
}

QString found_diskuuid_by_blkid()
{
    qInfo("found_diskuuid_by_blkid");
    const ShellResult run = runProgram("blkid", {}, kBlkidTimeoutMs);
    const QString output = textUpToNul(run.stdOut + run.stdErr);

    // The system disk is the ext4 file system mounted at "/"; an ext4 USB disk
    // present at start must not change the id, so it wins only as a fallback.
    const QString root = rootDevice();
    const QString rootUuid = root.startsWith("UUID=") ? root.mid(5)
                             : root.startsWith("/dev/disk/by-uuid/") ? root.section('/', -1)
                                                                    : QString();
    static const QRegularExpression uuidLine("^.*\\s+UUID=\"(\\S+)\".*");
    QString last;
    QString atRoot;
    const QStringList lines = output.split('\n', Qt::SkipEmptyParts);
    for (const QString& line : lines) {
        const QStringList parts = line.split("TYPE=", Qt::SkipEmptyParts);
        if (parts.size() != 2 || !parts.at(1).contains("ext4"))
            continue;
        const QRegularExpressionMatch match = uuidLine.match(line);
        if (!match.hasMatch())
            continue;
        last = match.captured(1);
        const QString device = line.section(':', 0, 0).trimmed();
        if (!root.isEmpty() && (device == root || last == rootUuid))
            atRoot = last;
    }
    qInfo("end found_diskuuid_by_blkid");
    return atRoot.isEmpty() ? last : atRoot;
}

QString getlocal_deviceid()
{
    QString result = QString::number(Clock::nowMSecsSinceEpoch());
    bool exists = false;
    const QByteArray cpuinfo = readHostFile("/proc/cpuinfo", &exists);
    if (!exists)
        return result;

    static const QRegularExpression serialLine("^Serial\\s+:\\s+(\\S+)");
    bool found = false;
    const QStringList lines = textUpToNul(cpuinfo).split('\n');
    for (const QString& line : lines) {
        const QRegularExpressionMatch match = serialLine.match(line);
        if (match.hasMatch()) {
            result = match.captured(1);
            found = true;
        }
    }
    if (!found) {
        const QString uuid = found_diskuuid_by_blkid();
        if (!uuid.isEmpty())
            result = uuid;
    }
    result.remove(';');
    return result.split('-').last();
}
