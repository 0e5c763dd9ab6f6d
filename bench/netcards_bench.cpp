// 1. Card poll with 4 cards: the GUI thread's share of one poll (launch of the
//    background "ifconfig", parsing its output, the rate step over /proc/net/dev)
//    beside the plain way of doing it on the GUI thread (QProcess "ifconfig"
//    waited for, the same parsing, QFile of /proc/net/dev). Both read the same
//    4-card texts; "ifconfig" is the host's real one in the reference.
// 2. Download of a 200 MB package (a real tar.gz) from nginx on 127.0.0.1:
//    VersionRepository, which reads the package through with "tar -tzf" before
//    keeping it, beside "curl -o" of the same URL followed by the same check,
//    interleaved, medians of 5, with the process's peak memory growth during
//    our downloads.
// Run it as it is (all cores) and under "taskset -c 0" (one core).
// Loopback only; nginx is started and ended here.

#include "fakehostroot.h"
#include "hostpaths.h"
#include "networkmanager.h"
#include "nginxserver.h"
#include "shellrunner.h"
#include "tempappdir.h"
#include "versionrepository.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QThread>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

#include <zlib.h>

namespace {

constexpr int kPolls = 200;
constexpr int kDownloads = 5;
constexpr qint64 kPackageBytes = 200LL * 1024 * 1024;

const QByteArray kIfconfig4 =
    "eth0: flags=4163<UP,BROADCAST,RUNNING,MULTICAST>  mtu 1500\n        inet 10.0.0.1\n        RX packets 1 bytes 5000\n\n"
    "eth1: flags=4163<UP,BROADCAST,RUNNING,MULTICAST>  mtu 1500\n        inet 10.0.1.1\n        RX packets 1 bytes 5000\n\n"
    "eth2: flags=4099<UP,BROADCAST,MULTICAST>  mtu 1500\n        inet 10.0.2.1\n\n"
    "wlan0: flags=4163<UP,BROADCAST,RUNNING,MULTICAST>  mtu 1500\n        inet 10.0.3.1\n\n"
    "lo: flags=73<UP,LOOPBACK,RUNNING>  mtu 65536\n        inet 127.0.0.1\n\n";
const QByteArray kProcNetDev =
    "Inter-|   Receive |  Transmit\n face |bytes packets|bytes packets\n"
    "    lo:    1000      10    0    0    0     0          0         0     1000      10\n"
    "  eth0:    5000      50    0    0    0     0          0         0     2000      20\n"
    "  eth1:    6000      60    0    0    0     0          0         0     2000      20\n"
    "  eth2:    6000      60    0    0    0     0          0         0     2000      20\n"
    " wlan0:    7000      70    0    0    0     0          0         0     3000      30\n";

// Answers "ifconfig" with the 4-card text, at once.
class CannedRunner : public ShellRunner
{
public:
    ShellResult run(const QString&, const QStringList&, int, const QByteArray&) override
    {
        ShellResult r;
        r.started = true;
        r.exitCode = 0;
        r.stdOut = kIfconfig4;
        return r;
    }
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

qint64 peakRssKb()
{
    QFile status("/proc/self/status");
    status.open(QIODevice::ReadOnly);
    const QRegularExpression hwm("VmHWM:\\s+(\\d+) kB");
    return hwm.match(QString::fromLatin1(status.readAll())).captured(1).toLongLong();
}

// The plain GUI-thread poll: ifconfig waited for, parsed, /proc/net/dev parsed.
int blockingPoll()
{
    static const QRegularExpression up("^(\\S+):\\s+flags=\\S+<UP,BROADCAST,\\S+>\\s+.*");
    static const QRegularExpression counters("^\\s*(\\S+):\\s+(\\d+)\\s+");
    QProcess ifconfig;
    ifconfig.setProcessChannelMode(QProcess::MergedChannels);
    ifconfig.start("ifconfig", QStringList());
    ifconfig.waitForFinished(200);
    ifconfig.readAll();
    int found = 0;
    for (const QString& block : QString::fromLatin1(kIfconfig4).split("\n\n"))
        found += up.match(block).hasMatch() && block.contains("RUNNING");
    QFile dev(HostPaths::path("/proc/net/dev"));
    dev.open(QIODevice::ReadOnly);
    for (const QString& line : QString::fromLatin1(dev.readAll()).split('\n'))
        found += counters.match(line).hasMatch();
    return found;
}

void cardPoll()
{
    TempAppDir appDir;
    FakeHostRoot host;
    host.write("/proc/net/dev", kProcNetDev);
    CannedRunner canned;
    ShellRunner::setInstance(&canned);
    NetworkManager* manager = NetworkManager::getInstance();
    std::vector<double> ours, reference;
    QElapsedTimer timer;
    for (int i = 0; i < kPolls; ++i) {
        timer.start();
        manager->pollTick();
        double gui = timer.nsecsElapsed() / 1e6;
        while (manager->ifconfigPending())
            QThread::usleep(50);
        timer.start();
        QCoreApplication::processEvents();  // the finished handler: parse and, every fifth tick, rates
        gui += timer.nsecsElapsed() / 1e6;
        ours.push_back(gui);

        ShellRunner::setInstance(nullptr);
        timer.start();
        blockingPoll();
        reference.push_back(timer.nsecsElapsed() / 1e6);
        ShellRunner::setInstance(&canned);
    }
    ShellRunner::setInstance(nullptr);
    std::printf("card poll, 4 cards, GUI thread per poll (median of %d): ours %.3f ms, blocking reference %.3f ms, "
                "ratio %.3f; ours max %.3f ms\n",
                kPolls, median(ours), median(reference), median(ours) / median(reference),
                *std::max_element(ours.begin(), ours.end()));
}

// A real tar.gz, as the download checks it whole: one file of kPackageBytes in a tar,
// in gzip's stored blocks so that the package is as big as its content.
bool writePackage(const QString& path)
{
    QByteArray header(512, '\0');
    const auto put = [&header](int at, const QByteArray& field) {
        std::copy(field.begin(), field.end(), header.begin() + at);
    };
    put(0, "monitor.bin");
    put(100, "0000644");
    put(108, "0000000");
    put(116, "0000000");
    put(124, QByteArray::number(kPackageBytes, 8).rightJustified(11, '0'));
    put(136, "00000000000");
    put(148, QByteArray(8, ' '));
    put(156, "0");
    put(257, "ustar");
    put(263, "00");
    int sum = 0;
    for (char c : header)
        sum += static_cast<unsigned char>(c);
    put(148, QByteArray::number(sum, 8).rightJustified(6, '0') + QByteArray("\0 ", 2));

    gzFile out = gzopen(QFile::encodeName(path).constData(), "wb0");
    if (!out)
        return false;
    bool ok = gzwrite(out, header.constData(), header.size()) == header.size();
    QByteArray block(1 << 20, 'p');
    for (qint64 written = 0; ok && written < kPackageBytes; written += block.size()) {
        block[0] = char(written >> 20);
        ok = gzwrite(out, block.constData(), block.size()) == block.size();
    }
    const QByteArray end(2 * 512, '\0');  // kPackageBytes is whole 512-byte records: no padding
    ok = ok && gzwrite(out, end.constData(), end.size()) == end.size();
    return gzclose(out) == Z_OK && ok;
}

void download()
{
    TempAppDir appDir;
    NginxServer server;
    const QString packagePath = server.docRoot() + "/monitor/line/V17/V17_big.tar.gz";
    QDir().mkpath(QFileInfo(packagePath).path());
    QString error;
    if (!writePackage(packagePath)) {
        std::printf("cannot write the package %s\n", qPrintable(packagePath));
        return;
    }
    if (!server.start(&error)) {
        std::printf("nginx: %s\n", qPrintable(error));
        return;
    }
    const QString root = appDir.filePath("bin-ZEV");
    QDir().mkpath(root);
    VersionRepository repository("127.0.0.1", server.port(), root);
    repository.browse();
    const QString url = QString("http://127.0.0.1:%1/monitor/line/V17/V17_big.tar.gz").arg(server.port());

    std::vector<double> ours, curl, curlChecked;
    int failures = 0;
    const qint64 rssBefore = peakRssKb();
    QElapsedTimer timer;
    for (int i = 0; i < kDownloads; ++i) {
        timer.start();
        if (!repository.downloadPackage("V17_big.tar.gz", &error)) {
            ++failures;
            std::printf("ours failed: %s\n", qPrintable(error));
        } else {
            ours.push_back(timer.nsecsElapsed() / 1e9);
        }
        QFile::remove(root + "/newupdate.tar.gz");
        QDir(appDir.path()).removeRecursively();
        QDir().mkpath(root);

        // The reference reads the package through once as well, as ours does before keeping it.
        timer.start();
        const QString copy = appDir.filePath("curl.out");
        QProcess check;
        check.setStandardOutputFile(QProcess::nullDevice());
        if (QProcess::execute("curl", {"-s", "-o", copy, url}) != 0) {
            ++failures;
        } else {
            curl.push_back(timer.nsecsElapsed() / 1e9);
            check.start("tar", {"-tzf", copy});
            if (!check.waitForFinished(60000) || check.exitCode() != 0)
                ++failures;
            else
                curlChecked.push_back(timer.nsecsElapsed() / 1e9);
        }
        QFile::remove(copy);
    }
    const double mb = kPackageBytes / 1048576.0;
    std::printf("download 200 MB (median of %d): ours %.0f MB/s, curl then tar -tzf %.0f MB/s, ratio %.2f "
                "(curl alone %.0f MB/s), failures %d, peak memory growth %lld kB\n",
                kDownloads, mb / median(ours), mb / median(curlChecked), median(curlChecked) / median(ours),
                mb / median(curl), failures, peakRssKb() - rssBefore);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QLoggingCategory::setFilterRules("*.info=false");
    cardPoll();
    download();
    return 0;
}
