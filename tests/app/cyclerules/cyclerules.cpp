#include "cyclerules.h"

#include "alarmclearmethod.h"
#include "statecodes.h"

#include <QRegularExpression>

#include <algorithm>
#include <limits>
#include <utility>

namespace {
constexpr unsigned kClampBit = 1u << kClampOutput;
constexpr unsigned kAlarmBit = 1u << kAlarmOutput;
constexpr int kAnyOfInputs2And3 = 255;
constexpr unsigned kProductDetections = 0x55u;
// A look's check comes after its delay, rechecks and a slow pass (1 s while a camera is lost).
constexpr qint64 kLookSlackMs = 1200;
// A frame is taken at the last pass before the check: up to a pass before the check's time.
constexpr qint64 kFrameAgeMs = 200;
// A camera that came back is noticed at the next slow pass of the cycle (1 s while one is lost).
constexpr qint64 kCameraBackNoticedMs = 1100;
constexpr qint64 kLostPassMs = 1100;

const QRegularExpression kCheckLine(QStringLiteral("^detection (\\d+): (recheck (\\d+): )?(OK|NG), checked in"));
const QRegularExpression kNoCameraLine(QStringLiteral("^detection (\\d+): no camera could be checked"));
const QRegularExpression kConfirmedLine(QStringLiteral("^detection (\\d+): (.*) before the recheck, NG confirmed"));
const QRegularExpression kAnsweredNotRefused(
    QStringLiteral("^detection \\d+: (safety door check|Re-detect) not inspected, the detection is still"));
const QRegularExpression kAnsweredLine(
    QStringLiteral("^detection (\\d+): (safety door check|Re-detect) answered by the check under way"));
const QRegularExpression kMovedLine(QStringLiteral("^detection (\\d+): .*moved to (\\d+(\\.\\d+)?) s from now"));
const QRegularExpression kShieldedLine(QStringLiteral("^input 3: signal \\d+ of \\d+ shielded"));
const QRegularExpression kNotInspectedLine(QStringLiteral("detection (\\d+)\\b.*not inspected|not inspected.*detection (\\d+)\\b"));

QString outputsText(unsigned bits)
{
    QStringList names;
    if (bits & kClampBit)
        names << QStringLiteral("clamp (output 0)");
    if (bits & kAlarmBit)
        names << QStringLiteral("alarm (output 2)");
    return names.join(QStringLiteral(" and "));
}

QString camerasText(unsigned cameras)
{
    QStringList list;
    for (int c = 0; c < 8; ++c)
        if (cameras & (1u << c))
            list << QString::number(c + 1);
    return list.join(',');
}
} // namespace

const char* ruleName(CycleRule rule)
{
    switch (rule) {
    case CycleRule::NgHolds: return "rule 1 (an NG holds clamp and alarm until a release the setup allows)";
    case CycleRule::NoFalseRelease: return "rule 2 (no release by a check without camera, a camera's return or another detection's OK)";
    case CycleRule::EveryEdgeTold: return "rule 3 (every trigger edge is a check or a logged \"not inspected\")";
    case CycleRule::CycleCountsOnce: return "rule 4 (each closed cycle counts once, NG cycles = cycles with an NG)";
    case CycleRule::NothingPending: return "rule 5 (nothing is left pending once triggers stop)";
    case CycleRule::StageSwitches: return "rule 6 (the stage flag switches once per closed or given-up cycle)";
    case CycleRule::DoorFlag: return "rule 7 (safetyDoorTriggered is 1 in a door cycle and 0 outside one)";
    case CycleRule::PartGuarded:
        return "rule 8 (a mould holding a part keeps its clamp on once looked at, until a look after its last change "
               "or the operator's release)";
    case CycleRule::StoresAgree: return "rule 9 (count.ini, gSync*, the statistics and the records count a mould alike)";
    }
    return "?";
}

int CycleSetup::mouldDetection(int stageFlag) const
{
    if (trigMode == kAllGroupsTrigMode)
        return -1;
    if (fixedMould >= 0)
        return fixedMould;
    const int mould = twoStage() && stageFlag == 0 ? 3 : 1;
    return enable[size_t(mould)] && (twoStage() || mould < detections) ? mould : -1;
}

QVector<int> CycleSetup::doorChecks(int mouldStage, int stageFlag) const
{
    const int mould = mouldDetection(mouldStage);
    if (mould >= 0)
        return {mould};
    QVector<int> list;
    for (int d : active(stageFlag))
        if (!triggers(d, 1))
            list << d;
    return list;
}

bool CycleSetup::rechecked(int detection) const
{
    return recheckTimes > 0 && (trigMode == kAllGroupsTrigMode || detection % 2 == 1);
}

QVector<int> CycleSetup::active(int stageFlag) const
{
    QVector<int> list;
    if (twoStage()) {
        const int base = stageFlag ? 0 : 2;
        for (int d = base; d < base + 2; ++d)
            if (enable[size_t(d)])
                list << d;
        return list;
    }
    for (int d = 0; d < detections && d < 8; ++d)
        if (enable[size_t(d)])
            list << d;
    return list;
}

bool CycleSetup::triggers(int detection, int input) const
{
    const int source = twoStage() ? detection % 2 : detection;
    const int wanted = trigInput[size_t(source)];
    return wanted == kAnyOfInputs2And3 ? (input == 2 || input == 3) : wanted == input;
}

int CycleSetup::settleMs() const
{
    int longest = 0;
    for (int d : delay)
        longest = qMax(longest, d);
    return (longest + recheckTimes * recheckDelay) * 100 + 1500;
}

QString CycleSetup::describe() const
{
    QStringList dets;
    const int count = twoStage() ? 4 : detections;
    for (int d = 0; d < count; ++d) {
        const int source = twoStage() ? d % 2 : d;
        const int input = trigInput[size_t(source)];
        dets << QStringLiteral("%1: %2, input %3, delay %4 s")
                    .arg(d + 1)
                    .arg(enable[size_t(d)] ? "on" : "off")
                    .arg(input == kAnyOfInputs2And3 ? QStringLiteral("2 or 3") : QString::number(input))
                    .arg(delay[size_t(d)] / 10.0);
    }
    QStringList parts;
    parts << QStringLiteral("trigger mode %1").arg(trigMode);
    if (twoStage())
        parts << QStringLiteral("stage groups %1").arg(stageGroups);
    parts << QStringLiteral("%1 detections (%2)").arg(detections).arg(dets.join("; "));
    parts << QStringLiteral("%1 cameras").arg(cameras);
    if (recheckTimes > 0)
        parts << QStringLiteral("%1 rechecks %2 s apart%3")
                     .arg(recheckTimes)
                     .arg(recheckDelay / 10.0)
                     .arg(recheckAllCameras ? ", all cameras" : ", NG cameras only");
    if (preCutTime > 0)
        parts << QStringLiteral("pre-cut %1 s").arg(preCutTime / 10.0);
    if (doorTrigger)
        parts << QStringLiteral("the door checks detection 2");
    if (doorClears)
        parts << QStringLiteral("the door clears the alarm");
    if (shakeErase > 0)
        parts << QStringLiteral("shake erase %1 s").arg(shakeErase / 10.0);
    if (noAlarmSound)
        parts << QStringLiteral("no alarm sound on NG");
    if (prodNgNoEjector)
        parts << QStringLiteral("a product NG only sounds the alarm");
    if (cutClampOnMoldAlarm)
        parts << QStringLiteral("cut clamp on a mould alarm");
    if (cutEjectorOnProdAlarm)
        parts << QStringLiteral("cut ejector on a product alarm");
    if (noEjectorInProd)
        parts << QStringLiteral("no ejector in product detection");
    if (shieldPin > 0)
        parts << QStringLiteral("shield pin %1").arg(shieldPin);
    if (prodNgSkipRecheck)
        parts << QStringLiteral("a product NG is skipped at the door and the mould checked again");
    if (clearingInput >= 0)
        parts << QStringLiteral("input %1 clears the alarm after %2 s%3")
                     .arg(clearingInput)
                     .arg(reInspectionDelay / 10.0)
                     .arg(inputResetRecheck ? " and checks again" : "");
    return parts.join(", ");
}

CycleRules::CycleRules(const CycleSetup& setup)
    : m_setup(setup)
{
    m_stageKnown = false;  // taken from the first view
}

void CycleRules::fail(CycleRule rule, qint64 at, const QString& what)
{
    const unsigned bit = 1u << int(rule);
    if (m_failedRules & bit)
        return;
    m_failedRules |= bit;
    m_failures.push_back({rule, at, what});
}

void CycleRules::confirm(int detection, unsigned cameras, qint64 since, qint64 decided)
{
    for (int c = 0; c < 8; ++c)
        if (cameras & (1u << c))
            m_ng[detection][c] = {true, since, decided < 0 ? since : decided};
    if (cameras) {
        m_ngSinceClose = true;
        decidedNg(detection, decided < 0 ? since : decided);
    }
}

void CycleRules::decidedNg(int detection, qint64 at)
{
    m_ngLineAt[detection] = at;
    // The cycle keeps one decision time per detection: an NG decided now holds all it holds
    // (but what a release on its way, or one waiting for a check, may have lifted already).
    auto lifted = [this](qint64 decided) {
        for (const Release& r : m_releases)
            if (decided <= r.signal)
                return true;
        for (const Recheck& r : m_rechecks)
            if (decided <= r.signal)
                return true;
        return false;
    };
    for (Hold& hold : m_ng[detection])
        if (hold.on && !lifted(hold.decided))
            hold.decided = qMax(hold.decided, at);
    Hold& uninspected = m_notInspected[detection];
    if (uninspected.on && !lifted(uninspected.decided))
        uninspected.decided = qMax(uninspected.decided, at);
}

void CycleRules::releaseUpTo(qint64 signal)
{
    for (auto& row : m_ng)
        for (Hold& hold : row)
            hold.on = hold.on && hold.decided > signal;
    for (Hold& hold : m_notInspected)
        hold.on = hold.on && hold.decided > signal;
    // One of the signal's own millisecond may stand (rule 1 lets it go): a product skip or a
    // recheck of it is not ruled out.
    for (qint64& at : m_ngLineAt)
        at = at >= signal ? at : -1;
    for (qint64& at : m_uninspectedAt)
        at = at >= signal ? at : -1;
}

void CycleRules::addRelease(qint64 signal, qint64 due, int handTo, bool byClearingInput)
{
    m_releases.push_back({signal, due, handTo, byClearingInput});
}

bool CycleRules::releasable(qint64 decided) const
{
    // A release with Re-detect keeps the outputs on until its check has decided (the clearing
    // input's rechecks only while detection runs).
    for (const Release& r : m_releases)
        if ((r.handTo == kPlain || (r.byClearingInput && !r.made && !m_running)) && decided <= r.signal)
            return true;
    return false;
}

bool CycleRules::holdsProductNg(qint64 at) const
{
    if (m_setup.trigMode == kAllGroupsTrigMode)
        return false;
    for (int d = 0; d < 8; d += 2) {
        const qint64 lifted = m_ownCheckSignal[d];
        if (m_notInspected[d].on && m_notInspected[d].decided <= at && m_notInspected[d].decided > lifted)
            return true;
        // One a camera that could not be checked holds.
        if (m_ngLineAt[d] >= 0 && m_ngLineAt[d] <= at && m_ngLineAt[d] > lifted)
            return true;
        for (const Hold& hold : m_ng[d])
            if (hold.on && hold.decided <= at && hold.decided > lifted)
                return true;
    }
    return false;
}

void CycleRules::steadyEdge(int input, qint64 riseMs, qint64 visibleMs, bool certain, int stageFlag, bool paused,
                            bool stageSure)
{
    if (paused)
        return;
    certain = certain && m_running;
    const bool door = input == 1;
    // The product taken out at the door: with a product NG standing its alarm is skipped and the
    // mould checked again, instead of the door's release, its check and the detections it
    // triggers. Whether the cycle still holds one when it takes the edge is not certain.
    // The stage of the mould presented last (not a Re-detect) is the one whose mould is open.
    const int mouldStage = m_setup.twoStage() && m_checkedStage >= 0 ? m_checkedStage : stageFlag;
    const int mould = qMax(0, m_setup.mouldDetection(mouldStage));
    const bool maySkip = door && m_running && m_setup.prodNgSkipRecheck && m_setup.mouldDetection(mouldStage) >= 0
                         && holdsProductNg(riseMs);
    if (door && m_running && m_setup.prodNgSkipRecheck && m_setup.trigMode != kAllGroupsTrigMode)
        excuse(kProductDetections, riseMs);   // the product taken out at the door
    // Detections the door's own check or its product skip starts, not the edge's trigger.
    unsigned notByTrigger = 0;
    if (maySkip) {
        notByTrigger |= 1u << mould;
        certain = false;
        look(mould, riseMs, visibleMs, false);
        addRelease(riseMs, visibleMs + kGraceMs, mould);
        m_releases.back().edgeVisible = visibleMs;
        ++m_maybeEdges[m_setup.group(1)];
        m_redetectSinceClose = m_redetectOpens = m_gaveUpOnce = true;
        m_checkedInCycle &= ~(1u << 1);
        ++m_lateRedetects;   // taken after the edges that rose before it, which may open a cycle
        m_lateUndecided |= 1u << mould;
    }
    if (door)
        m_doorEdge = {riseMs, visibleMs, maySkip, {}};
    auto count = [this, certain, door](int group) {
        ++(certain ? m_edges : m_maybeEdges)[group];
        if (door && certain)
            ++m_doorEdge.counted[group];
    };
    // The clearing input's release comes reInspectionDelay after the cycle takes the edge.
    // With its recheck the model tells of the Re-detects from the earliest time the cycle may make them.
    if (input == m_setup.clearingInput && m_running && !m_setup.inputResetRecheck)
        excuse(0xffu, riseMs);
    if (input == m_setup.clearingInput && m_running && m_setup.inputResetRecheck)
        for (int d = 0; d < 8; ++d)
            look(d, riseMs, visibleMs + qMax(0, m_setup.reInspectionDelay) * 100, false);
    if (input == m_setup.clearingInput && m_running)
        addRelease(riseMs,
                   visibleMs + qMax(0, m_setup.reInspectionDelay) * 100 + (m_setup.inputResetRecheck ? 0 : kGraceMs),
                   m_setup.inputResetRecheck ? kOwnCheck : kPlain, true);
    if (door) {
        // An edge detection was stopped for is dropped at the start: it releases nothing.
        if (m_setup.doorClears && m_running) {
            excuse(0xffu, riseMs);
            addRelease(riseMs, visibleMs + kGraceMs, kPlain);
            m_releases.back().byDoor = true;
            m_releases.back().edgeVisible = visibleMs;
        }
        if (m_setup.doorTrigger) {
            // The door's check looks at the mould of the stage in use; without one, at every
            // detection in use that the door does not trigger. Where stages alternate, which
            // stage's mould is open is not certain to the model.
            const bool sure = !(m_setup.twoStage() && m_setup.stageGroups >= 2);
            unsigned ending = 0;
            for (int d : m_setup.doorChecks(mouldStage, stageFlag)) {
                notByTrigger |= 1u << d;
                look(d, riseMs, visibleMs, certain && sure && !maySkip && !m_setup.prodNgSkipRecheck);
                count(m_setup.group(d));
                // It ends a recheck wait of its detection: that NG is confirmed (after the
                // door's own release, when it clears alarms).
                if (m_wait[d].on && certain)
                    ending |= 1u << d;
            }
            endWaits(ending, visibleMs);
            m_doorRises.push_back({riseMs, false});
        }
    }
    // Which detections an edge triggers is not certain where the door's own check (which may
    // close the cycle and switch the stage first) or the product skip comes with it, or where
    // "Shield pin" may let it by.
    // Nor where stages alternate and the edge comes to a detection that has checked in the open
    // cycle, or to its first detection: the open cycle may be given up and the edge taken by the
    // other stage.
    unsigned triggered = 0;
    const QVector<int> inStage = m_setup.active(stageFlag);
    for (int d : inStage)
        if (m_setup.triggers(d, input))
            triggered |= 1u << d;
    const unsigned opensAnew = m_checkedInCycle | (m_cycleOpen && !inStage.isEmpty() ? 1u << inStage.first() : 0u);
    const bool restage = m_setup.twoStage() && m_setup.stageGroups >= 2 && (triggered & opensAnew);
    const bool plainLook = !maySkip && !(door && (m_setup.prodNgSkipRecheck || m_setup.doorTrigger))
                           && !(input == 2 && m_setup.shieldPin > 0) && !restage && stageSure;
    // The edge presents the mould of the stage it is taken in. Whether it does (near a stop or
    // start, the shielded input), whether it gives up the open cycle and so which stage takes
    // it, are the cycle's: the detection it starts tells.
    // Until it tells, the stage is the one before: a mould turned away presents none.
    if (m_running && triggered && plainLook && certain) {
        m_checkedStage = (triggered & 0x3u) ? 1 : 0;
        m_stageUnsure = {};
    } else if (m_running && triggered) {
        unsigned either = triggered;
        for (int d = 0; d < 4; ++d)
            either |= (triggered & (1u << d)) && m_setup.enable[size_t(d ^ 2)] ? 1u << (d ^ 2) : 0u;
        m_stageUnsure = {either & ~notByTrigger, visibleMs};
    }
    bool any = false;
    if (m_setup.twoStage()) {
        for (int g = 0; g < 2; ++g) {
            if (!m_setup.triggers(g, input))
                continue;
            const int enabled = m_setup.enable[size_t(g)] + m_setup.enable[size_t(g + 2)];
            const int inStage = stageFlag ? g : g + 2;
            if (m_setup.enable[size_t(inStage)])
                look(inStage, riseMs, visibleMs, certain && plainLook);
            if (enabled == 2)
                count(g);
            else if (enabled == 1)
                ++m_maybeEdges[g];
            any = any || enabled > 0;
        }
    } else {
        for (int d : m_setup.active(stageFlag)) {
            if (m_setup.triggers(d, input)) {
                count(d);
                any = true;
                look(d, riseMs, visibleMs, certain && plainLook);
            }
        }
    }
    if (any && door && m_setup.doorTrigger)
        m_doorRises.back().second = true;
    else if (any)
        m_otherRose = riseMs;
    // "Shield pin": the cycle lets that many signals of input 2 by (told, not checked);
    // the mould opening (input 0) starts the count again.
    if (m_running && input == 0)
        m_shielded = 0;
    if (m_running && input == 2 && m_setup.shieldPin > 0 && any) {
        if (m_shielded < m_setup.shieldPin) {
            ++m_shielded;
            return;
        }
        m_shielded = 0;
    }
    if (!certain)
        return;
    // The next mould's trigger ends a recheck wait: the NG it waits on is confirmed
    // (in the two-stage modes also one of the other stage: its input came again).
    unsigned ending = 0;
    for (int d = 0; d < 8; ++d)
        if (m_setup.triggers(d, input) && m_wait[d].on)
            ending |= 1u << d;
    endWaits(ending, visibleMs);
}

void CycleRules::endWaits(unsigned detections, qint64 visible)
{
    if (!detections)
        return;
    EdgeEnd end;
    end.detections = detections;
    end.visible = visible;
    end.at = visible + kGraceMs;
    for (int d = 0; d < 8; ++d)
        end.generations[d] = m_wait[d].generation;
    m_edgeEnds.push_back(end);
}

void CycleRules::operatorRelease(qint64 nowMs, const QVector<int>& rechecked, int handTo, bool certain)
{
    // The operator's choice: a plain release lifts what stood at the tap; the switch to the
    // mould lifts the product's NG and looks at the mould again; a Re-detect only looks again.
    if (rechecked.isEmpty() && handTo < 0)
        excuse(0xffu, nowMs);
    else if (handTo >= 0)
        excuse(kProductDetections, nowMs);
    for (int d : rechecked)
        look(d, nowMs, nowMs, false);
    if (handTo >= 0)
        look(handTo, nowMs, nowMs, false);
    addRelease(nowMs, nowMs, handTo >= 0 ? handTo : rechecked.isEmpty() ? kPlain : kOwnCheck);
    if (handTo >= 0)
        redetect(handTo, certain, nowMs);
    for (int d : rechecked) {
        redetect(d, certain, nowMs);
        m_ownCheckSignal[d] = nowMs;
    }
    m_lateRedetects += qMax(0, int(rechecked.size()) - 1);
    if (rechecked.size() > 1)
        for (int d : rechecked)
            m_lateUndecided |= 1u << d;
}

void CycleRules::redetect(int detection, bool certain, qint64 nowMs)
{
    ++(certain && m_running ? m_edges : m_maybeEdges)[m_setup.group(detection)];
    m_redetectSinceClose = true;
    m_anyRedetect = true;
    m_redetectOpens = true;   // it may open the next cycle itself
    m_checkedInCycle &= ~(1u << detection);   // a Re-detect checks its cycle again
    m_gaveUpOnce = true;   // and its check may land in the next cycle
    ++m_redetectsToDecide;
    // A Re-detect during a recheck wait confirms the NG waited on, as the next mould does
    // (one the model is not sure of says so in its line).
    if (!certain || !m_running)
        return;
    if (m_wait[detection].on)
        confirm(detection, m_wait[detection].ngCameras, 0, nowMs < 0 ? m_now : nowMs);
    m_wait[detection].on = false;
}

void CycleRules::followStage(const CycleView& view)
{
    if (!m_stageUnsure.detections || view.nowMs < m_stageUnsure.from || view.catchingUp)
        return;
    // The cycle takes the edge at its next pass (after a stall, once it has caught up).
    if (view.nowMs > qMax(m_stageUnsure.from, m_caughtUpAt) + kGraceMs) {
        m_stageUnsure = {};
        return;
    }
    // A check whose countdown ran before was started by an earlier edge.
    const unsigned started = ((m_startedNow | view.busy) & ~m_lastBusy & ~m_refusedNow) & m_stageUnsure.detections;
    const bool first = started & 0x3u;
    const bool second = started & 0xcu;
    if (first == second)
        return;
    m_checkedStage = first ? 1 : 0;
    m_stageUnsure = {};
}

void CycleRules::putOff(int detection, qint64 checkAt)
{
    // The check under way was moved for a later signal: the looks it answers are due after it.
    const qint64 rechecks = m_setup.rechecked(detection) ? m_setup.recheckTimes * m_setup.recheckDelay * 100 : 0;
    for (Look& l : m_looks)
        if (l.detection == detection && !l.resolved)
            l.due = qMax(l.due, checkAt + rechecks + kLookSlackMs);
}

void CycleRules::worldParts(int camera, unsigned detections, qint64 atMs)
{
    if (camera < 0 || camera >= 8)
        return;
    m_parts[camera].push_back({atMs, detections});
    // A part gone is no longer this look's to guard, whatever comes after.
    for (Look& l : m_looks)
        if (l.resolved && !(detections & (1u << l.detection)))
            l.cameras &= ~(1u << camera);
}

void CycleRules::worldCamera(int camera, bool connected, qint64 atMs)
{
    if (camera >= 0 && camera < 8)
        m_reachable[camera].push_back({atMs, connected});
}

void CycleRules::pausesHold(bool hold)
{
    m_pausesHold = hold;
}

void CycleRules::worldPause(bool paused, qint64 atMs)
{
    if (paused)
        m_pauses.push_back({atMs, -1});
    else if (!m_pauses.empty() && m_pauses.back().second < 0)
        m_pauses.back().second = atMs;
}

void CycleRules::lookAgain(int detection, qint64 nowMs, bool certain)
{
    // Only a detection of the stage in use looks at anything.
    look(detection, nowMs, nowMs, certain && m_running && m_setup.active(m_stage).contains(detection));
}

void CycleRules::look(int detection, qint64 riseMs, qint64 visibleMs, bool certain)
{
    if (detection < 0 || detection >= 8)
        return;
    const qint64 delay = qMax(0, m_setup.delay[size_t(detection)]) * 100;
    const qint64 rechecks = m_setup.rechecked(detection) ? m_setup.recheckTimes * m_setup.recheckDelay * 100 : 0;
    Look l;
    l.detection = detection;
    l.rise = riseMs;
    l.frameFrom = riseMs + delay - kFrameAgeMs;
    l.span = delay + rechecks + kLookSlackMs;
    l.due = visibleMs + l.span;
    // While an earlier look of the detection is under way this one may be answered, or turned
    // away and held, at once.
    bool busy = false;
    for (const Look& other : m_looks)
        busy = busy || (other.detection == detection && other.due > visibleMs);
    l.earliest = (busy ? visibleMs : visibleMs + delay) - kGraceMs;
    l.busy = busy;
    // Mode 0 has a product and a mould detection only.
    // An uncertain look is kept for the busy detection only.
    l.certain = certain && !(m_setup.trigMode == 0 && detection > 1);
    m_looks.push_back(l);
}

void CycleRules::excuse(unsigned detections, qint64 atMs)
{
    m_excuses.push_back({atMs, detections});
}

bool CycleRules::partThroughout(int camera, int detection, qint64 from, qint64 to) const
{
    bool part = false;
    for (const auto& [at, detections] : m_parts[camera]) {
        const bool now = detections & (1u << detection);
        // The first is what the camera sees from the start.
        if (at <= from || &at == &m_parts[camera].front().first)
            part = now;
        else if (at <= to && !now)
            return false;
    }
    return part;
}

bool CycleRules::reachableThroughout(int camera, qint64 from, qint64 to) const
{
    bool connected = true;
    for (const auto& [at, up] : m_reachable[camera]) {
        if (at <= from)
            connected = up;
        else if (at <= to && !up)
            return false;
    }
    return connected;
}

void CycleRules::checkGuarded(const CycleView& view)
{
    const qint64 now = view.nowMs;
    // A stalled GUI thread runs its checks late; a clamp on guards every mould.
    if (view.catchingUp || now < m_caughtUpAt + 2 * kGraceMs || now < view.stallEndMs + 2 * kGraceMs
        || (view.outputs & kClampBit))
        return;
    for (auto it = m_looks.begin(); it != m_looks.end();) {
        Look& l = *it;
        const int d = l.detection;
        // The countdown counts passes: a stall puts the check off by its length.
        qint64 due = view.stallEndMs >= l.rise ? qMax(l.due, view.stallEndMs + l.span) : l.due;
        // A pause that holds the countdown puts it off too (one that drops it is a fault).
        if (m_pausesHold)
            for (const auto& [from, to] : m_pauses)
                if (from <= due && (to < 0 || to >= l.rise))
                    due = to < 0 ? std::numeric_limits<qint64>::max() : qMax(due, to + l.span);
        if (!l.certain || due > now) {
            ++it;
            continue;
        }
        if (!l.resolved) {
            l.resolved = true;
            // The operator's stop or start while it was under way: what it asks of the mould is his.
            const bool stoppedMeanwhile = std::any_of(m_operatorRunChanges.begin(), m_operatorRunChanges.end(),
                                                      [&](qint64 at) { return at >= l.rise - 250 && at <= due; });
            for (int c = 0; c < m_setup.cameras && c < 8 && !stoppedMeanwhile && !m_setup.ngStopsNothing(d); ++c)
                if (partThroughout(c, d, l.frameFrom, now) && reachableThroughout(c, l.frameFrom - kLookSlackMs, l.due))
                    l.cameras |= 1u << c;
        }
        if (!l.cameras || excused(l, now)) {
            it = m_looks.erase(it);
            continue;
        }
        const int c = qCountTrailingZeroBits(l.cameras);
        // What was under way meanwhile, in brackets: the faults known to leave a mould unguarded.
        QString context;
        for (const auto& [from, to] : m_pauses)
            if (to < 0 || to >= l.rise)
                context += QStringLiteral(" [paused] (the program paused detection at t=%1 ms)").arg(from);
        if (l.busy)
            context += QStringLiteral(" [busy] (it came while an earlier look of the detection was under way)");
        if (std::any_of(m_answeredAt.begin(), m_answeredAt.end(), [&l](qint64 at) { return at >= l.rise; }))
            context += QStringLiteral(" [answered] (a check under way answered a look)");
        for (int other = 0; other < m_setup.cameras && other < 8; ++other)
            if (!reachableThroughout(other, l.frameFrom - kLookSlackMs, l.due)) {
                context += QStringLiteral(" [lost] (camera %1 was lost meanwhile: frames up to 1 s old)").arg(other + 1);
                break;
            }
        fail(CycleRule::PartGuarded, now,
             QStringLiteral("camera %1 sees a part in detection %2 since before t=%3 ms; the look that began at "
                            "t=%4 ms should have found it by t=%5 ms, and no release the operator chose came; "
                            "the clamp is off%6")
                 .arg(c + 1).arg(d + 1).arg(l.frameFrom).arg(l.rise).arg(due).arg(context));
        return;
    }
}

bool CycleRules::excused(const Look& l, qint64 now) const
{
    return std::any_of(m_excuses.begin(), m_excuses.end(), [&](const std::pair<qint64, unsigned>& e) {
        return (e.second & (1u << l.detection)) && e.first >= l.earliest && e.first <= now;
    });
}

void CycleRules::checkStores(const CycleView& view, bool settled)
{
    const qint64 now = view.nowMs;
    if (view.ngCycles != view.statsNgCycles)
        fail(CycleRule::StoresAgree, now,
             QStringLiteral("gSyncNGCycleNum %1, the statistics %2 NG cycles (%3 cycles)")
                 .arg(view.ngCycles).arg(view.statsNgCycles).arg(view.statsCycles));
    int cameraNgCycles = 0;
    for (int c = 0; c < 8; ++c) {
        cameraNgCycles += view.failCycles[c];
        if (view.failCycles[c] > view.ngCycles || view.allCycles[c] > view.statsCycles
            || view.failCycles[c] != view.statsCameraNgCycles[c])
            fail(CycleRule::StoresAgree, now,
                 QStringLiteral("camera %1: count.ini %2 NG of %3 cycles, the statistics %4 NG of %5, gSyncNGCycleNum %6")
                     .arg(c + 1).arg(view.failCycles[c]).arg(view.allCycles[c]).arg(view.statsCameraNgCycles[c])
                     .arg(view.statsCycles).arg(view.ngCycles));
    }
    if (view.ngCycles > cameraNgCycles)
        fail(CycleRule::StoresAgree, now,
             QStringLiteral("gSyncNGCycleNum %1 but the cameras count %2 NG cycles in all")
                 .arg(view.ngCycles).arg(cameraNgCycles));
    if (!settled)
        return;
    // Once every cycle has closed, an NG counted anywhere is an NG cycle everywhere. The NG steps
    // a restart took from the next close reach none (in no store); a Re-detect of a counted mould
    // writes its NG record but counts nowhere.
    if (m_restartDropped)
        return;
    if ((view.ngSteps > 0 || (view.ngRecords > 0 && !m_anyRedetect)) && view.ngCycles == 0)
        fail(CycleRule::StoresAgree, now,
             QStringLiteral("gSyncNGNum %1 and %2 NG records, but no NG cycle").arg(view.ngSteps).arg(view.ngRecords));
    for (int c = 0; c < 8; ++c)
        if (view.failSteps[c] > 0 && view.failCycles[c] == 0)
            fail(CycleRule::StoresAgree, now,
                 QStringLiteral("camera %1: %2 NG steps but no NG cycle in count.ini").arg(c + 1).arg(view.failSteps[c]));
}

void CycleRules::restarted()
{
    m_restartDropped = true;
    // A new process has seen no mould presented: the stage flag tells which one is open.
    m_checkedStage = -1;
    m_stageUnsure = {};
}

void CycleRules::cameraBack(qint64 nowMs)
{
    m_cameraBackAt = nowMs;
}

void CycleRules::stopped(qint64 ranMs)
{
    if (m_pauses.empty() || m_pauses.back().second >= 0)
        m_operatorRunChanges.push_back(m_now);
    // The stop ends the clearing input's wait: a release not yet due never comes; nor does one
    // of an edge the cycle had not yet taken (the stop drops it).
    m_releases.erase(std::remove_if(m_releases.begin(), m_releases.end(),
                                    [ranMs](const Release& r) {
                                        // One with its recheck is made at the first delivery after it is due.
                                        return (r.byClearingInput && !r.made
                                                && (r.handTo != kPlain || r.due - kGraceMs > ranMs))
                                               || r.edgeVisible > ranMs;
                                    }),
                     m_releases.end());
    m_running = false;
    m_stageUnsure = {};
    // An NG waiting for its recheck is confirmed by the stop, which may close its cycle;
    // whatever stays open is dropped once the stop's delivery is over. Its checks saw the
    // other cameras OK.
    unsigned seenOk[8] = {};
    for (int d = 0; d < 8; ++d) {
        seenOk[d] = m_wait[d].on ? ~m_wait[d].ngCameras : 0u;
        if (m_wait[d].on)
            confirm(d, m_wait[d].ngCameras, 0, m_now);
        m_wait[d].on = false;
    }
    // A plain release the cycle may have made lifts first (it may come before the check it
    // would otherwise have outlived).
    for (auto it = m_releases.begin(); it != m_releases.end();) {
        if (it->handTo != kPlain || (it->edgeVisible >= 0 ? it->edgeVisible : it->due) > ranMs) {
            ++it;
            continue;
        }
        releaseUpTo(it->signal);
        it = m_releases.erase(it);
    }
    // A check a release waited for will not come: what it kept on stays an alarm of the
    // detection it was handed to.
    for (const Recheck& r : std::exchange(m_rechecks, {}))
        keepHanded(r.signal, r.detection, seenOk[r.detection]);
    // What waited for its own check stands again as an alarm.
    std::fill(std::begin(m_ownCheckSignal), std::end(m_ownCheckSignal), -1);
    m_lateUndecided = 0;
    m_stopPending = true;
    m_shielded = 0;   // the stop starts the shield's count again
}

void CycleRules::dropOpenCycle()
{
    m_checkedInCycle = 0;
    m_preCutHold = false;
    m_cycleOpen = false;
    m_ngSinceClose = false;
    m_uninspectedSinceClose = false;
    m_stageKnown = false;
    m_doorCycleSerial = m_plainCycleSerial = 0;
}

void CycleRules::started(qint64 nowMs)
{
    if (m_pauses.empty() || m_pauses.back().second >= 0)
        m_operatorRunChanges.push_back(nowMs);
    m_running = true;
    m_startedAt = nowMs;
}

void CycleRules::check(const CycleNote& line, qint64 now)
{
    const QString& text = line.text;
    const QRegularExpressionMatch moved = kMovedLine.match(text);
    if (moved.hasMatch())
        putOff(moved.captured(1).toInt() - 1, now + qRound64(moved.captured(2).toDouble() * 1000));
    if (kShieldedLine.match(text).hasMatch()) {
        // A signal "Shield pin" lets by is told: it counts for the detections it would trigger.
        for (int d : m_setup.active(m_stage))
            if (m_setup.triggers(d, 2))
                ++m_told[m_setup.group(d)];
        return;
    }
    QRegularExpressionMatch m = kConfirmedLine.match(text);
    if (m.hasMatch()) {
        // The cycle took the edge that ends this wait: the NG holds from here.
        const int d = m.captured(1).toInt() - 1;
        // The cameras its checks saw OK (those the recheck did not look at again among them).
        const unsigned okCameras = d >= 0 && d < 8 && m_wait[d].on ? ~m_wait[d].ngCameras : ~0u;
        if (d >= 0 && d < 8 && m_wait[d].on) {
            // Confirmed by a Re-detect, it may belong to a cycle counted already, which the
            // Re-detect checks again.
            const bool countedMaybe = m.captured(2).startsWith(QLatin1String("Re-detect"));
            const bool ngBefore = m_ngSinceClose;
            confirm(d, m_wait[d].ngCameras, now);
            m_wait[d].on = false;
            if (countedMaybe)
                m_ngSinceClose = ngBefore;
        }
        if (d >= 0 && d < 8)
            decidedNg(d, now);
        // The door lifts what stood at its signal before its own check, or its edge as the next
        // mould of a detection it triggers, confirms the wait.
        if (m.captured(2).startsWith(QLatin1String("safety door check"))
            || (d >= 0 && d < 8 && m_setup.triggers(d, 1) && m.captured(2).startsWith(QLatin1String("the next mould")))) {
            for (auto it = m_releases.begin(); it != m_releases.end();) {
                if (!it->byDoor || it->signal > now) {
                    ++it;
                    continue;
                }
                releaseUpTo(it->signal);
                it = m_releases.erase(it);
            }
        }
        // A Re-detect's own check comes next and decides the detection; what its release handed
        // over is the confirmed NG's now, but for the cameras the confirmed check saw OK.
        if (!m.captured(2).startsWith(QLatin1String("Re-detect"))) {
            resolveRechecks(d, false, true, okCameras);
        } else {
            // Also one the model holds as on its way: the cycle made it with this line.
            auto keepFor = [&](auto& waiting, auto answers) {
                for (auto it = waiting.begin(); it != waiting.end();) {
                    if (!answers(*it)) {
                        ++it;
                        continue;
                    }
                    keepHanded(it->signal, d, okCameras);
                    it = waiting.erase(it);
                }
            };
            keepFor(m_rechecks, [d](const Recheck& r) { return r.detection == d; });
            keepFor(m_releases, [d, now](const Release& r) { return r.handTo == d && r.signal <= now; });
        }
        return;
    }
    m = kAnsweredLine.match(text);
    if (m.hasMatch()) {
        // The check under way looks at the same mould: the door check or Re-detect is told.
        const int d = m.captured(1).toInt() - 1;
        m_answeredAt.push_back(now);
        if (d >= 0 && d < 8)
            ++m_told[m_setup.group(d)];
        // It opens no cycle, unless the door checks other detections too.
        if (m.captured(2).startsWith(QLatin1String("safety door check")) && !m_doorRises.empty()
            && m_setup.doorChecks(m_checkedStage >= 0 ? m_checkedStage : m_stage, m_stage).size() == 1)
            m_doorRises.pop_front();
        return;
    }
    m = kNotInspectedLine.match(text);
    if (m.hasMatch()) {
        const int d = (m.captured(1).isEmpty() ? m.captured(2) : m.captured(1)).toInt() - 1;
        if (d < 0 || d >= 8)
            return;
        ++m_told[m_setup.group(d)];
        // A check that reached no camera has decided: its stop stands.
        if (text.contains(QLatin1String("no camera could be checked"))) {
            m_startedNow |= 1u << d;
            m_ownCheckSignal[d] = -1;
            m_lateUndecided &= ~(1u << d);
        }
        // The check under way answers a door check or Re-detect: only a new mould is turned away.
        if (kAnsweredNotRefused.match(text).hasMatch())
            fail(CycleRule::EveryEdgeTold, now, QStringLiteral("\"%1\": the check under way answers it").arg(text));
        // One that detection stopped is told, but stops nothing more than the stop does; a
        // Re-detect that could not check while detection was stopped does stop the machine.
        if (m_running || !text.endsWith(QLatin1String("detection stopped"))) {
            m_notInspected[d] = {true, now, now};
            m_uninspectedAt[d] = now;
            // A mould turned away by a busy detection makes its cycle NG; a check that reached
            // no camera is no result.
            if (text.contains(QLatin1String(" is still ")))
                m_ngSinceClose = m_uninspectedSinceClose = true;
            // A mould turned away presents no stage, whatever its detection does after.
            if (text.contains(QLatin1String(" is still ")))
                m_refusedNow |= 1u << d;
        }
        return;
    }
    m = kNoCameraLine.match(text);
    if (m.hasMatch()) {
        const int d = m.captured(1).toInt() - 1;
        if (d < 0 || d >= 8)
            return;
        m_causes.noCamera = true;
        m_causes.anyCheck = true;
        if (!m_wait[d].on)
            m_startedNow |= 1u << d;
        // A recheck that saw no camera is the recheck's; its NG stays waiting for the next trigger.
        if (!m_wait[d].on)
            ++m_told[m_setup.group(d)];
        return;
    }
    m = kCheckLine.match(text);
    if (!m.hasMatch())
        return;
    const int d = m.captured(1).toInt() - 1;
    if (d < 0 || d >= 8)
        return;
    m_causes.anyCheck = true;
    unsigned okCameras = 0;
    unsigned ngCameras = 0;
    int made = 0;
    for (auto it = m_judges.begin(); it != m_judges.end();) {
        if (it->detection != d) {
            ++it;
            continue;
        }
        (it->ok ? okCameras : ngCameras) |= 1u << it->camera;
        made = qMax(made, it->recheckMade);
        it = m_judges.erase(it);
    }
    const bool recheck = !m.captured(2).isEmpty() || made > 0;
    const int round = !m.captured(3).isEmpty() ? m.captured(3).toInt() : made;
    for (int c = 0; c < 8; ++c)
        if (okCameras & (1u << c))
            m_ng[d][c].on = false;
    // A camera that could not be checked keeps the stop: the line says NG then.
    if (m.captured(4) == QLatin1String("OK"))
        m_ngLineAt[d] = -1;
    if (okCameras && !ngCameras && m.captured(4) == QLatin1String("OK")) {
        m_notInspected[d].on = false;
        m_uninspectedAt[d] = -1;
        m_causes.okDetections |= 1u << d;
    }
    if (!recheck) {
        m_startedNow |= 1u << d;
        ++m_told[m_setup.group(d)];
        // A detection that has checked in the open cycle opens the next one when it comes again.
        // (Once a cycle has been given up, a late check of it may land in the next one.)
        if ((m_checkedInCycle & (1u << d)) && !m_gaveUpOnce)
            fail(CycleRule::CycleCountsOnce, now,
                 QStringLiteral("detection %1 checked twice in one cycle").arg(d + 1));
        m_checkedInCycle |= 1u << d;
        if (m_wait[d].on) {
            // A trigger the model did not count as certain ended the wait.
            confirm(d, m_wait[d].ngCameras, now);
            m_wait[d].on = false;
        }
        // An NG that only cameras it could not check hold still waits for its recheck.
        const bool waits = (ngCameras || m.captured(4) == QLatin1String("NG")) && m_setup.rechecked(d);
        if (waits)
            m_wait[d] = {true, ngCameras, ++m_generations};
        else
            confirm(d, ngCameras, now);
        if (!waits && m.captured(4) == QLatin1String("NG"))
            decidedNg(d, now);
        resolveRechecks(d, m.captured(4) == QLatin1String("OK"), !waits, okCameras);
        return;
    }
    // A camera the recheck did not look at again keeps what the first check found.
    const unsigned earlier = m_wait[d].on ? m_wait[d].ngCameras : 0;
    const unsigned standing = (earlier & ~okCameras) | ngCameras;
    if (round >= m_setup.recheckTimes || !m_setup.rechecked(d)) {
        confirm(d, standing, now);
        if (m.captured(4) == QLatin1String("NG"))
            decidedNg(d, now);
        m_wait[d].on = false;
        // The first look's OK cameras stand in a recheck of the NG ones only.
        resolveRechecks(d, m.captured(4) == QLatin1String("OK"), true, ~standing);
    } else {
        // A wait the model already ended is a new one to the edges that come after.
        if (!m_wait[d].on)
            m_wait[d].generation = ++m_generations;
        m_wait[d].on = standing != 0;
        m_wait[d].ngCameras = standing;
        resolveRechecks(d, standing == 0, standing == 0, okCameras);
    }
}

void CycleRules::keepHanded(qint64 signal, int detection, unsigned okCameras)
{
    for (int e = 0; e < 8; ++e) {
        if (e == detection)
            continue;
        unsigned cameras = 0;
        // Which cameras an uninspected stop still holds the model does not know: the check's
        // next OK ends it.
        // One a plain release on its way may have lifted before the check decided goes with it.
        // It keeps its own time: a release signalled after it lifts it.
        if (m_notInspected[e].on && m_notInspected[e].decided <= signal) {
            m_notInspected[e].on = false;
            if (!releasable(m_notInspected[e].decided))
                m_notInspected[detection] = {true, m_now, m_notInspected[e].decided};
        }
        qint64 decided[8] = {};
        for (int c = 0; c < 8; ++c) {
            Hold& hold = m_ng[e][c];
            if (hold.on && hold.decided <= signal) {
                hold.on = false;
                decided[c] = hold.decided;
                if (!releasable(hold.decided))
                    cameras |= 1u << c;
            }
        }
        // The outputs go with it: a product NG that only sounded held none.
        if (m_setup.ngStopsNothing(e))
            continue;
        for (int c = 0; c < 8; ++c)
            if ((cameras & ~okCameras) & (1u << c))
                m_ng[detection][c] = {true, m_now, qMax(decided[c], m_ng[detection][c].on ? m_ng[detection][c].decided : 0)};
    }
}

void CycleRules::resolveRechecks(int detection, bool ok, bool decided, unsigned okCameras)
{
    if (!decided)
        return;
    m_ownCheckSignal[detection] = -1;
    m_lateUndecided &= ~(1u << detection);
    // Each waiting release this check answers: lifted on OK, kept as the check's NG otherwise.
    auto decideWaiting = [&](auto& waiting, auto answers) {
        for (auto it = waiting.begin(); it != waiting.end();) {
            if (!answers(*it)) {
                ++it;
                continue;
            }
            if (ok)
                releaseUpTo(it->signal);
            else
                keepHanded(it->signal, detection, okCameras);
            it = waiting.erase(it);
        }
    };
    decideWaiting(m_rechecks, [&](const auto& r) { return r.detection == detection; });
    // The cycle may have taken a release the model holds as on its way: its check decided too.
    decideWaiting(m_releases, [&](const auto& r) { return r.handTo == detection && r.signal <= m_now; });
}

void CycleRules::released(const CycleNote& n, qint64 now)
{
    // The operator's releases the harness told already; these are the cycle's own.
    if (n.byOperator)
        return;
    if (n.method == AlarmClearMethod::SwitchToMould && m_doorEdge.rose >= 0 && !m_doorEdge.skipTold) {
        // The door skipped a product NG the model did not know of: what the edge would have
        // done is undone and the Re-detect of the mould told.
        for (int g = 0; g < 8; ++g) {
            m_edges[g] -= m_doorEdge.counted[g];
            m_maybeEdges[g] += m_doorEdge.counted[g];
        }
        const int mould = qMax(0, m_setup.mouldDetection(m_checkedStage >= 0 && m_setup.twoStage() ? m_checkedStage
                                                                                                 : m_stage));
        addRelease(m_doorEdge.rose, now, mould);
        m_edgeEnds.erase(std::remove_if(m_edgeEnds.begin(), m_edgeEnds.end(),
                                        [this](const EdgeEnd& end) { return end.visible == m_doorEdge.visible; }),
                         m_edgeEnds.end());
        const qint64 skipped = m_doorEdge.rose;
        m_doorRises.erase(std::remove_if(m_doorRises.begin(), m_doorRises.end(),
                                         [skipped](const std::pair<qint64, bool>& r) { return r.first == skipped; }),
                          m_doorRises.end());
        m_doorEdge = {};
        redetect(mould, m_running, now);
        processReleases(now);
    } else if (n.method == AlarmClearMethod::Redetect) {
        // The clearing input's release with its recheck has come: the latest signal is the one
        // its timer waited for (a later pulse starts the wait again).
        auto latest = m_releases.end();
        for (auto it = m_releases.begin(); it != m_releases.end(); ++it)
            if (it->byClearingInput && it->handTo == kOwnCheck && it->signal <= now
                && (latest == m_releases.end() || it->signal > latest->signal))
                latest = it;
        if (latest == m_releases.end())
            return;
        const qint64 signal = latest->signal;
        recheckByClearingInput(*latest);
        // An earlier signal's release never comes: the later pulse started the wait again.
        m_releases.erase(std::remove_if(m_releases.begin(), m_releases.end(),
                                        [signal](const Release& r) { return r.byClearingInput && r.signal < signal; }),
                         m_releases.end());
    }
}

void CycleRules::recheckByClearingInput(Release& release)
{
    release.made = true;
    // Each detection whose NG stood at the signal is checked again; it keeps its outputs
    // until that check decides. Which ones the cycle held is not certain to the model.
    for (int d = 0; d < 8; ++d) {
        // One waiting for its recheck may still hold an older NG the model took as lifted.
        bool stood = m_wait[d].on || (m_ngLineAt[d] >= 0 && m_ngLineAt[d] <= release.signal)
                     || (m_uninspectedAt[d] >= 0 && m_uninspectedAt[d] <= release.signal)
                     || (m_notInspected[d].on && m_notInspected[d].decided <= release.signal);
        for (const Hold& hold : m_ng[d])
            stood = stood || (hold.on && hold.decided <= release.signal);
        if (stood && !(release.toldRedetects & (1u << d))) {
            release.toldRedetects |= 1u << d;
            redetect(d, false, m_now);
            m_ownCheckSignal[d] = release.signal;
            ++m_lateRedetects;
            m_lateUndecided |= 1u << d;
        }
    }
}

void CycleRules::processReleases(qint64 now)
{
    for (auto it = m_releases.begin(); it != m_releases.end();) {
        if (now < it->due) {
            ++it;
            continue;
        }
        if (it->byClearingInput && it->handTo == kOwnCheck && (m_running || it->made)) {
            if (m_running)
                recheckByClearingInput(*it);
            it->made = true;
            it = now < it->due + kGraceMs ? it + 1 : m_releases.erase(it);
            continue;
        }
        const Release release = *it;
        it = m_releases.erase(it);
        if (release.handTo == kPlain || (release.byClearingInput && !m_running))
            releaseUpTo(release.signal);
        else if (release.handTo >= 0)
            m_rechecks.push_back({release.signal, release.handTo});
    }
}

void CycleRules::note(const CycleNote& n, qint64 now)
{
    switch (n.kind) {
    case CycleNote::Judge:
        m_judges.push_back(n);
        break;
    case CycleNote::LogLine:
        check(n, now);
        break;
    case CycleNote::Released:
        released(n, now);
        break;
    case CycleNote::Started:
        m_startedNow = 0;   // what checked before is of the cycle before
        ++m_causes.starts;
        m_gaveUpOnce = m_gaveUpOnce || m_cycleOpen;
        m_checkedInCycle = 0;
        m_closedSawNothing = false;
        m_redetectsToDecide = 0;   // a Re-detect not yet decided joined this cycle or was given up
        if (m_cycleOpen)
            ++m_causes.flips;  // the open cycle is given up
        m_cycleOpen = true;
        ++m_startedCount;
        m_causes.started = true;
        break;
    case CycleNote::Finished:
        if (!m_cycleOpen && (m_redetectsToDecide > 0 || m_lateRedetects > 0)) {
            --(m_redetectsToDecide > 0 ? m_redetectsToDecide : m_lateRedetects);
            // The cycle before saw nothing and has no record: a Re-detect checks a cycle of its own.
            if (m_closedSawNothing)
                fail(CycleRule::CycleCountsOnce, now,
                     QStringLiteral("a Re-detect decided again a cycle older than the one that saw nothing"));
            // A Re-detect of the closed cycle decides its record again: no cycle is added,
            // counted or switched. Another still to decide may yet find an NG there.
            m_redetectSinceClose = m_redetectsToDecide > 0 || m_lateRedetects > 0;
            m_ngSinceClose = false;
            m_preCutHold = false;
            m_uninspectedSinceClose = false;
            m_checkedInCycle = 0;
            break;
        }
        if (!m_cycleOpen)
            fail(CycleRule::CycleCountsOnce, now,
                 QStringLiteral("sigCycleFinished(%1) with no sigCycleStarted before it").arg(n.ok ? "false" : "true"));
        if (m_ngSinceClose && !m_redetectSinceClose && n.ok)
            fail(CycleRule::CycleCountsOnce, now, QStringLiteral("a cycle with a confirmed NG closed as OK"));
        if (m_uninspectedSinceClose && !m_redetectSinceClose && !n.ok)
            for (int c = 0; c < m_setup.cameras && c < 8; ++c)
                ++m_leastFailCycles[c];
        m_uninspectedSinceClose = false;
        m_cycleOpen = false;
        m_checkedInCycle = 0;
        m_closedSawNothing = false;
        ++m_finished;
        m_finishedNg += n.ok ? 0 : 1;
        m_ngSinceClose = false;
        // A Re-detect still to decide checks the cycle that closed now again: what it finds
        // may land in the next one.
        m_redetectSinceClose = m_redetectsToDecide > 0 || m_lateUndecided != 0;
        m_preCutHold = false;
        m_doorCycleSerial = m_plainCycleSerial = 0;
        ++m_causes.flips;
        break;
    }
}

void CycleRules::delivered(const std::vector<CycleNote>& notes, const CycleView& view)
{
    const qint64 now = view.nowMs;
    m_causes = Causes();
    m_stage = view.stageFlag;
    m_now = now;
    m_startedNow = 0;
    m_refusedNow = 0;
    processReleases(now);

    for (const CycleNote& n : notes)
        note(n, now);
    followStage(view);
    m_lastBusy = view.busy;
    processReleases(now);
    if (m_stopPending) {
        dropOpenCycle();
        m_stopPending = false;
    }
    if (view.catchingUp)
        m_caughtUpAt = now;
    for (auto it = m_edgeEnds.begin(); it != m_edgeEnds.end();) {
        // Unless the cycle said so before, the wait ends at the latest a grace after the edge
        // (after a stall, once the cycle has run again).
        if (now < qMax(it->at, m_caughtUpAt + kGraceMs) || view.catchingUp) {
            ++it;
            continue;
        }
        for (int d = 0; d < 8; ++d) {
            if ((it->detections & (1u << d)) && m_wait[d].on && m_wait[d].generation == it->generations[d]) {
                confirm(d, m_wait[d].ngCameras, it->at);
                m_wait[d].on = false;
            }
        }
        it = m_edgeEnds.erase(it);
    }
    if (view.preCut && m_running)
        m_preCutHold = true;

    // Rules 1 and 2: what must be on now, and whether it is.
    unsigned need = 0;
    QString why;
    int holdDetection = -1;
    {
        const unsigned ngNeed = kClampBit | (m_setup.noAlarmSound ? 0 : kAlarmBit);
        for (int d = 0; d < 8; ++d) {
            unsigned cameras = 0;
            qint64 since = 0;
            for (int c = 0; c < 8; ++c) {
                if (m_ng[d][c].on && m_ng[d][c].since <= now && !releasable(m_ng[d][c].decided)) {
                    cameras |= 1u << c;
                    since = m_ng[d][c].since;
                }
            }
            if (cameras && !need) {
                why = QStringLiteral("the NG of camera %1 in detection %2 (confirmed at t=%3 ms) holds")
                          .arg(camerasText(cameras)).arg(d + 1).arg(since);
                holdDetection = d;
            }
            if (cameras)
                need |= m_setup.ngStopsNothing(d) ? (ngNeed & ~kClampBit) : ngNeed;
            if (m_notInspected[d].on && m_notInspected[d].since <= now && !releasable(m_notInspected[d].decided)) {
                if (!need) {
                    why = QStringLiteral("detection %1's \"not inspected\" at t=%2 ms holds")
                              .arg(d + 1).arg(m_notInspected[d].since);
                    holdDetection = d;
                }
                need |= ngNeed;
            }
        }
        if (m_preCutHold && !need) {
            why = QStringLiteral("the pre-cut of a cycle that has not closed with no NG holds");
            holdDetection = -1;
        }
        if (m_preCutHold)
            need |= kClampBit;
    }
    if (view.bookHeld > 0 && (unsigned(view.bookHeld) & ~view.outputs))
        fail(CycleRule::NgHolds, now,
             QStringLiteral("the alarm book holds %1, which is off").arg(outputsText(unsigned(view.bookHeld) & ~view.outputs)));
    const unsigned missing = need & ~view.outputs;
    if (missing) {
        QString cause;
        if (m_lastOutputs & missing) {
            if (m_causes.noCamera)
                cause = QStringLiteral("a check that saw no camera");
            else if (!m_causes.anyCheck && m_cameraBackAt >= 0 && now - m_cameraBackAt <= kCameraBackNoticedMs)
                cause = QStringLiteral("a camera's return");
            else if (m_causes.okDetections & ~(holdDetection >= 0 ? 1u << holdDetection : 0u)) {
                for (int d = 0; d < 8; ++d)
                    if (m_causes.okDetections & (1u << d) && d != holdDetection)
                        cause = QStringLiteral("detection %1's OK").arg(d + 1);
            }
        }
        if (!cause.isEmpty())
            fail(CycleRule::NoFalseRelease, now,
                 QStringLiteral("%1 went off by %2 while %3").arg(outputsText(missing & m_lastOutputs), cause, why));
        else
            fail(CycleRule::NgHolds, now, QStringLiteral("%1 off while %2").arg(outputsText(missing), why));
    }
    m_lastOutputs = view.outputs;

    // Rule 4: the counters rise only at a close, NG cycles counted = NG closes.
    if (view.ngCycles != m_finishedNg)
        fail(CycleRule::CycleCountsOnce, now,
             QStringLiteral("gSyncNGCycleNum %1 after %2 sigCycleFinished(true)").arg(view.ngCycles).arg(m_finishedNg));
    for (int c = 0; c < 8; ++c) {
        if (view.allCycles[c] > m_finished || view.failCycles[c] > m_finishedNg
            || view.failCycles[c] < m_leastFailCycles[c])
            fail(CycleRule::CycleCountsOnce, now,
                 QStringLiteral("camera %1 counts %2 cycles (%3 NG) after %4 closes (%5 NG, %6 of them of a mould "
                                "not inspected)")
                     .arg(c + 1).arg(view.allCycles[c]).arg(view.failCycles[c]).arg(m_finished).arg(m_finishedNg)
                     .arg(m_leastFailCycles[c]));
    }

    // A cycle that saw nothing ends with no record; it is over for the stages too.
    if (m_cycleOpen && view.openSerial == 0) {
        m_cycleOpen = false;
        m_closedSawNothing = true;
        m_checkedInCycle = 0;
        ++m_causes.flips;
    }

    // Rule 6: the stage flag.
    const bool alternates = m_setup.twoStage() && m_setup.stageGroups >= 2;
    if (!m_stageKnown) {
        m_expectedStage = view.stageFlag;
        m_stageKnown = true;
    } else {
        if (alternates && (m_causes.flips & 1))
            m_expectedStage ^= 1;
        if (view.stageFlag != m_expectedStage) {
            fail(CycleRule::StageSwitches, now,
                 alternates ? QStringLiteral("stage flag %1 where the closed and given-up cycles (%2 opened) give %3")
                                  .arg(view.stageFlag).arg(m_startedCount).arg(m_expectedStage)
                            : QStringLiteral("stage flag changed to %1 in a setup that does not alternate")
                                  .arg(view.stageFlag));
            m_expectedStage = view.stageFlag;
        }
    }

    // Rule 7: the door flag.
    if (m_causes.started && m_redetectOpens) {
        // A Re-detect opened it (or a cycle of its own): the door's edge, if any, is still to come.
        m_redetectOpens = false;
        m_doorCycleSerial = m_plainCycleSerial = 0;
    } else if (m_causes.started) {
        // Edges not yet taken by an opening cycle, however long ago they came (a stall).
        const bool doorSeen = !m_doorRises.empty();
        // A door edge that also triggers detections opens the door's cycle or, its check
        // answered, a plain one.
        const bool doorOnly = doorSeen && !m_doorRises.front().second;
        const bool otherSeen = m_otherRose >= 0;
        const bool justStarted = m_startedAt >= 0 && now - m_startedAt <= kGraceMs;
        // Two cycles opened in one delivery (a stalled GUI thread): which one is left open is not told.
        const bool oneOpened = m_causes.starts == 1;
        m_doorCycleSerial = doorOnly && !otherSeen && !justStarted && oneOpened ? view.openSerial : 0;
        m_plainCycleSerial = !doorSeen && !justStarted && oneOpened ? view.openSerial : 0;
        if (doorSeen && otherSeen && oneOpened) {
            // The cycle takes edges in the order they rose: the later one opens a cycle of its own.
            if (m_doorRises.front().first <= m_otherRose)
                m_doorRises.pop_front();
            else
                m_otherRose = -1;
        } else if (doorSeen && oneOpened && !justStarted) {
            m_doorRises.pop_front();   // a later door edge opens a cycle of its own
        } else {
            m_doorRises.clear();
            m_otherRose = -1;
        }
    }
    checkGuarded(view);
    checkStores(view, false);

    if (view.openSerial == 0 && view.doorFlag != 0)
        fail(CycleRule::DoorFlag, now, QStringLiteral("safetyDoorTriggered is %1 with no cycle open").arg(view.doorFlag));
    else if (view.openSerial != 0 && view.openSerial == m_doorCycleSerial && view.doorFlag != 1)
        fail(CycleRule::DoorFlag, now, QStringLiteral("safetyDoorTriggered is %1 in the door's cycle").arg(view.doorFlag));
    else if (view.openSerial != 0 && view.openSerial == m_plainCycleSerial && view.doorFlag != 0)
        fail(CycleRule::DoorFlag, now,
             QStringLiteral("safetyDoorTriggered is %1 in a cycle a trigger opened").arg(view.doorFlag));
}

void CycleRules::quiescent(const CycleView& view, bool idle, const QString& pendingWhat, bool closesOnce)
{
    for (int g = 0; g < 8; ++g) {
        const int told = m_told[g];
        if (told < m_edges[g] || told > m_edges[g] + m_maybeEdges[g]) {
            const QString which = m_setup.twoStage() ? QStringLiteral("detections %1/%2").arg(g + 1).arg(g + 3)
                                                     : QStringLiteral("detection %1").arg(g + 1);
            const QString expected = m_maybeEdges[g] ? QStringLiteral("%1 to %2").arg(m_edges[g]).arg(m_edges[g] + m_maybeEdges[g])
                                                     : QString::number(m_edges[g]);
            fail(CycleRule::EveryEdgeTold, view.nowMs,
                 QStringLiteral("%1: %2 trigger edges, door checks and Re-detects, but %3 first checks, "
                                "\"not inspected\" and \"no camera could be checked\" lines")
                     .arg(which, expected).arg(told));
        }
    }
    checkStores(view, closesOnce);
    if (!idle)
        fail(CycleRule::NothingPending, view.nowMs, pendingWhat);
    else if (closesOnce && view.openSerial != 0)
        fail(CycleRule::NothingPending, view.nowMs,
             QStringLiteral("cycle %1 is still open after every detection was triggered again").arg(view.openSerial));
}
