#pragma once

#include "ctask_formdata.h"
#include "httpmanager.h"
#include "netlimits.h"
#include "qttesthelpers.h"

#include <QByteArray>
#include <QMap>
#include <QSemaphore>
#include <QString>
#include <QThread>
#include <atomic>
#include <functional>
#include <memory>

class QTcpSocket;

// The bytes the writer puts on a real loopback connection for one record,
// and the peer port the writer saw (for the HOST line).
struct Wire
{
    QByteArray bytes;
    quint16 clientPort = 0;
};
Wire captureWire(const CTask_FormData& task);

// One parsed HTTP response as a plain client sees it.
struct RawResponse
{
    bool complete = false;
    QByteArray firstLine;
    QMap<QByteArray, QByteArray> headers;   // lower-case names
    QByteArray body;
    QByteArray raw;
};

// A blocking loopback client for raw-socket tests (runs in the test thread).
class RawClient
{
public:
    // from: the loopback address to connect from (another client address than 127.0.0.1).
    explicit RawClient(quint16 port, const QHostAddress& from = QHostAddress());
    ~RawClient();
    bool connected() const;
    void send(const QByteArray& bytes);
    RawResponse readResponse(int timeoutMs = 5000);
    // True when the server closed the connection within the time.
    bool waitClosed(int timeoutMs);
    QTcpSocket* socket() const { return socket_.get(); }

private:
    std::unique_ptr<QTcpSocket> socket_;
    QByteArray pending_;
};

QByteArray request(const QByteArray& method, const QByteArray& target, const QByteArray& body = QByteArray(),
                   const QByteArray& extraHeaders = QByteArray());

// A server service on 127.0.0.1:0 running in a thread of its own, so that the
// test thread may block on clients. Routes: /echo (JSON back with the query),
// /hold (waits on the latch), /silent (never answers), /file (sends the file named by the query "path"),
// /where (answered in the network thread: the query back, that thread's address as "thread" and
// the count of requests handled before it as "before"), /stall (holds the network thread on the latch).
class TestService : public HttpManager
{
    Q_OBJECT
public:
    TestService();
    // The reactor threads call into the routes: they end before the routes' members go.
    ~TestService() override { stopReactor(); }
    QSemaphore holdEntered;
    QSemaphore holdRelease;
    std::atomic<int> handled{0};

private:
    void reply(const CTask_FormData& request, const QJsonObject& json);
};

class ServiceHost
{
public:
    explicit ServiceHost(int mode = 4, const NetLimits& limits = NetLimits(), int reactorThreads = 1);
    ~ServiceHost();
    quint16 port() const { return port_; }
    TestService* service() const { return service_; }
    int sessionCount() const;

private:
    void runInServiceThread(const std::function<void()>& work);

    QThread thread_;
    QObject* context_ = new QObject;   // runs calls in the service thread
    TestService* service_ = nullptr;
    quint16 port_ = 0;
};

