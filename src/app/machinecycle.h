#pragma once

#include "globals.h"

#include <QVector>

#include <array>

// One machine cycle as the detection cycle keeps it: which of its detections
// are over and what their checks found. Every check, NG, count and record
// belongs to exactly one such cycle. Which detections are still under way is
// kept by the detections themselves (DetectionStep::cycle).
struct MachineCycle
{
    int serial = 0;           // 0: no cycle
    unsigned settled = 0;     // detections whose check of this cycle is over
    unsigned carried = 0;     // detections whose check under way it took over from a cycle given up
    bool door = false;        // started by the safety door
    bool single = false;      // checks one detection only (the door's, a Re-detect's)
    bool counted = false;     // its cycle counters were raised (a Re-detect changes only its result)
    bool ng = false;
    std::array<bool, kMaxCameras> cameraNg = {};
    // Cameras counted in this cycle: checked, or holding an NG they could not be checked for.
    std::array<bool, kMaxCameras> cameraChecked = {};

    static unsigned bit(int detection) { return 1u << detection; }
    bool isOpen() const { return serial != 0; }
    bool hadResult() const
    {
        for (bool checked : cameraChecked)
            if (checked)
                return true;
        return ng;
    }
    // What a check found, kept by the cycle that is to count it.
    void note(int camera, bool ok)
    {
        cameraChecked[camera] = true;
        if (!ok) {
            cameraNg[camera] = true;
            ng = true;
        }
    }
    // The findings of a cycle that ended without being counted join this one.
    void absorb(const MachineCycle& other)
    {
        ng = ng || other.ng;
        for (int c = 0; c < kMaxCameras; ++c) {
            cameraNg[c] = cameraNg[c] || other.cameraNg[c];
            cameraChecked[c] = cameraChecked[c] || other.cameraChecked[c];
        }
    }
    void forgetFindings()
    {
        ng = false;
        cameraNg.fill(false);
        cameraChecked.fill(false);
    }
    // Over once the last detection has checked (or its only one) and none of its
    // detections is still under way.
    bool isOver(int lastDetection, bool anyUnderWay) const
    {
        return !anyUnderWay && (single || (settled & bit(lastDetection)));
    }
};

// One detection as the cycle runs it: where its check stands and the machine
// cycle that check belongs to (the NG it holds is kept by the AlarmBook).
struct DetectionStep
{
    enum class Phase { Idle, CountingDown, Checking, AwaitingRecheck };

    Phase phase = Phase::Idle;
    int cycle = 0;             // serial of the machine cycle its check belongs to
    // Monotonic ms of the latest signal its check answers: its frames are taken after it.
    qint64 signalMs = 0;
    // The check that waits for its recheck.
    QVector<bool> recheckOk;
    QVector<bool> recheckChecked;

    bool isBusy() const { return phase != Phase::Idle; }
};
