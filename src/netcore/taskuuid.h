#pragma once

#include <QString>

// A task uuid: prefix + "#" + local time "yyyyMMdd_hhmmss_zzz" + "#" + number.
// The prefixes are the system's own ("defalut", "dozazaza"); peers see them.
QString makeTaskUuid(const char* prefix, qint64 number);
