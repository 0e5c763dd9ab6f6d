#include "vek_netmn.h"

VEK_NETMN* VEK_NETMN::__instance = nullptr;

VEK_NETMN* VEK_NETMN::getInstance()
{
    if (!__instance)
        __instance = new VEK_NETMN();
    return __instance;
}

QString VEK_NETMN::roiKey(int camera, int group, int roi)
{
    return QStringLiteral("%1;%2;%3").arg(camera).arg(group).arg(roi);
}

void VEK_NETMN::insertRoiResult(const param_roi& result)
{
    roiResultCache.insert(roiKey(result.camera, result.group, result.roi), result);
}
