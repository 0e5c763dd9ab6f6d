#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <memory>

class VEK_NETMN;

// What the API's read routes need of the GUI thread's state, taken there after each
// cycle and never changed afterwards: the network threads answer from it without
// waiting for the GUI thread.
struct ApiSnapshot
{
    int cameraCount = 0;            // numCamera
    int detectCount = 0;            // gDNum
    QString deviceSn;               // gDeviceID
    QString deviceName;
    QString todayRecordPath;        // the main window's "RECORD.db"
    QJsonObject productInfos;       // the result of get_product_infos
    QByteArray productInfosReply;   // its whole reply body, made once on publishing

    // The state now (without the reply bytes); GUI thread only.
    static ApiSnapshot capture(const VEK_NETMN& hub);
    // Same answers: the reply bytes of one can serve for the other.
    bool sameAs(const ApiSnapshot& other) const;
};

using ApiSnapshotPtr = std::shared_ptr<const ApiSnapshot>;
