#include "apitestkit.h"
#include "clock.h"
#include "fakeshellrunner.h"
#include "globals.h"
#include "httpapiserver.h"
#include "vek_netmn.h"

#include <QDir>
#include "groupprocess.h"
#include <QJsonArray>
#include <QThread>
#include <atomic>
#include <gtest/gtest.h>

namespace {

param_roi roi(int camera, int detect, int index, int result, int value = 0, int p1 = 0, int p2 = 0, int p3 = 0)
{
    param_roi r;
    r.camera = camera;
    r.group = detect;
    r.roi = index;
    r.result = result;
    r.function = 4;
    r.value = value;
    r.param1 = p1;
    r.param2 = p2;
    r.param3 = p3;
    return r;
}

VEK_NETMN::sAPI_LastDetect_Info current(VEK_NETMN* hub)
{
    return hub->lastDetectInfo.getValue();
}

} // namespace

using NetworkHub = ApiTest;

TEST_F(NetworkHub, CycleIdFromDeviceNameAndStartMilliseconds)
{
    Clock::setFixed(QDateTime::fromMSecsSinceEpoch(1700000000000LL));
    hub->start_PeriodRecord();
    const auto info = current(hub);
    EXPECT_EQ(info.id, QString("V18#dev1@18bcfe56800"));
    EXPECT_EQ(info.starttime, QDateTime::fromMSecsSinceEpoch(1700000000000LL).toString("yyyy-MM-dd hh:mm:ss.zzz"));
    EXPECT_TRUE(info.record.isEmpty());
}

TEST_F(NetworkHub, CycleRecordJsonGroupsRoisByCameraAndDetection)
{
    gpWPara = nullptr;
    hub->start_PeriodRecord();
    hub->insertRoiResult(roi(1, 0, 2, 1));
    hub->insertRoiResult(roi(0, 1, 10, 0, 77, 0x0203, 0x0405, 0x0607));
    hub->insertRoiResult(roi(0, 1, 3, 1));
    hub->finish_PeriodRecord();
    const QJsonObject record = current(hub).record;

    const QStringList keys = record.keys();
    EXPECT_EQ(QSet<QString>(keys.begin(), keys.end()),
              (QSet<QString>{"device_id", "device_sn", "curProjectName", "detail", "detect_result", "starttime",
                             "finishtime", "uuid"}));
    EXPECT_EQ(record.value("device_id").toString(), QString("dev1"));
    EXPECT_EQ(record.value("device_sn").toString(), QString("SN-TEST-1"));
    EXPECT_EQ(record.value("uuid").toString(), current(hub).id);
    EXPECT_FALSE(record.value("detect_result").toBool());

    const QJsonArray detail = record.value("detail").toArray();
    ASSERT_EQ(detail.size(), 2);
    const QJsonObject first = detail.at(0).toObject();
    EXPECT_EQ(first.value("camera_index").toInt(), 0);
    EXPECT_EQ(first.value("detect_index").toInt(), 1);
    EXPECT_FALSE(first.value("detect_result").toBool());
    const QJsonArray rois = first.value("rois").toArray();
    ASSERT_EQ(rois.size(), 2);
    EXPECT_EQ(rois.at(0).toObject().value("roi_index").toInt(), 3);
    EXPECT_EQ(rois.at(1).toObject().value("roi_index").toInt(), 10);
    EXPECT_FALSE(rois.at(1).toObject().value("roi_result").toBool());
    EXPECT_EQ(rois.at(1).toObject().value("roi_func").toInt(), 4);
    EXPECT_EQ(rois.at(1).toObject().value("roi_algorithm").toArray(), (QJsonArray{77, 3, 5, 7, 2, 4, 6}));
    EXPECT_EQ(detail.at(1).toObject().value("camera_index").toInt(), 1);
    EXPECT_TRUE(detail.at(1).toObject().value("detect_result").toBool());
}

TEST_F(NetworkHub, EmptyCacheGivesEmptyDetailAndOk)
{
    runCycle({});
    const QJsonObject record = current(hub).record;
    EXPECT_EQ(record.value("detail").toArray(), QJsonArray());
    EXPECT_TRUE(record.value("detect_result").toBool());
    EXPECT_TRUE(hub->firstCycleResult.getValue());
    EXPECT_EQ(hub->alarmTime.getValue(), 0);
    hub->alarmTime.setValue(500);
    runCycle({});
    EXPECT_TRUE(hub->alarmTime.isEmpty());   // after an OK first cycle it is emptied
}

// A cycle whose NG came from a check without ROIs (or from a cycle before it) is no OK.
TEST_F(NetworkHub, ACycleDecidedNgIsRecordedNgWhateverItsRois)
{
    hub->start_PeriodRecord();
    hub->finish_PeriodRecord(true);
    EXPECT_FALSE(current(hub).record.value("detect_result").toBool());
    hub->start_PeriodRecord();
    hub->finish_PeriodRecord(false);
    EXPECT_TRUE(current(hub).record.value("detect_result").toBool());
}

TEST_F(NetworkHub, BothSwitchesOffKeepRecordAndCacheEmpty)
{
    configure(false, false);
    hub->start_PeriodRecord();
    hub->insertRoiResult(roi(0, 0, 0, 0));
    hub->finish_PeriodRecord();
    hub->add_PeriodRecord_Picture(0, 0, false, "./alarmimage/x.jpg", "V18#dev1@1");
    EXPECT_TRUE(hub->lastDetectInfo.isEmpty());
    EXPECT_TRUE(hub->roiResultCache.isEmpty());
}

TEST_F(NetworkHub, PicturesAreRecordedOnceDecidedAndOnePerKey)
{
    hub->start_PeriodRecord();
    const QString id = hub->currentCycleId();
    hub->add_PeriodRecord_Picture(0, 1, false, "./alarmimage/early.jpg", id);
    EXPECT_TRUE(current(hub).pictures.isEmpty()) << "held until the decision";
    hub->finish_PeriodRecord();
    hub->add_PeriodRecord_Picture(0, 1, true, "./alarmimage/a.jpg", id);
    hub->add_PeriodRecord_Picture(0, 1, true, "./alarmimage/b.jpg", id);
    hub->add_PeriodRecord_Picture(1, 0, false, "./alarmimage/c.jpg", id);
    const auto pictures = current(hub).pictures;
    EXPECT_EQ(pictures.size(), 3);
    EXPECT_EQ(pictures.value("0;1;0"), QString("./alarmimage/early.jpg"));
    EXPECT_EQ(pictures.value("0;1;1"), QString("./alarmimage/b.jpg"));
    EXPECT_EQ(pictures.value("1;0;0"), QString("./alarmimage/c.jpg"));

    hub->clear_PeriodRecord();
    EXPECT_TRUE(hub->lastDetectInfo.isEmpty());
    hub->finish_PeriodRecord();   // out of order: nothing happens
    hub->add_PeriodRecord_Picture(0, 0, true, "./x.jpg", id);
    EXPECT_TRUE(hub->lastDetectInfo.isEmpty());
}

// A picture being added from the writer's thread while new cycles start must never
// carry an earlier cycle back into the current one; an API reader meanwhile always finds a
// cycle (a new cycle replaces the last one in one step, never leaving none between).
TEST_F(NetworkHub, PictureWriterNeverStoresAnOldCycleBackAndReadersAlwaysFindACycle)
{
    configure(false, true);   // recorded, not pushed
    hub->start_PeriodRecord();
    std::atomic<bool> stop{false};
    std::atomic<int> foundNone{0};
    QThread* writer = QThread::create([&] {
        while (!stop) {
            hub->add_PeriodRecord_Picture(0, 0, false, "./alarmimage/w.jpg", hub->currentCycleId());
            QThread::yieldCurrentThread();
        }
    });
    QThread* reader = QThread::create([&] {
        VEK_NETMN::sAPI_LastDetect_Info info;
        while (!stop)
            foundNone += hub->lastDetectInfo.tryGetValue(info) ? 0 : 1;
    });
    writer->start();
    reader->start();
    for (int i = 0; i < 200; ++i) {
        Clock::setFixed(QDateTime::fromMSecsSinceEpoch(1700000000000LL + i));
        hub->start_PeriodRecord();
        const auto started = current(hub);
        EXPECT_TRUE(started.pictures.isEmpty());
        EXPECT_TRUE(started.record.isEmpty());
        hub->finish_PeriodRecord();
        QThread::usleep(50);
        EXPECT_EQ(current(hub).id, started.id);
    }
    for (int i = 0; i < 20000; ++i)
        hub->start_PeriodRecord();
    stop = true;
    writer->wait();
    reader->wait();
    delete writer;
    delete reader;
    EXPECT_EQ(foundNone, 0);
}

TEST_F(NetworkHub, FirstCycleResultAndAlarmTime)
{
    runCycle({{0, 0, 0, 0}});
    EXPECT_FALSE(hub->firstCycleResult.getValue());
    EXPECT_EQ(hub->alarmTime.getValue(), 0);
    hub->alarmTime.setValue(900);
    runCycle({{0, 0, 0, 1}});
    EXPECT_FALSE(hub->firstCycleResult.getValue());   // never replaced
    EXPECT_EQ(hub->alarmTime.getValue(), 0);
}

TEST_F(NetworkHub, WorkspaceDefaultAndTrailingSlash)
{
    configure(true);
    EXPECT_EQ(hub->workspace(), QString("./cnt_net/workspace/"));
    EXPECT_TRUE(QDir("cnt_net/workspace").exists());

    configure(true, false, QJsonObject{{"workspace", "./spaces/ws"}});
    EXPECT_EQ(hub->workspace(), QString("./spaces/ws/"));
    EXPECT_TRUE(QDir("spaces/ws").exists());
    // The subscriber file lands inside the folder, not beside it as "wssubscriber.ini".
    post("subscriber_baseinfo",
         R"({"subscriber":[{"subscriber_ip":"127.0.0.1","subscriber_port":9,"subscriber_topic":"detected_info"}]})");
    EXPECT_TRUE(QFile::exists("spaces/ws/subscriber.ini"));
    EXPECT_FALSE(QFile::exists("spaces/wssubscriber.ini"));

    // An empty workspace is the working folder, never the root.
    configure(true, false, QJsonObject{{"workspace", ""}});
    EXPECT_EQ(hub->workspace(), QString("./"));
}

TEST_F(NetworkHub, SettingsFileReadingAndMissingFile)
{
    configure(true, true, QJsonObject{{"serverport", "10432"}});
    EXPECT_TRUE(hub->isNetWorking());
    EXPECT_EQ(VEK_NETMN::getConfigValue("serverport"), QVariant("10432"));
    EXPECT_FALSE(VEK_NETMN::getConfigValue("nothing").isValid());

    // Malformed settings: defaults.
    ASSERT_TRUE(appDir.writeFile("cnt_net/config.json", "{not json"));
    hub->initStart();
    EXPECT_FALSE(hub->isApiWorking());
    EXPECT_FALSE(hub->isNetWorking());
    EXPECT_EQ(hub->deviceName(), QString());

    // Missing settings: nothing changes.
    configure(true);
    runCycle({});
    QFile::remove("cnt_net/config.json");
    hub->initStart();
    EXPECT_TRUE(hub->isApiWorking());
    EXPECT_FALSE(hub->lastDetectInfo.isEmpty());
    EXPECT_FALSE(VEK_NETMN::getConfigValue("devicename").isValid());
}

TEST_F(NetworkHub, ServerTimeIsAppliedThroughDateAndHwclock)
{
    GroupProcess server;
    server.start("python3", {"-c", R"(
import http.server, json
class H(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        body = json.dumps({'code': 0, 'result': {'time': 1700000000000}}).encode() if self.path == '/monitor17/api/time' else b'{}'
        self.send_response(200); self.send_header('Content-Length', str(len(body))); self.end_headers(); self.wfile.write(body)
    def log_message(self, *a): pass
s = http.server.HTTPServer(('127.0.0.1', 0), H)
print(s.server_address[1], flush=True)
s.serve_forever()
)"});
    ASSERT_TRUE(waitUntil([&] { return server.canReadLine(); }, 10000));
    const QString port = QString::fromLatin1(server.readLine().trimmed());
    FakeShellRunner shell;
    configure(true, true, QJsonObject{{"serveraddr", "127.0.0.1"}, {"serverport", port}});
    shell.clear();   // the companion's start
    hub->getNTP_Timing_sync();
    const QString expected = QDateTime::fromMSecsSinceEpoch(1700000000000LL).toString("yyyyMMdd hh:mm:ss");
    EXPECT_EQ(shell.lines(), (QStringList{"date -s " + expected, "hwclock --systohc"}));

    // A port given as a number is not used.
    configure(true, true, QJsonObject{{"serveraddr", "127.0.0.1"}, {"serverport", port.toInt()}});
    shell.clear();
    hub->getNTP_Timing_sync();
    EXPECT_TRUE(shell.calls().isEmpty());
    server.endGroup();
}

// The program ends the hub before the application: its network threads must go
// with it, or they run on into the end of the process. Threads are told apart by
// id: one that has been joined leaves the task list only a moment later.
TEST_F(NetworkHub, EndingTheHubEndsItsNetworkThreads)
{
    auto threads = [] { return QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot); };
    VEK_NETMN::endInstance();
    const QStringList before = threads();
    auto started = [&] {
        int count = 0;
        for (const QString& id : threads())
            count += before.contains(id) ? 0 : 1;
        return count;
    };
    takeHub();
    configure(true);
    ASSERT_TRUE(waitUntil([&] { return started() >= HttpApiServer::kReactorThreads; }));
    VEK_NETMN::endInstance();
    EXPECT_TRUE(waitUntil([&] { return started() == 0; }, 2000)) << started() << " threads left";
    takeHub();   // for the fixture's own ending
}

TEST_F(NetworkHub, RoiResultsAreKeyedByCameraGroupAndRoi)
{
    hub->insertRoiResult(roi(2, 7, 15, 1, 10));
    hub->insertRoiResult(roi(2, 7, 15, 0, 20));
    ASSERT_EQ(hub->roiResultCache.size(), 1);
    EXPECT_EQ(hub->roiResultCache.firstKey(), QString("2;7;15"));
    EXPECT_EQ(hub->roiResultCache.first().value, 20);
}
