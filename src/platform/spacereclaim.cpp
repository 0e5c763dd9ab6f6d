#include "spacereclaim.h"

#include <QFile>

#include <sys/stat.h>

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

qint64 mostFreed(const QFileInfo& file)
{
    struct stat status;
    if (::lstat(QFile::encodeName(file.absoluteFilePath()).constData(), &status) != 0 || status.st_nlink > 1)
        return 0;
    return qint64(status.st_blocks) * 512;
}

Result removeUntilFree(const QFileInfoList& oldestFirst, const std::function<qint64()>& lacking)
{
    Result result;
    qint64 missing = lacking();
    for (const QFileInfo& file : oldestFirst) {
        if (missing <= 0)
            break;
        if (mostFreed(file) == 0 || !QFile::remove(file.absoluteFilePath()))
            continue;
        ++result.files;
        result.bytes += file.size();
        missing = lacking();
    }
    result.enough = missing <= 0;
    return result;
}

} // namespace SpaceReclaim
