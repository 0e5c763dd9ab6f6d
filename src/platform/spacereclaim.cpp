#include "spacereclaim.h"

#include <QFile>

namespace SpaceReclaim {

Result removeOldest(const QFileInfoList& oldestFirst, qint64 needed)
{
    Result result;
    if (needed <= 0) {
        result.enough = true;
        return result;
    }
    qint64 available = 0;
    for (const QFileInfo& file : oldestFirst)
        available += file.size();
    if (available < needed)
        return result;
    for (const QFileInfo& file : oldestFirst) {
        if (result.bytes >= needed)
            break;
        // A file that will not go frees nothing: the next one is counted instead.
        if (!QFile::remove(file.absoluteFilePath()))
            continue;
        ++result.files;
        result.bytes += file.size();
    }
    result.enough = result.bytes >= needed;
    return result;
}

} // namespace SpaceReclaim
