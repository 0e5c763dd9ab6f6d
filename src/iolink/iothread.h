#pragma once

#include <QString>
#include <QThread>

#include <atomic>
#include <functional>
#include <utility>

class QMutex;

// The only code that talks to the IO board. Every 5 ms it sends the published
// output word; between commands it reads the board's answers as they arrive,
// and a change of the input word reaches the GUI thread as the queued signal
// sigIOChange. The board takes no command sooner than 5 ms after the previous
// one, so a changed output word rides on the next command the spacing allows.
// The link reopens by itself when the device disappears or the board stops
// answering, and the first frame after a reopen carries the current output word
// again. The thread stops talking while the GUI thread has not stamped the
// watchdog for 11 s. The GUI thread only ever takes pMutexIO for a word copy,
// never waits on IO.
class IOThread : public QThread
{
    Q_OBJECT
public:
    struct Timing
    {
        int intervalMs = 5;          // one command per interval
        int watchdogMs = 11000;      // silence after this long without a stamp
        int answerTimeoutMs = 1000;  // no valid answer this long: reopen
        int reopenDelayMs = 1000;    // between attempts to open the device
    };

    struct Stats
    {
        quint64 framesSent = 0;
        quint64 framesReceived = 0;
        quint64 badSums = 0;        // answers dropped for a wrong sum
        quint64 skippedBytes = 0;   // bytes that were no part of a valid answer
        quint64 opens = 0;          // successful opens of the device
        quint64 noAnswerReopens = 0;
        quint64 lostReopens = 0;    // device hung up or vanished
        quint16 boardOutputs = 0;   // output word the board last reported applied
    };

    explicit IOThread(const QString& devicePath, QObject* parent = nullptr);
    ~IOThread() override;

    // Called in the IO thread for each command with the moment its write returned
    // (MonotonicClock::ns; the next command waits one interval from it) and its word.
    using SendObserver = std::function<void(qint64 sentNs, quint16 word)>;

    // Before start().
    void setTiming(const Timing& timing) { m_timing = timing; }
    void setSendObserver(SendObserver observer) { m_sendObserver = std::move(observer); }
    void setBaud(int baud) { m_baud = baud; }
    // Any time: a wait longer than this between two answers of the board is logged,
    // since an input pulse shorter than the wait may have come and gone unseen.
    void setReadGapWarningMs(int ms) { m_readGapWarningMs.store(ms); }
    QString devicePath() const { return m_devicePath; }

    // The output word the thread sends (line state). Called by ControlPort::IOFlashOut.
    void publishOutputs(quint16 word);
    quint16 publishedOutputs() const;

    // Any thread: the GUI thread proves it is alive.
    void stampWatchdog();
    // Cleared: the thread stops talking at once (before a reboot or power-off).
    void setWatchdogFlag(bool on) { m_watchdogFlag.store(on); }
    bool isTalking() const { return m_talking.load(); }
    bool isLinkUp() const { return m_linkUp.load(); }

    Stats stats() const;

    // Asks the loop to end and waits for it (at most a few intervals).
    void stop();

signals:
    // seenAtMs: the monotonic time the answer carrying the change was read;
    // lastReadMs: the answer before it (the change came after that one).
    void sigIOChange(int inputWord, qint64 seenAtMs, qint64 lastReadMs);
    void sigLinkChanged(bool up);

protected:
    void run() override;

private:
    struct Link;
    bool openLink(Link& link, qint64 slotStart, qint64 slotEnd);
    bool sendOutputs(Link& link, int interval);
    bool readAnswers(Link& link, qint64 deadlineNs);
    void closeLink(Link& link, const QString& why, std::atomic<quint64>& counter);
    void noteReadGap(Link& link);
    bool watchdogAlive(qint64 now) const;
    void setLinkUp(bool up);

    const QString m_devicePath;
    Timing m_timing;
    int m_baud;
    SendObserver m_sendObserver;

    QMutex* const m_mutex;  // pMutexIO
    quint16 m_outputs = 0;  // under m_mutex
    std::atomic<qint64> m_stampMs;
    std::atomic<bool> m_watchdogFlag{true};
    std::atomic<bool> m_talking{false};
    std::atomic<bool> m_linkUp{false};
    std::atomic<int> m_readGapWarningMs{50};

    std::atomic<quint64> m_framesSent{0};
    std::atomic<quint64> m_framesReceived{0};
    std::atomic<quint64> m_badSums{0};
    std::atomic<quint64> m_skippedBytes{0};
    std::atomic<quint64> m_opens{0};
    std::atomic<quint64> m_noAnswerReopens{0};
    std::atomic<quint64> m_lostReopens{0};
    std::atomic<quint16> m_boardOutputs{0};
};
