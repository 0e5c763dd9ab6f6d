// The HTTP API while 8 cameras detect: wrk (keep-alive, 1 and 16 connections)
// against "get_product_infos" and "get_last_detectinfo" of the real hub, beside
// a bare route served the same way (mode 4, GUI thread) and nginx serving the
// same bytes as "get_product_infos", in interleaved rounds (medians); then the
// same with 2 and 16 clients that open a connection per request, with the
// program's own logging. A 100 ms cycle timer in the GUI thread runs, once a
// second, the engine's check of 8 cameras (a task per camera on a pool, joined
// before the verdict, the ROI results published to the hub as the program
// wires it); its lateness and the checks' time are measured meanwhile. Then
// the count route over 31 and 366 archived days beside the query called
// directly. Needs wrk and nginx (apt-get install wrk nginx); loopback only.
#include "barejsonservice.h"
#include "cameraset.h"
#include "cameraunithooks.h"
#include "globals.h"
#include "httpapiserver.h"
#include "logmanager.h"
#include "mainwindowbase.h"
#include "nginxref.h"
#include "oneshotrun.h"
#include "param_roi.h"
#include "resstatisticsdatabase.h"
#include "resstatisticsparam.h"
#include "shellrunner.h"
#include "tcpservreactor.h"
#include "vek_netmn.h"
#include "whileserving.h"
#include "wrkrun.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int kWrkSeconds = 3;
constexpr int kRounds = 3;
constexpr int kCycleMs = 100;
constexpr int kTicksPerDetection = 10;  // a detection of all cameras every second
constexpr int kCameras = 8;
constexpr int kCountRounds = 10;
const QDate kLastDay(2026, 12, 6);
using benchservice::kBareRoute;
using BareService = benchservice::BareJsonService;

// The detection cycle's share of the GUI thread: ticks every 100 ms, checks
// the 8 cameras every kTicksPerDetection ticks, and records how late each tick
// came and how long each detection's checks took.
class CycleLoad : public QObject
{
public:
    CycleLoad() : m_cameras(kCameras)
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this, [this] { tick(); });
    }
    void start()
    {
        m_late.clear();
        m_checkMs.clear();
        m_previous = -1;
        m_ticks = 0;
        m_clock.start();
        m_timer.start(kCycleMs);
    }
    void stop() { m_timer.stop(); }
    // p50, p99 and max of |interval - 100 ms| between ticks, in ms.
    std::vector<double> lateness() const { return spread(m_late); }
    // p50, p99 and max of the 8 cameras' check, trigger to join, in ms.
    std::vector<double> checkTimes() const { return spread(m_checkMs); }
    int detections() const { return int(m_checkMs.size()); }

private:
    static std::vector<double> spread(std::vector<double> v)
    {
        if (v.empty())
            return {0, 0, 0};
        std::sort(v.begin(), v.end());
        return {v[v.size() / 2], v[std::min(v.size() - 1, v.size() * 99 / 100)], v.back()};
    }

    void tick()
    {
        const double now = m_clock.nsecsElapsed() / 1e6;
        if (m_previous >= 0)
            m_late.push_back(std::abs(now - m_previous - kCycleMs));
        m_previous = now;
        if (++m_ticks % kTicksPerDetection)
            return;
        VEK_NETMN* hub = VEK_NETMN::getInstance();
        hub->start_PeriodRecord();
        QElapsedTimer check;
        check.start();
        m_cameras.runAll([this](int i) { benchcam::engineCheck(*m_cameras.cameras[size_t(i)]); });
        m_checkMs.push_back(check.nsecsElapsed() / 1e6);
        hub->finish_PeriodRecord();
    }

    CameraSet m_cameras;
    QTimer m_timer;
    QElapsedTimer m_clock;
    double m_previous = -1;
    int m_ticks = 0;
    std::vector<double> m_late;
    std::vector<double> m_checkMs;
};

void writeDays(int days)
{
    numCamera = 8;
    gDNum = 8;
    CountGroupList day;
    CountGroup group;
    ResStatisticsParam::initStuCountGroup(group, QStringLiteral("default"));
    for (int c = 0; c < group.cameras.size(); ++c)
        for (int h = 0; h < kHoursPerDay; ++h)
            group.cameras[c].cycle.OK[h] = c * 100 + h;
    day.groups.append(group);
    QDir().mkpath("ResStatistics");
    const QString first = QStringLiteral("ResStatistics/%1.db").arg(kLastDay.toString(kDayDateFormat));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "bench-days");
        db.setDatabaseName(first);
        db.open();
        QSqlQuery query(db);
        query.exec("CREATE TABLE resstatistics (name TEXT PRIMARY KEY, value1 TEXT NOT NULL, value2 TEXT NOT NULL)");
        ResStatisticsDatabase(nullptr, nullptr).saveCountFromJson(ResStatisticsParam::StuCountToJson(day), query);
    }
    QSqlDatabase::removeDatabase("bench-days");
    for (int d = 1; d <= days; ++d)
        QFile::copy(first, QStringLiteral("ResStatistics/%1.db").arg(kLastDay.addDays(-d).toString(kDayDateFormat)));
}

// POSTs the count query kCountRounds times on one connection; mean and max ms.
std::vector<double> countRoute(quint16 port, int days)
{
    const QByteArray body = QJsonDocument(QJsonObject{
        {"starttime", QDateTime(kLastDay.addDays(1 - days), QTime(8, 0)).toString("yyyy-MM-dd hh:mm:ss")},
        {"finishtime", QDateTime(kLastDay, QTime(23, 0)).toString("yyyy-MM-dd hh:mm:ss")}}).toJson(QJsonDocument::Compact);
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, port);
    if (!s.waitForConnected(3000))
        return {0, 0};
    double sum = 0, worst = 0;
    for (int round = 0; round < kCountRounds; ++round) {
        QElapsedTimer t;
        t.start();
        s.write("POST /v18/http/production_count_bytime HTTP/1.1\r\nContent-Type: application/json\r\nContent-Length: "
                + QByteArray::number(body.size()) + "\r\n\r\n" + body);
        QByteArray head;
        while (!head.contains("\r\n\r\n")) {
            if (!s.bytesAvailable() && !s.waitForReadyRead(30000))
                return {0, 0};
            head += s.read(1);
        }
        const int at = head.toLower().indexOf("content-length:");
        qint64 left = head.mid(at + 15, head.indexOf('\r', at) - at - 15).trimmed().toLongLong();
        while (left > 0) {
            if (!s.bytesAvailable() && !s.waitForReadyRead(30000))
                return {0, 0};
            left -= s.read(left).size();
        }
        const double ms = t.nsecsElapsed() / 1e6;
        sum += ms;
        worst = std::max(worst, ms);
    }
    return {sum / kCountRounds, worst};
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("TZ"))
        qputenv("TZ", ":/etc/localtime");
    QApplication app(argc, argv);
    if (!runProgram("wrk", {"--version"}, 5000).started || !NginxReference::available()) {
        std::fprintf(stderr, "netservices_bench needs wrk and nginx: apt-get install wrk nginx\n");
        return 2;
    }

    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    LogManager logging;
    LogManager::__instance = &logging;
    QDir().mkpath("cnt_net");
    QFile config("cnt_net/config.json");
    config.open(QIODevice::WriteOnly);
    config.write(R"({"devicename":"bench","device_workapifunc":true,"device_worknetfunc":false})");
    config.close();
    writeDays(366);
    gDeviceID = QStringLiteral("BENCH-SN");
    MainWindowBase window;
    gpWin = &window;

    VEK_NETMN* hub = VEK_NETMN::getInstance();
    hub->apiServer()->setListenAddress(QHostAddress::LocalHost, 0);
    hub->initStart();
    const quint16 apiPort = hub->apiServer()->serverPort();
    BareService bare;
    bare.startReactor(QHostAddress::LocalHost, 0, HttpApiServer::kApiMode);
    const quint16 barePort = static_cast<VEKC::TcpServReactor*>(bare.reactor().data())->serverPort();
    CameraUnitHooks::instance().publishRoiResult = [hub](const param_roi& r) { hub->insertRoiResult(r); };

    CycleLoad cycle;
    cycle.start();
    whileServing([] { QThread::msleep(3000); });
    const std::vector<double> idle = cycle.lateness();
    const std::vector<double> alone = cycle.checkTimes();
    std::printf("cycle alone: timer off by p50 %.2f ms, p99 %.2f ms, max %.2f ms; 8 cameras checked in p50 %.1f ms, "
                "max %.1f ms\n",
                idle[0], idle[1], idle[2], alone[0], alone[2]);

    // nginx serves what the hub answered, byte for byte.
    const QString productUrl = QStringLiteral("http://127.0.0.1:%1/v18/http/get_product_infos").arg(apiPort);
    ShellResult fetched;
    whileServing([&] { fetched = runProgram("curl", {"-s", productUrl}, 10000); });
    NginxReference nginx;
    QString error;
    if (!fetched.ok() || fetched.stdOut.isEmpty() || !nginx.addFile("/v18/http/get_product_infos", fetched.stdOut)
        || !nginx.start(error)) {
        std::fprintf(stderr, "no nginx reference: %s %s\n", fetched.stdErr.constData(), qPrintable(error));
        return 2;
    }
    std::printf("get_product_infos answer: %d bytes\n\n", int(fetched.stdOut.size()));

    std::printf("%d rounds of %d s, interleaved; medians; req/s counts 2xx answers only\n", kRounds, kWrkSeconds);
    std::printf("%-48s %10s %10s %8s %8s\n", "route (8 cameras detecting)", "req/s", "p99", "503", "vs nginx");
    const struct { const char* label; quint16 port; const char* path; } cases[] = {
        {"bare route", barePort, kBareRoute},
        {"get_product_infos", apiPort, "/v18/http/get_product_infos"},
        {"get_last_detectinfo", apiPort, "/v18/http/get_last_detectinfo"},
        {"nginx, get_product_infos bytes", nginx.port(), "/v18/http/get_product_infos"},
    };
    QStringList urls;
    for (const auto& c : cases)
        urls << QStringLiteral("http://127.0.0.1:%1%2").arg(c.port).arg(c.path);
    // One table for both kinds of client: keep-alive (wrk) and a connection per request.
    auto report = [&](const QString& kind, int connections, const std::vector<wrkrun::Series>& s,
                      const std::vector<oneshotrun::Tally>& failed) {
        const std::vector<double> late = cycle.lateness();
        const std::vector<double> checks = cycle.checkTimes();
        const double nginxRps = s.back().medianRps();
        for (size_t i = 0; i < s.size(); ++i)
            std::printf("%-48s %10.0f %8.2fms %7.1f%% %8.2f%s\n",
                        qPrintable(QStringLiteral("%1, %2 %3").arg(cases[i].label).arg(connections).arg(kind)),
                        s[i].medianRps(), s[i].medianP99(), s[i].errors * 100,
                        nginxRps > 0 ? s[i].medianRps() / nginxRps : 0.0,
                        failed.empty() ? ""
                                       : qPrintable(QStringLiteral(" %1 without reply, %2 not connected")
                                                        .arg(failed[i].noReply)
                                                        .arg(failed[i].unconnected)));
        std::printf("  meanwhile: cycle timer off by p50/p99/max %.2f/%.2f/%.2f ms; 8 cameras checked in p50 %.1f ms, "
                    "p99 %.1f ms (%d detections)\n",
                    late[0], late[1], late[2], checks[0], checks[1], cycle.detections());
    };
    for (const int connections : {1, 16}) {
        cycle.start();
        report("conn", connections, wrkrun::measure(urls, connections, kWrkSeconds, kRounds, whileServing), {});
    }
    // Plant clients that connect for every request; nginx serves its file to GET only.
    std::printf("connection per request: requests without a reply and connections not made are summed over every "
                "run, the warm-up too\n");
    for (const int clients : {2, 16}) {
        cycle.start();
        std::vector<oneshotrun::Tally> failed(size_t(urls.size()));
        const auto s = wrkrun::warmedInterleaved(urls, kRounds, [&](const QString& url) {
            const QUrl u(url);
            const bool isNginx = u.port() == nginx.port();
            oneshotrun::Tally tally;
            wrkrun::Figures f;
            whileServing([&] {
                f = oneshotrun::run(quint16(u.port()), u.path().toUtf8(), isNginx ? QByteArray() : QByteArray("{}"),
                                    clients, kWrkSeconds, &tally);
            });
            oneshotrun::Tally& sum = failed[size_t(urls.indexOf(url))];
            sum.noReply += tally.noReply;
            sum.unconnected += tally.unconnected;
            return f;
        });
        report("per request", clients, s, failed);
    }
    cycle.stop();

    std::printf("\n%-34s %12s %12s %14s\n", "count query (366 day files)", "route mean", "route max", "direct call");
    for (const int days : {31, 366}) {
        std::vector<double> route;
        whileServing([&] { route = countRoute(apiPort, days); });
        QElapsedTimer direct;
        direct.start();
        QJsonObject out;
        ResStatisticsDatabase::loadCount(QDateTime(kLastDay.addDays(1 - days), QTime(8, 0)).toString("yyyy-MM-dd hh:mm:ss"),
                                         QDateTime(kLastDay, QTime(23, 0)).toString("yyyy-MM-dd hh:mm:ss"), out,
                                         QString());
        std::printf("%-34s %10.1fms %10.1fms %12.1fms\n", qPrintable(QStringLiteral("%1 days").arg(days)), route[0],
                    route[1], direct.nsecsElapsed() / 1e6);
    }
    CameraUnitHooks::instance().publishRoiResult = nullptr;
    gpWin = nullptr;
    LogManager::flush();
    return 0;
}
