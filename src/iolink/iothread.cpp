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

// Logs the first bad frame and then every tenfold count, so a noisy line cannot flood the log.
bool isLogWorthy(quint64 count)
{
    while (count >= 10 && count % 10 == 0)
        count /= 10;
    return count == 1;
}

void sleepUntil(qint64 deadlineMs)
{
    const qint64 left = deadlineMs - MonotonicClock::ms();
    if (left > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(left));
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

void IOThread::run()
{
    SerialPort port;
    IOFrameDecoder decoder(IOFrame::kBoardFrameSize);
    quint16 lastInputs = 0;
    qint64 nextOpenAt = 0;
    qint64 lastAnswerAt = 0;
    bool outageLogged = false;  // one warning per outage, however many reopens it takes
    const int interval = std::max(1, m_timing.intervalMs);
    m_talking.store(false);

    auto closeLink = [&](const QString& why, std::atomic<quint64>& counter) {
        if (!outageLogged)
            qWarning().noquote() << "IO board link closed:" << why << "- reopening" << m_devicePath;
        outageLogged = true;
        port.close();
        decoder.clear();
        ++counter;
        setLinkUp(false);
        nextOpenAt = MonotonicClock::ms() + m_timing.reopenDelayMs;
    };

    while (!isInterruptionRequested()) {
        const qint64 slotStart = MonotonicClock::ms();
        const qint64 slotEnd = slotStart + interval;

        if (!watchdogAlive(slotStart)) {
            if (m_talking.exchange(false))
                qWarning() << "IO watchdog: the GUI thread has not stamped for" << m_timing.watchdogMs
                           << "ms, no more commands to the IO board";
            sleepUntil(slotEnd);
            continue;
        }
        if (!m_talking.exchange(true)) {
            qInfo() << "IO thread talking to the IO board on" << m_devicePath;
            lastAnswerAt = slotStart;  // silence while muted is not the board's fault
            port.flush();
        }

        if (!port.isOpen()) {
            if (slotStart < nextOpenAt) {
                sleepUntil(std::min(nextOpenAt, slotEnd));
                continue;
            }
            if (!port.open(m_devicePath, m_baud)) {
                if (!outageLogged)
                    qWarning().noquote() << "IO board port" << m_devicePath << "cannot be opened:" << port.errorString();
                outageLogged = true;
                nextOpenAt = slotStart + m_timing.reopenDelayMs;
                continue;
            }
            ++m_opens;
            decoder.clear();
            lastAnswerAt = slotStart;
            if (!outageLogged)
                qInfo().noquote() << "IO board port" << m_devicePath << "open";
        }

        const quint16 outputs = publishedOutputs();
        const SerialPort::Status sent = port.write(IOFrame::encodeHost({IOFrame::kCmdExchange, outputs}),
                                                   interval);
        if (sent == SerialPort::Status::Lost || sent == SerialPort::Status::Error) {
            closeLink(port.errorString(), m_lostReopens);
            continue;
        }
        if (sent == SerialPort::Status::Ok)
            ++m_framesSent;

        bool answered = false;
        bool lost = false;
        while (!answered && !lost) {
            const int left = int(slotEnd - MonotonicClock::ms());
            QByteArray bytes;
            const SerialPort::Status got = port.read(&bytes, kReadChunk, std::max(left, 0));
            if (got == SerialPort::Status::Lost || got == SerialPort::Status::Error) {
                lost = true;
                break;
            }
            decoder.feed(bytes);
            QByteArray frame;
            while (decoder.takeFrame(&frame)) {
                const IOFrame::BoardFrame answer = IOFrame::decodeBoard(frame);
                if (answer.command != IOFrame::kCmdExchange)
                    continue;
                answered = true;
                ++m_framesReceived;
                m_boardOutputs.store(answer.outputs);
                if (answer.inputs != lastInputs) {
                    lastInputs = answer.inputs;
                    emit sigIOChange(int(answer.inputs));
                }
            }
            const quint64 bad = decoder.badSums();
            if (bad != m_badSums.load()) {
                m_badSums.store(bad);
                if (isLogWorthy(bad))
                    qWarning() << "IO board answer with a bad sum dropped, total" << bad;
            }
            m_skippedBytes.store(decoder.skippedBytes());
            if (got == SerialPort::Status::Timeout || left <= 0)
                break;
        }
        if (lost) {
            closeLink(port.errorString(), m_lostReopens);
            continue;
        }

        const qint64 now = MonotonicClock::ms();
        if (answered) {
            lastAnswerAt = now;
            if (outageLogged)
                qInfo().noquote() << "IO board answering again on" << m_devicePath;
            outageLogged = false;
            setLinkUp(true);
        } else if (now - lastAnswerAt > m_timing.answerTimeoutMs) {
            closeLink(QStringLiteral("no answer for %1 ms").arg(now - lastAnswerAt), m_noAnswerReopens);
            continue;
        }
        sleepUntil(slotEnd);
    }
    port.close();
    m_talking.store(false);
    setLinkUp(false);
}
