#pragma once

#include <QString>

constexpr const char* kNetConfigPath = "cnt_net/config.json";

// Sets "version" (the program version) and "camcount" (numCamera) in
// "cnt_net/config.json", keeping its other keys. False when the file cannot
// be read as a JSON object or cannot be written; the file is then unchanged.
bool writeVersionToJson(const QString& path = QString::fromLatin1(kNetConfigPath));
