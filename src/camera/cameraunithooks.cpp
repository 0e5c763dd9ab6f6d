#include "cameraunithooks.h"

CameraUnitHooks& CameraUnitHooks::instance()
{
    static CameraUnitHooks hooks;
    return hooks;
}
