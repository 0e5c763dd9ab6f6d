#include "controlport.h"

#include "clock.h"
#include "devicefile.h"
#include "globals.h"
#include "mainwindowbase.h"
#include "wizardpara.h"

#include <QDebug>
#include <QMetaObject>
#include <QMutex>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <iterator>

namespace {

constexpr qint64 kMaxTimerWaitMs = 3600 * 1000;
constexpr int kCoupledOutput = 3;  // output 4 of the board, switched with another when so configured

quint16 bit(int n)
{
    return quint16(1u << n);
}

} // namespace

ControlPort::ControlPort(QObject* parent)
    : QObject(parent)
    , m_devicePath(devicePathForPort(0))
    , m_pulseTimer(new QTimer(this))
{
    // main creates the IO mutex first; a test or tool without main still gets one.
    if (!pMutexIO) {
        static QMutex ownMutex;
        pMutexIO = &ownMutex;
    }
    m_pulseTimer->setSingleShot(true);
    m_pulseTimer->setTimerType(Qt::PreciseTimer);
    connect(m_pulseTimer, &QTimer::timeout, this, &ControlPort::SlotPulseTimeout);
}

ControlPort::~ControlPort()
{
    if (m_thread)
        m_thread->stop();
    if (gpControlIO == this)
        gpControlIO = nullptr;
}

ControlPort* ControlPort::fromGlobal()
{
    return dynamic_cast<ControlPort*>(gpControlIO);
}

QString ControlPort::devicePathForPort(int port)
{
    const QString override = qEnvironmentVariable(kDeviceOverrideEnv);
    if (!override.isEmpty())
        return override;
    return QString::fromLatin1(kPortPattern).arg(port);
}

bool ControlPort::validOutput(int output)
{
    if (output >= 0 && output < kOutputCount)
        return true;
    DeviceFile::logOnce(QStringLiteral("ioout:%1").arg(output),
                        QStringLiteral("IO output %1 does not exist, ignored").arg(output));
    return false;
}

void ControlPort::IOSetOut(int output, int state)
{
    if (!validOutput(output))
        return;
    const quint16 before = m_outputs;
    auto apply = [this](int n, int s) { m_outputs = s ? quint16(m_outputs | bit(n)) : quint16(m_outputs & ~bit(n)); };
    apply(output, state);
    if (isCoupledToOutput4(output))
        apply(kCoupledOutput, state);
    // Reaches the thread at the next event-loop turn even if the caller never flashes.
    if (m_outputs != before && !m_flushQueued) {
        m_flushQueued = true;
        QMetaObject::invokeMethod(this, [this] { if (m_flushQueued) IOFlashOut(); }, Qt::QueuedConnection);
    }
}

void ControlPort::IOFlashOut()
{
    m_flushQueued = false;
    if (m_thread)
        m_thread->publishOutputs(lineOutputWord());
}

bool ControlPort::isCoupledToOutput4(int output) const
{
    return m_output4Use >= 1 && m_output4Use <= 3 && output == m_output4Use - 1;
}

bool ControlPort::isPulsing(int output) const
{
    if (output < 0 || output >= kOutputCount)
        return false;
    return std::any_of(m_deferred.begin(), m_deferred.end(), [this, output](const Deferred& d) {
        return d.info.output == output || (output == kCoupledOutput && isCoupledToOutput4(d.info.output));
    });
}

int ControlPort::IOGetOut(int output) const
{
    if (output < 0 || output >= kOutputCount)
        return 0;
    return (m_outputs & bit(output)) ? 1 : 0;
}

void ControlPort::configure(const WizardPara& para)
{
    setPortNumber(para.ioPort);
    quint16 inversion = 0;
    for (int n = 0; n < int(std::size(para.outInitState)); ++n) {
        if (para.outInitState[n])
            inversion = quint16(inversion | bit(n));
    }
    setOutput4Use(para.output4Use);
    setInput4Use(para.input4Use);
    setOutputInversion(inversion);
    setReadGapWarningMs(int(std::min<qint64>(qMax(0, para.shakeEraseTime) * qint64(kPulseTickMs), INT_MAX)));
}

void ControlPort::setReadGapWarningMs(int ms)
{
    m_readGapWarningMs = std::max(ms, int(kMinReadGapWarningMs));
    if (m_thread)
        m_thread->setReadGapWarningMs(m_readGapWarningMs);
}

void ControlPort::setOutputInversion(quint16 mask)
{
    m_inversion = mask;
    IOFlashOut();
}

void ControlPort::IOPulseOut(int output, int state, int tenths)
{
    if (!validOutput(output))
        return;
    m_deferred.erase(std::remove_if(m_deferred.begin(), m_deferred.end(),
                                    [output](const Deferred& d) { return d.info.output == output; }),
                     m_deferred.end());
    IOSetOut(output, state);
    IOFlashOut();
    if (tenths > 0)
        schedule(output, state ? 0 : 1, qint64(tenths) * kPulseTickMs);
    armPulseTimer();
}

void ControlPort::IODelayOut(int output, int state, int delayMs)
{
    if (!validOutput(output))
        return;
    schedule(output, state, std::max(delayMs, 0));
    armPulseTimer();
}

void ControlPort::schedule(int output, int state, qint64 delayMs)
{
    Deferred entry{MonotonicClock::ms() + delayMs, ++m_sequence, stru_outputInfo{output, state}};
    const auto later = std::upper_bound(m_deferred.begin(), m_deferred.end(), entry, [](const Deferred& a, const Deferred& b) {
        return a.dueMs < b.dueMs || (a.dueMs == b.dueMs && a.sequence < b.sequence);
    });
    m_deferred.insert(later, entry);
}

void ControlPort::armPulseTimer()
{
    if (m_deferred.empty()) {
        m_pulseTimer->stop();
        return;
    }
    // A far-off change re-arms the timer when the capped wait ends.
    const qint64 wait = m_deferred.front().dueMs - MonotonicClock::ms();
    m_pulseTimer->start(int(std::clamp<qint64>(wait, 0, kMaxTimerWaitMs)));
}

void ControlPort::SlotPulseTimeout()
{
    const qint64 now = MonotonicClock::ms();
    bool changed = false;
    while (!m_deferred.empty() && m_deferred.front().dueMs <= now) {
        const stru_outputInfo info = m_deferred.front().info;
        m_deferred.erase(m_deferred.begin());
        // A pulse must not cut an interlock that took the output over meanwhile.
        if (!info.state && gpWin && gpWin->isOutputHeld(info.output)) {
            qInfo() << "IO output" << info.output << "held on: its pulse end is dropped";
            continue;
        }
        IOSetOut(info.output, info.state);
        changed = true;
    }
    if (changed)
        IOFlashOut();
    armPulseTimer();
}

int ControlPort::IOGetIn(int input) const
{
    if (input < 0 || input >= kInputCount)
        return 0;
    return (m_inputs & bit(input)) ? 1 : 0;
}

qint64 ControlPort::inputChangedAt(int input) const
{
    if (input < 0 || input >= kInputCount)
        return 0;
    return m_inputChangedAt[input];
}

bool ControlPort::takeTrigger(int input)
{
    return takeSteadyTrigger(input, 0, MonotonicClock::ms());
}

bool ControlPort::takeSteadyTrigger(int input, qint64 steadyMs, qint64 nowMs)
{
    if (!hasSteadyTrigger(input, steadyMs, nowMs))
        return false;
    m_pulses[input].pop_front();
    return true;
}

bool ControlPort::hasSteadyTrigger(int input, qint64 steadyMs, qint64 nowMs, qint64* roseAt)
{
    if (input < 0 || input >= kInputCount)
        return false;
    std::deque<Pulse>& pulses = m_pulses[input];
    while (!pulses.empty()) {
        const Pulse pulse = pulses.front();
        const qint64 lasted = (pulse.high ? nowMs : pulse.fellAt) - pulse.roseAt;
        if (lasted >= steadyMs) {
            if (roseAt)
                *roseAt = pulse.earliest;
            return true;
        }
        if (pulse.high)
            return false;  // it may yet become steady
        pulses.pop_front();  // a flicker on the line
    }
    return false;
}

qint64 ControlPort::steadyAt(int input, qint64 steadyMs) const
{
    if (input < 0 || input >= kInputCount || m_pulses[input].empty() || !m_pulses[input].front().high)
        return -1;
    return m_pulses[input].front().roseAt + steadyMs;
}

bool ControlPort::hasTrigger(int input) const
{
    return input >= 0 && input < kInputCount && !m_pulses[input].empty();
}

void ControlPort::clearTriggers()
{
    for (std::deque<Pulse>& pulses : m_pulses)
        pulses.clear();
}

void ControlPort::SlotIOChange(int rawInputs)
{
    SlotInputsSeen(rawInputs, MonotonicClock::ms());
}

void ControlPort::SlotInputsSeen(int rawInputs, qint64 seenAtMs, qint64 lastReadMs)
{
    m_rawInputs = quint16(rawInputs);
    quint16 inputs = m_rawInputs;
    if (m_input4Use >= 1 && m_input4Use <= 3 && (inputs & bit(3)))
        inputs = quint16(inputs | bit(m_input4Use - 1));
    const quint16 changed = quint16(inputs ^ m_inputs);
    if (!changed)
        return;
    for (int n = 0; n < kInputCount; ++n) {
        if (!(changed & bit(n)))
            continue;
        m_inputChangedAt[n] = seenAtMs;
        std::deque<Pulse>& pulses = m_pulses[n];
        if (inputs & bit(n)) {
            if (int(pulses.size()) >= kMaxLatchedPulses) {
                qWarning().noquote() << QStringLiteral("input %1: more than %2 pulses not taken, the oldest dropped")
                                            .arg(n + 1)
                                            .arg(kMaxLatchedPulses);
                pulses.pop_front();
            }
            pulses.push_back(Pulse{seenAtMs, seenAtMs, true, qMin(lastReadMs == kUnknownRead ? seenAtMs : lastReadMs, seenAtMs)});
        } else if (!pulses.empty() && pulses.back().high) {
            pulses.back().fellAt = qMax(seenAtMs, pulses.back().roseAt);
            pulses.back().high = false;
        }
    }
    m_inputs = inputs;
    emit sigIOChange(int(inputs));
}

int ControlPort::appliedOut(int output) const
{
    if (!m_thread)
        return IOGetOut(output);
    if (output < 0 || output >= kOutputCount)
        return 0;
    const quint16 logical = quint16(m_thread->stats().boardOutputs ^ m_inversion);
    return (logical & bit(output)) ? 1 : 0;
}

void ControlPort::SlotLinkChanged(bool up)
{
    m_linkUp = up;
    emit sigLinkChanged(up);
}

void ControlPort::InitIOThread()
{
    if (m_thread)
        return;
    m_thread = std::make_unique<IOThread>(m_devicePath);
    m_thread->setTiming(m_timing);
    m_thread->setReadGapWarningMs(m_readGapWarningMs);
    m_thread->setWatchdogFlag(m_watchdogFlag);
    connect(m_thread.get(), &IOThread::sigIOChange, this, &ControlPort::SlotInputsSeen, Qt::QueuedConnection);
    connect(m_thread.get(), &IOThread::sigLinkChanged, this, &ControlPort::SlotLinkChanged, Qt::QueuedConnection);
    m_thread->publishOutputs(lineOutputWord());
    m_thread->stampWatchdog();
    m_thread->start();
    qInfo().noquote() << "IO thread started on" << m_devicePath;
}

void ControlPort::stampWatchdog()
{
    if (m_thread)
        m_thread->stampWatchdog();
}

void ControlPort::setWatchdogFlag(bool on)
{
    m_watchdogFlag = on;
    if (m_thread)
        m_thread->setWatchdogFlag(on);
}
