#pragma once

#include "videoshareinfo.h"

#include <QImage>
#include <QMap>
#include <QMutex>
#include <QThread>
#include <atomic>

class QTimer;

// Shares the main window as video: the GUI thread grabs it every 80 ms into
// a cache, this thread converts it to I420 and copies it into the segment.
class VideoThread : public QThread
{
    Q_OBJECT
public:
    static constexpr int kGrabMs = 80;
    static constexpr int kIdleMs = 50;
    static constexpr int kServedCamera = 0;
    static constexpr int kStopWaitMs = 3000;

    // allowState is the link's send state (1 allowed), written in the GUI thread.
    VideoThread(const QMap<int, VideoShareInfo>& shares, const std::atomic<int>* allowState,
                QObject* parent = nullptr);
    ~VideoThread() override;

    // Stops the grabs and the thread; returns when the thread has ended.
    void idestory();

    // The picture brought to width x height: a larger one scaled down keeping its
    // aspect, then padded black at the right and bottom, as 4-byte BGRA pixels.
    static QImage fitFrame(const QImage& picture, int width, int height);
    // Converts one frame of the camera's share (bits: width x height pixels of 4 bytes,
    // B, G, R, A, rows without padding) and copies it into the segment. Counted as written,
    // or as skipped when the semaphore was not free within its wait.
    void UpdateMemory(int camera, void* bits);

    int framesWritten() const { return m_written; }
    int framesSkipped() const { return m_skipped; }

public slots:
    void updateData_main2cache();

protected:
    void run() override;

private:
    std::atomic<bool> m_running{true};
    const std::atomic<int>* m_allowState;
    QTimer* m_grabTimer;
    QMap<int, VideoShareInfo> m_shares;
    QMap<int, QImage> m_cache;
    QMutex m_cacheMutex;
    std::atomic<int> m_written{0};
    std::atomic<int> m_skipped{0};
};
