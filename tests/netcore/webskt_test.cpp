#include "qttesthelpers.h"
#include "tempappdir.h"
#include "webskt_client.h"
#include "webskt_server.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

const QString kPython = QStringLiteral("/usr/bin/python3");   // the interpreter python3-websocket is for

QString peerScript()
{
    return projectSourceDir() + "/tests/netcore/wspeer.py";
}

// Runs a peer to its end; its one line of JSON output.
QJsonObject runPeer(const QStringList& args)
{
    QProcess peer;
    peer.start(kPython, QStringList{peerScript()} + args);
    if (!peer.waitForFinished(60000)) {
        peer.kill();
        peer.waitForFinished();
        ADD_FAILURE() << "peer did not finish: " << peer.readAllStandardError().toStdString();
        return QJsonObject();
    }
    const QByteArray out = peer.readAllStandardOutput();
    if (peer.exitCode() != 0)
        ADD_FAILURE() << "peer failed: " << peer.readAllStandardError().toStdString();
    return QJsonDocument::fromJson(out).object();
}

CTask_FormData_WebSkt_Json message(const QString& url, quint64 peer = 0)
{
    CTask_FormData_WebSkt_Json msg;
    msg.url = url;
    msg.peer = peer;
    return msg;
}

// A server on a free loopback port that echoes every message to its sender,
// from the worker thread at once (a receiver that sends must not deadlock).
class EchoServer
{
public:
    EchoServer()
    {
        QObject::connect(&server, &WebSkt_Core::sig_recv_message, &server,
                         [this](CTask_FormData_WebSkt_Json msg) { handle(msg); }, Qt::DirectConnection);
        started = server.reAction(QHostAddress(QHostAddress::LocalHost), 0);
    }
    QString port() const { return QString::number(server.serverPort()); }

    WebSkt_Server server;
    bool started = false;
    QList<quint64> remembered;   // worker thread only

private:
    void handle(const CTask_FormData_WebSkt_Json& msg)
    {
        if (msg.url == "/remember") {
            remembered << msg.peer;
            server.sendTextMessage(message("/remembered", msg.peer));
        } else if (msg.url == "/trigger") {
            for (const quint64 gone : qAsConst(remembered))
                server.sendTextMessage(message("/for-the-gone", gone));
            remembered.clear();
            server.sendTextMessage(message("/all"));
        } else {
            server.sendTextMessage(msg);
        }
    }
};

} // namespace

TEST(WebSktCodec, ParsesOnlyCompleteObjectsAndStampsMissingIds)
{
    const CTask_FormData_WebSkt_Json good =
        WebSkt_Core::analyseBuffer_Setup1_Json(R"({"url":"/u","user_agent":"id1","data":{"k":[1,2]}})");
    EXPECT_TRUE(good.valid);
    EXPECT_EQ(good.url, "/u");
    EXPECT_EQ(good.user_agent, "id1");
    EXPECT_EQ(good.peer, 0u);
    EXPECT_EQ(WebSkt_Core::serialize_Setup2_Json(good), R"({"data":{"k":[1,2]},"url":"/u","user_agent":"id1"})");

    for (const char* bad : {R"({"url":"a","user_agent":"b","data":[]})", R"({"url":"a","data":{}})",
                            R"({"user_agent":"b","data":{}})", R"(["url","user_agent","data"])", "{", ""}) {
        EXPECT_FALSE(WebSkt_Core::analyseBuffer_Setup1_Json(QString::fromUtf8(bad)).valid) << bad;
    }

    WebSkt_Server server;   // not started: sending only emits
    QList<CTask_FormData_WebSkt_Json> sent;
    QObject::connect(&server, &WebSkt_Core::sig_send_message,
                     [&sent](const CTask_FormData_WebSkt_Json& m) { sent << m; });
    server.sendTextMessage(message("/a"));
    CTask_FormData_WebSkt_Json kept = message("/b");
    kept.user_agent = "mine";
    server.sendTextMessage(kept);
    ASSERT_EQ(sent.size(), 2);
    EXPECT_TRUE(QRegularExpression("^sc_webskt#\\d{8}_\\d{6}_\\d{3}$").match(sent[0].user_agent).hasMatch())
        << sent[0].user_agent.toStdString();
    EXPECT_EQ(sent[1].user_agent, "mine");
}

TEST(WebSktServer, EchoesToEachOfManyRealClientsAndDropsMalformedTexts)
{
    EchoServer echo;
    ASSERT_TRUE(echo.started);
    EXPECT_FALSE(echo.server.initialize());   // already running
    EXPECT_FALSE(echo.server.isCnted());

    const QJsonObject result = runPeer({"clients", "--port", echo.port(), "--count", "16", "--messages", "25"});
    EXPECT_EQ(result.value("received").toInt(), 16 * 25);
    EXPECT_EQ(result.value("wrong").toInt(), 0);
    EXPECT_EQ(result.value("extra").toInt(), 0);   // nothing came back for the malformed texts
    EXPECT_TRUE(waitUntil([&] { return echo.server.clientCount() == 0; }));
}

TEST(WebSktServer, DropsMessagesForGoneClientsRefusesOversizeAndRestartsClean)
{
    EchoServer echo;
    ASSERT_TRUE(echo.started);
    const QJsonObject result = runPeer({"gone", "--port", echo.port(), "--count", "30"});
    EXPECT_EQ(result.value("rounds").toInt(), 30);
    EXPECT_EQ(result.value("wrong").toInt(), 0);   // no round got the message meant for the gone client
    EXPECT_TRUE(result.value("bigClosed").toBool());
    EXPECT_EQ(result.value("after").toString(), "after");

    // A stop leaves no client behind; the same port serves again after a restart.
    QProcess holder;
    holder.start(kPython, {"-c", "import websocket,time,sys; w=websocket.create_connection(sys.argv[1]); "
                                 "print('up', flush=True); time.sleep(30)",
                           "ws://127.0.0.1:" + echo.port()});
    ASSERT_TRUE(holder.waitForReadyRead(10000));
    ASSERT_TRUE(waitUntil([&] { return echo.server.isCnted(); }));
    const quint16 port = echo.server.serverPort();
    echo.server.deinitialize();
    EXPECT_FALSE(echo.server.isRunning());
    EXPECT_EQ(echo.server.clientCount(), 0);
    holder.kill();
    holder.waitForFinished();
    ASSERT_TRUE(echo.server.reAction(QHostAddress(QHostAddress::LocalHost), port));
    const QJsonObject again = runPeer({"clients", "--port", echo.port(), "--count", "2", "--messages", "3"});
    EXPECT_EQ(again.value("received").toInt(), 6);
}

TEST(WebSktClient, TalksToARealServerAndLosesLivenessWithoutPongs)
{
    for (const bool pong : {true, false}) {
        QTemporaryDir dir;
        const QString portFile = dir.filePath("port");
        QProcess peer;
        QStringList args{peerScript(), "server", "--port-file", portFile, "--seconds", "6"};
        if (!pong)
            args << "--no-pong";
        peer.start(kPython, args);
        ASSERT_TRUE(waitUntil([&] { return QFile::exists(portFile); }, 10000));
        QFile file(portFile);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const quint16 port = quint16(file.readAll().toUInt());

        WebSkt_Client client;
        QList<CTask_FormData_WebSkt_Json> got;
        QObject::connect(&client, &WebSkt_Core::sig_recv_message, &client,
                         [&got](const CTask_FormData_WebSkt_Json& m) { got << m; });
        // The connect time is short; a loaded machine may need a second try, as an owner would make.
        bool connected = false;
        for (int attempt = 0; attempt < 3 && !connected; ++attempt)
            connected = client.reAction(QHostAddress(QHostAddress::LocalHost), port);
        ASSERT_TRUE(connected);
        EXPECT_TRUE(client.isCnted());
        CTask_FormData_WebSkt_Json msg = message("/hello");
        msg.data.insert("n", 5);
        client.sendTextMessage(msg);
        ASSERT_TRUE(waitUntil([&] { return !got.isEmpty(); }));
        EXPECT_EQ(got[0].url, "/hello");
        EXPECT_EQ(got[0].data.value("n").toInt(), 5);
        EXPECT_TRUE(got[0].user_agent.startsWith("sc_webskt#"));

        QTest::qWait(3000);   // pings every 900 ms; liveness lasts 2 s after the last pong
        EXPECT_EQ(client.isCnted(), pong) << "pong " << pong;
        client.deinitialize();
        EXPECT_FALSE(client.isCnted());
        peer.waitForFinished(20000);
        EXPECT_GE(QJsonDocument::fromJson(peer.readAllStandardOutput()).object().value("pings").toInt(), 2);
        peer.kill();
        peer.waitForFinished();
    }
}

TEST(WebSktClient, UnreachableServerFailsWithinItsConnectTime)
{
    quint16 port = 0;
    {
        WebSkt_Server probe;   // a port that was free a moment ago
        ASSERT_TRUE(probe.reAction(QHostAddress(QHostAddress::LocalHost), 0));
        port = probe.serverPort();
    }
    WebSkt_Client client;
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(client.reAction(QHostAddress(QHostAddress::LocalHost), port));
    EXPECT_LT(timer.elapsed(), 1500);
    EXPECT_FALSE(client.isRunning());
    EXPECT_FALSE(client.isCnted());
}

TEST(WebSktCodec, WritesTheSameTextAsQtsCompactJson)
{
    const QStringList texts = {"", "plain", "quote\" back\\ slash/", QString("ctl\b\f\n\r\t") + QChar(1) + QChar(0x1f),
                               QString::fromUtf8("中文 ü €"), QString(QChar(0x7f))};
    for (const QString& text : texts) {
        CTask_FormData_WebSkt_Json msg;
        msg.url = text;
        msg.user_agent = text + "#";
        msg.data.insert(text, text);
        msg.data.insert("n", 1.5);
        QJsonObject object{{"url", msg.url}, {"user_agent", msg.user_agent}, {"data", msg.data}};
        EXPECT_EQ(WebSkt_Core::serialize_Setup2_Json(msg),
                  QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)));
        EXPECT_EQ(WebSkt_Core::analyseBuffer_Setup1_Json(WebSkt_Core::serialize_Setup2_Json(msg)).url, text);
    }
}
