// The machine's safety through the detection cycle on its real timers: an NG
// holds until the camera that found it sees the mould OK again, pre-cut holds
// until the whole cycle is decided, no trigger goes by without a check or a
// word, and the statistics count each cycle once, at its close.
#include "shellfixture.h"

#include "alarmclearmethod.h"
#include "clock.h"
#include "controlport.h"
#include "detectioncycle.h"
#include "globals.h"
#include "qttesthelpers.h"
#include "standingalarm.h"
#include "statecodes.h"
#include "wizardpara.h"

#include <QCoreApplication>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

#include <utility>

namespace {
const int kClampBit = 0x1;
const int kAlarmBit = 0x4;
const int kStop = kClampBit | kAlarmBit;

// The clamp's switches as the cycle made them at the port (steady-clock ns), read from
// the port's record rather than sampled: a thread run late by a loaded machine misses none.
struct ClampWatch
{
    explicit ClampWatch(const RecordingPort* port)
        : io(port), from(port->words.size()), startNs(RecordingPort::nowNs()), onAtStart(port->outputWord() & kClampBit)
    {
    }
    QVector<qint64> onAt() const { return switches(true); }
    QVector<qint64> offAt() const { return switches(false); }
    QVector<qint64> switches(bool on) const
    {
        QVector<qint64> at;
        bool clamp = onAtStart;
        if (clamp && on)
            at << startNs;
        for (size_t i = from; i < io->words.size(); ++i) {
            const bool now = io->words[i].word & kClampBit;
            if (now != clamp && now == on)
                at << io->words[i].ns;
            clamp = now;
        }
        return at;
    }
    const RecordingPort* io;
    size_t from;
    qint64 startNs;
    bool onAtStart;
};
}

class CycleSafetyTest : public CycleTest
{
protected:
    void mould(int input = 0)
    {
        releaseInputs();
        runPass();
        pressInput(input);
        runPass();
    }
    void multi(std::initializer_list<int> delays) { setMultiDetection(*para, delays); }
    // The board's inputs as the IO thread saw them msAgo before now.
    void seen(int word, qint64 msAgo) { reportInputs(word, MonotonicClock::ms() - msAgo); }
    // With a shake-erase time of 300 ms: the mould finds an NG; the door, opened 120 ms
    // after the mould and so before that NG, is taken by the cycle after it.
    void doorDuringTheCheck()
    {
        seen(0x1, 400);
        seen(0x1 | (1 << DetectionCycle::kSafetyDoorInput), 280);
        runPass();
        ASSERT_EQ(outputWord() & kStop, kStop);
        QTest::qWait(40);
        runPass();
    }
    // A new process on the same folder: a fresh board and cycle that raise what alarm.ini keeps.
    void restart()
    {
        QCoreApplication::processEvents();
        cycle.reset();
        io = std::make_unique<RecordingPort>();
        gpControlIO = io.get();
        win = std::make_unique<CycleWindow>();
        cycle = std::make_unique<DetectionCycle>(win.get(), io.get());
        win->cycle = cycle.get();
        cycle->setUnits({cam0, cam1});
        store = std::make_unique<StandingAlarm>();
        cycle->raiseStandingAlarm(store->load());
        cycle->setStandingAlarm(store.get());
    }
    static QByteArray alarmFile()
    {
        QFile file(StandingAlarm::kFileName);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    std::unique_ptr<StandingAlarm> store;
};

// Camera 2 sees a part, camera 1 an empty mould; camera 2 is lost and comes back.
TEST_F(CycleSafetyTest, ACameraThatCannotBeCheckedKeepsItsNgWhateverTheOthersSee)
{
    MessageLog log;
    QList<bool> lastRecord;
    QObject::connect(cycle.get(), &DetectionCycle::sigCycleFinished, win.get(), [&](bool ng) { lastRecord << ng; });
    cam1->ok = false;
    mould();
    mould();
    ASSERT_EQ(outputWord() & kStop, kStop);

    cam1->connected = false;
    runPass();
    mould();
    EXPECT_EQ(cam0->checks, 3);
    EXPECT_EQ(outputWord() & kStop, kStop) << "camera 1's OK releases nothing camera 2 holds";
    EXPECT_EQ(lastRecord.last(), true) << "the record of a check that missed the NG camera is no OK";
    EXPECT_EQ(win->resultState, 2);
    EXPECT_EQ(log.lines.filter("detection 2: NG, checked in").size(), 3) << log.lines.join('\n').toStdString();
    EXPECT_EQ(log.lines.filter("detection 2: camera 2 not checked, its NG holds").size(), 1);
    EXPECT_EQ(gFailNum[1], 3) << "camera 2's held NG is its NG step, as the record says";
    EXPECT_EQ(gSyncNGCycleNum, 3);

    cam1->connected = true;
    runPass();
    EXPECT_EQ(outputWord() & kStop, kStop) << "the camera's return releases nothing";

    // Multi-detection: detection 1 checks camera 2 OK while detection 2's NG of it holds.
    cam1->connected = false;
    multi({0, 0});
    cam1->judge = [](int d) { return d == 0; };
    mould();
    EXPECT_EQ(outputWord() & kStop, kStop);
    cam1->connected = true;
    runPass();
    EXPECT_EQ(outputWord() & kStop, kStop);

    // A release with Re-detect hands the NG to the check it starts: camera 2, lost, cannot be
    // looked at again, so the stop stays without a gap; camera 1's OK does not end it.
    cam1->connected = false;
    const int offs = io->offs[0];
    EXPECT_EQ(cycle->releaseAndRecheck(AlarmClearMethod::Redetect), QVector<int>({1}));
    runPass();
    EXPECT_EQ(outputWord() & kStop, kStop) << "a Re-detect that could not see camera 2 released its NG";
    EXPECT_EQ(io->offs[0], offs);
    EXPECT_TRUE(cycle->alarmStands());
    cam1->connected = true;
    runPass();
    EXPECT_EQ(outputWord() & kStop, kStop);

    // Only a check of camera 2 in detection 2 that finds it OK releases the machine.
    cam1->judge = nullptr;
    cam1->ok = true;
    mould();
    EXPECT_EQ(outputWord() & kStop, 0);
    EXPECT_EQ(lastRecord.last(), false);
}

// Three detections on one input, only detection 2 sees the part, with rechecks and pre-cut.
TEST_F(CycleSafetyTest, PreCutHoldsUntilTheWholeCycleIsDecided)
{
    for (const auto& delays : {std::vector<int>{1, 3, 4}, std::vector<int>{4, 4, 1}}) {
        SCOPED_TRACE(delays[0] == 1 ? "in order" : "out of order");
        releaseInputs();
        cycle->clearAlarm();
        cycle->cancelCountdowns();
        multi({delays[0], delays[1], delays[2]});
        para->recheckTimes = 2;
        para->recheckDelay = 2;
        para->preCutTime = 3;
        cam1->judge = [](int d) { return d != 1; };
        ClampWatch watch(io.get());
        mould();
        QTRY_VERIFY_WITH_TIMEOUT(cycle->isAlarmed() && cycle->openCycleSerial() == 0, 10000);
        QTest::qWait(20);
        ASSERT_FALSE(watch.onAt().isEmpty());
        EXPECT_EQ(watch.offAt().size(), 0) << "the clamp never went off on a mould with a part";
        EXPECT_EQ(outputWord() & kStop, kStop);

        // The same with an empty mould: the clamp goes off only once every detection has looked.
        cycle->clearAlarm();
        cam1->judge = nullptr;
        cam1->ok = true;
        const int before = cam0->checks;
        qint64 lastCheck = -1;
        cam0->judge = [&](int) {
            lastCheck = RecordingPort::nowNs();
            return true;
        };
        ClampWatch empty(io.get());
        mould();
        QTRY_COMPARE_WITH_TIMEOUT(cam0->checks - before, 3, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(outputWord() & kClampBit, 0, 5000);
        ASSERT_EQ(empty.onAt().size(), 1);
        ASSERT_EQ(empty.offAt().size(), 1);
        EXPECT_GE(empty.offAt().first(), lastCheck) << "released after the last detection checked";
        cam0->judge = nullptr;
    }
}

TEST_F(CycleSafetyTest, NoTriggerIsDroppedWithoutAWord)
{
    MessageLog log;
    int records = 0;
    QObject::connect(cycle.get(), &DetectionCycle::sigCycleFinished, win.get(), [&](bool) { ++records; });
    cam1->ok = false;

    // The next mould comes while the NG waits for its recheck: confirmed at once.
    para->trigInDelay[1] = 1;
    para->recheckTimes = 2;
    para->recheckDelay = 3;
    mould();
    QTRY_VERIFY_WITH_TIMEOUT(win->recheckActive, 1000);
    EXPECT_EQ(outputWord() & kStop, 0) << "not yet confirmed";
    mould();
    EXPECT_EQ(outputWord() & kStop, kStop) << "confirmed by the next mould's trigger";
    EXPECT_EQ(gSyncNGCycleNum, 1);
    EXPECT_EQ(log.lines.filter("detection 2: the next mould came before the recheck, NG confirmed").size(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(records, 2, 3000);
    EXPECT_EQ(gSyncNGCycleNum, 2) << "the second mould is checked and counted too";
    cycle->clearAlarm();

    // Stopping detection during a recheck's wait does not drop the NG found.
    mould();
    QTRY_VERIFY_WITH_TIMEOUT(win->recheckActive, 1000);
    cycle->cancelCountdowns();
    EXPECT_EQ(outputWord() & kStop, kStop);
    EXPECT_EQ(gSyncNGCycleNum, 3);
    cycle->clearAlarm();
}

// Every release lifts only the NGs that stood when its signal came: the safety door, the
// operator's tap, the clearing input (after its delay), the door that skips a product NG.
TEST_F(CycleSafetyTest, AReleaseLiftsOnlyTheAlarmsThatStoodWhenItsSignalCame)
{
    const int door = DetectionCycle::kSafetyDoorInput;
    para->shakeEraseTime = 3;
    para->safetyDoorClearsAlarm = 1;
    cam1->ok = false;
    doorDuringTheCheck();
    EXPECT_EQ(outputWord() & kStop, kStop) << "the door opened before this NG";
    EXPECT_TRUE(cycle->alarmStands());
    // A door opened after the NG lifts it.
    para->shakeEraseTime = 0;
    seen(0, 0);
    seen(1 << door, 0);
    runPass();
    EXPECT_EQ(outputWord() & kStop, 0);
    EXPECT_FALSE(cycle->alarmStands());

    // The operator's choice, made in a box opened before the NG.
    releaseInputs();
    const qint64 tap = MonotonicClock::ms() - 1;
    mould();
    ASSERT_EQ(outputWord() & kStop, kStop);
    cycle->clearAlarm(AlarmClearMethod::DontDetect, tap);
    EXPECT_EQ(outputWord() & kStop, kStop) << "the NG came after the tap";
    EXPECT_EQ(win->pageState, kPageAlarm);
    cycle->clearAlarm(AlarmClearMethod::DontDetect);
    EXPECT_EQ(outputWord() & kStop, 0);

    // The clearing input (mode 3, input 3) lifts after its delay what stood at its signal.
    setMultiDetection(*para, {0, 0});
    para->inFunc[1] = kInFunctionClearAlarm;
    para->reInspectionDelay = 2;
    cam1->judge = [](int d) { return d != 1; };
    mould();
    ASSERT_EQ(outputWord() & kStop, kStop);
    mould(2);               // the clearing signal
    QTest::qWait(3);
    mould();                // the next mould's NG, before the release comes
    QTest::qWait(300);
    EXPECT_EQ(outputWord() & kStop, kStop) << "the delayed release lifts nothing decided after its signal";
    mould(2);
    QTRY_COMPARE_WITH_TIMEOUT(outputWord() & kStop, 0, 2000);

    // Reset and recheck: the alarmed detection 1 is checked again, not detection 2 (checked
    // last, OK); its outputs stay on without a gap until that check decides.
    para->inputResetRecheck = 1;
    para->reInspectionDelay = 0;
    cam1->judge = [](int d) { return d != 0; };
    mould();
    ASSERT_EQ(outputWord() & kStop, kStop);
    ASSERT_EQ(win->checkDetect, 1);
    const int offs = io->offs[0];
    MessageLog log;
    mould(2);
    QTRY_COMPARE_WITH_TIMEOUT(log.lines.filter("detection 1: NG").size(), 1, 2000);
    EXPECT_EQ(log.lines.filter("detection 2:").size(), 0) << "detection 1 is checked again";
    EXPECT_EQ(outputWord() & kStop, kStop) << "still NG";
    EXPECT_EQ(io->offs[0], offs) << "no gap while it was checked again";
    cam1->judge = nullptr;
    cam1->ok = true;
    mould(2);
    QTRY_COMPARE_WITH_TIMEOUT(outputWord() & kStop, 0, 2000);   // released once the check found it OK

    // The door that skips a product NG skips only one that stood when it opened.
    para->trigMode = 0;
    gDNum = 2;
    para->detectEnable[0] = 1;
    para->safetyDoorClearsAlarm = 0;
    para->prodNgSkipRecheck = 1;
    para->shakeEraseTime = 3;
    cam1->judge = [](int d) { return d != 0; };
    seen(0, 0);
    doorDuringTheCheck();
    EXPECT_EQ(outputWord() & kStop, kStop) << "the product NG came after the door opened";
}

// The GUI thread looks late: the pulse is judged by the times the IO thread saw it.
TEST_F(CycleSafetyTest, APulseSeenLateIsJudgedByItsOwnLength)
{
    para->shakeEraseTime = 1;
    const qint64 t0 = MonotonicClock::ms();
    reportInputs(0x1, t0 - 400);
    reportInputs(0x0, t0 - 250);   // 150 ms high: a trigger
    reportInputs(0x1, t0 - 200);
    reportInputs(0x0, t0 - 150);   // 50 ms: a flicker
    reportInputs(0x1, t0 - 100);
    reportInputs(0x0, t0 + 0);     // 100 ms: a trigger
    runPass();
    EXPECT_EQ(cam0->checks, 2) << "two steady pulses, two moulds";
    EXPECT_EQ(cycle->uninspected(), 0);
    EXPECT_EQ(gAllCycleNum[0], 2);
    runPass();
    EXPECT_EQ(cam0->checks, 2);

    // After a stall of the IO thread the pulse may have risen long before it was seen: its
    // length is still what was seen of it, and a short one stays a flicker.
    reportInputs(0x1, t0 + 1, t0 - 400);
    reportInputs(0x0, t0 + 50);
    runPass();
    EXPECT_EQ(cam0->checks, 2);
}

// Pulses of several inputs latched while the GUI thread looked away are taken in the order
// they rose, whatever the order of the inputs: each detection's check follows its own signal.
TEST_F(CycleSafetyTest, LatchedPulsesOfSeveralInputsAreTakenInTheOrderTheyRose)
{
    setMultiDetection(*para, {0, 0, 0}, {3, 0, 2});
    QVector<int> order;
    cam0->judge = [&](int d) {
        order << d;
        return true;
    };
    const qint64 t0 = MonotonicClock::ms();
    reportInputs(1 << 3, t0 - 300);
    reportInputs(1 << 3 | 1 << 0, t0 - 200);
    reportInputs(1 << 3 | 1 << 0 | 1 << 2, t0 - 100);
    reportInputs(0, t0 - 50);
    runPass();
    EXPECT_EQ(order, (QVector<int>{0, 1, 2})) << "inputs 4, 1, 3 rose in this order";
    order.clear();
    reportInputs(1 << 2, t0 - 40);
    reportInputs(1 << 2 | 1 << 3, t0 - 30);
    reportInputs(0, t0 - 20);
    runPass();
    EXPECT_EQ(order, (QVector<int>{2, 0}));
}

// The statistics count a cycle once, at its own close; a Re-detect changes no count.
TEST_F(CycleSafetyTest, StatisticsCountEachCycleAtItsClose)
{
    int closes = 0, steps = 0;
    QObject::connect(win.get(), &MainWindowBase::sendRecord, win.get(), [&](int, int, QList<bool>, bool last) {
        ++steps;
        closes += last ? 1 : 0;
    });
    multi({2, 1, 0});   // out of order: detection 3 checks first
    para->recheckTimes = 1;
    para->recheckDelay = 2;
    cam1->judge = [](int d) { return d != 0; };
    mould();
    QTRY_COMPARE_WITH_TIMEOUT(cycle->openCycleSerial(), 0, 2000);
    EXPECT_EQ(steps, 3);
    EXPECT_EQ(closes, 1) << "detection 3 checked first, not last";
    cycle->clearAlarm();
    cycle->redetect(0);
    QTRY_COMPARE_WITH_TIMEOUT(cycle->openCycleSerial(), 0, 2000);
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(gSyncNGCycleNum, 1);
}

// Two stages alternate per mould also when a mould is given up during a recheck.
TEST_F(CycleSafetyTest, TheStageSwitchesForAGivenUpCycle)
{
    twoStages(2);
    para->recheckTimes = 1;
    para->recheckDelay = 5;
    cam1->judge = [](int d) { return d != 1; };
    mould(0);
    mould(2);   // detection 2 waits for its recheck
    ASSERT_TRUE(win->recheckActive);
    mould(0);   // the next mould: detection 1's input comes again
    EXPECT_EQ(win->stageFlag, 0) << "the given-up mould switched the stage";
    EXPECT_GE(cam0->checks, 3);
}

// A standing alarm is on disk from the moment it changes (a power cut loses nothing) and the
// next start raises it again, until a release signalled after that start or an OK check of
// its cameras; what a pending Re-detect keeps on is kept too.
TEST_F(CycleSafetyTest, AStandingAlarmOutlivesARestart)
{
    const int ejectorAndAlarm = 0x6;
    restart();
    EXPECT_EQ(outputWord(), 0);
    EXPECT_TRUE(win->records.isEmpty()) << "nothing stood";
    cam1->ok = false;
    cam1->outputs = {1};
    mould();
    ASSERT_EQ(outputWord() & 0xF, ejectorAndAlarm);
    EXPECT_EQ(alarmFile(), QByteArray("[alarm]\nposition=0\ncameras=2\ndetection2.cameras=2\ndetection2.outputs=6\n"));

    restart();
    EXPECT_EQ(outputWord() & 0xF, ejectorAndAlarm);
    EXPECT_EQ(cycle->heldOutputs(), unsigned(ejectorAndAlarm));
    EXPECT_EQ(win->pageState, kPageAlarm);
    EXPECT_EQ(win->resultState, 2);
    EXPECT_EQ(win->checkDetect, 1);
    EXPECT_EQ(win->records, QStringList{"operate: NG alarm raised again after restart: detection 2 camera 2 outputs 0x06"});
    // A door that opened before this start does not lift it.
    cycle->clearAlarm(AlarmClearMethod::DontDetect, MonotonicClock::ms() - 1000);
    EXPECT_EQ(outputWord() & 0xF, ejectorAndAlarm);
    // Camera 2 cannot be checked: camera 1's OK releases nothing; camera 2's OK does.
    cam1->ok = true;
    cam1->connected = false;
    mould();
    EXPECT_EQ(outputWord() & 0xF, ejectorAndAlarm);
    cam1->connected = true;
    mould();
    EXPECT_EQ(outputWord() & 0xF, 0);
    QCoreApplication::processEvents();
    EXPECT_FALSE(StandingAlarm().load().stands());
    restart();
    EXPECT_EQ(outputWord(), 0);
    EXPECT_TRUE(win->records.isEmpty());

    // Released with Re-detect, its check still counting down: the outputs it keeps stand.
    cam1->ok = false;
    mould();
    para->trigInDelay[1] = 30;
    cycle->releaseAndRecheck(AlarmClearMethod::Redetect);
    ASSERT_TRUE(cycle->isCounting(1));
    restart();
    EXPECT_EQ(outputWord() & 0xF, ejectorAndAlarm);
    // So is the camera its check was to see: lost, camera 1's OK releases nothing.
    para->trigInDelay[1] = 0;
    cam1->connected = false;
    mould();
    EXPECT_EQ(outputWord() & 0xF, ejectorAndAlarm);
    cam1->connected = true;
    cycle->clearAlarm();
    EXPECT_EQ(outputWord() & 0xF, 0);
    EXPECT_EQ(win->pageState, kPageLive);
    EXPECT_TRUE(StandingAlarm().load().stands()) << "written after the event, not during it";
    QCoreApplication::processEvents();
    EXPECT_FALSE(StandingAlarm().load().stands());

    // A damaged file raises nothing it cannot name; outputs beyond the alarm's are not switched.
    for (const auto& [text, word] : {std::pair<QByteArray, int>{"junk\ndetection9.outputs=5\ndetection0.cameras=1\n", 0},
                                     std::pair<QByteArray, int>{"detection1.outputs=65535\ndetection1.cameras=9 x\n", 0x1F}}) {
        QCoreApplication::processEvents();
        QFile file(StandingAlarm::kFileName);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
        file.close();
        restart();
        EXPECT_EQ(outputWord(), word) << text.constData();
        cycle->clearAlarm();
    }
}

// Outputs a release with Re-detect keeps on always show their alarm: the check that was to
// decide them is stopped before it starts, so they are the alarm again, lamp and page too.
TEST_F(CycleSafetyTest, OutputsKeptForAReDetectThatNeverChecksShowTheirAlarm)
{
    QSignalSpy started(cycle.get(), &DetectionCycle::sigAlarmStarted);
    cam1->ok = false;
    mould();
    ASSERT_EQ(outputWord() & kStop, kStop);
    para->trigInDelay[1] = 5;
    EXPECT_EQ(cycle->releaseAndRecheck(AlarmClearMethod::Redetect), QVector<int>({1}));
    ASSERT_TRUE(cycle->isCounting(1));
    EXPECT_EQ(outputWord() & kStop, kStop) << "kept on for the check";
    EXPECT_NE(win->pageState, kPageAlarm);
    const int alarms = started.size();

    MessageLog log;
    cycle->cancelCountdowns();
    EXPECT_EQ(outputWord() & kStop, kStop);
    EXPECT_TRUE(cycle->alarmStands());
    EXPECT_EQ(win->pageState, kPageAlarm);
    EXPECT_EQ(log.lines.filter("LEDOnOff 7 1").size(), 1) << "the NG lamp is on again";
    EXPECT_EQ(started.size(), alarms + 1);
    QSignalSpy released(cycle.get(), &DetectionCycle::sigAlarmReleased);
    cycle->clearAlarm();
    EXPECT_EQ(outputWord() & kStop, 0);
    ASSERT_EQ(released.size(), 1);
    EXPECT_EQ(released.first().first().value<QList<int>>(), QList<int>({1})) << "the alarm camera was shown again";
}
