#pragma once

#include <QByteArray>
#include <QString>

// Device files of the panel PC ("/dev/led", the backlight file) and the
// port-IO privilege. Each is used when present; when it is missing the
// program logs that once per path and goes on.
namespace DeviceFile {

bool exists(const QString& path);

// Opens a device for ioctl use; -1 (logged once) when it cannot be opened.
int openDevice(const QString& path, int flags);
void closeDevice(int fd);

// ioctl on an open device; -1 when fd < 0 or the call fails (logged once per request).
int ioctlInt(int fd, unsigned long request, unsigned long argument);

// Writes text to a sysfs-like file; false (logged once per path) on failure.
bool writeText(const QString& path, const QByteArray& text);

// Raises the port-IO privilege level; failing is logged, never fatal.
bool requestIoPrivilege(int level);

// Logs a message the first time a key is seen; later calls with the same key are silent.
void logOnce(const QString& key, const QString& message);

} // namespace DeviceFile
