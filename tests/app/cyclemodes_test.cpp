// The detection cycle in each mode a setter can choose, driven by board
// inputs, the operator's and the program's own acts on the real timers: what
// the machine sees (clamp and alarm interlocks), what every store counts, which
// cycle records are decided and which NG pictures kept.
#include "shellfixture.h"

#include "alarmclearmethod.h"
#include "clock.h"
#include "controlport.h"
#include "detectioncycle.h"
#include "globals.h"
#include "qttesthelpers.h"
#include "statecodes.h"
#include "wizardpara.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <functional>
#include <limits>
#include <ostream>
#include <utility>
#include <vector>

namespace {
// LoseCameras: every camera lost, only camera 2 with arg 2.
// Release: the alarm released with Re-detect; Clear: released without a check; Stop: the
// operator's stop; Pause: the program's own pause (arg 1) or its end (arg 0); Delay: the mould
// detection's delay set to arg tenths; Wait: arg ms more; Part: frames taken from arg ms on show
// a part in the step's detections; CheckRedetect: the next check is asked for a Re-detect while
// it checks; Expect: the step's expectation, at that moment.
enum class Act {
    Mould, Door, Redetect, LoseCameras, FindCameras, Release, Clear, Stop, Pause, Delay, Wait, Part,
    CheckRedetect, Expect
};

struct Probe
{
    DetectionCycle* cycle;
    FakeUnit* cam;      // camera 2
    CycleWindow* win;
    int outputs;        // the output word now
    const int* statsCameraNg;   // NG cycles of cameras 1 and 2 as the statistics count them
};

// Camera 1, that sees no part, counted as camera 2 in every store.
void countedAlike(const Probe& p)
{
    EXPECT_EQ(gAllNum[0], gAllNum[1]);
    EXPECT_EQ(gFailNum[0], gFailNum[1]);
    EXPECT_EQ(gAllCycleNum[0], gAllCycleNum[1]);
    EXPECT_EQ(gFailCycleNum[0], gFailCycleNum[1]);
    EXPECT_EQ(p.statsCameraNg[0], p.statsCameraNg[1]);
}

// At `tenths` after the start: an act, and from then on the detections (bits)
// in which camera 2 sees a part (Part, Wait and Expect leave them).
struct Step
{
    int tenths;
    Act act;
    int arg;
    unsigned ngDetections;
    std::function<void(const Probe&)> expect = {};
};

struct Outcome
{
    int cyclesStarted;  // records opened (new ids)
    int records;        // cycle records decided
    int ngRecords;
    int ngSteps;        // gSyncNGNum
    int ngCycles;       // gSyncNGCycleNum and camera 2's list_failcyclenum
    int cycles;         // camera 2's list_allcyclenum
    int clampEdges;     // the clamp interlock switched on
    int ngPictures;     // NG pictures of camera 2 marked for the writer
    bool clampAtEnd;
    int steps;          // camera 2's list_allnum
    int statsCycles;    // cycles and NG cycles as the statistics count them from the records sent
    int statsNgCycles;
    int ngLines;        // NG lines of the run records
    int checks;         // checks camera 2 made
    int uninspected;
    int alarms;         // alarms started (page, lamp, alarm cameras)
    int alarmOffs;      // the alarm output switched off (every switch, however short)

    auto tie() const
    {
        return std::tie(cyclesStarted, records, ngRecords, ngSteps, ngCycles, cycles, clampEdges, ngPictures,
                        clampAtEnd, steps, statsCycles, statsNgCycles, ngLines, checks, uninspected, alarms, alarmOffs);
    }
    bool operator==(const Outcome& o) const { return tie() == o.tie(); }
};

void PrintTo(const Outcome& o, std::ostream* os)
{
    *os << "{started " << o.cyclesStarted << ", records " << o.records << ", NG records " << o.ngRecords
        << ", NG steps " << o.ngSteps << ", NG cycles " << o.ngCycles << ", cycles " << o.cycles << ", clamp edges "
        << o.clampEdges << ", NG pictures " << o.ngPictures << ", clamp at end " << o.clampAtEnd << ", steps "
        << o.steps << ", statistics cycles " << o.statsCycles << " (NG " << o.statsNgCycles << "), NG lines "
        << o.ngLines << ", checks " << o.checks << ", uninspected " << o.uninspected << ", alarms " << o.alarms
        << ", alarm offs " << o.alarmOffs << "}";
}

struct Mode
{
    const char* name;
    std::function<void(WizardPara&)> setup;
    std::vector<Step> steps;
    Outcome expected;
    // Log lines that must come, each so many times.
    std::vector<std::pair<const char*, int>> lines = {};
    QVector<int> roiOutputs = {};   // outputs of camera 2's NG ROIs
    bool noCamera = false;
};

void PrintTo(const Mode& mode, std::ostream* os)
{
    *os << mode.name;
}

constexpr unsigned D1 = 1u << 1;
constexpr int kStop = 0x5;   // the clamp and the alarm

// Multi-detection with three detections on input 0 and the given delays (tenths).
std::function<void(WizardPara&)> multi(std::vector<int> delays, std::vector<int> inputs = {})
{
    return [delays, inputs](WizardPara& p) { setMultiDetection(p, delays, inputs); };
}

const std::vector<Mode>& modes()
{
    static const std::vector<Mode> table = {
        {"MouldOnly", [](WizardPara&) {},
         {{0, Act::Mould, 0, D1}, {3, Act::Mould, 0, 0}, {6, Act::Mould, 0, D1}, {9, Act::Mould, 0, 0}},
         {4, 4, 2, 2, 2, 4, 2, 2, false, 4, 4, 2, 2, 4, 0, 2, 2}},
        {"ProductAndMould", [](WizardPara& p) { p.detectEnable[0] = 1; p.trigInDelay[1] = 1; },
         {{0, Act::Mould, 0, D1}, {4, Act::Mould, 0, 1u}, {8, Act::Mould, 0, 0}},
         {3, 3, 2, 2, 2, 3, 1, 2, false, 6, 3, 2, 2, 6, 0, 1, 1}},
        {"MouldRecheckedTwice", [](WizardPara& p) { p.recheckTimes = 2; p.recheckDelay = 1; },
         {{0, Act::Mould, 0, D1}, {6, Act::Mould, 0, 0}},
         {2, 2, 1, 1, 1, 2, 1, 1, false, 2, 2, 1, 1, 4, 0, 1, 1}},
        {"MultiInOrder", multi({1, 2, 3}),
         {{0, Act::Mould, 0, D1}, {5, Act::Mould, 0, 0}, {10, Act::Mould, 0, D1}},
         {3, 3, 2, 2, 2, 3, 2, 2, true, 9, 3, 2, 2, 9, 0, 2, 1}},
        // Detection 2 waits for its recheck while detection 3 checks.
        {"MultiInOrderWithRecheck", [](WizardPara& p) { multi({1, 2, 3})(p); p.recheckTimes = 2; p.recheckDelay = 1; },
         {{0, Act::Mould, 0, D1}, {7, Act::Mould, 0, 0}, {14, Act::Mould, 0, D1}},
         {3, 3, 2, 2, 2, 3, 2, 2, true, 9, 3, 2, 2, 13, 0, 2, 1}},
        // Detections 1 and 2 wait, detection 3 checks at the trigger.
        {"MultiOutOfOrder", multi({2, 2, 0}),
         {{0, Act::Mould, 0, D1}, {5, Act::Mould, 0, D1}, {10, Act::Mould, 0, D1}},
         {3, 3, 3, 3, 3, 3, 1, 3, true, 9, 3, 3, 3, 9, 0, 1, 0}},
        {"MultiOutOfOrderWithRecheck", [](WizardPara& p) { multi({2, 2, 0})(p); p.recheckTimes = 1; p.recheckDelay = 1; },
         {{0, Act::Mould, 0, D1}, {6, Act::Mould, 0, 0}},
         {2, 2, 1, 1, 1, 2, 1, 1, false, 6, 2, 1, 1, 7, 0, 1, 1}},
        // The first detection's input stops coming after the first mould.
        {"TwoInputsFirstStops", multi({0, 0}, {0, 2}),
         {{0, Act::Mould, 0, D1}, {1, Act::Mould, 2, D1}, {4, Act::Mould, 2, 0}, {7, Act::Mould, 2, D1},
          {10, Act::Mould, 2, 0}},
         {4, 4, 2, 2, 2, 4, 2, 2, false, 5, 4, 2, 2, 5, 0, 2, 2}},
        // Each mould: the product and mould detections at input 0, the mould again when the door opens.
        {"SafetyDoorStartsItsOwnCycle",
         [](WizardPara& p) { p.detectEnable[0] = 1; p.safetyDoorTrigger = 1; },
         {{0, Act::Mould, 0, 0}, {2, Act::Door, 0, D1}, {4, Act::Mould, 0, 0}, {6, Act::Door, 0, 0},
          {8, Act::Mould, 0, 0}, {10, Act::Door, 0, D1}},
         {6, 6, 2, 2, 2, 6, 2, 2, true, 9, 6, 2, 2, 9, 0, 2, 1}},
        // The alarmed cycle checked again: its record changes, no cycle is added.
        {"RedetectChecksTheAlarmedCycle", [](WizardPara&) {},
         {{0, Act::Mould, 0, D1}, {3, Act::Redetect, 1, 0}, {6, Act::Mould, 0, 0}},
         {2, 3, 1, 1, 1, 2, 1, 1, false, 2, 2, 1, 1, 3, 0, 1, 1}},
        // With every camera lost the standing alarm stays and nothing is counted or recorded.
        {"LostCamerasDecideNothing", [](WizardPara&) {},
         {{0, Act::Mould, 0, D1}, {2, Act::LoseCameras, 0, 0}, {3, Act::Mould, 0, 0}, {5, Act::Mould, 0, 0}},
         {3, 1, 1, 1, 1, 1, 1, 1, true, 1, 1, 1, 3, 1, 2, 1, 0}},
        // Back again, a real OK check releases the alarm.
        {"CamerasBackDecideAgain", [](WizardPara&) {},
         {{0, Act::Mould, 0, D1}, {2, Act::LoseCameras, 0, 0}, {3, Act::Mould, 0, 0}, {5, Act::FindCameras, 0, 0},
          {6, Act::Mould, 0, 0}},
         {3, 2, 1, 1, 1, 2, 1, 1, false, 2, 2, 1, 2, 2, 1, 1, 1}},
        {"PreCutInterlocksEveryMould", [](WizardPara& p) { p.trigInDelay[1] = 3; p.preCutTime = 2; },
         {{0, Act::Mould, 0, 0}, {6, Act::Mould, 0, D1}},
         {2, 2, 1, 1, 1, 2, 2, 1, true, 2, 2, 1, 1, 2, 0, 1, 0}},

        // The operator's Re-detect while its detection checks (frames taken) gets a check of its own.
        {"ReDetectWhileItsDetectionChecks", [](WizardPara&) {},
         {{0, Act::CheckRedetect, 0, 0}, {0, Act::Mould, 0, 0}},
         {1, 2, 0, 0, 0, 1, 0, 0, false, 1, 1, 0, 0, 2, 0, 0, 0},
         {{"detection 2: Re-detect waits for the check under way", 1}}},
        // A door late in a countdown: the check under way answers it only at its own delay after it.
        {"DoorLateInACountdownMovesItsCheck",
         [](WizardPara& p) { p.safetyDoorTrigger = 1; p.safetyDoorClearsAlarm = 1; p.trigInDelay[1] = 5; },
         {{0, Act::Mould, 0, 0}, {3, Act::Door, 0, 0}, {3, Act::Part, 480, D1}},
         {1, 1, 1, 1, 1, 1, 1, 1, true, 1, 1, 1, 1, 1, 0, 1, 0},
         {{"detection 2: safety door check answered by the check under way, moved to 0.5 s from now", 1}}},
        // A Re-detect before the countdown's first tick, which may come at once: moved too.
        {"ReDetectEarlyInACountdownMovesItsCheck", [](WizardPara& p) { p.trigInDelay[1] = 5; },
         {{0, Act::Mould, 0, 0}, {0, Act::Wait, 80, 0}, {0, Act::Redetect, 1, 0}, {0, Act::Part, 450, D1}},
         {1, 1, 1, 1, 1, 1, 1, 1, true, 1, 1, 1, 1, 1, 0, 1, 0},
         {{"detection 2: Re-detect answered by the check under way, moved to 0.5 s from now", 1}}},
        // Delay 0: a trigger seen before its pass took frames takes that pass's (one grab per pass);
        // a Re-detect in the next millisecond after a pass takes frames of its own.
        {"ReDetectAfterAPassTakesFramesAfterIt", [](WizardPara&) {},
         {{0, Act::Mould, 0, 0},
          {0, Act::Expect, 0, 0, [](const Probe& p) { EXPECT_EQ(p.cam->updates, 2) << "one grab per pass"; }},
          {0, Act::Part, 0, D1}, {0, Act::Redetect, 1, 0},
          {0, Act::Expect, 0, 0, [](const Probe& p) { EXPECT_EQ(p.cam->updates, 3) << "frames after the Re-detect"; }}},
         {1, 2, 1, 0, 0, 1, 1, 1, true, 1, 1, 0, 1, 2, 0, 1, 0}},
        // The delay cut to 0 during a countdown: the check under way answers a Re-detect
        // that came after the last pass with frames taken after it.
        {"ReDetectAfterTheDelayIsCutTakesFramesAfterIt", [](WizardPara& p) { p.trigInDelay[1] = 5; },
         {{0, Act::Mould, 0, 0}, {1, Act::Delay, 0, 0}, {4, Act::Wait, 30, 0}, {4, Act::FindCameras, 0, 0},
          {4, Act::Part, 0, D1}, {4, Act::Redetect, 1, 0}},
         {1, 1, 1, 1, 1, 1, 1, 1, true, 1, 1, 1, 1, 1, 0, 1, 0},
         {{"detection 2: Re-detect answered by the check under way", 1}, {"moved to", 0}}},
        // No pass runs during the countdown: the check takes frames of its own time.
        {"ACheckTakesFramesOfItsOwnTime", [](WizardPara& p) { p.trigInDelay[1] = 5; },
         {{0, Act::Mould, 0, 0}, {0, Act::Part, 300, D1}},
         {1, 1, 1, 1, 1, 1, 1, 1, true, 1, 1, 1, 1, 1, 0, 1, 0}},
        // A mould turned away during a countdown shows its part late: the check under way lets
        // it go only with frames as late as the mould's own check's.
        {"ARefusedMouldMovesTheCheckToItsDelay", [](WizardPara& p) { p.trigInDelay[1] = 5; },
         {{0, Act::Mould, 0, 0}, {2, Act::Mould, 0, 0}, {2, Act::Part, 450, D1}},
         {1, 1, 1, 2, 1, 1, 1, 1, true, 2, 1, 1, 2, 1, 1, 1, 0},
         {{"detection 2: trigger not inspected, the detection is still counting down", 1},
          {"detection 2: its check moved to 0.5 s from now", 1}}},
        // An uninspected mould is an alarm that stops the machine until the check under way sees it OK.
        {"ARefusedMouldStopsTheMachine", [](WizardPara& p) { p.trigInDelay[1] = 5; },
         {{0, Act::Mould, 0, 0}, {1, Act::Mould, 0, 0},
          {1, Act::Expect, 0, 0, [](const Probe& p) { EXPECT_EQ(p.outputs & kStop, kStop); }}},
         {1, 1, 1, 1, 1, 1, 1, 0, false, 2, 1, 1, 1, 1, 1, 1, 1}},
        // Camera 1 counts the uninspected mould as camera 2 does.
        {"ARefusedMouldIsAnNgOfEveryCamera", [](WizardPara& p) { p.trigInDelay[1] = 5; },
         {{0, Act::Mould, 0, 0}, {1, Act::Mould, 0, 0}, {9, Act::Expect, 0, 0, countedAlike}},
         {1, 1, 1, 1, 1, 1, 1, 0, false, 2, 1, 1, 1, 1, 1, 1, 1}},
        // The door and Re-detect while the detection counts down for that very mould are answered
        // by its check: nothing is refused, stopped or counted for them.
        {"DoorAndReDetectInTheMouldsCountdownAreAnsweredByItsCheck",
         [](WizardPara& p) { p.safetyDoorTrigger = 1; p.trigInDelay[1] = 5; },
         {{0, Act::Mould, 0, 0}, {1, Act::Door, 0, 0}, {1, Act::Redetect, 1, 0}},
         {1, 1, 0, 0, 0, 1, 0, 0, false, 1, 1, 0, 0, 1, 0, 0, 0},
         {{"detection 2: safety door check answered by the check under way", 1},
          {"detection 2: Re-detect answered by the check under way", 1}}},
        // A second trigger while the mould detection counts down is an NG step of every camera in
        // the cycle still under way (no cycle of its own), whose check closes it.
        {"ARefusedMouldCountsOnceInEveryStore",
         [](WizardPara& p) { p.detectEnable[0] = 1; p.trigInDelay[1] = 3; },
         {{0, Act::Mould, 0, 0}, {1, Act::Mould, 0, 0}, {5, Act::Clear, 0, 0}, {6, Act::Mould, 0, 0},
          {7, Act::Mould, 0, 0}, {11, Act::Clear, 0, 0}, {11, Act::Expect, 0, 0, countedAlike}},
         {4, 2, 2, 2, 2, 2, 2, 0, false, 8, 2, 2, 2, 6, 2, 2, 2}},
        {"ARefusedMouldCountsOnceInEveryStoreInMulti", multi({0, 3}),
         {{0, Act::Mould, 0, 0}, {1, Act::Mould, 0, 0}, {5, Act::Clear, 0, 0}, {6, Act::Mould, 0, 0},
          {7, Act::Mould, 0, 0}, {11, Act::Clear, 0, 0}, {11, Act::Expect, 0, 0, countedAlike}},
         {4, 2, 2, 2, 2, 2, 2, 0, false, 8, 2, 2, 2, 6, 2, 2, 2}},
        // Camera 2 sees a part in every mould and is lost after two of five: its held NG is its
        // NG step and NG cycle in every store.
        {"ALostCamerasHeldNgCountsAsItsNg", [](WizardPara&) {},
         {{0, Act::Mould, 0, D1}, {1, Act::Mould, 0, D1}, {2, Act::LoseCameras, 2, D1}, {2, Act::Mould, 0, D1},
          {3, Act::Mould, 0, D1}, {4, Act::Mould, 0, D1},
          {5, Act::Expect, 0, 0,
           [](const Probe& p) {
               EXPECT_EQ(gAllNum[0], 5);
               EXPECT_EQ(gFailNum[0], 0);
               EXPECT_EQ(gAllCycleNum[0], 5);
               EXPECT_EQ(p.statsCameraNg[1], 5);
               EXPECT_EQ(p.win->records.filter("run: NG: camera 2, detection 2").size(), 5);
           }}},
         {5, 5, 5, 5, 5, 5, 1, 2, true, 5, 5, 5, 5, 2, 0, 1, 0}},
        // With no camera at all a mould turned away is still an NG cycle.
        {"ARefusedMouldIsAnNgCycleWithNoCamera", [](WizardPara& p) { p.trigInDelay[1] = 5; },
         {{0, Act::Mould, 0, 0}, {1, Act::Mould, 0, 0}},
         {1, 1, 1, 0, 1, 0, 1, 0, true, 0, 1, 0, 2, 0, 2, 2, 0}, {}, {}, true},
        // The program's pause (learning) holds the countdown under way, also when a Re-detect
        // moves it, and the signals that come meanwhile: each mould is checked once it ends,
        // none is refused or dropped.
        {"APauseHoldsTheCountdownAndTheSignals", [](WizardPara& p) { p.trigInDelay[1] = 2; },
         {{0, Act::Mould, 0, D1}, {0, Act::Pause, 1, D1}, {1, Act::Redetect, 1, D1},
          {4, Act::Expect, 0, 0,
           [](const Probe& p) {
               EXPECT_TRUE(p.cycle->isCounting(1));
               EXPECT_EQ(p.cam->checks, 0) << "no check while paused";
               EXPECT_FLOAT_EQ(p.cycle->countdown(1), 0.2f) << "the countdown waits";
           }},
          {4, Act::Pause, 0, D1},
          {8, Act::Expect, 0, 0,
           [](const Probe& p) {
               EXPECT_EQ(p.cam->checks, 1);
               EXPECT_EQ(p.outputs & kStop, kStop);
           }},
          {8, Act::Clear, 0, D1}, {9, Act::Pause, 1, D1}, {9, Act::Mould, 0, D1},
          {12, Act::Expect, 0, 0, [](const Probe& p) { EXPECT_EQ(p.cam->checks, 1) << "the signal stays latched"; }},
          {12, Act::Pause, 0, D1}, {12, Act::FindCameras, 0, D1}},
         {2, 2, 2, 2, 2, 2, 2, 2, true, 2, 2, 2, 2, 2, 0, 2, 1}},
        // The operator's stop during a countdown: that mould is held and counted as not inspected,
        // and its cycle closes NG in every store; a stop with nothing under way closes nothing.
        {"AStopDuringACountdownHoldsTheMouldUninspected", [](WizardPara& p) { p.trigInDelay[1] = 20; },
         {{0, Act::Mould, 0, 0},
          {0, Act::Expect, 0, 0, [](const Probe& p) { EXPECT_TRUE(p.cycle->isCounting(1)); }},
          {1, Act::Stop, 0, 0},
          {1, Act::Expect, 0, 0,
           [](const Probe& p) {
               EXPECT_FALSE(p.cycle->isCounting(1));
               EXPECT_EQ(p.outputs & kStop, kStop) << "the stopped mould holds the machine";
               EXPECT_EQ(p.win->records.filter("NG: detection 2 not inspected").size(), 1);
           }},
          {2, Act::Stop, 0, 0}, {3, Act::Clear, 0, 0},
          {3, Act::Expect, 0, 0, [](const Probe& p) { EXPECT_EQ(p.outputs & kStop, 0); }}},
         {1, 1, 1, 1, 1, 1, 1, 0, false, 1, 1, 1, 1, 0, 1, 1, 1},
         {{"detection 2: trigger not inspected, detection stopped", 1}}},
        // A Re-detect of a counted mould stopped in its countdown is no new mould: what it kept
        // on is the alarm again, nothing more is counted.
        {"AStoppedReDetectOfACountedMouldIsNoNewMould", [](WizardPara&) {},
         {{0, Act::Mould, 0, D1}, {1, Act::Delay, 20, D1}, {2, Act::Release, 0, D1},
          {2, Act::Expect, 0, 0, [](const Probe& p) { EXPECT_TRUE(p.cycle->isCounting(1)); }},
          {3, Act::Stop, 0, D1},
          {3, Act::Expect, 0, 0, [](const Probe& p) { EXPECT_EQ(p.outputs & kStop, kStop); }}},
         {1, 1, 1, 1, 1, 1, 1, 1, true, 1, 1, 1, 1, 1, 0, 2, 0}},
        // A Re-detect of a counted OK mould checks the same mould again: its NG is the alarm and
        // its record, and no store counts a step or a cycle for it.
        {"AReDetectOfACountedMouldCountsNothing", [](WizardPara&) {},
         {{0, Act::Mould, 0, 0}, {2, Act::Redetect, 1, D1}},
         {1, 2, 1, 0, 0, 1, 1, 1, true, 1, 1, 0, 1, 2, 0, 1, 0}},
        // A stop drops a cycle whose last detection has not come: its NG goes to the next close,
        // in count.ini as in the statistics.
        {"AStopKeepsAnUncountedNgForTheNextClose", multi({0, 0}, {0, 1}),
         {{0, Act::Mould, 0, 1u},
          {0, Act::Expect, 0, 0, [](const Probe& p) { EXPECT_NE(p.cycle->openCycleSerial(), 0); }},
          {2, Act::Stop, 0, 0}, {3, Act::Clear, 0, 0}, {4, Act::Mould, 0, 0}, {5, Act::Mould, 1, 0}},
         {2, 1, 1, 1, 1, 1, 1, 1, false, 3, 1, 1, 1, 3, 0, 1, 1}},
        // A mould turned away during a Re-detect of a counted cycle (one detection 1 had no part
        // in) counts at the next close.
        {"ARefusedMouldDuringAReDetectCountsAtTheNextClose", multi({5, 0}, {0, 1}),
         {{0, Act::Mould, 1, 0}, {3, Act::Redetect, 0, 0}, {5, Act::Mould, 0, 0}, {14, Act::Mould, 0, 0},
          {15, Act::Mould, 1, 0}},
         {2, 3, 1, 1, 1, 2, 1, 0, false, 4, 2, 1, 1, 4, 1, 1, 1}},
        // Detection 2's OK waits for the close while detection 1 waits for its recheck: no gap
        // in the stop before that recheck confirms its NG.
        {"ARecheckWaitKeepsAnOksReleaseForTheClose",
         [](WizardPara& p) { multi({1, 2})(p); p.recheckTimes = 1; p.recheckDelay = 2; },
         {{0, Act::Mould, 0, D1}, {8, Act::Mould, 0, 1u}},
         {2, 2, 2, 2, 2, 2, 1, 2, true, 4, 2, 2, 2, 6, 0, 1, 0}},
        // Detection 1's OK waits for the close while the pre-cut holds for detection 2.
        {"ThePreCutKeepsAnOksReleaseForTheClose", [](WizardPara& p) { multi({2, 4})(p); p.preCutTime = 4; },
         {{0, Act::Mould, 0, 1u}, {8, Act::Mould, 0, D1}},
         {2, 2, 2, 2, 2, 2, 1, 2, true, 4, 2, 2, 2, 4, 0, 1, 0}},
        // A release without a check lifts what a release with Re-detect kept on for its check.
        {"AClearLiftsWhatAReDetectKept", [](WizardPara& p) { p.trigInDelay[1] = 5; },
         {{0, Act::Mould, 0, D1}, {8, Act::Release, 0, D1}, {10, Act::Clear, 0, D1},
          {10, Act::Expect, 0, 0, [](const Probe& p) { EXPECT_EQ(p.outputs & kStop, 0); }}},
         {1, 2, 2, 1, 1, 1, 2, 2, true, 1, 1, 1, 2, 2, 0, 2, 1}},
        // The door's OK check under pre-cut releases the clamp: the product NG standing holds its
        // own outputs (the ejector), not the pre-cut's clamp.
        {"AnOkDoorCheckUnderPreCutReleasesTheClamp",
         [](WizardPara& p) {
             p.detectEnable[0] = 1;
             p.safetyDoorTrigger = 1;
             p.safetyDoorClearsAlarm = 0;
             p.preCutTime = 3;
         },
         {{0, Act::Mould, 0, 1u}, {2, Act::Delay, 5, 0}, {3, Act::Door, 0, 0}},
         {2, 2, 1, 1, 1, 2, 1, 1, false, 3, 2, 1, 1, 3, 0, 1, 0}, {}, {1}},
    };
    return table;
}

class CycleModesTest : public CycleTest, public ::testing::WithParamInterface<Mode>
{
};

TEST_P(CycleModesTest, OutputsCountsRecordsAndPictures)
{
    const Mode& mode = GetParam();
    mode.setup(*para);
    cam1->outputs = mode.roiOutputs;
    if (mode.noCamera)
        cycle->setUnits({});
    MessageLog log;
    unsigned ngDetections = 0;
    unsigned partDetections = 0;
    qint64 partFrom = std::numeric_limits<qint64>::max();
    qint64 frameAt = 0;
    bool redetectInCheck = false;
    cam1->onFrame = [&frameAt] { frameAt = MonotonicClock::ms(); };
    cam0->judge = [&](int d) {
        if (std::exchange(redetectInCheck, false))
            cycle->redetect(d);
        return true;
    };
    cam1->judge = [&](int d) {
        const bool part = (partDetections & (1u << d)) && frameAt >= partFrom;
        return !(ngDetections & (1u << d)) && !part;
    };

    Outcome got{};
    QObject::connect(cycle.get(), &DetectionCycle::sigCycleStarted, win.get(), [&] { ++got.cyclesStarted; });
    QObject::connect(cycle.get(), &DetectionCycle::sigCycleFinished, win.get(), [&](bool ng) {
        ++got.records;
        got.ngRecords += ng ? 1 : 0;
    });
    QObject::connect(cycle.get(), &DetectionCycle::sigAlarmStarted, win.get(), [&] { ++got.alarms; });
    // The statistics take each step's cameras and close a cycle on its last step.
    bool statsNg[2] = {false, false};
    int statsCameraNg[2] = {0, 0};
    QObject::connect(win.get(), &MainWindowBase::sendRecord, win.get(), [&](int, int, QList<bool> cameraOK, bool last) {
        for (int c = 0; c < 2 && c < cameraOK.size(); ++c)
            statsNg[c] = statsNg[c] || !cameraOK[c];
        if (!last)
            return;
        ++got.statsCycles;
        got.statsNgCycles += statsNg[0] || statsNg[1] ? 1 : 0;
        for (int c = 0; c < 2; ++c)
            statsCameraNg[c] += std::exchange(statsNg[c], false) ? 1 : 0;
    });
    bool clamp = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, win.get(), [&] {
        const bool on = outputWord() & 0x1;
        got.clampEdges += on && !clamp ? 1 : 0;
        clamp = on;
    });
    watch.start(2);

    QElapsedTimer clock;
    clock.start();
    for (const Step& step : mode.steps) {
        const qint64 wait = step.tenths * 100 - clock.elapsed();
        if (wait > 0)
            QTest::qWait(int(wait));
        if (step.act != Act::Part && step.act != Act::Wait && step.act != Act::Expect)
            ngDetections = step.ngDetections;
        switch (step.act) {
        case Act::Mould:
        case Act::Door:
            releaseInputs();
            runPass();
            pressInput(step.act == Act::Door ? DetectionCycle::kSafetyDoorInput : step.arg);
            runPass();
            break;
        case Act::Redetect:
            cycle->clearAlarm(7);
            cycle->redetect(step.arg);
            break;
        case Act::LoseCameras:
        case Act::FindCameras:
            cam1->connected = step.act == Act::FindCameras;
            if (step.arg != 2)
                cam0->connected = cam1->connected;
            runPass();
            break;
        case Act::Release:
            cycle->releaseAndRecheck(AlarmClearMethod::Redetect);
            break;
        case Act::Clear:
            cycle->clearAlarm();
            break;
        case Act::Stop:
            cycle->stopDetection();
            break;
        case Act::Pause:
            cycle->setPaused(step.arg != 0);
            break;
        case Act::Delay:
            para->trigInDelay[1] = step.arg;
            break;
        case Act::Wait:
            QTest::qWait(step.arg);
            break;
        case Act::Part:
            // From the next millisecond: frames of this one came before the act.
            for (const qint64 now = MonotonicClock::ms(); MonotonicClock::ms() == now;) {
            }
            partFrom = MonotonicClock::ms() + step.arg;
            partDetections = step.ngDetections;
            break;
        case Act::CheckRedetect:
            redetectInCheck = true;
            break;
        case Act::Expect:
            step.expect(Probe{cycle.get(), cam1, win.get(), outputWord(), statsCameraNg});
            break;
        }
    }
    QTest::qWait(700);
    // A loaded machine runs the timers late: the last check still comes.
    waitUntil(
        [&] {
            bool busy = false;
            for (int d = 0; d < kMaxDetections; ++d)
                busy = busy || cycle->isBusy(d);
            return !busy && cycle->openCycleSerial() == 0;
        },
        5000);
    QTest::qWait(20);
    watch.stop();

    got.ngSteps = gSyncNGNum;
    got.ngCycles = gSyncNGCycleNum;
    if (!mode.noCamera) {
        EXPECT_EQ(gFailCycleNum[1], gSyncNGCycleNum) << "only camera 2 sees parts";
        EXPECT_EQ(gFailNum[1], gSyncNGNum) << "only camera 2 sees parts";
    }
    got.cycles = gAllCycleNum[1];
    got.steps = gAllNum[1];
    got.ngPictures = int(cam1->imageCalls.filter(QRegularExpression("^save \\d 0$")).size());
    got.clampAtEnd = outputWord() & 0x1;
    got.ngLines = int(win->records.filter("run: NG").size());
    got.checks = cam1->checks;
    got.uninspected = cycle->uninspected();
    got.alarmOffs = io->offs[kAlarmOutput];
    EXPECT_EQ(got, mode.expected);
    for (const auto& [text, times] : mode.lines)
        EXPECT_EQ(log.lines.filter(text).size(), times) << text << "\n" << log.lines.join('\n').toStdString();
    for (int d = 0; d < kMaxDetections; ++d)
        EXPECT_EQ(win->recheckMade[d], 0) << "every recheck has ended, detection " << d + 1;
    EXPECT_FALSE(win->recheckActive);
    EXPECT_EQ(cycle->openCycleSerial(), 0) << "the last cycle has closed";
    cam1->onFrame = nullptr;
    cam0->judge = cam1->judge = nullptr;
}

INSTANTIATE_TEST_SUITE_P(Modes, CycleModesTest, ::testing::ValuesIn(modes()),
                         [](const ::testing::TestParamInfo<Mode>& info) { return std::string(info.param.name); });
} // namespace
