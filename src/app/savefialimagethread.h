#pragma once

#include "globals.h"

#include <QString>
#include <QThread>

// Writes the NG and OK images that the detection cycle marks in the shared
// table (gpFailImage, gisSaveFail, gFailIndex under pMutexSaveFail) as JPEG
// files under "./alarmimage/camera<c>/detect<d>/NG|OK", keeping at most the
// configured number of files per folder. Woken by each mark, and polls the table every 100 ms.
class SaveFialImageThread : public QThread
{
    Q_OBJECT
public:
    static constexpr int kPollMs = 100;
    static constexpr const char* kRootDir = "./alarmimage";
    static constexpr const char* kTimeFormat = "yyyy-MM-dd_hh.mm.ss";
    // Free space pictures never take: the databases and counters need room to grow.
    static constexpr qint64 kFreeSpaceReserveBytes = 64LL * 1024 * 1024;

    explicit SaveFialImageThread(QObject* parent = nullptr);
    ~SaveFialImageThread() override;

    // Marks the image the detection cycle stored for a camera, detection and slot (0 NG,
    // 1 OK) for writing, as taken in the cycle named, when such pictures are kept.
    static void markPicture(int camera, int detection, int slot, const QString& cycleId);

    // One pass over the table; the number of files written.
    int saveOnce();
    void stop();
    // Tests shrink the reserve to fit a small file system.
    void setFreeSpaceReserve(qint64 bytes) { m_reserve = bytes; }

    static QString folderFor(int camera, int detection, int slot);

signals:
    // A file was written (the USB copy and the network side take it from here), with the id
    // of the cycle it was taken in.
    void sigImageSaved(int camera, int detection, bool ok, QString path, QString cycleId);

protected:
    void run() override;

private:
    // Until a mark or the next poll.
    void waitForMarks();
    void prune(const QString& folder, int keep) const;
    // Removes the folder's oldest pictures until the reserve plus the next picture is
    // free; false (the picture is skipped) when the folder has none left to give.
    bool makeRoom(const QString& folder, qint64 needed) const;

    qint64 m_reserve = kFreeSpaceReserveBytes;
    bool m_skipping = false;
};
