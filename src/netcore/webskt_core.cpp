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

QString WebSkt_Core::serialize_Setup2_Json(CTask_FormData_WebSkt_Json msg)
{
    QJsonObject object;
    object.insert("url", msg.url);
    object.insert("user_agent", msg.user_agent);
    object.insert("data", msg.data);
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
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
