#include "startupservices.h"

#include "copy2movedisk.h"
#include "diskmanager.h"
#include "modbusserver.h"
#include "vek_netmn.h"
#include "versionrepository.h"

#include <QtGlobal>

namespace StartupServices {

void startModbusServer(QObject* owner)
{
    bool ok = false;
    const int port = qEnvironmentVariableIntValue(kModbusPortEnv, &ok);
    // Owned by its Qt parent; it listens (or keeps retrying) until the owner goes.
    new ModbusServer(QHostAddress::Any, ok && port >= 0 && port < 65536 ? quint16(port) : ModbusServer::kPort, owner);
}
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

void removeDownloadLeftovers()
{
    VersionRepository().removeLeftovers();
}

void stopDiskServices()
{
    if (DiskManager::_instance)
        DiskManager::_instance->stop();
    if (Copy2MoveDisk::_instance)
        Copy2MoveDisk::_instance->stop();
}

void stopNetworkHub()
{
    VEK_NETMN::endInstance();
}

} // namespace StartupServices
