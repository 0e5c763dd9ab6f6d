#include "startupservices.h"

namespace StartupServices {

void startModbusServer() {}
void startNetworkHub() {}
void startUsbImageCopy(int, bool) {}
void startDiskManager() {}

} // namespace StartupServices
