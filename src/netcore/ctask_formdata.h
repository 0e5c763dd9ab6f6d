#pragma once

#include "cvariant.h"
#include "tcptsk_info.h"

#include <QByteArray>
#include <QJsonObject>
#include <QMap>
#include <QMetaType>
#include <QString>
#include <QVariant>
#include <opencv2/core/mat.hpp>

// The one message record of the network core, request (url set) or response (url empty).
class CTask_FormData
{
public:
    CTask_FormData() = default;

    // 2 images, 3 files, 1 JSON body, 0 nothing: chooses the writer's body format.
    int getTaskPkgType();
    // The first line without line end. For a response of 404 or 503 it also sets msg and code.
    QString getResponseFirstLine();

    QString peerAddress;
    int peerPort = 0;
    QString method = QStringLiteral("POST");
    QString url;
    QString uuid;
    int sessionId = -1;
    QString contentType;
    int status = 200;
    int code = 0;
    QString msg = QStringLiteral("OK");
    QString deviceId;
    QString userId;
    QMap<QString, QString> query;
    QMap<QString, QString> headers;
    QByteArray body;
    QJsonObject json;
    // A response's JSON body made once for many replies, sent as it is in place of
    // code, msg and result.
    QByteArray preparedJson;
    QMap<QString, QVariant> jsonParts;
    QMap<QString, cv::Mat> images;
    QMap<QString, QByteArray> files;
    CVariant<TcpTsk_Info> taskInfo;
};

Q_DECLARE_METATYPE(CTask_FormData)
