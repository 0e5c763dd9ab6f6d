// The detection cycle in each mode a setter can choose, driven by board
// inputs on the real timers: what the machine sees (clamp interlocks), what
// is counted, which cycle records are decided and which NG pictures kept.
#include "shellfixture.h"

#include "controlport.h"
#include "detectioncycle.h"
#include "globals.h"
#include "statecodes.h"
#include "wizardpara.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <functional>
#include <ostream>
#include <vector>

namespace {
enum class Act { Mould, Door, Redetect, LoseCameras, FindCameras };

// At `tenths` after the start: an act, and from then on the detections (bits)
// in which camera 2 sees a part.
struct Step
{
    int tenths;
    Act act;
    int arg;
    unsigned ngDetections;
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

    bool operator==(const Outcome& o) const
    {
        return cyclesStarted == o.cyclesStarted && records == o.records && ngRecords == o.ngRecords
               && ngSteps == o.ngSteps && ngCycles == o.ngCycles && cycles == o.cycles
               && clampEdges == o.clampEdges && ngPictures == o.ngPictures && clampAtEnd == o.clampAtEnd;
    }
};

void PrintTo(const Outcome& o, std::ostream* os)
{
    *os << "{started " << o.cyclesStarted << ", records " << o.records << ", NG records " << o.ngRecords
        << ", NG steps " << o.ngSteps << ", NG cycles " << o.ngCycles << ", cycles " << o.cycles << ", clamp edges "
        << o.clampEdges << ", NG pictures " << o.ngPictures << ", clamp at end " << o.clampAtEnd << "}";
}

struct Mode
{
    const char* name;
    std::function<void(WizardPara&)> setup;
    std::vector<Step> steps;
    Outcome expected;
};

void PrintTo(const Mode& mode, std::ostream* os)
{
    *os << mode.name;
}

constexpr unsigned D1 = 1u << 1;

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
         {4, 4, 2, 2, 2, 4, 2, 2, false}},
        {"ProductAndMould", [](WizardPara& p) { p.detectEnable[0] = 1; p.trigInDelay[1] = 1; },
         {{0, Act::Mould, 0, D1}, {4, Act::Mould, 0, 1u}, {8, Act::Mould, 0, 0}},
         {3, 3, 2, 2, 2, 3, 1, 2, false}},
        {"MouldRecheckedTwice", [](WizardPara& p) { p.recheckTimes = 2; p.recheckDelay = 1; },
         {{0, Act::Mould, 0, D1}, {6, Act::Mould, 0, 0}},
         {2, 2, 1, 1, 1, 2, 1, 1, false}},
        {"MultiInOrder", multi({1, 2, 3}),
         {{0, Act::Mould, 0, D1}, {5, Act::Mould, 0, 0}, {10, Act::Mould, 0, D1}},
         {3, 3, 2, 2, 2, 3, 2, 2, true}},
        // Detection 2 waits for its recheck while detection 3 checks.
        {"MultiInOrderWithRecheck", [](WizardPara& p) { multi({1, 2, 3})(p); p.recheckTimes = 2; p.recheckDelay = 1; },
         {{0, Act::Mould, 0, D1}, {7, Act::Mould, 0, 0}, {14, Act::Mould, 0, D1}},
         {3, 3, 2, 2, 2, 3, 2, 2, true}},
        // Detections 1 and 2 wait, detection 3 checks at the trigger.
        {"MultiOutOfOrder", multi({2, 2, 0}),
         {{0, Act::Mould, 0, D1}, {5, Act::Mould, 0, D1}, {10, Act::Mould, 0, D1}},
         {3, 3, 3, 3, 3, 3, 1, 3, true}},
        {"MultiOutOfOrderWithRecheck", [](WizardPara& p) { multi({2, 2, 0})(p); p.recheckTimes = 1; p.recheckDelay = 1; },
         {{0, Act::Mould, 0, D1}, {6, Act::Mould, 0, 0}},
         {2, 2, 1, 1, 1, 2, 1, 1, false}},
        // The first detection's input stops coming after the first mould.
        {"TwoInputsFirstStops", multi({0, 0}, {0, 2}),
         {{0, Act::Mould, 0, D1}, {1, Act::Mould, 2, D1}, {4, Act::Mould, 2, 0}, {7, Act::Mould, 2, D1},
          {10, Act::Mould, 2, 0}},
         {4, 4, 2, 2, 2, 4, 2, 2, false}},
        // Each mould: the product and mould detections at input 0, the mould again when the door opens.
        {"SafetyDoorStartsItsOwnCycle",
         [](WizardPara& p) { p.detectEnable[0] = 1; p.safetyDoorTrigger = 1; },
         {{0, Act::Mould, 0, 0}, {2, Act::Door, 0, D1}, {4, Act::Mould, 0, 0}, {6, Act::Door, 0, 0},
          {8, Act::Mould, 0, 0}, {10, Act::Door, 0, D1}},
         {6, 6, 2, 2, 2, 6, 2, 2, true}},
        // The alarmed cycle checked again: its record changes, no cycle is added.
        {"RedetectChecksTheAlarmedCycle", [](WizardPara&) {},
         {{0, Act::Mould, 0, D1}, {3, Act::Redetect, 1, 0}, {6, Act::Mould, 0, 0}},
         {2, 3, 1, 1, 1, 2, 1, 1, false}},
        // With every camera lost the standing alarm stays and nothing is counted or recorded.
        {"LostCamerasDecideNothing", [](WizardPara&) {},
         {{0, Act::Mould, 0, D1}, {2, Act::LoseCameras, 0, 0}, {3, Act::Mould, 0, 0}, {5, Act::Mould, 0, 0}},
         {3, 1, 1, 1, 1, 1, 1, 1, true}},
        // Back again, a real OK check releases the alarm.
        {"CamerasBackDecideAgain", [](WizardPara&) {},
         {{0, Act::Mould, 0, D1}, {2, Act::LoseCameras, 0, 0}, {3, Act::Mould, 0, 0}, {5, Act::FindCameras, 0, 0},
          {6, Act::Mould, 0, 0}},
         {3, 2, 1, 1, 1, 2, 1, 1, false}},
        {"PreCutInterlocksEveryMould", [](WizardPara& p) { p.trigInDelay[1] = 3; p.preCutTime = 2; },
         {{0, Act::Mould, 0, 0}, {6, Act::Mould, 0, D1}},
         {2, 2, 1, 1, 1, 2, 2, 1, true}},
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
    unsigned ngDetections = 0;
    cam1->judge = [&ngDetections](int d) { return !(ngDetections & (1u << d)); };

    Outcome got{};
    QObject::connect(cycle.get(), &DetectionCycle::sigCycleStarted, win.get(), [&] { ++got.cyclesStarted; });
    QObject::connect(cycle.get(), &DetectionCycle::sigCycleFinished, win.get(), [&](bool ng) {
        ++got.records;
        got.ngRecords += ng ? 1 : 0;
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
            cam0->connected = cam1->connected = step.act == Act::FindCameras;
            runPass();
            break;
        }
    }
    QTest::qWait(700);
    watch.stop();

    got.ngSteps = gSyncNGNum;
    got.ngCycles = gSyncNGCycleNum;
    EXPECT_EQ(gFailCycleNum[1], gSyncNGCycleNum) << "only camera 2 sees parts";
    got.cycles = gAllCycleNum[1];
    got.ngPictures = int(cam1->imageCalls.filter(QRegularExpression("^save \\d 0$")).size());
    got.clampAtEnd = outputWord() & 0x1;
    EXPECT_EQ(got, mode.expected);
    for (int d = 0; d < kMaxDetections; ++d)
        EXPECT_EQ(win->recheckMade[d], 0) << "every recheck has ended, detection " << d + 1;
    EXPECT_FALSE(win->recheckActive);
    EXPECT_EQ(cycle->openCycleSerial(), 0) << "the last cycle has closed";
}

INSTANTIATE_TEST_SUITE_P(Modes, CycleModesTest, ::testing::ValuesIn(modes()),
                         [](const ::testing::TestParamInfo<Mode>& info) { return std::string(info.param.name); });
} // namespace
