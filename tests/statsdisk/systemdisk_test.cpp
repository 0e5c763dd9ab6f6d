#include "diskmanager.h"
#include "fakehostroot.h"
#include "fakeshellrunner.h"
#include "findau.h"
#include "qttesthelpers.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {
struct Partition
{
    const char* entry;  // udev entry, "b8:<minor>"
    const char* node;   // kernel name, "sda2"
    const char* fsType;
    const char* bus;
};

// A host laid out by hand: sysfs as the kernel shows disks, partitions and
// stacked devices, udev entries and by-uuid / by-path links for each partition.
class SystemDiskHost
{
public:
    void partitions(std::initializer_list<Partition> parts)
    {
        for (const Partition& p : parts) {
            const QString node = p.node;
            const QString disk = node.left(3);
            host.makeDir("/sys/block/" + disk + "/" + node);
            host.write("/run/udev/data/" + QString(p.entry),
                       QStringLiteral("S:disk/by-uuid/uuid-%1\nE:ID_FS_TYPE=%2\nE:ID_BUS=%3\n")
                           .arg(node, p.fsType, p.bus)
                           .toUtf8());
            host.symlink("../../" + node, "/dev/disk/by-uuid/uuid-" + node);
            const QString path = QStringLiteral("pci-0000:00:%1-%2-0:0:0:0-part%3")
                                     .arg(disk == "sda" ? "17.0" : "14.0", p.bus, node.mid(3));
            host.symlink("../../" + node, "/dev/disk/by-path/" + path);
        }
    }
    // A device-mapper device "dm-<n>" named name, stacked on the given partitions.
    void mapper(int n, const QString& name, const QStringList& slaves, bool nodeLink)
    {
        const QString dm = QStringLiteral("dm-%1").arg(n);
        host.write("/sys/block/" + dm + "/dm/name", name.toUtf8() + "\n");
        for (const QString& slave : slaves)
            host.symlink("../../" + slave.left(3) + "/" + slave, "/sys/block/" + dm + "/slaves/" + slave);
        if (nodeLink)
            host.symlink("../" + dm, "/dev/mapper/" + name);
    }
    void deviceNumber(const QString& number, const QString& node)
    {
        host.symlink("../../block/" + node.left(3) + "/" + node, "/sys/dev/block/" + number);
    }
    // Mounts every partition the manager would mount on a fresh start and returns the shell's lines.
    QStringList startAndScan(QStringList* ignored = nullptr)
    {
        DiskManager manager;
        manager.start();
        manager.stop();
        manager.scanOnce();
        if (ignored) {
            *ignored = manager.ignoredEntries();
            ignored->sort();
        }
        return shell.lines();
    }
    QString mnt() const { return DiskManager::mountPoint(0); }

    FakeHostRoot host;
    FakeShellRunner shell;
};

void expectOnlyTheStickTouched(const QStringList& lines, const QString& stickMount)
{
    for (const QString& line : lines)
        EXPECT_FALSE(line.contains("/dev/sda")) << line.toStdString();
    EXPECT_TRUE(lines.contains(stickMount)) << lines.join(" | ").toStdString();
}
} // namespace

// Root on LVM over sda3, /boot on sda1 (not ext4, so only the stacking tells): no
// sda partition is mounted, unmounted or found as the USB disk, with or without
// the /dev/mapper link; a system partition left mounted on a mount point stays.
TEST(SystemDisk, RootOnDeviceMapperKeepsItsWholeDiskUntouched)
{
    for (bool nodeLink : {true, false}) {
        SCOPED_TRACE(nodeLink ? "mapper link" : "mapper name only");
        SystemDiskHost h;
        h.partitions({{"b8:1", "sda1", "vfat", "ata"},
                      {"b8:2", "sda2", "ntfs", "ata"},
                      {"b8:3", "sda3", "LVM2_member", "ata"},
                      {"b8:17", "sdb1", "vfat", "usb"}});
        h.mapper(0, "vg-root", {"sda3"}, nodeLink);
        h.host.write("/proc/mounts", "/dev/mapper/vg-root / ext4 rw 0 0\n/dev/sda1 /boot vfat rw 0 0\n"
                                     "/dev/sda2 /mnt0 ntfs rw 0 0\n");
        QStringList ignored;
        const QStringList lines = h.startAndScan(&ignored);
        EXPECT_EQ(ignored, (QStringList{"b8:1", "b8:2", "b8:3"}));
        expectOnlyTheStickTouched(lines, "mount -o nosuid,nodev,noexec /dev/sdb1 " + h.mnt());
        EXPECT_FALSE(lines.contains("umount " + DiskManager::mountPoint(1))) << "sda2 stays where it is";

        // The same host seen by the export's look-up: the USB disk is the stick.
        h.shell.clear();
        EXPECT_EQ(FindAU(), h.host.root() + "/mnt");
        EXPECT_EQ(h.shell.lines(), QStringList{"mount -o nosuid,nodev,noexec /dev/sdb1 " + h.host.root() + "/mnt"});
    }

    // A mapped root that sysfs does not show cannot be told from a stick: nothing is touched.
    SystemDiskHost h;
    h.partitions({{"b8:3", "sda3", "LVM2_member", "ata"}, {"b8:17", "sdb1", "vfat", "usb"}});
    ASSERT_TRUE(QDir(h.host.root() + "/sys").removeRecursively());
    h.host.write("/proc/mounts", "/dev/mapper/vg-root / ext4 rw 0 0\n");
    QStringList ignored;
    EXPECT_TRUE(h.startAndScan(&ignored).filter("mount").isEmpty());
    EXPECT_EQ(ignored, (QStringList{"b8:17", "b8:3"}));
}

// "/" named "/dev/root" (no initramfs): the disk comes from the mount's
// major:minor, told by the kernel's mount information or, failing that, by the
// root folder's own device number. With neither, every disk is in doubt.
TEST(SystemDisk, DevRootIsFoundByItsDeviceNumberAndADoubtTouchesNothing)
{
    struct stat rootInfo {};
    enum Source { MountInfo, StatOfRoot, Nothing };
    for (Source source : {MountInfo, StatOfRoot, Nothing}) {
        SCOPED_TRACE(int(source));
        SystemDiskHost h;
        h.partitions({{"b8:1", "sda1", "vfat", "ata"}, {"b8:2", "sda2", "xfs", "ata"}, {"b8:17", "sdb1", "vfat", "usb"}});
        h.host.write("/proc/mounts", "/dev/root / xfs rw 0 0\n");
        ASSERT_EQ(::stat(QFile::encodeName(h.host.root()).constData(), &rootInfo), 0);
        const QString rootNumber = QStringLiteral("%1:%2").arg(major(rootInfo.st_dev)).arg(minor(rootInfo.st_dev));
        if (source == MountInfo) {
            h.host.write("/proc/self/mountinfo", "21 1 8:2 / / rw,relatime - xfs /dev/root rw\n");
            h.deviceNumber("8:2", "sda2");
        } else if (source == StatOfRoot) {
            h.deviceNumber(rootNumber, "sda2");
        }
        QStringList ignored;
        const QStringList lines = h.startAndScan(&ignored);
        if (source == Nothing) {
            EXPECT_EQ(ignored, (QStringList{"b8:1", "b8:17", "b8:2"})) << "in doubt every disk is left alone";
            EXPECT_TRUE(lines.filter("mount").isEmpty()) << lines.join(" | ").toStdString();
            h.shell.clear();
            EXPECT_EQ(FindAU(), QString());
            EXPECT_TRUE(h.shell.lines().isEmpty());
        } else {
            EXPECT_EQ(ignored, (QStringList{"b8:1", "b8:2"}));
            expectOnlyTheStickTouched(lines, "mount -o nosuid,nodev,noexec /dev/sdb1 " + h.mnt());
        }
    }
}

// A plain partition layout and the second guard: the disk of "/" by name, an
// internal ext4 disk present at start, and a box that boots from a USB disk
// (its partitions are no stick, for the manager nor for the export).
TEST(SystemDisk, PlainLayoutsTheExt4GuardAndAUsbBootDisk)
{
    {
        SystemDiskHost h;
        h.partitions({{"b8:2", "sda2", "ext4", "ata"}, {"b8:33", "sdc1", "ext4", "ata"}, {"b8:17", "sdb1", "ext4", "usb"}});
        h.host.write("/proc/mounts", "/dev/sda2 / ext4 rw 0 0\n");
        QStringList ignored;
        const QStringList lines = h.startAndScan(&ignored);
        EXPECT_EQ(ignored, (QStringList{"b8:2", "b8:33"})) << "the internal ext4 disk counts as the system's";
        expectOnlyTheStickTouched(lines, "mount -o nosuid,nodev,noexec /dev/sdb1 " + h.mnt());
        EXPECT_TRUE(lines.filter("sdc").isEmpty());
    }
    {
        SystemDiskHost h;
        h.partitions({{"b8:1", "sda1", "vfat", "usb"}, {"b8:2", "sda2", "btrfs", "usb"}, {"b8:17", "sdb1", "vfat", "usb"}});
        h.host.write("/proc/mounts", "/dev/sda2 / btrfs rw 0 0\n/dev/sda1 /boot/efi vfat rw 0 0\n");
        QStringList ignored;
        expectOnlyTheStickTouched(h.startAndScan(&ignored), "mount -o nosuid,nodev,noexec /dev/sdb1 " + h.mnt());
        EXPECT_EQ(ignored, (QStringList{"b8:1", "b8:2"}));
        h.shell.clear();
        EXPECT_EQ(FindAU(), h.host.root() + "/mnt");
        EXPECT_EQ(h.shell.lines(), QStringList{"mount -o nosuid,nodev,noexec /dev/sdb1 " + h.host.root() + "/mnt"});
    }
}
