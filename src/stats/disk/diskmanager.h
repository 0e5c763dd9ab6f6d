#pragma once

#include "systemdisks.h"
#include "upaninfo.h"

#include <QDir>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QStringList>
#include <QVector>
#include <atomic>
#include <memory>

class QThread;

// Finds USB partitions as they come and go (udev's database, the by-uuid
// links), mounts each on one of "/mnt", "/mnt0".."/mnt3" and tells who listens
// which are usable. Host files are read under HostPaths; mount and umount go
// through the ShellRunner. The hot-plug worker has a thread of its own.
class DiskManager : public QObject
{
    Q_OBJECT
public:
    static constexpr int kPollMs = 50;
    static constexpr int kMountTimeoutMs = 2000;
    static constexpr int kMountSettleMs = 300;
    static constexpr int kUmountTimeoutMs = 200;
    static constexpr int kMountPointCount = 5;

    static DiskManager* _instance;
    static DiskManager* getInstance();

    explicit DiskManager(QObject* parent = nullptr);
    ~DiskManager() override;

    void start();
    void stop();

    QStringList getMountPath() const;
    QStringList getMountPaths() const { return getMountPath(); }
    // A free mount point; empty when all five are taken (a sixth partition waits).
    QString get_efficientMountPath() const;
    UPanInfo get_mountDisk(QString uuid) const;
    void updateUPanInfo(UPanInfo info);
    void removeUPanInfo(int index);
    void removeUPanInfo(QString uuid);
    QVector<UPanInfo> disks() const;

    void clear_mount(QString target);
    bool mountCommand(QString device, QString path);
    void umountCommand(QString target);

    // Mount point i (0 = "/mnt", 1.. = "/mnt0".."/mnt3") as a real path under the host root.
    static QString mountPoint(int index);
    QStringList ignoredEntries() const { return ignoreList; }
    const SystemDisks& systemDisks() const { return m_systemDisks; }

    // One pass of the hot-plug worker; true when the list changed (and was announced).
    bool scanOnce();

signals:
    void diskInfoChange(QVector<UPanInfo> disks);

private:
    void startupScan();
    QFileInfoList udevEntries() const;
    static QString resolveUuid(const QString& uuid);
    // True (and logged) for a node on a disk of the system, or on any disk while those are unknown.
    bool isSystemDevice(const QString& node) const;

    QDir udevDir;
    QStringList ignoreList;
    SystemDisks m_systemDisks;  // set by the start-up scan, read-only afterwards
    QVector<UPanInfo> diskList;
    mutable QMutex mutex;
    std::unique_ptr<QThread> m_worker;
    std::atomic<bool> m_stop{false};
};
