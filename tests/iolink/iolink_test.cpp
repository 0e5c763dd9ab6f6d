#include "boardsimprocess.h"
#include "clock.h"
#include "controlport.h"
#include "globals.h"
#include "ioframe.h"
#include "iothread.h"
#include "looppace.h"
#include "mainwindowbase.h"
#include "qttesthelpers.h"
#include "tempappdir.h"
#include "wizardpara.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QPointer>
#include <QRegularExpression>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

// Processes events until the condition holds or the time is up.
bool waitFor(const std::function<bool()>& condition, int timeoutMs = 3000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(2);
    }
    return true;
}

void settle(int ms)
{
    waitFor([] { return false; }, ms);
}

IOThread::Timing fastTiming()
{
    IOThread::Timing t;
    t.watchdogMs = 60000;
    t.answerTimeoutMs = 250;
    t.reopenDelayMs = 50;
    return t;
}

// Whether both threads kept their pace over a stretch of a test: a loaded machine that runs
// the IO thread late makes it log the late read ("not read for"), and one that runs this
// thread late leaves a gap in its event loop. Rounds without it tell nothing of the timing.
class PaceKept
{
public:
    explicit PaceKept(const MessageLog& log) : m_log(log), m_from(log.linesNow().size()) {}
    qint64 longestGapMs() const { return m_pace.longestGapMs(); }
    bool ioThreadKept() const { return m_log.linesNow().mid(m_from).filter("IO board not read for").isEmpty(); }
    bool kept() const { return ioThreadKept() && longestGapMs() < kGapMs; }
    static constexpr qint64 kGapMs = 50;

private:
    const MessageLog& m_log;
    int m_from;
    LoopPace m_pace;
};

} // namespace

class IOLinkTest : public AppDirTest
{
protected:
    QString linkPath() const { return appDir.filePath("ioboard.tty"); }
    QString recordPath() const { return appDir.filePath("outputs.log"); }

    void startSim(const QString& socket = QString())
    {
        sim = std::make_unique<BoardSimProcess>(linkPath(), recordPath(), socket);
        ASSERT_TRUE(sim->start()) << qPrintable(BoardSimProcess::binaryPath());
    }

    void startPort(const IOThread::Timing& timing = fastTiming(), quint16 inversion = 0)
    {
        port = std::make_unique<ControlPort>();
        port->setDevicePath(linkPath());
        port->setTiming(timing);
        port->setOutputInversion(inversion);
        connect();
        port->InitIOThread();
    }

    void connect()
    {
        QObject::connect(port.get(), &ControlPort::sigIOChange, port.get(), [this](int word) {
            inputEvents.append(word);
            if (QThread::currentThread() != QCoreApplication::instance()->thread())
                offThreadSignals++;
        });
        QObject::connect(port.get(), &ControlPort::sigLinkChanged, port.get(), [this](bool up) {
            if (!up)
                linkDrops++;
        });
    }

    void TearDown() override
    {
        port.reset();
        sim.reset();
    }

    std::unique_ptr<BoardSimProcess> sim;
    std::unique_ptr<ControlPort> port;
    QVector<int> inputEvents;
    int offThreadSignals = 0;
    int linkDrops = 0;
};

TEST_F(IOLinkTest, InputsArriveAsQueuedSignalsWithLatchedTriggers)
{
    startSim();
    startPort();
    ASSERT_TRUE(waitFor([&] { return port->isLinkUp(); }));
    EXPECT_TRUE(inputEvents.isEmpty()) << "all inputs low: nothing changed";

    EXPECT_EQ(sim->command("in 0 1"), "ok");
    ASSERT_TRUE(waitFor([&] { return port->IOGetIn(0) == 1; }));
    EXPECT_EQ(inputEvents.last(), 0x0001);
    EXPECT_EQ(offThreadSignals, 0);
    EXPECT_GT(port->inputChangedAt(0), 0);
    EXPECT_TRUE(port->takeTrigger(0));
    EXPECT_FALSE(port->takeTrigger(0)) << "an edge is taken once";

    // A pulse is latched even though its level is gone before anyone looks (long enough
    // for an IO thread that a loaded machine runs late to see it).
    EXPECT_EQ(sim->command("pulse 2 300"), "ok");
    ASSERT_TRUE(waitFor([&] { return port->hasTrigger(2); }));
    ASSERT_TRUE(waitFor([&] { return port->IOGetIn(2) == 0; }));
    EXPECT_TRUE(port->takeTrigger(2));

    // Input 3 doubling as input 1.
    port->setInput4Use(2);
    EXPECT_EQ(sim->command("in 3 1"), "ok");
    ASSERT_TRUE(waitFor([&] { return port->IOGetIn(3) == 1; }));
    EXPECT_EQ(port->IOGetIn(1), 1);
    EXPECT_TRUE(port->hasTrigger(1));
    // Trigger choices reach input 8 (the ninth input).
    EXPECT_EQ(sim->command("pulse 8 300"), "ok");
    ASSERT_TRUE(waitFor([&] { return port->takeTrigger(8); }));
    EXPECT_EQ(port->IOGetIn(16), 0);
    EXPECT_FALSE(port->takeTrigger(16));
}

TEST_F(IOLinkTest, TriggerToOutputRoundTripIsRecordedOnOneClock)
{
    MessageLog log;
    startSim();
    startPort();
    ASSERT_TRUE(waitFor([&] { return port->isLinkUp(); }));
    QObject::connect(port.get(), &ControlPort::sigIOChange, port.get(), [this] {
        if (port->takeTrigger(4))
            port->IOPulseOut(2, 1, 1);
    });
    // Judged in time only in rounds where both threads kept their pace.
    constexpr int kJudged = 4;
    QVector<qint64> judged;
    for (int round = 0; round < 5 * kJudged && judged.size() < kJudged; ++round) {
        const int inputsBefore = sim->records("in").size();
        const int outputsBefore = sim->records().size();
        auto pace = std::make_unique<PaceKept>(log);
        EXPECT_EQ(sim->command("pulse 4 300"), "ok");
        const int out = sim->waitForWord(0x0004, 10000, outputsBefore);
        ASSERT_GE(out, 0) << "round " << round;
        const qint64 gapMs = pace->longestGapMs();
        const QVector<BoardSimProcess::Record> inputs = sim->records("in");
        ASSERT_GT(inputs.size(), inputsBefore);
        EXPECT_EQ(inputs[inputsBefore].word, 0x0010);
        const qint64 latency = sim->records()[out].monotonicMs - inputs[inputsBefore].monotonicMs;
        EXPECT_GE(latency, 0) << "round " << round;
        // Both pulses end, and the port sees the input fall, before the next round.
        ASSERT_GE(sim->waitForWord(0x0000, 10000, out), 0);
        ASSERT_TRUE(waitFor([&] { return sim->records("in").size() > inputsBefore + 1 && port->IOGetIn(4) == 0; }, 10000));
        // The IO thread logs a late read once it has read again, by now.
        const bool ioKept = pace->ioThreadKept();
        std::printf("round %d: %lld ms, longest event-loop gap %lld ms%s\n", round, latency, gapMs,
                    ioKept ? "" : ", IO thread late");
        if (ioKept && gapMs < PaceKept::kGapMs)
            judged << latency;
    }
    ASSERT_EQ(judged.size(), kJudged) << "too few rounds at the threads' pace to judge";
    for (qint64 latency : judged)
        EXPECT_LT(latency, 200) << "two 5 ms exchanges and one queued signal";
}

// The board takes no command sooner than one interval after the previous one:
// with slots of 400 ms a word changed inside a slot waits for the rest of it,
// but not for one more.
TEST_F(IOLinkTest, AChangedOutputWordWaitsOnlyForTheRestOfTheSlot)
{
    startSim();
    IOThread::Timing slow = fastTiming();
    slow.intervalMs = 400;
    slow.answerTimeoutMs = 5000;
    MessageLog log;
    startPort(slow);
    // A read later than the slot and a margin is the IO thread run late.
    port->setReadGapWarningMs(slow.intervalMs + 50);
    ASSERT_TRUE(waitFor([&] { return port->isLinkUp(); }));
    // Late rounds only lengthen the wait: the slot's end is judged in every round, its
    // length only in rounds where both threads kept their pace.
    constexpr int kJudged = 3;
    int judged = 0;
    for (int round = 0; round < 4 * kJudged && judged < kJudged; ++round) {
        QThread::msleep(150);  // somewhere inside a slot
        const quint16 word = quint16(round % 2 ? 0x0000 : 0x0001);
        const int before = sim->records().size();
        PaceKept pace(log);
        const quint64 answered = port->ioThread()->stats().framesReceived;
        QElapsedTimer sent;
        sent.start();
        port->IOSetOut(0, word);
        port->IOFlashOut();
        ASSERT_GE(sim->waitForWord(word, 10000, before), 0);
        const qint64 took = sent.elapsed();
        EXPECT_GT(took, 100) << "round " << round << ": sent before the slot ended";
        // A late read is logged as its answer is taken.
        ASSERT_TRUE(waitFor([&] { return port->ioThread()->stats().framesReceived > answered; }, 10000));
        if (!pace.kept())
            continue;
        ++judged;
        EXPECT_LT(took, 400) << "round " << round;
    }
    EXPECT_EQ(judged, kJudged) << "too few rounds at the threads' pace to judge";
}

// Words changed at random moments between commands: no two commands leave
// closer than the interval (the IO thread's own send stamps), and a changed
// word rides on the next command, unless one was already on its way.
TEST_F(IOLinkTest, EveryCommandKeepsTheSpacingAlsoWhenTheWordChanges)
{
    struct Stamp
    {
        qint64 ns;
        quint16 word;
    };
    std::mutex sentMutex;
    std::vector<Stamp> sent;  // declared before the thread, which writes into it until it ends
    startSim();
    IOThread thread(linkPath());
    thread.setTiming(fastTiming());
    thread.setSendObserver([&](qint64 ns, quint16 word) {
        std::lock_guard<std::mutex> lock(sentMutex);
        sent.push_back({ns, word});
    });
    thread.start();
    ASSERT_TRUE(waitFor([&] { return thread.isLinkUp(); }));

    const int intervalUs = fastTiming().intervalMs * 1000;
    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> pauseUs(0, 2 * intervalUs);
    std::vector<Stamp> published;  // stamped once the word is in place; words rise
    for (quint16 word = 1; word <= 400; ++word) {
        std::this_thread::sleep_for(std::chrono::microseconds(pauseUs(random)));
        thread.publishOutputs(word);
        published.push_back({MonotonicClock::ns(), word});
    }
    // Two more commands after the last change, however late a loaded machine runs the thread.
    const qint64 lastNs = published.back().ns;
    EXPECT_TRUE(waitFor([&] {
        std::lock_guard<std::mutex> lock(sentMutex);
        return std::count_if(sent.begin(), sent.end(), [&](const Stamp& s) { return s.ns > lastNs; }) >= 2;
    }, 10000));
    thread.stop();

    const qint64 spacingNs = intervalUs * 1000LL - 100 * 1000;  // timer granularity
    std::vector<qint64> gaps;
    for (size_t i = 1; i < sent.size(); ++i)
        gaps.push_back(sent[i].ns - sent[i - 1].ns);
    const auto shortest = std::min_element(gaps.begin(), gaps.end());
    ASSERT_NE(shortest, gaps.end());
    EXPECT_GE(*shortest, spacingNs) << "command " << (shortest - gaps.begin()) + 1 << " of " << sent.size();

    // Judged in time only where the thread kept its pace: a loaded machine that runs it
    // late holds back the command itself (and says so in the log), not the word.
    const qint64 slotNs = intervalUs * 1000LL;
    const auto paced = [&](size_t i) { return i >= 2 && sent[i].ns - sent[i - 2].ns <= 3 * slotNs; };
    std::vector<qint64> latencies;
    size_t next = 0;
    for (const Stamp& change : published) {
        while (next < sent.size() && sent[next].ns <= change.ns)
            ++next;
        // The first command done after the publish may have taken its word before it.
        ASSERT_LT(next + 1, sent.size());
        ASSERT_GE(sent[next + 1].word, change.word) << "an older word went out a command after the change";
        // This word, or a newer one when it was replaced before a command left.
        const size_t first = sent[next].word >= change.word ? next : next + 1;
        if (paced(first))
            latencies.push_back(sent[first].ns - change.ns);
    }
    // A machine so loaded that the thread seldom kept its pace leaves nothing to judge by.
    if (latencies.size() < published.size() / 4)
        GTEST_SKIP() << "too few changes at the thread's pace to judge: " << latencies.size();
    std::sort(latencies.begin(), latencies.end());
    EXPECT_LE(latencies[latencies.size() / 2], slotNs) << "median wait for the next command";
    const auto late = latencies.end() - std::upper_bound(latencies.begin(), latencies.end(), 2 * slotNs);
    EXPECT_LE(late, std::ptrdiff_t(latencies.size() / 20)) << "changed words that waited longer than the spacing and one slot";
}

namespace {

// A board on a pseudo-terminal, played by a thread of the test: for each host frame
// answer(n, write) decides what goes back (write sends bytes on the line).
class PtyBoard
{
public:
    using Write = std::function<void(const QByteArray&)>;
    using Answer = std::function<void(int frame, const Write& write)>;

    explicit PtyBoard(Answer answer) : m_answer(std::move(answer))
    {
        m_master = posix_openpt(O_RDWR | O_NOCTTY);
        if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0)
            return;
        m_path = QString::fromLocal8Bit(ptsname(m_master));
        m_thread = std::thread([this] { serve(); });
    }
    ~PtyBoard() { stop(); }

    QString path() const { return m_path; }
    void stop()
    {
        m_done = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
    }
    static QByteArray answer(quint16 inputs) { return IOFrame::encodeBoard({IOFrame::kCmdExchange, inputs, 0}); }

private:
    void serve()
    {
        IOFrameDecoder decoder(IOFrame::kHostFrameSize);
        QByteArray frame;
        const Write write = [this](const QByteArray& bytes) {
            if (::write(m_master, bytes.constData(), size_t(bytes.size())) < 0)
                return;
        };
        for (int n = 0; !m_done;) {
            char bytes[64];
            pollfd pfd{m_master, POLLIN, 0};
            const ssize_t got = ::poll(&pfd, 1, 10) > 0 ? ::read(m_master, bytes, sizeof bytes) : 0;
            if (got <= 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));  // nobody on the line yet
                continue;
            }
            decoder.feed(bytes, int(got));
            while (decoder.takeFrame(&frame))
                m_answer(n++, write);
        }
    }

    Answer m_answer;
    int m_master = -1;
    QString m_path;
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

} // namespace

// A board that answers a command only together with the next one (as a busy
// simulator or line does): the late answer is taken as it arrives, not after
// the next command in that command's place, so an input change three commands
// later reaches the thread before the command after it leaves.
TEST(IOThreadAnswers, ALateAnswerLeavesNoLagBehind)
{
    std::vector<std::pair<qint64, int>> changes;   // moment the board wrote a new word, the word (board)
    QByteArray held;
    quint16 inputs = 0;
    PtyBoard board([&](int n, const PtyBoard::Write& write) {
        const int step = n % 8;
        inputs = quint16(inputs ^ (step == 4));
        const QByteArray answer = PtyBoard::answer(inputs);
        if (step == 1) {
            held = answer;
            return;
        }
        if (!held.isEmpty()) {
            write(held);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        held.clear();
        write(answer);
        if (step == 4)
            changes.emplace_back(MonotonicClock::ns(), inputs);
    });
    ASSERT_FALSE(board.path().isEmpty());
    IOThread thread(board.path());
    thread.setTiming(fastTiming());
    std::atomic<int> taken{0};  // the input word the thread last took
    QObject::connect(&thread, &IOThread::sigIOChange, &thread, [&](int word) { taken = word; }, Qt::DirectConnection);
    std::vector<std::pair<qint64, int>> sent;      // send moment, word taken by then (IO thread)
    thread.setSendObserver([&](qint64 ns, quint16) { sent.emplace_back(ns, taken.load()); });
    thread.start();
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    thread.stop();
    board.stop();

    // Checked at the first command 3 ms after the write (a lag leaves the change
    // waiting about 5 ms); a quarter may miss on a loaded machine.
    int checked = 0, late = 0;
    for (const auto& change : changes) {
        const auto next = std::find_if(sent.begin(), sent.end(), [&](const auto& s) { return s.first >= change.first + 3000000; });
        if (next != sent.end()) {
            ++checked;
            late += next->second != change.second;
        }
    }
    EXPECT_GE(checked, 10);
    EXPECT_LE(late, checked / 4) << late << " of " << checked << " input changes were taken only after the next command";
}

// A board left unread longer than a trigger must last (a stalled machine) leaves one
// line per such gap, with its length; shorter gaps, and the silence of an outage
// that has lines of its own, leave none. The threshold is the shake-erase time,
// at least 50 ms.
// A rise is stamped with the last answer that still showed the input low: after a stall of
// the board the edge may have come any time since, and a release must not take it as later.
TEST(IOThreadAnswers, ARiseIsStampedWithTheLastAnswerThatShowedTheInputLow)
{
    std::atomic<bool> stall{false};
    std::atomic<bool> high{false};
    PtyBoard board([&](int, const PtyBoard::Write& write) {
        if (stall.exchange(false)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            high = true;
            return;
        }
        write(PtyBoard::answer(high ? 1 : 0));
    });
    ASSERT_FALSE(board.path().isEmpty());
    IOThread::Timing timing = fastTiming();
    timing.answerTimeoutMs = 1500;
    IOThread thread(board.path());
    thread.setTiming(timing);
    std::atomic<qint64> seenAt{-1}, lastReadAt{-1};
    QObject::connect(&thread, &IOThread::sigIOChange, &thread, [&](int word, qint64 seen, qint64 lastRead) {
        if (word & 1) {
            seenAt = seen;
            lastReadAt = lastRead;
        }
    }, Qt::DirectConnection);
    thread.start();
    EXPECT_TRUE(waitFor([&] { return thread.isLinkUp(); }));
    stall = true;
    EXPECT_TRUE(waitFor([&] { return seenAt >= 0; }, 10000));
    thread.stop();
    board.stop();
    // The 300 ms silence lies between the two (less what a loaded machine takes to read an answer).
    EXPECT_GE(seenAt - lastReadAt, 200) << "stamped when it was seen, not when it may have come";
}

TEST(IOThreadAnswers, AGapInTheAnswersLongerThanATriggerIsLoggedOnce)
{
    WizardPara para;
    ControlPort port;
    para.shakeEraseTime = 0;
    port.configure(para);
    EXPECT_EQ(port.readGapWarningMs(), ControlPort::kMinReadGapWarningMs);
    para.shakeEraseTime = 3;
    port.configure(para);
    EXPECT_EQ(port.readGapWarningMs(), 300);

    // The board falls silent for each stall the test asks for, from the next command on.
    std::mutex stallMutex;
    std::vector<int> stalls;         // ms, taken in order
    std::atomic<int> stalled{0};     // stalls done
    std::atomic<int> frames{0};
    PtyBoard board([&](int, const PtyBoard::Write& write) {
        ++frames;
        int ms = 0;
        {
            std::lock_guard<std::mutex> lock(stallMutex);
            if (!stalls.empty()) {
                ms = stalls.front();
                stalls.erase(stalls.begin());
            }
        }
        if (ms > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            ++stalled;
            return;  // what came meanwhile is answered as it is read
        }
        write(PtyBoard::answer(0));
    });
    ASSERT_FALSE(board.path().isEmpty());
    const auto stallFor = [&](int ms) {
        const int before = stalled;
        {
            std::lock_guard<std::mutex> lock(stallMutex);
            stalls.push_back(ms);
        }
        EXPECT_TRUE(waitFor([&] { return stalled > before; }, 10000));
        const int framesAfter = frames + 5;
        EXPECT_TRUE(waitFor([&] { return frames > framesAfter; }, 10000)) << "answering again";
    };
    // The lines one IO thread logs while the board stalls for each of the times in turn.
    const auto runStalls = [&](int thresholdMs, const std::vector<int>& stallsMs) {
        IOThread::Timing timing = fastTiming();
        timing.answerTimeoutMs = 1500;
        IOThread thread(board.path());
        thread.setTiming(timing);
        thread.setReadGapWarningMs(thresholdMs);
        MessageLog log;
        thread.start();
        EXPECT_TRUE(waitFor([&] { return thread.isLinkUp(); }));
        for (int ms : stallsMs)
            stallFor(ms);
        EXPECT_TRUE(waitFor([&] { return thread.isLinkUp(); }));
        thread.stop();
        return std::make_pair(log.lines, thread.stats().noAnswerReopens);
    };
    const auto gaps = [](const QStringList& lines) {
        std::vector<int> ms;
        const QRegularExpression line("^IO board not read for (\\d+) ms: a signal shorter than that may have been missed$");
        for (const QString& text : lines) {
            const QRegularExpressionMatch m = line.match(text);
            if (m.hasMatch())
                ms.push_back(m.captured(1).toInt());
        }
        return ms;
    };
    // A loaded machine may stall the thread on its own: only gaps as long as the board's own count.
    const auto atLeast = [](const std::vector<int>& ms, int least) {
        return std::count_if(ms.begin(), ms.end(), [least](int gap) { return gap >= least; });
    };

    const auto shakeErase = runStalls(port.readGapWarningMs(), {120, 500});
    const std::vector<int> slow = gaps(shakeErase.first);
    EXPECT_EQ(atLeast(slow, 500), 1) << shakeErase.first.join('\n').toStdString();
    EXPECT_EQ(atLeast(slow, 0), atLeast(slow, 301)) << "a gap shorter than the shake-erase time is no word";

    const auto outage = runStalls(ControlPort::kMinReadGapWarningMs, {80, 2000});
    const std::vector<int> quick = gaps(outage.first);
    EXPECT_GE(atLeast(quick, 80), 1) << outage.first.join('\n').toStdString();
    EXPECT_EQ(atLeast(quick, 1500), 0) << "the outage is told by its own lines";
    EXPECT_GE(outage.second, 1u);
    board.stop();
}

TEST_F(IOLinkTest, ControlSocketRaisesInputs)
{
    const QString socketPath = appDir.filePath("sim.sock");
    startSim(socketPath);
    startPort();
    QLocalSocket client;
    client.connectToServer(socketPath);
    ASSERT_TRUE(client.waitForConnected(3000));
    client.write("pulse 5 300\nbogus\n");
    ASSERT_TRUE(waitFor([&] { return client.canReadLine(); }));
    EXPECT_EQ(client.readLine().trimmed(), "ok");
    ASSERT_TRUE(waitFor([&] { return client.canReadLine(); }));
    EXPECT_TRUE(client.readLine().startsWith("error"));
    ASSERT_TRUE(waitFor([&] { return port->takeTrigger(5); }));
}

TEST_F(IOLinkTest, ARelativeControlSocketIsAPathInTheSimulatorsFolder)
{
    // Two simulators told the same relative socket path, each in a folder of its own, keep
    // their own sockets there (a name of this run's own: the old behaviour put it in /tmp).
    const QString name = QStringLiteral("board-%1.sock").arg(QCoreApplication::applicationPid());
    const QStringList folders{appDir.filePath("a"), appDir.filePath("b")};
    std::vector<std::unique_ptr<BoardSimProcess>> sims;
    for (const QString& folder : folders) {
        ASSERT_TRUE(QDir().mkpath(folder));
        sims.push_back(std::make_unique<BoardSimProcess>(folder + "/board.tty", folder + "/outputs.log", name));
        sims.back()->setWorkingDirectory(folder);
        ASSERT_TRUE(sims.back()->start());
    }
    const auto ask = [&](const QString& folder, const QByteArray& line) {
        QLocalSocket client;
        client.connectToServer(folder + "/" + name);
        if (!client.waitForConnected(3000))
            return QByteArray("not connected");
        client.write(line + "\n");
        waitFor([&] { return client.canReadLine(); });
        return client.readLine().trimmed();
    };
    EXPECT_EQ(ask(folders[0], "in 3 1"), "ok");
    EXPECT_TRUE(ask(folders[0], "status").contains("inputs 0x0008"));
    EXPECT_TRUE(ask(folders[1], "status").contains("inputs 0x0000"));
    EXPECT_FALSE(QFile::exists("/tmp/" + name));
    sims.clear();
    QFile::remove("/tmp/" + name);
}

TEST_F(IOLinkTest, OutputsReachTheLineWithInversionAndCoupling)
{
    startSim();
    startPort(fastTiming(), 0x0004);  // output 2 on while idle
    ASSERT_GE(sim->waitForWord(0x0004), 0) << "the idle word goes out first";

    port->IOSetOut(0, 1);
    port->IOFlashOut();
    ASSERT_GE(sim->waitForWord(0x0005), 0);

    // Without IOFlashOut the change still goes out at the next event-loop turn.
    port->IOSetOut(2, 1);
    ASSERT_GE(sim->waitForWord(0x0001), 0);
    EXPECT_EQ(port->IOGetOut(2), 1);
    EXPECT_EQ(port->outputWord(), 0x0005);

    // Output 3 follows output 1 when so configured.
    port->setOutput4Use(2);
    port->IOSetOut(1, 1);
    port->IOFlashOut();
    ASSERT_GE(sim->waitForWord(0x000B), 0);
    EXPECT_TRUE(waitFor([&] { return port->ioThread()->stats().boardOutputs == 0x000B; }));

    // Out-of-range outputs are ignored.
    port->IOSetOut(16, 1);
    port->IOSetOut(-1, 1);
    EXPECT_EQ(port->outputWord(), 0x000F);
}

TEST_F(IOLinkTest, PulseOutputsEndAfterTheirLength)
{
    startSim();
    startPort();
    ASSERT_TRUE(waitFor([&] { return port->isLinkUp(); }));

    port->IOPulseOut(1, 1, 2);  // 0.2 s
    const int on = sim->waitForWord(0x0002);
    ASSERT_GE(on, 0);
    const int off = sim->waitForWord(0x0000, 3000, on + 1);
    ASSERT_GE(off, 0);
    const qint64 length = sim->records()[off].monotonicMs - sim->records()[on].monotonicMs;
    EXPECT_GE(length, 170);
    EXPECT_LE(length, 450);
    EXPECT_EQ(port->pendingOutputChanges(), 0);

    // A new pulse of the same output restarts it instead of being cut by the old end.
    port->IOPulseOut(0, 1, 3);
    const int first = sim->waitForWord(0x0001, 3000, off + 1);
    ASSERT_GE(first, 0);
    settle(150);
    port->IOPulseOut(0, 1, 3);
    const int end = sim->waitForWord(0x0000, 3000, first + 1);
    ASSERT_GE(end, 0);
    EXPECT_GE(sim->records()[end].monotonicMs - sim->records()[first].monotonicMs, 400);
}

TEST(ControlPortOutputs, DeferredChangesApplyInOrderWithoutALink)
{
    ControlPort port;
    port.IODelayOut(5, 1, 40);
    port.IODelayOut(5, 0, 40);  // same moment: applied after the first
    port.IODelayOut(6, 1, 10);
    EXPECT_EQ(port.pendingOutputChanges(), 3);
    EXPECT_TRUE(waitFor([&] { return port.pendingOutputChanges() == 0; }, 2000));
    EXPECT_EQ(port.IOGetOut(5), 0);
    EXPECT_EQ(port.IOGetOut(6), 1);

    port.IOPulseOut(7, 1, 0);  // no length: stays on
    settle(50);
    EXPECT_EQ(port.IOGetOut(7), 1);
    EXPECT_EQ(port.pendingOutputChanges(), 0);

    port.IOPulseOut(8, 0, 1);  // inverse pulse: off now, on afterwards
    EXPECT_EQ(port.IOGetOut(8), 0);
    EXPECT_TRUE(waitFor([&] { return port.IOGetOut(8) == 1; }, 2000));
    port.IODelayOut(99, 1, 0);
    EXPECT_EQ(port.pendingOutputChanges(), 0);
}

namespace {

// The main window as the pulse ends see it: a mask of outputs held on.
class HoldingWindow : public MainWindowBase
{
public:
    bool isOutputHeld(int output) const override { return output >= 0 && (held & (1u << output)); }
    unsigned held = 0;
};

} // namespace

TEST(ControlPortOutputs, PulseEndLeavesAnOutputAnInterlockTookOver)
{
    HoldingWindow window;
    struct Restore { MainWindowBase* saved = gpWin; ~Restore() { gpWin = saved; } } restore;
    gpWin = &window;
    ControlPort port;

    // An NG pulse on the clamp; the stop interlock takes the clamp over before it ends.
    port.IOPulseOut(0, 1, 1);
    EXPECT_TRUE(port.isPulsing(0));
    EXPECT_FALSE(port.isPulsing(1));
    window.held = 1u << 0;
    port.IOSetOut(0, 1);
    EXPECT_TRUE(waitFor([&] { return !port.isPulsing(0); }, 2000));
    EXPECT_EQ(port.IOGetOut(0), 1) << "the interlock still holds the clamp";
    window.held = 0;

    // Without a holder the pulse ends as it should; an inverse pulse ends on even when held.
    port.IOPulseOut(1, 1, 1);
    port.IOPulseOut(2, 0, 1);
    window.held = 1u << 2;
    EXPECT_TRUE(waitFor([&] { return port.pendingOutputChanges() == 0; }, 2000));
    EXPECT_EQ(port.IOGetOut(1), 0);
    EXPECT_EQ(port.IOGetOut(2), 1);

    // Output 3 switched with output 0 pulses with it.
    port.setOutput4Use(1);
    port.IOPulseOut(0, 1, 1);
    EXPECT_TRUE(port.isPulsing(3));
    EXPECT_FALSE(port.isPulsing(-1));
    EXPECT_FALSE(port.isPulsing(ControlPort::kOutputCount));
    window.held = 0;
    EXPECT_TRUE(waitFor([&] { return !port.isPulsing(3); }, 2000));
    EXPECT_EQ(port.IOGetOut(0), 0);
    EXPECT_EQ(port.IOGetOut(3), 0);
}

// A GUI thread that has not looked for a long time finds the newest pulses: the ones beyond
// the queue's room are the oldest, and the rest keep the order and times they rose at.
TEST(ControlPortInputs, AFullPulseQueueDropsItsOldestPulse)
{
    ControlPort port;
    auto seen = [&](int word, qint64 at) {
        QMetaObject::invokeMethod(&port, "SlotInputsSeen", Qt::DirectConnection, Q_ARG(int, word), Q_ARG(qint64, at));
    };
    const int extra = 5;
    const int pulses = ControlPort::kMaxLatchedPulses + extra;
    for (int n = 0; n < pulses; ++n) {
        seen(1 << 2, 1000 + 10 * n);
        seen(0, 1000 + 10 * n + 4);
    }
    const qint64 now = 1000 + 10 * pulses;
    std::vector<qint64> rises;
    qint64 rose = -1;
    while (port.hasSteadyTrigger(2, 3, now, &rose)) {
        rises.push_back(rose);
        ASSERT_TRUE(port.takeSteadyTrigger(2, 3, now));
    }
    ASSERT_EQ(int(rises.size()), ControlPort::kMaxLatchedPulses);
    for (int i = 0; i < int(rises.size()); ++i)
        EXPECT_EQ(rises[size_t(i)], 1000 + 10 * (i + extra)) << "pulse " << i << " taken";
    EXPECT_FALSE(port.hasTrigger(2));
}

TEST(ControlPortOutputs, PortPathAndGlobalPointer)
{
    const QByteArray saved = qgetenv(ControlPort::kDeviceOverrideEnv);
    qunsetenv(ControlPort::kDeviceOverrideEnv);
    EXPECT_EQ(ControlPort::devicePathForPort(3), "/dev/ttyS3");
    qputenv(ControlPort::kDeviceOverrideEnv, "/tmp/some-pty");
    EXPECT_EQ(ControlPort::devicePathForPort(3), "/tmp/some-pty");
    if (saved.isEmpty())
        qunsetenv(ControlPort::kDeviceOverrideEnv);
    else
        qputenv(ControlPort::kDeviceOverrideEnv, saved);

    IOThread::Timing defaults;
    EXPECT_EQ(defaults.intervalMs, 5);
    EXPECT_EQ(defaults.watchdogMs, 11000);

    auto port = std::make_unique<ControlPort>();
    gpControlIO = port.get();
    gpControlIO->IOSetOut(4, 1);  // reachable through the shared interface
    EXPECT_EQ(port->IOGetOut(4), 1);
    EXPECT_EQ(ControlPort::fromGlobal(), port.get());
    port->IOPulseOut(5, 1, 2000000000);  // absurd length: no overflow into an immediate end
    settle(20);
    EXPECT_EQ(port->IOGetOut(5), 1);
    EXPECT_EQ(port->pendingOutputChanges(), 1);
    port.reset();
    EXPECT_EQ(gpControlIO, nullptr) << "no dangling global after the port is gone";
}

TEST(ControlPortOutputs, ConfiguredFromTheParameterRecord)
{
    const QByteArray saved = qgetenv(ControlPort::kDeviceOverrideEnv);
    qunsetenv(ControlPort::kDeviceOverrideEnv);
    WizardPara para;
    para.ioPort = 2;
    para.outInitState[2] = 1;  // alarm output on while idle
    para.outInitState[8] = 1;
    para.output4Use = 1;       // output 3 with output 0
    para.input4Use = 3;        // input 3 also as input 2
    ControlPort port;
    port.configure(para);
    if (!saved.isEmpty())
        qputenv(ControlPort::kDeviceOverrideEnv, saved);

    EXPECT_EQ(port.devicePath(), "/dev/ttyS2");
    EXPECT_EQ(port.lineOutputWord(), 0x0104);
    port.IOSetOut(0, 1);
    port.IOSetOut(2, 1);
    EXPECT_EQ(port.outputWord(), 0x000D);
    EXPECT_EQ(port.lineOutputWord(), 0x0109);
}

TEST_F(IOLinkTest, WatchdogSilencesTheLinkUntilStampedAgain)
{
    startSim();
    IOThread::Timing timing = fastTiming();
    timing.watchdogMs = 300;
    startPort(timing);
    ASSERT_TRUE(waitFor([&] { return port->isLinkUp(); }));
    ASSERT_TRUE(port->ioThread()->isTalking());

    // No stamps: the thread falls silent after the watchdog time and stays silent.
    ASSERT_TRUE(waitFor([&] { return !port->ioThread()->isTalking(); }, 2000));
    settle(30);
    const quint64 framesAtStop = sim->frames();
    settle(200);
    EXPECT_LE(sim->frames(), framesAtStop + 1);
    EXPECT_EQ(linkDrops, 0) << "a silenced link is not a lost board";

    // Stamps bring it back.
    QTimer stamper;
    QObject::connect(&stamper, &QTimer::timeout, [&] { port->stampWatchdog(); });
    stamper.start(50);
    ASSERT_TRUE(waitFor([&] { return port->ioThread()->isTalking(); }));
    const quint64 framesAgain = sim->frames();
    settle(200);
    EXPECT_GT(sim->frames(), framesAgain + 10);

    // Clearing the flag silences it at once despite fresh stamps.
    port->setWatchdogFlag(false);
    ASSERT_TRUE(waitFor([&] { return !port->ioThread()->isTalking(); }, 200));
    // Set again (a shutdown that returned): the board is served again.
    port->setWatchdogFlag(true);
    ASSERT_TRUE(waitFor([&] { return port->ioThread()->isTalking(); }));
    const quint64 framesBack = sim->frames();
    settle(200);
    EXPECT_GT(sim->frames(), framesBack + 10);
}

TEST_F(IOLinkTest, ReopensAfterTheDeviceDisappearsAndResendsOutputs)
{
    startSim();
    startPort();
    port->IOSetOut(3, 1);
    port->IOFlashOut();
    ASSERT_GE(sim->waitForWord(0x0008), 0);
    ASSERT_TRUE(waitFor([&] { return port->isLinkUp(); }));

    sim->stop();  // the terminal vanishes
    ASSERT_TRUE(waitFor([&] { return !port->isLinkUp(); }));
    EXPECT_GE(port->ioThread()->stats().lostReopens, 1u);
    port->IOSetOut(4, 1);
    port->IOFlashOut();
    settle(150);  // a few failed reopen attempts

    const int before = sim->records().size();
    startSim();
    const int resent = sim->waitForWord(0x0018, 3000, before);
    ASSERT_GE(resent, 0) << "outputs set before and during the outage reach the new board";
    EXPECT_EQ(resent, before) << "and they are the first word it sees";
    ASSERT_TRUE(waitFor([&] { return port->isLinkUp(); }));
    EXPECT_GE(port->ioThread()->stats().opens, 2u);
    EXPECT_EQ(sim->command("in 1 1"), "ok");
    ASSERT_TRUE(waitFor([&] { return port->IOGetIn(1) == 1; }));
}

TEST_F(IOLinkTest, BoardThatStopsAnsweringIsReopened)
{
    startSim();
    startPort();
    port->IOSetOut(0, 1);
    port->IOFlashOut();
    EXPECT_EQ(sim->command("in 0 1"), "ok");
    ASSERT_TRUE(waitFor([&] { return port->takeTrigger(0); }));
    const int events = inputEvents.size();

    EXPECT_EQ(sim->command("mute 1"), "ok");
    ASSERT_TRUE(waitFor([&] { return !port->isLinkUp(); }));
    EXPECT_GE(port->ioThread()->stats().noAnswerReopens, 1u);
    EXPECT_EQ(sim->command("mute 0"), "ok");
    ASSERT_TRUE(waitFor([&] { return port->isLinkUp(); }));
    EXPECT_TRUE(sim->command("status").startsWith("ok outputs 0x0001"));
    // The input held high through the outage is no new edge: no phantom trigger.
    settle(50);
    EXPECT_EQ(inputEvents.size(), events);
    EXPECT_FALSE(port->hasTrigger(0));
    EXPECT_EQ(port->IOGetIn(0), 1);
}

TEST_F(IOLinkTest, GarbageAndBadSumsAreDroppedAndCounted)
{
    startSim();
    startPort();
    EXPECT_EQ(sim->command("in 0 1"), "ok");
    ASSERT_TRUE(waitFor([&] { return port->IOGetIn(0) == 1; }));
    const int eventsBefore = inputEvents.size();

    EXPECT_EQ(sim->command("badsum 20"), "ok");
    EXPECT_EQ(sim->command("garbage 300"), "ok");
    ASSERT_TRUE(waitFor([&] {
        const IOThread::Stats s = port->ioThread()->stats();
        return s.badSums >= 20 && s.skippedBytes >= 300;
    }));
    settle(100);
    EXPECT_EQ(inputEvents.size(), eventsBefore) << "no corrupted answer changed an input";
    EXPECT_EQ(port->IOGetIn(0), 1);
    EXPECT_EQ(linkDrops, 0);
    EXPECT_TRUE(port->isLinkUp());
}

TEST_F(IOLinkTest, MissingDeviceAtStartIsRetried)
{
    startPort();
    settle(200);
    EXPECT_FALSE(port->isLinkUp());
    port->IOSetOut(6, 1);
    startSim();
    ASSERT_GE(sim->waitForWord(0x0040), 0);
    EXPECT_TRUE(waitFor([&] { return port->isLinkUp(); }));
}

TEST_F(IOLinkTest, GuiThreadIsNeverHeldByTheLink)
{
    startSim();
    startPort();
    ASSERT_TRUE(waitFor([&] { return port->isLinkUp(); }));

    qint64 worstCallNs = 0;
    qint64 worstGapMs = 0;
    QElapsedTimer gap;
    gap.start();
    auto exercise = [&](int ms) {
        QDeadlineTimer deadline(ms);
        gap.restart();  // the simulator's own stop in between is no gap of the GUI thread
        while (!deadline.hasExpired()) {
            QElapsedTimer call;
            call.start();
            port->IOSetOut(1, int(gap.elapsed() / 10 % 2));
            port->IOFlashOut();
            port->stampWatchdog();
            worstCallNs = std::max(worstCallNs, call.nsecsElapsed());
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
            worstGapMs = std::max(worstGapMs, gap.restart());
            QThread::usleep(500);
        }
    };
    exercise(200);
    sim->command("mute 1");
    exercise(400);  // board silent, link reopening
    sim->stop();
    exercise(300);  // device gone
    // Far below the link's own time-outs, with room for a busy build machine.
    EXPECT_LT(worstCallNs, 100 * 1000 * 1000LL);
    EXPECT_LT(worstGapMs, 200);

    QElapsedTimer teardown;
    teardown.start();
    port.reset();
    EXPECT_LT(teardown.elapsed(), 500) << "stopping the IO thread does not hang";
}

TEST_F(IOLinkTest, ShutdownWhileInputsStreamLeavesNoSignalBehind)
{
    startSim();
    startPort();
    ASSERT_TRUE(waitFor([&] { return port->isLinkUp(); }));
    EXPECT_EQ(sim->command("auto 0 0.01 5"), "ok");
    ASSERT_TRUE(waitFor([&] { return inputEvents.size() >= 4; }));

    // Changes the IO thread queued but the GUI thread has not taken yet die with the port.
    QThread::msleep(50);
    QPointer<IOThread> thread = port->ioThread();
    port.reset();
    EXPECT_TRUE(thread.isNull());
    const int seen = inputEvents.size();
    settle(50);
    EXPECT_EQ(inputEvents.size(), seen);
}
