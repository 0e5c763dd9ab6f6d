// Messages per second of the WebSocket core (16 clients, echo) and of the UDP
// reactor (framed requests), each beside plain Qt sockets doing the same work
// (parse the JSON, check it, answer or record it) in the same run. Runs are
// interleaved, each figure is the median of several. Loopback only.
// Single core: taskset -c 0 netcore_cores_bench; all cores: netcore_cores_bench.

#include "udpreactor.h"
#include "webskt_server.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QNetworkDatagram>
#include <QSemaphore>
#include <QThread>
#include <QTimer>
#include <QUdpSocket>
#include <QWebSocket>
#include <QWebSocketServer>

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int kClients = 16;
constexpr int kMessagesPerClient = 2000;
constexpr int kDatagrams = 50000;
constexpr int kWindow = 128;        // datagrams in flight, so loopback drops nothing
constexpr int kRounds = 5;
constexpr int kTimeoutMs = 60000;

const QString kText = QStringLiteral(R"({"url":"/bench","user_agent":"u1","data":{"a":1,"b":"text"}})");

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Plain QWebSocketServer in a thread of its own doing the same work: parse, check, answer the sender.
class BareEchoServer : public QObject
{
public:
    quint16 start()
    {
        m_thread.start();
        QSemaphore ready;
        QMetaObject::invokeMethod(this, [this, &ready] {
            m_server = std::make_unique<QWebSocketServer>("bare", QWebSocketServer::NonSecureMode);
            m_server->listen(QHostAddress::LocalHost, 0);
            connect(m_server.get(), &QWebSocketServer::newConnection, this, [this] {
                QWebSocket* s = m_server->nextPendingConnection();
                connect(s, &QWebSocket::textMessageReceived, s, [s](const QString& text) {
                    const QJsonObject o = QJsonDocument::fromJson(text.toUtf8()).object();
                    if (o.contains("url") && o.contains("user_agent") && o.value("data").isObject())
                        s->sendTextMessage(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)));
                });
            });
            m_port = m_server->serverPort();
            ready.release();
        });
        ready.acquire();
        return m_port;
    }
    ~BareEchoServer() override
    {
        QMetaObject::invokeMethod(this, [this] { m_server.reset(); }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }
    BareEchoServer() { moveToThread(&m_thread); }

private:
    QThread m_thread;
    std::unique_ptr<QWebSocketServer> m_server;
    quint16 m_port = 0;
};

// 16 clients each send their messages at once and wait for all echoes; messages per second, or -1.
double echoRate(quint16 port, int* errors)
{
    std::vector<std::unique_ptr<QWebSocket>> clients;
    int connected = 0;
    int echoes = 0;
    QEventLoop loop;
    for (int i = 0; i < kClients; ++i) {
        clients.push_back(std::make_unique<QWebSocket>());
        QWebSocket* c = clients.back().get();
        QObject::connect(c, &QWebSocket::connected, &loop, [&] {
            if (++connected == kClients)
                loop.quit();
        });
        QObject::connect(c, &QWebSocket::textMessageReceived, &loop, [&](const QString&) {
            if (++echoes == kClients * kMessagesPerClient)
                loop.quit();
        });
        c->open(QUrl(QString("ws://127.0.0.1:%1").arg(port)));
    }
    QTimer::singleShot(kTimeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    if (connected != kClients) {
        ++*errors;
        return -1;
    }
    QElapsedTimer timer;
    timer.start();
    for (int m = 0; m < kMessagesPerClient; ++m)
        for (auto& c : clients)
            c->sendTextMessage(kText);
    QTimer::singleShot(kTimeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    const double seconds = timer.nsecsElapsed() / 1e9;
    if (echoes != kClients * kMessagesPerClient) {
        ++*errors;
        return -1;
    }
    return echoes / seconds;
}

QByteArray requestDatagram()
{
    const QByteArray body = kText.toUtf8();
    return "POST /bench HTTP/1.1\r\nUser-Agent: u1\r\nContent-Type: application/json\r\nContent-Length: "
           + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

// Plain QUdpSocket in a thread of its own doing the same work: split the header, read the
// length, parse the JSON body.
class BareUdpReceiver : public QObject
{
public:
    std::atomic<int> records{0};
    quint16 start()
    {
        moveToThread(&m_thread);
        m_thread.start();
        QSemaphore ready;
        QMetaObject::invokeMethod(this, [this, &ready] {
            m_socket = std::make_unique<QUdpSocket>();
            m_socket->bind(QHostAddress(QHostAddress::LocalHost), 0);
            connect(m_socket.get(), &QUdpSocket::readyRead, this, [this] {
                while (m_socket->hasPendingDatagrams()) {
                    const QByteArray d = m_socket->receiveDatagram().data();
                    const int end = d.indexOf("\r\n\r\n");
                    const int at = d.indexOf("Content-Length: ");
                    if (end < 0 || at < 0)
                        continue;
                    const int length = d.mid(at + 16, d.indexOf("\r\n", at) - at - 16).toInt();
                    if (QJsonDocument::fromJson(d.mid(end + 4, length)).isObject())
                        ++records;
                }
            });
            m_port = m_socket->localPort();
            ready.release();
        });
        ready.acquire();
        return m_port;
    }
    ~BareUdpReceiver() override
    {
        QMetaObject::invokeMethod(this, [this] { m_socket.reset(); }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }

private:
    QThread m_thread;
    std::unique_ptr<QUdpSocket> m_socket;
    quint16 m_port = 0;
};

// Datagrams per second into a receiver, with at most kWindow unanswered; -1 on loss.
double udpRate(quint16 port, const std::atomic<int>& records, int* errors)
{
    QUdpSocket sender;
    const QByteArray datagram = requestDatagram();
    const int base = records;
    QElapsedTimer timer;
    timer.start();
    for (int sent = 0; sent < kDatagrams;) {
        while (sent < kDatagrams && sent - (records - base) < kWindow) {
            sender.writeDatagram(datagram, QHostAddress::LocalHost, port);
            ++sent;
        }
        if (timer.elapsed() > kTimeoutMs) {
            ++*errors;
            return -1;
        }
        QThread::yieldCurrentThread();
    }
    while (records - base < kDatagrams && timer.elapsed() < kTimeoutMs)
        QThread::yieldCurrentThread();
    if (records - base < kDatagrams) {
        ++*errors;
        return -1;
    }
    return kDatagrams / (timer.nsecsElapsed() / 1e9);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules("*.info=false\n*.debug=false");

    WebSkt_Server ours;
    QObject::connect(&ours, &WebSkt_Core::sig_recv_message, &ours,
                     [&ours](const CTask_FormData_WebSkt_Json& m) { ours.sendTextMessage(m); }, Qt::DirectConnection);
    ours.reAction(QHostAddress(QHostAddress::LocalHost), 0);
    BareEchoServer bare;
    const quint16 barePort = bare.start();

    std::vector<double> wsOurs, wsBare;
    int wsErrors = 0;
    for (int round = 0; round < kRounds; ++round) {
        const double a = echoRate(ours.serverPort(), &wsErrors);
        const double b = echoRate(barePort, &wsErrors);
        if (a > 0)
            wsOurs.push_back(a);
        if (b > 0)
            wsBare.push_back(b);
    }

    VEKC::UdpReactor reactor;
    std::atomic<int> reactorRecords{0};
    QObject::connect(&reactor, &VEKC::UdpReactor::sigRequest, &reactor,
                     [&reactorRecords](const CTask_FormData&) { ++reactorRecords; }, Qt::DirectConnection);
    QUdpSocket probe;   // the reactor's port comes from its first send
    probe.bind(QHostAddress(QHostAddress::LocalHost), 0);
    reactor.sendMsg("hi", "127.0.0.1", probe.localPort(), false);
    probe.waitForReadyRead(3000);
    const quint16 reactorPort = quint16(probe.receiveDatagram().senderPort());
    BareUdpReceiver bareUdp;
    const quint16 bareUdpPort = bareUdp.start();

    std::vector<double> udpOurs, udpBare;
    int udpErrors = 0;
    for (int round = 0; round < kRounds; ++round) {
        const double a = udpRate(reactorPort, reactorRecords, &udpErrors);
        const double b = udpRate(bareUdpPort, bareUdp.records, &udpErrors);
        if (a > 0)
            udpOurs.push_back(a);
        if (b > 0)
            udpBare.push_back(b);
    }

    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    sched_getaffinity(0, sizeof cpus, &cpus);
    std::printf("cores available: %d\n", CPU_COUNT(&cpus));
    if (!wsOurs.empty() && !wsBare.empty())
        std::printf("websocket echo, %d clients: core %.0f msg/s, bare QWebSocketServer %.0f msg/s, ratio %.2f "
                    "(failed runs %d)\n",
                    kClients, median(wsOurs), median(wsBare), median(wsOurs) / median(wsBare), wsErrors);
    if (!udpOurs.empty() && !udpBare.empty())
        std::printf("udp requests: reactor %.0f dgram/s, bare QUdpSocket %.0f dgram/s, ratio %.2f (failed runs %d)\n",
                    median(udpOurs), median(udpBare), median(udpOurs) / median(udpBare), udpErrors);
    return 0;
}
