#include "taskuuid.h"

#include <QDateTime>

QString makeTaskUuid(const char* prefix, qint64 number)
{
    // Formatting local time is costly; the date and second part change once a second.
    thread_local qint64 cachedSecond = -1;
    thread_local QString cachedText;
    const qint64 ms = QDateTime::currentMSecsSinceEpoch();
    const qint64 second = ms / 1000;
    if (second != cachedSecond) {
        cachedSecond = second;
        cachedText = QDateTime::fromMSecsSinceEpoch(second * 1000).toString("yyyyMMdd_hhmmss");
    }
    return QStringLiteral("%1#%2_%3#%4")
        .arg(QLatin1String(prefix), cachedText)
        .arg(int(ms % 1000), 3, 10, QLatin1Char('0'))
        .arg(number);
}
