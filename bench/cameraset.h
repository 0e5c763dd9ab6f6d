#pragma once

// Several check cameras and a pool with a thread per camera: runAll starts a
// task per camera and returns when all are done, as the detection cycle joins
// its checks before the verdict.

#include "benchcamera.h"

#include <QSemaphore>
#include <QThreadPool>

#include <array>
#include <functional>
#include <memory>
#include <vector>

struct CameraSet
{
    explicit CameraSet(int count, int angle = 0)
    {
        pool.setMaxThreadCount(count);
        pool.setExpiryTimeout(-1);
        for (int i = 0; i < count; ++i)
            cameras.push_back(benchcam::makeCheckCamera(angle));
    }

    void runAll(const std::function<void(int)>& check)
    {
        QSemaphore done;
        for (int i = 0; i < int(cameras.size()); ++i)
            pool.start([&check, &done, i] {
                check(i);
                done.release();
            });
        done.acquire(int(cameras.size()));
    }

    QThreadPool pool;
    std::vector<std::unique_ptr<benchcam::Camera>> cameras;
};
