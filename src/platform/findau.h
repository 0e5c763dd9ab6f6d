#pragma once

#include <QString>

// The mount path of a removable (USB) disk, empty when there is none. A USB
// partition already mounted under "/mnt" is taken as it is; otherwise the
// first USB partition listed in "/dev/disk/by-path/" is mounted on "/mnt".
// Host files and the mount point are under HostPaths; mounting goes through
// the ShellRunner.
QString FindAU();
