#include "ctask_formdata.h"
#include "querytext.h"
#include "netcoretestkit.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

TEST(MessageRecord, DefaultsAndPackageType)
{
    CTask_FormData t;
    EXPECT_EQ(t.method, "POST");
    EXPECT_EQ(t.sessionId, -1);
    EXPECT_EQ(t.status, 200);
    EXPECT_EQ(t.code, 0);
    EXPECT_EQ(t.msg, "OK");
    EXPECT_TRUE(t.taskInfo.isEmpty());
    EXPECT_EQ(t.getTaskPkgType(), 0);

    t.jsonParts.insert("p", QJsonObject{{"a", 1}});
    EXPECT_EQ(t.getTaskPkgType(), 0);   // named parts alone are no body
    t.json.insert("x", 1);
    EXPECT_EQ(t.getTaskPkgType(), 1);
    t.files.insert("/f", QByteArray());
    EXPECT_EQ(t.getTaskPkgType(), 3);
    t.images.insert("cam1", cv::Mat(2, 2, CV_8UC1));
    EXPECT_EQ(t.getTaskPkgType(), 2);
}

TEST(MessageRecord, FirstLines)
{
    CTask_FormData notFound;
    notFound.status = 404;
    EXPECT_EQ(notFound.getResponseFirstLine(), "HTTP/1.1 404 Not Found");
    EXPECT_EQ(notFound.msg, "no found url");
    EXPECT_EQ(notFound.code, -1);

    CTask_FormData busy;
    busy.status = 503;
    EXPECT_EQ(busy.getResponseFirstLine(), "HTTP/1.1 503 Service Unavailable");
    EXPECT_EQ(busy.msg, QString::fromUtf8("服务器忙碌中"));
    EXPECT_EQ(busy.code, -1);

    // Each status its own phrase; one the table lacks takes its class's first; msg and code stay.
    const QPair<int, QString> phrases[] = {{200, "OK"},
                                           {400, "Bad Request"},
                                           {403, "Forbidden"},
                                           {413, "Content Too Large"},
                                           {431, "Request Header Fields Too Large"},
                                           {500, "Internal Server Error"},
                                           {501, "Not Implemented"},
                                           {418, "Bad Request"},
                                           {299, "OK"},
                                           {599, "Internal Server Error"}};
    for (const auto& [status, phrase] : phrases) {
        CTask_FormData other;
        other.status = status;
        EXPECT_EQ(other.getResponseFirstLine(), QStringLiteral("HTTP/1.1 %1 %2").arg(status).arg(phrase));
        EXPECT_EQ(other.msg, "OK");
        EXPECT_EQ(other.code, 0);
    }

    CTask_FormData req;
    req.url = "/a";
    EXPECT_EQ(req.getResponseFirstLine(), "POST /a HTTP/1.1");
    req.query.insert("b", "2");
    req.query.insert("a", "1");
    EXPECT_EQ(req.getResponseFirstLine(), "POST /a?a=1&b=2 HTTP/1.1");
}

TEST(MessageRecord, QueryAndPathAreEncodedSoTheyCannotBreakTheFirstLine)
{
    CTask_FormData req;
    req.method = "GET";
    req.url = "/a b";
    req.query.insert("k&=", "v 1\r\nX-Evil: 1");
    req.query.insert("picture_name", "2024-01-01_12.jpg");
    req.query.insert("path", "/img/相机:1+2;x#y%z?");
    const QString line = req.getResponseFirstLine();
    // Only what cannot stand in the line is encoded; everything else goes as it is.
    EXPECT_EQ(line, QString::fromUtf8("GET /a%20b?k%26%3D=v%201%0D%0AX-Evil:%201&path=/img/相机:1+2;x%23y%25z%3F"
                                      "&picture_name=2024-01-01_12.jpg HTTP/1.1"));
    // The reader undoes exactly that and leaves any other %xx alone.
    EXPECT_EQ(QueryText::decode(QueryText::encode("a b&c=d?e#f%g\x7f")), "a b&c=d?e#f%g\x7f");
    EXPECT_EQ(QueryText::decode("50%2B1%41%zz%"), "50%2B1%41%zz%");
}

TEST(MessageRecord, TimingRecordAndReportParam)
{
    TcpTsk_Info info("u1");
    EXPECT_EQ(info.uuid, "u1");
    EXPECT_GT(info.create_timing, 0);
    EXPECT_EQ(info.recvpacklength, -1);
    info.tskup_chg_recvpacklength({QVariant(QString("12"))});
    EXPECT_EQ(info.recvpacklength, -1);
    info.tskup_chg_recvpacklength({});
    EXPECT_EQ(info.recvpacklength, -1);
    info.tskup_chg_recvpacklength({QVariant(12)});
    EXPECT_EQ(info.recvpacklength, 12);
    const auto report = info.getReportParam();
    EXPECT_EQ(report.value("_tsk_uuid").toString(), "u1");
    EXPECT_EQ(report.value("_tsk_recvpacklength").toInt(), 12);
    EXPECT_EQ(report.value("_tsk_finishact_timing").toLongLong(), -1);
    EXPECT_EQ(report.size(), 8);
}

TEST(MessageRecord, CopiesOwnTheirTimingHolder)
{
    CTask_FormData a;
    a.taskInfo.setValue(TcpTsk_Info("first"));
    CTask_FormData b = a;
    a.taskInfo.setValue(TcpTsk_Info("second"));
    TcpTsk_Info got("");
    ASSERT_TRUE(b.taskInfo.tryGetValue(got));
    EXPECT_EQ(got.uuid, "first");

    CTask_FormData moved = std::move(a);
    ASSERT_TRUE(moved.taskInfo.tryGetValue(got));
    EXPECT_EQ(got.uuid, "second");
    EXPECT_TRUE(a.url.isEmpty());
}

TEST(CVariantHolder, SelfAndCrossedAssignmentDoNotDeadlock)
{
    CVariant<int> x;
    CVariant<int> y;
    x.setValue(1);
    y.setValue(2);
    x = x;
    EXPECT_EQ(x.getValue(), 1);

    // Two threads assigning crosswise used to lock in opposite orders.
    std::atomic<bool> go{false};
    std::thread t1([&] { while (!go) {} for (int i = 0; i < 20000; ++i) x = y; });
    std::thread t2([&] { while (!go) {} for (int i = 0; i < 20000; ++i) y = x; });
    go = true;
    t1.join();
    t2.join();
    EXPECT_EQ(x.getValue(), y.getValue());
}

TEST(CVariantHolder, CopyDuringSetSeesOldOrNewRecordWhole)
{
    CTask_FormData rec;
    TcpTsk_Info first("old");
    first.url = "old";
    rec.taskInfo.setValue(first);
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        int n = 0;
        while (!stop) {
            TcpTsk_Info info(n % 2 ? "new" : "old");
            info.url = info.uuid;
            rec.taskInfo.setValue(info);
            ++n;
        }
    });
    for (int i = 0; i < 20000; ++i) {
        const CTask_FormData copy = rec;
        TcpTsk_Info got("");
        ASSERT_TRUE(copy.taskInfo.tryGetValue(got));
        ASSERT_EQ(got.url, got.uuid);
    }
    stop = true;
    writer.join();
}
