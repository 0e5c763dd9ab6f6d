#include "startupservices.h"

#include "vek_netmn.h"

namespace StartupServices {

void startModbusServer() {}
void startNetworkHub()
{
    // Reads cnt_net/config.json and starts the HTTP API when it is switched on.
    VEK_NETMN::getInstance()->initStart();
}
void startUsbImageCopy(int, bool) {}
void startDiskManager() {}

} // namespace StartupServices
