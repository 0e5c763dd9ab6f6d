#include "netcoretestkit.h"

#include "sci_execobj_send.h"
#include "tcpservreactor.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>

Wire captureWire(const CTask_FormData& task)
{
    Wire wire;
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return wire;
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, server.serverPort());
    if (!client.waitForConnected(3000) || !server.waitForNewConnection(3000))
        return wire;
    std::unique_ptr<QTcpSocket> peer(server.nextPendingConnection());
    wire.clientPort = client.localPort();

    SCI_ExecObj_Send send(task);
    send.SerializeWrite(peer.get());
    while (send.isPending()) {
        peer->waitForBytesWritten(3000);
        send.pump(peer.get());
    }
    peer->disconnectFromHost();
    if (peer->state() != QAbstractSocket::UnconnectedState)
        peer->waitForDisconnected(3000);
    while (client.state() == QAbstractSocket::ConnectedState && client.waitForReadyRead(3000))
        wire.bytes += client.readAll();
    wire.bytes += client.readAll();
    return wire;
}

RawClient::RawClient(quint16 port, const QHostAddress& from) : socket_(new QTcpSocket)
{
    if (!from.isNull())
        socket_->bind(from);
    socket_->connectToHost(QHostAddress::LocalHost, port);
    socket_->waitForConnected(3000);
}

RawClient::~RawClient() = default;

bool RawClient::connected() const
{
    return socket_->state() == QAbstractSocket::ConnectedState;
}

void RawClient::send(const QByteArray& bytes)
{
    socket_->write(bytes);
    socket_->waitForBytesWritten(3000);
}

RawResponse RawClient::readResponse(int timeoutMs)
{
    RawResponse r;
    QElapsedTimer clock;
    clock.start();
    int bodyStart = -1;
    qint64 length = 0;
    while (clock.elapsed() < timeoutMs) {
        if (bodyStart < 0) {
            const int end = pending_.indexOf("\r\n\r\n");
            if (end >= 0) {
                const QList<QByteArray> lines = pending_.left(end).split('\n');
                r.firstLine = lines.first().trimmed();
                for (int i = 1; i < lines.size(); ++i) {
                    const int colon = lines[i].indexOf(':');
                    r.headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
                }
                length = r.headers.value("content-length").toLongLong();
                bodyStart = end + 4;
            }
        }
        if (bodyStart >= 0 && pending_.size() >= bodyStart + length) {
            r.raw = pending_.left(int(bodyStart + length));
            r.body = r.raw.mid(bodyStart);
            pending_.remove(0, r.raw.size());
            r.complete = true;
            return r;
        }
        if (!socket_->waitForReadyRead(50) && socket_->state() != QAbstractSocket::ConnectedState
            && socket_->bytesAvailable() == 0)
            break;
        pending_ += socket_->readAll();
    }
    return r;
}

bool RawClient::waitClosed(int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        if (socket_->state() == QAbstractSocket::UnconnectedState)
            return true;
        socket_->waitForReadyRead(50);
        pending_ += socket_->readAll();
    }
    return socket_->state() == QAbstractSocket::UnconnectedState;
}

QByteArray request(const QByteArray& method, const QByteArray& target, const QByteArray& body,
                   const QByteArray& extraHeaders)
{
    QByteArray r = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    if (!body.isEmpty())
        r += "Content-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n";
    return r + extraHeaders + "\r\n" + body;
}

TestService::TestService() : HttpManager(VEKT_SERVER)
{
    routes_.insert("/echo", [this](CTask_FormData task) {
        QJsonObject out = task.json;
        for (auto it = task.query.cbegin(); it != task.query.cend(); ++it)
            out.insert("q_" + it.key(), it.value());
        reply(task, out);
    });
    routes_.insert("/hold", [this](CTask_FormData task) {
        holdEntered.release();
        holdRelease.acquire();
        reply(task, QJsonObject{{"held", true}});
    });
    routes_.insert("/silent", [this](CTask_FormData) { ++handled; });
    routes_.insert("/where", [this](CTask_FormData task) {
        QJsonObject out{{"thread", QString::number(quintptr(QThread::currentThread()))},
                        {"before", handled.load()}};
        for (auto it = task.query.cbegin(); it != task.query.cend(); ++it)
            out.insert("q_" + it.key(), it.value());
        reply(task, out);
    });
    arrivalRoutes_.insert("/where");
    routes_.insert("/stall", [this](CTask_FormData task) {
        holdEntered.release();
        holdRelease.acquire();
        reply(task, QJsonObject());
    });
    arrivalRoutes_.insert("/stall");
    routes_.insert("/file", [this](CTask_FormData task) {
        CTask_FormData r;
        r.uuid = task.uuid;
        r.sessionId = task.sessionId;
        r.files.insert(task.query.value("path"), QByteArray());
        ++handled;
        sendAsync(r);
    });
}

void TestService::reply(const CTask_FormData& request, const QJsonObject& json)
{
    CTask_FormData r;
    r.uuid = request.uuid;
    r.sessionId = request.sessionId;
    r.json = json;
    ++handled;
    sendAsync(r);
}

// Both ways of the hand-over go through semaphores of ours rather than a blocking queued
// call alone: a thread-sanitizer run, blind to Qt's own, then sees their order too.
void ServiceHost::runInServiceThread(const std::function<void()>& work)
{
    QSemaphore handed;
    QSemaphore done;
    handed.release();
    QMetaObject::invokeMethod(context_, [&] {
        handed.acquire();
        work();
        done.release();
    }, Qt::QueuedConnection);
    done.acquire();
}

ServiceHost::ServiceHost(int mode, const NetLimits& limits, int reactorThreads)
{
    context_->moveToThread(&thread_);
    thread_.start();
    runInServiceThread([&] {
        service_ = new TestService;
        service_->setNetLimits(limits);
        service_->setReactorThreads(reactorThreads);
        service_->startReactor(QHostAddress::LocalHost, 0, mode);
        port_ = static_cast<VEKC::TcpServReactor*>(service_->reactor().data())->serverPort();
    });
}

ServiceHost::~ServiceHost()
{
    service_->holdRelease.release(100);
    runInServiceThread([this] { delete service_; });
    context_->deleteLater();
    thread_.quit();
    thread_.wait();
}

int ServiceHost::sessionCount() const
{
    return service_->reactor()->sessionCount();
}

