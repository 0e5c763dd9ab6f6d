#include "videothread.h"

#include "cnt_semaphore.h"
#include "globals.h"
#include "mainwindowbase.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QPainter>
#include <QTimer>
#include <cstring>
#include <opencv2/imgproc.hpp>

VideoThread::VideoThread(const QMap<int, VideoShareInfo>& shares, const std::atomic<int>* allowState,
                         QObject* parent)
    : QThread(parent), m_allowState(allowState), m_grabTimer(new QTimer(this)), m_shares(shares)
{
    connect(m_grabTimer, &QTimer::timeout, this, &VideoThread::updateData_main2cache);
    m_grabTimer->start(kGrabMs);
    start();
}

VideoThread::~VideoThread()
{
    idestory();
}

void VideoThread::idestory()
{
    m_grabTimer->stop();
    m_running = false;
    // The loop sleeps at most one grab period and waits at most one semaphore wait.
    if (!wait(kStopWaitMs))
        qWarning() << "video thread did not stop in time";
}

void VideoThread::updateData_main2cache()
{
    // Nothing is written while the link does not allow it: the GUI thread is spared the grab.
    if (!gpWin || !m_shares.contains(kServedCamera) || !m_allowState || m_allowState->load() < 1)
        return;
    // The grab is the GUI thread's whole share of the work; sizing and conversion happen in run().
    const QImage picture = gpWin->grab().toImage();
    if (picture.isNull())
        return;
    QMutexLocker lock(&m_cacheMutex);
    m_cache.insert(kServedCamera, picture);
}

void VideoThread::run()
{
    QElapsedTimer pass;
    while (m_running) {
        pass.start();
        if (!m_allowState || m_allowState->load() < 1) {
            msleep(kIdleMs);
            continue;
        }
        QList<int> ids;
        {
            QMutexLocker lock(&m_cacheMutex);
            ids = m_cache.keys();
        }
        for (int id : ids) {
            QImage picture;
            {
                QMutexLocker lock(&m_cacheMutex);
                picture = m_cache.value(id);
            }
            const auto share = m_shares.constFind(id);
            if (share == m_shares.cend() || picture.isNull())
                continue;
            // The window has the screen's size, the share its own: brought to the share's first.
            QImage frame = fitFrame(picture, share->width, share->height);
            UpdateMemory(id, frame.bits());
        }
        const qint64 left = kGrabMs - pass.elapsed();
        if (left > 0)
            msleep(ulong(left));
    }
}

QImage VideoThread::fitFrame(const QImage& picture, int width, int height)
{
    if (picture.width() == width && picture.height() == height)
        return picture.convertToFormat(QImage::Format_RGB32);
    QImage frame(width, height, QImage::Format_RGB32);
    frame.fill(Qt::black);
    QImage source = picture;
    if (source.width() > width || source.height() > height)
        source = source.scaled(width, height, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QPainter painter(&frame);
    painter.drawImage(0, 0, source);
    return frame;
}

void VideoThread::UpdateMemory(int camera, void* bits)
{
    const auto found = m_shares.constFind(camera);
    if (!bits || found == m_shares.cend())
        return;
    const VideoShareInfo& share = found.value();
    if (!share.usable() || share.size != share.width * share.height * 3 / 2)
        return;
    const cv::Mat bgra(share.height, share.width, CV_8UC4, bits);
    cv::Mat i420;
    cv::cvtColor(bgra, i420, cv::COLOR_BGRA2YUV_I420);
    if (!share.semaphore->P_sem()) {
        ++m_skipped;   // a reader holds it too long: this frame is skipped, the next one tries again
        return;
    }
    std::memcpy(share.address, i420.data, size_t(share.size));
    share.semaphore->V_sem();
    ++m_written;
}
