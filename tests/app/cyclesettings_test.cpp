// The settings the detection cycle obeys beyond the trigger set-up: which
// outputs an NG raises in product and mould detections, the shielded input,
// the clearing input and the safety door after a product NG.
#include "shellfixture.h"

#include "alarmclearmethod.h"
#include "controlport.h"
#include "detectioncycle.h"
#include "globals.h"
#include "qttesthelpers.h"
#include "statecodes.h"
#include "wizardpara.h"

#include <QSignalSpy>
#include <QTest>

#include <functional>
#include <ostream>
#include <vector>

namespace {
constexpr int C = 1 << kClampOutput;
constexpr int E = 1 << kEjectorOutput;
constexpr int A = 1 << kAlarmOutput;
constexpr int O4 = 1 << kOutput4;
constexpr int O5 = 1 << kOutput5;
constexpr int kProduct = 0;
constexpr int kMould = 1;

struct OutputRow
{
    const char* name;
    std::function<void(WizardPara&)> setup;
    int ngDetection;
    QVector<int> roiOutputs;
    int expected;   // the outputs on after the NG
};

void PrintTo(const OutputRow& row, std::ostream* os)
{
    *os << row.name;
}

const std::vector<OutputRow>& outputRows()
{
    static const std::vector<OutputRow> rows = {
        {"MouldNgNamesNoOutput", [](WizardPara&) {}, kMould, {}, C | A},
        {"MouldNgNamesTheEjector", [](WizardPara&) {}, kMould, {kEjectorOutput}, E | A},
        {"CutClampOnMoldAlarm", [](WizardPara& p) { p.cutClampOnMoldAlarm = 1; }, kMould, {kEjectorOutput}, C | E | A},
        {"CutClampOnMoldAlarmLeavesProducts", [](WizardPara& p) { p.cutClampOnMoldAlarm = 1; }, kProduct,
         {kEjectorOutput}, E | A},
        {"CutEjectorOnProdAlarm", [](WizardPara& p) { p.cutEjectorOnProdAlarm = 1; }, kProduct, {}, C | E | A},
        {"CutEjectorOnProdAlarmLeavesMoulds", [](WizardPara& p) { p.cutEjectorOnProdAlarm = 1; }, kMould, {}, C | A},
        {"NoEjectorInProd", [](WizardPara& p) { p.noEjectorInProd = 1; }, kProduct, {kEjectorOutput}, C | A},
        {"NoEjectorInProdWinsOverCutEjector",
         [](WizardPara& p) { p.noEjectorInProd = p.cutEjectorOnProdAlarm = 1; }, kProduct, {}, C | A},
        {"NoEjectorInProdLeavesMoulds", [](WizardPara& p) { p.noEjectorInProd = 1; }, kMould, {kEjectorOutput}, E | A},
        {"ProdNgNoEjectorOnlySoundsTheAlarm",
         [](WizardPara& p) { p.prodNgNoEjector = p.prodAlarmOutputO5 = 1; }, kProduct, {kEjectorOutput}, A},
        {"ProdNgNoEjectorKeepsANamedSpareOutput", [](WizardPara& p) { p.prodNgNoEjector = 1; }, kProduct,
         {kOutput4}, O4 | A},
        {"ProdNgNoEjectorLeavesMoulds", [](WizardPara& p) { p.prodNgNoEjector = p.cavityAlarmOutputO4 = 1; }, kMould,
         {}, C | A | O4},
        {"ProdAlarmOutputO5", [](WizardPara& p) { p.prodAlarmOutputO5 = 1; }, kProduct, {}, C | A | O5},
    };
    return rows;
}

class CycleOutputSettingsTest : public CycleTest, public ::testing::WithParamInterface<OutputRow>
{
};

// Mode 0 with the product detection on: both detections check at input 0.
TEST_P(CycleOutputSettingsTest, AnNgRaisesTheOutputsItsSettingsName)
{
    const OutputRow& row = GetParam();
    para->detectEnable[0] = 1;
    row.setup(*para);
    cam1->judge = [&row](int d) { return d != row.ngDetection; };
    cam1->outputs = row.roiOutputs;
    pressInput(0);
    runPass();
    EXPECT_EQ(outputWord() & 0x1F, row.expected);
    EXPECT_EQ(gSyncNGCycleNum, 1) << "the NG is counted whatever it raises";

    // The next OK mould releases what the NG raised.
    cam1->judge = nullptr;
    cam1->ok = true;
    releaseInputs();
    pressInput(0);
    runPass();
    EXPECT_EQ(outputWord() & 0x1F, 0);
}

INSTANTIATE_TEST_SUITE_P(Settings, CycleOutputSettingsTest, ::testing::ValuesIn(outputRows()),
                         [](const ::testing::TestParamInfo<OutputRow>& info) { return std::string(info.param.name); });
} // namespace

class CycleInputSettingsTest : public CycleTest
{
protected:
    void pulse(int input)
    {
        releaseInputs();
        runPass();
        pressInput(input);
        runPass();
    }
};

// Semi-automatic machine: the mould detection on input 2, whose first signals are shielded.
TEST_F(CycleInputSettingsTest, ShieldPinLetsThatManySignalsOfInput2By)
{
    MessageLog log;
    para->trigInput[1] = kShieldedInput;
    para->shieldPin = 2;
    for (int signal = 1; signal <= 6; ++signal)
        pulse(kShieldedInput);
    EXPECT_EQ(cam0->checks, 2) << "signals 3 and 6 trigger";
    EXPECT_EQ(log.lines.filter("input 3: signal 2 of 2 shielded").size(), 2);

    // The mould opening starts the count again.
    pulse(kShieldedInput);
    pulse(kMouldOpenInput);
    pulse(kShieldedInput);
    pulse(kShieldedInput);
    EXPECT_EQ(cam0->checks, 2);
    pulse(kShieldedInput);
    EXPECT_EQ(cam0->checks, 3);

    para->shieldPin = 0;
    pulse(kShieldedInput);
    EXPECT_EQ(cam0->checks, 4);
}

// Trigger mode 3: input 3 has the function "Clear alarm".
TEST_F(CycleInputSettingsTest, TheClearingInputLiftsTheAlarmAfterTheReInspectionDelay)
{
    para->trigMode = kAllGroupsTrigMode;
    gDNum = 1;
    para->detectEnable[0] = 1;
    para->detectEnable[1] = 0;
    para->inFunc[1] = kInFunctionClearAlarm;   // input 2 (index 2)
    para->reInspectionDelay = 3;
    QSignalSpy released(cycle.get(), &DetectionCycle::sigAlarmReleased);
    cam0->ok = false;
    pulse(0);
    ASSERT_TRUE(cycle->isAlarmed());

    pulse(2);
    QTest::qWait(150);
    EXPECT_TRUE(cycle->isAlarmed()) << "not before the delay";
    QTRY_VERIFY_WITH_TIMEOUT(!cycle->isAlarmed(), 1000);
    EXPECT_EQ(outputWord() & 0x1F, 0);
    ASSERT_EQ(released.size(), 1);
    EXPECT_EQ(released.first().at(1).toInt(), int(AlarmClearMethod::DontDetect));
    EXPECT_EQ(cam0->checks, 1);

    // "Input signal reset and recheck": lifted, and the mould looked at again (still NG here).
    para->inputResetRecheck = 1;
    para->reInspectionDelay = 0;
    pulse(0);
    pulse(2);
    QTRY_COMPARE_WITH_TIMEOUT(cam0->checks, 3, 1000);
    EXPECT_TRUE(cycle->isAlarmed()) << "the recheck found the part again";
    EXPECT_EQ(released.last().at(1).toInt(), int(AlarmClearMethod::Redetect));

    // An input without that function clears nothing; in the other modes no input has functions.
    para->inFunc[1] = 0;
    pulse(2);
    QTest::qWait(50);
    EXPECT_TRUE(cycle->isAlarmed());
}

// A product NG, the product taken out at the safety door: the cavity is checked again.
TEST_F(CycleInputSettingsTest, ProdNgSkipRecheckChecksTheCavityAfterTheDoor)
{
    para->detectEnable[0] = 1;
    para->prodNgSkipRecheck = 1;
    para->safetyDoorTrigger = 1;
    cam1->judge = [](int d) { return d != kProduct; };
    pulse(0);
    ASSERT_TRUE(cycle->isAlarmed());
    const int checks = cam1->checks;
    pulse(DetectionCycle::kSafetyDoorInput);
    EXPECT_FALSE(cycle->isAlarmed());
    EXPECT_EQ(cam1->checks, checks + 1) << "one check, of the mould detection only";
    EXPECT_EQ(win->checkDetect, kMould);

    // A mould NG is no product alarm: the door then checks as configured, no skip.
    cam1->judge = [](int d) { return d != kMould; };
    pulse(0);
    ASSERT_TRUE(cycle->isAlarmed());
    pulse(DetectionCycle::kSafetyDoorInput);
    EXPECT_TRUE(cycle->isAlarmed());
}

// Two stages: the door and the release box mean the mould detection of the stage in use,
// never detection 2 of the first stage. A part in every frame; detection 2 has no ROIs.
TEST_F(CycleInputSettingsTest, TheMouldDetectionIsThatOfTheStageInUse)
{
    for (int mode : {1, 2}) {
        for (int groups = 0; groups <= 3; ++groups) {
            SCOPED_TRACE(QStringLiteral("mode %1, stage groups %2").arg(mode).arg(groups).toStdString());
            cycle->cancelCountdowns();
            cycle->clearAlarm();
            para->trigMode = mode;
            para->stageGroups = groups;
            gDNum = 4;
            // As the settings make them: stage groups 1 uses detections 3 and 4, product on
            // input 1 and mould on input 4; the others start in the first stage.
            for (int d = 0; d < 4; ++d)
                para->detectEnable[d] = groups == 1 ? d >= 2 : groups == 0 ? d < 2 : 1;
            para->trigInput[0] = 0;
            para->trigInput[1] = 3;
            win->stageFlag = groups == 1 ? 0 : 1;
            const int product = groups == 1 ? 2 : 0;
            const int mould = product + 1;
            para->prodNgSkipRecheck = 1;
            para->safetyDoorTrigger = 0;
            cam1->judge = [groups](int d) { return groups == 1 && d == 1; };

            MessageLog log;
            pulse(0);
            pulse(3);
            ASSERT_EQ(log.lines.filter(QStringLiteral("detection %1: NG, checked in").arg(mould + 1)).size(), 1);
            // Stage groups 2 and 3 alternate the stages: the close moved the flag to the other
            // one, but the mould the door opens on is still the one that was checked.
            const int door = mould;
            if (groups >= 2) {
                EXPECT_EQ(win->stageFlag, 0);
            }
            pulse(DetectionCycle::kSafetyDoorInput);
            EXPECT_EQ(log.lines.filter(QStringLiteral("detection %1: NG, checked in").arg(door + 1)).size(),
                      door == mould ? 2 : 1)
                << "the door's skip rechecks the mould of the stage in use";
            EXPECT_EQ(outputWord() & (C | A), C | A) << "the part is still in the mould";
            EXPECT_TRUE(cycle->alarmStands());
            if (groups == 1) {
                EXPECT_EQ(log.lines.filter("detection 2:").size(), 0) << log.lines.join('\n').toStdString();
                EXPECT_EQ(product, 2);
            }

            // The door's own check, with the door trigger on.
            cycle->clearAlarm();
            para->prodNgSkipRecheck = 0;
            para->safetyDoorTrigger = 1;
            const int before = log.lines.filter(QStringLiteral("detection %1: NG, checked in").arg(door + 1)).size();
            pulse(DetectionCycle::kSafetyDoorInput);
            EXPECT_EQ(log.lines.filter(QStringLiteral("detection %1: NG, checked in").arg(door + 1)).size(), before + 1);
            EXPECT_EQ(outputWord() & (C | A), C | A);
        }
    }
}

// A Re-detect of the other stage's product does not present a mould: the door's product skip
// still rechecks the mould that was presented last, whose part is still in it.
TEST_F(CycleInputSettingsTest, AReDetectDoesNotMoveTheMouldToTheOtherStage)
{
    twoStages(3);
    para->prodNgSkipRecheck = 1;
    para->safetyDoorTrigger = 0;
    cam1->judge = [](int d) { return d >= 2; };  // OK in stage 0 only

    MessageLog log;
    pulse(0);
    pulse(3);
    ASSERT_EQ(log.lines.filter("detection 2: NG, checked in").size(), 1);
    cycle->redetect(2);
    ASSERT_EQ(log.lines.filter("detection 3: OK").size(), 1) << log.lines.join('\n').toStdString();
    pulse(DetectionCycle::kSafetyDoorInput);
    EXPECT_EQ(log.lines.filter("detection 2: NG, checked in").size(), 2) << log.lines.join('\n').toStdString();
    EXPECT_EQ(log.lines.filter("detection 4:").size(), 0);
    EXPECT_EQ(outputWord() & (C | A), C | A) << "the part is still in the stage's mould";
}

// The door's product skip hands the alarms to the mould of the product's stage: the other
// stage's mould NG is not its to decide and stands with its part.
TEST_F(CycleInputSettingsTest, TheProductSkipLeavesTheOtherStagesMouldStanding)
{
    twoStages(3);
    para->prodNgSkipRecheck = 1;
    para->safetyDoorTrigger = 0;
    cam1->judge = [](int d) { return d == 0 || d == 3; };

    MessageLog log;
    pulse(0);
    pulse(3);
    pulse(0);
    pulse(3);
    ASSERT_EQ(log.lines.filter("detection 2: NG, checked in").size(), 1) << log.lines.join('\n').toStdString();
    ASSERT_EQ(log.lines.filter("detection 3: NG, checked in").size(), 1);
    pulse(DetectionCycle::kSafetyDoorInput);
    EXPECT_EQ(log.lines.filter("detection 4: OK").size(), 2) << log.lines.join('\n').toStdString();
    EXPECT_EQ(outputWord() & (C | A), C | A) << "the part is still in stage 1's mould";
    EXPECT_TRUE(cycle->alarmStands());
}

// Trigger mode 3 has no mould detection: the door's check looks at every detection in use
// that the door does not trigger itself, in one cycle of the door's; mode 0 at the mould
// detection when it is on, at the product detection otherwise.
TEST_F(CycleInputSettingsTest, WhatTheDoorChecksInModesWithoutTwoStages)
{
    QSignalSpy finished(cycle.get(), &DetectionCycle::sigCycleFinished);
    setMultiDetection(*para, {0, 1, 0, 0}, {0, 0, 2, DetectionCycle::kSafetyDoorInput});
    para->detectEnable[2] = 0;
    para->safetyDoorTrigger = 1;
    cam1->judge = [](int d) { return d != 1; };
    MessageLog log;
    pulse(DetectionCycle::kSafetyDoorInput);
    EXPECT_TRUE(waitUntil([&] { return !finished.isEmpty(); }, 2000));
    QTest::qWait(150);
    // Detection 4, triggered by the door, joins the door's cycle.
    ASSERT_EQ(finished.size(), 1);
    EXPECT_EQ(finished.first().first().toBool(), true) << "the door's cycle waited for detection 2's NG";
    EXPECT_EQ(log.lines.filter("checked in").size(), 3) << log.lines.join('\n').toStdString();
    EXPECT_EQ(log.lines.filter("detection 2: NG, checked in").size(), 1);
    EXPECT_EQ(log.lines.filter("detection 3:").size(), 0) << "not in use";
    EXPECT_EQ(cycle->uninspected(), 0);
    EXPECT_EQ(outputWord() & (C | A), C | A);

    // Mode 0: the mould detection, or the product detection when that is the only one on.
    for (const bool mouldOn : {true, false}) {
        cycle->clearAlarm();
        para->trigMode = 0;
        gDNum = 2;
        para->detectEnable[0] = 1;
        para->detectEnable[1] = mouldOn ? 1 : 0;
        para->trigInput[0] = para->trigInput[1] = 0;
        para->trigInDelay[1] = 0;
        cam1->judge = nullptr;
        cam1->ok = true;
        const int from = log.linesNow().size();
        pulse(DetectionCycle::kSafetyDoorInput);
        const QStringList door = log.linesNow().mid(from);
        EXPECT_EQ(door.filter(QStringLiteral("detection %1: OK, checked in").arg(mouldOn ? 2 : 1)).size(), 1);
        EXPECT_EQ(door.filter("checked in").size(), 1) << door.join('\n').toStdString();
    }
}
