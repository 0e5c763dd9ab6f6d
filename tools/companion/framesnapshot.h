#pragma once

#include <QString>

// Reads the monitor's shared screen frame (camera 0, I420 1920x1080) under
// its semaphore and writes it as a PNG.
namespace FrameSnapshot {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kWaitMs = 200;

bool write(const QString& path, QString* error);

} // namespace FrameSnapshot
