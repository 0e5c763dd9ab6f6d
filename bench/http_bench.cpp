// HTTP layer speed beside a reference server in the same run: wrk (keep-alive,
// 1 and 16 connections) against a service with one small JSON route and against
// nginx serving the same bytes as a static file on another loopback port, in
// interleaved rounds (medians), with the program's own logging (every request's
// line, buffered as the program does) and 503 answers counted apart from the
// requests served; then an 8 MiB file body streamed by both, with the resident
// memory of this process. Needs wrk and nginx (apt-get install wrk nginx);
// loopback only; stops nginx by itself.

#include "barejsonservice.h"
#include "logmanager.h"
#include "nginxref.h"
#include "shellrunner.h"
#include "tcpservreactor.h"
#include "whileserving.h"
#include "wrkrun.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <functional>

namespace {

constexpr int kWrkSeconds = 3;
constexpr int kRounds = 5;
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

} // namespace

int main(int argc, char** argv)
{
    // Same zone, but glibc then stops re-reading the zone file on every local-time stamp.
    if (qEnvironmentVariableIsEmpty("TZ"))
        qputenv("TZ", ":/etc/localtime");
    QCoreApplication app(argc, argv);
    if (!runProgram("wrk", {"--version"}, 5000).started || !NginxReference::available()) {
        std::fprintf(stderr, "http_bench needs wrk and nginx: apt-get install wrk nginx\n");
        return 2;
    }

    // The program's logging, in a folder of its own.
    QTemporaryDir appDir;
    QDir::setCurrent(appDir.path());
    LogManager logging;
    LogManager::__instance = &logging;

    NginxReference nginx;
    const QByteArray body = R"({"code":0,"msg":"OK","result":{"ok":true}})";
    QByteArray chunk(1 << 20, 'z');
    QByteArray big;
    for (int i = 0; i < kFileBytes / chunk.size(); ++i)
        big += chunk;
    QString error;
    if (!nginx.addFile(kRoute, body) || !nginx.addFile("/file", big) || !nginx.start(error)) {
        std::fprintf(stderr, "nginx did not start: %s\n", qPrintable(error));
        return 2;
    }
    big.clear();

    // The service: reactor thread plus its own handler thread (mode 4, as the HTTP API runs).
    QThread serviceThread;
    QObject context;
    context.moveToThread(&serviceThread);
    serviceThread.start();
    BenchService* service = nullptr;
    quint16 port = 0;
    QMetaObject::invokeMethod(&context, [&] {
        service = new BenchService;
        service->filePath = nginx.fileOf("/file");
        service->startReactor(QHostAddress::LocalHost, 0, 4);
        port = static_cast<VEKC::TcpServReactor*>(service->reactor().data())->serverPort();
    }, Qt::BlockingQueuedConnection);

    std::printf("%d rounds of %d s, interleaved; req/s counts 2xx answers only (median, min-max)\n", kRounds,
                kWrkSeconds);
    std::printf("%-22s %24s %24s %7s %9s %9s %8s\n", "case", "ours req/s", "nginx req/s", "ratio", "ours p99",
                "nginx p99", "ours 503");
    const QStringList urls = {QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(kRoute),
                              QStringLiteral("http://127.0.0.1:%1%2").arg(nginx.port()).arg(kRoute)};
    for (const int connections : {1, 16}) {
        const std::vector<wrkrun::Series> s = wrkrun::measure(urls, connections, kWrkSeconds, kRounds, whileServing);
        const wrkrun::Series& ours = s[0];
        const wrkrun::Series& ref = s[1];
        std::printf("%-22s %8.0f (%6.0f-%6.0f) %8.0f (%6.0f-%6.0f) %7.2f %7.2fms %7.2fms %7.1f%%\n",
                    qPrintable(QStringLiteral("small JSON, %1 conn").arg(connections)), ours.medianRps(),
                    ours.minRps(), ours.maxRps(), ref.medianRps(), ref.minRps(), ref.maxRps(),
                    ref.medianRps() > 0 ? ours.medianRps() / ref.medianRps() : 0.0, ours.medianP99(),
                    ref.medianP99(), ours.errors * 100);
    }

    const qint64 rssBefore = residentKiB();
    const double oursMBs = streamFile(port, "/file");
    const qint64 rssAfter = residentKiB();
    const double refMBs = streamFile(nginx.port(), "/file");
    std::printf("%-22s %8.0fMB/s %8.0fMB/s %8.2f   resident %lld -> %lld KiB over %d x 8 MiB\n",
                "8 MiB file body", oursMBs, refMBs, refMBs > 0 ? oursMBs / refMBs : 0.0, rssBefore, rssAfter,
                kFileRounds);

    QMetaObject::invokeMethod(&context, [&] { delete service; }, Qt::BlockingQueuedConnection);
    serviceThread.quit();
    serviceThread.wait();
    LogManager::flush();
    QDir::setCurrent(QDir::tempPath());
    return 0;
}
