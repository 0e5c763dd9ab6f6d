#include "disktest.h"

#include "clock.h"
#include "copy2movedisk.h"
#include "qttesthelpers.h"

#include <QDir>
#include <QImage>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThreadPool>

namespace {
const QString kLocalDir = QStringLiteral("./alarmimage/camera1/detect2/NG");

QImage picture(int size)
{
    QImage image(size, size, QImage::Format_RGB32);
    image.fill(Qt::darkRed);
    return image;
}

UPanInfo disk(const QString& uuid, const QString& mountPath)
{
    UPanInfo info;
    info.uuid = uuid;
    info.mountPath = mountPath;
    return info;
}
} // namespace

class CopyTest : public DiskTest
{
protected:
    // Stick 0 mounted by the disk manager and announced to a running copy.
    void mountAndTarget()
    {
        plugStick(0);
        manager = std::make_unique<DiskManager>();
        ASSERT_TRUE(manager->scanOnce());
        copy.start();
        copy.diskInfoChange(manager->disks());
        ASSERT_EQ(copy.targetPath(), mountPoint(0));
    }
    QString monitorRoot() const { return mountPoint(0) + "/monitor_" + uuidOf(0); }

    Copy2MoveDisk copy;
};

TEST_F(CopyTest, ImagesLandInDayFoldersAndOnlyOldDayFoldersArePruned)
{
    mountAndTarget();
    // 31 January day folders and the operator's own folder with an awkward name.
    for (int day = 1; day <= 31; ++day)
        ASSERT_TRUE(QDir().mkpath(monitorRoot() + QStringLiteral("/202601%1").arg(day, 2, 10, QChar('0'))));
    ASSERT_TRUE(writeWholeFile(monitorRoot() + "/my data;x/keep.txt", "mine"));
    // Near misses of a day folder's name sort first and are never taken for one.
    const QStringList nearMisses{"2025123", "202512310", "20250101-old", "x20250101"};
    for (const QString& name : nearMisses)
        ASSERT_TRUE(QDir().mkpath(monitorRoot() + "/" + name));
    copy.days = 31;

    copy.add_map_actqueue(kLocalDir, "2026-03-10_12.00.00", picture(64));
    copy.add_map_actqueue(kLocalDir, "../../escape", picture(64));
    const QString file = monitorRoot() + "/20260310/camera1/detect2/NG/2026-03-10_12.00.00.jpg";
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(file); }));
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(monitorRoot() + "/20260310/camera1/detect2/NG/escape.jpg"); }));
    EXPECT_EQ(QImage(file).size(), QSize(64, 64));

    EXPECT_FALSE(QDir(monitorRoot() + "/20260101").exists()) << "the oldest day goes";
    EXPECT_TRUE(QDir(monitorRoot() + "/20260102").exists());
    EXPECT_TRUE(QFile::exists(monitorRoot() + "/my data;x/keep.txt")) << "not a day folder of ours";

    // A new camera folder on the same day checks again; each creation removes at most
    // one folder, and today's is kept even when no day at all should be.
    copy.days = 0;
    copy.add_map_actqueue("./alarmimage/camera2/detect1/NG", "b", picture(8));
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(monitorRoot() + "/20260310/camera2/detect1/NG/b.jpg"); }));
    EXPECT_FALSE(QDir(monitorRoot() + "/20260102").exists());
    EXPECT_TRUE(QDir(monitorRoot() + "/20260103").exists());
    copy.add_map_actqueue("./alarmimage/camera2/detect1/NG", "b2", picture(8));
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(monitorRoot() + "/20260310/camera2/detect1/NG/b2.jpg"); }));
    EXPECT_TRUE(QDir(monitorRoot() + "/20260103").exists()) << "no folder made, nothing removed";
    Clock::advance(24LL * 3600 * 1000);
    copy.add_map_actqueue(kLocalDir, "c", picture(8));
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(monitorRoot() + "/20260311/camera1/detect2/NG/c.jpg"); }));
    EXPECT_FALSE(QDir(monitorRoot() + "/20260103").exists());
    EXPECT_TRUE(QDir(monitorRoot() + "/20260104").exists());
    EXPECT_TRUE(QDir(monitorRoot() + "/20260310").exists());
    for (const QString& name : nearMisses)
        EXPECT_TRUE(QDir(monitorRoot() + "/" + name).exists()) << name.toStdString();
}

// A stick can hold links to folders or files of the box: the copy never follows one
// (nothing lands outside the stick, nothing of the box is removed), and the stick
// is mounted so that nothing on it runs or opens a device.
TEST_F(CopyTest, LinksOnTheStickNeverLeadTheCopyOutOfIt)
{
    mountAndTarget();
    QFile mounts("/proc/self/mounts");
    ASSERT_TRUE(mounts.open(QIODevice::ReadOnly));
    const QString line = QString::fromLocal8Bit(mounts.readAll()).split('\n').filter(sticks[0]->device() + " ").value(0);
    for (const char* option : {"nosuid", "nodev", "noexec"})
        EXPECT_TRUE(line.split(' ').value(3).split(',').contains(option)) << line.toStdString();

    QTemporaryDir box;
    ASSERT_TRUE(writeWholeFile(box.filePath("victim.jpg"), "box"));
    auto boxUntouched = [&] {
        return QDir(box.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)
                   == QStringList{"victim.jpg"}
            && QFile(box.filePath("victim.jpg")).size() == 3;
    };
    // The monitor folder itself, then a day folder, then a detection folder as links.
    const QStringList linkPlaces{"", "/20260310", "/20260310/camera1/detect2"};
    int dropped = 0;
    for (const QString& place : linkPlaces) {
        SCOPED_TRACE(place.toStdString());
        QFile::remove(monitorRoot());  // the link of the round before, never its target
        QDir(monitorRoot()).removeRecursively();
        ASSERT_TRUE(place.isEmpty() || QDir().mkpath(QFileInfo(monitorRoot() + place).path()));
        ASSERT_TRUE(QFile::link(box.path(), monitorRoot() + place));
        copy.add_map_actqueue(kLocalDir, "x", picture(16));
        ++dropped;
        ASSERT_TRUE(waitUntil([&] { return copy.droppedCount() == dropped; })) << copy.droppedCount();
        EXPECT_TRUE(boxUntouched());
    }

    // A link in place of the picture is replaced, its target kept; a linked old day
    // folder is not one of ours to prune.
    QFile::remove(monitorRoot() + "/20260310/camera1/detect2");
    const QString picturePath = monitorRoot() + "/20260310/camera1/detect2/NG/y.jpg";
    ASSERT_TRUE(QDir().mkpath(QFileInfo(picturePath).path()));
    ASSERT_TRUE(QFile::link(box.filePath("victim.jpg"), picturePath));
    ASSERT_TRUE(QFile::link(box.path(), monitorRoot() + "/20200101"));
    copy.days = 1;
    copy.add_map_actqueue("./alarmimage/camera3/detect1/NG", "z", picture(16));
    copy.add_map_actqueue(kLocalDir, "y", picture(16));
    ASSERT_TRUE(waitUntil([&] { return QFileInfo(picturePath).isFile() && !QFileInfo(picturePath).isSymLink(); }));
    EXPECT_EQ(QImage(picturePath).size(), QSize(16, 16));
    EXPECT_TRUE(QFileInfo(monitorRoot() + "/20200101").isSymLink());
    EXPECT_TRUE(boxUntouched());
    EXPECT_EQ(copy.droppedCount(), dropped);
}

TEST_F(CopyTest, AStaleOrLostTargetNeverFillsTheSystemDisk)
{
    mountAndTarget();
    // Pulled without the announcement arriving yet: the folder is no mount point any more.
    pullStick(0);
    ASSERT_TRUE(manager->scanOnce());
    copy.add_map_actqueue(kLocalDir, "lost", picture(16));
    ASSERT_TRUE(waitUntil([&] { return copy.droppedCount() == 1; }));
    EXPECT_TRUE(QDir(mountPoint(0)).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());

    // Another stick now holds "/mnt": still not the target's disk.
    plugStick(1);
    ASSERT_TRUE(manager->scanOnce());
    copy.add_map_actqueue(kLocalDir, "other", picture(16));
    ASSERT_TRUE(waitUntil([&] { return copy.droppedCount() == 2; }));
    EXPECT_FALSE(QDir(mountPoint(0) + "/monitor_" + uuidOf(0)).exists());

    // The target plugged again lands elsewhere: the same disk, another place.
    plugStick(0);
    ASSERT_TRUE(manager->scanOnce());
    copy.diskInfoChange(manager->disks());
    EXPECT_EQ(copy.targetUuid(), uuidOf(0));
    ASSERT_EQ(copy.targetPath(), mountPoint(1)) << "the target follows its disk";
    copy.add_map_actqueue(kLocalDir, "found", picture(16));
    ASSERT_TRUE(waitUntil(
        [&] { return QFile::exists(mountPoint(1) + "/monitor_" + uuidOf(0) + "/20260310/camera1/detect2/NG/found.jpg"); }));
}

TEST_F(CopyTest, TheTargetComesAndGoesWithOneSignalEach)
{
    copy.start();
    EXPECT_EQ(QThreadPool::globalInstance()->activeThreadCount(), 0) << "the shared pool stays free for dialogs";
    QSignalSpy spy(&copy, &Copy2MoveDisk::diskStateChange);
    copy.diskInfoChange({disk("A", "/mnt"), disk("B", "/mnt0")});
    copy.diskInfoChange({disk("A", "/mnt")});
    copy.diskInfoChange({disk("B", "/mnt0")});
    EXPECT_EQ(copy.targetUuid(), "B") << "another disk takes over without a gap";
    copy.diskInfoChange({disk("C", QString())});
    EXPECT_EQ(copy.targetPath(), QString()) << "an unmounted disk is no target";
    copy.diskInfoChange({});
    ASSERT_EQ(spy.count(), 2);
    EXPECT_TRUE(spy.at(0).at(0).toBool());
    EXPECT_FALSE(spy.at(1).at(0).toBool());

    copy.stop();
    copy.diskInfoChange({disk("A", "/mnt")});
    EXPECT_EQ(spy.count(), 2) << "silent while stopped";
    copy.add_map_actqueue(kLocalDir, "x", picture(8));
    EXPECT_EQ(copy.droppedCount(), 0) << "nothing is queued while stopped";
}

TEST_F(CopyTest, AFullQueueDropsAndCountsButLosesNothingElse)
{
    mountAndTarget();
    // 64 MiB each: the byte bound holds four while the worker is busy.
    const QImage big = picture(4096);
    constexpr int kImages = 12;
    for (int i = 0; i < kImages; ++i)
        copy.add_map_actqueue(kLocalDir, QStringLiteral("big%1").arg(i), big);
    const QString folder = monitorRoot() + "/20260310/camera1/detect2/NG";
    auto written = [&] { return QDir(folder).entryList({"*.jpg"}, QDir::Files).size(); };
    ASSERT_TRUE(waitUntil([&] { return written() + copy.droppedCount() == kImages; }, 30000));
    EXPECT_GT(copy.droppedCount(), 0);
    EXPECT_GE(written(), 4);
    for (const QString& name : QDir(folder).entryList({"*.jpg"}, QDir::Files))
        EXPECT_EQ(QImage(folder + "/" + name).size(), QSize(4096, 4096)) << name.toStdString();
}
