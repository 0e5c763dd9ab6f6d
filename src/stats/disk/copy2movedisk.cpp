#include "copy2movedisk.h"

#include "clock.h"
#include "confineddir.h"
#include "procmounts.h"
#include "shellrunner.h"

#include <QDebug>
#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QThread>

#include <algorithm>

namespace {
constexpr const char* kLocalRoot = "alarmimage";
constexpr const char* kMonitorPrefix = "monitor_";
constexpr const char* kDayFormat = "yyyyMMdd";
constexpr int kRemoveTimeoutMs = 60000;

// The part of the local image folder below "alarmimage", without "." or ".." steps.
QString subPathOf(const QString& localDir)
{
    const int at = localDir.indexOf(QLatin1String(kLocalRoot));
    if (at < 0)
        return QString();
    QStringList parts;
    for (const QString& part : localDir.mid(at + int(qstrlen(kLocalRoot))).split('/', Qt::SkipEmptyParts)) {
        if (part != QLatin1String(".") && part != QLatin1String(".."))
            parts.append(part);
    }
    return parts.join('/');
}

bool isDayFolder(const QString& name)
{
    static const QRegularExpression pattern(QStringLiteral("^\\d{8}$"));
    return pattern.match(name).hasMatch();
}
} // namespace

Copy2MoveDisk* Copy2MoveDisk::_instance = nullptr;

Copy2MoveDisk* Copy2MoveDisk::getInstance()
{
    if (!_instance)
        _instance = new Copy2MoveDisk(nullptr);
    return _instance;
}

Copy2MoveDisk::Copy2MoveDisk(QObject* parent)
    : QObject(parent)
{
    qRegisterMetaType<UPanInfo>("UPanInfo");
    qRegisterMetaType<QVector<UPanInfo>>("QVector<UPanInfo>");
}

Copy2MoveDisk::~Copy2MoveDisk()
{
    stop();
    if (_instance == this)
        _instance = nullptr;
}

void Copy2MoveDisk::start()
{
    if (m_worker)
        return;
    m_stop = false;
    m_worker.reset(QThread::create([this] {
        while (!m_stop) {
            {
                QMutexLocker lock(&mutex);
                if (queue.isEmpty() && !m_stop)
                    m_wake.wait(&mutex, kPollMs);
            }
            drainOnce();
        }
        qDebug() << "_future" << "exit";
    }));
    m_worker->setObjectName(QStringLiteral("Copy2MoveDisk"));
    m_worker->start();
}

void Copy2MoveDisk::stop()
{
    {
        QMutexLocker lock(&mutex);
        m_stop = true;
        m_wake.wakeAll();
    }
    if (m_worker) {
        m_worker->wait();
        m_worker.reset();
    }
}

QString Copy2MoveDisk::targetPath() const
{
    QMutexLocker lock(&mutex);
    return prepath;
}

QString Copy2MoveDisk::targetUuid() const
{
    QMutexLocker lock(&mutex);
    return device_id;
}

void Copy2MoveDisk::diskInfoChange(QVector<UPanInfo> disks)
{
    bool had = false;
    bool has = false;
    QString path;
    QString uuid;
    {
        QMutexLocker lock(&mutex);
        had = !device_id.isEmpty();
        auto same = std::find_if(disks.cbegin(), disks.cend(),
                                 [this](const UPanInfo& d) { return d.uuid == device_id && !d.mountPath.isEmpty(); });
        const UPanInfo* chosen = nullptr;
        if (had && same != disks.cend()) {
            chosen = &*same;  // the same stick, possibly remounted elsewhere
        } else {
            auto mounted = std::find_if(disks.cbegin(), disks.cend(),
                                        [](const UPanInfo& d) { return !d.mountPath.isEmpty(); });
            if (mounted != disks.cend())
                chosen = &*mounted;
        }
        prepath = chosen ? chosen->mountPath : QString();
        device_id = chosen ? chosen->uuid : QString();
        m_targetNode = chosen ? chosen->devNode : QString();
        has = !device_id.isEmpty();
        path = prepath;
        uuid = device_id;
    }
    if (had != has && !m_stop)
        emit diskStateChange(has);
    qDebug() << "prepath" << path << "device_id" << uuid;
}

void Copy2MoveDisk::add_map_actqueue(QString localDir, QString name, QImage image)
{
    if (m_stop || image.isNull())
        return;
    name = QFileInfo(name).fileName();
    if (name.isEmpty() || name == QLatin1String(".."))
        return;
    const QString day = Clock::now().toString(QLatin1String(kDayFormat));
    const QString sub = subPathOf(localDir);
    const QString key = day + '/' + (sub.isEmpty() ? QString() : sub + '/') + name + QStringLiteral(".jpg");
    const qint64 bytes = image.sizeInBytes();
    QMutexLocker lock(&mutex);
    if (prepath.isEmpty())
        return;
    auto it = queue.find(key);
    const qint64 replaced = it != queue.end() ? it->sizeInBytes() : 0;
    if (m_queuedBytes - replaced + bytes > kMaxQueueBytes) {
        lock.unlock();
        drop(QStringLiteral("queue full"), 1);
        return;
    }
    m_queuedBytes += bytes - replaced;
    queue.insert(key, image);
    m_wake.wakeAll();
}

void Copy2MoveDisk::drop(const QString& why, int count)
{
    m_dropped += count;
    qWarning().noquote() << "USB image copy:" << count << "image(s) not copied:" << why;
}

int Copy2MoveDisk::drainOnce()
{
    QMap<QString, QImage> batch;
    QString target;
    QString uuid;
    QString node;
    {
        QMutexLocker lock(&mutex);
        batch.swap(queue);
        m_queuedBytes = 0;
        target = prepath;
        uuid = device_id;
        node = m_targetNode;
    }
    if (batch.isEmpty())
        return 0;
    // A stick pulled or remounted leaves an empty folder (or another stick) behind:
    // never fill the system disk or a disk that is not the target.
    const QVector<MountEntry> table = ProcMounts::read();
    const bool mounted = node.isEmpty() ? ProcMounts::isMountPoint(table, target)
                                        : ProcMounts::isMounted(table, node, target);
    if (target.isEmpty() || !mounted) {
        drop(QStringLiteral("no mounted target disk"), batch.size());
        return 0;
    }
    // Everything below the mount point is the stick's: a link there (to a folder of
    // the box) is never followed, each step is opened without following.
    const ConfinedDir disk(target);
    const QString monitorName = QLatin1String(kMonitorPrefix) + uuid;
    const QString today = Clock::now().toString(QLatin1String(kDayFormat));
    int written = 0;
    for (auto it = batch.cbegin(); it != batch.cend(); ++it) {
        const QString relative = monitorName + '/' + it.key();
        bool created = false;
        QString error;
        const ConfinedDir dir = disk.openDir(relative.section('/', 0, -2), true, &created, &error);
        if (!dir.isOpen()) {
            drop(QStringLiteral("cannot create ") + relative + QStringLiteral(": ") + error, 1);
            continue;
        }
        // Every new folder (day, camera or detection) checks the number of day folders.
        if (created)
            prune(disk, target, monitorName, today);
        // Encoded first and written whole: a full stick must not get a cut-short picture.
        QByteArray jpeg;
        QBuffer buffer(&jpeg);
        if (!buffer.open(QIODevice::WriteOnly) || !it.value().save(&buffer, "JPG")
            || !dir.writeFile(relative.section('/', -1), jpeg, &error)) {
            drop(QStringLiteral("cannot write ") + relative + QStringLiteral(": ") + error, 1);
            continue;
        }
        ++written;
    }
    return written;
}

void Copy2MoveDisk::prune(const ConfinedDir& disk, const QString& target, const QString& monitorName,
                          const QString& today)
{
    // Only our own day folders; anything else on the stick is the operator's.
    QStringList folders;
    for (const QString& name : disk.openDir(monitorName, false).folders()) {
        if (isDayFolder(name))
            folders.append(name);
    }
    if (folders.size() <= std::max(1, days.load()))
        return;
    // At most one folder per created folder: the oldest by name, never today's.
    folders.removeAll(today);
    if (folders.isEmpty())
        return;
    // Reached through real folders only (checked above); rm never follows a link inside.
    const QString victim = target + '/' + monitorName + '/' + folders.first();
    const ShellResult result =
        runProgram(QStringLiteral("rm"), {QStringLiteral("-rf"), QStringLiteral("--"), victim}, kRemoveTimeoutMs);
    qInfo() << "USB image copy: removed day folder" << victim << (result.ok() ? "true" : "false");
}
