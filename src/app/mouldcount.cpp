#include "mouldcount.h"

#include "globals.h"

namespace MouldCount {

StepCount step(const QVector<int>& cameras, const QVector<bool>& checked, const QVector<bool>& ok,
               MachineCycle& cycle)
{
    StepCount count;
    for (int i = 0; i < cameras.size(); ++i) {
        const bool good = i >= ok.size() || ok.at(i);
        const bool counts = (i < checked.size() && checked.at(i)) || !good;
        const int camera = cameras.at(i);
        count.cameraOK << good;
        if (!good)
            count.ngCameras << QString::number(camera + 1);
        if (!counts || camera < 0 || camera >= kMaxCameras)
            continue;
        cycle.note(camera, good);
        // A Re-detect of a counted cycle checks the same mould again: no store counts it twice.
        if (cycle.counted)
            continue;
        ++gAllNum[camera];
        if (!good) {
            ++gFailNum[camera];
            count.ng = true;
        }
    }
    if (count.ng)
        ++gSyncNGNum;
    return count;
}

StepCount refused(const QVector<int>& cameras, MachineCycle& cycle)
{
    const QVector<bool> all(cameras.size(), true);
    StepCount count = step(cameras, all, QVector<bool>(cameras.size(), false), cycle);
    cycle.ng = true;
    return count;
}

void close(const MachineCycle& cycle)
{
    for (int camera = 0; camera < kMaxCameras; ++camera) {
        if (!cycle.cameraChecked[camera])
            continue;
        ++gAllCycleNum[camera];
        if (cycle.cameraNg[camera])
            ++gFailCycleNum[camera];
    }
    if (cycle.ng)
        ++gSyncNGCycleNum;
}

} // namespace MouldCount
