#include "upaninfo.h"

#include "hostpaths.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>

namespace {
constexpr const char* kLinkDirs[] = {"/dev/disk/by-uuid/", "/dev/disk/by-path/"};
}

void get_device(QString id, QString& device, DiskInfoType type)
{
    const QDir dir(HostPaths::path(QString::fromLatin1(kLinkDirs[type == DiskByPath ? 1 : 0])));
    const QFileInfoList entries = dir.entryInfoList(QDir::Files | QDir::System | QDir::NoDotAndDotDot, QDir::Time);
    for (const QFileInfo& entry : entries) {
        if (entry.fileName() != id)
            continue;
        if (entry.isSymLink())
            device = HostPaths::hostView(entry.symLinkTarget());
        else
            qDebug() << "The provided path is not a symbolic link.";
    }
}
