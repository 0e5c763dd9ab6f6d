#pragma once

#include "globals.h"

#include <QString>
#include <QThread>

#include <atomic>
#include <climits>

struct WaitingPicture;

// Writes the NG and OK pictures of the detection cycle as JPEG files under
// "./alarmimage/camera<c>/detect<d>/NG|OK", keeping at most the configured number of files
// per folder. The camera unit draws a picture into the shared table (gpFailImage under
// pMutexSaveFail); markPicture takes it out into a bounded queue at once, so the next
// cycle's picture never replaces one not written yet. Several threads write the queue
// in order, one picture of a folder at a time (its names and keep count stay in order).
class SaveFialImageThread : public QThread
{
    Q_OBJECT
public:
    static constexpr int kPollMs = 100;
    static constexpr const char* kRootDir = "./alarmimage";
    static constexpr const char* kTimeFormat = "yyyy-MM-dd_hh.mm.ss";
    // Free space pictures never take: the databases and counters need room to grow.
    static constexpr qint64 kFreeSpaceReserveBytes = 64LL * 1024 * 1024;
    // Pictures waiting for the writers: at most 32 (four cycles of 8 cameras; 16 at most were
    // seen beside 24 busy loops at 0.3 s) and 48 MiB (a grey 1280x1024 picture with its marks
    // takes about 1.3 MiB, a colour one 5 MiB); each writer holds one more, expanded (about
    // 7 MiB at 1280x1024). When full, the oldest OK picture goes first; with none left, the new one.
    static constexpr int kMaxQueued = 32;
    static constexpr qint64 kMaxQueuedBytes = 48LL * 1024 * 1024;
    // One thread writes a 1280x1024 picture in 5 ms on a quiet box, in 9 ms beside 8 busy
    // loops and in 20 ms beside 24; 8 cameras at 0.3 s need 27 a second, and the checks share
    // the cores too. Two threads double the time a loaded box gives the pictures.
    static constexpr int kWriters = 2;
    // Lost pictures are told together, at most one line per reason this often.
    static constexpr qint64 kLossReportMs = 5000;

    explicit SaveFialImageThread(QObject* parent = nullptr);
    ~SaveFialImageThread() override;

    // Queues the picture the camera unit stored for a camera, detection and slot (0 NG,
    // 1 OK), as taken in the cycle named, when such pictures are kept.
    static void markPicture(int camera, int detection, int slot, const QString& cycleId);
    // The pictures waiting and the memory they take.
    static int queuedCount();
    static qint64 queuedBytes();
    // Forgets the waiting and lost pictures (a fresh start for tests).
    static void clearQueue();

    // Writes what waits (the queue, and table slots marked in gisSaveFail); the number
    // of files written. Safe to call from several threads at once.
    int saveOnce();
    void stop();
    // Stops as stop() does, waiting at most ms for the writers to end; false when they still run.
    bool stopWithin(unsigned long ms);
    // Stops every writer running, each given ms to write what it holds.
    static void stopAllWithin(unsigned long ms);
    // For an exit() that does not come through the owners' destructors (a library ending the
    // program): waits for every writer, since the statics it uses go once this returns; the
    // exit watch ends the process if a writer never ends.
    static void stopAllAtExit() { stopAllWithin(ULONG_MAX); }
    // Tests shrink the reserve to fit a small file system.
    void setFreeSpaceReserve(qint64 bytes) { m_reserve = bytes; }

    static QString folderFor(int camera, int detection, int slot);

signals:
    // A file was written (the USB copy and the network side take it from here), with the id
    // of the cycle it was taken in. Emitted from the writing thread.
    void sigImageSaved(int camera, int detection, bool ok, QString path, QString cycleId);

protected:
    void run() override;

private:
    void writeUntilStopped();
    // Until a picture can be taken, a stop or the next poll.
    void waitForWork();
    // False when the picture was lost (and listed for the next loss report).
    bool write(WaitingPicture& job);
    // Logs the lost pictures gathered since the last report, when it is time (or now).
    void reportLosses(bool now);
    void prune(const QString& folder, int keep) const;
    // Removes the fewest of the folder's oldest pictures that bring the reserve plus the next
    // picture free, as the file system counts it; none, and false (the picture is skipped), when
    // all of them could not. The oldest beyond keep, which the count limit lets go with the
    // write, go first and are not told.
    bool makeRoom(const QString& folder, qint64 needed, int keep) const;

    std::atomic<qint64> m_reserve{kFreeSpaceReserveBytes};
    std::atomic<bool> m_skipping{false};
    std::atomic<bool> m_stopping{false};
    qint64 m_lastLossReportMs = -1;  // under pMutexSaveFail
};
