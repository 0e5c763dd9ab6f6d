// The HTTP API while the detection cycle runs: wrk (keep-alive, 1 and 16
// connections) against "get_product_infos" and "get_last_detectinfo" of the real
// hub, beside a bare route served the same way (mode 4, GUI thread), with a 100 ms
// cycle timer in the GUI thread that feeds the hub (64 ROI results per cycle) and
// whose lateness is measured meanwhile. Then the count route over 31 and 366
// archived days beside the query called directly.
// Needs wrk (apt-get install wrk); loopback only; stops by itself.

#include "barejsonservice.h"
#include "globals.h"
#include "httpapiserver.h"
#include "mainwindowbase.h"
#include "resstatisticsdatabase.h"
#include "resstatisticsparam.h"
#include "shellrunner.h"
#include "tcpservreactor.h"
#include "vek_netmn.h"
#include "wrkrun.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

namespace {

constexpr int kWrkSeconds = 5;
constexpr int kCycleMs = 100;
constexpr int kRoisPerCamera = 8;
constexpr int kCountRounds = 10;
const QDate kLastDay(2026, 12, 6);
using benchservice::kBareRoute;
using BareService = benchservice::BareJsonService;

// The detection cycle's share of the GUI thread: feeds the hub every 100 ms and
// records how late each tick came.
class CycleLoad : public QObject
{
public:
    CycleLoad()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this, [this] { tick(); });
    }
    void start()
    {
        m_late.clear();
        m_previous = -1;
        m_clock.start();
        m_timer.start(kCycleMs);
    }
    void stop() { m_timer.stop(); }
    // p50, p99 and max of |interval - 100 ms| between ticks, in ms.
    std::vector<double> lateness() const
    {
        std::vector<double> v = m_late;
        if (v.empty())
            return {0, 0, 0};
        std::sort(v.begin(), v.end());
        return {v[v.size() / 2], v[std::min(v.size() - 1, v.size() * 99 / 100)], v.back()};
    }

private:
    void tick()
    {
        const double now = m_clock.nsecsElapsed() / 1e6;
        if (m_previous >= 0)
            m_late.push_back(std::abs(now - m_previous - kCycleMs));
        m_previous = now;
        VEK_NETMN* hub = VEK_NETMN::getInstance();
        hub->start_PeriodRecord();
        for (int c = 0; c < numCamera; ++c)
            for (int r = 0; r < kRoisPerCamera; ++r)
                hub->insertRoiResult(param_roi{c, 0, r, 4, 100 + r, 0x1020, 0x0304, 0x0506, (c + r) % 7 ? 1 : 0});
        hub->finish_PeriodRecord();
    }

    QTimer m_timer;
    QElapsedTimer m_clock;
    double m_previous = -1;
    std::vector<double> m_late;
};

// Runs work on a thread of its own while this (GUI) thread keeps serving events.
void whileServing(const std::function<void()>& work)
{
    QEventLoop loop;
    std::thread worker([&] {
        work();
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
}

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
    QLoggingCategory::setFilterRules("*.info=false\n*.debug=false\n*.warning=false");
    if (!runProgram("wrk", {"--version"}, 5000).started) {
        std::fprintf(stderr, "netservices_bench needs wrk: apt-get install wrk\n");
        return 2;
    }

    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
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

    CycleLoad cycle;
    cycle.start();
    whileServing([] { QThread::msleep(2000); });
    const std::vector<double> idle = cycle.lateness();
    std::printf("cycle timer alone: interval off by p50 %.2f ms, p99 %.2f ms, max %.2f ms\n\n", idle[0], idle[1], idle[2]);

    std::printf("%-34s %10s %9s %9s %8s %22s\n", "route (cycle running)", "req/s", "p50", "p99", "503",
                "cycle off p50/p99/max");
    const struct { const char* label; quint16 port; const char* path; } cases[] = {
        {"bare route", barePort, kBareRoute},
        {"get_product_infos", apiPort, "/v18/http/get_product_infos"},
        {"get_last_detectinfo", apiPort, "/v18/http/get_last_detectinfo"},
    };
    for (const int connections : {1, 16}) {
        for (const auto& c : cases) {
            const QString url = QStringLiteral("http://127.0.0.1:%1%2").arg(c.port).arg(c.path);
            wrkrun::Figures f;
            cycle.start();
            whileServing([&] { f = wrkrun::run(url, connections, kWrkSeconds); });
            const std::vector<double> late = cycle.lateness();
            std::printf("%-34s %10.0f %7.2fms %7.2fms %7.1f%% %8.2f/%.2f/%.2f ms\n",
                        qPrintable(QStringLiteral("%1, %2 conn").arg(c.label).arg(connections)), f.rps, f.p50ms,
                        f.p99ms, f.errorShare * 100, late[0], late[1], late[2]);
        }
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
    gpWin = nullptr;
    return 0;
}
