#include "disktest.h"

#include "fakeshellrunner.h"
#include "procmounts.h"
#include "qttesthelpers.h"

#include <QSignalSpy>
#include <QThreadPool>

TEST_F(DiskTest, PlugAndPullAreEachAnnouncedOnceByTheWatcherThread)
{
    manager = std::make_unique<DiskManager>();
    QSignalSpy spy(manager.get(), &DiskManager::diskInfoChange);
    manager->start();
    EXPECT_EQ(QThreadPool::globalInstance()->activeThreadCount(), 0) << "the shared pool stays free for dialogs";
    UsbStick* stick = plugStick(0);
    // A leftover entry of the same file system and a whole disk without one.
    ASSERT_TRUE(host.write("/run/udev/data/b8:33", "S:disk/by-uuid/" + uuidOf(0).toUtf8() + "\nE:ID_BUS=usb\n"));
    ASSERT_TRUE(host.write("/run/udev/data/b8:16", "E:ID_BUS=usb\nE:DEVTYPE=disk\n"));

    ASSERT_TRUE(waitUntil([&] { return spy.count() >= 1; }));
    QThread::msleep(300);
    EXPECT_EQ(spy.count(), 1);
    const QVector<UPanInfo> disks = spy.at(0).at(0).value<QVector<UPanInfo>>();
    ASSERT_EQ(disks.size(), 1);
    EXPECT_EQ(disks[0].uuid, uuidOf(0));
    EXPECT_EQ(disks[0].devNode, stick->device());
    EXPECT_EQ(disks[0].mountPath, mountPoint(0));
    EXPECT_EQ(stick->mountPoints(), QStringList{mountPoint(0)});
    EXPECT_EQ(manager->getMountPath(), QStringList{mountPoint(0)});
    EXPECT_TRUE(manager->ignoredEntries().contains("b8:16"));
    EXPECT_EQ(manager->get_efficientMountPath(), mountPoint(1));

    pullStick(0);
    QFile::remove(host.root() + "/run/udev/data/b8:33");
    ASSERT_TRUE(waitUntil([&] { return spy.count() >= 2; }));
    QThread::msleep(300);
    EXPECT_EQ(spy.count(), 2);
    EXPECT_TRUE(spy.at(1).at(0).value<QVector<UPanInfo>>().isEmpty());
    EXPECT_TRUE(stick->mountPoints().isEmpty()) << "a pulled stick is unmounted";
    EXPECT_TRUE(manager->getMountPath().isEmpty());
    EXPECT_TRUE(manager->get_mountDisk(uuidOf(0)).uuid.isEmpty());
}

TEST_F(DiskTest, ASixthPartitionWaitsForAFreePointInsteadOfStacking)
{
    for (int n = 0; n < 6; ++n)
        plugStick(n);
    manager = std::make_unique<DiskManager>();
    EXPECT_TRUE(manager->scanOnce());

    QStringList points = manager->getMountPath();
    points.sort();
    QStringList all;
    for (int i = 0; i < DiskManager::kMountPointCount; ++i)
        all << mountPoint(i);
    all.sort();
    EXPECT_EQ(points, all);
    const QVector<MountEntry> table = ProcMounts::read();
    for (const QString& point : all)
        EXPECT_EQ(ProcMounts::countOf(table, point), 1) << point.toStdString();
    int waiting = -1;
    for (int n = 0; n < 6; ++n) {
        if (sticks[n]->mountPoints().isEmpty())
            waiting = n;
    }
    ASSERT_GE(waiting, 0) << "one stick stays unmounted";
    EXPECT_EQ(manager->get_efficientMountPath(), QString());
    EXPECT_FALSE(manager->scanOnce()) << "nothing new while every point is busy";

    const int pulled = (waiting + 1) % 6;
    const QString freed = sticks[pulled]->mountPoints().value(0);
    pullStick(pulled);
    EXPECT_TRUE(manager->scanOnce());
    EXPECT_EQ(sticks[waiting]->mountPoints(), QStringList{freed});
}

TEST_F(DiskTest, TheSystemDiskIsTheDiskOfRootEvenBesideAnExt4Stick)
{
    FakeShellRunner shell;
    QFile::remove(host.root() + "/proc");
    ASSERT_TRUE(host.write("/proc/mounts", "/dev/sda2 / ext4 rw 0 0\n/dev/sda1 /boot ext4 rw 0 0\n"));
    host.makeDir("/dev/disk/by-uuid");
    const char* entries[][3] = {{"b8:1", "aaaa-1", "sda1"}, {"b8:2", "aaaa-2", "sda2"}, {"b8:17", "bbbb-1", "sdb1"}};
    for (const auto& e : entries) {
        ASSERT_TRUE(host.write(QStringLiteral("/run/udev/data/") + e[0],
                               QStringLiteral("S:disk/by-uuid/%1\nE:ID_FS_TYPE=ext4\nE:ID_BUS=%2\n")
                                   .arg(e[1], QString(e[2]).startsWith("sdb") ? "usb" : "ata")
                                   .toUtf8()));
        ASSERT_TRUE(host.symlink(QStringLiteral("../../") + e[2], QStringLiteral("/dev/disk/by-uuid/") + e[1]));
    }
    manager = std::make_unique<DiskManager>();
    QStringList ignored = manager->ignoredEntries();
    ignored.sort();
    EXPECT_EQ(ignored, (QStringList{"b8:1", "b8:2"}));

    manager->scanOnce();
    for (const QString& line : shell.lines())
        EXPECT_FALSE(line.contains("/dev/sda")) << line.toStdString();
    EXPECT_TRUE(shell.lines().contains("mount -o nosuid,nodev,noexec /dev/sdb1 " + mountPoint(0)));
}

TEST_F(DiskTest, MountTableFieldsAreComparedWhole)
{
    FakeShellRunner shell;
    QFile::remove(host.root() + "/proc");
    ASSERT_TRUE(host.write("/proc/mounts", "/dev/sdb1 /mnt ext4 rw 0 0\n"
                                          "/dev/sdb10 /mnt0 ext4 rw 0 0\n"
                                          "/dev/sdb1 /mnt ext4 rw 0 0\n"
                                          "/dev/sdc1 /mnt/my\\040stick vfat rw 0 0\n"));
    DiskManager disks;
    disks.clear_mount("/mnt");
    EXPECT_EQ(shell.lines(), (QStringList{"umount /mnt", "umount /mnt"})) << "stacked twice, /mnt0 untouched";
    shell.clear();
    disks.clear_mount("/dev/sdb");
    disks.clear_mount("/dev/sdb1");
    EXPECT_EQ(shell.lines(), (QStringList{"umount /dev/sdb1", "umount /dev/sdb1"}));
    EXPECT_TRUE(ProcMounts::isMountPoint(ProcMounts::read(), "/mnt/my stick"));
    EXPECT_FALSE(ProcMounts::isMounted(ProcMounts::read(), "/dev/sdb1", "/mnt0"));
}
