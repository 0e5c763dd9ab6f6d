#pragma once

#include <QMetaType>
#include <QString>
#include <QVector>

// One USB partition as the disk manager knows it.
struct UPanInfo
{
    QString uuid;       // file-system UUID, the key of an entry
    QString byPath;
    QString label;
    QString devNode;    // device node as the host names it, e.g. "/dev/sdb1"
    QString fsType;
    QString bus;
    QString mountPath;  // empty until mounted
};

// Where a device link is looked up.
enum DiskInfoType { DiskByUuid = 0, DiskByPath = 1 };

// The device node a "/dev/disk/by-uuid/" or "/dev/disk/by-path/" link named id
// points at; device keeps the caller's value when there is no such link.
void get_device(QString id, QString& device, DiskInfoType type);

Q_DECLARE_METATYPE(UPanInfo)
Q_DECLARE_METATYPE(QVector<UPanInfo>)
