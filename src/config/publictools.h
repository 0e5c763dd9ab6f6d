#pragma once

// Clocks and the device id shared by start-up and the network parts.
// They keep no state and may run in any thread.

#include "netaddress.h"  // the address helpers, with the other seams to the OS

#include <QString>
#include <QtGlobal>
#include <string>

// Wall-clock milliseconds since 1970-01-01 UTC: for stamps that peers see.
qint64 gettimeofday_ms();
// Wall-clock hundredths of a second modulo 10^9 (wraps about every 115 days).
int curtime_qint64_2_int();

// Time-outs and alive stamps: milliseconds, and hundredths of a second, of a
// clock that never jumps when the wall clock is set and does not wrap.
qint64 monotonic_ms();
qint64 monotonic_cs();

// The box's identifier reported to the network side.
QString getlocal_deviceid();
// UUID of the ext4 file system (the one mounted at "/" when blkid lists it), or empty.
QString found_diskuuid_by_blkid();
