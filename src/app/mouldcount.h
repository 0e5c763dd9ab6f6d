#pragma once

#include "machinecycle.h"

#include <QList>
#include <QStringList>
#include <QVector>

// What one step of a mould counts, as every store takes it.
struct StepCount
{
    QList<bool> cameraOK;    // per unit, as the statistics take a step
    QStringList ngCameras;   // numbers (from 1) of the NG cameras, as the NG record names them
    bool ng = false;
};

// The one rule of what a mould counts. Every store takes its figures from here: the
// counters of count.ini (which Modbus and the product-info route read), the statistics'
// steps, the NG record line and the cycle's record (through MachineCycle).
//
// A camera counts in a step when it was checked, or when it holds an NG it could not be
// checked for: a lost camera's held NG is its NG step, and so its NG cycle. A camera
// neither checked nor holding an NG counts nothing (the statistics, which take every
// camera, count it OK). A trigger its detection could not take (still counting down or
// checking) is an NG step of every camera in the cycle still under way, which makes that
// cycle NG; it is no cycle of its own. A Re-detect of a counted cycle checks the same mould
// again: it changes the cycle's result and alarm, and no store counts a step or a cycle for it.
namespace MouldCount {

// cameras: each unit's camera index; checked, ok: the step's verdict per unit.
StepCount step(const QVector<int>& cameras, const QVector<bool>& checked, const QVector<bool>& ok,
               MachineCycle& cycle);
// A trigger nobody could check: an NG step of every camera.
StepCount refused(const QVector<int>& cameras, MachineCycle& cycle);
// A cycle at its close: its cycle counters.
void close(const MachineCycle& cycle);

} // namespace MouldCount
