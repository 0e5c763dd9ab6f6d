#include "webskt_client.h"

#include "clock.h"

#include <QDebug>
#include <QEventLoop>
#include <QTimer>
#include <QUrl>
#include <QWebSocket>

namespace {
const QByteArray kPingPayload = QByteArrayLiteral("WebSkt_Client");

QString hostText(const QHostAddress& address)
{
    QString text = address.toString();
    if (text.startsWith(QLatin1String("::ffff:")))
        return text.mid(7);
    if (address.protocol() == QAbstractSocket::IPv6Protocol)
        return '[' + text + ']';
    return text;
}
} // namespace

WebSkt_Client::WebSkt_Client(QObject* parent) : WebSkt_Core(parent) {}

WebSkt_Client::~WebSkt_Client()
{
    deinitialize();
}

bool WebSkt_Client::isCnted()
{
    return hasSocket_ && MonotonicClock::ms() - aliveStamp_ < kAliveWindowMs;
}

bool WebSkt_Client::onStart()
{
    socket_ = QSharedPointer<QWebSocket>::create(QString(), QWebSocketProtocol::Version13);
    socket_->setMaxAllowedIncomingMessageSize(kMaxMessageBytes);
    socket_->setMaxAllowedIncomingFrameSize(kMaxMessageBytes);
    pingTimer_ = std::make_unique<QTimer>();
    hasSocket_ = true;
    QWebSocket* socket = socket_.data();

    connect(pingTimer_.get(), &QTimer::timeout, socket, [socket] { socket->ping(kPingPayload); });
    connect(socket, &QWebSocket::textMessageReceived, socket, [this](const QString& text) {
        const CTask_FormData_WebSkt_Json msg = analyseBuffer_Setup1_Json(text);
        if (msg.valid)
            emit sig_recv_message(msg);
    });
    connect(socket, &QWebSocket::pong, socket, [this] { aliveStamp_ = MonotonicClock::ms(); });
    connect(this, &WebSkt_Core::sig_send_message, socket, [socket](const CTask_FormData_WebSkt_Json& msg) {
        if (socket->sendTextMessage(serialize_Setup2_Json(msg)) <= 0)
            qWarning() << "WebSkt_Client send fail!";
    });

    QEventLoop wait;
    QTimer connectTimer;
    connectTimer.setSingleShot(true);
    connect(&connectTimer, &QTimer::timeout, &wait, &QEventLoop::quit);
    connect(socket, &QWebSocket::connected, &wait, [this, socket, &wait] {
        qInfo() << "WebSkt_Client connected:" << socket->peerAddress().toString();
        aliveStamp_ = MonotonicClock::ms();
        pingTimer_->start(kPingPeriodMs);
        wait.quit();
    });
    socket->open(QUrl(QStringLiteral("ws://%1:%2").arg(hostText(address_)).arg(port_)));
    connectTimer.start(kConnectTimeoutMs);
    wait.exec();
    const bool connected = connectTimer.isActive();
    qInfo() << "WebSkt_Client timer_connect_timeout.isActive()" << (connected ? "true" : "false");
    return connected;
}

void WebSkt_Client::onFinish()
{
    hasSocket_ = false;
    pingTimer_.reset();
    if (socket_) {
        socket_->disconnect();
        socket_->abort();
    }
    socket_.reset();
}
