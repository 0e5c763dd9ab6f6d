#pragma once

class QObject;

// Services that belong to other parts of the system (Modbus server, network
// hub, USB image copy, disk watcher). The main window starts the Modbus
// server; main starts the others after the main window, in this order. Each
// returns at once when its service is not part of this build.
namespace StartupServices {

// Port 502 unless MM_MODBUS_PORT names another (a demo beside other programs; 0: any free one).
constexpr const char* kModbusPortEnv = "MM_MODBUS_PORT";
// The server lives as long as its owner.
void startModbusServer(QObject* owner);
void startNetworkHub();
void startUsbImageCopy(int days, bool enabled);
void startDiskManager();
// Removes what a download or backup cut short by the last run's end left beside the install folder.
void removeDownloadLeftovers();
// Ends the disk watcher and the image copy (their threads) before exit.
void stopDiskServices();
// Ends the network hub (API server, companion link and their threads) while the
// application still exists; its threads would otherwise run on into the end of
// the process and wake while the statics they use are torn down.
void stopNetworkHub();

} // namespace StartupServices
