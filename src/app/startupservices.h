#pragma once

// Services that belong to other parts of the system (Modbus server, network
// hub, USB image copy, disk watcher). The main window starts the Modbus
// server; main starts the others after the main window, in this order. Each
// returns at once when its service is not part of this build.
namespace StartupServices {

void startModbusServer();
void startNetworkHub();
void startUsbImageCopy(int days, bool enabled);
void startDiskManager();
// Ends the disk watcher and the image copy (their threads) before exit.
void stopDiskServices();

} // namespace StartupServices
