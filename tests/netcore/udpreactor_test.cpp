#include "netcoretestkit.h"
#include "udpreactor.h"

#include <QJsonObject>
#include <QNetworkDatagram>
#include <QTest>
#include <QUdpSocket>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace {

// A plain datagram peer on loopback; it learns the reactor's ephemeral port from
// the reactor's first datagram.
struct UdpPeer
{
    QUdpSocket socket;
    quint16 reactorPort = 0;

    UdpPeer() { socket.bind(QHostAddress(QHostAddress::LocalHost), 0); }

    QByteArray learn(VEKC::UdpReactor& reactor, const QByteArray& hello)
    {
        reactor.sendMsg(hello, "127.0.0.1", socket.localPort(), false);
        if (!waitUntil([this] { return socket.hasPendingDatagrams(); }))
            return QByteArray();
        const QNetworkDatagram datagram = socket.receiveDatagram();
        reactorPort = quint16(datagram.senderPort());
        return datagram.data();
    }
    void send(const QByteArray& bytes, QUdpSocket* from = nullptr)
    {
        (from ? from : &socket)->writeDatagram(bytes, QHostAddress::LocalHost, reactorPort);
    }
};

struct Received
{
    QList<CTask_FormData> requests;
    QList<CTask_FormData> responses;
    int total() const { return requests.size() + responses.size(); }
};

void capture(VEKC::UdpReactor& reactor, Received& got)
{
    QObject::connect(&reactor, &VEKC::UdpReactor::sigRequest, &reactor,
                     [&got](const CTask_FormData& r) { got.requests << r; }, Qt::QueuedConnection);
    QObject::connect(&reactor, &VEKC::UdpReactor::sigResponse, &reactor,
                     [&got](const CTask_FormData& r) { got.responses << r; }, Qt::QueuedConnection);
}

CTask_FormData jsonRequest(const QString& url, int n)
{
    CTask_FormData task;
    task.url = url;
    task.uuid = QString("udp-%1").arg(n);
    task.query.insert("n", QString::number(n));
    task.json.insert("n", n);
    return task;
}

} // namespace

TEST(UdpReactor, StartsOnceSendsFromStoppedAndStopsWithItsAliveStamp)
{
    VEKC::UdpReactor reactor;
    EXPECT_FALSE(reactor.isRunning());
    EXPECT_FALSE(reactor.getTimerAlived());

    UdpPeer peer;   // sending on a stopped reactor starts it first
    EXPECT_EQ(peer.learn(reactor, "hello"), QByteArray("hello"));
    EXPECT_TRUE(reactor.isRunning());
    EXPECT_TRUE(reactor.getTimerAlived());
    EXPECT_FALSE(reactor.initialize());   // already running: nothing new starts

    // A datagram larger than UDP allows is reported, not fatal.
    reactor.sendMsg(QByteArray(70000, 'x'), "127.0.0.1", peer.socket.localPort(), false);
    reactor.sendMsg("after", "127.0.0.1", peer.socket.localPort(), false);
    ASSERT_TRUE(waitUntil([&] { return peer.socket.hasPendingDatagrams(); }));
    EXPECT_EQ(peer.socket.receiveDatagram().data(), QByteArray("after"));

    // The stamp outlives a stop by its window, as that of a loop that hangs does.
    reactor.deinitialize();
    EXPECT_FALSE(reactor.isRunning());
    EXPECT_TRUE(reactor.getTimerAlived());
    EXPECT_TRUE(waitUntil([&] { return !reactor.getTimerAlived(); }, VEKC::UdpReactor::kAliveWindowMs + 1500));
    EXPECT_TRUE(reactor.initialize());
    EXPECT_TRUE(reactor.getTimerAlived());
}

TEST(UdpReactor, RoundTripsEveryMessageFormFromWholeDatagrams)
{
    VEKC::UdpReactor reactor;
    Received got;
    capture(reactor, got);
    UdpPeer peer;
    ASSERT_FALSE(peer.learn(reactor, "hi").isEmpty());

    CTask_FormData response;   // empty url: a response
    response.uuid = "answer-1";
    response.json.insert("k", "v");
    CTask_FormData binary;
    binary.url = "/bin";
    binary.uuid = "bin-1";
    binary.files.insert(QString(), QByteArray("\x00\x01\x02zz", 5));

    peer.send(captureWire(jsonRequest("/echo", 7)).bytes);
    peer.send(captureWire(response).bytes);
    peer.send(captureWire(binary).bytes);
    ASSERT_TRUE(waitUntil([&] { return got.total() == 3; }));

    ASSERT_EQ(got.requests.size(), 2);
    EXPECT_EQ(got.requests[0].url, "/echo");
    EXPECT_EQ(got.requests[0].query.value("n"), "7");
    EXPECT_EQ(got.requests[0].json.value("n").toInt(), 7);
    EXPECT_EQ(got.requests[0].uuid, "udp-7");
    EXPECT_EQ(got.requests[1].files.value(QString()), QByteArray("\x00\x01\x02zz", 5));
    ASSERT_EQ(got.responses.size(), 1);
    EXPECT_EQ(got.responses[0].uuid, "answer-1");
    EXPECT_EQ(got.responses[0].json.value("result").toObject().value("k").toString(), "v");
    for (const CTask_FormData& r : got.requests + got.responses) {
        EXPECT_EQ(r.sessionId, -1);
        EXPECT_EQ(r.peerAddress, "127.0.0.1");
        EXPECT_EQ(r.peerPort, peer.socket.localPort());
    }
}

TEST(UdpReactor, FramesEachSenderApartAcrossDatagramsAndRecoversFromRefusedBytes)
{
    VEKC::UdpReactor reactor;
    Received got;
    capture(reactor, got);
    UdpPeer peer;
    ASSERT_FALSE(peer.learn(reactor, "hi").isEmpty());

    // Two senders interleaved: A's half message does not swallow B's whole one, and A's
    // rest completes A's own message.
    QUdpSocket other;
    other.bind(QHostAddress(QHostAddress::LocalHost), 0);
    CTask_FormData fromA = jsonRequest("/from-a", 1);
    fromA.json.insert("pad", QString(20, 'p'));   // a body longer than the part sent first
    const QByteArray wireA = captureWire(fromA).bytes;
    const int headerEnd = wireA.indexOf("\r\n\r\n") + 4;
    peer.send(wireA.left(headerEnd + 6));
    QTest::qWait(100);
    EXPECT_EQ(got.total(), 0);
    peer.send(captureWire(jsonRequest("/from-b", 9)).bytes, &other);
    ASSERT_TRUE(waitUntil([&] { return got.total() == 1; }));
    EXPECT_EQ(got.requests[0].url, "/from-b");
    EXPECT_EQ(got.requests[0].peerPort, other.localPort());
    peer.send(wireA.mid(headerEnd + 6));
    ASSERT_TRUE(waitUntil([&] { return got.total() == 2; }));
    EXPECT_EQ(got.requests[1].url, "/from-a");
    EXPECT_EQ(got.requests[1].json.value("n").toInt(), 1);
    EXPECT_EQ(got.requests[1].peerPort, peer.socket.localPort());
    got.requests.clear();

    // Two messages in one datagram both arrive without waiting for another datagram.
    peer.send(captureWire(jsonRequest("/a", 2)).bytes + captureWire(jsonRequest("/b", 3)).bytes);
    ASSERT_TRUE(waitUntil([&] { return got.total() == 2; }));
    EXPECT_EQ(got.requests[0].url, "/a");
    EXPECT_EQ(got.requests[1].url, "/b");

    // An oversize header and a body over the limit are dropped; later messages still frame.
    peer.send("POST /big HTTP/1.1\r\nX-Pad: " + QByteArray(20000, 'p') + "\r\n\r\n");
    peer.send("POST /huge HTTP/1.1\r\nContent-Type: application/json\r\nContent-Length: "
              + QByteArray::number(VEKC::UdpReactor::kMaxMessageBytes + 1) + "\r\n\r\n{");
    peer.send(captureWire(jsonRequest("/after", 4)).bytes);
    ASSERT_TRUE(waitUntil([&] { return got.total() == 3; }));
    EXPECT_EQ(got.requests.last().url, "/after");
    QTest::qWait(100);
    EXPECT_EQ(got.total(), 3);

    // Incomplete messages are held for a bounded number of senders: the stalest gives way.
    std::vector<std::unique_ptr<QUdpSocket>> many;
    for (int i = 0; i < VEKC::UdpReactor::kMaxSenders + 2; ++i) {
        many.push_back(std::make_unique<QUdpSocket>());
        many.back()->bind(QHostAddress(QHostAddress::LocalHost), 0);
        peer.send(wireA.left(headerEnd), many.back().get());
        QTest::qWait(5);
    }
    QTest::qWait(100);
    peer.send(wireA.mid(headerEnd), many.front().get());   // its header was let go
    peer.send(wireA.mid(headerEnd), many.back().get());
    ASSERT_TRUE(waitUntil([&] { return got.total() == 4; }));
    EXPECT_EQ(got.requests.last().peerPort, many.back()->localPort());
    QTest::qWait(100);
    EXPECT_EQ(got.total(), 4);
}
