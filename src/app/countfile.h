#pragma once

#include <QString>

// The production counters in "count.ini": the four per-camera lists and the
// two NG counts over all cameras. Written whole through a temporary file, so
// a power cut leaves either the old or the new counts.
namespace CountFile {

constexpr const char* kFileName = "count.ini";

// Writes gAllNum, gFailNum, gAllCycleNum, gFailCycleNum, gSyncNGNum, gSyncNGCycleNum.
bool write(const QString& path = QString::fromLatin1(kFileName));
// Reads them back; missing keys and entries read as 0. False when the file is missing.
bool read(const QString& path = QString::fromLatin1(kFileName));

} // namespace CountFile
