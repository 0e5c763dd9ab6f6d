#include "detectioncycle.h"

#include "clock.h"
#include "controlport.h"
#include "alarmclearmethod.h"
#include "detectionunit.h"
#include "globals.h"
#include "leddevice.h"
#include "mainwindowbase.h"
#include "mouldcount.h"
#include "productalarmwarnbox.h"
#include "savefialimagethread.h"
#include "statecodes.h"
#include "vek_netmn.h"
#include "wizardpara.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QMutexLocker>
#include <QSemaphore>
#include <QThread>
#include <QThreadPool>
#include <QTimer>
#include <opencv2/core/utility.hpp>
#include <utility>

#include <vector>

namespace {
constexpr int kNgOutputCount = 4;         // N1..N4 of a ROI
constexpr float kTickSeconds = 0.1f;
constexpr float kTickTolerance = 0.05f;
static_assert(AlarmBook::kDetections == kMaxDetections, "the alarm book keeps every detection");

unsigned unitMask(const QVector<bool>& flags, bool value)
{
    unsigned mask = 0;
    for (int i = 0; i < flags.size() && i < 32; ++i)
        if (flags.at(i) == value)
            mask |= 1u << i;
    return mask;
}
}

DetectionCycle::DetectionCycle(MainWindowBase* win, ControlPort* io, QObject* parent)
    : QObject(parent)
    , m_win(win)
    , m_io(io)
    , m_checkPool(std::make_unique<QThreadPool>())
    , m_runTimer(new QTimer(this))
    , m_resultTimer(new QTimer(this))
    , m_clearTimer(new QTimer(this))
{
    // A machine cycle often lasts longer than the pool's default 30 s of idling:
    // its threads stay, so that no detection waits for seven threads to start.
    m_checkPool->setExpiryTimeout(-1);
    setCheckThreads(QThread::idealThreadCount());
    m_runTimer->setSingleShot(true);
    m_runTimer->setTimerType(Qt::PreciseTimer);
    connect(m_runTimer, &QTimer::timeout, this, &DetectionCycle::Run);
    m_resultTimer->setSingleShot(true);
    m_countdown.fill(-1);
    for (int d = 0; d < kMaxDetections; ++d) {
        m_delayTimer[d] = new QTimer(this);
        m_delayTimer[d]->setInterval(kTickMs);
        m_delayTimer[d]->setTimerType(Qt::PreciseTimer);
        connect(m_delayTimer[d], &QTimer::timeout, this, [this, d] { TimerUp(d); });
        // Each detection's recheck is its own: no other detection's check touches it.
        m_recheckTimer[d] = new QTimer(this);
        m_recheckTimer[d]->setSingleShot(true);
        connect(m_recheckTimer[d], &QTimer::timeout, this, [this, d] { runDetection(d); });
        m_win->delayTimer[d] = m_delayTimer[d];
    }
    m_win->resultTimer = m_resultTimer;
    m_clearTimer->setSingleShot(true);
    connect(m_clearTimer, &QTimer::timeout, this, &DetectionCycle::clearByInput);
    if (m_io)
        connect(m_io, &ControlPort::sigIOChange, this, &DetectionCycle::SlotIOChange);
}

DetectionCycle::~DetectionCycle() = default;

void DetectionCycle::start()
{
    // Signals that came before the cycle started are stale: they are told, not acted on.
    for (int input = 0; m_io && !m_started && input < kTriggerInputs; ++input) {
        int stale = 0;
        while (m_io->takeTrigger(input))
            ++stale;
        if (stale > 0)
            qWarning().noquote() << QStringLiteral("input %1: %2 signal(s) came while detection was paused; "
                                                   "they are not checked")
                                        .arg(input + 1)
                                        .arg(stale);
    }
    m_started = true;
    if (!m_paused)
        m_runTimer->start(kRunMs);
}

void DetectionCycle::stop()
{
    m_started = false;
    m_runTimer->stop();
    cancelCountdowns();
}

bool DetectionCycle::isStarted() const
{
    return m_started;
}

void DetectionCycle::setPaused(bool paused)
{
    if (paused == m_paused)
        return;
    m_paused = paused;
    int waiting = 0;
    for (int d = 0; d < kMaxDetections; ++d) {
        if (paused) {
            if (m_recheckTimer[d]->isActive())
                m_recheckLeftMs[d] = qMax(0, m_recheckTimer[d]->remainingTime());
            m_recheckTimer[d]->stop();
            m_delayTimer[d]->stop();
        } else if (m_steps[d].phase == Phase::CountingDown) {
            m_delayTimer[d]->start();
        } else if (m_steps[d].phase == Phase::AwaitingRecheck) {
            m_recheckTimer[d]->start(m_recheckLeftMs[d]);
        }
        waiting += m_steps[d].isBusy() ? 1 : 0;
    }
    if (paused) {
        m_runTimer->stop();
    } else if (m_started) {
        m_expectedMs = kIoChangeRunMs;
        m_runTimer->start(kIoChangeRunMs);
    }
    qInfo().noquote() << QStringLiteral("detection %1, %2 detection(s) under way")
                             .arg(QLatin1String(paused ? "paused" : "resumed"))
                             .arg(waiting);
}

bool DetectionCycle::isCounting(int detection) const
{
    return validDetection(detection) && m_countdown[detection] >= 0;
}

bool DetectionCycle::isBusy(int detection) const
{
    return validDetection(detection) && m_steps[detection].isBusy();
}

bool DetectionCycle::anyCameraLost() const
{
    for (const DetectionUnit* unit : m_units)
        if (!unit->isConnected())
            return true;
    return false;
}

int DetectionCycle::nextIntervalMs() const
{
    return m_lost ? kLostRunMs : kRunMs;
}

void DetectionCycle::SlotIOChange()
{
    // An input change is looked at at once instead of at the next pass, also while a
    // camera is lost: the other cameras still check the mould.
    if (m_started && !m_paused) {
        m_expectedMs = kIoChangeRunMs;
        m_runTimer->start(kIoChangeRunMs);
    }
}

void DetectionCycle::setLamp(int lamp, bool on)
{
    LEDOnOff(lamp, on ? 1 : 0);
}

void DetectionCycle::timePass()
{
    const qint64 now = MonotonicClock::ms();
    if (m_lastPassMs > 0 && m_expectedMs == kRunMs) {
        const qint64 late = qMax<qint64>(0, now - m_lastPassMs - m_expectedMs);
        m_latenessSum += late;
        m_latenessMax = qMax(m_latenessMax, late);
        if (++m_timedPasses >= kTimingReportPasses) {
            qInfo().noquote() << QStringLiteral("cycle timer: %1 passes, lateness mean %2 ms, max %3 ms")
                                     .arg(m_timedPasses)
                                     .arg(double(m_latenessSum) / m_timedPasses, 0, 'f', 2)
                                     .arg(m_latenessMax);
            m_timedPasses = 0;
            m_latenessSum = 0;
            m_latenessMax = 0;
        }
    }
    m_lastPassMs = now;
}

void DetectionCycle::Run()
{
    timePass();
    if (m_io)
        m_io->stampWatchdog();
    if (++m_pass % kHeartbeatPasses == 0) {
        m_heartbeat = !m_heartbeat;
        setLamp(LedDevice::LampHeartbeat, m_heartbeat);
    }
    setLamp(LedDevice::LampRunning, m_win->runState == kRunRunning);

    const bool lost = anyCameraLost();
    if (lost != m_lost) {
        m_lost = lost;
        emit sigCameraLostChanged(lost);
    }
    takeFrames();
    if (m_win->recheckActive)
        m_win->update();

    // A pulse counts once it has been high for shakeEraseTime, judged by the times
    // the IO thread saw it change: a GUI thread that looks late still sees it.
    // Pulses of several inputs are taken in the order they rose (a door opened before
    // the mould must not clear the mould's NG).
    const qint64 steadyMs = gpWPara ? qMax(0, gpWPara->shakeEraseTime) * kTickMs : 0;
    // While paused the pulses stay latched: they are moulds, taken when it ends.
    while (m_io && !m_paused) {
        const qint64 now = MonotonicClock::ms();
        int first = -1;
        qint64 firstRose = 0;
        for (int input = 0; input < kTriggerInputs; ++input) {
            qint64 rose = 0;
            if (m_io->hasSteadyTrigger(input, steadyMs, now, &rose) && (first < 0 || rose < firstRose)) {
                first = input;
                firstRose = rose;
            }
        }
        if (first < 0 || !m_io->takeSteadyTrigger(first, steadyMs, now))
            break;
        handleTrigger(first, firstRose);
    }
    if (m_started && !m_paused) {
        m_expectedMs = nextIntervalMs();
        // A pulse that is still too young to count is looked at again when it may.
        for (int input = 0; m_io && input < kTriggerInputs; ++input) {
            const qint64 due = m_io->steadyAt(input, steadyMs);
            if (due >= 0)
                m_expectedMs = int(qBound<qint64>(kIoChangeRunMs, due - MonotonicClock::ms() + 1, m_expectedMs));
        }
        m_runTimer->start(m_expectedMs);
    }
}

void DetectionCycle::takeFrames()
{
    m_framesAt = MonotonicClock::ms();
    for (DetectionUnit* unit : m_units)
        unit->updateImage();
}

void DetectionCycle::handleTrigger(int input, qint64 roseMs)
{
    const bool running = m_win->runState == kRunRunning && gpWPara;
    const bool door = input == kSafetyDoorInput && gpWPara;
    if (door && running && gpWPara->prodNgSkipRecheck && mouldDetection() >= 0 && holdsProductNg(roseMs)) {
        // The product taken out at the door: its alarm is skipped and the cavity checked again.
        releaseAndRecheck(AlarmClearMethod::SwitchToMould, roseMs, mouldDetection());
        return;
    }
    // The door lifts the alarms that stood when it opened.
    if (door && gpWPara->safetyDoorClearsAlarm && isAlarmed())
        clearAlarm(AlarmClearMethod::DontDetect, roseMs);
    if (isClearingInput(input) && isAlarmed()) {
        const int tenths = qMax(0, gpWPara->reInspectionDelay);
        qInfo().noquote() << QStringLiteral("input %1: clearing the alarm in %2 s").arg(input + 1).arg(tenths / 10.0);
        m_clearSignalMs = roseMs;
        m_clearTimer->start(tenths * kTickMs);
    }
    if (!running || shielded(input))
        return;
    // A recheck's wait ends with the next mould: its NG belongs to the mould before (in the
    // two-stage modes also a detection of the other stage: its input came again).
    for (int d = 0; d < kMaxDetections; ++d)
        if (m_steps[d].phase == Phase::AwaitingRecheck && listensTo(d, input))
            confirmRecheckNow(d, QStringLiteral("the next mould came"));
    if (door && gpWPara->safetyDoorTrigger)
        triggerFromDoor(roseMs);
    // The next mould gives up the open cycle before its detections are chosen:
    // in the two-stage modes the stage changes with it.
    QVector<int> detections = triggeredBy(input);
    for (int d : detections) {
        if (startsNextMould(d)) {
            const int stage = m_win->stageFlag;
            openCycle(false);
            const QVector<int> next = triggeredBy(input);
            // A stage with nothing on this input cannot take the mould: it stays with this one.
            if (next.isEmpty())
                m_win->stageFlag = stage;
            else
                detections = next;
            break;
        }
    }
    for (int d : detections)
        trigger(d, roseMs);
}

bool DetectionCycle::shielded(int input)
{
    // "Shield pin": of the signals on the shielded input, that many are let by before
    // one triggers; the mould opening starts the count again.
    if (input == kMouldOpenInput)
        m_shieldedSignals = 0;
    if (input != kShieldedInput || gpWPara->shieldPin <= 0 || triggeredBy(input).isEmpty())
        return false;
    if (m_shieldedSignals < gpWPara->shieldPin) {
        ++m_shieldedSignals;
        qInfo().noquote() << QStringLiteral("input %1: signal %2 of %3 shielded")
                                 .arg(input + 1)
                                 .arg(m_shieldedSignals)
                                 .arg(gpWPara->shieldPin);
        return true;
    }
    m_shieldedSignals = 0;
    return false;
}

bool DetectionCycle::isClearingInput(int input) const
{
    // Input functions exist in trigger mode 3: input 0 has inFunc[0], input 1 is the
    // safety door, inputs 2..8 have inFunc[1..7].
    if (!gpWPara || gpWPara->trigMode != kAllGroupsTrigMode || input == kSafetyDoorInput)
        return false;
    const int function = input == 0 ? 0 : input - 1;
    return function >= 0 && function < 8 && gpWPara->inFunc[function] == kInFunctionClearAlarm;
}

void DetectionCycle::clearByInput()
{
    if (!isAlarmed())
        return;
    // "Input signal reset and recheck": each alarmed detection is looked at again
    // (while detection runs).
    if (gpWPara && gpWPara->inputResetRecheck && m_win->runState == kRunRunning)
        releaseAndRecheck(AlarmClearMethod::Redetect, m_clearSignalMs);
    else
        clearAlarm(AlarmClearMethod::DontDetect, m_clearSignalMs);
}

bool DetectionCycle::isProductDetection(int detection) const
{
    return gpWPara && gpWPara->trigMode != kAllGroupsTrigMode && detection % 2 == 0;
}

bool DetectionCycle::isMouldDetection(int detection) const
{
    return gpWPara && gpWPara->trigMode != kAllGroupsTrigMode && detection % 2 == 1;
}

bool DetectionCycle::holdsProductNg(qint64 atMs) const
{
    for (int d = 0; d < kMaxDetections; ++d)
        if (isProductDetection(d) && m_book.ngStoodBefore(d, atMs))
            return true;
    return false;
}

bool DetectionCycle::inputTriggers(int trigInput, int input) const
{
    if (trigInput == kAnyOfInputs2And3)
        return input == 2 || input == 3;
    return trigInput == input;
}

bool DetectionCycle::isTwoStage() const
{
    return gpWPara && (gpWPara->trigMode == 1 || gpWPara->trigMode == 2);
}

QVector<int> DetectionCycle::activeDetections() const
{
    QVector<int> list;
    if (!gpWPara)
        return list;
    if (isTwoStage()) {
        // Two stages of two detections each: the stage flag picks groups 0 and 1 or 2 and 3.
        const int base = m_win->stageFlag ? 0 : 2;
        for (int d = base; d < base + 2; ++d)
            if (gpWPara->detectEnable[d])
                list << d;
        return list;
    }
    for (int d = 0; d < gDNum && d < kMaxDetections; ++d)
        if (gpWPara->detectEnable[d])
            list << d;
    return list;
}

QVector<int> DetectionCycle::triggeredBy(int input) const
{
    QVector<int> list;
    for (int d : activeDetections())
        if (listensTo(d, input))
            list << d;
    return list;
}

bool DetectionCycle::listensTo(int detection, int input) const
{
    // In the two-stage modes both stages use the trigger inputs of detections 0 and 1.
    const int source = isTwoStage() ? detection % 2 : detection;
    return gpWPara && inputTriggers(gpWPara->trigInput[source], input);
}

int DetectionCycle::firstDetection() const
{
    const QVector<int> list = activeDetections();
    return list.isEmpty() ? 0 : list.first();
}

int DetectionCycle::lastDetection() const
{
    const QVector<int> list = activeDetections();
    return list.isEmpty() ? qMax(0, gDNum - 1) : list.last();
}

bool DetectionCycle::startsNextMould(int detection) const
{
    if (!m_open.isOpen() || (m_open.settled & MachineCycle::bit(detection)))
        return true;
    if (isBusy(detection))
        return false;
    // The first detection opens the next cycle unless the open one has only just begun
    // (a check it took over from the cycle before is no beginning).
    bool begun = m_open.settled != 0;
    for (int d = 0; d < kMaxDetections; ++d)
        begun = begun
                || (m_steps[d].isBusy() && m_steps[d].cycle == m_open.serial && !(m_open.carried & MachineCycle::bit(d)));
    return detection == firstDetection() && begun;
}

bool DetectionCycle::admit(int detection, const char* what, qint64 signalMs)
{
    switch (m_steps[detection].phase) {
    case Phase::Idle:
        return true;
    case Phase::AwaitingRecheck:
        confirmRecheckNow(detection, qstrcmp(what, "trigger") == 0 ? QStringLiteral("the next mould came")
                                                                  : QLatin1String(what) + QLatin1String(" came"));
        return true;
    case Phase::CountingDown:
    case Phase::Checking:
        break;
    }
    // Only a new mould's trigger finds the detection busy with another one.
    if (qstrcmp(what, "trigger") != 0) {
        answerUnderWay(detection, what, signalMs);
        return false;
    }
    refuseUninspected(detection, what, signalMs);
    return false;
}

void DetectionCycle::answerUnderWay(int detection, const char* what, qint64 signalMs)
{
    DetectionStep& step = m_steps[detection];
    const QString head = QStringLiteral("detection %1: %2").arg(detection + 1).arg(QLatin1String(what));
    if (step.phase == Phase::Checking) {
        // Its frames are taken: the door's or Re-detect's own check follows it.
        qInfo().noquote() << head << "waits for the check under way";
        const bool door = qstrcmp(what, "safety door check") == 0;
        QTimer::singleShot(0, this, [this, detection, door, signalMs] {
            if (!door) {
                redetect(detection);
            } else if (admit(detection, "safety door check", signalMs)) {
                openCycle(true);
                startCheck(detection, signalMs);
            }
        });
        return;
    }
    // One check answers both when it takes its frames no earlier than this signal's own
    // check would.
    if (putOffCountdown(detection, signalMs)) {
        qInfo().noquote() << head << QStringLiteral("answered by the check under way, moved to %1 s from now")
                                         .arg(double(m_countdown[detection]), 0, 'f', 1);
        return;
    }
    qInfo().noquote() << head << "answered by the check under way";
}

bool DetectionCycle::putOffCountdown(int detection, qint64 signalMs)
{
    // The check's frames come after this signal, and no earlier than its delay from now.
    m_steps[detection].signalMs = qMax(m_steps[detection].signalMs, signalMs);
    const float delay = gpWPara ? gpWPara->trigInDelay[detection] * kTickSeconds : 0;
    // A tick can come at once: only a full tick beyond the delay is surely late enough.
    if (m_countdown[detection] + kTickTolerance >= delay + kTickSeconds)
        return false;
    setCountdown(detection, qMax(m_countdown[detection], delay));
    // Paused, it counts on once the pause ends.
    if (!m_paused)
        m_delayTimer[detection]->start();
    return true;
}

void DetectionCycle::confirmRecheckNow(int detection, const QString& cause)
{
    DetectionStep& step = m_steps[detection];
    m_recheckTimer[detection]->stop();
    qInfo().noquote() << QStringLiteral("detection %1: %2 before the recheck, NG confirmed")
                             .arg(detection + 1)
                             .arg(cause);
    m_stepOk = step.recheckOk;
    m_stepChecked = step.recheckChecked;
    m_win->recheckMade[detection] = 0;
    updateRecheckActive();
    step.phase = Phase::Checking;
    m_win->checkDetect = detection;
    m_win->CheckNG(true);
}

void DetectionCycle::refuseUninspected(int detection, const char* what, qint64 signalMs)
{
    const bool counting = m_steps[detection].phase == Phase::CountingDown;
    holdUninspected(detection, QLatin1String(what),
                    QLatin1String(counting ? "the detection is still counting down" : "the detection is still checking"));
    // The OK of the check under way releases this mould's stop: it must look at this mould
    // as the mould's own check would, its delay after the trigger (the part may come late).
    if (counting && putOffCountdown(detection, signalMs))
        qInfo().noquote() << QStringLiteral("detection %1: its check moved to %2 s from now")
                                 .arg(detection + 1)
                                 .arg(double(m_countdown[detection]), 0, 'f', 1);
    // The mould it belongs to is an NG one: its cycle record and counts say so. The
    // detection's own check, still under way, closes the cycle.
    countUninspected(detection, false);
}

void DetectionCycle::countUninspected(int detection, bool closes)
{
    // A cycle already counted (one a Re-detect checks again) cannot count the mould: the next close does.
    MachineCycle& own = cycleOf(detection);
    MachineCycle& cycle = own.counted ? m_carry : own;
    const StepCount count = MouldCount::refused(cameraIndexes(), cycle);
    // The statistics count the same NG step, and the cycle once, at its close.
    if (!cycle.counted)
        emit m_win->sendRecord(detection, Clock::now().time().hour(), count.cameraOK, closes);
}

void DetectionCycle::holdUninspected(int detection, const QString& what, const QString& why)
{
    ++m_uninspected;
    qWarning().noquote() << QStringLiteral("detection %1: %2 not inspected, %3 (%4 so far); the machine is stopped")
                                .arg(detection + 1)
                                .arg(what, why)
                                .arg(m_uninspected);
    // An uninspected mould is an unknown one: it stops the machine until every
    // camera has seen this detection OK again, or the operator releases it.
    // Outputs kept on for this check's decision stay as part of the stop.
    unsigned wanted = 1u << kClampOutput;
    if (!gpWPara || !gpWPara->noAlarmSoundOnNg)
        wanted |= 1u << kAlarmOutput;
    raiseOutputs(wanted, m_book.uninspected(detection, allUnitsMask(), holdingOutputs(wanted), MonotonicClock::ms()));
    raiseAlarm(detection, allUnitsMask());
    m_win->InsertRecord(QStringLiteral("NG: detection %1 not inspected").arg(detection + 1), QStringLiteral("run"));
    m_win->update();
}

void DetectionCycle::trigger(int detection, qint64 signalMs)
{
    signalMs = signalMs == kNow ? MonotonicClock::ms() : signalMs;
    if (!validDetection(detection) || !admit(detection, "trigger", signalMs))
        return;
    if (startsNextMould(detection))
        openCycle(false);
    // The mould presented last, not a Re-detect, tells which stage's mould is open.
    if (isTwoStage())
        m_checkedStage = detection < 2 ? 1 : 0;
    startCheck(detection, signalMs);
}

void DetectionCycle::triggerFromDoor(qint64 signalMs)
{
    signalMs = signalMs == kNow ? MonotonicClock::ms() : signalMs;
    QVector<int> detections;
    for (int d : doorChecks())
        if (admit(d, "safety door check", signalMs))
            detections << d;
    if (detections.isEmpty())
        return;
    openCycle(true);
    // All are under way before the first checks: the door's cycle closes with the last.
    for (int d : detections)
        enlist(d, Phase::CountingDown);
    for (int d : detections)
        startCheck(d, signalMs);
}

int DetectionCycle::mouldDetection() const
{
    if (!gpWPara || gpWPara->trigMode == kAllGroupsTrigMode)
        return -1;
    // Detection 1, in the two-stage modes the second of the stage whose mould was presented
    // last: stage groups 2 and 3 move the flag on at a close, while that mould stays open.
    const int stage = isTwoStage() && m_checkedStage >= 0 ? m_checkedStage : m_win->stageFlag;
    const int mould = isTwoStage() && !stage ? 3 : 1;
    return gpWPara->detectEnable[mould] && (isTwoStage() || mould < gDNum) ? mould : -1;
}

QVector<int> DetectionCycle::doorChecks() const
{
    const int mould = mouldDetection();
    if (mould >= 0)
        return {mould};
    QVector<int> list;
    for (int d : activeDetections())
        if (!listensTo(d, kSafetyDoorInput))
            list << d;
    return list;
}

void DetectionCycle::redetect(int detection)
{
    const qint64 signalMs = MonotonicClock::ms();
    if (!validDetection(detection) || !admit(detection, "Re-detect", signalMs))
        return;
    if (!m_open.isOpen()) {
        if (m_closed.isOpen()) {
            // The alarmed cycle again, under its own record: what it finds now is its result.
            m_open = m_closed;
            m_open.forgetFindings();
            m_open.single = true;
            m_win->safetyDoorTriggered = m_open.door ? 1 : 0;
        } else {
            openCycle(false);
        }
    }
    startCheck(detection, signalMs);
}

void DetectionCycle::openCycle(bool door, bool announce)
{
    // A cycle whose last detection never checked is given up uncounted; its NG is not lost.
    if (m_open.isOpen() && !m_open.counted) {
        if (m_open.ng)
            m_carry.absorb(m_open);
        switchStage();
    }
    if (announce) {
        const qint64 now = MonotonicClock::ms();
        if (m_lastStartMs > 0)
            m_win->lastCycleTime = int((now - m_lastStartMs) / 100);
        m_lastStartMs = now;
    }
    const int given = m_open.serial;
    m_open = MachineCycle();
    m_open.serial = ++m_serial;
    // A check still to take its frame sees the next mould: it is that cycle's (it decides
    // its close and counts in it), not one that no store counts any more.
    for (int d = 0; d < kMaxDetections; ++d) {
        DetectionStep& step = m_steps[d];
        if (!door && given != 0 && step.cycle == given
            && (step.phase == Phase::CountingDown || step.phase == Phase::Checking)) {
            step.cycle = m_open.serial;
            m_open.carried |= MachineCycle::bit(d);
        }
    }
    m_open.door = door;
    m_open.single = door;
    m_open.absorb(std::exchange(m_carry, MachineCycle()));
    m_win->safetyDoorTriggered = door ? 1 : 0;
    if (announce)
        emit sigCycleStarted();
}

void DetectionCycle::switchStage()
{
    // Stage groups 2 and 3 alternate between the two stages, one machine cycle each.
    if (isTwoStage() && gpWPara->stageGroups >= 2)
        m_win->stageFlag = m_win->stageFlag ? 0 : 1;
}

void DetectionCycle::enlist(int detection, Phase phase)
{
    m_steps[detection].phase = phase;
    m_steps[detection].cycle = m_open.serial;
}

bool DetectionCycle::anyUnderWay(int serial) const
{
    for (const DetectionStep& step : m_steps)
        if (step.isBusy() && step.cycle == serial)
            return true;
    return false;
}

bool DetectionCycle::anyAwaitingRecheck(int serial) const
{
    for (const DetectionStep& step : m_steps)
        if (step.phase == Phase::AwaitingRecheck && step.cycle == serial)
            return true;
    return false;
}

void DetectionCycle::startCheck(int detection, qint64 signalMs)
{
    m_steps[detection].signalMs = signalMs;
    m_win->detectState = kDetectCountingDown;
    const int tenths = gpWPara ? gpWPara->trigInDelay[detection] : 0;
    if (m_paused) {
        // Checked once the pause ends: the models may be half learnt now.
        enlist(detection, Phase::CountingDown);
        setCountdown(detection, qMax(0, tenths) * kTickSeconds);
        return;
    }
    if (tenths <= 0) {
        enlist(detection, Phase::Checking);
        runDetection(detection);
        return;
    }
    enlist(detection, Phase::CountingDown);
    setCountdown(detection, tenths * kTickSeconds);
    m_delayTimer[detection]->start();
}

void DetectionCycle::setCountdown(int detection, float seconds)
{
    m_countdown[detection] = seconds;
    // The camera views show the remaining time of the first running countdown.
    m_win->delayCountdown[detection] = qMax(0.0f, seconds);
}

void DetectionCycle::preCut(int detection)
{
    // The clamp is interlocked preCutTime before the last detection of the cycle checks;
    // it holds until the cycle closes.
    if (!gpWPara || gpWPara->preCutTime <= 0 || detection != lastDetection() || m_preCut || !m_io)
        return;
    if (m_countdown[detection] > gpWPara->preCutTime * kTickSeconds + kTickTolerance)
        return;
    m_preCut = true;
    m_io->IOSetOut(kClampOutput, 1);
    m_io->IOFlashOut();
}

void DetectionCycle::endPreCut(bool ng)
{
    if (!m_preCut)
        return;
    m_preCut = false;
    const unsigned clamp = 1u << kClampOutput;
    // On NG the alarm keeps the clamp (a pulsed clamp ends on its own time instead):
    // each detection that holds an NG holds it, so that only their release lifts it.
    const bool keep = ng && pulseTenths(kClampOutput) <= 0;
    unsigned stoppers = 0;
    for (int d = 0; keep && d < kMaxDetections; ++d)
        if (ngOutputsFor(d, 0) & clamp)
            stoppers |= 1u << d;
    releaseOutputs(m_book.endPreCut(keep, clamp, stoppers).off);
}

void DetectionCycle::TimerUp(int detection)
{
    setCountdown(detection, m_countdown[detection] - kTickSeconds);
    preCut(detection);
    if (m_countdown[detection] > kTickTolerance) {
        m_win->update();
        return;
    }
    m_delayTimer[detection]->stop();
    setCountdown(detection, -1);
    runDetection(detection);
}

MachineCycle& DetectionCycle::cycleOf(int detection)
{
    if (m_open.isOpen() && m_steps[detection].cycle == m_open.serial)
        return m_open;
    // Its own cycle has gone: the NG counts into the next close.
    return m_open.isOpen() ? m_open : m_carry;
}

bool DetectionCycle::settle(int detection)
{
    DetectionStep& step = m_steps[detection];
    step.phase = Phase::Idle;
    // Its own cycle has gone: its findings went to the open one, whose end it does not decide.
    if (!m_open.isOpen() || step.cycle != m_open.serial)
        return false;
    m_open.settled |= MachineCycle::bit(detection);
    return m_open.isOver(lastDetection(), anyUnderWay(m_open.serial));
}

void DetectionCycle::adoptDecision(int detection)
{
    if (isBusy(detection))
        return;
    // A decision nobody triggered (the main window's own CheckNG) belongs to the open cycle,
    // or to one of its own that no record announces.
    if (!m_open.isOpen())
        openCycle(false, false);
    m_steps[detection].cycle = m_open.serial;
}

void DetectionCycle::settleWithoutResult(int detection)
{
    holdUninspected(detection, QStringLiteral("check"), QStringLiteral("no camera could be checked"));
    m_win->detectState = kDetectWaiting;
    if (!settle(detection))
        return;
    if (m_open.hadResult()) {
        // Earlier detections of the cycle were checked: the cycle is decided by them.
        // The statistics close it too: a step with no camera counts there as all OK.
        if (!m_open.counted)
            emit m_win->sendRecord(detection, Clock::now().time().hour(), QList<bool>(), true);
        emit sigCycleFinished(m_open.ng);
        finishCycle();
        m_win->CountWrite();
        return;
    }
    // Nothing of this cycle was seen: it is neither counted nor recorded, and it
    // releases nothing. Its record replaced the alarmed cycle's, so a Re-detect
    // now checks a cycle of its own. A Re-detect's cycle was counted, and switched, at its close.
    if (!m_open.counted)
        switchStage();
    m_win->safetyDoorTriggered = 0;
    m_open = MachineCycle();
    m_closed = MachineCycle();
}

void DetectionCycle::finishCycle()
{
    if (!m_open.counted) {
        MouldCount::close(m_open);
        if (!m_open.ng)
            checkProductionAlarm();
        switchStage();
    }
    m_open.counted = true;
    m_win->safetyDoorTriggered = 0;
    endPreCut(m_open.ng);
    // What OKs of this cycle released while another detection held an NG.
    releaseOutputs(m_book.closeCycle().off);
    m_closed = std::exchange(m_open, MachineCycle());
}

void DetectionCycle::updateRecheckActive()
{
    bool active = false;
    for (QTimer* timer : m_recheckTimer)
        active = active || timer->isActive();
    m_win->recheckActive = active;
}

void DetectionCycle::stopDetection()
{
    for (int d = 0; d < kMaxDetections; ++d)
        if (m_steps[d].phase == Phase::AwaitingRecheck)
            confirmRecheckNow(d, QStringLiteral("detection stopped"));
    // A Re-detect of a counted mould is no new mould: what it kept on is the alarm again.
    QVector<int> cut;
    for (int d = 0; d < kMaxDetections; ++d)
        if (m_steps[d].phase == Phase::CountingDown && !cycleOf(d).counted)
            cut << d;
    for (int d : qAsConst(cut)) {
        m_delayTimer[d]->stop();
        setCountdown(d, -1);
        holdUninspected(d, QStringLiteral("trigger"), QStringLiteral("detection stopped"));
    }
    // Nothing of the cycle is checked any more: it closes with the moulds it dropped.
    for (int d : qAsConst(cut)) {
        settle(d);
        countUninspected(d, d == cut.last() && m_open.isOpen() && !m_open.counted);
    }
    if (!cut.isEmpty() && m_open.isOpen() && !m_open.counted) {
        emit sigCycleFinished(m_open.ng);
        finishCycle();
    }
    if (!cut.isEmpty())
        m_win->CountWrite();
    cancelCountdowns();
}

void DetectionCycle::cancelCountdowns()
{
    // An NG already found is not dropped with the wait for its recheck.
    for (int d = 0; d < kMaxDetections; ++d)
        if (m_steps[d].phase == Phase::AwaitingRecheck)
            confirmRecheckNow(d, QStringLiteral("detection stopped"));
    for (int d = 0; d < kMaxDetections; ++d) {
        if (m_steps[d].phase == Phase::CountingDown)
            qWarning().noquote() << QStringLiteral("detection %1: trigger not inspected, detection stopped").arg(d + 1);
        m_delayTimer[d]->stop();
        setCountdown(d, -1);
        m_win->recheckMade[d] = 0;
        m_recheckTimer[d]->stop();
        m_steps[d].phase = Phase::Idle;
        m_steps[d].cycle = 0;
    }
    // A Re-detect that will not come decides nothing: what it kept on stays an alarm, shown as one.
    const bool kept = m_book.stop();
    for (int d = 0; kept && d < kMaxDetections; ++d)
        if (m_book.holds(d))
            raiseAlarm(d, m_book.entry(d).ngCameras);
    keepStandingAlarm();
    m_clearTimer->stop();
    m_shieldedSignals = 0;
    m_win->safetyDoorTriggered = 0;
    // An NG of a cycle dropped uncounted goes to the next close, as the statistics keep it.
    if (m_open.isOpen() && !m_open.counted && m_open.ng)
        m_carry.absorb(m_open);
    m_open = MachineCycle();
    m_closed = MachineCycle();
    if (m_io)
        m_io->clearTriggers();
    if (m_preCut) {
        m_preCut = false;
        releaseOutputs(1u << kClampOutput);
    }
    m_win->recheckActive = false;
    m_win->detectState = kDetectWaiting;
}

void DetectionCycle::runDetection(int detection)
{
    m_win->checkDetect = detection;
    // A detection run by hand (not by its trigger) is a check of the open cycle.
    if (!isBusy(detection))
        adoptDecision(detection);
    m_steps[detection].phase = Phase::Checking;
    const int recheck = m_win->recheckMade[detection];
    QElapsedTimer timer;
    timer.start();
    // The last pass's frames may predate the signal this check answers (an operator's
    // Re-detect, a signal seen after the pass took them): the check takes newer ones. A
    // signal's time is when its rise was read: frames of that millisecond come after it.
    // While a camera is lost the passes are slow: frames older than a normal pass are taken anew.
    if (m_framesAt < qMax(m_steps[detection].signalMs, MonotonicClock::ms() - kRunMs))
        takeFrames();
    if (!checkUnits(detection, recheck > 0)) {
        settleWithoutResult(detection);
        return;
    }
    // Position in the machine cycle: 0 for its first detection.
    m_win->curDetectIndex = qMax(0, activeDetections().indexOf(detection));
    // A camera that could not be checked is no OK: it keeps the NG it holds.
    bool ng = holdUncheckedNg(detection);
    QStringList unitTimes;
    for (int i = 0; i < m_units.size(); ++i) {
        if (!m_stepChecked.at(i))
            continue;
        ng = ng || !m_stepOk.at(i);
        unitTimes << QString::number(m_units.at(i)->detectTimeMs());
    }
    const QString which = recheck > 0 ? QStringLiteral("detection %1: recheck %2").arg(detection + 1).arg(recheck)
                                      : QStringLiteral("detection %1").arg(detection + 1);
    qInfo().noquote() << QStringLiteral("%1: %2, checked in %3 ms, engine %4 ms")
                             .arg(which, QLatin1String(ng ? "NG" : "OK"))
                             .arg(timer.elapsed())
                             .arg(unitTimes.join('/'));
    m_win->detectState = kDetectDone;
    // The mould is looked at again (a new frame after recheckDelay) before an NG alarms.
    if (ng && isRechecked(detection) && recheck < gpWPara->recheckTimes) {
        ++m_win->recheckMade[detection];
        DetectionStep& step = m_steps[detection];
        step.phase = Phase::AwaitingRecheck;
        step.recheckOk = m_stepOk;
        step.recheckChecked = m_stepChecked;
        m_recheckTimer[detection]->start(qMax(0, gpWPara->recheckDelay) * kTickMs);
        updateRecheckActive();
        m_win->update();
        showChecks(detection);
        return;
    }
    m_win->recheckMade[detection] = 0;
    updateRecheckActive();
    m_win->CheckNG(ng);
    // The views follow the outputs: the machine waits for nothing the screen needs.
    showChecks(detection);
}

void DetectionCycle::showChecks(int detection)
{
    for (int i = 0; i < m_units.size() && i < m_stepChecked.size(); ++i)
        if (m_stepChecked.at(i))
            m_units.at(i)->showCheck(detection);
}

void DetectionCycle::setUnits(const QVector<DetectionUnit*>& units)
{
    m_units = units;
    confineLibraryThreads();
}

void DetectionCycle::setCheckThreads(int threads)
{
    m_checkPool->setMaxThreadCount(qMax(1, threads) - 1);
    confineLibraryThreads();
}

// Cameras checked side by side already fill the cores: OpenCV's own worker
// threads on top of them made the checks wait as long as they ran. Its thread
// count is one for the whole process, so it is set once, when a pooled
// detection first becomes possible, and kept.
void DetectionCycle::confineLibraryThreads()
{
    if (m_checkPool->maxThreadCount() > 0 && m_units.size() > 1 && cv::getNumThreads() != 1)
        cv::setNumThreads(1);
}

int DetectionCycle::checkThreads() const
{
    return m_checkPool->maxThreadCount() + 1;
}

bool DetectionCycle::checkUnits(int detection, bool recheck)
{
    const DetectionStep& step = m_steps[detection];
    const bool keepEarlier = recheck && step.recheckOk.size() == m_units.size()
                             && step.recheckChecked.size() == m_units.size();
    if (keepEarlier) {
        // A recheck starts from the check it confirms: a camera it does not look at
        // again (or that is lost now) keeps its earlier result.
        m_stepOk = step.recheckOk;
        m_stepChecked = step.recheckChecked;
    } else {
        m_stepOk.fill(true, m_units.size());
        m_stepChecked.fill(false, m_units.size());
    }
    const bool allCameras = !keepEarlier || !gpWPara || gpWPara->recheckAllCameras;
    QVector<int> checked;
    for (int i = 0; i < m_units.size(); ++i) {
        // A lost camera is not checked (nor counted); its loss holds the clamp output instead.
        if (m_units.at(i)->isConnected() && (allCameras || !m_stepOk.at(i)))
            checked << i;
    }
    // With a pool, every camera but the first goes to it; the GUI thread checks
    // the first itself and then waits for the rest: the decision needs them all.
    std::vector<char> ok(size_t(m_units.size()), 1);
    auto check = [this, detection, &ok](int i) { ok[size_t(i)] = m_units.at(i)->runAlgorithm(detection); };
    const bool pooled = m_checkPool->maxThreadCount() > 0;
    const QVector<int> onPool = pooled ? checked.mid(1) : QVector<int>();
    const QVector<int> here = pooled ? checked.mid(0, 1) : checked;
    QSemaphore done;
    for (int i : onPool) {
        m_checkPool->start([&check, &done, i] {
            check(i);
            done.release();
        });
    }
    for (int i : here)
        check(i);
    done.acquire(onPool.size());
    for (int i : checked) {
        m_stepChecked[i] = true;
        m_stepOk[i] = ok[size_t(i)] != 0;
    }
    return m_stepChecked.contains(true);
}

bool DetectionCycle::isRechecked(int detection) const
{
    if (!gpWPara || gpWPara->recheckTimes <= 0)
        return false;
    // Multi-detection mode rechecks every detection; the others their mould detections (odd indices).
    return gpWPara->trigMode == kAllGroupsTrigMode || detection % 2 == 1;
}

unsigned DetectionCycle::allUnitsMask() const
{
    return m_units.size() >= 32 ? ~0u : (1u << m_units.size()) - 1;
}

bool DetectionCycle::holdUncheckedNg(int detection)
{
    // An NG a release with Re-detect handed to this check is held too until the check sees it OK.
    const unsigned held = m_book.holdUnchecked(detection, unitMask(m_stepChecked, true));
    QStringList kept;
    for (int i = 0; i < m_units.size(); ++i) {
        if (!(held & (1u << i)))
            continue;
        if (m_stepOk.at(i))
            kept << QString::number(m_units.at(i)->cameraIndex() + 1);
        m_stepOk[i] = false;
    }
    if (kept.isEmpty())
        return held != 0;
    qWarning().noquote() << QStringLiteral("detection %1: camera %2 not checked, its NG holds")
                                .arg(detection + 1)
                                .arg(kept.join(','));
    return true;
}

void DetectionCycle::CheckNG(bool ng)
{
    const int d = qBound(0, m_win->checkDetect, kMaxDetections - 1);
    adoptDecision(d);
    if (m_stepOk.size() != m_units.size() || m_stepChecked.size() != m_units.size()) {
        m_stepOk.fill(!ng, m_units.size());
        m_stepChecked.fill(true, m_units.size());
    }
    // A camera that could not be checked is no OK: it keeps the NG it holds.
    ng = holdUncheckedNg(d) || ng;
    // The machine is interlocked (or released) first; pictures, counts and records follow.
    if (ng)
        driveNgOutputs(d);
    else
        releaseDetection(d);
    // The alarm is announced before the cycle's record and pictures, which belong to it.
    if (ng && m_alarmCameras.isEmpty())
        emit sigAlarmStarted(m_win->curDetectIndex);

    MachineCycle& cycle = cycleOf(d);
    const StepCount count = MouldCount::step(cameraIndexes(), m_stepChecked, m_stepOk, cycle);
    cycle.ng = cycle.ng || ng;
    const bool counted = cycle.counted;
    // The cycle record is closed before any picture is marked for the writer thread,
    // so that every picture of the last check lands in this cycle's record.
    const bool closes = settle(d);
    if (closes)
        emit sigCycleFinished(m_open.ng);
    savePictures(d);
    if (closes)
        finishCycle();
    m_win->CountWrite();
    // The statistics count each cycle once, at its own close; a Re-detect of a counted
    // cycle changes its result only.
    if (!counted)
        emit m_win->sendRecord(d, Clock::now().time().hour(), count.cameraOK, closes);
    m_resultTimer->start(kResultShowMs);

    if (ng) {
        showNgResult();
        for (int i = 0; i < m_units.size(); ++i) {
            const int camera = m_units.at(i)->cameraIndex();
            if (!m_stepOk.at(i) && !m_alarmCameras.contains(camera))
                m_alarmCameras << camera;
        }
        writeStandingAlarm();
        m_win->InsertRecord(QStringLiteral("NG: camera %1, detection %2").arg(count.ngCameras.join(','), QString::number(d + 1)),
                            QStringLiteral("run"));
    } else {
        showOkResult();
    }
    m_win->detectState = kDetectWaiting;
    m_win->update();
}

void DetectionCycle::savePictures(int detection)
{
    // Each picture goes to the writer with the cycle it was taken in.
    const QString cycleId = VEK_NETMN::getInstance()->currentCycleId();
    for (int i = 0; i < m_units.size(); ++i) {
        if (!m_stepChecked.at(i))
            continue;
        DetectionUnit* unit = m_units.at(i);
        const bool ok = m_stepOk.at(i);
        const int slot = ok ? 1 : 0;
        if (!ok)
            unit->startAlarmBlink();
        unit->saveFailImage(detection, slot);
        unit->updateFailImage(detection, slot);
        SaveFialImageThread::markPicture(unit->cameraIndex(), detection, slot, cycleId);
    }
}

void DetectionCycle::showNgResult()
{
    setLamp(LedDevice::LampOK, false);
    setLamp(LedDevice::LampNG, true);
    m_win->LCDOnOff(1);
    if (m_win->lcdTimer && gpWPara && gpWPara->screenOffTime > 0)
        m_win->lcdTimer->start(gpWPara->screenOffTime * 1000);
    m_win->pageState = kPageAlarm;
    m_win->resultState = 2;
}

void DetectionCycle::showOkResult()
{
    if (isAlarmed())
        return;
    setLamp(LedDevice::LampNG, false);
    setLamp(LedDevice::LampOK, true);
    if (m_win->pageState == kPageAlarm)
        m_win->pageState = kPageOk;
    m_win->resultState = 1;
    if (!m_alarmCameras.isEmpty())
        emit sigAlarmReleased(std::exchange(m_alarmCameras, {}), AlarmClearMethod::RedetectOk);
    keepStandingAlarm();
}

void DetectionCycle::releaseDetection(int detection)
{
    const MachineCycle& cycle = cycleOf(detection);
    // A detection of this mould may yet find an NG: the machine stays stopped until the cycle is decided.
    const bool undecided = anyAwaitingRecheck(cycle.serial) || (cycle.serial == m_open.serial && m_preCut);
    releaseOutputs(m_book.ok(detection, undecided).off);
}

void DetectionCycle::keepStandingAlarm()
{
    if (!m_standing || m_keepQueued)
        return;
    // Written once this event's outputs are out: the file never delays the machine.
    m_keepQueued = true;
    QMetaObject::invokeMethod(this, [this] { writeStandingAlarm(); }, Qt::QueuedConnection);
}

void DetectionCycle::writeStandingAlarm()
{
    m_keepQueued = false;
    if (m_standing)
        m_standing->save(standingAlarm());
}

void DetectionCycle::setStandingAlarm(StandingAlarm* store)
{
    // A change still queued goes where it belonged.
    if (m_keepQueued)
        writeStandingAlarm();
    m_standing = store;
}

StandingAlarm::State DetectionCycle::standingAlarm() const
{
    StandingAlarm::State state;
    for (int d = 0; d < kMaxDetections; ++d) {
        const AlarmBook::Entry& entry = m_book.entry(d);
        StandingAlarm::Detection& kept = state.detections[size_t(d)];
        // What a pending Re-detect holds stands until its check decides.
        kept.outputs = entry.outputs | entry.keptOutputs;
        const unsigned cameras = entry.ngCameras | entry.keptCameras;
        for (int i = 0; i < m_units.size(); ++i)
            if (cameras & (1u << i))
                kept.cameras << m_units.at(i)->cameraIndex();
    }
    if (state.stands()) {
        state.cameras = m_alarmCameras;
        state.position = m_win->curDetectIndex;
    }
    return state;
}

void DetectionCycle::raiseStandingAlarm(const StandingAlarm::State& state)
{
    if (!state.stands())
        return;
    const qint64 now = MonotonicClock::ms();
    const unsigned alarmOutputs = (1u << kAlarmOutputCount) - 1;
    QStringList what;
    int first = -1;
    for (int d = 0; d < kMaxDetections; ++d) {
        const StandingAlarm::Detection& kept = state.detections[size_t(d)];
        if (kept.cameras.isEmpty() && !kept.outputs)
            continue;
        unsigned units = 0;
        for (int i = 0; i < m_units.size(); ++i)
            if (kept.cameras.contains(m_units.at(i)->cameraIndex()))
                units |= 1u << i;
        QStringList cameras;
        for (int camera : kept.cameras)
            cameras << QString::number(camera + 1);
        // Only a release signalled from now on lifts it.
        const unsigned on = m_book.ng(d, units, units, kept.outputs & alarmOutputs, now).on;
        for (int output = 0; m_io && output < kAlarmOutputCount; ++output)
            if (on & (1u << output))
                m_io->IOSetOut(output, 1);
        what << QStringLiteral("detection %1 camera %2 outputs 0x%3")
                    .arg(d + 1)
                    .arg(cameras.isEmpty() ? QStringLiteral("-") : cameras.join(','))
                    .arg(kept.outputs & alarmOutputs, 2, 16, QLatin1Char('0'));
        if (first < 0)
            first = d;
    }
    if (m_io)
        m_io->IOFlashOut();
    m_alarmCameras = state.cameras;
    for (DetectionUnit* unit : qAsConst(m_units))
        if (m_alarmCameras.contains(unit->cameraIndex()))
            unit->startAlarmBlink();
    m_win->curDetectIndex = state.position;
    m_win->checkDetect = first;
    keepStandingAlarm();
    showNgResult();
    const QString text = QStringLiteral("NG alarm raised again after restart: %1").arg(what.join(QStringLiteral("; ")));
    qWarning().noquote() << text;
    m_win->InsertRecord(text, QStringLiteral("operate"));
    emit sigAlarmStarted(state.position);
    m_win->update();
}

int DetectionCycle::pulseTenths(int output) const
{
    if (!gpWPara)
        return 0;
    switch (output) {
    case kClampOutput: return gpWPara->clampPulse;
    case kEjectorOutput: return gpWPara->ejectorPulse;
    case kOutput4: return gpWPara->output4Pulse;
    default: return 0;
    }
}

unsigned DetectionCycle::driveNgOutputs(int detection)
{
    unsigned wanted = 0;
    for (int i = 0; i < m_units.size(); ++i) {
        if (m_stepOk.at(i))
            continue;
        const QVector<int> outputs = m_units.at(i)->ngOutputs(detection);
        for (int output : outputs)
            if (output >= 0 && output < kNgOutputCount)
                wanted |= 1u << output;
    }
    wanted = ngOutputsFor(detection, wanted);
    raiseOutputs(wanted, m_book.ng(detection, unitMask(m_stepChecked, true), unitMask(m_stepOk, false),
                                   holdingOutputs(wanted), MonotonicClock::ms()));
    return wanted;
}

unsigned DetectionCycle::ngOutputsFor(int detection, unsigned roiOutputs) const
{
    const unsigned clamp = 1u << kClampOutput;
    const unsigned ejector = 1u << kEjectorOutput;
    const bool product = isProductDetection(detection);
    const bool mould = isMouldDetection(detection);
    const bool productStopsNothing = product && gpWPara->prodNgNoEjector;
    unsigned wanted = roiOutputs;
    if (product && (gpWPara->noEjectorInProd || productStopsNothing))
        wanted &= ~ejector;
    if (wanted == 0 && !productStopsNothing)
        wanted = clamp;
    if (mould && gpWPara->cutClampOnMoldAlarm)
        wanted |= clamp;
    if (product && gpWPara->cutEjectorOnProdAlarm && !gpWPara->noEjectorInProd && !productStopsNothing)
        wanted |= ejector;
    // Separate stop outputs: O4 for a mould-cavity alarm, O5 for a finished-product alarm.
    if (mould && gpWPara->cavityAlarmOutputO4)
        wanted |= 1u << kOutput4;
    if (product && gpWPara->prodAlarmOutputO5 && !productStopsNothing)
        wanted |= 1u << kOutput5;
    // A product NG that does not stop the machine only sounds the alarm.
    if (productStopsNothing)
        wanted &= ~clamp;
    if (!gpWPara || !gpWPara->noAlarmSoundOnNg)
        wanted |= 1u << kAlarmOutput;
    return wanted;
}

unsigned DetectionCycle::holdingOutputs(unsigned wanted) const
{
    unsigned held = 0;
    for (int output = 0; output < kAlarmOutputCount; ++output)
        if ((wanted & (1u << output)) && !(m_io && output != kAlarmOutput && pulseTenths(output) > 0))
            held |= 1u << output;
    return held;
}

void DetectionCycle::raiseOutputs(unsigned wanted, const AlarmBook::Change& change)
{
    if (!m_io)
        return;
    for (int output = 0; output < kAlarmOutputCount; ++output) {
        if (!(wanted & (1u << output)))
            continue;
        const int tenths = output == kAlarmOutput ? 0 : pulseTenths(output);
        if (tenths > 0)
            m_io->IOPulseOut(output, 1, tenths);
        else if (change.on & (1u << output))
            m_io->IOSetOut(output, 1);
    }
    m_io->IOFlashOut();
    keepStandingAlarm();
}

void DetectionCycle::releaseOutputs(unsigned outputs)
{
    // Each change of the book ends in a switch of outputs (none, at times).
    keepStandingAlarm();
    if (!outputs || !m_io)
        return;
    const bool productionAlarm = gpProductAlarmWarnBox && gpProductAlarmWarnBox->isVisible();
    for (int output = 0; output < kAlarmOutputCount; ++output) {
        if (!(outputs & (1u << output)))
            continue;
        if (m_win->isOutputHeld(output) || (output == kClampOutput && m_preCut))
            continue;
        if (productionAlarm && (output == kClampOutput || output == kAlarmOutput))
            continue;
        m_io->IOSetOut(output, 0);
    }
    m_io->IOFlashOut();
}

bool DetectionCycle::alarmStands() const
{
    return m_book.stands();
}

DetectionCycle::Lifted DetectionCycle::camerasOf(const std::vector<AlarmBook::Lift>& lifts) const
{
    Lifted lifted;
    for (const AlarmBook::Lift& lift : lifts) {
        QList<int>& cameras = lifted[lift.detection];
        for (int i = 0; i < m_units.size(); ++i)
            if (lift.cameras & (1u << i))
                cameras << m_units.at(i)->cameraIndex();
    }
    return lifted;
}

DetectionCycle::Lifted DetectionCycle::liftable(qint64 signalMs) const
{
    return camerasOf(m_book.liftable(signalMs == kNow ? AlarmBook::kAll : signalMs));
}

DetectionCycle::Lifted DetectionCycle::liftAlarms(qint64 cutoff, int handTo, unsigned spare)
{
    std::vector<AlarmBook::Lift> lifts;
    releaseOutputs(m_book.lift(cutoff == kNow ? AlarmBook::kAll : cutoff, handTo, &lifts, spare).off);
    return camerasOf(lifts);
}

void DetectionCycle::raiseAlarm(int detection, unsigned cameras)
{
    if (m_alarmCameras.isEmpty())
        emit sigAlarmStarted(qMax(0, activeDetections().indexOf(detection)));
    for (int i = 0; i < m_units.size(); ++i)
        if ((cameras & (1u << i)) && !m_alarmCameras.contains(m_units.at(i)->cameraIndex()))
            m_alarmCameras << m_units.at(i)->cameraIndex();
    // On disk once the outputs are out, before the pictures and counts.
    writeStandingAlarm();
    showNgResult();
}

void DetectionCycle::announceRelease(int method)
{
    // Cameras of an NG that still stands stay in the alarm.
    QList<int> holding;
    for (int i = 0; i < m_units.size(); ++i)
        for (int d = 0; d < kMaxDetections; ++d)
            if (m_book.entry(d).ngCameras & (1u << i))
                holding << m_units.at(i)->cameraIndex();
    QList<int> released;
    for (int camera : qAsConst(m_alarmCameras))
        if (!holding.contains(camera))
            released << camera;
    m_alarmCameras.clear();
    for (int camera : qAsConst(holding))
        if (!m_alarmCameras.contains(camera))
            m_alarmCameras << camera;
    keepStandingAlarm();
    if (!alarmStands()) {
        setLamp(LedDevice::LampNG, false);
        if (m_win->pageState == kPageAlarm)
            m_win->pageState = kPageLive;
        m_win->resultState = 1;
    }
    m_win->update();
    if (!released.isEmpty())
        emit sigAlarmReleased(released, method);
}

DetectionCycle::Lifted DetectionCycle::clearAlarm(int method, qint64 signalMs)
{
    const Lifted lifted = liftAlarms(signalMs, AlarmBook::kReleaseNow);
    announceRelease(method);
    return lifted;
}

QVector<int> DetectionCycle::releaseAndRecheck(int method, qint64 signalMs, int detection, Lifted* lifted)
{
    const bool one = validDetection(detection);
    // The other stage's mould is not the one handed to: its part stays held.
    const unsigned spare = one && isTwoStage() && isMouldDetection(detection) ? 1u << (detection ^ 2) : 0u;
    const Lifted lifts = liftAlarms(signalMs, one ? detection : AlarmBook::kEachOwnCheck, spare);
    announceRelease(method);
    const QVector<int> checks = one ? QVector<int>{detection} : lifts.keys().toVector();
    for (int d : checks)
        redetect(d);
    // A check that did not start decides nothing: what was kept for it is its alarm again.
    for (int d : checks)
        if (!isBusy(d) && m_book.restore(d))
            raiseAlarm(d, m_book.entry(d).ngCameras);
    if (lifted)
        *lifted = lifts;
    return lifts.keys().toVector();
}

QVector<int> DetectionCycle::cameraIndexes() const
{
    QVector<int> cameras;
    for (const DetectionUnit* unit : m_units)
        cameras << unit->cameraIndex();
    return cameras;
}

void DetectionCycle::checkProductionAlarm()
{
    if (!gpWPara || gpWPara->okMoldNumber <= 0)
        return;
    ++m_win->prodAlarmCount;
    if (m_win->prodAlarmCount < gpWPara->okMoldNumber)
        return;
    if (m_io) {
        m_io->IOSetOut(kClampOutput, 1);
        if (!gpWPara->noAlarmSoundOnNg)
            m_io->IOSetOut(kAlarmOutput, 1);
        m_io->IOFlashOut();
    }
    if (gpProductAlarmWarnBox && !gpProductAlarmWarnBox->isVisible()) {
        qInfo() << "production alarm at" << m_win->prodAlarmCount;
        gpProductAlarmWarnBox->show();
    }
}
