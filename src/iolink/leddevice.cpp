#include "leddevice.h"

#include "devicefile.h"
#include "hostpaths.h"

#include <QDebug>

#include <atomic>
#include <fcntl.h>

namespace {

std::atomic<int> gLedFd{-1};
std::atomic<int> gLampMask{0};

} // namespace

bool LedDevice::open(const QString& path)
{
    close();
    const int fd = DeviceFile::openDevice(path, O_RDWR);
    gLedFd.store(fd);
    if (fd >= 0)
        DeviceFile::ioctlInt(fd, kIoctlLampMask, unsigned(gLampMask.load()));
    return fd >= 0;
}

void LedDevice::close()
{
    DeviceFile::closeDevice(gLedFd.exchange(-1));
}

bool LedDevice::isOpen()
{
    return gLedFd.load() >= 0;
}

void LedDevice::setLamp(int lamp, int on)
{
    if (lamp < 0 || lamp >= kLampCount) {
        DeviceFile::logOnce(QStringLiteral("lamp:%1").arg(lamp), QStringLiteral("lamp %1 does not exist, ignored").arg(lamp));
        return;
    }
    const int bit = 1 << lamp;
    const int before = on ? gLampMask.fetch_or(bit) : gLampMask.fetch_and(~bit);
    const int after = on ? (before | bit) : (before & ~bit);
    if (after == before)
        return;
    if (lamp != LampHeartbeat)  // the heartbeat blinks every cycle
        qInfo() << "LEDOnOff" << lamp << (on ? 1 : 0);
    DeviceFile::ioctlInt(gLedFd.load(), kIoctlLampMask, unsigned(after));
}

int LedDevice::lampMask()
{
    return gLampMask.load();
}

bool LedDevice::lcdOnOff(int on)
{
    const int fd = gLedFd.load();
    if (fd < 0)
        return false;
    return DeviceFile::ioctlInt(fd, on ? kIoctlLcdOn : kIoctlLcdOff, 0) >= 0;
}

bool LedDevice::backlightOnOff(int on)
{
    return DeviceFile::writeText(HostPaths::path(QString::fromLatin1(kBacklightPath)), on ? "0\n" : "1\n");
}

void LedDevice::switchBacklight(int on, bool deviceControl)
{
    if (deviceControl)
        lcdOnOff(on);
    else
        backlightOnOff(on);
    qInfo().noquote() << "LCDOnOff isOn" << on << (deviceControl ? "false" : "true");
}

void LEDOnOff(int lamp, int on)
{
    LedDevice::setLamp(lamp, on);
}
