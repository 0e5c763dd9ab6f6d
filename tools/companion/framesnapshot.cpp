#include "framesnapshot.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/shm.h>

namespace FrameSnapshot {

namespace {

// The monitor's keys: "100" and "200" followed by the camera number.
constexpr int kSegmentProject = 1000;
constexpr int kSemaphoreProject = 2000;

QString lastError(const char* what)
{
    return QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace

bool write(const QString& path, QString* error)
{
    const int size = kWidth * kHeight * 3 / 2;
    const int shmid = shmget(ftok("/tmp", kSegmentProject), 0, 0);
    const int semid = semget(ftok("/tmp", kSemaphoreProject), 0, 0);
    if (shmid < 0 || semid < 0) {
        *error = lastError("no shared frame");
        return false;
    }
    void* address = shmat(shmid, nullptr, SHM_RDONLY);
    if (address == reinterpret_cast<void*>(-1)) {
        *error = lastError("shmat");
        return false;
    }
    cv::Mat yuv(kHeight * 3 / 2, kWidth, CV_8UC1);
    // SEM_UNDO: should this program die holding the frame, the kernel gives it back.
    sembuf take{0, -1, SEM_UNDO};
    const timespec wait{0, kWaitMs * 1000000L};
    const bool taken = semtimedop(semid, &take, 1, &wait) == 0;
    if (taken) {
        std::memcpy(yuv.data, address, size_t(size));
        sembuf give{0, 1, SEM_UNDO};
        semop(semid, &give, 1);
    }
    shmdt(address);
    if (!taken) {
        *error = lastError("semaphore");
        return false;
    }
    cv::Mat bgr;
    cv::cvtColor(yuv, bgr, cv::COLOR_YUV2BGR_I420);
    if (!cv::imwrite(path.toStdString(), bgr)) {
        *error = QStringLiteral("cannot write %1").arg(path);
        return false;
    }
    return true;
}

} // namespace FrameSnapshot
