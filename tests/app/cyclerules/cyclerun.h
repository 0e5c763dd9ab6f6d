#pragma once

#include "cyclerules.h"

#include <QString>

#include <array>
#include <vector>

// One event of a random sequence, at a virtual time from the sequence's start.
struct CycleEvent
{
    // Pause and Resume: the program's own (an editor, the learning); Stop and Start: the operator's.
    enum Kind { Pulse, Redetect, Release, CameraLost, CameraBack, Verdict, Stall, Stop, Start, Pause, Resume, Restart };
    Kind kind;
    qint64 atMs;
    int arg = 0;           // input, detection or camera
    int lengthMs = 0;      // pulse or stall length; Release: how long the box stays open
    unsigned ngMask = 0;   // Verdict: detections in which the camera sees a part

    QString describe() const;
};

struct CycleSequence
{
    quint64 seed = 0;
    CycleSetup setup;
    std::array<unsigned, 8> initialNg{};  // per camera: detections in which it sees a part
    std::vector<CycleEvent> events;

    QString describe() const;
};

struct CycleOutcome
{
    unsigned failedRules = 0;
    std::vector<RuleFailure> failures;
    QString describe() const;
};

CycleSequence randomSequence(quint64 seed);
// Drives a fresh DetectionCycle (real timers on the virtual clock of this
// thread's VirtualTimeDispatcher) through the sequence, then through one
// closing mould per trigger input and the settle time, checking the rules
// after every event and timer delivery.
CycleOutcome runSequence(const CycleSequence& sequence);
// Removes events while the sequence still breaks the rule.
CycleSequence shrinkSequence(const CycleSequence& sequence, CycleRule rule);
