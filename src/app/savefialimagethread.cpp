#include "savefialimagethread.h"

#include "clock.h"
#include "copy2movedisk.h"
#include "failpicture.h"
#include "storedfile.h"

#include <QBuffer>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMutexLocker>
#include <QStorageInfo>
#include <QVector>
#include <QWaitCondition>

#include <algorithm>
#include <utility>

namespace {

// Under pMutexSaveFail: a mark the writer has not looked for yet, and its wake-up.
bool g_marked = false;
QWaitCondition g_markWake;

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
    if ((slot == 0 ? gPicNumNG : gPicNumOK) > 0) {
        // One frame per camera, detection and result waits for the writer: a cycle's picture
        // it has not taken yet is lost to the next one. Told, so that a plant knows.
        if (gisSaveFail[camera][detection][slot] && gSaveFailCycleId[camera][detection][slot] != cycleId)
            qWarning().noquote() << QStringLiteral("picture of camera %1, detection %2 (%3) of cycle %4 replaced before it was written")
                                        .arg(camera + 1)
                                        .arg(detection + 1)
                                        .arg(slot == 0 ? "NG" : "OK")
                                        .arg(gSaveFailCycleId[camera][detection][slot]);
        gisSaveFail[camera][detection][slot] = 1;
        gSaveFailCycleId[camera][detection][slot] = cycleId;
        g_marked = true;
        g_markWake.wakeAll();
    } else if (slot == 0 && !gisSaveFail[camera][detection][0]) {
        // No picture is kept: its NG number must not name the next one.
        gFailIndex[camera][detection] = 0;
    }
}

void SaveFialImageThread::stop()
{
    requestInterruption();
    if (pMutexSaveFail) {
        QMutexLocker lock(pMutexSaveFail);
        g_markWake.wakeAll();
    }
    wait();
}

void SaveFialImageThread::waitForMarks()
{
    if (!pMutexSaveFail) {
        msleep(kPollMs);
        return;
    }
    QMutexLocker lock(pMutexSaveFail);
    // Checked under the lock that mark and stop wake under: no wake-up is missed.
    if (!g_marked && !isInterruptionRequested())
        g_markWake.wait(pMutexSaveFail, kPollMs);
    g_marked = false;
}

void SaveFialImageThread::run()
{
    while (!isInterruptionRequested()) {
        saveOnce();
        waitForMarks();
    }
    // Pictures marked just before the stop (a restart, a power-off) are still written.
    saveOnce();
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

bool SaveFialImageThread::makeRoom(const QString& folder, qint64 needed) const
{
    const auto enoughFree = [&] {
        QStorageInfo storage(folder);
        storage.refresh();
        return !storage.isValid() || storage.bytesAvailable() >= m_reserve + needed;
    };
    // The folder is listed only when room must be made: the writer keeps pace with the cycle.
    if (enoughFree())
        return true;
    const QFileInfoList files = oldestFirst(folder);
    for (const QFileInfo& file : files) {
        QFile::remove(file.absoluteFilePath());
        if (enoughFree())
            return true;
    }
    return false;
}

int SaveFialImageThread::saveOnce()
{
    if (!pMutexSaveFail)
        return 0;
    int written = 0;
    FailPicture taken;
    for (int camera = 0; camera < kMaxCameras; ++camera) {
        for (int detection = 0; detection < kMaxDetections; ++detection) {
            for (int slot = 0; slot < 2; ++slot) {
                int failIndex = 0;
                QString cycleId;
                {
                    QMutexLocker lock(pMutexSaveFail);
                    if (!gisSaveFail[camera][detection][slot])
                        continue;
                    gisSaveFail[camera][detection][slot] = 0;
                    cycleId = std::exchange(gSaveFailCycleId[camera][detection][slot], QString());
                    FailPicture* image = gpFailImage[camera][detection][slot];
                    if (!image || image->isEmpty())
                        continue;
                    // Taken out as stored (grey) under the lock, expanded outside it:
                    // nothing reads a picture once marked, and the table holds none between cycles.
                    taken = FailPicture();
                    taken.swap(*image);
                    // Taken and reset in the same locked step, so an NG number
                    // stored meanwhile belongs to the next image.
                    if (slot == 0) {
                        failIndex = gFailIndex[camera][detection];
                        gFailIndex[camera][detection] = 0;
                    }
                }
                const QString folder = folderFor(camera, detection, slot);
                QDir().mkpath(folder);
                const int limit = slot == 0 ? gPicNumNG : gPicNumOK;
                prune(folder, qMax(limit, 1) - 1);

                QString name = Clock::now().toString(kTimeFormat);
                if (failIndex > 0)
                    name = QStringLiteral("%1_%2").arg(failIndex).arg(name);
                // A second picture within the same second must not replace the first.
                QString path = QStringLiteral("%1/%2.jpg").arg(folder, name);
                for (int n = 2; QFile::exists(path); ++n)
                    path = QStringLiteral("%1/%2_%3.jpg").arg(folder, name).arg(n);
                QImage image(taken.width(), taken.height(), QImage::Format_RGB32);
                if (image.isNull())
                    continue;
                taken.restore(reinterpret_cast<QRgb*>(image.bits()));
                QByteArray jpeg;
                QBuffer buffer(&jpeg);
                if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "JPG")) {
                    qWarning() << "NG image not encoded:" << path;
                    continue;
                }
                if (!makeRoom(folder, jpeg.size())) {
                    if (!m_skipping)
                        qWarning() << "Pictures skipped: free space below the reserve of" << m_reserve << "bytes";
                    m_skipping = true;
                    continue;
                }
                m_skipping = false;
                // Written under a temporary name: the USB copy, the API and a power cut
                // never see half a picture (the temporary name is no "*.jpg").
                if (!StoredFile::write(path, jpeg))
                    continue;
                ++written;
                if (slot == 0 && Copy2MoveDisk::_instance)
                    Copy2MoveDisk::_instance->add_map_actqueue(folder, QFileInfo(path).completeBaseName(), image);
                emit sigImageSaved(camera, detection, slot != 0, path, cycleId);
            }
        }
    }
    return written;
}
