// The read routes answer from the network threads: the same bytes as the GUI thread's
// handlers gave, also while the GUI thread is held inside a detection; the write routes
// still run in the GUI thread.
#include "apitestkit.h"
#include "clock.h"
#include "globals.h"
#include "httpapiserver.h"
#include "statecodes.h"
#include "vek_netmn.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QThread>
#include <atomic>
#include <arpa/inet.h>
#include <future>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>
#include <gtest/gtest.h>

namespace {

// One request on a fresh connection; the whole reply, its "HOST" port written as "{port}".
QByteArray exchange(quint16 port, const QByteArray& route, const QByteArray& body, const QByteArray& uuid)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    timeval limit{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    QByteArray reply;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
        sockaddr_in me{};
        socklen_t size = sizeof me;
        getsockname(fd, reinterpret_cast<sockaddr*>(&me), &size);
        const QByteArray request = "POST /v18/http/" + route + " HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: " + uuid
                                   + "\r\nContent-Type: application/json\r\nContent-Length: "
                                   + QByteArray::number(body.size()) + "\r\n\r\n" + body;
        ::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL);
        char buffer[4096];
        qint64 want = -1;
        for (;;) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            reply.append(buffer, int(n));
            const int end = reply.indexOf("\r\n\r\n");
            if (want < 0 && end >= 0) {
                const int at = reply.toLower().indexOf("content-length:");
                want = end + 4 + reply.mid(at + 15, reply.indexOf('\r', at) - at - 15).trimmed().toLongLong();
            }
            if (want >= 0 && reply.size() >= want)
                break;
        }
        reply.replace(":" + QByteArray::number(ntohs(me.sin_port)) + "\r\n", ":{port}\r\n");
    }
    ::close(fd);
    return reply;
}

struct Ask
{
    QByteArray route;
    QByteArray body;
};

const Ask kReads[] = {
    {"get_product_infos", "{}"},
    {"get_last_detectinfo", "{}"},
    {"get_detected_picture", R"({"camera_index":1,"detect_index":0,"detect_result":false,"picture_name":"p.jpg"})"},
    {"get_detected_picture", R"({"camera_index":3,"detect_index":0,"picture_name":"p.jpg"})"},
    {"get_detected_picture", R"({"camera_index":0,"detect_index":1,"detect_result":true,"picture_name":"p.jpg"})"},
    {"get_records", R"({"datetime_start":"2026-12-07 00:00:00","datetime_end":"2026-12-07 23:59:59"})"},
    {"get_records", R"({"datetime_start":"2026-12-07","datetime_end":"2026-12-07 23:59:59"})"},
    {"production_count_bytime", R"({"starttime":"2026-12-07 08:00:00","finishtime":"2026-12-07 09:00:00"})"},
    {"production_count_bytime", R"({"starttime":"2026-12-07 08:00:00"})"},
    {"no_such_route", "{}"},
};

// What the GUI thread's handlers answered on the fixed state below ("{port}": the client's).
const char* const kRecorded[] = {
    "HTTP/1.1 200 OK%0D%0AHOST: 127.0.0.1:{port}%0D%0AUser-Agent: golden-1%0D%0AContent-Type: application"
    "/json%0D%0ADevice-ID: SN-TEST-1%0D%0AContent-Length: 213%0D%0AAccess-Control-Allow-Origin: *%0D%0A%0"
    "D%0A{\"code\":0,\"msg\":\"OK\",\"result\":{\"camera_count\":3,\"detect_all\":12,\"detect_all_detail\":[10,20,30],\""
    "detect_ng\":4,\"detect_ng_detail\":[1,0,3],\"detect_status\":2,\"device_id\":\"dev1\",\"device_sn\":\"SN-TEST-1\""
    ",\"run_status\":1}}",
    "HTTP/1.1 200 OK%0D%0AHOST: 127.0.0.1:{port}%0D%0AUser-Agent: golden-2%0D%0AContent-Type: application"
    "/json%0D%0ADevice-ID: SN-TEST-1%0D%0AContent-Length: 413%0D%0A%0D%0A{\"code\":0,\"msg\":\"OK\",\"result\":{\""
    "detail\":[{\"camera\":0,\"result\":0}],\"detect_result\":false,\"device_id\":\"dev1\",\"device_sn\":\"SN-TEST-1\",\""
    "finishtime\":\"2026-12-07 12:00:00.000\",\"pictures\":[{\"camera_index\":0,\"detect_index\":0,\"detect_result\""
    ":false,\"picture_name\":\"a.jpg\"},{\"camera_index\":1,\"detect_index\":1,\"detect_result\":true,\"picture_name"
    "\":\"b.jpg\"}],\"starttime\":\"2026-12-07 11:59:59.500\",\"uuid\":\"V18#dev1@18f00000000\"}}",
    "HTTP/1.1 200 OK%0D%0AHOST: 127.0.0.1:{port}%0D%0AUser-Agent: golden-3%0D%0AContent-Type: image/jpeg%"
    "0D%0ADevice-ID: SN-TEST-1%0D%0AContent-Length: 11%0D%0A%0D%0A%FF%D8 jpeg %00%FF%D9",
    "HTTP/1.1 200 OK%0D%0AHOST: 127.0.0.1:{port}%0D%0AUser-Agent: golden-4%0D%0AContent-Type: application"
    "/json%0D%0ADevice-ID: SN-TEST-1%0D%0AContent-Length: 61%0D%0A%0D%0A{\"code\":0,\"msg\":\"OK\",\"result\":{\"e"
    "rrorstring\":\"%E5%8F%82%E6%95%B0%E9%94%99%E8%AF%AF\"}}",
    "HTTP/1.1 200 OK%0D%0AHOST: 127.0.0.1:{port}%0D%0AUser-Agent: golden-5%0D%0AContent-Type: application"
    "/json%0D%0ADevice-ID: SN-TEST-1%0D%0AContent-Length: 67%0D%0A%0D%0A{\"code\":0,\"msg\":\"OK\",\"result\":{\"e"
    "rrorstring\":\"%E6%9C%AA%E6%9F%A5%E8%AF%A2%E5%88%B0%E5%9B%BE%E7%89%87\"}}",
    "HTTP/1.1 200 OK%0D%0AHOST: 127.0.0.1:{port}%0D%0AUser-Agent: golden-6%0D%0AContent-Type: application"
    "/json%0D%0ADevice-ID: SN-TEST-1%0D%0AContent-Length: 163%0D%0A%0D%0A{\"code\":0,\"msg\":\"OK\",\"result\":{\""
    "record\":[[\"2026-12-07 08:00:00\",\"%E6%9C%AA%E7%99%BB%E5%BD%95\",\"%E8%BF%90%E8%A1%8C 08.00.00\",\"run\"],["
    "\"2026-12-07 11:30:15\",\"%E6%9C%AA%E7%99%BB%E5%BD%95\",\"%E8%BF%90%E8%A1%8C 11.30.15\",\"run\"]]}}",
    "HTTP/1.1 200 OK%0D%0AHOST: 127.0.0.1:{port}%0D%0AUser-Agent: golden-7%0D%0AContent-Type: application"
    "/json%0D%0ADevice-ID: SN-TEST-1%0D%0AContent-Length: 70%0D%0A%0D%0A{\"code\":0,\"msg\":\"OK\",\"result\":{\"e"
    "rrorstring\":\"%E9%94%99%E8%AF%AF%E7%9A%84%E6%97%B6%E9%97%B4%E6%A0%BC%E5%BC%8F\"}}",
    "HTTP/1.1 200 OK%0D%0AHOST: 127.0.0.1:{port}%0D%0AUser-Agent: golden-8%0D%0AContent-Type: application"
    "/json%0D%0ADevice-ID: SN-TEST-1%0D%0AContent-Length: 424%0D%0A%0D%0A{\"code\":0,\"msg\":\"OK\",\"result\":{\""
    "detect_all\":[0,0],\"detect_all_detail\":[],\"detect_ng\":[0,0],\"detect_ng_detail\":[],\"device_id\":\"dev1\","
    "\"device_sn\":\"SN-TEST-1\",\"every_detect\":[{\"detect_index\":1,\"detect_index_all\":[0,0],\"detect_index_all"
    "_detail\":[],\"detect_index_ng\":[0,0],\"detect_index_ng_detail\":[]},{\"detect_index\":2,\"detect_index_all"
    "\":[0,0],\"detect_index_all_detail\":[],\"detect_index_ng\":[0,0],\"detect_index_ng_detail\":[]}]}}",
    "HTTP/1.1 200 OK%0D%0AHOST: 127.0.0.1:{port}%0D%0AUser-Agent: golden-9%0D%0AContent-Type: application"
    "/json%0D%0ADevice-ID: SN-TEST-1%0D%0AContent-Length: 70%0D%0A%0D%0A{\"code\":0,\"msg\":\"OK\",\"result\":{\"e"
    "rrorstring\":\"%E9%94%99%E8%AF%AF%E7%9A%84%E6%97%B6%E9%97%B4%E6%A0%BC%E5%BC%8F\"}}",
    "HTTP/1.1 404 Not Found%0D%0AHOST: 127.0.0.1:{port}%0D%0AUser-Agent: golden-10%0D%0AContent-Length: 4"
    "4%0D%0A%0D%0A{\"code\":-1,\"msg\":\"no found url\",\"result\":{}}",
};

// Every read above, each on its own connection, from a thread of its own.
QList<QByteArray> askAll(quint16 port)
{
    QList<QByteArray> replies;
    int n = 0;
    for (const Ask& ask : kReads)
        replies << exchange(port, ask.route, ask.body, "golden-" + QByteArray::number(++n));
    return replies;
}

} // namespace

class ApiReadRoutes : public ApiTest
{
protected:
    // A fixed state: counters, run and result state, a decided cycle with pictures,
    // a picture file and today's records.
    void fixState()
    {
        Clock::setFixed(QDateTime(QDate(2026, 12, 7), QTime(12, 0)));
        numCamera = 3;
        gDNum = 2;
        const int all[] = {10, 20, 30, 99}, fail[] = {1, 0, 3, 0};
        for (int i = 0; i < 4; ++i) {
            gAllNum[i] = all[i];
            gFailNum[i] = fail[i];
        }
        gAllCycleNum[1] = 7;
        gAllCycleNum[5] = 12;
        gSyncNGCycleNum = 4;
        window->runState = 1;
        window->resultState = 2;
        window->curDetectIndex = 1;

        VEK_NETMN::sAPI_LastDetect_Info info;
        info.id = QStringLiteral("V18#dev1@18f00000000");
        info.starttime = QStringLiteral("2026-12-07 11:59:59.500");
        info.record = QJsonObject{{"device_id", "dev1"}, {"device_sn", "SN-TEST-1"}, {"detect_result", false},
                                  {"detail", QJsonArray{QJsonObject{{"camera", 0}, {"result", 0}}}},
                                  {"uuid", info.id}, {"starttime", info.starttime},
                                  {"finishtime", "2026-12-07 12:00:00.000"}};
        info.pictures.insert("0;0;0", "./alarmimage/camera1/detect1/NG/a.jpg");
        info.pictures.insert("1;1;1", "./alarmimage/camera2/detect2/OK/b.jpg");
        hub->lastDetectInfo.setValue(info);

        ASSERT_TRUE(appDir.writeFile("alarmimage/camera2/detect1/NG/p.jpg", QByteArray("\xff\xd8 jpeg \x00\xff\xd9", 11)));
        for (const char* time : {"08.00.00", "11.30.15"})
            StandInWindow::addRecord(window->recordDatabase(), time, "未登录", QStringLiteral("运行 %1").arg(time),
                                     "run");
    }
};

// The GUI thread kept in work (as while it waits for the cameras' join) until the
// client is done or a minute passed; then it serves events until the client ends.
template <typename Client>
bool whileGuiThreadHeld(Client client)
{
    std::promise<void> done;
    std::future<void> finished = done.get_future();
    std::thread thread([&] {
        client();
        done.set_value();
    });
    const bool answered = finished.wait_for(std::chrono::minutes(1)) == std::future_status::ready;
    QEventLoop loop;
    while (!answered && finished.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready)
        loop.processEvents(QEventLoop::AllEvents, 50);
    thread.join();
    return answered;
}

QList<QByteArray> recorded()
{
    QList<QByteArray> out;
    for (const char* text : kRecorded)
        out << QByteArray::fromPercentEncoding(text);
    return out;
}

TEST_F(ApiReadRoutes, AnswerTheRecordedBytesAlsoWhileTheGuiThreadIsHeldInADetection)
{
    fixState();
    hub->apiServer()->publishSnapshot();
    QList<QByteArray> replies;
    // Serving events meanwhile, as the GUI thread between detections.
    QEventLoop loop;
    std::thread client([&] {
        replies = askAll(port);
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    client.join();
    const QList<QByteArray> expected = recorded();
    ASSERT_EQ(replies.size(), expected.size());
    for (int i = 0; i < expected.size(); ++i)
        EXPECT_EQ(replies.at(i), expected.at(i)) << kReads[i].route.constData();

    // Twice while held: the second time from the reply bytes kept since the first.
    for (int round = 0; round < 2; ++round) {
        replies.clear();
        ASSERT_TRUE(whileGuiThreadHeld([&] { replies = askAll(port); })) << "reads waited for the GUI thread";
        for (int i = 0; i < expected.size(); ++i)
            EXPECT_EQ(replies.at(i), expected.at(i)) << kReads[i].route.constData() << " round " << round;
    }
}

TEST_F(ApiReadRoutes, FollowTheCycleAndTheWriteRoutesThatStillRunInTheGuiThread)
{
    fixState();
    hub->apiServer()->publishSnapshot();
    const QByteArray before = recorded().first();

    // Changed by a cycle that has not ended: the snapshot still holds the last one's counts.
    gAllNum[0] = 11;
    EXPECT_EQ(exchange(port, "get_product_infos", "{}", "golden-1"), before);
    runCycle({{0, 0, 0, 1}});
    EXPECT_TRUE(exchange(port, "get_product_infos", "{}", "golden-1").contains("\"detect_all_detail\":[11,20,30]"));
    QByteArray last = exchange(port, "get_last_detectinfo", "{}", "x");
    EXPECT_TRUE(last.contains("\"detect_result\":true")) << last.constData();
    EXPECT_TRUE(last.contains("\"pictures\":[]")) << last.constData();
    // A picture saved after the decision (writer thread) shows at once.
    hub->add_PeriodRecord_Picture(0, 0, false, "./alarmimage/camera1/detect1/NG/late.jpg", hub->currentCycleId());
    last = exchange(port, "get_last_detectinfo", "{}", "x");
    EXPECT_TRUE(last.contains("\"picture_name\":\"late.jpg\"")) << last.constData();

    // A write sent while the GUI thread is held waits for it; a read is answered meanwhile,
    // from the state before the write.
    QByteArray cleared, read;
    int allWhileHeld = -1;
    std::atomic<bool> writeDone{false};
    std::thread write;
    ASSERT_TRUE(whileGuiThreadHeld([&] {
        write = std::thread([&] {
            cleared = exchange(port, "set_clear_curcount", "{}", "w-1");
            writeDone = true;
        });
        read = exchange(port, "get_product_infos", "{}", "r-1");
        allWhileHeld = gAllNum[0];
    }));
    EXPECT_TRUE(read.contains("\"detect_all_detail\":[11,20,30]")) << read.constData();
    EXPECT_EQ(allWhileHeld, 11);
    QEventLoop loop;
    while (!writeDone)
        loop.processEvents(QEventLoop::AllEvents, 50);
    write.join();
    EXPECT_TRUE(cleared.startsWith("HTTP/1.1 200 OK\r\n")) << cleared.constData();
    EXPECT_EQ(gAllNum[0], 0);
    EXPECT_EQ(window->countWrites, 1);
    EXPECT_TRUE(exchange(port, "get_product_infos", "{}", "r-2").contains("\"detect_all_detail\":[0,0,0]"));

    // A change outside any cycle (the operator stops the run) is published by the GUI thread by itself.
    window->runState = kRunStopped;
    QByteArray stopped;
    for (int i = 0; i < 100 && !stopped.contains("\"run_status\":0"); ++i) {
        loop.processEvents(QEventLoop::AllEvents, HttpApiServer::kSnapshotRefreshMs);
        QThread::msleep(HttpApiServer::kSnapshotRefreshMs / 2);
        loop.processEvents(QEventLoop::AllEvents, HttpApiServer::kSnapshotRefreshMs);
        stopped = exchange(port, "get_product_infos", "{}", "r-3");
    }
    EXPECT_TRUE(stopped.contains("\"run_status\":0")) << stopped.constData();
}
