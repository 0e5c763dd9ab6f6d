#pragma once

#include <QString>
#include <QStringList>

// The whole disks that hold the running system ("/" and "/boot"), however the
// mount table names their devices: a partition ("/dev/sda2"), a device-mapper
// or md device stacked on partitions ("/dev/mapper/vg-root", through
// "/sys/block/*/slaves"), or "/dev/root" (through the major:minor of the mount,
// "/sys/dev/block/MAJ:MIN"). Everything is read under HostPaths. Nothing on
// these disks may be mounted, unmounted or written by the program.
class SystemDisks
{
public:
    // The disks as the host shows them now.
    static SystemDisks find();

    // Kernel names of the whole disks ("sda", "nvme0n1").
    QStringList disks() const { return m_disks; }
    // False when "/" lies on a block device whose disk could not be told: then
    // every disk is in doubt.
    bool known() const { return m_known; }
    void addDisk(const QString& disk);

    // Whether a device node ("/dev/sdb1") lies on one of the disks, or may (in doubt).
    bool holds(const QString& deviceNode) const;
    // For the log: the disks, or that they are unknown.
    QString describe() const;

    // The whole disks under a device node or kernel name: partitions give their
    // disk, stacked devices the disks of their slaves. Falls back to the name
    // ("sdb1" -> "sdb", "nvme0n1p2" -> "nvme0n1") when sysfs does not know it.
    static QStringList wholeDisksOf(const QString& deviceNode);

private:
    QStringList m_disks;
    bool m_known = true;
};
