#include "startupservices.h"

#include "copy2movedisk.h"
#include "diskmanager.h"
#include "vek_netmn.h"

namespace StartupServices {

void startModbusServer() {}
void startNetworkHub()
{
    // Reads cnt_net/config.json and starts the HTTP API when it is switched on.
    VEK_NETMN::getInstance()->initStart();
}
void startUsbImageCopy(int days, bool enabled)
{
    Copy2MoveDisk* copy = Copy2MoveDisk::getInstance();
    copy->days = days;
    if (enabled)
        copy->start();
}

void startDiskManager()
{
    DiskManager::getInstance()->start();
}

void stopDiskServices()
{
    if (DiskManager::_instance)
        DiskManager::_instance->stop();
    if (Copy2MoveDisk::_instance)
        Copy2MoveDisk::_instance->stop();
}

} // namespace StartupServices
