#pragma once

#include <QString>
#include <QVector>

// One line of the kernel's mount table.
struct MountEntry
{
    QString device;
    QString mountPoint;
    QString fsType;
};

// The mount table ("/proc/mounts" under the host root), compared by whole
// fields: "/mnt" is not "/mnt0" and "sdb1" is not "sdb10".
namespace ProcMounts {

// Decodes the octal escapes the kernel writes for blanks and backslashes ("\040").
QString decodeField(const QByteArray& field);
QVector<MountEntry> parse(const QByteArray& content);
// The current table; ok reports whether it could be read.
QVector<MountEntry> read(bool* ok = nullptr);

// Lines whose device or mount point is exactly target.
int countOf(const QVector<MountEntry>& table, const QString& target);
bool isMounted(const QVector<MountEntry>& table, const QString& device, const QString& mountPoint);
bool isMountPoint(const QVector<MountEntry>& table, const QString& mountPoint);
// The device mounted at "/" (the last such line wins, as the kernel stacks them).
QString rootDevice(const QVector<MountEntry>& table);

} // namespace ProcMounts
