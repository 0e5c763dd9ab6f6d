#include "netcoretestkit.h"
#include "shellrunner.h"
#include "tcpreactor.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

QJsonObject bodyJson(const RawResponse& r)
{
    return QJsonDocument::fromJson(r.body).object();
}

QString makeFile(const QTemporaryDir& dir, const QString& name, int size)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    QByteArray chunk(65536, '\0');
    for (int i = 0; i < chunk.size(); ++i)
        chunk[i] = char(i * 7 + 3);
    for (int left = size; left > 0; left -= chunk.size())
        f.write(chunk.left(qMin(left, chunk.size())));
    return path;
}

} // namespace

TEST(HttpServer, CurlGetPostAndNotFound)
{
    ServiceHost host;
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(host.port());

    ShellResult r = runProgram("curl", {"--noproxy", "*", "-s", "-i", "--max-time", "10", base + "/echo?x=1&name=a%20b"}, 20000);
    ASSERT_TRUE(r.ok()) << r.stdErr.toStdString();
    EXPECT_TRUE(r.stdOut.startsWith("HTTP/1.1 200 OK\r\n"));
    const QByteArray body = r.stdOut.mid(r.stdOut.indexOf("\r\n\r\n") + 4);
    const QJsonObject result = QJsonDocument::fromJson(body).object().value("result").toObject();
    EXPECT_EQ(result.value("q_x").toString(), "1");
    EXPECT_EQ(result.value("q_name").toString(), "a b");

    r = runProgram("curl", {"--noproxy", "*", "-s", "--max-time", "10", "-H", "Content-Type: application/json", "-d", R"({"a":5})",
                            base + "/echo"}, 20000);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(QJsonDocument::fromJson(r.stdOut).object().value("result").toObject().value("a").toInt(), 5);

    r = runProgram("curl", {"--noproxy", "*", "-s", "-i", "--max-time", "10", "-A", "req-42", base + "/nothing"}, 20000);
    ASSERT_TRUE(r.ok());
    EXPECT_TRUE(r.stdOut.startsWith("HTTP/1.1 404 Not Found\r\n"));
    EXPECT_TRUE(r.stdOut.contains("\r\nUser-Agent: req-42\r\n"));
    EXPECT_TRUE(r.stdOut.endsWith(R"({"code":-1,"msg":"no found url","result":{}})"));
}

TEST(HttpServer, PythonKeepAliveGetAndPost)
{
    ServiceHost host;
    const QByteArray script = R"(
import http.client, json, sys
c = http.client.HTTPConnection('127.0.0.1', int(sys.argv[1]), timeout=10)
c.request('GET', '/echo?k=v')
r1 = c.getresponse(); b1 = json.loads(r1.read())
sock = c.sock
c.request('POST', '/echo', body=json.dumps({'n': 7}), headers={'Content-Type': 'application/json'})
r2 = c.getresponse(); b2 = json.loads(r2.read())
print(json.dumps({'s1': r1.status, 's2': r2.status, 'k': b1['result']['q_k'], 'n': b2['result']['n'],
                  'same': sock is c.sock}))
)";
    const ShellResult r = ShellRunner::instance().run("python3", {"-c", QString::fromUtf8(script),
                                                                  QString::number(host.port())}, 20000);
    ASSERT_TRUE(r.ok()) << r.stdErr.toStdString();
    const QJsonObject out = QJsonDocument::fromJson(r.stdOut).object();
    EXPECT_EQ(out.value("s1").toInt(), 200);
    EXPECT_EQ(out.value("s2").toInt(), 200);
    EXPECT_EQ(out.value("k").toString(), "v");
    EXPECT_EQ(out.value("n").toInt(), 7);
    EXPECT_TRUE(out.value("same").toBool());
}

TEST(HttpServer, PipelinedAndSplitRequests)
{
    ServiceHost host;
    RawClient c(host.port());
    // Both requests of one segment are answered (each by its uuid; the 404 needs no handler).
    c.send(request("POST", "/echo", R"({"i":1})", "User-Agent: p1\r\n")
           + request("POST", "/none", R"({"i":2})", "User-Agent: p2\r\n"));
    const RawResponse a = c.readResponse();
    const RawResponse b = c.readResponse();
    ASSERT_TRUE(a.complete && b.complete);
    QMap<QByteArray, QByteArray> byUuid{{a.headers.value("user-agent"), a.firstLine},
                                        {b.headers.value("user-agent"), b.firstLine}};
    EXPECT_EQ(byUuid.value("p1"), "HTTP/1.1 200 OK");
    EXPECT_EQ(byUuid.value("p2"), "HTTP/1.1 404 Not Found");

    const QByteArray bytes = request("POST", "/echo", R"({"i":3})");
    c.send(bytes.left(10));
    QThread::msleep(20);
    c.send(bytes.mid(10, bytes.size() - 12));
    QThread::msleep(20);
    c.send(bytes.right(2));
    const RawResponse s = c.readResponse();
    ASSERT_TRUE(s.complete);
    EXPECT_EQ(bodyJson(s).value("result").toObject().value("i").toInt(), 3);
}

TEST(HttpServer, RefusedRequestsAreAnsweredAndClosed)
{
    ServiceHost host;
    struct Case
    {
        QByteArray bytes;
        QByteArray firstLine;
    };
    const QList<Case> cases = {
        {request("POST", "/echo", "{broken"), "HTTP/1.1 400 Bad Request"},
        {"GET /echo HTTP/1.0\r\nHost: a\r\n\r\n", "HTTP/1.1 400 Bad Request"},
        {"GET /echo HTTP/1.1\r\n\r\n", "HTTP/1.1 400 Bad Request"},
        {"GET /echo HTTP/1.1\r\nUser-Agent: a\x01" "b\r\n\r\n", "HTTP/1.1 400 Bad Request"},
        {"POST /echo HTTP/1.1\r\nContent-Length: 100000000\r\n\r\n", "HTTP/1.1 413 Content Too Large"},
        {"POST /echo HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", "HTTP/1.1 501 Not Implemented"},
        {"POST /echo HTTP/1.1\r\nX-Pad: " + QByteArray(20000, 'a') + "\r\n\r\n",
         "HTTP/1.1 431 Request Header Fields Too Large"},
    };
    for (const Case& k : cases) {
        RawClient c(host.port());
        c.send(k.bytes);
        const RawResponse r = c.readResponse();
        ASSERT_TRUE(r.complete) << k.bytes.left(60).toStdString() << " got: " << r.raw.toStdString();
        EXPECT_EQ(r.firstLine, k.firstLine);
        EXPECT_EQ(bodyJson(r).value("code").toInt(), -1);
        EXPECT_TRUE(c.waitClosed(3000));
    }
    // The server still serves after all that.
    RawClient ok(host.port());
    ok.send(request("GET", "/echo"));
    EXPECT_EQ(ok.readResponse().firstLine, "HTTP/1.1 200 OK");
}

TEST(HttpServer, SlowAndIdleConnectionsAreClosed)
{
    NetLimits limits;
    limits.messageTimeoutMs = 300;
    limits.idleTimeoutMs = 700;
    ServiceHost host(4, limits);

    RawClient slow(host.port());
    slow.send("POST /echo HTTP/1.1\r\nContent-Length: 10\r\n\r\n12345");
    EXPECT_TRUE(slow.waitClosed(2000));

    RawClient idle(host.port());
    idle.send(request("GET", "/echo"));
    EXPECT_TRUE(idle.readResponse().complete);
    EXPECT_FALSE(idle.waitClosed(300));
    EXPECT_TRUE(idle.waitClosed(2000));
    EXPECT_TRUE(waitUntil([&] { return host.sessionCount() == 0; }, 2000));
}

TEST(HttpServer, ConnectionCapAndPromptRemoval)
{
    NetLimits limits;
    limits.maxConnections = 2;
    ServiceHost host(4, limits);
    auto a = std::make_unique<RawClient>(host.port());
    RawClient b(host.port());
    ASSERT_TRUE(waitUntil([&] { return host.sessionCount() == 2; }));
    // Beyond the cap a client waits in the backlog (accepting is paused, not spun on).
    RawClient waiting(host.port());
    b.send(request("GET", "/echo"));
    EXPECT_TRUE(b.readResponse().complete);
    EXPECT_EQ(host.sessionCount(), 2);

    // A client that goes away leaves the table at once and the waiting one takes its slot.
    a.reset();
    waiting.send(request("GET", "/echo"));
    EXPECT_TRUE(waiting.readResponse().complete);
    ASSERT_TRUE(waitUntil([&] { return host.sessionCount() == 2; }, 2000));
    b.send(request("GET", "/echo"));
    EXPECT_TRUE(b.readResponse().complete);
    EXPECT_EQ(host.sessionCount(), 2);
}

TEST(HttpServer, BusyUrlGets503WhileOthersWait)
{
    ServiceHost host;
    RawClient first(host.port());
    first.send(request("GET", "/hold", QByteArray(), "User-Agent: h1\r\n"));
    ASSERT_TRUE(host.service()->holdEntered.tryAcquire(1, 5000));

    RawClient second(host.port());
    second.send(request("GET", "/hold", QByteArray(), "User-Agent: h2\r\n"));
    const RawResponse busy = second.readResponse();
    ASSERT_TRUE(busy.complete);
    EXPECT_EQ(busy.firstLine, "HTTP/1.1 503 Service Unavailable");
    EXPECT_EQ(busy.headers.value("user-agent"), "h2");
    EXPECT_EQ(bodyJson(busy).value("msg").toString(), QString::fromUtf8("服务器忙碌中"));

    RawClient other(host.port());
    other.send(request("GET", "/echo"));
    EXPECT_FALSE(other.readResponse(200).complete);   // queued behind the running handler

    host.service()->holdRelease.release();
    const RawResponse held = first.readResponse();
    EXPECT_EQ(held.headers.value("user-agent"), "h1");
    EXPECT_TRUE(bodyJson(held).value("result").toObject().value("held").toBool());
    EXPECT_TRUE(other.readResponse().complete);
}

TEST(HttpServer, FilesStreamInOrderAndSurviveAbort)
{
    QTemporaryDir dir;
    const int size = 3 * 1024 * 1024 + 5;
    const QString path = makeFile(dir, "f.bin", size);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray expected = f.readAll();
    ServiceHost host;

    RawClient c(host.port());
    const QByteArray target = "/file?path=" + path.toUtf8();
    c.send(request("GET", target) + request("POST", "/echo", R"({"after":1})"));
    const RawResponse file = c.readResponse(10000);
    ASSERT_TRUE(file.complete);
    EXPECT_EQ(file.headers.value("content-type"), "application/octet-stream");
    EXPECT_TRUE(file.body == expected);
    const RawResponse after = c.readResponse();
    EXPECT_EQ(bodyJson(after).value("result").toObject().value("after").toInt(), 1);

    c.send(request("GET", "/file?path=" + dir.filePath("gone.jpg").toUtf8()));
    EXPECT_EQ(bodyJson(c.readResponse()).value("code").toInt(), 1);

    {
        RawClient quitter(host.port());
        quitter.send(request("GET", target));
        quitter.socket()->waitForReadyRead(3000);
        quitter.socket()->abort();
    }
    EXPECT_TRUE(waitUntil([&] { return host.sessionCount() == 1; }, 3000));
    c.send(request("GET", "/echo"));
    EXPECT_TRUE(c.readResponse().complete);
}

TEST(HttpServer, StalledFileTransferIsCutAtItsLimit)
{
    QTemporaryDir dir;
    const QString path = makeFile(dir, "big.bin", 48 * 1024 * 1024);
    NetLimits limits;
    limits.sendTimeoutMs = 300;
    ServiceHost host(4, limits);
    RawClient reader(host.port());
    reader.socket()->setReadBufferSize(64 * 1024);   // a peer that stops reading
    reader.send(request("GET", "/file?path=" + path.toUtf8()));
    ASSERT_TRUE(waitUntil([&] { return host.service()->handled == 1; }));
    EXPECT_TRUE(waitUntil([&] { return host.sessionCount() == 0; }, 3000));

    // Cut off means reset: what the system still held for the slow peer goes with it, rather than
    // reaching it for minutes after the session has ended.
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const int small = 4096;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(host.port());
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&server), sizeof server), 0);
    const QByteArray get = request("GET", "/file?path=" + path.toUtf8());
    ASSERT_EQ(::send(fd, get.constData(), size_t(get.size()), 0), get.size());
    ASSERT_TRUE(waitUntil([&] { return host.service()->handled == 2; }));
    ASSERT_TRUE(waitUntil([&] { return host.sessionCount() == 0; }, 3000));
    const timeval patience{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    char chunk[65536];
    ssize_t got = 0;
    int error = 0;
    while ((got = ::recv(fd, chunk, sizeof chunk, 0)) > 0) {
    }
    error = got < 0 ? errno : 0;
    ::close(fd);
    EXPECT_EQ(error, ECONNRESET);
}

// A standard client pipelines with one User-Agent for all requests and takes the replies
// in order: answers made at once in the reactor thread must not overtake a running handler's.
TEST(HttpServer, PipelinedRepliesKeepRequestOrder)
{
    ServiceHost host;
    RawClient c(host.port());
    const QByteArray ua = "User-Agent: client/1.0\r\n";
    c.send(request("GET", "/hold", QByteArray(), ua) + request("GET", "/none", QByteArray(), ua)
           + request("POST", "/echo", R"({"i":3})", ua));
    ASSERT_TRUE(host.service()->holdEntered.tryAcquire(1, 5000));
    EXPECT_FALSE(c.readResponse(300).complete);   // the 404 waits for the held request's reply
    host.service()->holdRelease.release();
    const RawResponse first = c.readResponse();
    const RawResponse second = c.readResponse();
    const RawResponse third = c.readResponse();
    ASSERT_TRUE(first.complete && second.complete && third.complete);
    EXPECT_TRUE(bodyJson(first).value("result").toObject().value("held").toBool());
    EXPECT_EQ(second.firstLine, "HTTP/1.1 404 Not Found");
    EXPECT_EQ(bodyJson(third).value("result").toObject().value("i").toInt(), 3);

    // The same for a 503 of a second request for the running URL on this connection.
    c.send(request("GET", "/hold", QByteArray(), ua));
    ASSERT_TRUE(host.service()->holdEntered.tryAcquire(1, 5000));
    c.send(request("GET", "/hold", QByteArray(), ua));
    EXPECT_FALSE(c.readResponse(300).complete);
    host.service()->holdRelease.release();
    EXPECT_EQ(c.readResponse().firstLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(c.readResponse().firstLine, "HTTP/1.1 503 Service Unavailable");

    // A refused request is answered after the earlier reply, then the connection closes.
    c.send(request("GET", "/hold", QByteArray(), ua));
    ASSERT_TRUE(host.service()->holdEntered.tryAcquire(1, 5000));
    c.send(request("POST", "/echo", "{broken", ua));
    EXPECT_FALSE(c.readResponse(300).complete);
    host.service()->holdRelease.release();
    EXPECT_EQ(c.readResponse().firstLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(c.readResponse().firstLine, "HTTP/1.1 400 Bad Request");
    EXPECT_TRUE(c.waitClosed(3000));
}

// A request asking to close is answered after the requests before it, then the connection
// ends (a client reading to its end is not left waiting); what came behind it is not served.
// Other Connection options keep it open.
TEST(HttpServer, ConnectionCloseEndsTheConnectionAfterItsReply)
{
    ServiceHost host;
    RawClient kept(host.port());
    kept.send(request("POST", "/echo", R"({"i":1})", "Connection: keep-alive\r\n"));
    EXPECT_TRUE(kept.readResponse().complete);
    EXPECT_FALSE(kept.waitClosed(300));

    RawClient last(host.port());
    last.send(request("POST", "/echo", R"({"i":2})", "Connection: close\r\n"));
    const RawResponse own = last.readResponse();
    ASSERT_TRUE(own.complete);
    EXPECT_EQ(bodyJson(own).value("result").toObject().value("i").toInt(), 2);
    EXPECT_TRUE(last.waitClosed(3000));

    // Pipelined: a held request, one answered at arrival that asks to close (options in any
    // case, among others), and one more behind it.
    RawClient c(host.port());
    c.send(request("GET", "/hold") + request("GET", "/where?n=2", QByteArray(), "connection: Keep-Alive, Close\r\n")
           + request("POST", "/echo", R"({"i":3})"));
    ASSERT_TRUE(host.service()->holdEntered.tryAcquire(1, 5000));
    EXPECT_FALSE(c.readResponse(300).complete);
    EXPECT_FALSE(c.waitClosed(0));
    host.service()->holdRelease.release();
    const RawResponse first = c.readResponse();
    const RawResponse second = c.readResponse();
    ASSERT_TRUE(first.complete && second.complete);
    EXPECT_TRUE(bodyJson(first).value("result").toObject().value("held").toBool());
    EXPECT_EQ(bodyJson(second).value("result").toObject().value("q_n").toString(), "2");
    EXPECT_TRUE(c.waitClosed(3000));
    EXPECT_FALSE(c.readResponse(300).complete);
    EXPECT_EQ(host.service()->handled, 4);   // the one behind the close never reached a handler
}

// A request no handler answers holds later replies only for the reply wait, and a handler's
// own later reply (peers of this dialect match by uuid) is never held behind it.
TEST(HttpServer, UnansweredRequestHoldsRepliesOnlyForALimit)
{
    NetLimits limits;
    limits.replyWaitMs = 400;
    ServiceHost host(4, limits);
    RawClient c(host.port());
    c.send(request("GET", "/silent", QByteArray(), "User-Agent: s1\r\n")
           + request("POST", "/echo", R"({"i":1})", "User-Agent: e1\r\n"));
    const RawResponse echo = c.readResponse(300);
    ASSERT_TRUE(echo.complete);
    EXPECT_EQ(echo.headers.value("user-agent"), "e1");

    c.send(request("GET", "/silent", QByteArray(), "User-Agent: s2\r\n")
           + request("GET", "/none", QByteArray(), "User-Agent: n2\r\n"));
    EXPECT_FALSE(c.readResponse(150).complete);
    const RawResponse late = c.readResponse(3000);
    ASSERT_TRUE(late.complete);
    EXPECT_EQ(late.firstLine, "HTTP/1.1 404 Not Found");
    EXPECT_EQ(late.headers.value("user-agent"), "n2");
}

// A peer that sends requests but never reads the replies is no longer read from once its
// unread replies pass the backlog limit (memory stays bounded) and goes at the idle limit;
// a peer that sends a long pipelined batch before reading gets every reply.
TEST(HttpServer, PeerThatNeverReadsIsHeldBackAndDropped)
{
    NetLimits limits;
    limits.maxSendBacklogBytes = 2 * 1024 * 1024;
    limits.idleTimeoutMs = 800;
    limits.messageTimeoutMs = 800;
    ServiceHost host(4, limits);
    const QByteArray big = R"({"p":")" + QByteArray(512 * 1024, 'x') + R"("})";
    const QByteArray one = request("POST", "/echo", big);

    RawClient reader(host.port());
    QByteArray batch;
    for (int i = 0; i < 40; ++i)
        batch += one;
    reader.send(batch);
    int replies = 0;
    while (replies < 40 && reader.readResponse(5000).complete)
        ++replies;
    EXPECT_EQ(replies, 40);
    reader.socket()->abort();
    ASSERT_TRUE(waitUntil([&] { return host.sessionCount() == 0; }));

    RawClient c(host.port());
    c.socket()->setReadBufferSize(64 * 1024);
    ASSERT_TRUE(waitUntil([&] { return host.sessionCount() == 1; }));
    const int before = host.service()->handled;
    for (int i = 0; i < 200; ++i)
        c.socket()->write(one);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 500 && c.connected())
        c.socket()->waitForBytesWritten(20);
    EXPECT_LT(host.service()->handled - before, 100);
    EXPECT_TRUE(waitUntil([&] { return host.sessionCount() == 0; }, 5000));
}

// Pipelined requests beyond the limit stay unread while their predecessors await their
// reply (a flood cannot fill the service's event queue); all are answered, in order
// (some with 503, when they arrive while the handler of their URL runs).
TEST(HttpServer, PipelineDepthIsBoundedAndEveryRequestAnswered)
{
    NetLimits limits;
    limits.maxPipelinedRequests = 16;
    ServiceHost host(4, limits);
    std::atomic<int> delivered{0};
    QObject::connect(host.service()->reactor().data(), &VEKC::TcpReactor::sigRequest,
                     [&delivered](CTask_FormData) { ++delivered; });
    RawClient c(host.port());
    QByteArray batch = request("GET", "/hold");
    for (int i = 0; i < 300; ++i)
        batch += request("GET", "/echo", QByteArray(), "User-Agent: r" + QByteArray::number(i) + "\r\n");
    c.send(batch);
    ASSERT_TRUE(host.service()->holdEntered.tryAcquire(1, 5000));
    QThread::msleep(200);
    EXPECT_LE(delivered.load(), 16);
    host.service()->holdRelease.release();
    EXPECT_TRUE(bodyJson(c.readResponse()).value("result").toObject().value("held").toBool());
    int inOrder = 0;
    for (int i = 0; i < 300; ++i) {
        const RawResponse r = c.readResponse();
        if (!r.complete)
            break;
        inOrder += r.headers.value("user-agent") == "r" + QByteArray::number(i) ? 1 : 0;
    }
    EXPECT_EQ(inOrder, 300);
    EXPECT_EQ(delivered.load(), 301);
}

// A pipeline of thousands of requests in one read is framed a turn at a time: the other
// connections of its network thread, whichever it serves first, are answered in between.
TEST(HttpServer, APipelineInOneReadLetsTheOtherConnectionsOfItsThreadIn)
{
    ServiceHost host(4, NetLimits(), 1);
    RawClient first(host.port()), flood(host.port()), last(host.port()), stall(host.port());
    ASSERT_TRUE(waitUntil([&] { return host.sessionCount() == 4; }));
    stall.send(request("GET", "/stall"));
    ASSERT_TRUE(host.service()->holdEntered.tryAcquire(1, 5000));
    QByteArray pipeline;
    for (int i = 0; i < 20000; ++i)
        pipeline += request("GET", "/where?n=" + QByteArray::number(i));
    flood.send(pipeline);
    while (flood.socket()->bytesToWrite() > 0 && flood.socket()->waitForBytesWritten(500)) {
    }
    first.send(request("GET", "/where?n=first"));
    last.send(request("GET", "/where?n=last"));
    QThread::msleep(200);   // all of it waits in the kernel for the network thread
    host.service()->holdRelease.release();
    for (RawClient* c : {&first, &last}) {
        const QJsonObject r = bodyJson(c->readResponse(10000)).value("result").toObject();
        EXPECT_LT(r.value("before").toInt(-1), 500) << r.value("q_n").toString().toStdString();
        EXPECT_GE(r.value("before").toInt(-1), 0);
    }
}

// Replies larger than the kernel takes at once, to a client that lets them wait: the rest
// follows through the socket's buffer, whole, and the replies after them keep their place.
TEST(HttpServer, LargeRepliesToAWaitingReaderArriveWholeAndInOrder)
{
    ServiceHost host(4, NetLimits(), 2);
    RawClient c(host.port());
    QByteArray big(8 * 1024 * 1024, 'a');
    for (int i = 0; i < big.size(); i += 4099)
        big[i] = char('b' + i % 23);
    const QByteArray body = R"({"big":")" + big + R"("})";
    for (int round = 0; round < 2; ++round) {
        c.send(request("POST", "/echo", body) + request("GET", "/where?n=" + QByteArray::number(round)));
        QThread::msleep(300);   // the kernel's buffers fill meanwhile
        const RawResponse first = c.readResponse(30000);
        const RawResponse second = c.readResponse(10000);
        ASSERT_TRUE(first.complete && second.complete) << round;
        EXPECT_TRUE(bodyJson(first).value("result").toObject().value("big").toString().toLatin1() == big) << round;
        EXPECT_EQ(bodyJson(second).value("result").toObject().value("q_n").toString(), QString::number(round));
    }
}
