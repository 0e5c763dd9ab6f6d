#pragma once

#include "upaninfo.h"

#include <QImage>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QWaitCondition>
#include <atomic>
#include <memory>

class ConfinedDir;
class QThread;

// Mirrors each NG image saved locally onto the target USB disk as
// <mount>/monitor_<uuid>/<yyyyMMdd>/<camera/detection path>/<name>.jpg and
// keeps at most `days` day folders there. The writer thread queues, a worker
// thread of its own writes; the target is chosen in the GUI thread.
class Copy2MoveDisk : public QObject
{
    Q_OBJECT
public:
    static constexpr int kPollMs = 50;
    static constexpr int kDefaultDays = 31;
    // Images waiting for a slow disk are bounded by memory, not by count.
    static constexpr qint64 kMaxQueueBytes = 256LL * 1024 * 1024;

    static Copy2MoveDisk* _instance;
    static Copy2MoveDisk* getInstance();

    explicit Copy2MoveDisk(QObject* parent = nullptr);
    ~Copy2MoveDisk() override;

    void start();
    void stop();
    bool isRunning() const { return !m_stop; }

    void add_map_actqueue(QString localDir, QString name, QImage image);

    // The target disk's mount path, empty when there is none.
    QString targetPath() const;
    QString targetUuid() const;

    // One worker pass: writes everything queued; returns the number of images written.
    int drainOnce();
    qint64 droppedCount() const { return m_dropped; }

    std::atomic<int> days{kDefaultDays};

signals:
    void diskStateChange(bool hasDisk);

public slots:
    void diskInfoChange(QVector<UPanInfo> disks);

private:
    void prune(const ConfinedDir& disk, const QString& target, const QString& monitorName, const QString& today);
    void drop(const QString& why, int count);

    std::atomic<bool> m_stop{true};
    std::unique_ptr<QThread> m_worker;
    // Keyed by day + "/" + relative path, so the order is by destination.
    QMap<QString, QImage> queue;
    qint64 m_queuedBytes = 0;
    std::atomic<qint64> m_dropped{0};
    mutable QMutex mutex;
    QWaitCondition m_wake;
    QString prepath;
    QString device_id;
    QString m_targetNode;  // device node of the target, to tell it from a stick mounted there since
};
