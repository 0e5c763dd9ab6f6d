#include "findau.h"

#include "hostpaths.h"
#include "procmounts.h"
#include "shellrunner.h"
#include "systemdisks.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

constexpr const char* kByPath = "/dev/disk/by-path";
constexpr const char* kMountPoint = "/mnt";
constexpr int kMountTimeoutMs = 5000;
constexpr const char* kMountOptions = "nosuid,nodev,noexec";

// Mount point of a USB partition (by device node) on "/mnt" or "/mnt<n>", or empty.
QString mountedUsbPath(const QStringList& usbNodes)
{
    static const QRegularExpression point(QStringLiteral("^/mnt\\d*$"));
    for (const MountEntry& entry : ProcMounts::read()) {
        if (usbNodes.contains(entry.device) && point.match(HostPaths::hostView(entry.mountPoint)).hasMatch())
            return entry.mountPoint;
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
    QStringList nodes = partitions.isEmpty() ? disks : partitions;
    // A box may boot from a USB disk: its partitions are never taken for a stick.
    const SystemDisks system = SystemDisks::find();
    for (int i = nodes.size() - 1; i >= 0; --i) {
        if (system.holds(nodes.at(i))) {
            qWarning().noquote() << "FindAU: not using" << nodes.at(i) << "- system disks" << system.describe();
            nodes.removeAt(i);
        }
    }
    return nodes;
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
    const QString target = HostPaths::path(kMountPoint);
    QDir().mkpath(target);
    const ShellResult result = runProgram("mount", {"-o", kMountOptions, nodes.first(), target}, kMountTimeoutMs);
    if (!result.ok()) {
        qWarning() << "FindAU: mount" << nodes.first() << "failed:" << result.stdErr.trimmed();
        return QString();
    }
    return target;
}
