#include "shellfixture.h"

#include "clock.h"
#include "controlport.h"
#include "detectioncycle.h"
#include "failpicture.h"
#include "globals.h"
#include "qttesthelpers.h"
#include "savefialimagethread.h"
#include "vek_netmn.h"
#include "wizardpara.h"

#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <vector>

namespace {
const int kClampBit = 0x1;
const int kEjectorBit = 0x2;
const int kAlarmBit = 0x4;
const int kNgOutputs = 0xF;

QVector<int> counters(const int* values, int n = 2)
{
    return QVector<int>(values, values + n);
}
}

TEST_F(CycleTest, NgCycleRaisesRoiOutputsAndAlarmCountsAndMarksTheNgImage)
{
    cam1->ok = false;
    cam1->outputs = {1};
    QList<QVariantList> sent;
    QObject::connect(win.get(), &MainWindowBase::sendRecord, win.get(),
                     [&](int d, int h, QList<bool> ok, bool last) { sent << QVariantList{d, h, QVariant::fromValue(ok), last}; });

    pressInput(0);
    runPass();

    EXPECT_EQ(cam0->checks, 1);
    EXPECT_EQ(cam1->checks, 1);
    EXPECT_EQ(win->checkDetect, 1);
    EXPECT_EQ(win->curDetectIndex, 0) << "the mould detection is the first of this cycle";
    EXPECT_EQ(outputWord() & kNgOutputs, kEjectorBit | kAlarmBit);
    EXPECT_EQ(counters(gAllNum), (QVector<int>{1, 1}));
    EXPECT_EQ(counters(gFailNum), (QVector<int>{0, 1}));
    EXPECT_EQ(counters(gAllCycleNum), (QVector<int>{1, 1}));
    EXPECT_EQ(counters(gFailCycleNum), (QVector<int>{0, 1}));
    EXPECT_EQ(gSyncNGNum, 1);
    EXPECT_EQ(gSyncNGCycleNum, 1);
    EXPECT_EQ(win->countWrites, 1);
    ASSERT_EQ(win->records.size(), 1);
    EXPECT_TRUE(win->records.first().startsWith("run: "));
    EXPECT_EQ(gisSaveFail[1][1][0], 1);
    EXPECT_EQ(gisSaveFail[0][1][1], 0) << "no OK pictures are kept (okRecordNum 0)";
    EXPECT_EQ(cam1->imageCalls, (QStringList{"save 1 0", "update 1 0"}));
    EXPECT_EQ(cam0->imageCalls, (QStringList{"save 1 1", "update 1 1"}));
    EXPECT_EQ(cam1->blinks, 1);
    EXPECT_EQ(cam0->blinks, 0);
    EXPECT_EQ(win->pageState, 2);
    EXPECT_TRUE(cycle->resultTimer()->isActive());
    ASSERT_EQ(sent.size(), 1);
    EXPECT_EQ(sent[0][0].toInt(), 1);
    EXPECT_EQ(sent[0][1].toInt(), Clock::now().time().hour());
    EXPECT_EQ(sent[0][2].value<QList<bool>>(), (QList<bool>{true, false}));
    EXPECT_TRUE(sent[0][3].toBool());
}

TEST_F(CycleTest, AnOkCheckOfTheSameDetectionReleasesTheHeldOutputs)
{
    cam0->ok = false;
    pressInput(0);
    runPass();
    EXPECT_EQ(outputWord() & kNgOutputs, kClampBit | kAlarmBit) << "no ROI output named: the clamp interlock";
    EXPECT_TRUE(win->isOutputHeld(0));

    releaseInputs();
    cam0->ok = true;
    pressInput(0);
    runPass();
    EXPECT_EQ(outputWord() & kNgOutputs, 0);
    EXPECT_FALSE(cycle->isAlarmed());
    EXPECT_EQ(counters(gFailNum), (QVector<int>{1, 0}));
    EXPECT_EQ(counters(gAllCycleNum), (QVector<int>{2, 2}));
}

TEST_F(CycleTest, SafetyDoorOrOperatorClearsTheAlarm)
{
    para->safetyDoorClearsAlarm = 1;
    cam0->ok = false;
    pressInput(0);
    runPass();
    ASSERT_TRUE(cycle->isAlarmed());
    // The door's edge came after the last read that showed it shut: one read before the NG,
    // or in its own millisecond, may have opened before it, however late it was seen high.
    const qint64 ngAt = cycle->alarmBook().entry(1).ngAt;
    QTest::qWait(2);
    const qint64 now = MonotonicClock::ms();
    for (const qint64 lastRead : {ngAt - 300, ngAt}) {
        reportInputs(0x3, now, lastRead);
        runPass();
        EXPECT_TRUE(cycle->isAlarmed()) << lastRead - ngAt;
        reportInputs(0x1, now);
    }
    reportInputs(0x3, now, ngAt + 1);
    runPass();
    EXPECT_FALSE(cycle->isAlarmed());
    EXPECT_EQ(outputWord() & kNgOutputs, 0);
    EXPECT_EQ(cam0->checks, 1) << "the safety door is no trigger unless configured";

    releaseInputs();
    pressInput(0);
    runPass();
    ASSERT_TRUE(cycle->isAlarmed());
    cycle->clearAlarm();
    EXPECT_EQ(outputWord() & kNgOutputs, 0);
    EXPECT_EQ(win->pageState, 0);
}

TEST_F(CycleTest, PulseLengthsAndSilentAlarm)
{
    para->clampPulse = 2;
    para->noAlarmSoundOnNg = 1;
    cam0->ok = false;
    pressInput(0);
    runPass();
    EXPECT_EQ(outputWord() & kNgOutputs, kClampBit);
    EXPECT_FALSE(cycle->isAlarmed()) << "a pulsed output is not held";
    QTRY_COMPARE_WITH_TIMEOUT(outputWord() & kNgOutputs, 0, 1000);
}

TEST_F(CycleTest, DelayCountsDownInTenths)
{
    para->trigInDelay[1] = 3;
    pressInput(0);
    runPass();
    EXPECT_TRUE(cycle->isCounting(1));
    EXPECT_FLOAT_EQ(cycle->countdown(1), 0.3f);
    EXPECT_FLOAT_EQ(win->delayCountdown[1], 0.3f) << "the camera views show it";
    EXPECT_EQ(win->delayTimer[1], cycle->delayTimer(1));
    EXPECT_TRUE(win->delayTimer[1]->isActive());
    EXPECT_EQ(win->resultTimer, cycle->resultTimer());
    EXPECT_EQ(win->detectState, 1);
    QTest::qWait(150);
    EXPECT_EQ(cam0->checks, 0);
    QTRY_COMPARE_WITH_TIMEOUT(cam0->checks, 1, 1000);
    EXPECT_FALSE(cycle->isCounting(1));
    EXPECT_EQ(win->detectState, 3);

    // A trigger while counting down does not restart the count.
    releaseInputs();
    pressInput(0);
    runPass();
    releaseInputs();
    pressInput(0);
    runPass();
    QTRY_COMPARE_WITH_TIMEOUT(cam0->checks, 2, 2000);
    EXPECT_FALSE(cycle->isCounting(1)) << "no second count is pending";
}

TEST_F(CycleTest, TriggerInputChoices)
{
    para->trigInput[1] = DetectionCycle::kAnyOfInputs2And3;
    pressInput(0);
    runPass();
    EXPECT_EQ(cam0->checks, 0);
    pressInput(3);
    runPass();
    EXPECT_EQ(cam0->checks, 1);
    releaseInputs();
    pressInput(2);
    runPass();
    EXPECT_EQ(cam0->checks, 2);

    // A stopped detection takes no triggers; the edge is not kept for later.
    win->runState = 3;
    releaseInputs();
    pressInput(2);
    runPass();
    win->runState = 1;
    runPass();
    EXPECT_EQ(cam0->checks, 2);
}

// The machine waits for no screen work: a view shows its checked frame only
// once the outputs of the decision are set, every checked camera once per
// check (a recheck too), a lost camera never.
TEST_F(CycleTest, ViewsShowTheCheckedFramesOnlyAfterTheOutputsAreSet)
{
    cam1->ok = false;
    cam1->outputs = {1};
    QVector<int> wordAtShow;
    for (FakeUnit* unit : {cam0, cam1})
        unit->onShow = [&] { wordAtShow << (outputWord() & kNgOutputs); };

    pressInput(0);
    runPass();
    EXPECT_EQ(cam0->shown, QVector<int>{1});
    EXPECT_EQ(cam1->shown, QVector<int>{1});
    EXPECT_EQ(wordAtShow, (QVector<int>{kEjectorBit | kAlarmBit, kEjectorBit | kAlarmBit}));

    // An OK check releases the outputs before the views change.
    cam1->ok = true;
    wordAtShow.clear();
    releaseInputs();
    pressInput(0);
    runPass();
    EXPECT_EQ(wordAtShow, (QVector<int>{0, 0}));

    // A lost camera shows nothing; a check that waits for its recheck still shows.
    para->recheckTimes = 1;
    para->recheckDelay = 50;
    cam1->connected = false;
    cam0->ok = false;
    releaseInputs();
    pressInput(0);
    runPass();
    EXPECT_TRUE(win->recheckActive);
    EXPECT_EQ(cam0->shown, (QVector<int>{1, 1, 1}));
    EXPECT_EQ(cam1->shown, (QVector<int>{1, 1}));
    EXPECT_EQ(wordAtShow, (QVector<int>{0, 0, 0}));
    cycle->cancelCountdowns();
}

TEST_F(CycleTest, LostCameraIsNeitherCheckedNorCountedAndSlowsThePolling)
{
    QSignalSpy lost(cycle.get(), &DetectionCycle::sigCameraLostChanged);
    cam1->connected = false;
    cycle->start();
    runPass();
    EXPECT_EQ(cycle->nextIntervalMs(), DetectionCycle::kLostRunMs);
    ASSERT_EQ(lost.count(), 1);
    EXPECT_TRUE(lost[0][0].toBool());

    pressInput(0);
    runPass();
    EXPECT_EQ(cam1->checks, 0);
    EXPECT_EQ(counters(gAllNum), (QVector<int>{1, 0}));
    EXPECT_TRUE(cam1->imageCalls.isEmpty());

    cam1->connected = true;
    runPass();
    EXPECT_EQ(cycle->nextIntervalMs(), DetectionCycle::kRunMs);
    EXPECT_FALSE(lost.last()[0].toBool());
    cycle->stop();
}

TEST_F(CycleTest, InputChangeRunsTheCycleAtOnce)
{
    cycle->start();
    EXPECT_EQ(cycle->runTimer()->interval(), DetectionCycle::kRunMs);
    pressInput(0);
    EXPECT_EQ(cycle->runTimer()->interval(), DetectionCycle::kIoChangeRunMs);
    QTRY_COMPARE_WITH_TIMEOUT(cam0->checks, 1, 500);
    cycle->stop();
}

TEST_F(CycleTest, ProductionAlarmAfterTheConfiguredOkCycles)
{
    para->okMoldNumber = 2;
    pressInput(0);
    runPass();
    EXPECT_EQ(win->prodAlarmCount, 1);
    EXPECT_EQ(outputWord() & (kClampBit | kAlarmBit), 0);
    releaseInputs();
    pressInput(0);
    runPass();
    EXPECT_EQ(win->prodAlarmCount, 2);
    EXPECT_EQ(outputWord() & (kClampBit | kAlarmBit), kClampBit | kAlarmBit);

    // An NG cycle does not count towards it.
    win->prodAlarmCount = 0;
    cam0->ok = false;
    releaseInputs();
    pressInput(0);
    runPass();
    EXPECT_EQ(win->prodAlarmCount, 0);
}

TEST_F(CycleTest, MultiDetectionCycleCountsCyclesAtTheLastDetection)
{
    gDNum = 3;
    para->detectEnable[0] = 1;
    para->detectEnable[2] = 1;
    para->trigInput[0] = 0;
    para->trigInput[1] = 2;
    para->trigInput[2] = 3;
    pressInput(0);
    runPass();
    cam1->ok = false;
    pressInput(2);
    runPass();
    EXPECT_EQ(counters(gAllCycleNum), (QVector<int>{0, 0}));
    cam1->ok = true;
    pressInput(3);
    runPass();
    EXPECT_EQ(counters(gAllNum), (QVector<int>{3, 3}));
    EXPECT_EQ(counters(gAllCycleNum), (QVector<int>{1, 1}));
    EXPECT_EQ(counters(gFailCycleNum), (QVector<int>{0, 1})) << "an NG in any detection makes the cycle NG";
    EXPECT_EQ(gSyncNGCycleNum, 1);
    EXPECT_EQ(gSyncNGNum, 1);
}

TEST_F(CycleTest, MouldNgIsRecheckedBeforeItAlarms)
{
    para->recheckTimes = 2;
    para->recheckDelay = 1;
    cam0->ok = false;
    pressInput(0);
    runPass();
    EXPECT_EQ(cam0->checks, 1);
    EXPECT_TRUE(win->recheckActive);
    EXPECT_EQ(win->recheckMade[1], 1);
    EXPECT_EQ(outputWord() & kNgOutputs, 0) << "no alarm while rechecks remain";
    EXPECT_EQ(gAllNum[0], 0) << "a recheck is not counted";

    // Still NG on both rechecks: then it alarms, once.
    QTRY_COMPARE_WITH_TIMEOUT(cam0->checks, 3, 1000);
    EXPECT_FALSE(win->recheckActive);
    EXPECT_EQ(win->recheckMade[1], 0);
    EXPECT_EQ(outputWord() & kNgOutputs, kClampBit | kAlarmBit);
    EXPECT_EQ(gFailNum[0], 1);

    // The part falls out before the first recheck: OK without alarm.
    cycle->clearAlarm();
    releaseInputs();
    pressInput(0);
    runPass();
    cam0->ok = true;
    QTRY_COMPARE_WITH_TIMEOUT(cam0->checks, 5, 1000);
    QTest::qWait(150);
    EXPECT_EQ(cam0->checks, 5);
    EXPECT_EQ(outputWord() & kNgOutputs, 0);
    EXPECT_EQ(gFailNum[0], 1);
    EXPECT_EQ(gAllNum[0], 2);
}

TEST_F(CycleTest, TwoStageModesAlternateBetweenTheStagesWithStageGroupsTwoAndThree)
{
    twoStages(DetectionCycle::kAnyOfInputs2And3);
    QList<int> detections;
    QObject::connect(win.get(), &MainWindowBase::sendRecord, win.get(),
                     [&](int d, int, QList<bool>, bool) { detections << d; });

    pressInput(0);
    runPass();
    pressInput(3);
    runPass();
    EXPECT_EQ(detections, (QList<int>{0, 1}));
    EXPECT_EQ(win->stageFlag, 0) << "the next machine cycle checks the other stage";
    EXPECT_EQ(counters(gAllCycleNum), (QVector<int>{1, 1}));

    releaseInputs();
    pressInput(0);
    runPass();
    pressInput(2);
    runPass();
    EXPECT_EQ(detections, (QList<int>{0, 1, 2, 3}));
    EXPECT_EQ(win->stageFlag, 1);
    EXPECT_EQ(counters(gAllCycleNum), (QVector<int>{2, 2}));

    // Stage groups 1 keep the second stage.
    para->stageGroups = 1;
    win->stageFlag = 0;
    releaseInputs();
    pressInput(0);
    runPass();
    pressInput(2);
    runPass();
    EXPECT_EQ(detections.mid(4), (QList<int>{2, 3}));
    EXPECT_EQ(win->stageFlag, 0);
}

TEST_F(CycleTest, ShakeEraseTimeIgnoresShortFlickers)
{
    para->shakeEraseTime = 2;
    pressInput(0);
    runPass();
    EXPECT_EQ(cam0->checks, 0) << "not yet steady";
    releaseInputs();
    QTest::qWait(250);
    runPass();
    EXPECT_EQ(cam0->checks, 0) << "a flicker shorter than 200 ms is dropped";

    pressInput(0);
    runPass();
    QTest::qWait(250);
    runPass();
    EXPECT_EQ(cam0->checks, 1);
    runPass();
    EXPECT_EQ(cam0->checks, 1) << "one trigger per edge";
}

TEST_F(CycleTest, PreCutInterlocksTheClampBeforeTheLastDetectionChecks)
{
    para->trigInDelay[1] = 5;
    para->preCutTime = 2;
    pressInput(0);
    runPass();
    EXPECT_EQ(outputWord() & kClampBit, 0) << "not while more than preCutTime remains";
    QTRY_COMPARE_WITH_TIMEOUT(outputWord() & kClampBit, kClampBit, 1000);
    EXPECT_LE(cycle->countdown(1), 0.25f);
    EXPECT_EQ(cam0->checks, 0) << "before the check";
    QTRY_COMPARE_WITH_TIMEOUT(cam0->checks, 1, 1000);
    EXPECT_EQ(outputWord() & kClampBit, 0) << "released by the OK result";
}

TEST_F(CycleTest, AnNgAfterThePreCutKeepsTheClampUntilTheAlarmIsCleared)
{
    para->trigInDelay[1] = 3;
    para->preCutTime = 2;
    cam0->ok = false;
    cam0->outputs = {1};
    pressInput(0);
    runPass();
    QTRY_COMPARE_WITH_TIMEOUT(cam0->checks, 1, 2000);
    EXPECT_EQ(outputWord() & kNgOutputs, kClampBit | kEjectorBit | kAlarmBit);
    EXPECT_FALSE(cycle->isPreCut());
    EXPECT_EQ(cycle->heldOutputs() & kClampBit, kClampBit) << "the NG holds the pre-cut's clamp";
    cycle->clearAlarm();
    EXPECT_EQ(outputWord() & kNgOutputs, 0) << "clearing the alarm releases the clamp too";
}

TEST_F(CycleTest, AnNgNumberOfAPictureNotKeptDoesNotNameTheNextOne)
{
    gPicNumNG = 0;
    cam1->ok = false;
    gFailIndex[1][1] = 3;  // as the camera unit marks its first NG ROI
    pressInput(0);
    runPass();
    EXPECT_EQ(gisSaveFail[1][1][0], 0);
    EXPECT_EQ(gFailIndex[1][1], 0);

    gPicNumNG = 5;
    cycle->clearAlarm();
    gFailIndex[1][1] = 2;
    releaseInputs();
    pressInput(0);
    runPass();
    EXPECT_EQ(gisSaveFail[1][1][0], 1);
    EXPECT_EQ(gFailIndex[1][1], 2) << "left for the writer";
}

TEST_F(CycleTest, SeparateStopOutputsForCavityAndProductAlarms)
{
    gDNum = 2;
    para->detectEnable[0] = 1;
    para->trigInput[0] = 2;
    para->cavityAlarmOutputO4 = 1;
    para->prodAlarmOutputO5 = 1;
    cam0->ok = false;
    pressInput(0);
    runPass();
    EXPECT_EQ(outputWord() & 0x1F, kClampBit | kAlarmBit | 0x08) << "mould cavity NG: O4";
    cycle->clearAlarm();
    EXPECT_EQ(outputWord() & 0x1F, 0);
    pressInput(2);
    runPass();
    EXPECT_EQ(outputWord() & 0x1F, kClampBit | kAlarmBit | 0x10) << "finished product NG: O5";
}

TEST_F(CycleTest, TheCycleIsClosedBeforeItsPicturesAreHandedToTheWriter)
{
    // The picture writer runs on its own thread: a picture marked before the cycle
    // record is closed could be saved into no record at all.
    cam1->ok = false;
    int markedWhenClosed = -1;
    QObject::connect(cycle.get(), &DetectionCycle::sigCycleFinished, win.get(),
                     [&](bool ng) {
                         EXPECT_TRUE(ng);
                         markedWhenClosed = gisSaveFail[1][1][0];
                     });
    pressInput(0);
    runPass();
    EXPECT_EQ(markedWhenClosed, 0);
    EXPECT_EQ(gisSaveFail[1][1][0], 1);
}

// "Recheck all cameras" off: only the cameras that found the NG look again; a
// camera lost before its recheck keeps the NG it found (the mould stays interlocked).
TEST_F(CycleTest, ARecheckLooksAgainAtTheNgCamerasOrAllOfThemAndKeepsAnNgItCannotSee)
{
    para->recheckTimes = 1;
    para->recheckDelay = 1;
    cam1->ok = false;
    pressInput(0);
    runPass();
    QTRY_COMPARE_WITH_TIMEOUT(cam1->checks, 2, 1000);
    EXPECT_EQ(cam0->checks, 1) << "the OK camera is not checked again";
    EXPECT_EQ(outputWord() & kNgOutputs, kClampBit | kAlarmBit);
    EXPECT_EQ(counters(gFailNum), (QVector<int>{0, 1}));

    cycle->clearAlarm();
    para->recheckAllCameras = 1;
    releaseInputs();
    pressInput(0);
    runPass();
    QTRY_COMPARE_WITH_TIMEOUT(cam1->checks, 4, 1000);
    EXPECT_EQ(cam0->checks, 3) << "every camera is checked again";

    cycle->clearAlarm();
    releaseInputs();
    pressInput(0);
    runPass();
    ASSERT_TRUE(win->recheckActive);
    cam1->connected = false;
    QTRY_VERIFY_WITH_TIMEOUT(!win->recheckActive, 1000);
    EXPECT_EQ(cam1->checks, 5);
    EXPECT_EQ(outputWord() & kNgOutputs, kClampBit | kAlarmBit) << "the NG found before the loss stands";
    EXPECT_EQ(counters(gFailNum), (QVector<int>{0, 3}));
}

TEST_F(CycleTest, ACheckThatReachedNoCameraIsToldAndStopsTheMachine)
{
    MessageLog log;
    win->resultState = 2;  // an NG shown
    cam0->connected = cam1->connected = false;
    for (int mould = 0; mould < 3; ++mould) {
        releaseInputs();
        pressInput(0);
        runPass();
    }
    cam0->connected = cam1->connected = true;
    runPass();
    cam0->connected = false;
    cam1->connected = false;
    releaseInputs();
    pressInput(0);
    runPass();
    EXPECT_EQ(log.lines.filter(QRegularExpression("detection 2: check not inspected, no camera could be checked")).size(), 4)
        << "every mould nobody looked at is told";
    EXPECT_EQ(cycle->uninspected(), 4);
    EXPECT_EQ(outputWord() & kNgOutputs, kClampBit | kAlarmBit) << "an unknown mould stops the machine";
    EXPECT_EQ(counters(gAllCycleNum), (QVector<int>{0, 0}));
    EXPECT_EQ(win->resultState, 2) << "nothing was decided";
}

// Cycle, writer and hub wired as the main window wires them. The writer saves a cycle's NG picture
// only after the next cycle has been decided: it stays with its own cycle, out of the next one's record.
TEST_F(CycleTest, APictureSavedLateStaysWithTheCycleItWasTakenIn)
{
    VEK_NETMN* hub = VEK_NETMN::getInstance();
    hub->setWorkTask(true, false, false);   // cycles recorded; no service runs
    const auto restore = qScopeGuard([hub] {
        hub->setWorkTask(false, false, false);
        hub->clear_PeriodRecord();
        Clock::reset();
    });
    QObject::connect(cycle.get(), &DetectionCycle::sigCycleStarted, hub, [hub] { hub->start_PeriodRecord(); });
    QObject::connect(cycle.get(), &DetectionCycle::sigCycleFinished, hub, [hub](bool) { hub->finish_PeriodRecord(); });
    SaveFialImageThread writer;
    QObject::connect(&writer, &SaveFialImageThread::sigImageSaved, hub, &VEK_NETMN::add_PeriodRecord_Picture);
    gPicNumOK = 5;
    FailPicture stored[2];
    const std::vector<QRgb> pixels(64 * 48, 0xFF808080u);
    QStringList ids;
    for (int slot = 0; slot < 2; ++slot) {   // an NG cycle, then an OK one
        stored[slot].store(pixels.data(), 64, 48);
        gpFailImage[1][1][slot] = &stored[slot];
        Clock::setFixed(QDateTime(QDate(2026, 3, 14), QTime(9, 0, slot)));
        cam1->ok = slot == 1;
        cycle->clearAlarm();
        releaseInputs();
        pressInput(0);
        runPass();
        ids << hub->currentCycleId();
        EXPECT_EQ(gSaveFailCycleId[1][1][slot], ids.last());
    }
    ASSERT_NE(ids.first(), ids.last());
    ASSERT_EQ(writer.saveOnce(), 2);
    EXPECT_EQ(hub->lastDetectInfo.getValue().pictures.keys(), QStringList{"1;1;1"});
}
