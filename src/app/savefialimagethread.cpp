#include "savefialimagethread.h"

#include "clock.h"
#include "copy2movedisk.h"
#include "failpicture.h"
#include "loglimiter.h"
#include "spacereclaim.h"
#include "storedfile.h"

#include <QBuffer>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMutexLocker>
#include <QScopeGuard>
#include <QStorageInfo>
#include <QSet>
#include <QVector>
#include <QWaitCondition>

#include <algorithm>
#include <climits>
#include <deque>
#include <memory>
#include <utility>
#include <vector>

namespace {

int folderKey(int camera, int detection, int slot)
{
    return (camera * kMaxDetections + detection) * 2 + slot;
}

} // namespace

// A picture taken out of the table, waiting for a writer.
struct WaitingPicture
{
    int camera = 0;
    int detection = 0;
    int slot = 0;
    QString cycleId;
    QDateTime taken;
    int failIndex = 0;
    FailPicture picture;
    qint64 bytes = 0;

    int folderKey() const { return ::folderKey(camera, detection, slot); }
};

namespace {

constexpr const char* kQueueFull = "the writers' queue was full";
constexpr const char* kNoMemory = "no memory to expand it";
constexpr const char* kNotEncoded = "not encoded";
constexpr const char* kNoRoom = "free space below the reserve";
constexpr const char* kNotStored = "the file was not stored";

struct LostPicture
{
    const char* reason;
    QString what;
};

struct SharedState
{
    // Under pMutexSaveFail.
    std::deque<WaitingPicture> queue;
    qint64 queuedBytes = 0;
    QSet<int> writing;  // the folders a writer is writing into
    QVector<LostPicture> lost;
    QWaitCondition work;
    int mostQueued = 0;  // the most pictures that have waited at once
    // The writers running, for an end of the program that is no return from main; under runningMutex.
    QMutex runningMutex;
    QSet<SaveFialImageThread*> running;
};

// Never destroyed: exit() (a library's call included) destroys statics while writers may still
// wait on them, and destroying a wait condition with waiters blocks for ever.
SharedState& shared()
{
    static auto* state = new SharedState;
    return *state;
}

std::deque<WaitingPicture>& g_queue = shared().queue;
qint64& g_queuedBytes = shared().queuedBytes;
QSet<int>& g_writing = shared().writing;
QVector<LostPicture>& g_lost = shared().lost;
QWaitCondition& g_work = shared().work;
int& g_mostQueued = shared().mostQueued;

QString describe(const WaitingPicture& p)
{
    const QString picture = QStringLiteral("camera %1, detection %2 (%3)")
                                .arg(p.camera + 1)
                                .arg(p.detection + 1)
                                .arg(p.slot == 0 ? "NG" : "OK");
    // Without networking and API every id is empty: the time tells the picture.
    if (p.cycleId.isEmpty())
        return QStringLiteral("%1 taken at %2").arg(picture, p.taken.toString("yyyy-MM-dd hh:mm:ss.zzz"));
    return QStringLiteral("%1 of cycle %2").arg(picture, p.cycleId);
}

void lose(const WaitingPicture& picture, const char* reason)
{
    g_lost.push_back({reason, describe(picture)});
}

bool waiting(int folderKey)
{
    return g_writing.contains(folderKey) ||
           std::any_of(g_queue.cbegin(), g_queue.cend(), [folderKey](const WaitingPicture& p) { return p.folderKey() == folderKey; });
}

// True when the queue holds more pictures than it ever did.
bool enqueue(WaitingPicture picture)
{
    const auto full = [&picture] {
        return !g_queue.empty() && (int(g_queue.size()) >= SaveFialImageThread::kMaxQueued ||
                                    g_queuedBytes + picture.bytes > SaveFialImageThread::kMaxQueuedBytes);
    };
    while (full()) {
        const auto ok = std::find_if(g_queue.begin(), g_queue.end(), [](const WaitingPicture& p) { return p.slot == 1; });
        if (ok == g_queue.end()) {
            lose(picture, kQueueFull);
            return false;
        }
        lose(*ok, kQueueFull);
        g_queuedBytes -= ok->bytes;
        g_queue.erase(ok);
    }
    g_queuedBytes += picture.bytes;
    g_queue.push_back(std::move(picture));
    g_work.wakeAll();
    if (int(g_queue.size()) <= g_mostQueued)
        return false;
    g_mostQueued = int(g_queue.size());
    return true;
}

// The oldest picture of a folder no other writer is writing into.
std::deque<WaitingPicture>::iterator nextTakeable()
{
    return std::find_if(g_queue.begin(), g_queue.end(), [](const WaitingPicture& p) { return !g_writing.contains(p.folderKey()); });
}

bool take(WaitingPicture& job)
{
    const auto next = nextTakeable();
    if (next == g_queue.end())
        return false;
    job = std::move(*next);
    g_queue.erase(next);
    g_queuedBytes -= job.bytes;
    g_writing.insert(job.folderKey());
    return true;
}

// A slot stays marked while a picture of it waits.
void unmarkIdle()
{
    for (int camera = 0; camera < kMaxCameras; ++camera)
        for (int detection = 0; detection < kMaxDetections; ++detection)
            for (int slot = 0; slot < 2; ++slot) {
                if (gisSaveFail[camera][detection][slot] && !waiting(folderKey(camera, detection, slot))) {
                    gisSaveFail[camera][detection][slot] = 0;
                    gSaveFailCycleId[camera][detection][slot].clear();
                }
            }
}

} // namespace

SaveFialImageThread::SaveFialImageThread(QObject* parent)
    : QThread(parent)
{
}

SaveFialImageThread::~SaveFialImageThread()
{
    stop();
}

QString SaveFialImageThread::folderFor(int camera, int detection, int slot)
{
    return QStringLiteral("%1/camera%2/detect%3/%4")
        .arg(kRootDir)
        .arg(camera + 1)
        .arg(detection + 1)
        .arg(slot == 0 ? "NG" : "OK");
}

void SaveFialImageThread::markPicture(int camera, int detection, int slot, const QString& cycleId)
{
    if (camera < 0 || camera >= kMaxCameras || detection < 0 || detection >= kMaxDetections || slot < 0 || slot > 1 ||
        !pMutexSaveFail)
        return;
    QMutexLocker lock(pMutexSaveFail);
    if ((slot == 0 ? gPicNumNG : gPicNumOK) <= 0) {
        // No picture is kept: its NG number must not name the next one.
        if (slot == 0)
            gFailIndex[camera][detection] = 0;
        return;
    }
    gisSaveFail[camera][detection][slot] = 1;
    gSaveFailCycleId[camera][detection][slot] = cycleId;
    FailPicture* stored = gpFailImage[camera][detection][slot];
    if (!stored || stored->isEmpty())
        return;
    // Taken out as stored (packed) and with its NG number: the table is free for the
    // next cycle's picture, which can no longer replace this one.
    WaitingPicture picture;
    picture.camera = camera;
    picture.detection = detection;
    picture.slot = slot;
    picture.cycleId = cycleId;
    picture.taken = Clock::now();
    picture.picture.swap(*stored);
    picture.bytes = qint64(picture.picture.byteSize());
    if (slot == 0)
        picture.failIndex = std::exchange(gFailIndex[camera][detection], 0);
    if (!enqueue(std::move(picture)))
        return;
    const int most = g_mostQueued;
    const qint64 bytes = g_queuedBytes;
    lock.unlock();
    // Rare (a new most): how close the writers come to losing pictures on this box.
    qInfo().noquote() << QStringLiteral("pictures waiting for the writers: up to %1 (%2 KiB)").arg(most).arg(bytes / 1024);
}

int SaveFialImageThread::queuedCount()
{
    if (!pMutexSaveFail)
        return 0;
    QMutexLocker lock(pMutexSaveFail);
    return int(g_queue.size());
}

qint64 SaveFialImageThread::queuedBytes()
{
    if (!pMutexSaveFail)
        return 0;
    QMutexLocker lock(pMutexSaveFail);
    return g_queuedBytes;
}

void SaveFialImageThread::clearQueue()
{
    if (!pMutexSaveFail)
        return;
    QMutexLocker lock(pMutexSaveFail);
    g_queue.clear();
    g_queuedBytes = 0;
    g_lost.clear();
    g_mostQueued = 0;
}

void SaveFialImageThread::stop()
{
    stopWithin(ULONG_MAX);
}

bool SaveFialImageThread::stopWithin(unsigned long ms)
{
    m_stopping = true;
    requestInterruption();
    if (pMutexSaveFail) {
        QMutexLocker lock(pMutexSaveFail);
        g_work.wakeAll();
    }
    if (!wait(ms))
        return false;
    m_stopping = false;  // a later start() writes again
    return true;
}

void SaveFialImageThread::stopAllWithin(unsigned long ms)
{
    QList<SaveFialImageThread*> writers;
    {
        QMutexLocker lock(&shared().runningMutex);
        writers = shared().running.values();
    }
    for (SaveFialImageThread* writer : qAsConst(writers))
        writer->stopWithin(ms);
}

void SaveFialImageThread::waitForWork()
{
    if (!pMutexSaveFail) {
        msleep(kPollMs);
        return;
    }
    QMutexLocker lock(pMutexSaveFail);
    // Checked under the lock that mark and stop wake under: no wake-up is missed.
    if (!m_stopping && nextTakeable() == g_queue.end())
        g_work.wait(pMutexSaveFail, kPollMs);
}

void SaveFialImageThread::writeUntilStopped()
{
    while (!m_stopping) {
        saveOnce();
        waitForWork();
    }
}

void SaveFialImageThread::run()
{
    {
        QMutexLocker lock(&shared().runningMutex);
        shared().running.insert(this);
    }
    const auto unregister = qScopeGuard([this] {
        QMutexLocker lock(&shared().runningMutex);
        shared().running.remove(this);
    });
    std::vector<std::unique_ptr<QThread>> helpers;
    for (int i = 1; i < kWriters; ++i) {
        helpers.emplace_back(QThread::create([this] { writeUntilStopped(); }));
        helpers.back()->start();
    }
    writeUntilStopped();
    for (const auto& helper : helpers)
        helper->wait();
    // Pictures marked just before the stop (a restart, a power-off) are still written.
    saveOnce();
    reportLosses(true);
}

void SaveFialImageThread::reportLosses(bool now)
{
    QVector<LostPicture> lost;
    {
        QMutexLocker lock(pMutexSaveFail);
        const qint64 at = MonotonicClock::ms();
        if (g_lost.isEmpty() || (!now && m_lastLossReportMs >= 0 && at - m_lastLossReportMs < kLossReportMs))
            return;
        m_lastLossReportMs = at;
        lost.swap(g_lost);
    }
    // One line per reason, naming every picture: a plant must know which moulds' pictures are gone.
    while (!lost.isEmpty()) {
        const char* reason = lost.first().reason;
        QStringList names;
        for (auto it = lost.begin(); it != lost.end();) {
            if (it->reason == reason) {
                names << it->what;
                it = lost.erase(it);
            } else {
                ++it;
            }
        }
        qCWarning(LogLimiter::folded).noquote()
            << QStringLiteral("%1 picture(s) not written, %2: %3").arg(names.size()).arg(reason, names.join("; "));
    }
}

namespace {

QFileInfoList oldestFirst(const QString& folder)
{
    QFileInfoList files = QDir(folder).entryInfoList({"*.jpg"}, QDir::Files);
    std::sort(files.begin(), files.end(), [](const QFileInfo& a, const QFileInfo& b) {
        return a.lastModified() < b.lastModified() || (a.lastModified() == b.lastModified() && a.fileName() < b.fileName());
    });
    return files;
}

} // namespace

void SaveFialImageThread::prune(const QString& folder, int keep) const
{
    // Names only first: the times are read (a stat per file) only when some must go.
    if (QDir(folder).entryList({"*.jpg"}, QDir::Files).size() <= keep)
        return;
    const QFileInfoList files = oldestFirst(folder);
    for (int i = 0; i < files.size() - keep; ++i)
        QFile::remove(files.at(i).absoluteFilePath());
}

bool SaveFialImageThread::makeRoom(const QString& folder, qint64 needed, int keep) const
{
    const auto missing = [&]() -> qint64 {
        QStorageInfo storage(folder);
        return storage.isValid() ? m_reserve + needed - storage.bytesAvailable() : 0;
    };
    // The folder is listed only when room must be made: the writer keeps pace with the cycle.
    const qint64 lacking = missing();
    if (lacking <= 0)
        return true;
    const QFileInfoList files = oldestFirst(folder);
    qint64 most = 0;
    for (const QFileInfo& file : files)
        most += SpaceReclaim::mostFreed(file);
    // Another file can take the disk: the folder's pictures then stay, and the new one is lost alone.
    if (most < lacking)
        return false;
    // What is won is read from the file system after each removal. The oldest beyond keep go
    // first: the count limit lets them go with this picture anyway, and alone they are not told.
    const int rotating = qMax(0, files.size() - keep);
    const SpaceReclaim::Result own = SpaceReclaim::removeUntilFree(files.mid(0, rotating), missing);
    if (own.enough)
        return true;
    const SpaceReclaim::Result pruned = SpaceReclaim::removeUntilFree(files.mid(rotating), missing);
    if (pruned.files > 0)
        qWarning().noquote() << QStringLiteral("pictures removed to keep the free-space reserve: %1 file(s), %2 KiB, oldest first from %3")
                                    .arg(own.files + pruned.files)
                                    .arg((own.bytes + pruned.bytes) / 1024)
                                    .arg(folder);
    return pruned.enough;
}

int SaveFialImageThread::saveOnce()
{
    if (!pMutexSaveFail)
        return 0;
    int written = 0;
    WaitingPicture job;
    for (;;) {
        {
            QMutexLocker lock(pMutexSaveFail);
            if (!take(job))
                break;
        }
        if (write(job))
            ++written;
        QMutexLocker lock(pMutexSaveFail);
        g_writing.remove(job.folderKey());
    }
    {
        QMutexLocker lock(pMutexSaveFail);
        unmarkIdle();
    }
    reportLosses(false);
    return written;
}

bool SaveFialImageThread::write(WaitingPicture& job)
{
    const auto lost = [&job](const char* reason) {
        QMutexLocker lock(pMutexSaveFail);
        lose(job, reason);
        return false;
    };
    const QString folder = folderFor(job.camera, job.detection, job.slot);
    QDir().mkpath(folder);
    const int keep = qMax(job.slot == 0 ? gPicNumNG : gPicNumOK, 1) - 1;

    // Named by when it was taken: under load the writers lag the moulds by the queue.
    QString name = job.taken.toString(kTimeFormat);
    if (job.failIndex > 0)
        name = QStringLiteral("%1_%2").arg(job.failIndex).arg(name);
    // A second picture within the same second must not replace the first.
    QString path = QStringLiteral("%1/%2.jpg").arg(folder, name);
    for (int n = 2; QFile::exists(path); ++n)
        path = QStringLiteral("%1/%2_%3.jpg").arg(folder, name).arg(n);
    QImage image(job.picture.width(), job.picture.height(), QImage::Format_RGB32);
    if (image.isNull())
        return lost(kNoMemory);
    job.picture.restore(reinterpret_cast<QRgb*>(image.bits()));
    job.picture = FailPicture();  // its memory is not held while the file is written
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "JPG"))
        return lost(kNotEncoded);
    if (!makeRoom(folder, jpeg.size(), keep)) {
        if (!m_skipping.exchange(true))
            qWarning() << "Pictures skipped: free space below the reserve of" << m_reserve.load() << "bytes";
        return lost(kNoRoom);
    }
    m_skipping = false;
    // The count limit's oldest go only with a picture that takes their place: on a disk without
    // room they stay.
    prune(folder, keep);
    // Written under a temporary name: the USB copy, the API and a power cut
    // never see half a picture (the temporary name is no "*.jpg").
    if (!StoredFile::write(path, jpeg, nullptr, StoredFile::Retry::Drop))
        return lost(kNotStored);
    if (job.slot == 0 && Copy2MoveDisk::_instance)
        Copy2MoveDisk::_instance->add_map_actqueue(folder, QFileInfo(path).completeBaseName(), image);
    emit sigImageSaved(job.camera, job.detection, job.slot != 0, path, job.cycleId);
    return true;
}
