#include "cyclerun.h"

#include <cstdio>

#include "alarmclearmethod.h"
#include "controlport.h"
#include "detectioncycle.h"
#include "globals.h"
#include "qttesthelpers.h"
#include "shellfixture.h"
#include "statecodes.h"
#include "virtualtimedispatcher.h"
#include "wizardpara.h"

#include <QMetaObject>

#include <algorithm>
#include <functional>
#include <memory>
#include <random>
#include <type_traits>
#include <utility>

namespace {
constexpr int kStoppedRunState = 3;
// An edge this close to a stop or start may or may not be taken.
constexpr qint64 kRunChangeMarginMs = 250;
constexpr int kClosingPulseMs = 150;

QString masksText(unsigned mask)
{
    QStringList list;
    for (int d = 0; d < 8; ++d)
        if (mask & (1u << d))
            list << QString::number(d + 1);
    return list.isEmpty() ? QStringLiteral("no detection") : QStringLiteral("detections ") + list.join(',');
}

// Qt messages are collected, not printed: thousands of sequences log millions of lines.
class QuietMessages
{
public:
    QuietMessages() : m_previous(qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {})) {}
    ~QuietMessages() { qInstallMessageHandler(m_previous); }

private:
    QtMessageHandler m_previous;
};

// The program's own pause and the operator's stop, by the cycle's own calls where it has them
// (a pause that holds the countdowns; a stop that holds a mould still counting down).
template <typename Cycle>
auto pauseCycle(Cycle& cycle, bool paused, int) -> decltype(cycle.setPaused(paused), void())
{
    cycle.setPaused(paused);
}
template <typename Cycle>
void pauseCycle(Cycle& cycle, bool paused, long)
{
    if (paused)
        cycle.stop();
    else
        cycle.start();
}
template <typename Cycle, typename = void>
struct HoldsWhilePaused : std::false_type
{
};
template <typename Cycle>
struct HoldsWhilePaused<Cycle, decltype(std::declval<Cycle&>().setPaused(true), void())> : std::true_type
{
};
template <typename Cycle>
auto stopCycle(Cycle& cycle, int) -> decltype(cycle.stopDetection(), void())
{
    // Its timers stop too: signals that come while it is stopped are dropped at the start.
    cycle.stopDetection();
    cycle.stop();
}
template <typename Cycle>
void stopCycle(Cycle& cycle, long)
{
    cycle.stop();
}

// The outputs the cycle's alarm book holds, where it has one (-1: none).
template <typename Cycle>
auto bookHeld(const Cycle& cycle, int) -> decltype(qint64(cycle.alarmBook().held()))
{
    return qint64(cycle.alarmBook().held());
}
template <typename Cycle>
qint64 bookHeld(const Cycle&, long)
{
    return -1;
}

// The mould detection as the cycle tells it (the box offers and checks that one), where it does.
template <typename Cycle>
auto cycleMould(const Cycle& cycle, const CycleSetup&, int, int) -> decltype(cycle.mouldDetection())
{
    return cycle.mouldDetection();
}
template <typename Cycle>
int cycleMould(const Cycle&, const CycleSetup& setup, int stageFlag, long)
{
    return setup.mouldDetection(stageFlag);
}

// What a new process raises again of the alarm the old one kept, where the cycle keeps it.
template <typename Cycle>
auto keptAlarm(Cycle& cycle, int) -> decltype(cycle.raiseStandingAlarm(cycle.standingAlarm()),
                                              std::function<void(Cycle&)>())
{
    return [state = cycle.standingAlarm()](Cycle& fresh) { fresh.raiseStandingAlarm(state); };
}
template <typename Cycle>
std::function<void(Cycle&)> keptAlarm(Cycle&, long)
{
    return {};
}

struct Action
{
    enum Kind { Steady, Level, Apply, Confirm };
    Kind kind;
    qint64 at;
    int input = 0;
    bool high = false;
    qint64 rise = 0;
    const CycleEvent* event = nullptr;
};

class SequenceRun
{
public:
    explicit SequenceRun(const CycleSequence& sequence);
    ~SequenceRun();
    CycleOutcome run();

private:
    void deliver();
    CycleView view() const;
    // The IO thread saw the inputs change to word at seenAtMs; the GUI thread hears of it now.
    void reportInputs(int word, qint64 seenAtMs);
    void setLevel(int input, bool high, qint64 seenAtMs);
    void apply(const CycleEvent& event);
    void steady(int input, qint64 rise);
    void makeCycle();
    // The program ends and starts again (a language change, a signal): a new cycle on the same board.
    void restart();
    void moveTo(qint64 atMs);
    bool nearRunChange(qint64 from, qint64 to) const;
    void endStall();
    void resumeHeldEdges();
    void closingMoulds();
    QString pendingWork() const;

    const CycleSequence& m_seq;
    VirtualTimeDispatcher* m_clock;
    qint64 m_base;
    QuietMessages m_quiet;
    MessageLog m_log;
    WizardPara m_para;
    ControlPort m_io;
    CycleWindow m_win;
    std::unique_ptr<DetectionCycle> m_cycle;
    std::vector<std::unique_ptr<FakeUnit>> m_units;
    // What each camera sees from a time on: a check judges the frame its unit took last.
    std::vector<std::pair<qint64, unsigned>> m_world[8];
    qint64 m_frameAt[8] = {};
    unsigned partsAt(int camera, qint64 at) const;
    void confirmBox(const CycleEvent& event);
    // The alarm box the operator tapped open (-1: none) and when.
    qint64 m_boxTap = -1;
    int m_boxGroup = 0;
    int m_boxStage = 0;
    int m_boxMould = -1;
    bool m_boxCertain = true;
    bool m_paused = false;
    // Edges that turned steady while a pause held them (input, rise): the cycle takes them as it ends.
    std::vector<std::pair<int, qint64>> m_heldEdges;
    bool m_heldMany = false;
    // A pause waits among what a stall queued: the cycle takes no edge of it before the pause.
    bool m_pauseQueued = false;
    // The statistics as sendRecord feeds them: steps since the last close, and the closes.
    bool m_statsStepNg = false;
    unsigned m_statsStepCameraNg = 0;
    int m_statsCycles = 0;
    int m_statsNgCycles = 0;
    int m_statsCameraNgCycles[8] = {};
    mutable int m_recordsSeen = 0;
    mutable int m_ngRecords = 0;
    CycleRules m_rules;
    std::vector<CycleNote> m_pending;
    std::vector<int> m_pendingAt;  // log lines before each pending note
    int m_consumedLines = 0;
    int m_word = 0;
    bool m_running = true;
    bool m_operatorActs = false;
    // When detection stopped and started, by the time the operator did it: a pulse that
    // rose while it was stopped is dropped at the start, whenever it turned steady.
    std::vector<std::pair<qint64, bool>> m_runHistory;
    std::vector<qint64> m_runChanges;
    qint64 m_stallUntil = -1;
    qint64 m_lastStallEnd = -1000000;
    qint64 m_timersRanAt = 0;   // the cycle's timers last ran then
    bool m_catchingUp = false;
    // What waited for the stalled GUI thread, in the order it came: input reports
    // (with the time the IO thread saw them) and the operator's acts.
    struct Stalled
    {
        qint64 at;
        std::function<void()> run;
        bool pauses = false;   // the program's pause: it comes before the cycle runs again
    };
    std::vector<Stalled> m_stalled;
};

SequenceRun::SequenceRun(const CycleSequence& sequence)
    : m_seq(sequence)
    , m_clock(VirtualTimeDispatcher::instance())
    , m_base(m_clock->now())
    , m_rules(sequence.setup)
{
    const CycleSetup& s = sequence.setup;
    if (qEnvironmentVariableIntValue("MM_CYCLE_TRACE") != 0)
        std::fprintf(stderr, "=== a run of %d events\n%s\n", int(sequence.events.size()),
                     qPrintable(sequence.describe()));
    resetShellGlobals();
    gpWPara = &m_para;
    gpControlIO = &m_io;
    gDNum = s.detections;
    for (int d = 0; d < 8; ++d) {
        m_para.detectEnable[d] = s.enable[size_t(d)];
        m_para.trigInput[d] = s.trigInput[size_t(d)];
        m_para.trigInDelay[d] = s.delay[size_t(d)];
    }
    m_para.trigMode = s.trigMode;
    m_para.stageGroups = s.stageGroups;
    // Stage groups 0 and 1 fix the stage; 2 and 3 alternate from either.
    if (s.twoStage())
        m_win.stageFlag = s.stageGroups == 0 ? 1 : s.stageGroups == 1 ? 0 : int(sequence.seed & 1);
    m_para.recheckTimes = s.recheckTimes;
    m_para.recheckDelay = s.recheckDelay;
    m_para.recheckAllCameras = s.recheckAllCameras ? 1 : 0;
    m_para.preCutTime = s.preCutTime;
    m_para.safetyDoorTrigger = s.doorTrigger ? 1 : 0;
    m_para.safetyDoorClearsAlarm = s.doorClears ? 1 : 0;
    m_para.shakeEraseTime = s.shakeErase;
    m_para.noAlarmSoundOnNg = s.noAlarmSound ? 1 : 0;
    m_para.prodNgNoEjector = s.prodNgNoEjector ? 1 : 0;
    m_para.cutClampOnMoldAlarm = s.cutClampOnMoldAlarm ? 1 : 0;
    m_para.cutEjectorOnProdAlarm = s.cutEjectorOnProdAlarm ? 1 : 0;
    m_para.noEjectorInProd = s.noEjectorInProd ? 1 : 0;
    m_para.shieldPin = s.shieldPin;
    m_para.prodNgSkipRecheck = s.prodNgSkipRecheck ? 1 : 0;
    m_para.reInspectionDelay = s.reInspectionDelay;
    m_para.inputResetRecheck = s.inputResetRecheck ? 1 : 0;
    // Input 0 has function 0, input 1 is the door, inputs 2..8 have functions 1..7.
    if (s.clearingInput >= 0 && s.clearingInput != 1)
        m_para.inFunc[s.clearingInput == 0 ? 0 : s.clearingInput - 1] = kInFunctionClearAlarm;
    m_para.ngRecordNum = 5;
    m_para.okRecordNum = 0;
    gPicNumNG = 5;
    gPicNumOK = 0;
    m_win.runState = kRunRunning;
    m_rules.pausesHold(HoldsWhilePaused<DetectionCycle>::value);
    for (int c = 0; c < s.cameras; ++c) {
        m_units.push_back(std::make_unique<FakeUnit>(c));
        m_world[c].push_back({m_base, sequence.initialNg[size_t(c)]});
        m_rules.worldParts(c, sequence.initialNg[size_t(c)], 0);
        m_frameAt[c] = m_base;
        m_units.back()->onFrame = [this, c] { m_frameAt[c] = m_clock->now(); };
        m_units.back()->judge = [this, c](int d) {
            const bool ok = !(partsAt(c, m_frameAt[c]) & (1u << d));
            CycleNote note(CycleNote::Judge);
            note.camera = c;
            note.detection = d;
            note.ok = ok;
            note.recheckMade = d >= 0 && d < 8 ? m_win.recheckMade[d] : 0;
            m_pending.push_back(note);
            m_pendingAt.push_back(m_log.lines.size());
            return ok;
        };
    }
    makeCycle();
    QObject::connect(&m_win, &MainWindowBase::sendRecord, [this](int, int, QList<bool> cameraOK, bool closes) {
        for (int i = 0; i < cameraOK.size() && i < 8; ++i)
            if (!cameraOK.at(i))
                m_statsStepCameraNg |= 1u << m_units[size_t(i)]->cameraIndex();
        m_statsStepNg = m_statsStepNg || cameraOK.contains(false);
        if (!closes)
            return;
        ++m_statsCycles;
        m_statsNgCycles += m_statsStepNg ? 1 : 0;
        for (int c = 0; c < 8; ++c)
            m_statsCameraNgCycles[c] += (m_statsStepCameraNg >> c) & 1u;
        m_statsStepNg = false;
        m_statsStepCameraNg = 0;
    });
    // A pause that holds drops no edge: only whether one just before it is taken before it or
    // at its end is not certain.
    const bool pauseStops = !HoldsWhilePaused<DetectionCycle>::value;
    for (const CycleEvent& e : sequence.events)
        if (e.kind == CycleEvent::Stop || e.kind == CycleEvent::Start || e.kind == CycleEvent::Restart
            || e.kind == CycleEvent::Pause || (pauseStops && e.kind == CycleEvent::Resume))
            m_runChanges.push_back(m_base + e.atMs);
    m_clock->setAfterDelivery([this] {
        m_timersRanAt = m_clock->now();
        deliver();
    });
}

void SequenceRun::makeCycle()
{
    m_cycle = std::make_unique<DetectionCycle>(&m_win, &m_io);
    m_win.cycle = m_cycle.get();
    m_cycle->setCheckThreads(1);
    QVector<DetectionUnit*> units;
    for (const auto& unit : m_units)
        units << unit.get();
    m_cycle->setUnits(units);
    QObject::connect(m_cycle.get(), &DetectionCycle::sigCycleStarted, [this] {
        m_pending.emplace_back(CycleNote::Started);
        m_pendingAt.push_back(m_log.lines.size());
    });
    QObject::connect(m_cycle.get(), &DetectionCycle::sigAlarmReleased, [this](const QList<int>&, int method) {
        CycleNote note(CycleNote::Released);
        note.method = method;
        note.detection = qBound(0, m_win.checkDetect, kMaxDetections - 1);
        note.byOperator = m_operatorActs;
        m_pending.push_back(note);
        m_pendingAt.push_back(m_log.lines.size());
    });
    QObject::connect(m_cycle.get(), &DetectionCycle::sigCycleFinished, [this](bool ng) {
        CycleNote note(CycleNote::Finished);
        note.ok = !ng;
        m_pending.push_back(note);
        m_pendingAt.push_back(m_log.lines.size());
    });
}

void SequenceRun::restart()
{
    // Only a cycle at rest: what a restart does to a countdown is a stop's.
    for (int d = 0; d < kMaxDetections; ++d)
        if (m_cycle->isBusy(d) || m_win.recheckMade[d] != 0)
            return;
    if (!m_running || m_paused || m_boxTap >= 0 || m_win.recheckActive)
        return;
    const qint64 now = m_clock->now();
    const std::function<void(DetectionCycle&)> raise = keptAlarm(*m_cycle, 0);
    // To the world a restart is a pause of the program's own: it drops no mould.
    m_rules.worldPause(true, now - m_base);
    m_rules.stopped(now - m_base);
    m_rules.restarted();
    m_cycle->stop();
    m_cycle.reset();
    // The statistics' flags of the cycle under way live in memory: a new process starts them afresh.
    m_statsStepNg = false;
    m_statsStepCameraNg = 0;
    // A new process: the outputs as at start, the page live.
    for (int output = 0; output < ControlPort::kOutputCount; ++output)
        m_io.IOSetOut(output, 0);
    m_win.pageState = kPageLive;
    makeCycle();
    if (raise)
        raise(*m_cycle);
    m_cycle->start();
    m_rules.started(now - m_base);
    m_rules.worldPause(false, now - m_base);
}

SequenceRun::~SequenceRun()
{
    m_clock->setAfterDelivery({});
    m_cycle->stop();
    m_cycle.reset();
    // The statistics' flags of the cycle under way live in memory: a new process starts them afresh.
    m_statsStepNg = false;
    m_statsStepCameraNg = 0;
    gpControlIO = nullptr;
    gpWPara = nullptr;
}

void SequenceRun::deliver()
{
    std::vector<CycleNote> notes;
    size_t k = 0;
    for (int i = m_consumedLines; i < m_log.lines.size(); ++i) {
        while (k < m_pending.size() && m_pendingAt[k] <= i)
            notes.push_back(m_pending[k++]);
        CycleNote line(CycleNote::LogLine);
        line.text = m_log.lines.at(i);
        notes.push_back(line);
    }
    while (k < m_pending.size())
        notes.push_back(m_pending[k++]);
    m_consumedLines = m_log.lines.size();
    m_pending.clear();
    m_pendingAt.clear();
    const CycleView seen = view();
    // MM_CYCLE_TRACE=1: what each delivery did, to follow one seed by hand.
    static const bool trace = qEnvironmentVariableIntValue("MM_CYCLE_TRACE") != 0;
    if (trace) {
        for (const CycleNote& n : notes) {
            if (n.kind == CycleNote::LogLine)
                std::fprintf(stderr, "t=%lld %s\n", qlonglong(seen.nowMs), qPrintable(n.text));
            else if (n.kind == CycleNote::Started || n.kind == CycleNote::Finished)
                std::fprintf(stderr, "t=%lld %s\n", qlonglong(seen.nowMs),
                             n.kind == CycleNote::Started ? "cycle started" : n.ok ? "cycle finished OK" : "cycle finished NG");
        }
        std::fprintf(stderr, "t=%lld outputs %02x stage %d open %d\n", qlonglong(seen.nowMs), seen.outputs,
                     seen.stageFlag, seen.openSerial);
    }
    m_rules.delivered(notes, seen);
}

CycleView SequenceRun::view() const
{
    CycleView v;
    v.nowMs = m_clock->now() - m_base;
    v.outputs = m_io.outputWord();
    // A camera's event during a stall is seen while the GUI thread has not run.
    v.catchingUp = m_catchingUp || m_stallUntil >= 0;
    v.stallEndMs = (m_stallUntil >= 0 ? m_clock->now() : m_lastStallEnd) - m_base;
    v.preCut = m_cycle->isPreCut();
    v.bookHeld = bookHeld(*m_cycle, 0);
    for (int d = 0; d < kMaxDetections; ++d)
        v.busy |= m_cycle->isBusy(d) ? 1u << d : 0u;
    v.stageFlag = m_win.stageFlag;
    v.doorFlag = m_win.safetyDoorTriggered;
    v.openSerial = m_cycle->openCycleSerial();
    for (int c = 0; c < 8; ++c) {
        v.allCycles[c] = gAllCycleNum[c];
        v.failCycles[c] = gFailCycleNum[c];
    }
    v.ngCycles = gSyncNGCycleNum;
    for (int c = 0; c < 8; ++c) {
        v.allSteps[c] = gAllNum[c];
        v.failSteps[c] = gFailNum[c];
        v.statsCameraNgCycles[c] = m_statsCameraNgCycles[c];
    }
    v.ngSteps = gSyncNGNum;
    v.statsCycles = m_statsCycles;
    v.statsNgCycles = m_statsNgCycles;
    for (; m_recordsSeen < m_win.records.size(); ++m_recordsSeen)
        // A "not inspected" line logs the stop: a check no camera could take counts nowhere, a refused one in gSyncNGNum.
        m_ngRecords += m_win.records.at(m_recordsSeen).startsWith(QLatin1String("run: NG: camera")) ? 1 : 0;
    v.ngRecords = m_ngRecords;
    return v;
}

unsigned SequenceRun::partsAt(int camera, qint64 at) const
{
    unsigned parts = 0;
    for (const auto& [from, detections] : m_world[camera])
        if (from <= at)
            parts = detections;
    return parts;
}

void SequenceRun::reportInputs(int word, qint64 seenAtMs)
{
    // The port's slot that takes the IO thread's time stamp, where it has one.
    static const bool timeStamped = ControlPort::staticMetaObject.indexOfMethod("SlotInputsSeen(int,qint64)") >= 0;
    if (timeStamped)
        QMetaObject::invokeMethod(&m_io, "SlotInputsSeen", Qt::DirectConnection, Q_ARG(int, word),
                                  Q_ARG(qint64, seenAtMs));
    else
        QMetaObject::invokeMethod(&m_io, "SlotIOChange", Qt::DirectConnection, Q_ARG(int, word));
}

void SequenceRun::setLevel(int input, bool high, qint64 seenAtMs)
{
    m_word = high ? (m_word | (1 << input)) : (m_word & ~(1 << input));
    if (m_stallUntil >= 0) {
        const int word = m_word;
        m_stalled.push_back({seenAtMs, [this, word, seenAtMs] { reportInputs(word, seenAtMs); }});
        return;
    }
    reportInputs(m_word, seenAtMs);
    deliver();
    m_clock->deliverDue();
}

bool SequenceRun::nearRunChange(qint64 from, qint64 to) const
{
    // A stall that holds the GUI thread at `to` puts off the cycle's look until it ends.
    for (bool longer = true; longer;) {
        longer = false;
        for (const CycleEvent& e : m_seq.events) {
            const qint64 at = m_base + e.atMs;
            if (e.kind == CycleEvent::Stall && at <= to + 1 && to < at + e.lengthMs) {
                to = at + e.lengthMs;
                longer = true;
            }
        }
    }
    for (qint64 t : m_runChanges)
        if (t >= from - kRunChangeMarginMs && t <= to + kRunChangeMarginMs)
            return true;
    return false;
}

void SequenceRun::steady(int input, qint64 rise)
{
    if ((m_paused || m_pauseQueued) && HoldsWhilePaused<DetectionCycle>::value) {
        m_heldEdges.emplace_back(input, rise);
        return;
    }
    const qint64 now = m_clock->now();
    bool paused = false;
    for (const auto& [at, started] : m_runHistory)
        if (at <= rise)
            paused = !started;
    const CycleSetup& s = m_seq.setup;
    const bool alternates = s.twoStage() && s.stageGroups >= 2;
    m_rules.steadyEdge(input, rise - m_base, now - m_base, m_running && !nearRunChange(rise, now), m_win.stageFlag,
                       paused, !(alternates && (m_catchingUp || m_stallUntil >= 0 || m_heldMany)));
}

void SequenceRun::apply(const CycleEvent& e)
{
    const qint64 now = m_clock->now();
    const bool haveCamera = e.arg >= 0 && e.arg < int(m_units.size());
    switch (e.kind) {
    case CycleEvent::Pulse:
    case CycleEvent::Stall:
        return;
    case CycleEvent::Redetect:
        m_rules.redetect(e.arg, m_running && !nearRunChange(now, now));
        m_rules.lookAgain(e.arg, now - m_base, m_running && !nearRunChange(now, now));
        m_cycle->redetect(e.arg);
        break;
    case CycleEvent::Release:
        // The alarm box opens with an alarm at the tap; the choice comes when it is confirmed.
        if (m_boxTap >= 0 || (m_win.pageState != kPageAlarm && !m_cycle->isAlarmed()))
            return;
        m_boxTap = now;
        m_boxGroup = qBound(0, m_win.checkDetect, kMaxDetections - 1);
        m_boxMould = cycleMould(*m_cycle, m_seq.setup, m_win.stageFlag, 0);
        m_boxStage = m_win.stageFlag;
        m_boxCertain = m_running && !nearRunChange(now, now);
        return;
    case CycleEvent::CameraLost:
        if (haveCamera) {
            m_units[size_t(e.arg)]->connected = false;
            m_rules.worldCamera(e.arg, false, now - m_base);
        }
        break;
    case CycleEvent::CameraBack:
        if (haveCamera && !m_units[size_t(e.arg)]->connected) {
            m_units[size_t(e.arg)]->connected = true;
            m_rules.cameraBack(now - m_base);
            m_rules.worldCamera(e.arg, true, now - m_base);
        }
        break;
    case CycleEvent::Verdict:
        if (haveCamera) {
            m_world[e.arg].push_back({now, e.ngMask});
            m_rules.worldParts(e.arg, e.ngMask, now - m_base);
        }
        break;
    case CycleEvent::Restart:
        restart();
        break;
    case CycleEvent::Pause:
        // Detection paused by the program (an editor, the learning): the run state stays.
        if (!m_running || m_paused)
            return;
        m_paused = true;
        m_rules.worldPause(true, now - m_base);
        pauseCycle(*m_cycle, true, 0);
        // A pause that holds everything is nothing to the cycle's rules; one that stops is a stop.
        if (HoldsWhilePaused<DetectionCycle>::value)
            break;
        m_rules.stopped((m_catchingUp ? m_timersRanAt : now) - m_base);
        m_running = false;
        m_runHistory.emplace_back(m_base + e.atMs, false);
        break;
    case CycleEvent::Resume:
        if (!m_paused)
            return;
        m_paused = false;
        resumeHeldEdges();
        pauseCycle(*m_cycle, false, 0);
        if (!HoldsWhilePaused<DetectionCycle>::value) {
            m_rules.started(now - m_base);
            m_running = true;
            m_runHistory.emplace_back(m_base + e.atMs, true);
        }
        m_rules.worldPause(false, now - m_base);
        break;
    case CycleEvent::Stop:
        m_win.runState = kStoppedRunState;
        stopCycle(*m_cycle, 0);
        m_rules.stopped((m_catchingUp ? m_timersRanAt : now) - m_base);
        m_running = false;
        m_runHistory.emplace_back(m_base + e.atMs, false);
        break;
    case CycleEvent::Start:
        m_win.runState = kRunRunning;
        m_cycle->start();
        m_rules.started(now - m_base);
        m_running = true;
        m_runHistory.emplace_back(m_base + e.atMs, true);
        break;
    }
    deliver();
    // A stalled GUI thread runs no timer until the stall ends, nor while it hands over
    // what queued up: the late timers come after the last of it.
    if (m_stallUntil < 0 && !m_catchingUp)
        m_clock->deliverDue();
}

void SequenceRun::confirmBox(const CycleEvent& e)
{
    // As the box's return does: it lifts what stood at the tap; Re-detect checks again each
    // detection it lifted (the alarmed one when none), the switch to the mould hands
    // everything lifted to the check of the mould detection of the stage in use.
    if (m_boxTap < 0)
        return;
    const qint64 tap = std::exchange(m_boxTap, -1);
    const int group = m_boxGroup;
    const CycleSetup& s = m_seq.setup;
    // The switch is offered as the box opens, and goes to the mould detection as it is confirmed.
    const int mould = cycleMould(*m_cycle, s, m_win.stageFlag, 0);
    int method = e.arg ? e.arg : int(AlarmClearMethod::DontDetect);
    if (method == AlarmClearMethod::SwitchToMould && (m_boxMould < 0 || group == m_boxMould || mould < 0))
        method = AlarmClearMethod::Redetect;   // the box offers the switch away from other detections only
    const bool certain = m_boxCertain && m_running;
    m_operatorActs = true;
    if (method == AlarmClearMethod::Redetect) {
        QVector<int> lifted = m_cycle->releaseAndRecheck(method, tap);
        if (lifted.isEmpty()) {
            m_cycle->redetect(group);
            lifted << group;
        }
        m_rules.operatorRelease(tap - m_base, lifted, -1, certain);
    } else if (method == AlarmClearMethod::SwitchToMould) {
        m_cycle->releaseAndRecheck(method, tap, mould);
        m_rules.operatorRelease(tap - m_base, {}, mould, certain);
    } else {
        m_cycle->clearAlarm(method, tap);
        m_rules.operatorRelease(tap - m_base, {}, -1, certain);
    }
    m_operatorActs = false;
    deliver();
    if (m_stallUntil < 0 && !m_catchingUp)
        m_clock->deliverDue();
}

void SequenceRun::moveTo(qint64 atMs)
{
    const qint64 target = m_base + atMs;
    if (target <= m_clock->now())
        return;
    if (m_stallUntil >= 0)
        m_clock->stall(target - m_clock->now());
    else
        m_clock->advance(target - m_clock->now());
}

void SequenceRun::resumeHeldEdges()
{
    // What the pause held is taken now, in the order it rose; where stages alternate, an
    // earlier one may move the stage the next is taken in.
    m_heldMany = m_heldEdges.size() > 1;
    for (const auto& [input, rise] : std::exchange(m_heldEdges, {}))
        steady(input, rise);
    m_heldMany = false;
}

void SequenceRun::endStall()
{
    m_clock->stall(qMax<qint64>(0, m_stallUntil - m_clock->now()));
    m_stallUntil = -1;
    // The queued reports and touches reach the GUI thread in the order they came; then the late timers.
    std::vector<Stalled> stalled = std::exchange(m_stalled, {});
    std::stable_sort(stalled.begin(), stalled.end(), [](const Stalled& a, const Stalled& b) { return a.at < b.at; });
    m_catchingUp = true;
    m_pauseQueued = std::any_of(stalled.begin(), stalled.end(), [](const Stalled& item) { return item.pauses; });
    for (const Stalled& item : stalled) {
        item.run();
        deliver();
    }
    m_pauseQueued = false;
    // A pause that came and went in the stall held nothing: its edges are taken now.
    if (!m_paused)
        resumeHeldEdges();
    m_catchingUp = false;
    m_lastStallEnd = m_clock->now();
    m_clock->deliverDue();
}

CycleOutcome SequenceRun::run()
{
    std::vector<Action> actions;
    const int shakeMs = m_seq.setup.shakeErase * 100;
    for (const CycleEvent& e : m_seq.events) {
        if (e.kind == CycleEvent::Pulse) {
            actions.push_back({Action::Level, e.atMs, e.arg, true});
            actions.push_back({Action::Level, e.atMs + e.lengthMs, e.arg, false});
            if (e.lengthMs >= shakeMs)
                actions.push_back({Action::Steady, e.atMs + shakeMs, e.arg, true, e.atMs});
        } else {
            actions.push_back({Action::Apply, e.atMs, 0, false, 0, &e});
            if (e.kind == CycleEvent::Release)
                actions.push_back({Action::Confirm, e.atMs + e.lengthMs, 0, false, 0, &e});
        }
    }
    // At one moment: what the model learns first, then the lines, then the rest.
    std::stable_sort(actions.begin(), actions.end(), [](const Action& a, const Action& b) {
        return a.at != b.at ? a.at < b.at : int(a.kind) < int(b.kind);
    });
    m_cycle->start();
    deliver();
    for (const Action& a : actions) {
        // A stall that starts the moment another ends continues it: the GUI thread never ran between.
        const bool stallGoesOn = a.kind == Action::Apply && a.event->kind == CycleEvent::Stall
                                 && m_base + a.at == m_stallUntil;
        // An edge that turns steady the moment a stall ends is told before the late timers run.
        if (a.kind == Action::Steady && m_base + a.at == m_stallUntil) {
            const int input = a.input;
            const qint64 rise = m_base + a.rise;
            m_stalled.push_back({m_stallUntil - 1, [this, input, rise] { steady(input, rise); }});
            endStall();
            continue;
        }
        // So is the program's pause: the cycle takes what the stall queued only after it.
        if (a.kind == Action::Apply && a.event->kind == CycleEvent::Pause && m_base + a.at == m_stallUntil) {
            m_stalled.push_back({m_stallUntil - 1, [this, event = a.event] { apply(*event); }, true});
            endStall();
            continue;
        }
        if (m_stallUntil >= 0 && m_base + a.at >= m_stallUntil && !stallGoesOn)
            endStall();
        // A steady edge is told to the model a moment before the cycle can take it.
        moveTo(a.kind == Action::Steady ? a.at - 1 : a.at);
        switch (a.kind) {
        case Action::Level:
            setLevel(a.input, a.high, m_clock->now());
            break;
        case Action::Confirm:
            if (m_stallUntil >= 0)
                m_stalled.push_back({m_clock->now(), [this, event = a.event] { confirmBox(*event); }});
            else
                confirmBox(*a.event);
            break;
        case Action::Steady:
            if (m_stallUntil >= 0) {
                const int input = a.input;
                const qint64 rise = m_base + a.rise;
                m_stalled.push_back({m_clock->now(), [this, input, rise] { steady(input, rise); }});
            } else {
                steady(a.input, m_base + a.rise);
            }
            break;
        case Action::Apply: {
            const CycleEvent& e = *a.event;
            if (e.kind == CycleEvent::Stall) {
                m_stallUntil = qMax(m_stallUntil, m_clock->now() + e.lengthMs);
            } else if (m_stallUntil >= 0 && e.kind != CycleEvent::CameraLost && e.kind != CycleEvent::CameraBack
                       && e.kind != CycleEvent::Verdict) {
                // The operator's touches wait for the GUI thread like everything else.
                m_stalled.push_back({m_clock->now(), [this, &e] { apply(e); }, e.kind == CycleEvent::Pause});
            } else {
                apply(e);
            }
            break;
        }
        }
    }
    if (m_stallUntil >= 0)
        endStall();
    closingMoulds();
    CycleOutcome outcome;
    outcome.failedRules = m_rules.failedRules();
    outcome.failures = m_rules.failures();
    return outcome;
}

QString SequenceRun::pendingWork() const
{
    QStringList what;
    for (int d = 0; d < kMaxDetections; ++d) {
        if (m_cycle->isBusy(d))
            what << QStringLiteral("detection %1 is busy").arg(d + 1);
        if (m_cycle->isCounting(d))
            what << QStringLiteral("detection %1 counts down").arg(d + 1);
        if (m_win.recheckMade[d] != 0)
            what << QStringLiteral("detection %1 has made %2 rechecks").arg(d + 1).arg(m_win.recheckMade[d]);
    }
    if (m_win.recheckActive)
        what << QStringLiteral("a recheck waits");
    return what.join(", ");
}

void SequenceRun::closingMoulds()
{
    const CycleSetup& s = m_seq.setup;
    auto elapsed = [this] { return m_clock->now() - m_base; };
    moveTo(elapsed() + 100);
    for (int c = 0; c < int(m_units.size()); ++c)
        apply(CycleEvent{CycleEvent::CameraBack, elapsed(), c});
    if (m_paused)
        apply(CycleEvent{CycleEvent::Resume, elapsed()});
    if (!m_running)
        apply(CycleEvent{CycleEvent::Start, elapsed()});
    m_runChanges.clear();
    const int settle = s.settleMs();
    moveTo(elapsed() + settle);
    // One mould per trigger input, in the order the detections of the cycle come. Where one
    // input's pulse also triggers a detection an earlier one did (inputs 2 and 3 with "either"),
    // or the door's check joins in, the cycle need not close on them.
    QVector<int> inputs;
    unsigned triggered = 0;
    bool closesOnce = true;
    const QVector<int> cycleDetections = s.active(m_win.stageFlag);
    for (int d : cycleDetections) {
        if (triggered & (1u << d))
            continue;
        const int wanted = s.trigInput[size_t(s.twoStage() ? d % 2 : d)];
        const int line = wanted == 255 ? 2 : wanted;
        inputs << line;
        for (int other : cycleDetections) {
            if (!s.triggers(other, line))
                continue;
            closesOnce = closesOnce && !(triggered & (1u << other));
            triggered |= 1u << other;
        }
        // The door's pulse may be the door's check, or skip a product NG instead of triggering.
        if (line == 1 && (s.doorTrigger || s.prodNgSkipRecheck))
            closesOnce = false;
    }
    // A cycle closes once its last detection has checked: a later input's detections
    // open the next cycle, which only the next mould ends.
    if (!inputs.isEmpty() && !cycleDetections.isEmpty() && !s.triggers(cycleDetections.last(), inputs.last()))
        closesOnce = false;
    // The shielded input triggers after that many signals, counted from the mould opening.
    if (s.shieldPin > 0 && inputs.contains(2)) {
        QVector<int> presses;
        if (inputs.indexOf(0) < 0 || inputs.indexOf(0) > inputs.indexOf(2))
            presses << 0;
        for (int input : inputs)
            for (int n = 0; n < (input == 2 ? s.shieldPin + 1 : 1); ++n)
                presses << input;
        inputs = presses;
    }
    const int shakeMs = s.shakeErase * 100;
    for (int input : inputs) {
        const qint64 rise = m_clock->now();
        if (shakeMs == 0)
            steady(input, rise);
        setLevel(input, true, rise);
        if (shakeMs > 0) {
            moveTo(elapsed() + shakeMs - 1);
            steady(input, rise);
        }
        moveTo(rise - m_base + shakeMs + kClosingPulseMs);
        setLevel(input, false, m_clock->now());
        moveTo(elapsed() + settle);
    }
    moveTo(elapsed() + settle);
    const QString pending = pendingWork();
    m_rules.quiescent(view(), pending.isEmpty(), pending, closesOnce);
}
} // namespace

QString CycleEvent::describe() const
{
    const QString at = QStringLiteral("t=%1 ms ").arg(atMs);
    switch (kind) {
    case Pulse:
        if (arg == 1)
            return at + QStringLiteral("open the safety door (input 1) for %1 ms").arg(lengthMs);
        return at + QStringLiteral("press input %1 for %2 ms").arg(arg).arg(lengthMs);
    case Redetect: return at + QStringLiteral("Re-detect detection %1").arg(arg + 1);
    case Release: {
        static const char* const kMethods[] = {"", "", "", "", "", " and adds it as a template",
                                               " and switches to the mould", " and re-detects"};
        return at + QStringLiteral("the operator opens the alarm box; %1 ms later releases the alarm%2")
                        .arg(lengthMs)
                        .arg(arg >= 4 && arg <= 7 ? kMethods[arg] : "");
    }
    case CameraLost: return at + QStringLiteral("camera %1 lost").arg(arg + 1);
    case CameraBack: return at + QStringLiteral("camera %1 back").arg(arg + 1);
    case Verdict: return at + QStringLiteral("camera %1 sees a part in %2").arg(arg + 1).arg(masksText(ngMask));
    case Stall: return at + QStringLiteral("the GUI thread stalls for %1 ms").arg(lengthMs);
    case Stop: return at + QStringLiteral("detection stopped");
    case Start: return at + QStringLiteral("detection started");
    case Pause: return at + QStringLiteral("the program pauses detection (an editor, the learning)");
    case Resume: return at + QStringLiteral("the program lets detection run again");
    case Restart: return at + QStringLiteral("the program restarts (when no detection is under way)");
    }
    return at;
}

QString CycleSequence::describe() const
{
    QStringList lines;
    lines << QStringLiteral("seed %1").arg(seed);
    lines << QStringLiteral("setup: ") + setup.describe();
    for (int c = 0; c < setup.cameras; ++c)
        lines << QStringLiteral("t=0 ms camera %1 sees a part in %2").arg(c + 1).arg(masksText(initialNg[size_t(c)]));
    for (const CycleEvent& e : events)
        lines << e.describe();
    lines << QStringLiteral("then cameras back, detection running, one closing mould per trigger input");
    return lines.join('\n');
}

QString CycleOutcome::describe() const
{
    QStringList lines;
    for (const RuleFailure& f : failures)
        lines << QStringLiteral("t=%1 ms %2: %3").arg(f.atMs).arg(ruleName(f.rule), f.what);
    return lines.join('\n');
}

CycleSequence randomSequence(quint64 seed)
{
    std::mt19937_64 rng(seed);
    auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    auto chance = [&rng](double p) { return std::bernoulli_distribution(p)(rng); };

    CycleSequence seq;
    seq.seed = seed;
    CycleSetup& s = seq.setup;
    s.trigMode = pick(0, 3);
    s.stageGroups = s.twoStage() ? pick(0, 3) : 0;
    s.detections = pick(1, 8);
    const int enableable = s.twoStage() ? 4 : s.detections;
    static const int kInputs[] = {0, 0, 2, 3, 255, 1};
    for (int d = 0; d < 8; ++d) {
        s.enable[size_t(d)] = d < enableable && chance(0.8) ? 1 : 0;
        s.trigInput[size_t(d)] = kInputs[pick(0, 5)];
        s.delay[size_t(d)] = chance(0.3) ? 0 : pick(1, 12);
    }
    if (s.twoStage()) {
        // As the parameter load derives them: stage groups 0 and 1 use one stage, 2 and 3 both,
        // the product detections (0 and 2) following one switch.
        const int p = chance(0.7) ? 1 : 0;
        static const int kStageEnables[3][4] = {{-1, 1, 0, 0}, {0, 0, -1, 1}, {-1, 1, -1, 1}};
        const int* enables = kStageEnables[std::min(s.stageGroups, 2)];
        for (int d = 0; d < 4; ++d)
            s.enable[size_t(d)] = enables[d] < 0 ? p : enables[d];
    }
    if (s.active(0).isEmpty() && s.active(1).isEmpty())
        s.enable[s.twoStage() ? 3 : size_t(s.detections - 1)] = 1;
    s.cameras = pick(1, 8);
    s.recheckTimes = chance(0.5) ? pick(1, 3) : 0;
    s.recheckDelay = pick(1, 6);
    s.recheckAllCameras = chance(0.5);
    s.preCutTime = chance(0.4) ? pick(1, 5) : 0;
    s.doorTrigger = chance(0.3);
    s.doorClears = chance(0.3);
    s.shakeErase = chance(0.5) ? pick(1, 3) : 0;
    s.noAlarmSound = chance(0.2);
    s.prodNgNoEjector = chance(0.15);
    s.cutClampOnMoldAlarm = chance(0.2);
    s.cutEjectorOnProdAlarm = chance(0.2);
    s.noEjectorInProd = chance(0.2);
    s.shieldPin = chance(0.15) ? pick(1, 2) : 0;
    for (int c = 0; c < s.cameras; ++c)
        for (int d = 0; d < 8; ++d)
            if (chance(0.3))
                seq.initialNg[size_t(c)] |= 1u << d;

    // Inputs the setup listens to, the door among them.
    QVector<int> inputs;
    for (int d = 0; d < enableable; ++d) {
        const int input = s.trigInput[size_t(s.twoStage() ? d % 2 : d)];
        inputs << (input == 255 ? pick(2, 3) : input);
    }
    inputs << 1;
    const int shakeMs = s.shakeErase * 100;
    std::array<qint64, 8> freeAt{};
    const int count = pick(3, 30);
    qint64 t = 0;
    for (int i = 0; i < count; ++i) {
        t += pick(30, 900);
        const int roll = pick(0, 99);
        CycleEvent e{CycleEvent::Pulse, t};
        if (roll < 50) {
            e.arg = chance(0.1) ? pick(0, 3) : inputs[pick(0, inputs.size() - 1)];
            const bool flicker = shakeMs > 0 && chance(0.2);
            e.lengthMs = flicker ? pick(10, qMax(10, shakeMs - 40)) : pick(shakeMs + 40, shakeMs + 400);
            if (freeAt[size_t(e.arg)] > t)
                continue;
            freeAt[size_t(e.arg)] = t + e.lengthMs + 30;
        } else if (roll < 58) {
            e.kind = CycleEvent::Release;
        } else if (roll < 64) {
            e.kind = CycleEvent::Redetect;
            e.arg = pick(0, enableable - 1);
        } else if (roll < 70) {
            e.kind = CycleEvent::CameraLost;
            e.arg = pick(0, s.cameras - 1);
        } else if (roll < 76) {
            e.kind = CycleEvent::CameraBack;
            e.arg = pick(0, s.cameras - 1);
        } else if (roll < 91) {
            e.kind = CycleEvent::Verdict;
            e.arg = pick(0, s.cameras - 1);
            e.ngMask = chance(0.4) ? 0u : unsigned(pick(0, 255));
        } else if (roll < 97) {
            e.kind = CycleEvent::Stall;
            e.lengthMs = pick(100, 1500);
        } else {
            e.kind = CycleEvent::Stop;
            seq.events.push_back(e);
            e = CycleEvent{CycleEvent::Start, t + pick(200, 1500)};
        }
        seq.events.push_back(e);
    }

    // The other ways an alarm is lifted draw from a stream of their own, so that a seed's
    // events above stay what they were.
    std::mt19937_64 more(seed ^ 0x9e3779b97f4a7c15ull);
    auto pickMore = [&more](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(more); };
    auto chanceMore = [&more](double p) { return std::bernoulli_distribution(p)(more); };
    s.prodNgSkipRecheck = chanceMore(0.3);
    if (s.trigMode == kAllGroupsTrigMode && chanceMore(0.5)) {
        static const int kClearing[] = {0, 2, 3, 4, 5};
        s.clearingInput = kClearing[pickMore(0, 4)];
        s.reInspectionDelay = chanceMore(0.3) ? 0 : pickMore(1, 12);
        s.inputResetRecheck = chanceMore(0.5);
    }
    for (CycleEvent& e : seq.events) {
        if (e.kind != CycleEvent::Release)
            continue;
        const int roll = pickMore(0, 99);
        e.arg = roll < 40 ? AlarmClearMethod::DontDetect
                : roll < 55 ? AlarmClearMethod::AddAsTemplate
                : roll < 85 || s.trigMode == kAllGroupsTrigMode || s.detections < 2 ? AlarmClearMethod::Redetect
                            : AlarmClearMethod::SwitchToMould;
    }
    if (s.clearingInput >= 0) {
        // Pulses of the clearing input, clear of the pulses it already has.
        for (int n = pickMore(1, 5); n > 0; --n) {
            CycleEvent e{CycleEvent::Pulse, pickMore(0, int(t) + 500), s.clearingInput};
            e.lengthMs = pickMore(shakeMs + 40, shakeMs + 400);
            const bool overlaps = std::any_of(seq.events.begin(), seq.events.end(), [&e](const CycleEvent& other) {
                return other.kind == CycleEvent::Pulse && other.arg == e.arg && other.atMs < e.atMs + e.lengthMs + 30
                       && e.atMs < other.atMs + other.lengthMs + 30;
            });
            if (!overlaps)
                seq.events.push_back(e);
        }
    }
    // How long the operator keeps the box open, and the program's own pauses, from a third stream.
    std::mt19937_64 world(seed ^ 0x5851f42d4c957f2dull);
    auto pickWorld = [&world](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(world); };
    auto chanceWorld = [&world](double p) { return std::bernoulli_distribution(p)(world); };
    for (CycleEvent& e : seq.events)
        if (e.kind == CycleEvent::Release)
            e.lengthMs = chanceWorld(0.5) ? pickWorld(0, 300) : pickWorld(300, 4000);
    if (chanceWorld(0.2)) {
        for (int n = pickWorld(1, 2); n > 0; --n) {
            CycleEvent pause{CycleEvent::Pause, pickWorld(0, int(t) + 500)};
            CycleEvent resume{CycleEvent::Resume, pause.atMs + pickWorld(200, 4000)};
            // Not across the operator's stop, nor another pause.
            const bool overlaps = std::any_of(seq.events.begin(), seq.events.end(), [&](const CycleEvent& other) {
                const bool runChange = other.kind == CycleEvent::Stop || other.kind == CycleEvent::Start
                                       || other.kind == CycleEvent::Pause || other.kind == CycleEvent::Resume;
                return runChange && other.atMs >= pause.atMs - 1500 && other.atMs <= resume.atMs + 1500;
            });
            if (!overlaps) {
                seq.events.push_back(pause);
                seq.events.push_back(resume);
            }
        }
    }
    if (chanceWorld(0.1))
        seq.events.push_back(CycleEvent{CycleEvent::Restart, pickWorld(0, int(t) + 500)});
    std::stable_sort(seq.events.begin(), seq.events.end(),
                     [](const CycleEvent& a, const CycleEvent& b) { return a.atMs < b.atMs; });
    return seq;
}

CycleOutcome runSequence(const CycleSequence& sequence)
{
    SequenceRun run(sequence);
    return run.run();
}

CycleSequence shrinkSequence(const CycleSequence& sequence, CycleRule rule)
{
    constexpr int kMaxRuns = 3000;
    const unsigned bit = 1u << int(rule);
    CycleSequence current = sequence;
    int runs = 0;
    for (bool progress = true; progress && runs < kMaxRuns;) {
        progress = false;
        for (int i = int(current.events.size()) - 1; i >= 0 && runs < kMaxRuns; --i) {
            CycleSequence candidate = current;
            candidate.events.erase(candidate.events.begin() + i);
            ++runs;
            if (runSequence(candidate).failedRules & bit) {
                current = std::move(candidate);
                progress = true;
            }
        }
    }
    return current;
}
