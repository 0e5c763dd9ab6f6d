#pragma once

#include "globals.h"

// One machine cycle as the detection cycle keeps it: which of its detections
// are still under way, which are over, and what their checks found. Every
// check, NG, count and record belongs to exactly one such cycle.
struct MachineCycle
{
    int serial = 0;           // 0: no cycle
    unsigned pending = 0;     // detections counting down, checking or waiting for a recheck
    unsigned settled = 0;     // detections whose check of this cycle is over
    bool door = false;        // started by the safety door: it checks one detection only
    bool counted = false;     // its cycle counters were raised (a Re-detect changes only its result)
    bool ng = false;
    bool cameraNg[kMaxCameras] = {};
    bool cameraChecked[kMaxCameras] = {};

    static unsigned bit(int detection) { return 1u << detection; }
    bool isOpen() const { return serial != 0; }
    bool hadResult() const
    {
        for (bool checked : cameraChecked)
            if (checked)
                return true;
        return false;
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
        for (int c = 0; c < kMaxCameras; ++c)
            cameraNg[c] = cameraChecked[c] = false;
    }
    // Over once the last detection has checked (or the door's only one) and nothing else is under way.
    bool isOver(int lastDetection) const { return pending == 0 && (door || (settled & bit(lastDetection))); }
};
