#include "diskmanager.h"

#include "hostpaths.h"
#include "procmounts.h"
#include "shellrunner.h"
#include "systemdisks.h"

#include <QDebug>
#include <QFile>
#include <QMutexLocker>
#include <QThread>

namespace {
constexpr const char* kUdevDir = "/run/udev/data/";
// Block devices of major number 8: sd* disks and their partitions.
constexpr const char* kUdevFilter = "b8:*";
constexpr const char* kUuidLine = "S:disk/by-uuid/";
constexpr const char* kLabelLine = "S:disk/by-label";
constexpr const char* kBusLine = "E:ID_BUS";
constexpr const char* kFsTypeLine = "E:ID_FS_TYPE";
// A stick is data only: nothing on it runs, and no device file on it opens a device.
constexpr const char* kMountOptions = "nosuid,nodev,noexec";

QString afterLast(const QString& line, QChar sep)
{
    return line.mid(line.lastIndexOf(sep) + 1);
}

QStringList readLines(const QFileInfo& entry, bool* ok)
{
    QFile file(entry.absoluteFilePath());
    *ok = file.open(QIODevice::ReadOnly);
    return *ok ? QString::fromLocal8Bit(file.readAll()).split('\n') : QStringList();
}
} // namespace

DiskManager* DiskManager::_instance = nullptr;

DiskManager* DiskManager::getInstance()
{
    if (!_instance)
        _instance = new DiskManager(nullptr);
    return _instance;
}

DiskManager::DiskManager(QObject* parent)
    : QObject(parent)
{
    qRegisterMetaType<UPanInfo>("UPanInfo");
    qRegisterMetaType<QVector<UPanInfo>>("QVector<UPanInfo>");
    startupScan();
}

DiskManager::~DiskManager()
{
    stop();
    if (_instance == this)
        _instance = nullptr;
}

QString DiskManager::mountPoint(int index)
{
    return HostPaths::path(index == 0 ? QStringLiteral("/mnt") : QStringLiteral("/mnt%1").arg(index - 1));
}

QFileInfoList DiskManager::udevEntries() const
{
    return udevDir.entryInfoList({QString::fromLatin1(kUdevFilter)}, QDir::Files | QDir::System, QDir::Time);
}

QString DiskManager::resolveUuid(const QString& uuid)
{
    QString node;
    get_device(uuid, node, DiskByUuid);
    return node;
}

void DiskManager::startupScan()
{
    udevDir.setPath(HostPaths::path(kUdevDir));
    m_systemDisks = SystemDisks::find();
    QMap<QString, QString> uuidByEntry;
    for (const QFileInfo& entry : udevEntries()) {
        bool ok = false;
        const QStringList lines = readLines(entry, &ok);
        if (!ok)
            continue;
        QString uuid;
        QString fsType;
        QString bus;
        for (const QString& line : lines) {
            if (line.startsWith(kUuidLine))
                uuid = afterLast(line, '/');
            else if (line.startsWith(kBusLine))
                bus = afterLast(line, '=');
            else if (line.startsWith(kFsTypeLine))
                fsType = afterLast(line, '=');
        }
        // Second guard: an ext4 file system present at start and not on USB marks
        // a system disk, whatever the mount table says.
        if (fsType == QLatin1String("ext4") && bus != QLatin1String("usb") && !uuid.isEmpty()) {
            for (const QString& disk : SystemDisks::wholeDisksOf(resolveUuid(uuid)))
                m_systemDisks.addDisk(disk);
        }
        uuidByEntry.insert(entry.fileName(), uuid);
    }
    for (auto it = uuidByEntry.cbegin(); it != uuidByEntry.cend(); ++it) {
        const QString node = it.value().isEmpty() ? QString() : resolveUuid(it.value());
        if (!node.isEmpty() && m_systemDisks.holds(node))
            ignoreList.append(it.key());
    }
    qInfo() << "disk manager: system disks" << m_systemDisks.describe() << "ignored entries" << ignoreList;
}

bool DiskManager::isSystemDevice(const QString& node) const
{
    if (!m_systemDisks.holds(node))
        return false;
    qWarning().noquote() << "disk manager: not touching" << node << "- system disks" << m_systemDisks.describe();
    return true;
}

void DiskManager::start()
{
    if (m_worker)
        return;
    m_stop = false;
    // Mounts left from an earlier run; done here, not on construction, so
    // that merely wiring the signal never unmounts anything.
    for (int i = 0; i < kMountPointCount; ++i)
        clear_mount(mountPoint(i));
    m_worker.reset(QThread::create([this] {
        while (!m_stop) {
            QThread::msleep(kPollMs);
            if (!m_stop)
                scanOnce();
        }
    }));
    m_worker->setObjectName(QStringLiteral("DiskManager"));
    m_worker->start();
}

void DiskManager::stop()
{
    m_stop = true;
    if (m_worker) {
        m_worker->wait();
        m_worker.reset();
    }
}

bool DiskManager::scanOnce()
{
    bool changed = false;
    QMap<QString, UPanInfo> found;
    QMap<QString, QString> entryOfUuid;
    for (const QFileInfo& entry : udevEntries()) {
        if (ignoreList.contains(entry.fileName()))
            continue;
        bool ok = false;
        const QStringList lines = readLines(entry, &ok);
        if (!ok)
            continue;
        UPanInfo info;
        for (const QString& line : lines) {
            if (line.startsWith(kUuidLine))
                info.uuid = afterLast(line, '/');
            else if (line.startsWith(kBusLine))
                info.bus = afterLast(line, '=');
            else if (line.startsWith(kLabelLine))
                info.label = afterLast(line, '/');
        }
        if (info.uuid.isEmpty()) {
            ignoreList.append(entry.fileName());
            continue;
        }
        // Newest entry first: an older entry with the same UUID is a leftover.
        if (!found.contains(info.uuid)) {
            found.insert(info.uuid, info);
            entryOfUuid.insert(info.uuid, entry.fileName());
        }
    }

    const QVector<UPanInfo> known = disks();
    for (int i = known.size() - 1; i >= 0; --i) {
        const UPanInfo& disk = known.at(i);
        if (!found.contains(disk.uuid)) {
            clear_mount(disk.devNode);
            removeUPanInfo(i);
            changed = true;
            continue;
        }
        found.remove(disk.uuid);
        const QString node = resolveUuid(disk.uuid);
        if (node == disk.devNode)
            continue;
        if (node.isEmpty()) {
            clear_mount(disk.devNode);
            removeUPanInfo(i);
            changed = true;
            continue;
        }
        // Same stick on another node: mounted again below.
        if (!disk.mountPath.isEmpty())
            clear_mount(disk.mountPath);
        UPanInfo moved = disk;
        moved.devNode = node;
        moved.mountPath.clear();
        updateUPanInfo(moved);
        changed = true;
    }

    for (const UPanInfo& fresh : qAsConst(found)) {
        if (!get_mountDisk(fresh.uuid).uuid.isEmpty())
            continue;
        UPanInfo info = fresh;
        info.devNode = resolveUuid(fresh.uuid);
        if (info.devNode.isEmpty())
            continue;
        if (isSystemDevice(info.devNode)) {
            ignoreList.append(entryOfUuid.value(fresh.uuid));
            continue;
        }
        updateUPanInfo(info);
    }

    const QVector<UPanInfo> pending = disks();
    for (int i = pending.size() - 1; i >= 0; --i) {
        UPanInfo disk = pending.at(i);
        if (!disk.mountPath.isEmpty())
            continue;
        const QString path = get_efficientMountPath();
        if (path.isEmpty()) {
            // Never stack a mount on a busy point; retried when one frees.
            qInfo() << "disk manager: no free mount point for" << disk.devNode;
            continue;
        }
        QDir().mkpath(path);
        clear_mount(disk.devNode);
        if (!mountCommand(disk.devNode, path)) {
            removeUPanInfo(disk.uuid);
            continue;
        }
        disk.mountPath = path;
        updateUPanInfo(disk);
        changed = true;
    }

    if (changed)
        emit diskInfoChange(disks());
    return changed;
}

QVector<UPanInfo> DiskManager::disks() const
{
    QMutexLocker lock(&mutex);
    return diskList;
}

QStringList DiskManager::getMountPath() const
{
    QMutexLocker lock(&mutex);
    QStringList paths;
    for (const UPanInfo& disk : diskList) {
        if (!disk.mountPath.isEmpty())
            paths.append(disk.mountPath);
    }
    return paths;
}

QString DiskManager::get_efficientMountPath() const
{
    const QStringList used = getMountPath();
    for (int i = 0; i < kMountPointCount; ++i) {
        if (!used.contains(mountPoint(i)))
            return mountPoint(i);
    }
    return QString();
}

UPanInfo DiskManager::get_mountDisk(QString uuid) const
{
    QMutexLocker lock(&mutex);
    UPanInfo match;
    for (const UPanInfo& disk : diskList) {
        if (disk.uuid == uuid)
            match = disk;
    }
    return match;
}

void DiskManager::updateUPanInfo(UPanInfo info)
{
    QMutexLocker lock(&mutex);
    bool matched = false;
    for (UPanInfo& disk : diskList) {
        if (disk.uuid != info.uuid)
            continue;
        disk.devNode = info.devNode;
        disk.bus = info.bus;
        disk.mountPath = info.mountPath;
        matched = true;
    }
    if (!matched)
        diskList.append(info);
}

void DiskManager::removeUPanInfo(int index)
{
    QMutexLocker lock(&mutex);
    if (index >= 0 && index < diskList.size())
        diskList.removeAt(index);
}

void DiskManager::removeUPanInfo(QString uuid)
{
    QMutexLocker lock(&mutex);
    for (int i = diskList.size() - 1; i >= 0; --i) {
        if (diskList.at(i).uuid == uuid)
            diskList.removeAt(i);
    }
}

void DiskManager::clear_mount(QString target)
{
    qInfo() << "clear_mount";
    bool ok = false;
    const QVector<MountEntry> table = ProcMounts::read(&ok);
    if (!ok)
        return;
    int count = 0;
    for (const MountEntry& entry : table) {
        if ((entry.device == target || entry.mountPoint == target) && !isSystemDevice(entry.device))
            ++count;
    }
    for (int i = 0; i < count; ++i) {
        const ShellResult result = runProgram(QStringLiteral("umount"), {target}, kUmountTimeoutMs);
        qDebug() << "clear_mount:" << "umount" << target << i << (result.timedOut ? "false" : "true");
    }
    qInfo() << "end" << "clear_mount";
}

bool DiskManager::mountCommand(QString device, QString path)
{
    if (isSystemDevice(device))
        return false;
    const ShellResult result = runProgram(QStringLiteral("mount"),
                                          {QStringLiteral("-o"), QLatin1String(kMountOptions), device, path},
                                          kMountTimeoutMs);
    qInfo() << "mount" << device << path << (result.started && !result.timedOut ? "true" : "false");
    if (!result.started || result.timedOut)
        return false;
    QThread::msleep(kMountSettleMs);
    bool ok = false;
    const bool mounted = ProcMounts::isMounted(ProcMounts::read(&ok), device, path);
    qInfo() << "/proc/mounts" << (mounted ? "true" : "false");
    if (!mounted && !result.stdErr.isEmpty())
        qWarning().noquote() << "mount" << device << "failed:" << QString::fromLocal8Bit(result.stdErr).trimmed();
    return ok && mounted;
}

void DiskManager::umountCommand(QString target)
{
    const ShellResult result = runProgram(QStringLiteral("umount"), {target}, kMountTimeoutMs);
    qDebug() << "umount" << target << (result.timedOut ? "false" : "true");
}
