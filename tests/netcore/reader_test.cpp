#include "httpframer.h"
#include "netcoretestkit.h"
#include "sci_execobj_recv.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QRegularExpression>
#include <ctime>
#include <gtest/gtest.h>
#include <opencv2/core.hpp>

namespace {

struct Collected
{
    QList<CTask_FormData> records;
    QList<bool> decoded;
    int bodyRounds = 0;
};

// Frames bytes in the given pieces the way a session does and decodes each message.
Collected frame(const QList<QByteArray>& pieces, const NetLimits& limits = NetLimits())
{
    Collected c;
    HttpFramer framer(7, limits);
    framer.setPeer(QHostAddress("::ffff:127.0.0.1"), 4242);
    HttpFramer::Hooks hooks;
    hooks.body = [&c](SCI_ExecObj_Recv&) { ++c.bodyRounds; };
    hooks.finish = [&c](const QSharedPointer<SCI_ExecObj_Recv>& msg) {
        c.decoded << msg->analysisIntegrality();
        c.records << msg->getFormData();
    };
    framer.setHooks(hooks);
    for (const QByteArray& p : pieces)
        if (!framer.feed(p))
            break;
    return c;
}

int refusal(const QByteArray& bytes, const NetLimits& limits = NetLimits())
{
    HttpFramer f(1, limits);
    f.feed(bytes);
    return f.errorStatus();
}

} // namespace

TEST(Reader, RequestLineQueryAndIds)
{
    const Collected c = frame({"GET /x?a=1&b=%20two&bad&=v&k=&x=1=2 HTTP/1.1\r\nUser-Agent: my uuid\r\nUSER-ID: op 1\r\n\r\n"});
    ASSERT_EQ(c.records.size(), 1);
    ASSERT_TRUE(c.decoded.first());
    const CTask_FormData& r = c.records.first();
    EXPECT_EQ(r.url, "/x");
    EXPECT_EQ(r.method, "POST");   // never taken from the request line
    EXPECT_EQ(r.query.value("a"), "1");
    EXPECT_EQ(r.query.value("b"), " two");
    EXPECT_EQ(r.query.size(), 2);
    EXPECT_EQ(r.uuid, "myuuid");
    EXPECT_EQ(r.userId, "op1");
    EXPECT_EQ(r.sessionId, 7);
    EXPECT_EQ(r.peerAddress, "127.0.0.1");
    EXPECT_EQ(r.peerPort, 4242);
}

TEST(Reader, HeaderNamesAreExactAndCaseInsensitive)
{
    const Collected c = frame({"POST /j HTTP/1.1\r\nX-User-Agent: fake\r\ncontent-type: application/json\r\n"
                               "X-Content-Length: 99\r\ncontent-length: 7\r\n\r\n{\"a\":1}"});
    ASSERT_EQ(c.records.size(), 1);
    EXPECT_TRUE(c.decoded.first());
    EXPECT_TRUE(c.records.first().uuid.startsWith("defalut#"));
    EXPECT_TRUE(QRegularExpression("^defalut#\\d{8}_\\d{6}_\\d{3}#7$").match(c.records.first().uuid).hasMatch());
    EXPECT_EQ(c.records.first().json.value("a").toInt(), 1);
}

TEST(Reader, EveryCompleteMessageOfAReadIsDelivered)
{
    const QByteArray one = request("POST", "/a", R"({"n":1})", "User-Agent: one\r\n");
    const QByteArray two = request("POST", "/b", R"({"n":2})", "User-Agent: two\r\n");
    const Collected c = frame({one + two + "POST /c HT"});
    ASSERT_EQ(c.records.size(), 2);
    EXPECT_EQ(c.records[0].uuid, "one");
    EXPECT_EQ(c.records[1].uuid, "two");

    // A peer's thousands of pipelined requests in one read: each delivered, in order, and
    // framed in time linear in the read (its own thread's CPU time, whatever the load).
    QByteArray pipeline;
    for (int i = 0; i < 30000; ++i)
        pipeline += request("POST", "/p", "{\"n\":" + QByteArray::number(i) + "}");
    timespec start{}, end{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &start);
    const Collected many = frame({pipeline + two.left(10), two.mid(10)});
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &end);
    ASSERT_EQ(many.records.size(), 30001);
    EXPECT_EQ(many.records[29999].json.value("n").toInt(), 29999);
    EXPECT_EQ(many.records[30000].uuid, "two");
    EXPECT_LT((end.tv_sec - start.tv_sec) * 1000 + (end.tv_nsec - start.tv_nsec) / 1000000, 800);
}

TEST(Reader, SplitDeliveryCountsBodyRounds)
{
    const QByteArray bytes = request("POST", "/a", R"({"n":12345})");
    const int head = bytes.indexOf("\r\n\r\n") + 4;
    const Collected c = frame({bytes.left(head), bytes.mid(head, 3), bytes.mid(head + 3)});
    ASSERT_EQ(c.records.size(), 1);
    EXPECT_EQ(c.bodyRounds, 2);
    EXPECT_EQ(c.records.first().json.value("n").toInt(), 12345);
}

TEST(Reader, WriterOutputSurvivesEveryCut)
{
    CTask_FormData req;
    req.url = "/v18/http/post";
    req.uuid = "cut";
    req.query.insert("name", "a b&c");
    req.jsonParts.insert("part", QJsonObject{{"x", 2}});
    cv::Mat image(3, 2, CV_8UC3);
    for (int i = 0; i < 18; ++i)
        image.data[i] = uchar(200 + i);
    req.images.insert("cam1", image);
    const QByteArray wire = captureWire(req).bytes;
    ASSERT_FALSE(wire.isEmpty());

    for (int cut = 0; cut <= wire.size(); ++cut) {
        const Collected c = frame({wire.left(cut), wire.mid(cut)});
        ASSERT_EQ(c.records.size(), 1) << "cut at " << cut;
        ASSERT_TRUE(c.decoded.first());
        const CTask_FormData& r = c.records.first();
        ASSERT_EQ(r.url, "/v18/http/post");
        ASSERT_EQ(r.query.value("name"), "a b&c");
        ASSERT_EQ(r.jsonParts.value("part").toJsonObject().value("x").toInt(), 2);
        ASSERT_TRUE(r.images.contains("cam1-info"));
        const cv::Mat got = r.images.value("cam1-info");
        ASSERT_EQ(got.type(), CV_8UC3);
        ASSERT_EQ(cv::norm(got, image, cv::NORM_INF), 0);
    }

    QList<QByteArray> bytes;
    for (int i = 0; i < wire.size(); ++i)
        bytes << wire.mid(i, 1);
    EXPECT_EQ(frame(bytes).records.size(), 1);

    CTask_FormData reply;
    reply.uuid = "r1";
    reply.json.insert("v", 3);
    const QByteArray replyWire = captureWire(reply).bytes;
    for (int cut = 0; cut <= replyWire.size(); ++cut) {
        const Collected c = frame({replyWire.left(cut), replyWire.mid(cut)});
        ASSERT_EQ(c.records.size(), 1);
        ASSERT_TRUE(c.records.first().url.isEmpty());   // a response
        ASSERT_EQ(c.records.first().json.value("result").toObject().value("v").toInt(), 3);
        ASSERT_EQ(c.records.first().uuid, "r1");
    }
}

TEST(Reader, FileBodiesAndDefaultDecoder)
{
    const QByteArray jpeg = QByteArray("POST /p HTTP/1.1\r\nContent-Type: image/jpeg\r\nContent-Length: 4\r\n\r\n")
                            + QByteArray("\xff\xd8\x00\x01", 4);
    Collected c = frame({jpeg});
    ASSERT_EQ(c.records.size(), 1);
    EXPECT_EQ(c.records.first().files.value(QString()), QByteArray("\xff\xd8\x00\x01", 4));

    const QByteArray charset = "POST /p HTTP/1.1\r\nContent-Type: image/jpeg; charset=x\r\nContent-Length: 2\r\n\r\nab";
    c = frame({charset});
    EXPECT_TRUE(c.records.first().files.isEmpty());
    EXPECT_EQ(c.records.first().body, "ab");
}

TEST(Reader, RefusedHeaders)
{
    EXPECT_EQ(refusal("GET /x HTTP/1.1\r\n\r\n"), 400);                                  // lone request line
    EXPECT_EQ(refusal("GET /x HTTP/1.0\r\nHost: a\r\n\r\n"), 400);
    EXPECT_EQ(refusal("GET HTTP/1.1\r\nHost: a\r\n\r\n"), 400);                          // no URL
    EXPECT_EQ(refusal("POST /x HTTP/1.1\r\nContent-Length: -1\r\n\r\n"), 400);
    EXPECT_EQ(refusal("POST /x HTTP/1.1\r\nContent-Length: 1x\r\n\r\n"), 400);
    EXPECT_EQ(refusal("POST /x HTTP/1.1\r\nContent-Length: 2\r\nContent-Length: 3\r\n\r\n"), 400);
    EXPECT_EQ(refusal("POST /x HTTP/1.1\r\nContent-Length: 99999999999999999\r\n\r\n"), 413);
    EXPECT_EQ(refusal("POST /x HTTP/1.1\r\nContent-Length: 67108865\r\n\r\n"), 413);
    EXPECT_EQ(refusal("POST /x HTTP/1.1\r\nContent-Length: 67108864\r\n\r\n"), 0);
    EXPECT_EQ(refusal("POST /x HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n"), 501);
    EXPECT_EQ(refusal("POST /x HTTP/1.1\r\nUser-Agent: a\rb\r\n\r\n"), 400);
    EXPECT_EQ(refusal("POST /x HTTP/1.1\r\nUser-Agent: a\x01\r\n\r\n"), 400);
    EXPECT_EQ(refusal("POST /x HTTP/1.1\r\nno colon here\r\n\r\n"), 400);
    EXPECT_EQ(refusal("POST /x HTTP/1.1\r\nContent-Length: 2\r\nContent-Length: 2\r\n\r\nab"), 0);

    const QByteArray big = "POST /x HTTP/1.1\r\nX-Pad: " + QByteArray(NetDefaults::kMaxHeaderBytes, 'a');
    EXPECT_EQ(refusal(big), 431);                    // before the header even ends
    EXPECT_EQ(refusal(big + "\r\n\r\n"), 431);
    EXPECT_EQ(refusal("POST /x HTTP/1.1\r\nX-Pad: " + QByteArray(8000, 'a') + "\r\n\r\n"), 0);

    // A refused response is told apart: nothing is answered to it.
    HttpFramer f(1, NetLimits());
    f.feed("HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\n");
    EXPECT_EQ(f.errorStatus(), 400);
    EXPECT_TRUE(f.errorInResponse());
    // So is one of another version, as a simple subscriber server may send.
    HttpFramer older(1, NetLimits());
    older.feed("HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n");
    EXPECT_EQ(older.errorStatus(), 400);
    EXPECT_TRUE(older.errorInResponse());
}

TEST(Reader, UndecodableBodiesFailDecoding)
{
    Collected c = frame({request("POST", "/j", "{not json")});
    ASSERT_EQ(c.records.size(), 1);
    EXPECT_FALSE(c.decoded.first());
    c = frame({"POST /m HTTP/1.1\r\nContent-Type: multipart/form-data\r\nContent-Length: 2\r\n\r\nab"});
    EXPECT_FALSE(c.decoded.first());
    // A JSON array is a document: decoded, with an empty object.
    c = frame({request("POST", "/j", "[1,2]")});
    EXPECT_TRUE(c.decoded.first());
    EXPECT_TRUE(c.records.first().json.isEmpty());
}

namespace {

QByteArray part(const QByteArray& boundary, const QByteArray& disposition, const QByteArray& type,
                const QByteArray& content)
{
    return boundary + "\r\nContent-Disposition: form-data; " + disposition + "\r\nContent-Type: " + type + "\r\n\r\n"
           + content + "\r\n";
}

CTask_FormData decodeImage(int channels, int width, int height, const QByteArray& pixels)
{
    const QByteArray b = "BND";
    QJsonObject info{{"datakey", "c"}, {"channels", channels}, {"data_type", "data_type"},
                     {"size_width", width}, {"size_height", height}};
    const QByteArray body = part(b, "name=\"c-info\"", "application/json", QJsonDocument(info).toJson(QJsonDocument::Compact))
                            + part(b, "name=\"c\"", "application/octet-stream", pixels) + b + "\r\n";
    CTask_FormData t;
    EXPECT_TRUE(SCI_ExecObj_Recv::analysisIntegrality_multipart(b, body, t));
    return t;
}

} // namespace

TEST(Reader, MultipartImageChecks)
{
    EXPECT_TRUE(decodeImage(3, 2, 3, QByteArray(17, 'x')).images.isEmpty());
    const CTask_FormData ok = decodeImage(3, 2, 3, QByteArray(18, 'x'));
    ASSERT_TRUE(ok.images.contains("c-info"));
    EXPECT_EQ(ok.images.value("c-info").rows, 3);
    EXPECT_EQ(ok.images.value("c-info").cols, 2);

    QByteArray rgba;
    for (int i = 0; i < 2 * 3 * 4; ++i)
        rgba += char(i);
    const CTask_FormData four = decodeImage(4, 2, 3, rgba);
    ASSERT_TRUE(four.images.contains("c-info"));
    const cv::Mat m = four.images.value("c-info");
    EXPECT_EQ(m.type(), CV_8UC4);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(m.data), 24), rgba);

    EXPECT_TRUE(decodeImage(2, 2, 3, QByteArray(12, 'x')).images.isEmpty());
    EXPECT_TRUE(decodeImage(3, -2, -3, QByteArray(18, 'x')).images.isEmpty());
    // 65536 x 65536 x 1 overflows 32 bits to 0; the 64-bit product and the side cap refuse it.
    EXPECT_TRUE(decodeImage(1, 65536, 65536, QByteArray()).images.isEmpty());
    EXPECT_TRUE(decodeImage(1, 65536, 65537, QByteArray(65536, 'x')).images.isEmpty());
}

TEST(Reader, MultipartNamesAndParts)
{
    const QByteArray b = "BND";
    const QByteArray body = "preamble\r\n" + part(b, "name=\"f\"; filename=\"a.jpg\"", "application/octet-stream", "bytes")
                            + part(b, "name=\"j\"", "application/json", "{\"k\":1}")
                            + part(b, "name=\"bad\"", "application/json", "{oops")
                            + part(b, "name=\"t\"", "text/plain", "hello") + b + "\r\n";
    CTask_FormData t;
    ASSERT_TRUE(SCI_ExecObj_Recv::analysisIntegrality_multipart(b, body, t));
    EXPECT_EQ(t.jsonParts.value("j").toJsonObject().value("k").toInt(), 1);
    EXPECT_EQ(t.jsonParts.value("t").toString(), "hello");
    EXPECT_FALSE(t.jsonParts.contains("bad"));
    EXPECT_FALSE(t.jsonParts.contains("a.jpg"));   // a byte part no info names is dropped
    EXPECT_EQ(t.jsonParts.size(), 2);
}

TEST(Reader, MultipartPartNameFollowsTheGreedyPatternPerLine)
{
    const QByteArray b = "BND";
    auto nameOf = [&](const QByteArray& head) {
        const QByteArray body = b + "\r\n" + head + "\r\nContent-Type: text/plain\r\n\r\nv\r\n" + b + "\r\n";
        CTask_FormData t;
        EXPECT_TRUE(SCI_ExecObj_Recv::analysisIntegrality_multipart(b, body, t));
        return t.jsonParts.keys().join(',');
    };
    EXPECT_EQ(nameOf("Content-Disposition: form-data; name=\"f\"; filename=\"a.jpg\""), "a.jpg");
    EXPECT_EQ(nameOf("Content-Disposition: form-data; name=\"a\"b\" x"), "a\"b");
    EXPECT_EQ(nameOf("Content-Disposition: form-data; name=\"x\" name=\" y\""), "x");
    EXPECT_EQ(nameOf("Content-Disposition: form-data; name=\"\""), "");
    // The first line that names the part counts; later ones are not read.
    EXPECT_EQ(nameOf("Content-Disposition: form-data\r\nContent-Disposition: name=\"one\"\r\n"
                     "Content-Disposition: name=\"two\""), "one");
}

TEST(Reader, MultipartBoundsHeadLinesAndPartsAndStaysLinear)
{
    const QByteArray b = "BND";
    // The stall's reproducer: one head of thousands of Content-Disposition lines.
    QByteArray head;
    for (int i = 0; i < 16000; ++i)
        head += "Content-Disposition: form-data; name=\"p" + QByteArray::number(i) + "\"\r\n";
    CTask_FormData t;
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(SCI_ExecObj_Recv::analysisIntegrality_multipart(b, b + "\r\n" + head + "\r\nx\r\n" + b + "\r\n", t));
    QByteArray many;
    for (int i = 0; i <= NetDefaults::kMaxMultipartParts; ++i)
        many += part(b, "name=\"n" + QByteArray::number(i) + "\"", "text/plain", "v");
    EXPECT_FALSE(SCI_ExecObj_Recv::analysisIntegrality_multipart(b, many + b + "\r\n", t));
    // A long head line that never closes its name is read once, not per position.
    const QByteArray longLine = "Content-Disposition: " + QByteArray(200000, 'a') + "name=\"" +
                                QByteArray(200000, 'n');
    EXPECT_TRUE(SCI_ExecObj_Recv::analysisIntegrality_multipart(b, b + "\r\n" + longLine + "\r\n\r\nv\r\n" + b + "\r\n", t));
    EXPECT_LT(timer.elapsed(), 2000);
}
