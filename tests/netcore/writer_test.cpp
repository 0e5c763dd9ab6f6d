#include "netcoretestkit.h"
#include "sci_execobj_send.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QFile>
#include <gtest/gtest.h>

namespace {

QByteArray host(const Wire& w)
{
    return "HOST: 127.0.0.1:" + QByteArray::number(w.clientPort) + "\r\n";
}

QByteArray withLength(const QByteArray& body)
{
    return "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
}

const QByteArray B = "------------------------tcpservreactor";

} // namespace

TEST(Writer, EmptyResponseRequestAndNotFound)
{
    CTask_FormData reply;
    reply.uuid = "u1";
    Wire w = captureWire(reply);
    QByteArray body = R"({"code":0,"msg":"OK","result":{}})";
    EXPECT_EQ(w.bytes, "HTTP/1.1 200 OK\r\n" + host(w) + "User-Agent: u1\r\n" + withLength(body) + "\r\n" + body);

    CTask_FormData req;
    req.uuid = "u2";
    req.url = "/x";
    w = captureWire(req);
    EXPECT_EQ(w.bytes, "POST /x HTTP/1.1\r\n" + host(w) + "User-Agent: u2\r\nContent-Length: 0\r\n\r\n");

    CTask_FormData missing;
    missing.uuid = "u3";
    missing.status = 404;
    w = captureWire(missing);
    body = R"({"code":-1,"msg":"no found url","result":{}})";
    EXPECT_EQ(w.bytes, "HTTP/1.1 404 Not Found\r\n" + host(w) + "User-Agent: u3\r\n" + withLength(body) + "\r\n" + body);
}

TEST(Writer, JsonResponseAndRequestWithHeaderOrder)
{
    CTask_FormData reply;
    reply.uuid = "u4";
    reply.deviceId = "dev";
    reply.headers.insert("B-H", "2");
    reply.headers.insert("A-H", "1");
    reply.json.insert("k", "v");
    Wire w = captureWire(reply);
    QByteArray body = R"({"code":0,"msg":"OK","result":{"k":"v"}})";
    EXPECT_EQ(w.bytes, "HTTP/1.1 200 OK\r\n" + host(w) + "User-Agent: u4\r\nContent-Type: application/json\r\n"
                           "Device-ID: dev\r\n" + withLength(body) + "A-H: 1\r\nB-H: 2\r\n\r\n" + body);

    CTask_FormData req;
    req.uuid = "u5";
    req.url = "/r";
    req.json.insert("k", 1);
    w = captureWire(req);
    body = R"({"k":1})";
    EXPECT_EQ(w.bytes, "POST /r HTTP/1.1\r\n" + host(w) + "User-Agent: u5\r\nContent-Type: application/json\r\n"
                           + withLength(body) + "\r\n" + body);
}

TEST(Writer, BinaryStreamFileAndNotFoundReplies)
{
    CTask_FormData bin;
    bin.uuid = "u6";
    bin.files.insert(QString(), "abc");
    Wire w = captureWire(bin);
    EXPECT_EQ(w.bytes, "HTTP/1.1 200 OK\r\n" + host(w) + "User-Agent: u6\r\nContent-Type: application/octet-stream\r\n"
                           "Content-Length: 3\r\n\r\nabc");

    QTemporaryDir dir;
    const QString path = dir.filePath("f.bin");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("hello file");
    f.close();
    CTask_FormData file;
    file.uuid = "u7";
    file.contentType = "image/jpeg";
    file.files.insert(path, QByteArray());
    w = captureWire(file);
    EXPECT_EQ(w.bytes, "HTTP/1.1 200 OK\r\n" + host(w) + "User-Agent: u7\r\nContent-Type: image/jpeg\r\n"
                           "Content-Length: 10\r\n\r\nhello file");

    const QString empty = dir.filePath("empty.bin");
    QFile e(empty);
    ASSERT_TRUE(e.open(QIODevice::WriteOnly));
    e.close();
    file.files.clear();
    file.files.insert(empty, QByteArray());
    w = captureWire(file);
    EXPECT_TRUE(w.bytes.endsWith("Content-Length: 0\r\n\r\n"));

    const QByteArray notFound = QString(R"({"code":1,"msg":"未查询到需要获取的图片文件","result":{}})").toUtf8();
    for (const QString& key : {dir.filePath("missing.jpg"), QString()}) {
        CTask_FormData gone;
        gone.uuid = "u8";
        gone.files.insert(key, QByteArray());
        w = captureWire(gone);
        EXPECT_EQ(w.bytes, "HTTP/1.1 200 OK\r\n" + host(w) + "User-Agent: u8\r\nContent-Type: application/json\r\n"
                               + withLength(notFound) + "\r\n" + notFound);
    }
}

TEST(Writer, MultipartWithBareBoundary)
{
    CTask_FormData t;
    t.uuid = "u9";
    t.jsonParts.insert("p", QJsonObject{{"a", 1}});
    t.jsonParts.insert("t", QString("plain text is left out"));
    cv::Mat image(3, 2, CV_8UC3);
    for (int i = 0; i < 18; ++i)
        image.data[i] = uchar(i);
    t.images.insert("cam1", image);
    t.json.insert("ignored", true);
    const Wire w = captureWire(t);

    const QByteArray pixels(reinterpret_cast<const char*>(image.data), 18);
    const QByteArray body =
        B + "\r\nContent-Disposition: form-data; name=\"p\"\r\nContent-Type: application/json\r\n\r\n{\"a\":1}\r\n"
        + B + "\r\nContent-Disposition: form-data; name=\"cam1-info\"\r\nContent-Type: application/json\r\n\r\n"
              R"({"channels":3,"data_type":"data_type","datakey":"cam1","size_height":3,"size_width":2})" "\r\n"
        + B + "\r\nContent-Disposition: form-data; name=\"cam1\"\r\nContent-Type: application/octet-stream\r\n\r\n"
        + pixels + "\r\n" + B + "\r\n";
    EXPECT_EQ(w.bytes, "HTTP/1.1 200 OK\r\n" + host(w) + "User-Agent: u9\r\nContent-Type: multipart/form-data;boundary="
                           + B + "\r\n" + withLength(body) + "\r\n" + body);
}

TEST(Writer, NonContiguousImagesAreClonedAndWideSamplesRefused)
{
    cv::Mat big(4, 4, CV_8UC1);
    for (int i = 0; i < 16; ++i)
        big.data[i] = uchar(i);
    CTask_FormData t;
    t.uuid = "u10";
    t.images.insert("roi", big(cv::Rect(1, 1, 2, 2)));   // rows 5,6 and 9,10
    t.images.insert("wide", cv::Mat(2, 2, CV_16UC1, cv::Scalar(7)));
    const Wire w = captureWire(t);
    EXPECT_TRUE(w.bytes.contains("application/octet-stream\r\n\r\n" + QByteArray("\x05\x06\x09\x0a", 4) + "\r\n"));
    EXPECT_FALSE(w.bytes.contains("wide"));
}

TEST(Writer, UuidStampAndNoHeaderInjection)
{
    const QRegularExpression form("^dozazaza#\\d{8}_\\d{6}_\\d{3}#(\\d+)$");
    const auto m1 = form.match(SCI_ExecObj_Send(CTask_FormData()).task().uuid);
    const auto m2 = form.match(SCI_ExecObj_Send(CTask_FormData()).task().uuid);
    ASSERT_TRUE(m1.hasMatch());
    ASSERT_TRUE(m2.hasMatch());
    EXPECT_EQ(m2.captured(1).toInt(), m1.captured(1).toInt() + 1);

    CTask_FormData keep;
    keep.uuid = "given";
    EXPECT_EQ(SCI_ExecObj_Send(keep).task().uuid, "given");

    CTask_FormData evil;
    evil.uuid = "a\r\nX-Evil: 1";
    evil.deviceId = "d\nX-Evil: 2";
    evil.headers.insert("X-Ok\r\nX-Evil", "v\r\nX-Evil: 3");
    evil.json.insert("k", 1);
    const Wire w = captureWire(evil);
    const QByteArray head = w.bytes.left(w.bytes.indexOf("\r\n\r\n"));
    EXPECT_FALSE(head.contains("\r\nX-Evil"));
    EXPECT_FALSE(head.contains('\n' + QByteArray("X-Evil")));
    EXPECT_TRUE(head.contains("User-Agent: aX-Evil: 1\r\n"));
}
