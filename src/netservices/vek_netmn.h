#pragma once

#include <QMap>
#include <QString>

// One ROI's inspection result as the network side reports it. The field order
// is the record's wire order.
struct param_roi
{
    int camera = 0;
    int group = 0;     // detection index
    int roi = 0;
    int function = 0;  // detection function 0..10
    int value = 0;     // measured value
    int param1 = -1;
    int param2 = -1;
    int param3 = -1;
    int result = 1;    // non-zero OK, 0 NG
};

// The network hub: the one object through which the system reaches the
// network services. Created on first use, never destroyed while the process runs.
class VEK_NETMN
{
public:
    static VEK_NETMN* __instance;
    static VEK_NETMN* getInstance();

    // Key of the ROI result cache: "camera;group;roi" in decimal.
    static QString roiKey(int camera, int group, int roi);
    // Stores one ROI's result; a later result of the same ROI replaces it.
    void insertRoiResult(const param_roi& result);

    // The per-ROI results of the current detection cycle (GUI thread only).
    QMap<QString, param_roi> roiResultCache;

private:
    VEK_NETMN() = default;
};
