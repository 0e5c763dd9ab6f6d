#include "apitestkit.h"
#include "clock.h"
#include "fakeshellrunner.h"
#include "globals.h"
#include "httpapiserver.h"
#include "vek_netmn.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include "groupprocess.h"
#include <gtest/gtest.h>

namespace {

QSet<QString> keySet(const QJsonObject& o)
{
    const QStringList keys = o.keys();
    return QSet<QString>(keys.begin(), keys.end());
}

QByteArray bareReply(const char* msg)
{
    return QByteArray(R"({"code":0,"msg":")") + msg + R"(","result":{}})";
}

} // namespace

using ApiRoutes = ApiTest;

TEST_F(ApiRoutes, SwitchOffAnswers403OnEveryRouteAndUnknownUrl404)
{
    configure(false);
    for (const char* route : {"get_product_infos", "production_count_bytime", "get_last_detectinfo",
                              "get_detected_picture", "get_records", "set_clear_curcount", "set_localclock",
                              "subscriber_baseinfo"}) {
        const HttpReply r = post(route);
        EXPECT_EQ(r.statusLine, QByteArray("HTTP/1.1 403 Forbidden")) << route;
        EXPECT_EQ(r.body, bareReply("未启用API服务")) << route;
    }
    gAllNum[0] = 5;
    post("set_clear_curcount");
    EXPECT_EQ(gAllNum[0], 5);
    EXPECT_TRUE(window->inserted.isEmpty());

    const HttpReply missing = post("no_such_route");
    EXPECT_EQ(missing.statusLine, QByteArray("HTTP/1.1 404 Not Found"));
    EXPECT_EQ(missing.body, QByteArray(R"({"code":-1,"msg":"no found url","result":{}})"));
}

TEST_F(ApiRoutes, ProductInfos)
{
    numCamera = 3;
    gAllNum[0] = 10; gAllNum[1] = 20; gAllNum[2] = 30; gAllNum[3] = 99;
    gFailNum[0] = 1; gFailNum[2] = 3;
    gAllCycleNum[1] = 7; gAllCycleNum[5] = 12;
    gSyncNGCycleNum = 4;
    window->runState = 1;
    window->resultState = 2;
    window->curDetectIndex = 1;
    hub->apiServer()->publishSnapshot();   // as after a cycle

    const HttpReply r = post("get_product_infos", "");
    EXPECT_EQ(r.statusLine, QByteArray("HTTP/1.1 200 OK"));
    EXPECT_EQ(r.headers.value("access-control-allow-origin"), QByteArray("*"));
    EXPECT_EQ(r.headers.value("device-id"), QByteArray("SN-TEST-1"));
    const QJsonObject res = r.result();
    EXPECT_EQ(keySet(res), (QSet<QString>{"camera_count", "device_sn", "device_id", "run_status", "detect_status",
                                          "detect_all", "detect_ng", "detect_all_detail", "detect_ng_detail"}));
    EXPECT_EQ(res.value("camera_count").toInt(), 3);
    EXPECT_EQ(res.value("device_id").toString(), QString("dev1"));
    EXPECT_EQ(res.value("run_status").toInt(), 1);
    EXPECT_EQ(res.value("detect_status").toInt(), 2);
    EXPECT_EQ(res.value("detect_all").toInt(), 12);
    EXPECT_EQ(res.value("detect_ng").toInt(), 4);
    EXPECT_EQ(res.value("detect_all_detail").toArray(), (QJsonArray{10, 20, 30}));
    EXPECT_EQ(res.value("detect_ng_detail").toArray(), (QJsonArray{1, 0, 3}));

    window->runState = 3;
    window->curDetectIndex = 0;
    numCamera = 0;
    hub->apiServer()->publishSnapshot();
    const QJsonObject stopped = post("get_product_infos").result();
    EXPECT_EQ(stopped.value("run_status").toInt(), 0);
    EXPECT_EQ(stopped.value("detect_status").toInt(), 1);
    EXPECT_EQ(stopped.value("detect_all_detail").toArray(), QJsonArray());
    window->resultState = 1;
    hub->apiServer()->publishSnapshot();
    EXPECT_EQ(post("get_product_infos").result().value("detect_status").toInt(), 0);
}

TEST_F(ApiRoutes, LastDetectInfoBeforeAndAfterACycle)
{
    const HttpReply before = post("get_last_detectinfo");
    EXPECT_EQ(before.statusLine, QByteArray("HTTP/1.1 403 Forbidden"));
    EXPECT_EQ(before.body, bareReply("获取列表为空，需要先检测后获取信息。"));

    hub->start_PeriodRecord();
    EXPECT_EQ(post("get_last_detectinfo").result(), (QJsonObject{{"pictures", QJsonArray()}}));   // not decided yet

    hub->insertRoiResult(param_roi{0, 0, 1, 2, 50, 0, 0, 0, 0});
    hub->finish_PeriodRecord();
    hub->add_PeriodRecord_Picture(0, 0, false, "./alarmimage/camera1/detect1/NG/p1.jpg", hub->currentCycleId());
    hub->add_PeriodRecord_Picture(1, 1, true, "./alarmimage/camera2/detect2/OK/p2.jpg", hub->currentCycleId());
    const QJsonObject res = post("get_last_detectinfo").result();
    EXPECT_EQ(keySet(res), (QSet<QString>{"device_id", "device_sn", "curProjectName", "detail", "detect_result",
                                          "starttime", "finishtime", "uuid", "pictures"}));
    EXPECT_FALSE(res.value("detect_result").toBool());
    EXPECT_EQ(res.value("pictures").toArray(),
              (QJsonArray{QJsonObject{{"camera_index", 0}, {"detect_index", 0}, {"detect_result", false},
                                      {"picture_name", "p1.jpg"}},
                          QJsonObject{{"camera_index", 1}, {"detect_index", 1}, {"detect_result", true},
                                      {"picture_name", "p2.jpg"}}}));
}

TEST_F(ApiRoutes, DetectedPictureIsSentAsFileBody)
{
    const QByteArray jpeg = QByteArrayLiteral("\xff\xd8\xff\xe0 picture bytes \x00\x01\x02\xff\xd9");
    ASSERT_TRUE(appDir.writeFile("alarmimage/camera2/detect1/NG/2026-12-07_08.00.00.jpg", jpeg));
    const HttpReply r = post("get_detected_picture",
                             R"({"camera_index":1,"detect_index":0,"detect_result":false,)"
                             R"("picture_name":"2026-12-07_08.00.00.jpg"})");
    EXPECT_EQ(r.statusLine, QByteArray("HTTP/1.1 200 OK"));
    EXPECT_EQ(r.headers.value("content-type"), QByteArray("image/jpeg"));
    EXPECT_EQ(r.body, jpeg);

    // The same name under OK (detect_result absent means NG... here true) is not there.
    const QJsonObject missing = post("get_detected_picture",
                                     R"({"camera_index":1,"detect_index":0,"detect_result":true,)"
                                     R"("picture_name":"2026-12-07_08.00.00.jpg"})").result();
    EXPECT_EQ(missing, (QJsonObject{{"errorstring", "未查询到图片"}}));
}

TEST_F(ApiRoutes, DetectedPictureRefusesBadIndexesAndPathsOutsideTheFolder)
{
    const QJsonObject badParam{{"errorstring", "参数错误"}};
    EXPECT_EQ(post("get_detected_picture", R"({"camera_index":2,"detect_index":0,"picture_name":"a.jpg"})").result(),
              badParam);   // camera_index == numCamera
    EXPECT_EQ(post("get_detected_picture", R"({"camera_index":0,"detect_index":2,"picture_name":"a.jpg"})").result(),
              badParam);   // detect_index == gDNum
    EXPECT_EQ(post("get_detected_picture", R"({"detect_index":0,"picture_name":"a.jpg"})").result(), badParam);
    EXPECT_EQ(post("get_detected_picture", R"({"camera_index":"0","detect_index":0})").result(), badParam);

    ASSERT_TRUE(appDir.writeFile("secret.txt", "not a picture"));
    ASSERT_TRUE(appDir.writeFile("alarmimage/camera1/detect1/NG/real.jpg", "jpg"));
    ASSERT_TRUE(QFile::link(appDir.filePath("secret.txt"), appDir.filePath("alarmimage/camera1/detect1/NG/link.jpg")));
    const QJsonObject none{{"errorstring", "未查询到图片"}};
    for (const char* name : {"../../../../secret.txt", "/etc/hostname", "..", ".", "", "link.jpg",
                             "..\\..\\secret.txt", "sub/real.jpg"}) {
        const QByteArray body = QJsonDocument(QJsonObject{{"camera_index", 0}, {"detect_index", 0},
                                                          {"picture_name", name}})
                                    .toJson(QJsonDocument::Compact);
        const HttpReply r = post("get_detected_picture", body);
        EXPECT_EQ(r.result(), none) << name;
        EXPECT_FALSE(r.body.contains("not a picture")) << name;
    }
}

TEST_F(ApiRoutes, ClearCountZeroesCountersSavesAndRecords)
{
    for (int i = 0; i < kMaxCameras; ++i)
        gAllNum[i] = gFailNum[i] = gAllCycleNum[i] = gFailCycleNum[i] = i + 1;
    gSyncNGNum = gSyncNGCycleNum = 9;
    const HttpReply r = post("set_clear_curcount");
    EXPECT_EQ(r.statusLine, QByteArray("HTTP/1.1 200 OK"));
    EXPECT_EQ(r.body, bareReply("OK"));
    for (int i = 0; i < kMaxCameras; ++i) {
        EXPECT_EQ(gAllNum[i] + gFailNum[i] + gAllCycleNum[i] + gFailCycleNum[i], 0) << i;
    }
    EXPECT_EQ(gSyncNGNum + gSyncNGCycleNum, 0);
    EXPECT_EQ(window->countWrites, 1);
    ASSERT_EQ(window->inserted.size(), 1);
    EXPECT_EQ(window->inserted.first(), (QStringList{"API: 清除计数", "API"}));
}

TEST_F(ApiRoutes, LocalClockIsSetOnlyFromAnExactTimeAndOnlyReportedWhenSet)
{
    FakeShellRunner shell;
    const HttpReply ok = post("set_localclock", R"({"datetime":"2026-02-03 04:05:06"})");
    EXPECT_EQ(ok.result(), (QJsonObject{{"result", "success"}}));
    EXPECT_EQ(shell.lines(), (QStringList{"date -s 2026-02-03 04:05:06", "hwclock --systohc"}));
    ASSERT_EQ(shell.calls().first().args, (QStringList{"-s", "2026-02-03 04:05:06"}));
    ASSERT_EQ(window->inserted.size(), 1);
    EXPECT_EQ(window->inserted.first(), (QStringList{"API: 修改系统时间,2026-02-03 04:05:06", "API"}));

    shell.clear();
    for (const char* bad : {R"({"datetime":"2026-02-30 04:05:06"})", R"({"datetime":"2026-2-03 04:05:06"})",
                            R"({"datetime":"2026-02-03 04:05"})", R"({"datetime":20260203})", R"({})",
                            R"({"datetime":"2026-02-03 04:05:06; reboot"})"}) {
        EXPECT_EQ(post("set_localclock", bad).result(), (QJsonObject{{"result", "时间格式错误"}})) << bad;
    }
    EXPECT_TRUE(shell.calls().isEmpty());

    // A failing "date": no success, no record, no hwclock.
    shell.setOutput("date", "", 1);
    const QJsonObject failed = post("set_localclock", R"({"datetime":"2026-02-03 04:05:06"})").result();
    EXPECT_NE(failed.value("result").toString(), QString("success"));
    EXPECT_EQ(shell.lines(), QStringList{"date -s 2026-02-03 04:05:06"});
    EXPECT_EQ(window->inserted.size(), 1);
}

namespace {
// While "date" runs (the GUI thread inside the handler), a second request for the same URL.
class BusyShell : public FakeShellRunner
{
public:
    QString url;
    ClientResult second;
    ShellResult run(const QString& program, const QStringList& args, int timeoutMs, const QByteArray& in) override
    {
        if (program == "date" && url.size()) {
            const QString target = url;
            url.clear();
            GroupProcess curl;
            curl.start("curl", {"-s", "-i", "--max-time", "10", "-H", "Content-Type: application/json",
                                "--data-binary", R"({"datetime":"2026-02-03 04:05:06"})", target});
            curl.waitForFinished(15000);
            second.finished = true;
            second.out = curl.readAllStandardOutput();
        }
        return FakeShellRunner::run(program, args, timeoutMs, in);
    }
};
} // namespace

TEST_F(ApiRoutes, SameUrlWhileBusyIs503)
{
    BusyShell shell;
    shell.url = url("set_localclock");
    const HttpReply first = post("set_localclock", R"({"datetime":"2026-02-03 04:05:06"})");
    EXPECT_EQ(first.result(), (QJsonObject{{"result", "success"}}));
    ASSERT_TRUE(shell.second.finished);
    const HttpReply second = parseCurl(shell.second.out);
    EXPECT_EQ(second.statusLine, QByteArray("HTTP/1.1 503 Service Unavailable"));
    EXPECT_EQ(second.body, QByteArray(R"({"code":-1,"msg":"服务器忙碌中","result":{}})"));
    EXPECT_EQ(window->inserted.size(), 1);
}

TEST_F(ApiRoutes, CountByTimeAnswersAtOnceForBadTimes)
{
    const QJsonObject error{{"errorstring", "错误的时间格式"}};
    for (const char* bad : {R"({"starttime":20261207,"finishtime":"2026-12-07 10:00:00"})",
                            R"({"finishtime":"2026-12-07 10:00:00"})",
                            R"({"starttime":"2026-12-07 08:00:00","finishtime":null})",
                            R"({"starttime":"yesterday","finishtime":"2026-12-07 10:00:00"})",
                            R"({"starttime":"2026-12-07 08:00:00","finishtime":"2026-12-07 25:00:00"})"}) {
        const HttpReply r = post("production_count_bytime", bad);
        EXPECT_EQ(r.statusLine, QByteArray("HTTP/1.1 200 OK")) << bad;
        EXPECT_EQ(r.result(), error) << bad;
    }
}

TEST_F(ApiRoutes, CountByTimeSeriesWithDeviceFields)
{
    Clock::setFixed(QDateTime(QDate(2026, 12, 7), QTime(12, 0)));
    const HttpReply r = post("production_count_bytime",
                             R"({"starttime":"2026-12-07 09:30:00","finishtime":"2026-12-07 11:10:00"})");
    const QJsonObject res = r.result();
    EXPECT_EQ(keySet(res), (QSet<QString>{"detect_all", "detect_all_detail", "detect_ng", "detect_ng_detail",
                                          "every_detect", "device_sn", "device_id"}));
    EXPECT_EQ(res.value("detect_all").toArray(), (QJsonArray{0, 0, 0}));   // hours 9, 10 and 11
    EXPECT_EQ(res.value("device_sn").toString(), QString("SN-TEST-1"));
    EXPECT_EQ(res.value("device_id").toString(), QString("dev1"));
}

TEST_F(ApiRoutes, PythonClientKeepsOneConnectionAcrossRoutes)
{
    const QByteArray script = R"(
import http.client, json, sys
c = http.client.HTTPConnection('127.0.0.1', int(sys.argv[1]), timeout=10)
out = []
for route, body in (('get_product_infos', {}), ('subscriber_baseinfo', {}), ('get_records', {'datetime_start': 'x'})):
    c.request('POST', '/v18/http/' + route, body=json.dumps(body), headers={'Content-Type': 'application/json'})
    r = c.getresponse()
    out.append({'status': r.status, 'body': json.loads(r.read()), 'dev': r.getheader('Device-ID')})
print(json.dumps(out))
)";
    const ClientResult r = runClient("python3", {"-c", QString::fromUtf8(script), QString::number(port)});
    ASSERT_TRUE(r.finished && r.exitCode == 0) << r.err.toStdString();
    const QJsonArray out = QJsonDocument::fromJson(r.out).array();
    ASSERT_EQ(out.size(), 3);
    for (const QJsonValue& v : out) {
        EXPECT_EQ(v.toObject().value("status").toInt(), 200);
        EXPECT_EQ(v.toObject().value("dev").toString(), QString("SN-TEST-1"));
    }
    EXPECT_EQ(out.at(0).toObject().value("body").toObject().value("result").toObject().value("camera_count").toInt(), 2);
    EXPECT_EQ(out.at(1).toObject().value("body").toObject().value("result").toObject(),
              (QJsonObject{{"subscribe_result", QJsonArray()}}));
    EXPECT_EQ(out.at(2).toObject().value("body").toObject().value("result").toObject(),
              (QJsonObject{{"errorstring", "错误的时间格式"}}));
}
