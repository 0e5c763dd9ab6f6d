#include "findau.h"

#include "hostpaths.h"
#include "shellrunner.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

constexpr const char* kMounts = "/proc/mounts";
constexpr const char* kByPath = "/dev/disk/by-path";
constexpr const char* kMountPoint = "/mnt";
constexpr int kMountTimeoutMs = 5000;

// Mount point of a USB partition (by device node) under /mnt, or empty.
QString mountedUsbPath(const QStringList& usbNodes)
{
    QFile file(HostPaths::path(kMounts));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 2)
            continue;
        const QString device = QString::fromLocal8Bit(fields[0]);
        const QString target = QString::fromLocal8Bit(fields[1]);
        if (usbNodes.contains(device) && (target == kMountPoint || target.startsWith(QString(kMountPoint))))
            return target;
    }
    return QString();
}

// Device nodes of the USB partitions (or of a USB disk without partitions).
QStringList usbNodes()
{
    QDir dir(HostPaths::path(kByPath));
    QStringList partitions;
    QStringList disks;
    for (const QFileInfo& link : dir.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name)) {
        if (!link.fileName().contains("usb"))
            continue;
        // The links point at "../../sdb1": the node is "/dev/" plus the last part.
        const QString node = QStringLiteral("/dev/") + QFileInfo(link.symLinkTarget()).fileName();
        (link.fileName().contains("-part") ? partitions : disks) << node;
    }
    return partitions.isEmpty() ? disks : partitions;
}

} // namespace

QString FindAU()
{
    const QStringList nodes = usbNodes();
    if (nodes.isEmpty())
        return QString();
    const QString mounted = mountedUsbPath(nodes);
    if (!mounted.isEmpty())
        return mounted;
    QDir().mkpath(HostPaths::path(kMountPoint));
    const ShellResult result = runProgram("mount", {nodes.first(), QString(kMountPoint)}, kMountTimeoutMs);
    if (!result.ok()) {
        qWarning() << "FindAU: mount" << nodes.first() << "failed:" << result.stdErr.trimmed();
        return QString();
    }
    return QString(kMountPoint);
}
