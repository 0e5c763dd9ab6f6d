#include "fakehostroot.h"
#include "fakeshellrunner.h"
#include "findau.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace {
void link(const FakeHostRoot& host, const QString& name, const QString& node)
{
    QDir().mkpath(host.root() + "/dev/disk/by-path");
    host.write("/dev/" + node, "");
    ASSERT_TRUE(QFile::link("../../" + node, host.root() + "/dev/disk/by-path/" + name));
}
}

TEST(FindAU, NoUsbDiskGivesNothingAndMountsNothing)
{
    FakeHostRoot host;
    FakeShellRunner shell;
    link(host, "pci-0000:00:17.0-ata-1-part1", "sda1");
    EXPECT_EQ(FindAU(), QString());
    EXPECT_TRUE(shell.calls().isEmpty());
}

TEST(FindAU, AMountedUsbPartitionIsTakenAsItIs)
{
    FakeHostRoot host;
    FakeShellRunner shell;
    link(host, "pci-0000:00:14.0-usb-0:2:1.0-scsi-0:0:0:0", "sdb");
    link(host, "pci-0000:00:14.0-usb-0:2:1.0-scsi-0:0:0:0-part1", "sdb1");
    host.write("/proc/mounts", "/dev/sda2 / ext4 rw 0 0\n/dev/sdb1 /mnt1 vfat rw 0 0\n");
    EXPECT_EQ(FindAU(), "/mnt1");
    EXPECT_TRUE(shell.calls().isEmpty());
}

TEST(FindAU, AnUnmountedUsbPartitionIsMountedOnMnt)
{
    FakeHostRoot host;
    FakeShellRunner shell;
    link(host, "pci-0000:00:14.0-usb-0:2:1.0-scsi-0:0:0:0-part1", "sdb1");
    host.write("/proc/mounts", "/dev/sda2 / ext4 rw 0 0\n");
    EXPECT_EQ(FindAU(), host.root() + "/mnt");
    EXPECT_EQ(shell.lines(), QStringList{"mount -o nosuid,nodev,noexec /dev/sdb1 " + host.root() + "/mnt"});

    shell.setResult("mount", ShellResult{true, false, 32, {}, "wrong fs type"});
    EXPECT_EQ(FindAU(), QString()) << "a failed mount is no disk";
}
