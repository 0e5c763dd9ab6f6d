#pragma once

#include "alarmbook.h"
#include "alarmclearmethod.h"
#include "machinecycle.h"
#include "standingalarm.h"

#include <QList>
#include <QObject>
#include <QVector>

#include <array>
#include <limits>
#include <memory>

class ControlPort;
class QThreadPool;
class DetectionUnit;
class MainWindowBase;
class QTimer;

// The detection cycle on the GUI thread's timers. Run polls every 100 ms
// (1000 ms while a camera is lost, 1 ms after an input change): it stamps the
// IO watchdog, takes each camera's newest frame and the latched trigger edges
// of the 8 trigger inputs. A trigger starts its detection's delay countdown
// (100 ms ticks); at zero every camera checks the detection and CheckNG
// decides: counters, records, NG images and the outputs and lamps.
//
// Each check belongs to one machine cycle (MachineCycle). A cycle opens at
// the trigger of its first detection, of a detection that already checked in
// the open cycle, or of the safety door; it closes once its last detection has
// checked and none of its detections is still counting down, checking or
// waiting for a recheck, whatever order they check in. Then its cycle counters
// rise and its record is decided. An NG of a cycle that is no longer open
// counts into the next close. A check that reached no camera is no result.
//
// The machine's safety, kept after every event:
// - An NG raises, per NG ROI, the output its ROI names (N1..N4 = outputs
//   0..3; output 0 when none is named) and the alarm output 2 (unless the
//   alarm sound is off). Output 0 lasts clampPulse, output 1 ejectorPulse,
//   output 3 output4Pulse tenths of a second when that is above 0, otherwise
//   it holds until the alarm is cleared: by the operator, by the safety door
//   (when that clears alarms), by the clearing input, or by a later check of
//   the same detection in which every camera that found the NG was checked and
//   OK. A camera that could not be checked keeps its NG; its return releases
//   nothing.
// - A release lifts only the NGs that stood when its signal came (the IO
//   thread's time of the input's rise, the operator's tap); an NG decided
//   after that holds until a later release or OK check. A release with
//   Re-detect checks again each detection whose NG it lifts and keeps their
//   outputs on until that check decides: released on OK, kept on NG.
//   In the modes of product (even) and mould (odd) detections the settings
//   add or take outputs (ngOutputsFor); a product NG set not to stop the
//   machine only sounds the alarm.
// - An OK releases nothing while another detection of its cycle holds an NG or
//   waits for its recheck: what it would release is released at the close.
// - The pre-cut clamp holds until the cycle closes: released when it closes
//   OK, kept by the alarm when it closes NG.
// - Every trigger edge that lasted the shake-erase time is a check. One that
//   cannot be checked (its detection still counting down or checking) is
//   logged as "not inspected", counted as an NG step of every camera in the
//   cycle still under way (MouldCount), and stops the machine as an NG does;
//   the next mould's trigger ends a recheck's wait by confirming its NG. A
//   door check or Re-detect that comes while its detection counts down is
//   answered by that check, its countdown moved to end no earlier than the
//   signal's own check would; one that comes while it checks gets its own
//   check after it. A check takes frames no older than its signal.
// - A pause the program makes (learning) holds the countdowns, rechecks and
//   latched signals until it ends; the operator's stop holds and counts a mould
//   still counting down as not inspected.
// - The standing alarm is kept on disk at each change and raised again at start.
class DetectionCycle : public QObject
{
    Q_OBJECT
public:
    static constexpr int kRunMs = 100;
    static constexpr int kLostRunMs = 1000;
    static constexpr int kIoChangeRunMs = 1;
    static constexpr int kTickMs = 100;
    static constexpr int kResultShowMs = 2000;
    static constexpr int kTriggerInputs = 8;
    static constexpr int kHeartbeatPasses = 5;
    static constexpr int kSafetyDoorInput = 1;
    // Outputs an alarm may hold: 0..3 of the NG ROIs and 4 ("O 5").
    static constexpr int kAlarmOutputCount = 5;
    static constexpr int kAnyOfInputs2And3 = 255;
    static constexpr int kTimingReportPasses = 200;
    // A release's signal time meaning "now" (monotonic times may be below 0 in a test's clock).
    static constexpr qint64 kNow = std::numeric_limits<qint64>::min();
    // The detections whose NG a release lifted, each with the cameras (indexes) it stood on.
    using Lifted = QMap<int, QList<int>>;

    DetectionCycle(MainWindowBase* win, ControlPort* io, QObject* parent = nullptr);
    ~DetectionCycle() override;

    void setUnits(const QVector<DetectionUnit*>& units);
    // Checks the cameras of a detection one task per camera on a pool of this
    // many threads (the GUI thread takes one); 1 checks them one after another.
    void setCheckThreads(int threads);
    int checkThreads() const;
    const QVector<DetectionUnit*>& units() const { return m_units; }

    void start();
    void stop();
    bool isStarted() const;
    // A pause the program makes on its own (learning): countdowns and rechecks wait,
    // signals stay latched; all of them go on when it ends.
    void setPaused(bool paused);
    int nextIntervalMs() const;

    // Remaining delay of each detection in seconds; negative when not counting.
    float countdown(int detection) const { return m_countdown[detection]; }
    bool isCounting(int detection) const;
    QTimer* resultTimer() const { return m_resultTimer; }
    QTimer* runTimer() const { return m_runTimer; }
    QTimer* delayTimer(int detection) const { return m_delayTimer[detection]; }
    // Outputs held by the NG alarm (bit n = output n).
    unsigned heldOutputs() const { return m_book.held(); }
    bool isAlarmed() const { return heldOutputs() != 0; }
    // Who holds which output, for those who check the cycle's outputs against it.
    const AlarmBook& alarmBook() const { return m_book; }
    // An NG stands that no release has lifted yet (outputs kept for a Re-detect's decision aside).
    bool alarmStands() const;
    // The clamp is interlocked ahead of the last detection's check.
    bool isPreCut() const { return m_preCut; }
    bool anyCameraLost() const;

    // Starts a detection's countdown as its trigger input does; signalMs: when its signal
    // rose (monotonic ms). Its check takes frames after that.
    void trigger(int detection, qint64 signalMs = kNow);
    // The safety door's check: a cycle of its own, of doorChecks(); signalMs as for trigger.
    void triggerFromDoor(qint64 signalMs = kNow);
    // The mould detection (1; in the two-stage modes 1 or 3 by the stage in use), -1 when it
    // is not in use (trigger mode 3 has none).
    int mouldDetection() const;
    // What the safety door's check looks at: the mould detection; in trigger mode 3 (or
    // without a mould detection in use) every detection in use that the door does not trigger.
    QVector<int> doorChecks() const;
    // Checks the alarmed cycle again (the alarm box's Re-detect): its result
    // and record change, no further cycle is counted.
    void redetect(int detection);
    // Serial of the open machine cycle, 0 when none is open.
    int openCycleSerial() const { return m_open.serial; }
    // The checks of one detection on the current frames, then CheckNG.
    void runDetection(int detection);
    // The decision of one detection step: results of every unit.
    void CheckNG(bool ng);
    // Lifts the NG alarms decided before signalMs (monotonic ms; one of the signal's own
    // millisecond stands): their held outputs, and once none stands the NG lamp and the
    // alarm page. method: how it was released (AlarmClearMethod). Returns what it lifted.
    Lifted clearAlarm(int method = AlarmClearMethod::DontDetect, qint64 signalMs = kNow);
    // What a release signalled at signalMs would lift.
    Lifted liftable(qint64 signalMs) const;
    // A release with Re-detect: lifts as clearAlarm does and checks again each detection
    // whose NG it lifted (or `detection` only, which then decides all it lifted). The
    // lifted outputs stay on until that check decides; a check that does not start leaves
    // them its alarm. Returns the detections it lifted (and *lifted what clearAlarm returns).
    QVector<int> releaseAndRecheck(int method, qint64 signalMs = kNow, int detection = -1, Lifted* lifted = nullptr);
    // Stops every countdown and pending re-inspection (detection stopped).
    void cancelCountdowns();
    // The operator's stop: a mould still counting down is held and counted as not
    // inspected and closes its cycle; then every countdown stops.
    void stopDetection();
    // Whether a detection is counting down, checking or waiting for its recheck.
    bool isBusy(int detection) const;
    // Triggers, door checks and Re-detects turned away since the start ("not inspected").
    int uninspected() const { return m_uninspected; }
    // Whether an NG of this detection is checked again before it alarms.
    bool isRechecked(int detection) const;
    // Where each change of the standing alarm is kept (none: nothing is kept).
    void setStandingAlarm(StandingAlarm* store);
    // The alarm that stands now, as it is kept.
    StandingAlarm::State standingAlarm() const;
    // Raises a kept alarm again (at start): its outputs, lamp and page, until a
    // release or an OK check of its cameras lifts it.
    void raiseStandingAlarm(const StandingAlarm::State& state);

signals:
    // The first detection of a machine cycle starts / the last one is decided.
    void sigCycleStarted();
    void sigCycleFinished(bool ng);
    void sigCameraLostChanged(bool lost);
    // An NG alarm starts at this position of the machine cycle (0 = its first detection).
    void sigAlarmStarted(int detectIndex);
    // The alarm is released: the cameras whose NG it held and how (AlarmClearMethod).
    void sigAlarmReleased(QList<int> cameras, int method);

public slots:
    void Run();
    void SlotIOChange();
    // One 100 ms tick of a detection's delay countdown.
    void TimerUp(int detection);

private:
    using Phase = DetectionStep::Phase;

    void confineLibraryThreads();
    bool inputTriggers(int trigInput, int input) const;
    bool isTwoStage() const;
    bool validDetection(int detection) const { return detection >= 0 && detection < kMaxDetections; }
    // The detections of the current machine cycle, in order.
    QVector<int> activeDetections() const;
    QVector<int> triggeredBy(int input) const;
    bool listensTo(int detection, int input) const;
    // roseMs: when the IO thread saw the signal rise.
    void handleTrigger(int input, qint64 roseMs);
    // A signal of the shielded input let by unused ("Shield pin").
    bool shielded(int input);
    bool isClearingInput(int input) const;
    // The clearing input's release, reInspectionDelay after its signal.
    void clearByInput();
    // Lifts the alarms that stood at cutoff; their outputs go to handTo's next check
    // (AlarmBook::kEachOwnCheck: each lifted detection's own) or are released (AlarmBook::kReleaseNow).
    Lifted liftAlarms(qint64 cutoff, int handTo, unsigned spare = 0);
    Lifted camerasOf(const std::vector<AlarmBook::Lift>& lifts) const;
    // The alarm of the detection's NG on these cameras (unit bits): lamp, page, alarm cameras.
    void raiseAlarm(int detection, unsigned cameras);
    // The alarm's lamp, page and report once a release has lifted what it could.
    void announceRelease(int method);
    // In the modes of product and mould detections (even and odd indexes).
    bool isProductDetection(int detection) const;
    bool isMouldDetection(int detection) const;
    // A product NG stood at this time.
    bool holdsProductNg(qint64 atMs) const;
    // The outputs an NG of the detection raises, given those its NG ROIs name.
    unsigned ngOutputsFor(int detection, unsigned roiOutputs) const;
    // Whether this trigger of the detection is the next mould (a new machine cycle).
    bool startsNextMould(int detection) const;
    // The guard of every way a check starts: a detection waiting for its recheck has
    // its NG confirmed now and may start; one counting down or checking turns the
    // request away as "not inspected". True when the check may start.
    bool admit(int detection, const char* what, qint64 signalMs);
    // A door check or Re-detect while the detection counts down or checks: the check under
    // way answers it when its frames come no earlier than its own check's would (the
    // countdown is moved to that time if need be); a check that has its frames is followed
    // by the signal's own check.
    void answerUnderWay(int detection, const char* what, qint64 signalMs);
    // cause: what ended the wait, as the log line tells it.
    void confirmRecheckNow(int detection, const QString& cause);
    void refuseUninspected(int detection, const char* what, qint64 signalMs);
    // Makes the detection's countdown end no earlier than a signal's own check would (its
    // delay from now); false when it already does.
    bool putOffCountdown(int detection, qint64 signalMs);
    // An uninspected check is an NG of every camera in every count of its cycle.
    void countUninspected(int detection, bool closes);
    // Stops the machine for a mould nobody looked at, and says so.
    void holdUninspected(int detection, const QString& what, const QString& why);
    // Opens a new machine cycle; an open one that never got to its end is given up,
    // its NG kept for the next close.
    void openCycle(bool door, bool announce = true);
    void adoptDecision(int detection);
    // The detection is under way in the open cycle.
    void enlist(int detection, Phase phase);
    void startCheck(int detection, qint64 signalMs);
    // Each camera's newest frame, for the checks that follow.
    void takeFrames();
    bool anyUnderWay(int serial) const;
    bool anyAwaitingRecheck(int serial) const;
    // The cycle that is to count a check of this detection (the open one when its own has gone).
    MachineCycle& cycleOf(int detection);
    // The detection's check is over; true when that ends its cycle.
    bool settle(int detection);
    // The open cycle has closed: its counters (once), production alarm, stage, door flag,
    // the pre-cut and the releases that waited for the close.
    void finishCycle();
    // The stage groups alternate once per machine cycle, closed or given up.
    void switchStage();
    // No camera could be checked: nothing is released or counted; the mould is uninspected.
    void settleWithoutResult(int detection);
    void updateRecheckActive();
    void preCut(int detection);
    void endPreCut(bool ng);
    int firstDetection() const;
    int lastDetection() const;
    // The step's verdicts: cameras it could not check keep the NG they hold. True when NG.
    bool holdUncheckedNg(int detection);
    // Switches the outputs of an NG; returns every output it switched on.
    unsigned driveNgOutputs(int detection);
    // Of the wanted outputs, those the alarm holds (the others pulse and end on their own).
    unsigned holdingOutputs(unsigned wanted) const;
    // Pulses the wanted outputs that pulse and switches on what the book holds.
    void raiseOutputs(unsigned wanted, const AlarmBook::Change& change);
    // The OK of a detection: releases what it held, at once or at its cycle's close.
    void releaseDetection(int detection);
    // Writes the alarm after the event that changed it; writeStandingAlarm at once.
    void keepStandingAlarm();
    void writeStandingAlarm();
    void releaseOutputs(unsigned outputs);
    QVector<int> cameraIndexes() const;
    void checkProductionAlarm();
    int pulseTenths(int output) const;
    void setLamp(int lamp, bool on);
    void showNgResult();
    void showOkResult();
    void savePictures(int detection);
    void timePass();
    void setCountdown(int detection, float seconds);
    // Runs the check of a detection on every connected unit, or on a recheck on those
    // the recheck looks at again; fills m_stepOk and m_stepChecked. False when no
    // camera could be checked.
    bool checkUnits(int detection, bool recheck);
    // After the decision: the checked units show their checked frames.
    void showChecks(int detection);
    unsigned allUnitsMask() const;

    MainWindowBase* m_win;
    ControlPort* m_io;
    QVector<DetectionUnit*> m_units;
    std::unique_ptr<QThreadPool> m_checkPool;
    QTimer* m_runTimer;
    QTimer* m_resultTimer;
    QTimer* m_clearTimer;
    int m_shieldedSignals = 0;
    std::array<QTimer*, kMaxDetections> m_recheckTimer = {};
    // When the clearing input's pending release was signalled.
    qint64 m_clearSignalMs = 0;
    std::array<DetectionStep, kMaxDetections> m_steps;
    MachineCycle m_open;
    // The last closed cycle (a Re-detect checks it again) and the NG of cycles given up.
    MachineCycle m_closed;
    MachineCycle m_carry;
    int m_serial = 0;
    int m_uninspected = 0;
    AlarmBook m_book;
    std::array<QTimer*, kMaxDetections> m_delayTimer = {};
    std::array<float, kMaxDetections> m_countdown = {};
    bool m_started = false;
    bool m_paused = false;
    // Time left of each recheck's wait while paused.
    std::array<int, kMaxDetections> m_recheckLeftMs = {};
    bool m_lost = false;
    int m_pass = 0;
    bool m_heartbeat = false;
    QVector<bool> m_stepOk;
    QVector<bool> m_stepChecked;
    qint64 m_lastStartMs = 0;
    // When the cameras' frames were last taken (monotonic ms).
    qint64 m_framesAt = 0;
    bool m_preCut = false;
    // In the two-stage modes the stage (flag value) of the mould presented last: its mould is the open one.
    int m_checkedStage = -1;
    // Cameras whose NG the running alarm holds; empty when no alarm runs.
    QList<int> m_alarmCameras;
    StandingAlarm* m_standing = nullptr;
    bool m_keepQueued = false;
    // Lateness of the polling timer, reported every kTimingReportPasses passes.
    qint64 m_lastPassMs = 0;
    int m_expectedMs = kRunMs;
    int m_timedPasses = 0;
    qint64 m_latenessSum = 0;
    qint64 m_latenessMax = 0;
};
