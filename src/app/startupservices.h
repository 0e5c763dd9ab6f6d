#pragma once

// Services that start after the main window and belong to other parts of the
// system (network hub, USB image copy, disk watcher). main calls them in this
// order; each returns at once when its service is not part of this build.
namespace StartupServices {

void startNetworkHub();
void startUsbImageCopy(int days, bool enabled);
void startDiskManager();

} // namespace StartupServices
