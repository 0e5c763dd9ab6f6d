#include "apitestkit.h"
#include "clock.h"
#include "descriptorreserve.h"
#include "globals.h"
#include "httpapiserver.h"
#include "looppace.h"
#include "pushdispatcher.h"
#include "vek_netmn.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include "groupprocess.h"
#include <QDateTime>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QSettings>
#include <QTcpServer>
#include <QTest>
#include <QThread>
#include <QUrl>
#include <QUrlQuery>
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// The python subscriber, one JSON line per request received.
class Listener
{
public:
    explicit Listener(const QStringList& options = {})
    {
        process.start("python3", QStringList{projectSourceDir() + "/tests/netservices/subscriber_listener.py"} + options);
        waitUntil([&] { return process.canReadLine(); }, 10000);
        port = process.readLine().trimmed().toInt();
    }
    ~Listener()
    {
        process.endGroup();
    }
    // Waits for the next received request.
    QJsonObject next(int timeoutMs = 5000)
    {
        if (!waitUntil([&] { return process.canReadLine(); }, timeoutMs))
            return QJsonObject();
        return QJsonDocument::fromJson(process.readLine()).object();
    }
    // Every request received so far, without waiting.
    const QList<QJsonObject>& drain()
    {
        while (process.canReadLine())
            arrived << QJsonDocument::fromJson(process.readLine()).object();
        return arrived;
    }
    // Arrival times (ms since the epoch) of the requests received so far whose path starts so.
    QList<qint64> arrivals(const QString& path)
    {
        QList<qint64> at;
        for (const QJsonObject& request : drain()) {
            if (request.value("path").toString().startsWith(path))
                at << qint64(request.value("at").toDouble() * 1000);
        }
        std::sort(at.begin(), at.end());
        return at;
    }
    GroupProcess process;
    QList<QJsonObject> arrived;
    int port = 0;
};

const QString kRecordPath = QStringLiteral("/v18/http/post_detected_info");
const QString kPicturePath = QStringLiteral("/v18/http/post_detected_picture");

// The ROI index of a pushed cycle record: the tests give cycle n ROI n to tell records apart.
int pushedRoi(const QJsonObject& pushed)
{
    const QJsonObject record =
        QJsonDocument::fromJson(QByteArray::fromBase64(pushed.value("body").toString().toLatin1())).object();
    return record.value("detail")[0]["rois"][0]["roi_index"].toInt(-1);
}

// What a push was, by the cycle it came under: "<uuid> record" or "<uuid> camera <n>".
QString pushedUnder(const QJsonObject& request)
{
    const QString uuid = request.value("headers").toObject().value("User-Agent").toString();
    const QUrl url(request.value("path").toString());
    if (url.path() == kRecordPath)
        return uuid + " record";
    return uuid + " camera " + QUrlQuery(url).queryItemValue("camera_index");
}

QByteArray subscription(const QList<QPair<int, QString>>& entries)
{
    QJsonArray list;
    for (const auto& e : entries)
        list.append(QJsonObject{{"subscriber_ip", "127.0.0.1"}, {"subscriber_port", e.first},
                                {"subscriber_topic", e.second}});
    return QJsonDocument(QJsonObject{{"subscriber", list}}).toJson(QJsonDocument::Compact);
}

QStringList subscribeResult(const HttpReply& r)
{
    QStringList keys;
    for (const QJsonValue& v : r.result().value("subscribe_result").toArray())
        keys << v.toString();
    return keys;
}

// Loopback ports whose accept queues are full: a new connection neither succeeds nor
// fails, it hangs, like a subscriber that went away without a word. The ports are taken
// from 20000 up, below the kernel's ephemeral ports, so that these subscriptions come
// before a listener's in the subscriber list.
class Blackhole
{
public:
    explicit Blackhole(int count = 1)
    {
        process.start("python3", {"-c", R"(
import socket, sys, time
listeners, fill = [], []
port = 20000
while len(listeners) < int(sys.argv[1]):
    s = socket.socket()
    try:
        s.bind(('127.0.0.1', port))
    except OSError:
        s.close(); port += 1; continue
    port += 1
    s.listen(0); listeners.append(s)
    for i in range(2):
        c = socket.socket(); c.setblocking(False); c.connect_ex(s.getsockname()); fill.append(c)
time.sleep(0.2)
print(' '.join(str(s.getsockname()[1]) for s in listeners), flush=True)
time.sleep(60)
)", QString::number(count)});
        waitUntil([&] { return process.canReadLine(); }, 10000);
        for (const QByteArray& p : process.readLine().trimmed().split(' '))
            ports << p.toInt();
        port = ports.value(0);
    }
    ~Blackhole()
    {
        process.endGroup();
    }
    GroupProcess process;
    QList<int> ports;
    int port = 0;
};

int pushThreads(HttpApiServer* api)
{
    int running = 0;
    for (const QThread* thread : api->findChildren<QThread*>(QString(), Qt::FindDirectChildrenOnly))
        running += thread->isRunning() ? 1 : 0;
    return running;
}

} // namespace

class SubscriberPush : public ApiTest
{
protected:
    static constexpr int kCameras = 8;
    static QString picture(int camera) { return QString("./alarmimage/camera%1/detect1/OK/ok.jpg").arg(camera + 1); }
    void layPictures()
    {
        for (int camera = 0; camera < kCameras; ++camera)
            ASSERT_TRUE(appDir.writeFile(picture(camera).mid(2), QByteArray(100000, 'j')));
    }
    // Decides cycle n (ROI n) and publishes a picture of each camera; when it was decided (ms since the epoch).
    qint64 cycleWithPictures(int n)
    {
        runCycle({{0, 0, n, 1}});
        const qint64 decided = QDateTime::currentMSecsSinceEpoch();
        for (int camera = 0; camera < kCameras; ++camera)
            hub->add_PeriodRecord_Picture(camera, 0, true, picture(camera), hub->currentCycleId());
        return decided;
    }
    // Starts a cycle at a millisecond of its own, so under an id of its own; its id.
    QString startCycle()
    {
        if (m_nextStartMs == 0)
            m_nextStartMs = QDateTime::currentMSecsSinceEpoch();
        Clock::setFixed(QDateTime::fromMSecsSinceEpoch(m_nextStartMs++));
        hub->start_PeriodRecord();
        return hub->currentCycleId();
    }
    // The picture of a camera saved for a cycle, from the writer's thread as in the program.
    void saved(int camera, const QString& cycleId)
    {
        std::thread writer([&] { hub->add_PeriodRecord_Picture(camera, 0, true, picture(camera), cycleId); });
        writer.join();
    }
    void subscribeBoth(const Listener& subscriber)
    {
        post("subscriber_baseinfo",
             subscription({{subscriber.port, "detected_info"}, {subscriber.port, "detected_picture"}}));
    }
    // The longest time from a cycle's decision to its record's arrival, and how many cycles' records came.
    static QPair<qint64, int> recordLag(Listener& subscriber, const QList<qint64>& decidedAt)
    {
        qint64 longest = 0;
        QSet<int> cycles;
        for (const QJsonObject& request : subscriber.drain()) {
            if (request.value("path").toString() != kRecordPath)
                continue;
            cycles.insert(pushedRoi(request));
            longest = qMax(longest, qint64(request.value("at").toDouble() * 1000) - decidedAt.value(pushedRoi(request)));
        }
        return {longest, int(cycles.size())};
    }

private:
    qint64 m_nextStartMs = 0;
};

TEST_F(SubscriberPush, SubscribeStoresKnownTopicsAndListsThem)
{
    EXPECT_EQ(subscribeResult(post("subscriber_baseinfo", "{}")), QStringList());
    const HttpReply r = post("subscriber_baseinfo",
                             R"({"subscriber":[{"subscriber_ip":"10.0.0.5","subscriber_port":9000,"subscriber_topic":"detected_info"},)"
                             R"({"subscriber_ip":"10.0.0.5","subscriber_port":"9000","subscriber_topic":"detected_picture"},)"
                             R"({"subscriber_ip":"10.0.0.6","subscriber_port":1,"subscriber_topic":"weather"},)"
                             R"({"subscriber_port":1,"subscriber_topic":"detected_info"},)"
                             R"({"subscriber_ip":"10.0.0.7","subscriber_port":2,"subscriber_topic":"all detected_info please"},)"
                             R"({"subscriber_ip":"10.0.0.5","subscriber_port":9000,"subscriber_topic":"detected_info"}]})");
    // A port given as text is no port: refused like any other invalid subscription.
    const QStringList expected{"10.0.0.5;9000;detected_info", "10.0.0.7;2;all detected_info please"};
    EXPECT_EQ(subscribeResult(r), expected);
    EXPECT_EQ(r.result().keys(), QStringList{"subscribe_result"});
    // Without "subscriber": the current list.
    EXPECT_EQ(subscribeResult(post("subscriber_baseinfo", R"({"other":1})")), expected);

    // Stored in the workspace and read back by the next start.
    QSettings ini("cnt_net/workspace/subscriber.ini", QSettings::IniFormat);
    EXPECT_EQ(ini.value("subscriber_groups").toMap().keys(), expected);
    configure(true);
    EXPECT_EQ(hub->apiServer()->subscribers().keys(), expected);
    EXPECT_EQ(hub->apiServer()->getSubscriber_FromTopic("detected_info").size(), 1);
    EXPECT_TRUE(hub->apiServer()->getSubscriber_FromTopic("detected_picture").isEmpty());
}

TEST_F(SubscriberPush, SubscriberListIsBoundedAndPortsAreNotWrapped)
{
    Clock::setFixed(QDateTime(QDate(2026, 12, 7), QTime(8, 0)));
    QList<QPair<int, QString>> many;
    for (int i = 0; i < HttpApiServer::kMaxSubscribers + 5; ++i)
        many.append({20000 + i, "detected_info"});
    EXPECT_EQ(subscribeResult(post("subscriber_baseinfo", subscription(many))).size(), HttpApiServer::kMaxSubscribers);
    // Renewing a stored one still works; a new one waits until others expire.
    post("subscriber_baseinfo", subscription({{20000, "detected_info"}, {30000, "detected_info"}}));
    EXPECT_TRUE(hub->apiServer()->subscribers().contains("127.0.0.1;20000;detected_info"));
    EXPECT_FALSE(hub->apiServer()->subscribers().contains("127.0.0.1;30000;detected_info"));
    Clock::advance(HttpApiServer::kSubscriptionLifeMs + 1);
    EXPECT_EQ(subscribeResult(post("subscriber_baseinfo", subscription({{30000, "detected_info"}}))),
              QStringList{"127.0.0.1;30000;detected_info"});

    // Port 65536 + p must not reach port p, and a port of 0 connects nowhere:
    // neither is stored, so no cycle ever pushes to them.
    Listener listener;
    const QString wrapped = QStringLiteral("127.0.0.1;%1;detected_info").arg(65536 + listener.port);
    post("subscriber_baseinfo", subscription({{65536 + listener.port, "detected_info"}, {0, "detected_info"}}));
    EXPECT_FALSE(hub->apiServer()->subscribers().contains(wrapped));
    EXPECT_FALSE(hub->apiServer()->subscribers().contains("127.0.0.1;0;detected_info"));
    runCycle({});
    EXPECT_TRUE(listener.next(800).isEmpty());
}

TEST_F(SubscriberPush, SubscriptionsExpireAnHourAfterTheLastRenewal)
{
    Clock::setFixed(QDateTime(QDate(2026, 12, 7), QTime(8, 0)));
    post("subscriber_baseinfo", subscription({{7001, "detected_info"}, {7002, "detected_info"}}));
    Clock::advance(1000);
    post("subscriber_baseinfo", subscription({{7002, "detected_info"}}));   // renewed one second later
    Clock::advance(3600000 - 1000);
    HttpApiServer* api = hub->apiServer();
    EXPECT_EQ(api->getSubscriber_FromTopic("detected_info").size(), 2);   // exactly an hour: still live
    Clock::advance(1);
    const QList<Skt_Session> live = api->getSubscriber_FromTopic("detected_info");
    ASSERT_EQ(live.size(), 1);
    EXPECT_EQ(live.first().port, 7002);
    EXPECT_EQ(api->subscribers().size(), 1);

    // With the API off nothing is looked up or removed.
    Clock::advance(10 * 3600000LL);
    configure(false);
    EXPECT_TRUE(api->getSubscriber_FromTopic("detected_info").isEmpty());
    EXPECT_EQ(api->subscribers().size(), 1);
}

TEST_F(SubscriberPush, CycleRecordAndPicturesArePushedToTheirTopics)
{
    Listener info;
    Listener pictures;
    post("subscriber_baseinfo", subscription({{info.port, "detected_info"}, {pictures.port, "detected_picture"}}));

    runCycle({{0, 0, 4, 1}, {1, 0, 2, 0}});
    const QJsonObject pushed = info.next();
    ASSERT_FALSE(pushed.isEmpty());
    const QJsonObject headers = pushed.value("headers").toObject();
    const auto record = hub->lastDetectInfo.getValue();
    EXPECT_EQ(pushed.value("path").toString(), QString("/v18/http/post_detected_info"));
    EXPECT_EQ(headers.value("User-Agent").toString(), record.id);
    EXPECT_EQ(headers.value("Device-ID").toString(), QString("SN-TEST-1"));
    EXPECT_EQ(headers.value("Content-Type").toString(), QString("application/json"));
    EXPECT_EQ(QJsonDocument::fromJson(QByteArray::fromBase64(pushed.value("body").toString().toLatin1())).object(),
              record.record);

    QByteArray jpeg(200000, 'j');
    ASSERT_TRUE(appDir.writeFile("alarmimage/camera2/detect1/NG/ng 1.jpg", jpeg));
    hub->add_PeriodRecord_Picture(1, 0, false, "./alarmimage/camera2/detect1/NG/ng 1.jpg", record.id);
    const QJsonObject picture = pictures.next();
    ASSERT_FALSE(picture.isEmpty());
    EXPECT_EQ(picture.value("path").toString(),
              QString("/v18/http/post_detected_picture?camera_index=1&camera_result=false&detect_index=0&picture_name=ng%201.jpg"));
    EXPECT_EQ(picture.value("headers").toObject().value("Content-Type").toString(), QString("image/jpeg"));
    EXPECT_EQ(picture.value("headers").toObject().value("User-Agent").toString(), record.id);
    EXPECT_EQ(QByteArray::fromBase64(picture.value("body").toString().toLatin1()), jpeg);

    // Each topic only to its own subscribers.
    EXPECT_TRUE(info.next(500).isEmpty());
    EXPECT_TRUE(pictures.next(10).isEmpty());
}

TEST_F(SubscriberPush, PictureFromTheWriterThreadIsPushed)
{
    Listener pictures;
    post("subscriber_baseinfo", subscription({{pictures.port, "detected_picture"}}));
    ASSERT_TRUE(appDir.writeFile("alarmimage/camera1/detect1/OK/ok.jpg", "jpeg"));
    runCycle({});
    const QString cycleId = hub->currentCycleId();
    QThread* writer = QThread::create([&] {
        hub->add_PeriodRecord_Picture(0, 0, true, "./alarmimage/camera1/detect1/OK/ok.jpg", cycleId);
    });
    writer->start();
    writer->wait();
    delete writer;
    const QJsonObject picture = pictures.next();
    EXPECT_EQ(QByteArray::fromBase64(picture.value("body").toString().toLatin1()), QByteArray("jpeg"));
}

// The writer saves a picture a while after its cycle marked it: by then the next cycle may have
// started, or have been decided too. Each picture still arrives once, under the cycle it was taken
// in, and only that cycle's record lists it.
TEST_F(SubscriberPush, EachPictureArrivesOnceUnderTheCycleItWasTakenIn)
{
    Listener subscriber;
    subscribeBoth(subscriber);
    layPictures();

    const QString first = startCycle();
    hub->finish_PeriodRecord();
    saved(0, first);
    const QString second = startCycle();
    saved(1, first);    // the next cycle is not decided yet
    hub->finish_PeriodRecord();
    const QString third = startCycle();
    hub->finish_PeriodRecord();
    saved(2, second);   // the next cycle is decided
    saved(2, third);
    saved(2, third);    // the same camera's picture again
    saved(2, second);
    EXPECT_EQ(hub->lastDetectInfo.getValue().pictures, (QMap<QString, QString>{{"2;0;1", picture(2)}}));

    QStringList expected{first + " record", first + " camera 0", first + " camera 1", second + " record",
                         second + " camera 2", third + " record", third + " camera 2"};
    QStringList arrived;
    waitUntil([&] { return subscriber.drain().size() >= expected.size(); });
    QTest::qWait(300);   // nothing more comes
    for (const QJsonObject& request : subscriber.drain())
        arrived << pushedUnder(request);
    std::sort(expected.begin(), expected.end());
    std::sort(arrived.begin(), arrived.end());
    EXPECT_EQ(arrived, expected);
}

// Pictures saved before their cycle is decided (an earlier detection's, in multi-detection mode)
// are held and go right after the cycle's record, listed in it. A cycle never decided holds them
// no longer than until the next cycle starts, which sends them under their own id; a stop drops them.
TEST_F(SubscriberPush, PicturesSavedBeforeTheDecisionFollowTheirRecord)
{
    Listener subscriber({"--serial"});   // in the order the pushes went out
    subscribeBoth(subscriber);
    layPictures();

    const QString decided = startCycle();
    saved(1, decided);
    saved(0, decided);
    saved(0, decided);   // one picture a camera
    EXPECT_TRUE(subscriber.next(300).isEmpty()) << "nothing before the decision";
    hub->finish_PeriodRecord();
    EXPECT_EQ(hub->lastDetectInfo.getValue().pictures,
              (QMap<QString, QString>{{"0;0;1", picture(0)}, {"1;0;1", picture(1)}}));

    const QString undecided = startCycle();
    saved(3, undecided);
    const QString stopped = startCycle();
    saved(4, stopped);
    hub->clear_PeriodRecord();
    hub->finish_PeriodRecord();

    QStringList arrived;
    for (QJsonObject request = subscriber.next(); !request.isEmpty(); request = subscriber.next(500))
        arrived << pushedUnder(request);
    EXPECT_EQ(arrived, (QStringList{decided + " record", decided + " camera 0", decided + " camera 1",
                                    undecided + " camera 3"}));
}

// Unreachable subscribers cost neither the cycle nor the other subscribers anything.
TEST_F(SubscriberPush, UnreachableSubscriberDoesNotHoldTheCycle)
{
    Listener live;
    Blackhole hanging(8);   // 200 ms connect wait each: 1.6 s if they went one after the other
    QList<QPair<int, QString>> entries{{freePort(), "detected_info"}};
    for (int port : hanging.ports) {
        ASSERT_LT(QString::number(port), QString::number(live.port));   // pushed to before the live one
        entries.append({port, "detected_info"});
    }
    entries.append({live.port, "detected_info"});
    post("subscriber_baseinfo", subscription(entries));

    QElapsedTimer timer;
    timer.start();
    runCycle({{0, 0, 0, 1}});
    EXPECT_LT(timer.elapsed(), 100);
    EXPECT_EQ(live.next().value("path").toString(), QString("/v18/http/post_detected_info"));
    EXPECT_LT(timer.elapsed(), 1000);
    EXPECT_EQ(hub->apiServer()->subscribers().size(), 10);   // they stay until they expire
}

// All pushes share one thread, made at the first push; a subscriber no subscription
// names any more gets nothing.
TEST_F(SubscriberPush, PushesShareOneThreadAndFollowTheSubscriptions)
{
    Clock::setFixed(QDateTime(QDate(2026, 12, 7), QTime(8, 0)));
    Listener first;
    Listener second;
    post("subscriber_baseinfo", subscription({{first.port, "detected_info"}, {first.port, "detected_picture"},
                                              {second.port, "detected_info"}}));
    HttpApiServer* api = hub->apiServer();
    EXPECT_EQ(pushThreads(api), 0);
    runCycle({});
    EXPECT_FALSE(first.next().isEmpty());
    EXPECT_FALSE(second.next().isEmpty());
    EXPECT_EQ(pushThreads(api), 1);

    Clock::advance(HttpApiServer::kSubscriptionLifeMs - 1000);
    post("subscriber_baseinfo", subscription({{second.port, "detected_info"}}));
    Clock::advance(2000);   // the first one's subscriptions expire at this push
    runCycle({});
    EXPECT_FALSE(second.next().isEmpty());
    EXPECT_EQ(pushThreads(api), 1);
    EXPECT_TRUE(first.next(300).isEmpty());
}

// A record held back while too few descriptors are free goes out once there are enough, though
// no later push comes to start it (the last cycle before production stops).
TEST_F(SubscriberPush, ARecordHeldForDescriptorsGoesOutOnceThereAreEnough)
{
    Listener info;
    post("subscriber_baseinfo", subscription({{info.port, "detected_info"}}));
    runCycle({{0, 0, 1, 1}});
    ASSERT_EQ(pushedRoi(info.next()), 1);

    // A soft limit 40 above the lowest free descriptor leaves fewer free than the reserve.
    rlimit previous{};
    getrlimit(RLIMIT_NOFILE, &previous);
    const auto restore = qScopeGuard([&] { setrlimit(RLIMIT_NOFILE, &previous); });
    const int lowestFree = open("/dev/null", O_RDONLY | O_CLOEXEC);
    close(lowestFree);
    rlimit low = previous;
    low.rlim_cur = rlim_t(lowestFree + 40);
    setrlimit(RLIMIT_NOFILE, &low);
    ASSERT_FALSE(DescriptorReserve::enoughFree());
    runCycle({{0, 0, 2, 1}});
    EXPECT_TRUE(info.next(600).isEmpty());
    setrlimit(RLIMIT_NOFILE, &previous);
    EXPECT_EQ(pushedRoi(info.next(1000)), 2);
}

// Records decided while earlier pushes wait for their answers go out at once, each on its own
// connection, up to the subscriber's bound; the others wait their turn, and of those only the
// newest are kept.
TEST_F(SubscriberPush, RecordsDecidedDuringUnansweredPushesAllArrive)
{
    Listener gated({"--gate"});
    post("subscriber_baseinfo", subscription({{gated.port, "detected_info"}}));
    const auto decide = [&](int first, int last) {
        for (int n = first; n <= last; ++n)
            runCycle({{0, 0, n, 1}});
    };
    const auto received = [&](int count) {
        QList<int> rois;
        for (int i = 0; i < count; ++i) {
            const QJsonObject pushed = gated.next(3000);
            if (pushed.isEmpty())
                break;
            rois << pushedRoi(pushed);
        }
        std::sort(rois.begin(), rois.end());   // parallel connections: any order
        return rois;
    };
    const auto range = [](int first, int last) {
        QList<int> rois;
        for (int n = first; n <= last; ++n)
            rois << n;
        return rois;
    };
    const auto answer = [&](int count) { gated.process.write(QByteArray::number(count) + "\n"); };
    constexpr int kBound = PushDispatcher::kRecordsInFlight;

    decide(0, 0);
    ASSERT_EQ(received(1), QList<int>{0});
    decide(1, kBound + 1);
    EXPECT_EQ(received(kBound - 1), range(1, kBound - 1));   // none of them answered yet
    EXPECT_TRUE(gated.next(300).isEmpty());
    answer(kBound + 2);
    EXPECT_EQ(received(2), range(kBound, kBound + 1));

    const int first = kBound + 2;
    decide(first, first + kBound - 1);
    ASSERT_EQ(received(kBound), range(first, first + kBound - 1));
    const int last = first + kBound + PushDispatcher::kMaxQueued + 3;
    decide(first + kBound, last);
    answer(kBound + PushDispatcher::kMaxQueued);
    EXPECT_EQ(received(PushDispatcher::kMaxQueued), range(last - PushDispatcher::kMaxQueued + 1, last));
    EXPECT_TRUE(gated.next(300).isEmpty());
}

// A plant server answers as it likes: without echoing the record's id, echoing it, or as HTTP/1.0
// closing the connection. Each gets every record of a cycle a second within a second, with the
// cycle's pictures beside.
TEST_F(SubscriberPush, EveryKindOfAnswerKeepsPaceWithACycleASecond)
{
    Listener plain({"--no-echo"});
    Listener echoing;
    Listener closing({"--close"});
    const QList<Listener*> servers{&plain, &echoing, &closing};
    QList<QPair<int, QString>> entries;
    for (Listener* server : servers)
        entries << qMakePair(server->port, QString("detected_info")) << qMakePair(server->port, QString("detected_picture"));
    post("subscriber_baseinfo", subscription(entries));
    layPictures();
    LogCount timed("all-time(ms):", QtInfoMsg);
    LogCount sent("send success!", QtInfoMsg);
    LogCount unanswered("no answer to");

    constexpr int kCycles = 5;
    QList<qint64> decidedAt;
    for (int n = 0; n < kCycles; ++n) {
        decidedAt << cycleWithPictures(n);
        QTest::qWait(int(qMax<qint64>(0, decidedAt.last() + 1000 - QDateTime::currentMSecsSinceEpoch())));
    }
    for (Listener* server : servers) {
        SCOPED_TRACE(server == &plain ? "no echo" : server == &echoing ? "echo" : "HTTP/1.0, closing");
        waitUntil([&] { return server->drain().size() >= kCycles * (1 + kCameras); }, 3000);
        EXPECT_EQ(server->arrivals(kPicturePath).size(), kCycles * kCameras);
        const QPair<qint64, int> lag = recordLag(*server, decidedAt);
        EXPECT_EQ(lag.second, kCycles);
        EXPECT_LT(lag.first, 1000);
    }
    EXPECT_EQ(timed.count(), kCycles * (1 + kCameras));   // only the echoed answers are timed
    // Every kind of answer is a push sent.
    EXPECT_TRUE(waitUntil([&] { return sent.count() == int(servers.size()) * kCycles * (1 + kCameras); }, 3000))
        << sent.count();
    EXPECT_EQ(unanswered.count(), 0);
}

// A subscriber that takes every push and never answers holds no more connections than its bound,
// and the cycles and the other subscribers go on as if it were not there. What it cannot take is
// dropped with a warning that counts it.
TEST_F(SubscriberPush, ASubscriberThatNeverAnswersHoldsItsBoundAndDelaysNothing)
{
    Listener silent({"--silent"});
    Listener live({"--no-echo"});
    post("subscriber_baseinfo", subscription({{silent.port, "detected_info"}, {silent.port, "detected_picture"},
                                              {live.port, "detected_info"}, {live.port, "detected_picture"}}));
    LogCount dropped("dropped");
    LogCount sent("send success!", QtInfoMsg);
    LogCount unanswered("no answer to");
    layPictures();

    // Five cycles a second: the silent subscriber's bounds fill before its first pushes time out.
    // On a loaded machine the live subscriber's process answers slower: the cycles then come
    // at most twice as slow, which still fills the bounds before the time-out and drops some.
    constexpr int kCycles = 10;
    const int periodMs = 200 * qMin(2, LoopPace::runQueuePerCore());
    QList<qint64> decidedAt;
    // The GUI thread's hold while a cycle is published (the time a loaded machine kept it
    // waiting for a processor left out).
    qint64 worstPublishMs = 0;
    for (int n = 0; n < kCycles; ++n) {
        worstPublishMs = qMax(worstPublishMs, LoopPace::longestHoldMs([&] { decidedAt << cycleWithPictures(n); }));
        QTest::qWait(periodMs);
    }
    EXPECT_LT(worstPublishMs, 200);
    EXPECT_TRUE(waitUntil([&] { return live.drain().size() == kCycles * (1 + kCameras); }, 30000)) << live.drain().size();
    // A record queued behind one of the silent subscriber's pushes waits for that push's time-out.
    EXPECT_LT(recordLag(live, decidedAt).first, PushDispatcher::kAnswerTimeoutMs);

    // Pushes of a kind go out at once up to the bound; none more until the first time out.
    const auto heldAtOnce = [&](const QString& path) {
        const QList<qint64> at = silent.arrivals(path);
        int most = 0;
        for (int i = 0; i < at.size(); ++i)
            most = qMax(most, int(std::count_if(at.begin() + i, at.end(), [&](qint64 t) {
                return t - at.at(i) < PushDispatcher::kAnswerTimeoutMs - 300;
            })));
        return most;
    };
    EXPECT_EQ(heldAtOnce(kRecordPath), PushDispatcher::kRecordsInFlight);
    EXPECT_EQ(heldAtOnce(kPicturePath), PushDispatcher::kPicturesInFlight);

    // Every push the silent one never got was counted in a warning, in a few lines.
    const QRegularExpression counted("dropped (\\d+) records and (\\d+) pictures");
    const auto countedDrops = [&](int kind) {
        int sum = 0;
        for (const QString& message : dropped.messages())
            sum += counted.match(message).captured(kind).toInt();
        return sum;
    };
    EXPECT_TRUE(waitUntil([&] {
        return silent.arrivals(kRecordPath).size() + countedDrops(1) == kCycles
               && silent.arrivals(kPicturePath).size() + countedDrops(2) == kCycles * kCameras;
    }, 60000)) << dropped.messages().join('\n').toStdString();
    EXPECT_GT(countedDrops(2), 0);
    EXPECT_LT(dropped.count(), 4);

    // Only the live subscriber's pushes are logged as sent; each one the silent one took is
    // counted unanswered, in a few lines.
    const QRegularExpression noAnswer("no answer to (\\d+) records and (\\d+) pictures from 127\\.0\\.0\\.1:(\\d+)");
    const auto countedUnanswered = [&](int kind) {
        int sum = 0;
        for (const QString& message : unanswered.messages()) {
            const QRegularExpressionMatch match = noAnswer.match(message);
            EXPECT_EQ(match.captured(3).toInt(), silent.port) << message.toStdString();
            sum += match.captured(kind).toInt();
        }
        return sum;
    };
    EXPECT_TRUE(waitUntil([&] {
        return countedUnanswered(1) == silent.arrivals(kRecordPath).size()
               && countedUnanswered(2) == silent.arrivals(kPicturePath).size();
    }, 3 * PushDispatcher::kDropReportMs)) << unanswered.messages().join('\n').toStdString();
    EXPECT_EQ(sent.count(), kCycles * (1 + kCameras));
    EXPECT_LT(unanswered.count(), 4);
}

// A picture still being taken by a slow subscriber after the push's life is not cut off.
TEST_F(SubscriberPush, SlowSubscriberGetsTheWholePicture)
{
    Listener slow({"--slow"});
    post("subscriber_baseinfo", subscription({{slow.port, "detected_picture"}}));
    QByteArray jpeg(32 * 1024 * 1024, '\0');
    for (int i = 0; i < jpeg.size(); ++i)
        jpeg[i] = char(i * 31);
    ASSERT_TRUE(appDir.writeFile("alarmimage/camera1/detect1/NG/big.jpg", jpeg));
    runCycle({{0, 0, 0, 0}});
    hub->add_PeriodRecord_Picture(0, 0, false, "./alarmimage/camera1/detect1/NG/big.jpg", hub->currentCycleId());
    const QJsonObject picture = slow.next(20000);
    EXPECT_EQ(picture.value("length").toInt(), jpeg.size());
    EXPECT_EQ(picture.value("sha256").toString().toLatin1(),
              QCryptographicHash::hash(jpeg, QCryptographicHash::Sha256).toHex());
}

TEST_F(SubscriberPush, NothingIsPushedWithTheApiOff)
{
    Listener info;
    post("subscriber_baseinfo", subscription({{info.port, "detected_info"}}));
    configure(false, true);
    runCycle({});
    EXPECT_FALSE(hub->lastDetectInfo.isEmpty());   // networking on: still recorded
    EXPECT_TRUE(info.next(800).isEmpty());
}
