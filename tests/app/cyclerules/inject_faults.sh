#!/bin/bash
# Hand-run check of what the tests see, on a copy of the source tree (the working tree is
# never changed). Two tables:
#   faults     deliberate faults of the detection cycle, each judged by the cycle rules'
#              random sequences against those of the unchanged cycle (same seeds);
#   mutations  one change at a time of a comparison or guard the machine's safety rests on
#              (detection cycle, machine cycle, control port, picture writers' queue), each
#              run against the test programs of its folder: the first that fails catches it.
# A change whose text is no longer in its file, or that does not build, is reported and
# makes the script exit non-zero.
#
#   tests/app/cyclerules/inject_faults.sh [faults|mutations] [sequences]   (default: faults 10000)
#   MM_FAULT_WORKDIR=/tmp/faults ...   keeps the copy and its build for the next run
#   MM_FAULT_ONLY=regex                only the entries whose name matches
#   MM_CYCLE_SEED=...                  first seed (default the test's own)
set -euo pipefail

# name @ file (from the source root) @ sed script that changes exactly one line of that file
FAULTS=(
  "a: a given-up cycle's NG is not carried into the next close@src/app/detectioncycle.cpp@s/^            m_carry.absorb(m_open);/            ;/"
  "b: a detection that already checked no longer opens a new cycle@src/app/detectioncycle.cpp@s/ || (m_open.settled \& MachineCycle::bit(detection))//"
  "c: a detection waiting for its recheck is taken as idle@src/app/detectioncycle.cpp@/^bool DetectionCycle::admit/,/^}/ s/^        confirmRecheckNow(detection, /        if (false) confirmRecheckNow(detection, /"
  "d: cycleOf returns the carried findings for a cycle that has gone@src/app/detectioncycle.cpp@s/return m_open.isOpen() ? m_open : m_carry;/return m_carry;/"
  "e: settleWithoutResult keeps the last closed cycle@src/app/detectioncycle.cpp@/^void DetectionCycle::settleWithoutResult/,/^}/ { /m_closed = MachineCycle();/d }"
  "f: finishCycle no longer clears safetyDoorTriggered@src/app/detectioncycle.cpp@/^void DetectionCycle::finishCycle/,/^}/ { /safetyDoorTriggered = 0;/d }"
  "1: a check that missed a camera releases its NG@src/app/alarmbook.cpp@s/const unsigned kept = (e.ngCameras | e.keptCameras) \& ~checkedCameras;/const unsigned kept = 0 \& checkedCameras;/"
  "2: pre-cut ends at the last detection's decision@src/app/detectioncycle.cpp@/^void DetectionCycle::CheckNG/,/^}/ s/^    if (ng) {$/    if (d == lastDetection()) endPreCut(ng);\n    if (ng) {/"
  "3: a trigger on a busy detection is dropped without a word@src/app/detectioncycle.cpp@/^bool DetectionCycle::admit/,/^}/ s/^    refuseUninspected(detection, what, signalMs);/    ;/"
  "4: the stage does not switch for a given-up cycle@src/app/detectioncycle.cpp@/^void DetectionCycle::openCycle/,/^}/ s/^        switchStage();/        ;/"
  "5: a release lifts NGs decided after its signal@src/app/alarmbook.cpp@s/if (e.holds() \&\& e.ngAt < signalMs \&\& /if (e.holds() \&\& /"
  "6: a release with Re-detect releases at once@src/app/alarmbook.cpp@s/^        if (handTo == kReleaseNow) {/        if (true) {/"
  "7: outputs kept for a Re-detect's check are not held@src/app/alarmbook.cpp@s/outputs |= e.outputs | e.keptOutputs;/outputs |= e.outputs;/"
  "8: a Re-detect's check that cannot see a camera releases its NG@src/app/alarmbook.cpp@s/const unsigned kept = (e.ngCameras | e.keptCameras) \& ~checkedCameras;/const unsigned kept = e.ngCameras \& ~checkedCameras;/"
  "9: a door check or Re-detect during its detection's countdown is not inspected@src/app/detectioncycle.cpp@s/if (qstrcmp(what, \"trigger\") != 0) {/if (false) {/"
  "10: the clearing input's release lifts what came after its signal@src/app/detectioncycle.cpp@s/clearAlarm(AlarmClearMethod::DontDetect, m_clearSignalMs);/clearAlarm(AlarmClearMethod::DontDetect);/"
  "11: an uninspected mould is not counted@src/app/detectioncycle.cpp@s/^    countUninspected(detection, false);/    ;/"
  "12: the door that skips a product NG lifts what came after it opened@src/app/detectioncycle.cpp@s/releaseAndRecheck(AlarmClearMethod::SwitchToMould, roseMs, mouldDetection());/releaseAndRecheck(AlarmClearMethod::SwitchToMould, kNow, mouldDetection());/"
  "14: a stop forgets the cameras a pending Re-detect was to see@src/app/alarmbook.cpp@/^bool AlarmBook::stop/,/^}/ s/kept = keep(e) || kept;/kept = (e.keptCameras = 0, keep(e)) || kept;/"
  "13: an NG handed to another detection's check keeps that detection's time@src/app/alarmbook.cpp@/check.ngAt = std::max(check.ngAt, ngAt);/d"
)

# The mutation pass: each changes one comparison or guard.
MUTATIONS=(
  "liftAlarms: ngAt < signal to <= (an NG of the signal's millisecond lifted)@src/app/alarmbook.cpp@s/e.holds() \&\& e.ngAt < signalMs/e.holds() \&\& e.ngAt <= signalMs/"
  "liftAlarms: && to || in its guard@src/app/alarmbook.cpp@s/e.holds() \&\& e.ngAt < signalMs/e.holds() || e.ngAt < signalMs/"
  "liftAlarms: releases what OKs deferred while an alarm stands@src/app/alarmbook.cpp@/^AlarmBook::Change AlarmBook::lift/,/^}/ s/^    if (!anyHolds())$/    if (anyHolds())/"
  "liftAlarms: the handed NG's time dropped@src/app/alarmbook.cpp@s/check.ngAt = std::max(check.ngAt, ngAt);/check.ngAt = check.ngAt;/"
  "liftAlarms: kept outputs not handed to the check@src/app/alarmbook.cpp@s/^        check.keptOutputs |= outputs;/        ;/"
  "liftAlarms: kept cameras not handed to the check@src/app/alarmbook.cpp@s/^        check.keptCameras |= cameras;/        (void)cameras;/"
  "liftAlarms: handed to each own check, not the one named@src/app/alarmbook.cpp@s/at(handTo == kEachOwnCheck ? lift.detection : handTo)/at(lift.detection)/"
  "holdsProductNg: ngAt < atMs to <=@src/app/alarmbook.cpp@s/e.ngCameras \&\& e.ngAt < atMs/e.ngCameras \&\& e.ngAt <= atMs/"
  "holdsProductNg: ngCameras condition dropped@src/app/alarmbook.cpp@s/return e.ngCameras \&\& e.ngAt < atMs;/return e.ngAt < atMs;/"
  "releaseDetection: its own NG counts as another's@src/app/alarmbook.cpp@s/if (cycleUndecided || anyHolds())/if (cycleUndecided || true)/"
  "releaseDetection: a recheck wait no longer defers@src/app/detectioncycle.cpp@s/undecided = anyAwaitingRecheck(cycle.serial) || /undecided = /"
  "releaseDetection: pre-cut no longer defers@src/app/detectioncycle.cpp@s/ || (cycle.serial == m_open.serial \&\& m_preCut);/;/"
  "recomputeAlarmOutputs: kept outputs left out of the held ones@src/app/alarmbook.cpp@s/outputs |= e.outputs | e.keptOutputs;/outputs |= e.outputs;/"
  "holdUncheckedNg: a checked camera's NG held whatever its verdict@src/app/alarmbook.cpp@s/(e.ngCameras | e.keptCameras) \& ~checkedCameras;/(e.ngCameras | e.keptCameras) \& ~(checkedCameras \& 0u);/"
  "holdUncheckedNg: keptCameras left out@src/app/alarmbook.cpp@s/const unsigned kept = (e.ngCameras | e.keptCameras) \& ~checkedCameras;/const unsigned kept = e.ngCameras \& ~checkedCameras;/"
  "holdUncheckedNg: the unchecked camera not kept in ngCameras@src/app/alarmbook.cpp@s/^    e.ngCameras |= kept;/    ;/"
  "CheckNG: an OK camera not taken off ngCameras@src/app/alarmbook.cpp@s/e.ngCameras = (e.ngCameras \& ~checkedCameras) | (ngCameras \& checkedCameras);/e.ngCameras = e.ngCameras | (ngCameras \& checkedCameras);/"
  "CheckNG: NG keeps no held outputs@src/app/alarmbook.cpp@/^AlarmBook::Change AlarmBook::ng(/,/^}/ s/^    keep(e);/    e.keptOutputs = 0; keep(e);/"
  "endPreCut: && to || in the NG guard@src/app/detectioncycle.cpp@s/const bool keep = ng \&\& pulseTenths(kClampOutput) <= 0;/const bool keep = ng || pulseTenths(kClampOutput) <= 0;/"
  "endPreCut: a detection without NG keeps the clamp@src/app/alarmbook.cpp@s/if (e.ngCameras \&\& (stoppers \& (1u << d)))/if (stoppers \& (1u << d))/"
  "cancelCountdowns: held outputs dropped@src/app/alarmbook.cpp@/^bool AlarmBook::stop/,/^}/ s/kept = keep(e) || kept;/kept = (e.keptOutputs = 0, keep(e)) || kept;/"
  "holdUninspected: ngCameras not marked@src/app/alarmbook.cpp@s/^    e.ngCameras |= allCameras;/    e.ngCameras |= allCameras \& 0u;/"
  "holdUninspected: the clamp not wanted@src/app/detectioncycle.cpp@/^void DetectionCycle::holdUninspected/,/^}/ s/^    unsigned wanted = 1u << kClampOutput;/    unsigned wanted = 0;/"
  "holdUninspected: the alarm not shown@src/app/detectioncycle.cpp@/^void DetectionCycle::holdUninspected/,/^}/ s/^    raiseAlarm(detection, allUnitsMask());/    ;/"
  "countUninspected: cycle.ng not set@src/app/mouldcount.cpp@/^StepCount refused/,/^}/ s/^    cycle.ng = true;/    ;/"
  "countUninspected: a counted cycle takes it@src/app/detectioncycle.cpp@s/own.counted ? m_carry : own/own/"
  "alarmStands: || to &&@src/app/alarmbook.cpp@s/if (e.ngCameras || e.outputs)/if (e.ngCameras \&\& e.outputs)/"
  "holdsAlarm: kept outputs left out@src/app/alarmbook.h@s/return ngCameras || outputs || keptOutputs;/return ngCameras || outputs;/"
  "refuseUninspected: counting taken as checking@src/app/detectioncycle.cpp@s/const bool counting = m_steps\[detection\].phase == Phase::CountingDown;/const bool counting = false;/"
  "refuseUninspected: the counting check not put off@src/app/detectioncycle.cpp@s/if (counting \&\& putOffCountdown(detection, signalMs))/if (false \&\& putOffCountdown(detection, signalMs))/"
  "answerUnderWay: the counting check not put off@src/app/detectioncycle.cpp@s/^    if (putOffCountdown(detection, signalMs)) {/    if (false) {/"
  "putOffCountdown: the check's signal time not moved@src/app/detectioncycle.cpp@s/^    m_steps\[detection\].signalMs = qMax(m_steps\[detection\].signalMs, signalMs);/    (void)signalMs;/"
  "putOffCountdown: a tick beyond the delay not asked@src/app/detectioncycle.cpp@s/>= delay + kTickSeconds)/>= delay)/"
  "putOffCountdown: the countdown not moved@src/app/detectioncycle.cpp@s/setCountdown(detection, qMax(m_countdown\[detection\], delay));/setCountdown(detection, m_countdown[detection]);/"
  "runDetection: fresh-frame < to <= (stricter)@src/app/detectioncycle.cpp@s/if (m_framesAt < qMax(/if (m_framesAt <= qMax(/"
  "runDetection: frames a millisecond before the signal taken as fresh@src/app/detectioncycle.cpp@s/if (m_framesAt < qMax(/if (m_framesAt + 1 < qMax(/"
  "runDetection: the signal's time dropped from the fresh-frame test@src/app/detectioncycle.cpp@s/qMax(m_steps\[detection\].signalMs, MonotonicClock::ms() - kRunMs)/(MonotonicClock::ms() - kRunMs)/"
  "runDetection: the one-pass age dropped from the fresh-frame test@src/app/detectioncycle.cpp@s/qMax(m_steps\[detection\].signalMs, MonotonicClock::ms() - kRunMs)/(m_steps[detection].signalMs)/"
  "mouldDetection: the stage checked last ignored@src/app/detectioncycle.cpp@s/const int stage = isTwoStage() \&\& m_checkedStage >= 0 ? m_checkedStage : m_win->stageFlag;/const int stage = m_win->stageFlag;/"
  "mouldDetection: the stage taken the other way@src/app/detectioncycle.cpp@s/const int mould = isTwoStage() \&\& !stage ? 3 : 1;/const int mould = isTwoStage() \&\& stage ? 3 : 1;/"
  "mouldDetection: a disabled detection taken@src/app/detectioncycle.cpp@s/return gpWPara->detectEnable\[mould\] \&\& (isTwoStage()/return (isTwoStage()/"
  "liftAlarms: a spared detection lifted@src/app/alarmbook.cpp@s/ \&\& !(spare \& (1u << d)))/)/"
  "trigger: the checked stage recorded the other way@src/app/detectioncycle.cpp@s/m_checkedStage = detection < 2 ? 1 : 0;/m_checkedStage = detection < 2 ? 0 : 1;/"
  "MouldCount: a counted cycle's Re-detect counted again@src/app/mouldcount.cpp@s/^        if (cycle.counted)$/        if (false)/"
  "MouldCount: an unchecked NG camera not counted@src/app/mouldcount.cpp@s/const bool counts = (i < checked.size() \&\& checked.at(i)) || !good;/const bool counts = i < checked.size() \&\& checked.at(i);/"
  "StandingAlarm: save takes an unwritten text as written@src/app/standingalarm.cpp@s/^    if (text == m_written)$/    if (true)/"
  "StandingAlarm: a standing alarm saved as none@src/app/standingalarm.cpp@s/^    if (!state.stands())$/    if (state.stands())/"
  "StandingAlarm: a detection's outputs lost on load@src/app/standingalarm.cpp@s/detection.outputs = value.toUInt() \& outputMask;/detection.outputs = value.toUInt() \& outputMask \& 0u;/"
  "standingAlarm: kept outputs not saved@src/app/detectioncycle.cpp@s/kept.outputs = entry.outputs | entry.keptOutputs;/kept.outputs = entry.outputs;/"
  "standingAlarm: kept cameras not saved@src/app/detectioncycle.cpp@s/const unsigned cameras = entry.ngCameras | entry.keptCameras;/const unsigned cameras = entry.ngCameras;/"
  "raiseStandingAlarm: nothing raised after a restart@src/app/detectioncycle.cpp@/^void DetectionCycle::raiseStandingAlarm/,/^}/ s/^    if (!state.stands())$/    if (true)/"
  "raiseStandingAlarm: outputs not driven again@src/app/detectioncycle.cpp@s/^            if (on \& (1u << output))$/            if (on \& 0u)/"
  "raiseStandingAlarm: the NG dated before the restart (an older release lifts it)@src/app/detectioncycle.cpp@s/kept.outputs \& alarmOutputs, now).on;/kept.outputs \& alarmOutputs, now - now).on;/"
  "handleTrigger: product skip without running@src/app/detectioncycle.cpp@s/door \&\& running \&\& gpWPara->prodNgSkipRecheck/door \&\& gpWPara->prodNgSkipRecheck/"
  "handleTrigger: door clears without an alarm@src/app/detectioncycle.cpp@s/safetyDoorClearsAlarm \&\& isAlarmed()/safetyDoorClearsAlarm/"
  "handleTrigger: clearing input without an alarm@src/app/detectioncycle.cpp@s/isClearingInput(input) \&\& isAlarmed()/isClearingInput(input)/"
  "handleTrigger: || to && in the run guard@src/app/detectioncycle.cpp@s/if (!running || shielded(input))/if (!running \&\& shielded(input))/"
  "clearByInput: alarm guard dropped@src/app/detectioncycle.cpp@/^void DetectionCycle::clearByInput/,/^}/ s/^    if (!isAlarmed())$/    if (false)/"
  "clearByInput: && to || in the recheck guard@src/app/detectioncycle.cpp@s/inputResetRecheck \&\& m_win->runState == kRunRunning/inputResetRecheck || m_win->runState == kRunRunning/"
  "admit: != to == for the answered check@src/app/detectioncycle.cpp@s/qstrcmp(what, \"trigger\") != 0/qstrcmp(what, \"trigger\") == 0/"
  "runDetection: recheck < recheckTimes to <=@src/app/detectioncycle.cpp@s/recheck < gpWPara->recheckTimes/recheck <= gpWPara->recheckTimes/"
  "settle: || to &&@src/app/detectioncycle.cpp@s/if (!m_open.isOpen() || step.cycle != m_open.serial)/if (!m_open.isOpen() \&\& step.cycle != m_open.serial)/"
  "cycleOf: && to ||@src/app/detectioncycle.cpp@s/if (m_open.isOpen() \&\& m_steps\[detection\].cycle == m_open.serial)/if (m_open.isOpen() || m_steps[detection].cycle == m_open.serial)/"
  "preCut: countdown > to >=@src/app/detectioncycle.cpp@s/m_countdown\[detection\] > gpWPara->preCutTime/m_countdown[detection] >= gpWPara->preCutTime/"
  "TimerUp: countdown > tolerance to >=@src/app/detectioncycle.cpp@s/if (m_countdown\[detection\] > kTickTolerance)/if (m_countdown[detection] >= kTickTolerance)/"
  "Run: rose < firstRose to <=@src/app/detectioncycle.cpp@s/rose < firstRose/rose <= firstRose/"
  "Run: latched pulses taken newest first@src/app/detectioncycle.cpp@s/rose < firstRose/rose > firstRose/"
  "shielded: < to <=@src/app/detectioncycle.cpp@s/m_shieldedSignals < gpWPara->shieldPin/m_shieldedSignals <= gpWPara->shieldPin/"
  "finishCycle: production alarm on an NG cycle@src/app/detectioncycle.cpp@s/^        if (!m_open.ng)$/        if (m_open.ng)/"
  "settleWithoutResult: hadResult negated@src/app/detectioncycle.cpp@s/if (m_open.hadResult())/if (!m_open.hadResult())/"
  "CheckNG: cycle NG not kept@src/app/detectioncycle.cpp@s/cycle.ng = cycle.ng || ng;/cycle.ng = ng;/"
  "isOver: && to ||@src/app/machinecycle.h@s/return !anyUnderWay \&\& (single/return !anyUnderWay || (single/"
  "hadResult: ng left out@src/app/machinecycle.h@/bool hadResult/,/^    }/ s/^        return ng;/        return false;/"
  "absorb: the other's NG left out@src/app/machinecycle.h@s/ng = ng || other.ng;/ng = ng;/"
  "note: an NG camera not marked@src/app/machinecycle.h@s/^            cameraNg\[camera\] = true;/            ;/"
  "hasSteadyTrigger: lasted >= steadyMs to >@src/iolink/controlport.cpp@s/if (lasted >= steadyMs)/if (lasted > steadyMs)/"
  "hasSteadyTrigger: a high pulse is dropped as a flicker@src/iolink/controlport.cpp@s/^        if (pulse.high)$/        if (false)/"
  "SlotPulseTimeout: dueMs <= now to <@src/iolink/controlport.cpp@s/m_deferred.front().dueMs <= now/m_deferred.front().dueMs < now/"
  "SlotPulseTimeout: a held output's pulse end cuts it@src/iolink/controlport.cpp@s/if (!info.state \&\& gpWin \&\& gpWin->isOutputHeld(info.output))/if (!info.state \&\& gpWin \&\& !gpWin->isOutputHeld(info.output))/"
  "SlotInputsSeen: pulses >= limit to >@src/iolink/controlport.cpp@s/int(pulses.size()) >= kMaxLatchedPulses/int(pulses.size()) > kMaxLatchedPulses/"
  "SlotInputsSeen: a full queue drops its newest pulse@src/iolink/controlport.cpp@s/^                pulses.pop_front();$/                pulses.pop_back();/"
  "SlotInputsSeen: a fall ends a pulse already ended@src/iolink/controlport.cpp@s/} else if (!pulses.empty() \&\& pulses.back().high) {/} else if (!pulses.empty()) {/"
  "SlotInputsSeen: the fall time may precede the rise@src/iolink/controlport.cpp@s/pulses.back().fellAt = qMax(seenAtMs, pulses.back().roseAt);/pulses.back().fellAt = seenAtMs;/"
  "steadyAt: a fallen pulse still has a due time@src/iolink/controlport.cpp@s/ || !m_pulses\[input\].front().high)/)/"
  "schedule: ties go before earlier ones@src/iolink/controlport.cpp@s/(a.dueMs == b.dueMs \&\& a.sequence < b.sequence)/(a.dueMs == b.dueMs \&\& a.sequence > b.sequence)/"
  "IOPulseOut: tenths > 0 to >= 0@src/iolink/controlport.cpp@s/^    if (tenths > 0)$/    if (tenths >= 0)/"
  "SlotReturn: the tap time taken after the box@src/app/daridoziri.cpp@s/clearAlarmBy(method, group, tapMs);/clearAlarmBy(method, group, MonotonicClock::ms());/"
  "SlotReturn: a cancelled box releases@src/app/daridoziri.cpp@s/if (method == 0 || (guarded \&\& CheckPassword() == 0))/if (guarded \&\& CheckPassword() == 0)/"
  "SlotReturn: a refused password releases@src/app/daridoziri.cpp@s/if (method == 0 || (guarded \&\& CheckPassword() == 0))/if (method == 0)/"
  "SlotReturn: the live page while an alarm stands@src/app/daridoziri.cpp@s/if (!m_cycle || !m_cycle->alarmStands())/if (true)/"
  "SlotReturn: || to \&\& in the alarm guard@src/app/daridoziri.cpp@s/if (pageState == kPageAlarm || (m_cycle \&\& m_cycle->isAlarmed()))/if (pageState == kPageAlarm \&\& (m_cycle \&\& m_cycle->isAlarmed()))/"
  "SlotReturn: the switch offered over the mould detection@src/app/daridoziri.cpp@s/const bool withMould = mould >= 0 \&\& group != mould;/const bool withMould = mould >= 0;/"
  "SlotReturn: the switch offered without a mould detection@src/app/daridoziri.cpp@s/const bool withMould = mould >= 0 \&\& group != mould;/const bool withMould = group != mould;/"
  "SlotReturn: an NG of the tap's own millisecond taken as after it@src/app/daridoziri.cpp@s/const qint64 tapMs = MonotonicClock::ms() + 1;/const qint64 tapMs = MonotonicClock::ms();/"
  "SlotReturn: no password for Don't Detect@src/app/daridoziri.cpp@s/(method == AlarmClearMethod::DontDetect \&\& gpWPara->pswNoDetect)/(false)/"
  "SlotReturn: no password for Add As Temp@src/app/daridoziri.cpp@s/(method == AlarmClearMethod::AddAsTemplate \&\& gpWPara->pswAddTemplate)/(false)/"
  "clearAlarmBy: cameras the release did not lift taught@src/app/daridoziri.cpp@/^void DaRiDoziri::clearAlarmBy/,/^}/ s/if (!it.value().contains(widget->camIndex) || widget->camIndex < 0/if (widget->camIndex < 0/"
  "clearAlarmBy: the detection checked last taught@src/app/daridoziri.cpp@/^void DaRiDoziri::clearAlarmBy/,/^}/ s/widget->IgnoreNgPixels(it.key());/widget->IgnoreNgPixels(group);/"
  "clearAlarmBy: the method not stamped@src/app/daridoziri.cpp@/^void DaRiDoziri::clearAlarmBy/,/^}/ s/^            alarmClearState\[widget->camIndex\]\[it.key()\] = method;/            ;/"
  "clearAlarmBy: Don't Detect teaches nothing@src/app/daridoziri.cpp@/^void DaRiDoziri::clearAlarmBy/,/^}/ s/widget->IgnoreNgPixels(it.key());/(void)0;/"
  "clearAlarmBy: Add As Temp teaches nothing@src/app/daridoziri.cpp@/^void DaRiDoziri::clearAlarmBy/,/^}/ s/reTrain(widget, it.key());/(void)0;/"
  "clearAlarmBy: the plain release without the tap time@src/app/daridoziri.cpp@s/m_cycle->clearAlarm(method, tapMs);/m_cycle->clearAlarm(method);/"
  "clearAlarmBy: Re-detect without the tap time@src/app/daridoziri.cpp@s/m_cycle->releaseAndRecheck(method, tapMs).isEmpty()/m_cycle->releaseAndRecheck(method).isEmpty()/"
  "clearAlarmBy: the switch without the tap time@src/app/daridoziri.cpp@s/m_cycle->releaseAndRecheck(method, tapMs, m_cycle->mouldDetection());/m_cycle->releaseAndRecheck(method, DetectionCycle::kNow, m_cycle->mouldDetection());/"
  "clearAlarmBy: Re-detect of nothing lifted checks nothing@src/app/daridoziri.cpp@/^void DaRiDoziri::clearAlarmBy/,/^}/ s/^            m_cycle->redetect(group);/            ;/"
  "clearAlarmBy: the switch checks the alarmed detection@src/app/daridoziri.cpp@s/m_cycle->releaseAndRecheck(method, tapMs, m_cycle->mouldDetection());/m_cycle->releaseAndRecheck(method, tapMs, group);/"
  "clearAlarmBy: the switch taken as Re-detect@src/app/daridoziri.cpp@s/} else if (method == AlarmClearMethod::SwitchToMould) {/} else if (false) {/"
  "clearAlarmBy: Re-detect taken as a plain release@src/app/daridoziri.cpp@s/^    if (method == AlarmClearMethod::Redetect) {/    if (false) {/"
  "enqueue: size >= kMaxQueued to >@src/app/savefialimagethread.cpp@s/int(g_queue.size()) >= SaveFialImageThread::kMaxQueued/int(g_queue.size()) > SaveFialImageThread::kMaxQueued/"
  "enqueue: bytes > kMaxQueuedBytes to >=@src/app/savefialimagethread.cpp@s/picture.bytes > SaveFialImageThread::kMaxQueuedBytes/picture.bytes >= SaveFialImageThread::kMaxQueuedBytes/"
  "enqueue: an NG picture dropped before an OK one@src/app/savefialimagethread.cpp@s/\[\](const WaitingPicture\& p) { return p.slot == 1; });/[](const WaitingPicture\& p) { return p.slot == 0; });/"
  "enqueue: the empty-queue guard dropped@src/app/savefialimagethread.cpp@s/return !g_queue.empty() \&\& (int(g_queue.size())/return (int(g_queue.size())/"
  "nextTakeable: a folder being written is taken@src/app/savefialimagethread.cpp@s/return !g_writing.contains(p.folderKey());/return g_writing.contains(p.folderKey());/"
  "take: the folder taken is not marked as being written@src/app/savefialimagethread.cpp@s/^    g_writing.insert(job.folderKey());/    ;/"
  "enqueue: the most queued <= to <@src/app/savefialimagethread.cpp@s/if (int(g_queue.size()) <= g_mostQueued)/if (int(g_queue.size()) < g_mostQueued)/"
)

mode=faults
if [[ "${1:-}" == faults || "${1:-}" == mutations ]]; then
  mode=$1
  shift
fi
sequences=${1:-10000}
root=$(cd "$(dirname "$0")/../../.." && pwd)
work=${MM_FAULT_WORKDIR:-}
changed=""
# The copy's changed file is put back after each entry, and on any exit.
restore() { if [[ -n "$changed" ]]; then cp "$root/$changed" "$src/$changed"; changed=""; fi; }
if [[ -z "$work" ]]; then
  work=$(mktemp -d /tmp/cyclefaults.XXXXXX)
  trap 'restore; rm -rf "$work"' EXIT
else
  trap 'restore' EXIT
fi
src="$work/src"
mkdir -p "$src"
# The copy follows the working tree (tracked files, build folders left out).
(cd "$root" && git ls-files -z --cached --others --exclude-standard | grep -zv '^build/' \
  | tar --null -T - -cf -) | tar -xf - -C "$src"
[[ -f "$work/build/build.ninja" ]] || cmake -S "$src" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DMM_BUILD_TESTS=ON -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >"$work/configure.log"

build() { cmake --build "$work/build" -j4 --target "$@" >"$work/build.log" 2>&1; }
failed=0

# Applies one entry's change to the copy and sets `line` to the changed line's number. Fails
# when the change does not apply to one line (a fault may add one more).
line=""
apply() { # file script
  cp "$root/$1" "$src/$1"
  changed=$1
  sed -i -e "$2" "$src/$1"
  local lines
  lines=$(diff "$root/$1" "$src/$1" | grep -c '^[<>]' || true)
  if [[ "$lines" -eq 0 || "$lines" -gt 3 ]]; then
    restore
    return 1
  fi
  line=$(diff "$root/$1" "$src/$1" | head -1 | sed -E 's/^([0-9]+).*/\1/' || true)
}

if [[ "$mode" == faults ]]; then
  run() { # label report
    build test_cyclerules || { echo "$1: build failed, see $work/build.log" >&2; return 1; }
    MM_CYCLE_SEQUENCES=$sequences MM_CYCLE_REPORT="$2" QT_QPA_PLATFORM=offscreen \
      "$work/build/bin/test_cyclerules" --gtest_filter='CycleRules.*RandomSequences*' >"$2.out" 2>&1 || true
    [[ -s "$2" ]] || { echo "$1: no report, see $2.out" >&2; return 1; }
  }
  # A report line: seed and the broken rules as a bit mask (bit 0 = rule 1).
  rules_of() { awk '{ m = $2; s = ""; for (r = 1; r <= 9; r++) { if (m % 2) s = s r; m = int(m / 2) } print $1, (s == "" ? "-" : s) }' "$1"; }

  run "unchanged cycle" "$work/base.txt"
  echo "unchanged cycle: $(awk '$2 != 0' "$work/base.txt" | wc -l) of $sequences sequences break a rule"
  for entry in "${FAULTS[@]}"; do
    IFS='@' read -r name file script <<<"$entry"
    [[ -z "${MM_FAULT_ONLY:-}" || "$name" =~ $MM_FAULT_ONLY ]] || continue
    if ! apply "$file" "$script"; then
      echo "$name: NO LONGER APPLIES to $file"
      failed=1
      continue
    fi
    report="$work/fault.txt"
    if run "$name" "$report"; then
      found=$(join <(rules_of "$work/base.txt" | sort) <(rules_of "$report" | sort) | awk '$2 != $3' | wc -l)
      byrule=$(join <(rules_of "$work/base.txt" | sort) <(rules_of "$report" | sort) \
        | awk '$2 != $3 { for (i = 1; i <= length($3); i++) { r = substr($3, i, 1); if (index($2, r) == 0) n[r]++ } }
               END { for (r in n) printf " rule %s: %d", r, n[r] }')
      echo "$name: found by $found of $sequences sequences (newly broken:${byrule:- none})"
    else
      failed=1
    fi
    restore
  done
  # Leave the copy's build matching the unchanged source.
  build test_cyclerules || true
  exit $failed
fi

# Mutations: the test programs of each file's folder, cheapest first.
readonly CYCLE_TESTS='Cycle*:*Cycle*:OperatorSafety*:MainWindow*:TwoCamera*'
catcher() { # file -> prints what caught the change, or nothing
  local file=$1 out="$work/test.out"
  local -a stages
  case "$file" in
    src/app/savefialimagethread.cpp) stages=("test_app SaveFail*:FullDisk*:MainWindow*") ;;
    src/app/daridoziri.cpp) stages=("test_app MainWindow*:TwoCamera*:OperatorSafety*") ;;
    src/iolink/*) stages=("test_iolink *" "test_cyclerules *" "test_app $CYCLE_TESTS") ;;
    src/app/alarmbook.*) stages=("test_app AlarmBook*" "test_cyclerules *" "test_app $CYCLE_TESTS") ;;
    *) stages=("test_cyclerules *" "test_app $CYCLE_TESTS") ;;
  esac
  for stage in "${stages[@]}"; do
    read -r program filter <<<"$stage"
    build "$program" || { echo "does not build"; return; }
    if ! MM_CYCLE_SEQUENCES=$sequences QT_QPA_PLATFORM=offscreen timeout 600 "$work/build/bin/$program" \
        --gtest_filter="$filter" >"$out" 2>&1; then
      local first
      first=$(grep -m1 '^\[  FAILED  \]' "$out" | sed 's/^\[  FAILED  \] //; s/ (.*//' || true)
      echo "$program ${first:-(ended without a result: hung or crashed)}"
      return
    fi
  done
}

echo "file:line | mutation | caught by"
for entry in "${MUTATIONS[@]}"; do
  IFS='@' read -r name file script <<<"$entry"
  [[ -z "${MM_FAULT_ONLY:-}" || "$name" =~ $MM_FAULT_ONLY ]] || continue
  if ! apply "$file" "$script"; then
    echo "$file:? | $name | NO LONGER APPLIES"
    failed=1
    continue
  fi
  caught=$(catcher "$file")
  restore
  [[ "$caught" == "does not build" ]] && failed=1
  echo "$file:$line | $name | ${caught:-NOT CAUGHT}"
done
# Leave the copy's build matching the unchanged source.
build test_cyclerules test_app test_iolink || true
exit $failed
