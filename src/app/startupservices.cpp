#include "startupservices.h"

namespace StartupServices {

void startNetworkHub() {}
void startUsbImageCopy(int, bool) {}
void startDiskManager() {}

} // namespace StartupServices
