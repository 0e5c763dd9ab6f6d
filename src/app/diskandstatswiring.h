#pragma once

class DaRiDoziri;
class IOStatus;

// Joins the USB disk watcher, the NG image copy, the statistics screen and
// its export to the main window (records, warnings, the status bar).
namespace DiskAndStatsWiring {

void wire(DaRiDoziri* window, IOStatus* status);
// Ends the screen's export thread and the disk workers (at shut-down).
void unwire();

} // namespace DiskAndStatsWiring
