#include "clock.h"
#include "netcoretestkit.h"
#include "tcpclireactor.h"
#include "tcpservreactor.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

#include "session.h"

namespace {

// A client service whose response handler is registered under the URL it posts to.
class ClientService : public HttpManager
{
public:
    ClientService() : HttpManager(VEKT_CLIENT)
    {
        routes_.insert("/echo", [this](CTask_FormData task) { responses << task; });
    }
    QList<CTask_FormData> responses;
};

// A bare peer in this thread that answers each request with the given uuids, in order.
class ScriptedPeer
{
public:
    explicit ScriptedPeer(QStringList uuids) : uuids_(std::move(uuids))
    {
        server_.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server_, &QTcpServer::newConnection, [this] {
            QTcpSocket* s = server_.nextPendingConnection();
            QObject::connect(s, &QTcpSocket::readyRead, [this, s] {
                buffer_ += s->readAll();
                if (!buffer_.contains("\r\n\r\n"))
                    return;
                for (const QString& uuid : uuids_) {
                    const QByteArray body = R"({"code":0,"msg":"OK","result":{"u":")" + uuid.toUtf8() + "\"}}";
                    s->write("HTTP/1.1 200 OK\r\nUser-Agent: " + uuid.toUtf8() + "\r\nContent-Type: application/json\r\n"
                             "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
                }
            });
        });
    }
    quint16 port() const { return server_.serverPort(); }
    void closeAll()
    {
        for (QTcpSocket* s : server_.findChildren<QTcpSocket*>())
            s->close();
    }

private:
    QTcpServer server_;
    QStringList uuids_;
    QByteArray buffer_;
};

} // namespace

TEST(ClientReactor, ResponseIsMatchedToItsRequest)
{
    ServiceHost host;
    ClientService client;
    ASSERT_TRUE(client.startReactor(QHostAddress::LocalHost, host.port(), 1));
    CTask_FormData req;
    req.url = "/echo";
    req.json.insert("v", 9);
    client.sendAsync(req);
    ASSERT_TRUE(waitUntil([&] { return !client.responses.isEmpty(); }));
    const CTask_FormData& r = client.responses.first();
    EXPECT_TRUE(r.uuid.startsWith("defalut#"));
    EXPECT_EQ(r.json.value("result").toObject().value("v").toInt(), 9);
    TcpTsk_Info info("");
    ASSERT_TRUE(r.taskInfo.tryGetValue(info));
    EXPECT_EQ(info.url, "/echo");
    EXPECT_GT(info.finishact_timing, 0);
    EXPECT_EQ(client.reactor()->taskCount(), 0);
    // The server registered nothing for its replies.
    EXPECT_TRUE(waitUntil([&] { return host.service()->reactor()->taskCount() == 0; }));
}

TEST(ClientReactor, PostSyncMatchesUuidsByEquality)
{
    ScriptedPeer peer({"t#10", "t#1"});
    VEKC::TcpCliReactor reactor;
    ASSERT_TRUE(reactor.reAction(QHostAddress::LocalHost, peer.port()));
    CTask_FormData req;
    req.url = "/q";
    req.uuid = "t#1";
    CTask_FormData resp;
    ASSERT_TRUE(reactor.post_sync(req, resp, 3000));
    EXPECT_EQ(resp.uuid, "t#1");
    EXPECT_EQ(resp.json.value("result").toObject().value("u").toString(), "t#1");

    EXPECT_FALSE(reactor.post_sync(req, resp, 0));
    EXPECT_FALSE(reactor.post_sync(req, resp, 60001));
}

TEST(ClientReactor, RefusedConnectAndLostPeer)
{
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        closedPort = probe.serverPort();
    }
    VEKC::TcpCliReactor refused;
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(refused.reAction(QHostAddress::LocalHost, closedPort));
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_FALSE(refused.isRunning());

    ScriptedPeer peer({});
    VEKC::TcpCliReactor reactor;
    ASSERT_TRUE(reactor.reAction(QHostAddress::LocalHost, peer.port()));
    EXPECT_EQ(reactor.hasSession(), 1);
    QCoreApplication::processEvents();   // the peer accepts
    peer.closeAll();
    EXPECT_TRUE(waitUntil([&] { return reactor.hasSession() == 0; }, 3000));
    EXPECT_TRUE(reactor.isRunning());
}

TEST(ServerReactor, ConsecutiveIdsAndAddressedReplies)
{
    VEKC::TcpServReactor server;
    QList<CTask_FormData> requests;
    QObject::connect(&server, &VEKC::TcpReactor::sigRequest, &server,
                     [&](CTask_FormData t) { requests << t; }, Qt::QueuedConnection);
    ASSERT_TRUE(server.reAction(QHostAddress::LocalHost, 0));
    EXPECT_TRUE(server.isRunning());

    RawClient a(server.serverPort());
    RawClient b(server.serverPort());
    a.send(request("POST", "/x", R"({"who":"a"})"));
    ASSERT_TRUE(waitUntil([&] { return requests.size() == 1; }));
    b.send(request("POST", "/x", R"({"who":"b"})"));
    ASSERT_TRUE(waitUntil([&] { return requests.size() == 2; }));
    EXPECT_EQ(requests[1].sessionId, requests[0].sessionId + 1);

    CTask_FormData reply;
    reply.uuid = requests[0].uuid;
    reply.sessionId = requests[0].sessionId;
    server.post_async(reply);
    EXPECT_TRUE(a.readResponse().complete);
    EXPECT_FALSE(b.readResponse(200).complete);

    CTask_FormData nowhere;
    nowhere.url = "/push";
    nowhere.sessionId = -2;
    server.post_async(nowhere);
    EXPECT_EQ(server.taskCount(), 1);   // registered, sent nowhere

    // Liveness does not follow the wall clock: setting it back a day changes nothing.
    Clock::setFixed(Clock::now().addDays(-1));
    EXPECT_TRUE(server.isRunning());
    Clock::reset();

    server.deinitialize();
    EXPECT_FALSE(server.isRunning());
    EXPECT_EQ(server.sessionCount(), 0);
    EXPECT_TRUE(a.waitClosed(2000));
}

TEST(HttpService, ModesAndRestart)
{
    HttpManager none(static_cast<VEKT_TYPE>(5));
    EXPECT_FALSE(none.startReactor(QHostAddress::LocalHost, 0, 1));
    EXPECT_TRUE(none.reactor().isNull());
    none.sendAsync(CTask_FormData());   // nothing to send on, nothing happens

    // Mode 3: handlers run on the two workers; an unknown URL still gets 404.
    ServiceHost workers(3);
    RawClient c(workers.port());
    c.send(request("POST", "/echo", R"({"w":1})"));
    EXPECT_EQ(c.readResponse().firstLine, "HTTP/1.1 200 OK");
    c.send(request("GET", "/nope"));
    EXPECT_EQ(c.readResponse().firstLine, "HTTP/1.1 404 Not Found");

    for (const int mode : {1, 2}) {
        ServiceHost plain(mode);
        RawClient p(plain.port());
        p.send(request("POST", "/echo", R"({"m":1})") + request("GET", "/nope"));
        QList<QByteArray> lines{p.readResponse().firstLine, p.readResponse().firstLine};
        std::sort(lines.begin(), lines.end());
        EXPECT_EQ(lines, (QList<QByteArray>{"HTTP/1.1 200 OK", "HTTP/1.1 404 Not Found"})) << "mode " << mode;
    }

    // A second start drops the first reactor with its connections.
    ClientService client;
    ASSERT_TRUE(client.startReactor(QHostAddress::LocalHost, workers.port(), 1));
    ASSERT_TRUE(waitUntil([&] { return workers.sessionCount() == 2; }));
    ASSERT_TRUE(client.startReactor(QHostAddress::LocalHost, workers.port(), 1));
    EXPECT_TRUE(waitUntil([&] { return workers.sessionCount() == 2; }));
    CTask_FormData req;
    req.url = "/echo";
    client.sendAsync(req);
    EXPECT_TRUE(waitUntil([&] { return client.responses.size() == 1; }));
}

TEST(SessionObject, WithoutSocketAndFromOtherThreads)
{
    Session inert(nullptr, nullptr, 5);
    EXPECT_FALSE(inert.isWorking());
    EXPECT_EQ(inert.SlotSendAction(SCI_ExecObj_Send(CTask_FormData())), 1);   // own thread: handled here
    int fromOther = -1;
    std::thread other([&] { fromOther = inert.SlotSendAction(SCI_ExecObj_Send(CTask_FormData())); });
    other.join();
    EXPECT_EQ(fromOther, 0);   // re-posted to the session's thread
    QCoreApplication::processEvents();
}
