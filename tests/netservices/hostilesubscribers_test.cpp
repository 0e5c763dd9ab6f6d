// Subscribers that never answer, keep failing or were stored as junk.
#include "apitestkit.h"
#include "httpapiserver.h"
#include "loglimiter.h"
#include "publictools.h"
#include "pushdispatcher.h"
#include "vek_netmn.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <gtest/gtest.h>

#include <ostream>
#include <sys/resource.h>

// Counts by port in failure messages.
static void PrintTo(const QMap<int, int>& counts, std::ostream* os)
{
    for (auto it = counts.begin(); it != counts.end(); ++it)
        *os << (it == counts.begin() ? "" : " ") << it.key() << ":" << it.value();
}

namespace {

QByteArray subscribe(const QJsonArray& entries)
{
    return QJsonDocument(QJsonObject{{"subscriber", entries}}).toJson(QJsonDocument::Compact);
}

QJsonObject entry(const QJsonValue& ip, const QJsonValue& port, const QString& topic = "detected_info")
{
    return QJsonObject{{"subscriber_ip", ip}, {"subscriber_port", port}, {"subscriber_topic", topic}};
}

int openDescriptors()
{
    return QDir("/proc/self/fd").entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size();
}

int threads()
{
    return QDir("/proc/self/task").entryList(QDir::NoDotAndDotDot | QDir::Dirs).size();
}

// Ports that accept and then never read nor answer, and one that answers.
class HungPeers
{
public:
    explicit HungPeers(int count)
    {
        process.start("python3", {"-c", R"(
import socket, sys, threading, time
hung = []
for i in range(int(sys.argv[1])):
    s = socket.socket(); s.bind(('127.0.0.1', 0)); s.listen(64); hung.append(s)
live = socket.socket(); live.bind(('127.0.0.1', 0)); live.listen(64)
print(' '.join(str(s.getsockname()[1]) for s in hung + [live]), flush=True)
held = []
def keep(s):
    while True:
        c, _ = s.accept(); held.append(c)
def answer():
    while True:
        c, _ = live.accept(); data = b''
        while b'\r\n\r\n' not in data:
            data += c.recv(65536)
        head, _, body = data.partition(b'\r\n\r\n')
        length = int([l.split(b':')[1] for l in head.split(b'\r\n') if l.lower().startswith(b'content-length')][0])
        while len(body) < length:
            body += c.recv(65536)
        agent = [l.split(b':', 1)[1].strip() for l in head.split(b'\r\n') if l.lower().startswith(b'user-agent')][0]
        c.sendall(b'HTTP/1.1 200 OK\r\nUser-Agent: ' + agent + b'\r\nContent-Length: 0\r\n\r\n')
        print('pushed', flush=True); c.close()
for s in hung:
    threading.Thread(target=keep, args=(s,), daemon=True).start()
threading.Thread(target=answer, daemon=True).start()
time.sleep(120)
)", QString::number(count)});
        waitUntil([&] { return process.canReadLine(); }, 10000);
        for (const QByteArray& p : process.readLine().trimmed().split(' '))
            ports << p.toInt();
        livePort = ports.takeLast();
    }
    ~HungPeers()
    {
        process.kill();
        process.waitForFinished(2000);
    }
    int pushesAnswered()
    {
        while (process.canReadLine())
            answered += process.readLine().startsWith("pushed") ? 1 : 0;
        return answered;
    }
    QProcess process;
    QList<int> ports;
    int livePort = 0;
    int answered = 0;
};

// The lines the log file gets: every message through a limiter, as the log manager passes them.
class LimitedLog
{
public:
    LimitedLog()
    {
        QMutexLocker lock(&s_lock);
        s_limiter = &m_limiter;
        s_written.clear();
        m_previous = qInstallMessageHandler(&LimitedLog::handle);
    }
    ~LimitedLog()
    {
        qInstallMessageHandler(m_previous);
        QMutexLocker lock(&s_lock);
        s_limiter = nullptr;
    }
    // Written so far, and the counts of the lines still held back.
    QStringList written()
    {
        QMutexLocker lock(&s_lock);
        return s_written + m_limiter.flush(monotonic_ms() + LogLimiter::kWindowMs);
    }

private:
    static void handle(QtMsgType, const QMessageLogContext& context, const QString& message)
    {
        QMutexLocker lock(&s_lock);
        s_written += s_limiter->admit(context, message, monotonic_ms());
    }
    static QMutex s_lock;
    static LogLimiter* s_limiter;
    static QStringList s_written;
    LogLimiter m_limiter;
    QtMessageHandler m_previous = nullptr;
};
QMutex LimitedLog::s_lock;
LogLimiter* LimitedLog::s_limiter = nullptr;
QStringList LimitedLog::s_written;

} // namespace

using HostileSubscribers = ApiTest;

TEST_F(HostileSubscribers, JunkSubscriptionsAreNeitherStoredNorKeptFromAnOldFile)
{
    const QJsonArray junk{entry("127.0.0.1", 70000), entry("127.0.0.1", -1), entry("127.0.0.1", 0),
                          entry("127.0.0.1", 80.5), entry("not-an-ip", 9000), entry("127.0.0.1;9", 9000),
                          entry("300.1.1.1", 9000), entry("127.0.0.1", 9000, "detected_info;x"),
                          entry("::1", 9000), entry("127.0.0.1", "9000")};
    post("subscriber_baseinfo", subscribe(junk));
    EXPECT_TRUE(hub->apiServer()->subscribers().isEmpty());
    post("subscriber_baseinfo", subscribe({entry("127.0.0.1", 9000)}));
    EXPECT_EQ(hub->apiServer()->subscribers().keys(), QStringList{"127.0.0.1;9000;detected_info"});

    // A list stored by an older program with junk in it: the junk goes at the next start.
    {
        QSettings ini("cnt_net/workspace/subscriber.ini", QSettings::IniFormat);
        QVariantMap stored = ini.value("subscriber_groups").toMap();
        for (const char* key : {"127.0.0.1;70000;detected_info", "not-an-ip;1;detected_info", "1.2.3.4;-1;detected_info",
                                "1.2.3.4;5;x;detected_info"})
            stored.insert(key, stored.first());
        ini.setValue("subscriber_groups", stored);
    }
    configure(true);
    EXPECT_EQ(hub->apiServer()->subscribers().keys(), QStringList{"127.0.0.1;9000;detected_info"});
    QSettings reread("cnt_net/workspace/subscriber.ini", QSettings::IniFormat);
    EXPECT_EQ(reread.value("subscriber_groups").toMap().keys(), QStringList{"127.0.0.1;9000;detected_info"});
}

TEST_F(HostileSubscribers, SixtyFourHungSubscribersCostOneThreadAndABoundOfSocketsEach)
{
    rlimit previous{};
    getrlimit(RLIMIT_NOFILE, &previous);
    rlimit small = previous;
    small.rlim_cur = std::min<rlim_t>(previous.rlim_cur, 1024);
    setrlimit(RLIMIT_NOFILE, &small);

    HungPeers peers(HttpApiServer::kMaxSubscribers - 1);
    QJsonArray entries;
    for (int port : peers.ports)
        entries.append(entry("127.0.0.1", port));
    entries.append(entry("127.0.0.1", peers.livePort));
    post("subscriber_baseinfo", subscribe(entries));
    ASSERT_EQ(hub->apiServer()->subscribers().size(), HttpApiServer::kMaxSubscribers);

    LogCount sent("send success!", QtInfoMsg);
    LogCount unanswered("no answer to");
    runCycle({});
    ASSERT_TRUE(waitUntil([&] { return peers.pushesAnswered() >= 1; }));
    const int fdsBefore = openDescriptors();
    const int threadsBefore = threads();
    QElapsedTimer timer;
    int worstCycleMs = 0;
    constexpr int kCycles = 20;
    for (int i = 0; i < kCycles; ++i) {
        timer.start();
        runCycle({{0, 0, 0, i % 2}});
        worstCycleMs = std::max<int>(worstCycleMs, int(timer.elapsed()));
        QTest::qWait(300);
    }
    // A bound of connections per subscriber, one push thread: nothing grows with the cycles.
    EXPECT_LE(openDescriptors(), fdsBefore + HttpApiServer::kMaxSubscribers * PushDispatcher::kRecordsInFlight + 8);
    EXPECT_LE(threads(), threadsBefore + 1);
    EXPECT_LT(worstCycleMs, 200);
    // The live subscriber kept getting the cycles.
    EXPECT_TRUE(waitUntil([&] { return peers.pushesAnswered() >= kCycles / 2; }, 5000)) << peers.answered;
    // Pushes to peers that never read are not logged as sent: each is counted, a line a peer at a time.
    EXPECT_TRUE(waitUntil([&] { return sent.count() == peers.pushesAnswered(); }, 3000))
        << sent.count() << " of " << peers.answered;
    const auto silentPorts = [&] {
        QSet<int> ports;
        for (const QString& line : unanswered.messages())
            ports << line.section(':', -1).section(' ', 0, 0).toInt();
        return ports;
    };
    const QSet<int> hung(peers.ports.begin(), peers.ports.end());
    EXPECT_TRUE(waitUntil([&] { return silentPorts() == hung; }, 2 * PushDispatcher::kDropReportMs))
        << unanswered.messages().join('\n').toStdString();
    EXPECT_LE(unanswered.count(), HttpApiServer::kMaxSubscribers * 3);
    setrlimit(RLIMIT_NOFILE, &previous);
}

// A plant server that is down for a while (here refusing every push) keeps its subscriptions
// and gets the next pushes once it is back; each push it missed cost one warning.
TEST_F(HostileSubscribers, ASubscriberThatWasDownGetsTheNextPushes)
{
    const quint16 downPort = freePort();   // connections to it are refused at once
    post("subscriber_baseinfo", subscribe({entry("127.0.0.1", downPort), entry("127.0.0.1", downPort, "detected_picture")}));
    ASSERT_EQ(hub->apiServer()->subscribers().size(), 2);
    LogCount missed("ERROR NO CONNECTED");
    constexpr int kMissedCycles = 8;
    for (int i = 0; i < kMissedCycles; ++i) {
        runCycle({});
        QTest::qWait(100);
    }
    EXPECT_TRUE(waitUntil([&] { return missed.count() == kMissedCycles; }, 3000)) << missed.count();

    QTcpServer back;
    ASSERT_TRUE(back.listen(QHostAddress::LocalHost, downPort));
    runCycle({});
    ASSERT_TRUE(waitUntil([&] { return back.hasPendingConnections(); }, 3000));
    QTcpSocket* pushed = back.nextPendingConnection();
    ASSERT_TRUE(waitUntil([&] { return pushed->canReadLine(); }));
    EXPECT_TRUE(pushed->readLine().startsWith("POST /v18/http/post_detected_info "));
    EXPECT_EQ(missed.count(), kMissedCycles);
    QSettings ini("cnt_net/workspace/subscriber.ini", QSettings::IniFormat);
    EXPECT_EQ(ini.value("subscriber_groups").toMap().keys(), hub->apiServer()->subscribers().keys());
    EXPECT_EQ(hub->apiServer()->subscribers().size(), 2);
}

// However many subscribers drop at once, the log names each with its port and its whole count:
// the log's limiter, which takes the numbers out to find repeated lines, merges none of them.
// The pushes still open or waiting at the end are told as such, never as sent.
TEST_F(HostileSubscribers, EverySubscribersDropsReachTheLogWithItsCount)
{
    constexpr int kSubscribers = 30;
    // All pushed before the first answer time-out: each subscriber takes its bound and its queue
    // and drops the rest.
    constexpr int kPushes = 40;
    HungPeers peers(kSubscribers);
    LimitedLog log;
    QElapsedTimer pushing;
    pushing.start();
    {
        PushDispatcher dispatcher;
        CTask_FormData record;
        record.url = QStringLiteral("/v18/http/post_detected_info");
        for (int n = 0; n < kPushes; ++n) {
            for (int port : peers.ports)
                dispatcher.push("127.0.0.1", port, PushDispatcher::Record, record);
        }
        QCoreApplication::processEvents();
    }   // its end tells the drops not told yet
    ASSERT_LT(pushing.elapsed(), PushDispatcher::kAnswerTimeoutMs);

    const QRegularExpression told("dropped (\\d+) records and 0 pictures for 127\\.0\\.0\\.1:(\\d+):");
    QMap<int, int> dropped;
    int lines = 0;
    for (const QString& line : log.written()) {
        const QRegularExpressionMatch match = told.match(line);
        if (match.hasMatch()) {
            dropped[match.captured(2).toInt()] += match.captured(1).toInt();
            ++lines;
        }
    }
    QMap<int, int> expected;
    for (int port : peers.ports)
        expected[port] = kPushes - PushDispatcher::kRecordsInFlight - PushDispatcher::kMaxQueued;
    EXPECT_EQ(dropped, expected);
    EXPECT_LE(lines, 2 * kSubscribers);   // still folded per subscriber

    const QRegularExpression open("no answer to (\\d+) records and 0 pictures from 127\\.0\\.0\\.1:(\\d+) ");
    QMap<int, int> unanswered;
    for (const QString& line : log.written()) {
        EXPECT_FALSE(line.contains("send success!")) << line.toStdString();
        const QRegularExpressionMatch match = open.match(line);
        if (match.hasMatch())
            unanswered[match.captured(2).toInt()] += match.captured(1).toInt();
    }
    for (int& count : expected)
        count = PushDispatcher::kRecordsInFlight;
    EXPECT_EQ(unanswered, expected);
    const QRegularExpression left(QStringLiteral("%1 records and 0 pictures for 127\\.0\\.0\\.1:\\d+ never sent")
                                      .arg(PushDispatcher::kMaxQueued));
    EXPECT_EQ(log.written().filter(left).size(), kSubscribers);
}
