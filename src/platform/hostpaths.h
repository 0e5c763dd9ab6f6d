#pragma once

#include <QString>

// Files of the host (/proc, /sys, /run/udev, /dev/disk, /etc/netplan, /mnt)
// are read under one root, "/" by default, so tests can lay out a fake host.
// The environment variable MOULD_MONITOR_HOST_ROOT sets the root at start.
namespace HostPaths {

QString root();
void setRoot(const QString& root);

// The host path as seen under the root: path("/proc/cpuinfo") -> "<root>/proc/cpuinfo".
QString path(const QString& absolutePath);
// The reverse: a real path under the root as the host names it
// ("<root>/dev/sdb1" -> "/dev/sdb1"); paths outside the root stay as they are.
QString hostView(const QString& realPath);

} // namespace HostPaths
