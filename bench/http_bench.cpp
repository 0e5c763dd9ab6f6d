// HTTP layer speed beside a reference server in the same run: wrk (keep-alive,
// 1 and 16 connections) against a service with one small JSON route and against
// nginx serving the same bytes as a static file on another loopback port; then an
// 8 MiB file body streamed by both, with the resident memory of this process.
// Needs wrk and nginx (apt-get install wrk nginx); loopback only; stops by itself.

#include "barejsonservice.h"
#include "shellrunner.h"
#include "tcpservreactor.h"
#include "wrkrun.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>

namespace {

constexpr int kWrkSeconds = 5;
constexpr int kFileBytes = 8 * 1024 * 1024;
constexpr int kFileRounds = 20;
const char* const kRoute = benchservice::kBareRoute;

class BenchService : public benchservice::BareJsonService
{
public:
    BenchService()
    {
        routes_.insert("/file", [this](CTask_FormData task) {
            CTask_FormData r;
            r.uuid = task.uuid;
            r.sessionId = task.sessionId;
            r.files.insert(filePath, QByteArray());
            sendAsync(r);
        });
    }
    QString filePath;
};

using WrkFigures = wrkrun::Figures;

WrkFigures runWrk(quint16 port, const QString& path, int connections)
{
    return wrkrun::run(QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path), connections, kWrkSeconds);
}

qint64 residentKiB()
{
    QFile f("/proc/self/status");
    f.open(QIODevice::ReadOnly);
    const auto m = QRegularExpression("VmRSS:\\s+(\\d+)").match(QString::fromLatin1(f.readAll()));
    return m.hasMatch() ? m.captured(1).toLongLong() : -1;
}

// Downloads the body kFileRounds times on one keep-alive connection; MB/s, 0 on failure.
double streamFile(quint16 port, const QByteArray& path)
{
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, port);
    if (!s.waitForConnected(3000))
        return 0;
    QElapsedTimer clock;
    clock.start();
    qint64 total = 0;
    for (int round = 0; round < kFileRounds; ++round) {
        s.write("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        QByteArray head;
        while (!head.contains("\r\n\r\n")) {
            if (!s.bytesAvailable() && !s.waitForReadyRead(5000))
                return 0;
            head += s.read(1);
        }
        const auto m = QRegularExpression("(?i)content-length:\\s*(\\d+)").match(QString::fromLatin1(head));
        qint64 left = m.hasMatch() ? m.captured(1).toLongLong() : 0;
        if (left != kFileBytes)
            return 0;
        while (left > 0) {
            if (!s.bytesAvailable() && !s.waitForReadyRead(5000))
                return 0;
            left -= s.read(qMin<qint64>(left, 1 << 20)).size();
        }
        total += kFileBytes;
    }
    return total / 1e6 / (clock.nsecsElapsed() / 1e9);
}

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace

int main(int argc, char** argv)
{
    // Same zone, but glibc then stops re-reading the zone file on every local-time stamp.
    if (qEnvironmentVariableIsEmpty("TZ"))
        qputenv("TZ", ":/etc/localtime");
    QCoreApplication app(argc, argv);
    // The service's per-request info lines would drown the figures.
    QLoggingCategory::setFilterRules("*.info=false\n*.debug=false");
    if (!runProgram("wrk", {"--version"}, 5000).started || !QFile::exists("/usr/sbin/nginx")) {
        std::fprintf(stderr, "http_bench needs wrk and nginx: apt-get install wrk nginx\n");
        return 2;
    }

    QTemporaryDir dir;
    // nginx workers run as an unprivileged user: the folder must be readable to them.
    QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                          | QFileDevice::ReadGroup | QFileDevice::ExeGroup
                                          | QFileDevice::ReadOther | QFileDevice::ExeOther);
    const QByteArray body = R"({"code":0,"msg":"OK","result":{"ok":true}})";
    QDir(dir.path()).mkpath("www/v18/http");
    QFile json(dir.filePath("www/v18/http/bench"));
    json.open(QIODevice::WriteOnly);
    json.write(body);
    json.close();
    QFile big(dir.filePath("www/file"));
    big.open(QIODevice::WriteOnly);
    const QByteArray chunk(1 << 20, 'z');
    for (int i = 0; i < kFileBytes / chunk.size(); ++i)
        big.write(chunk);
    big.close();

    // The service: reactor thread plus its own handler thread (mode 4, as the HTTP API runs).
    QThread serviceThread;
    QObject context;
    context.moveToThread(&serviceThread);
    serviceThread.start();
    BenchService* service = nullptr;
    quint16 port = 0;
    QMetaObject::invokeMethod(&context, [&] {
        service = new BenchService;
        service->filePath = dir.filePath("www/file");
        service->startReactor(QHostAddress::LocalHost, 0, 4);
        port = static_cast<VEKC::TcpServReactor*>(service->reactor().data())->serverPort();
    }, Qt::BlockingQueuedConnection);

    // The reference: nginx, one worker, static file of the same body.
    const quint16 nginxPort = freePort();
    const QString conf = dir.filePath("nginx.conf");
    QFile c(conf);
    c.open(QIODevice::WriteOnly);
    c.write(QStringLiteral(
                "worker_processes 1;\npid %1/nginx.pid;\nerror_log %1/error.log;\ndaemon on;\n"
                "events { worker_connections 256; }\n"
                "http { access_log off; default_type application/json; keepalive_requests 1000000;\n"
                "  client_body_temp_path %1/tmp; proxy_temp_path %1/tmp; fastcgi_temp_path %1/tmp;\n"
                "  uwsgi_temp_path %1/tmp; scgi_temp_path %1/tmp;\n"
                "  server { listen 127.0.0.1:%2; root %1/www; } }\n")
                .arg(dir.path())
                .arg(nginxPort)
                .toUtf8());
    c.close();
    const QStringList nginxArgs = {"-p", dir.path(), "-e", dir.filePath("error.log"), "-c", conf};
    const ShellResult started = runProgram("/usr/sbin/nginx", nginxArgs, 10000);
    if (!started.ok()) {
        std::fprintf(stderr, "nginx did not start: %s\n", started.stdErr.constData());
        return 2;
    }

    std::printf("%-28s %12s %12s %8s %10s %10s %10s\n", "case", "ours req/s", "nginx req/s", "ratio", "ours p99",
                "nginx p99", "ours 503");
    for (const int connections : {1, 16}) {
        runWrk(port, kRoute, connections);   // warm-up of both, not counted
        const WrkFigures ours = runWrk(port, kRoute, connections);
        const WrkFigures ref = runWrk(nginxPort, kRoute, connections);
        std::printf("%-28s %12.0f %12.0f %8.2f %8.2fms %8.2fms %9.1f%%\n",
                    qPrintable(QStringLiteral("small JSON, %1 conn").arg(connections)), ours.rps, ref.rps,
                    ref.rps > 0 ? ours.rps / ref.rps : 0.0, ours.p99ms, ref.p99ms, ours.errorShare * 100);
    }

    const qint64 rssBefore = residentKiB();
    const double oursMBs = streamFile(port, "/file");
    const qint64 rssAfter = residentKiB();
    const double refMBs = streamFile(nginxPort, "/file");
    std::printf("%-28s %8.0fMB/s %8.0fMB/s %8.2f   resident %lld -> %lld KiB over %d x 8 MiB\n",
                "8 MiB file body", oursMBs, refMBs, refMBs > 0 ? oursMBs / refMBs : 0.0, rssBefore, rssAfter,
                kFileRounds);

    runProgram("/usr/sbin/nginx", nginxArgs + QStringList{"-s", "stop"}, 10000);
    QElapsedTimer stopping;
    stopping.start();
    while (QFile::exists(dir.filePath("nginx.pid")) && stopping.elapsed() < 5000)
        QThread::msleep(50);
    QMetaObject::invokeMethod(&context, [&] { delete service; }, Qt::BlockingQueuedConnection);
    serviceThread.quit();
    serviceThread.wait();
    return 0;
}
