#pragma once

#include "alarmclearmethod.h"
#include "machinecycle.h"

#include <QList>
#include <QObject>
#include <QVector>

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
// Outputs: an NG raises, per NG ROI, the output its ROI names (N1..N4 =
// outputs 0..3; output 0 when none is named) and the alarm output 2 (unless
// the alarm sound is off). Output 0 lasts clampPulse, output 1 ejectorPulse,
// output 3 output4Pulse tenths of a second when that is above 0, otherwise
// it holds until the alarm is cleared: by the operator, by the safety door
// (when that clears alarms) or by an OK check of the same detection.
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
    int nextIntervalMs() const;

    // Remaining delay of each detection in seconds; negative when not counting.
    float countdown(int detection) const { return m_countdown[detection]; }
    bool isCounting(int detection) const;
    QTimer* resultTimer() const { return m_resultTimer; }
    QTimer* runTimer() const { return m_runTimer; }
    QTimer* delayTimer(int detection) const { return m_delayTimer[detection]; }
    // Outputs held by the NG alarm (bit n = output n).
    unsigned heldOutputs() const { return m_alarmOutputs; }
    bool isAlarmed() const { return m_alarmOutputs != 0; }
    // The clamp is interlocked ahead of the last detection's check.
    bool isPreCut() const { return m_preCut; }
    bool anyCameraLost() const;

    // Starts a detection's countdown as its trigger input does.
    void trigger(int detection);
    // The safety door's check: a cycle of its own.
    void triggerFromDoor(int detection);
    // Checks the alarmed cycle again (the alarm box's Re-detect): its result
    // and record change, no further cycle is counted.
    void redetect(int detection);
    // Serial of the open machine cycle, 0 when none is open.
    int openCycleSerial() const { return m_open.serial; }
    // The checks of one detection on the current frames, then CheckNG.
    void runDetection(int detection);
    // The decision of one detection step: results of every unit.
    void CheckNG(bool ng);
    // Lifts the NG alarm: its held outputs, the NG lamp, the alarm page.
    // method: how it was released (AlarmClearMethod).
    void clearAlarm(int method = AlarmClearMethod::DontDetect);
    // Stops every countdown and pending re-inspection (detection stopped).
    void cancelCountdowns();
    // Whether a detection is counting down or waiting for its recheck.
    bool isBusy(int detection) const;
    // Whether an NG of this detection is checked again before it alarms.
    bool isRechecked(int detection) const;

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
    void confineLibraryThreads();
    bool inputTriggers(int trigInput, int input) const;
    bool isTwoStage() const;
    // The detections of the current machine cycle, in order.
    QVector<int> activeDetections() const;
    QVector<int> triggeredBy(int input) const;
    // A latched edge counts once the input has been high for shakeEraseTime.
    bool takeSteadyTrigger(int input);
    void handleTrigger(int input);
    // Opens a new machine cycle; an open one that never got to its end is given up,
    // its NG kept for the next close.
    void openCycle(bool door, bool announce = true);
    void adoptDecision(int detection);
    // The detection is under way in the open cycle.
    void enlist(int detection);
    void startCheck(int detection);
    // The cycle that is to count a check of this detection (the open one when its own has gone).
    MachineCycle& cycleOf(int detection);
    // The detection's check is over; true when that ends its cycle.
    bool settle(int detection);
    // The open cycle has closed: its counters (once), production alarm, stage and door flags.
    void finishCycle();
    // No camera could be checked: nothing is decided, nothing released or counted.
    void settleWithoutResult(int detection);
    void updateRecheckActive();
    void preCut(int detection);
    int firstDetection() const;
    int lastDetection() const;
    // Switches the outputs of an NG; returns every output it switched on.
    unsigned driveNgOutputs(int detection);
    void releaseOutputs(unsigned outputs);
    void countStep(MachineCycle& cycle);
    void countCycle(const MachineCycle& cycle);
    void checkProductionAlarm();
    int pulseTenths(int output) const;
    void setLamp(int lamp, bool on);
    void timePass();
    void setCountdown(int detection, float seconds);
    // Runs the check of a detection on every connected unit, or on a recheck on those
    // the recheck looks at again; fills m_stepOk and m_stepChecked. False when no
    // camera could be checked.
    bool checkUnits(int detection, bool recheck);
    // After the decision: the checked units show their checked frames.
    void showChecks(int detection);

    MainWindowBase* m_win;
    ControlPort* m_io;
    QVector<DetectionUnit*> m_units;
    std::unique_ptr<QThreadPool> m_checkPool;
    QTimer* m_runTimer;
    QTimer* m_resultTimer;
    QTimer* m_recheckTimer[8] = {};
    // Results of a detection's check that waits for its recheck.
    QVector<bool> m_recheckOk[8];
    QVector<bool> m_recheckChecked[8];
    // Detections counting down, checking or waiting for a recheck, and the cycle each belongs to.
    unsigned m_busy = 0;
    int m_checkCycle[8] = {};
    MachineCycle m_open;
    // The last closed cycle (a Re-detect checks it again) and the NG of cycles given up.
    MachineCycle m_closed;
    MachineCycle m_carry;
    int m_serial = 0;
    bool m_noCameraLogged = false;
    QTimer* m_delayTimer[8] = {};
    float m_countdown[8];
    bool m_started = false;
    bool m_lost = false;
    int m_pass = 0;
    bool m_heartbeat = false;
    unsigned m_alarmOutputs = 0;
    unsigned m_detectionOutputs[8] = {};
    QVector<bool> m_stepOk;
    QVector<bool> m_stepChecked;
    qint64 m_lastStartMs = 0;
    bool m_edgePending[8] = {};
    bool m_preCut = false;
    // Cameras whose NG the running alarm holds; empty when no alarm runs.
    QList<int> m_alarmCameras;
    // Lateness of the polling timer, reported every kTimingReportPasses passes.
    qint64 m_lastPassMs = 0;
    int m_expectedMs = kRunMs;
    int m_timedPasses = 0;
    qint64 m_latenessSum = 0;
    qint64 m_latenessMax = 0;
};
