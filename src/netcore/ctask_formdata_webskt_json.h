#pragma once

#include <QJsonObject>
#include <QMetaType>
#include <QString>
#include <QtGlobal>

// One message of the WebSocket JSON channel: {"url", "user_agent", "data"}.
struct CTask_FormData_WebSkt_Json
{
    bool valid = false;       // set by the parser only for a complete message
    // Connection it came from or is meant for, by an id never given twice (a new connection
    // may get the memory of a gone one); 0: every connection.
    quint64 peer = 0;
    QString url;
    QString user_agent;       // message id, stamped when empty at sending
    QJsonObject data;
};

Q_DECLARE_METATYPE(CTask_FormData_WebSkt_Json)
