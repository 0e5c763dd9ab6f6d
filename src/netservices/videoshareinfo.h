#pragma once

#include <QSharedPointer>

class CNT_Semaphore;

// One shared screen frame: a System V segment of one I420 frame and the
// semaphore guarding it, as offered to the companion process.
struct VideoShareInfo
{
    static constexpr int kFps = 20;   // reported; frames are written every 80 ms

    int cameraId = 0;
    int width = 0;
    int height = 0;
    int size = 0;       // width * height * 3 / 2
    int shmid = -1;
    int semid = -1;
    void* address = nullptr;   // null when not attached
    QSharedPointer<CNT_Semaphore> semaphore;
    int fps = kFps;

    bool usable() const { return shmid != -1 && semid != -1 && address && semaphore; }
};
