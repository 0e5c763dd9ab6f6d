#include "iothread.h"

#include "clock.h"
#include "globals.h"
#include "ioframe.h"
#include "serialport.h"

#include <QDebug>
#include <QMutex>
#include <QMutexLocker>

#include <thread>

namespace {

constexpr int kReadChunk = 256;
constexpr qint64 kNsPerMs = 1000000;

// Logs the first bad frame and then every tenfold count, so a noisy line cannot flood the log.
bool isLogWorthy(quint64 count)
{
    while (count >= 10 && count % 10 == 0)
        count /= 10;
    return count == 1;
}

void sleepUntilNs(qint64 deadlineNs)
{
    const qint64 left = deadlineNs - MonotonicClock::ns();
    if (left > 0)
        std::this_thread::sleep_for(std::chrono::nanoseconds(left));
}

// Chosen once per thread object: both sides must lock the same mutex even if
// pMutexIO is set after the object exists.
QMutex* ioMutex()
{
    static QMutex fallback;
    return pMutexIO ? pMutexIO : &fallback;
}

} // namespace

IOThread::IOThread(const QString& devicePath, QObject* parent)
    : QThread(parent)
    , m_devicePath(devicePath)
    , m_baud(SerialPort::kDefaultBaud)
    , m_mutex(ioMutex())
    , m_stampMs(MonotonicClock::ms())
{
}

IOThread::~IOThread()
{
    stop();
}

void IOThread::publishOutputs(quint16 word)
{
    QMutexLocker lock(m_mutex);
    m_outputs = word;
}

quint16 IOThread::publishedOutputs() const
{
    QMutexLocker lock(m_mutex);
    return m_outputs;
}

void IOThread::stampWatchdog()
{
    m_stampMs.store(MonotonicClock::ms());
}

bool IOThread::watchdogAlive(qint64 now) const
{
    return m_watchdogFlag.load() && now - m_stampMs.load() <= m_timing.watchdogMs;
}

IOThread::Stats IOThread::stats() const
{
    Stats s;
    s.framesSent = m_framesSent.load();
    s.framesReceived = m_framesReceived.load();
    s.badSums = m_badSums.load();
    s.skippedBytes = m_skippedBytes.load();
    s.opens = m_opens.load();
    s.noAnswerReopens = m_noAnswerReopens.load();
    s.lostReopens = m_lostReopens.load();
    s.boardOutputs = m_boardOutputs.load();
    return s;
}

void IOThread::stop()
{
    requestInterruption();
    wait();
}

void IOThread::setLinkUp(bool up)
{
    if (m_linkUp.exchange(up) != up)
        emit sigLinkChanged(up);
}

// The state of one run of the loop: the device, the answer decoder and the outage bookkeeping.
struct IOThread::Link
{
    SerialPort port;
    IOFrameDecoder decoder{IOFrame::kBoardFrameSize};
    quint16 lastInputs = 0;
    qint64 nextOpenAt = 0;
    qint64 lastAnswerAt = 0;
    qint64 lastReadAt = 0;      // the previous answer; 0 after an open or a silence of our own
    qint64 lastWordAt = 0;      // the last answer read, outages and silences included
    bool wordRead = false;      // lastWordAt tells one
    qint64 nextSendNs = 0;      // the board takes no command before this
    bool outageLogged = false;  // one warning per outage, however many reopens it takes
};

void IOThread::run()
{
    Link link;
    const int interval = std::max(1, m_timing.intervalMs);
    m_talking.store(false);

    for (;;) {
        // Here, not after the answer, so that no path of the loop can send sooner.
        sleepUntilNs(link.nextSendNs);
        if (isInterruptionRequested())
            break;
        const qint64 slotStart = MonotonicClock::ms();
        const qint64 slotEnd = slotStart + interval;

        if (!watchdogAlive(slotStart)) {
            // A watchdog switched off before a shutdown is no silent GUI thread.
            if (m_talking.exchange(false)) {
                if (m_watchdogFlag.load())
                    qWarning() << "IO watchdog: the GUI thread has not stamped for" << m_timing.watchdogMs
                               << "ms, no more commands to the IO board";
                else
                    qInfo() << "IO watchdog switched off, no more commands to the IO board";
            }
            sleepUntilNs(slotEnd * kNsPerMs);
            continue;
        }
        if (!m_talking.exchange(true)) {
            qInfo() << "IO thread talking to the IO board on" << m_devicePath;
            link.lastAnswerAt = slotStart;  // silence while muted is not the board's fault
            link.lastReadAt = 0;
            link.port.flush();
        }
        if (!openLink(link, slotStart, slotEnd))
            continue;
        if (!sendOutputs(link, interval))
            continue;
        if (!readAnswers(link, link.nextSendNs)) {
            closeLink(link, link.port.errorString(), m_lostReopens);
            continue;
        }
        const qint64 now = MonotonicClock::ms();
        if (now - link.lastAnswerAt > m_timing.answerTimeoutMs) {
            closeLink(link, QStringLiteral("no answer for %1 ms").arg(now - link.lastAnswerAt), m_noAnswerReopens);
            continue;
        }
    }
    link.port.close();
    m_talking.store(false);
    setLinkUp(false);
}

void IOThread::closeLink(Link& link, const QString& why, std::atomic<quint64>& counter)
{
    if (!link.outageLogged)
        qWarning().noquote() << "IO board link closed:" << why << "- reopening" << m_devicePath;
    link.outageLogged = true;
    link.port.close();
    link.decoder.clear();
    ++counter;
    setLinkUp(false);
    link.nextOpenAt = MonotonicClock::ms() + m_timing.reopenDelayMs;
}

// Opens the device when it is closed and its reopen time has come; false
// while it stays closed (the slot is then used up).
bool IOThread::openLink(Link& link, qint64 slotStart, qint64 slotEnd)
{
    if (link.port.isOpen())
        return true;
    if (slotStart < link.nextOpenAt) {
        sleepUntilNs(std::min(link.nextOpenAt, slotEnd) * kNsPerMs);
        return false;
    }
    if (!link.port.open(m_devicePath, m_baud)) {
        if (!link.outageLogged)
            qWarning().noquote() << "IO board port" << m_devicePath << "cannot be opened:" << link.port.errorString();
        link.outageLogged = true;
        link.nextOpenAt = slotStart + m_timing.reopenDelayMs;
        return false;
    }
    ++m_opens;
    link.decoder.clear();
    link.lastAnswerAt = slotStart;
    link.lastReadAt = 0;  // the outage has its own lines
    if (!link.outageLogged)
        qInfo().noquote() << "IO board port" << m_devicePath << "open";
    return true;
}

// Sends the published output word; false when the link was lost (and closed).
bool IOThread::sendOutputs(Link& link, int interval)
{
    const quint16 outputs = publishedOutputs();
    const SerialPort::Status sent = link.port.write(IOFrame::encodeHost({IOFrame::kCmdExchange, outputs}), interval);
    // Stamped once the write returned: a thread held up between a stamp and its
    // write (a busy machine) would otherwise leave the board less than the spacing.
    const qint64 sentNs = MonotonicClock::ns();
    link.nextSendNs = sentNs + interval * kNsPerMs;
    if (sent == SerialPort::Status::Lost || sent == SerialPort::Status::Error) {
        closeLink(link, link.port.errorString(), m_lostReopens);
        return false;
    }
    if (sent == SerialPort::Status::Ok) {
        ++m_framesSent;
        if (m_sendObserver)
            m_sendObserver(sentNs, outputs);
    }
    return true;
}

// A stalled machine (this thread not run, the board's answers late) leaves the
// inputs unread: a trigger that rose and fell meanwhile is gone without a trace
// but this line. Repeats are held by the log's limiter like any repeated line.
void IOThread::noteReadGap(Link& link)
{
    const qint64 gap = link.lastAnswerAt - link.lastReadAt;
    if (link.lastReadAt > 0 && gap > m_readGapWarningMs.load())
        qWarning().noquote()
            << QStringLiteral("IO board not read for %1 ms: a signal shorter than that may have been missed").arg(gap);
    link.lastReadAt = link.lastAnswerAt;
}

// Takes what the board sends until the next command is due, each answer as it
// arrives: a late answer left in the buffer would be taken after the next
// command as that command's answer, and every input change after it would come
// one command (5 ms) late. Publishes input changes; false when the device was
// lost.
bool IOThread::readAnswers(Link& link, qint64 deadlineNs)
{
    for (;;) {
        QByteArray bytes;
        const SerialPort::Status got = link.port.readUntil(&bytes, kReadChunk, deadlineNs);
        if (got == SerialPort::Status::Lost || got == SerialPort::Status::Error)
            return false;
        if (got == SerialPort::Status::Timeout)
            return true;
        link.decoder.feed(bytes);
        QByteArray frame;
        while (link.decoder.takeFrame(&frame)) {
            const IOFrame::BoardFrame answer = IOFrame::decodeBoard(frame);
            if (answer.command != IOFrame::kCmdExchange)
                continue;
            ++m_framesReceived;
            link.lastAnswerAt = MonotonicClock::ms();
            noteReadGap(link);
            if (link.outageLogged)
                qInfo().noquote() << "IO board answering again on" << m_devicePath;
            link.outageLogged = false;
            setLinkUp(true);
            m_boardOutputs.store(answer.outputs);
            if (answer.inputs != link.lastInputs) {
                link.lastInputs = answer.inputs;
                // The change came after the answer before, which still showed the old word.
                emit sigIOChange(int(answer.inputs), link.lastAnswerAt,
                                 link.wordRead ? link.lastWordAt : link.lastAnswerAt);
            }
            link.lastWordAt = link.lastAnswerAt;
            link.wordRead = true;
        }
        const quint64 bad = link.decoder.badSums();
        if (bad != m_badSums.load()) {
            m_badSums.store(bad);
            if (isLogWorthy(bad))
                qWarning() << "IO board answer with a bad sum dropped, total" << bad;
        }
        m_skippedBytes.store(link.decoder.skippedBytes());
        // A line that never falls silent must not hold the next command back.
        if (MonotonicClock::ns() >= deadlineNs)
            return true;
    }
}
