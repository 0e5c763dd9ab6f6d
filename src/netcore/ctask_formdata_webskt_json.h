#pragma once

#include <QJsonObject>
#include <QMetaType>
#include <QString>

// One message of the WebSocket JSON channel: {"url", "user_agent", "data"}.
struct CTask_FormData_WebSkt_Json
{
    bool valid = false;       // set by the parser only for a complete message
    void* peer = nullptr;     // connection it came from or is meant for; null: every connection
    QString url;
    QString user_agent;       // message id, stamped when empty at sending
    QJsonObject data;
};

Q_DECLARE_METATYPE(CTask_FormData_WebSkt_Json)
