#include "apisnapshot.h"

#include "globals.h"
#include "mainwindowbase.h"
#include "statecodes.h"
#include "vek_netmn.h"

#include <QJsonArray>
#include <QSqlDatabase>
#include <algorithm>

namespace {

constexpr int kResultNgShown = 2;

QJsonArray firstEntries(const int* values, int count)
{
    QJsonArray out;
    for (int i = 0; i < count && i < kMaxCameras; ++i)
        out.append(values[i]);
    return out;
}

} // namespace

ApiSnapshot ApiSnapshot::capture(const VEK_NETMN& hub)
{
    ApiSnapshot s;
    s.cameraCount = numCamera;
    s.detectCount = gDNum;
    s.deviceSn = gDeviceID;
    s.deviceName = hub.deviceName();
    s.todayRecordPath = gpWin ? gpWin->recordDatabase().databaseName() : QString();

    const int cameras = qBound(0, numCamera, kMaxCameras);
    int detectStatus = 0;
    if (gpWin && gpWin->resultState == kResultNgShown)
        detectStatus = gpWin->curDetectIndex == 0 ? 1 : 2;
    s.productInfos = QJsonObject{{"camera_count", numCamera},
                                 {"device_sn", gDeviceID},
                                 {"device_id", s.deviceName},
                                 {"run_status", gpWin && gpWin->runState != kRunStopped ? 1 : 0},
                                 {"detect_status", detectStatus},
                                 {"detect_all", *std::max_element(gAllCycleNum, gAllCycleNum + kMaxCameras)},
                                 {"detect_ng", gSyncNGCycleNum},
                                 {"detect_all_detail", firstEntries(gAllNum, cameras)},
                                 {"detect_ng_detail", firstEntries(gFailNum, cameras)}};
    return s;
}

bool ApiSnapshot::sameAs(const ApiSnapshot& other) const
{
    return cameraCount == other.cameraCount && detectCount == other.detectCount && deviceSn == other.deviceSn
           && deviceName == other.deviceName && todayRecordPath == other.todayRecordPath
           && productInfos == other.productInfos;
}
