#include "webskt_core.h"

#include <QDateTime>
#include <QDebug>
#include <QEventLoop>
#include <QJsonDocument>

namespace {
const QString kUserAgentPrefix = QStringLiteral("sc_webskt#");
const QString kUserAgentTime = QStringLiteral("yyyyMMdd_hhmmss_zzz");
}

WebSkt_Core::WebSkt_Core(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<CTask_FormData_WebSkt_Json>("CTask_FormData_WebSkt_Json");
}

WebSkt_Core::~WebSkt_Core() = default;

CTask_FormData_WebSkt_Json WebSkt_Core::analyseBuffer_Setup1_Json(const QString& text)
{
    CTask_FormData_WebSkt_Json msg;
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return msg;
    const QJsonObject object = doc.object();
    if (!object.contains("url") || !object.contains("user_agent"))
        return msg;
    msg.url = object.value("url").toString();
    msg.user_agent = object.value("user_agent").toString();
    if (object.value("data").isObject()) {
        msg.data = object.value("data").toObject();
        msg.valid = true;
    }
    return msg;
}

namespace {
// A JSON string as QJsonDocument writes it compact: the same escapes, other text as it is.
void appendJsonString(QString& out, const QString& text)
{
    static const char kHex[] = "0123456789abcdef";
    out += QLatin1Char('"');
    for (const QChar c : text) {
        const ushort u = c.unicode();
        switch (u) {
        case '"': out += QLatin1String("\\\""); break;
        case '\\': out += QLatin1String("\\\\"); break;
        case '\b': out += QLatin1String("\\b"); break;
        case '\f': out += QLatin1String("\\f"); break;
        case '\n': out += QLatin1String("\\n"); break;
        case '\r': out += QLatin1String("\\r"); break;
        case '\t': out += QLatin1String("\\t"); break;
        default:
            if (u < 0x20) {
                out += QLatin1String("\\u00");
                out += QLatin1Char(kHex[u >> 4]);
                out += QLatin1Char(kHex[u & 0xF]);
            } else {
                out += c;
            }
        }
    }
    out += QLatin1Char('"');
}
} // namespace

// Written directly rather than through a fresh QJsonObject (the echo path's hot spot);
// the text equals QJsonDocument's compact form, keys in its sorted order.
QString WebSkt_Core::serialize_Setup2_Json(CTask_FormData_WebSkt_Json msg)
{
    QString out = QStringLiteral("{\"data\":");
    out += QString::fromUtf8(QJsonDocument(msg.data).toJson(QJsonDocument::Compact));
    out += QLatin1String(",\"url\":");
    appendJsonString(out, msg.url);
    out += QLatin1String(",\"user_agent\":");
    appendJsonString(out, msg.user_agent);
    out += QLatin1Char('}');
    return out;
}

bool WebSkt_Core::reAction(const QHostAddress& address, quint16 port)
{
    deinitialize();
    address_ = address;
    port_ = port;
    return initialize();
}

void WebSkt_Core::sendTextMessage(CTask_FormData_WebSkt_Json msg)
{
    if (msg.user_agent.isEmpty())
        msg.user_agent = kUserAgentPrefix + QDateTime::currentDateTime().toString(kUserAgentTime);
    emit sig_send_message(msg);
}

bool WebSkt_Core::isRunning()
{
    return worker_.isRunning();
}

bool WebSkt_Core::initialize()
{
    if (isRunning())
        return false;
    EventLoopWorker::Steps steps;
    steps.connectQuit = [this](QEventLoop* loop) {
        connect(this, &WebSkt_Core::readyToClose, loop, &QEventLoop::quit, Qt::QueuedConnection);
    };
    steps.start = [this] { return onStart(); };
    steps.finish = [this] { onFinish(); };
    steps.finishAfterFailedStart = true;
    return worker_.run(steps);
}

void WebSkt_Core::deinitialize()
{
    if (!isRunning())
        return;
    emit readyToClose();
    worker_.waitDone();
}
