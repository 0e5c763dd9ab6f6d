#include "systemdisks.h"

#include "hostpaths.h"
#include "procmounts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {
// Mount points whose disks hold the system.
constexpr const char* kSystemMounts[] = {"/", "/boot", "/boot/efi"};
constexpr const char* kRootAlias = "/dev/root";
constexpr int kMaxStackDepth = 8;

QString sysBlock(const QString& name = QString())
{
    return HostPaths::path(QStringLiteral("/sys/block/") + name);
}

QStringList entriesOf(const QString& dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// The kernel name of a device node: "/dev/sda2" -> "sda2", "/dev/mapper/vg-root" -> "dm-0".
QString kernelName(const QString& node)
{
    QString device = node;
    if (device.startsWith(QLatin1String("UUID=")))
        device = QStringLiteral("/dev/disk/by-uuid/") + device.mid(5);
    const QFileInfo link(HostPaths::path(device));
    if (link.isSymLink())
        return QFileInfo(link.symLinkTarget()).fileName();
    const QString base = QFileInfo(device).fileName();
    if (device.startsWith(QLatin1String("/dev/mapper/"))) {
        for (const QString& disk : entriesOf(sysBlock())) {
            QFile name(sysBlock(disk) + QStringLiteral("/dm/name"));
            if (name.open(QIODevice::ReadOnly) && QString::fromLocal8Bit(name.readAll()).trimmed() == base)
                return disk;
        }
        return QString();  // a mapped device that sysfs does not show: its disks are unknown
    }
    return base;
}

// The disk of a partition by its name alone, for hosts whose sysfs is not readable.
// Stacked devices (device mapper, md) cannot be told by name: none.
QStringList diskByName(const QString& name)
{
    static const QRegularExpression scsiLike(QStringLiteral("^((?:s|v|h|xv)d[a-z]+)\\d+$"));
    static const QRegularExpression numbered(QStringLiteral("^(.*\\d)p\\d+$"));
    static const QRegularExpression stacked(QStringLiteral("^(dm-|md)\\d"));
    QRegularExpressionMatch match = scsiLike.match(name);
    if (match.hasMatch())
        return {match.captured(1)};
    if (stacked.match(name).hasMatch())
        return {};
    match = numbered.match(name);
    return {match.hasMatch() ? match.captured(1) : name};
}

QStringList wholeDisksOfName(const QString& name, int depth)
{
    if (name.isEmpty() || depth > kMaxStackDepth)
        return {};
    if (QFileInfo::exists(sysBlock(name))) {
        const QStringList slaves = entriesOf(sysBlock(name) + QStringLiteral("/slaves"));
        if (slaves.isEmpty())
            return {name};
        QStringList disks;
        for (const QString& slave : slaves) {
            for (const QString& disk : wholeDisksOfName(slave, depth + 1)) {
                if (!disks.contains(disk))
                    disks.append(disk);
            }
        }
        return disks;
    }
    // A partition lives in its disk's folder: /sys/block/sda/sda2.
    for (const QString& disk : entriesOf(sysBlock())) {
        if (QFileInfo::exists(sysBlock(disk) + '/' + name))
            return wholeDisksOfName(disk, depth + 1);
    }
    return diskByName(name);
}

// "MAJ:MIN" of the mount points in the kernel's mount information, the last line winning.
QMap<QString, QString> deviceNumbersByMountPoint()
{
    QMap<QString, QString> numbers;
    QFile file(HostPaths::path(QStringLiteral("/proc/self/mountinfo")));
    if (!file.open(QIODevice::ReadOnly))
        return numbers;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() > 4)
            numbers.insert(ProcMounts::decodeField(fields.at(4)), QString::fromLatin1(fields.at(2)));
    }
    return numbers;
}

QString statDeviceNumber(const QString& mountPoint)
{
    struct stat info {};
    if (::stat(QFile::encodeName(HostPaths::path(mountPoint)).constData(), &info) != 0)
        return QString();
    return QStringLiteral("%1:%2").arg(major(info.st_dev)).arg(minor(info.st_dev));
}

bool isBlockNumber(const QString& number)
{
    return !number.isEmpty() && !number.startsWith(QLatin1String("0:"));
}

QStringList disksOfNumber(const QString& number)
{
    const QFileInfo link(HostPaths::path(QStringLiteral("/sys/dev/block/") + number));
    if (!isBlockNumber(number) || !link.isSymLink())
        return {};
    return wholeDisksOfName(QFileInfo(link.symLinkTarget()).fileName(), 0);
}
} // namespace

QStringList SystemDisks::wholeDisksOf(const QString& deviceNode)
{
    return wholeDisksOfName(kernelName(deviceNode), 0);
}

void SystemDisks::addDisk(const QString& disk)
{
    if (!disk.isEmpty() && !m_disks.contains(disk))
        m_disks.append(disk);
}

SystemDisks SystemDisks::find()
{
    SystemDisks found;
    const QVector<MountEntry> table = ProcMounts::read();
    const QMap<QString, QString> numbers = deviceNumbersByMountPoint();
    for (const char* point : kSystemMounts) {
        const QString mountPoint = QString::fromLatin1(point);
        const bool isRoot = mountPoint == QLatin1String("/");
        QString device;
        for (const MountEntry& entry : table) {
            if (entry.mountPoint == mountPoint && entry.device != QLatin1String("rootfs"))
                device = entry.device;
        }
        if (!isRoot && device.isEmpty() && !numbers.contains(mountPoint))
            continue;  // no file system of its own: it lies on "/"
        const QString number = numbers.value(mountPoint);
        QStringList disks = disksOfNumber(number);
        if (device.startsWith(QLatin1String("/dev/")) && device != QLatin1String(kRootAlias))
            disks += wholeDisksOf(device);
        // The folder's own device number adds a disk but never raises a doubt: under a
        // host root laid out by hand it is the number of the folder, not of the host.
        if (isRoot || !device.isEmpty())
            disks += disksOfNumber(statDeviceNumber(mountPoint));
        const bool onBlockDevice = device.startsWith(QLatin1String("/dev/"))
                                   || device.startsWith(QLatin1String("UUID=")) || isBlockNumber(number);
        for (const QString& disk : disks)
            found.addDisk(disk);
        if (onBlockDevice && disks.isEmpty())
            found.m_known = false;
    }
    return found;
}

bool SystemDisks::holds(const QString& deviceNode) const
{
    if (!m_known)
        return true;
    for (const QString& disk : wholeDisksOf(deviceNode)) {
        if (m_disks.contains(disk))
            return true;
    }
    return false;
}

QString SystemDisks::describe() const
{
    return m_known ? m_disks.join(',') : QStringLiteral("unknown (%1)").arg(m_disks.join(','));
}
