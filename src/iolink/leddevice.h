#pragma once

#include <QString>

// The lamps and the display backlight of the panel PC. The lamps and the LCD
// control are ioctls on "/dev/led"; the backlight of panels without it is the
// sysfs file below. A missing device is logged once and otherwise ignored, and
// the wanted lamp state is kept either way so the screens can show it.
class LedDevice
{
public:
    static constexpr const char* kDevicePath = "/dev/led";
    static constexpr const char* kBacklightPath = "/sys/class/backlight/intel_backlight/bl_power";

    // Requests of the LED driver: the whole lamp mask (bit n = lamp n), LCD on, LCD off.
    static constexpr unsigned long kIoctlLampMask = 0x4C01;
    static constexpr unsigned long kIoctlLcdOn = 0x4C02;
    static constexpr unsigned long kIoctlLcdOff = 0x4C03;

    static constexpr int kLampCount = 8;
    enum Lamp { LampRunning = 4, LampHeartbeat = 5, LampOK = 6, LampNG = 7 };

    // Opens the device once at start-up; false (logged once) when it is missing.
    static bool open(const QString& path = QString::fromLatin1(kDevicePath));
    static void close();
    static bool isOpen();

    // Switches one lamp (0..7) and sends the whole mask.
    static void setLamp(int lamp, int on);
    static int lampMask();

    // LCD through the LED device; false when the device cannot do it.
    static bool lcdOnOff(int on);
    // Backlight through sysfs ("0" = on, "1" = off), under the host root.
    static bool backlightOnOff(int on);
    // The backlight as the main window's LCDOnOff switches it: the LED device's
    // LCD control when the panel supports it, else sysfs; logs "LCDOnOff isOn"
    // with the argument and whether the device control was left out.
    static void switchBacklight(int on, bool deviceControl);
};

// The system's lamp call: lamps 4 running, 5 heartbeat, 6 OK, 7 NG.
void LEDOnOff(int lamp, int on);
