#include "shellfixture.h"

#include "alarmclearmethod.h"
#include "controlport.h"
#include "detectioncycle.h"
#include "wizardpara.h"

#include <QSignalSpy>

// What the companion process hears of an alarm: one start per alarm, one
// release with the cameras it held and how it was released.
TEST_F(CycleTest, AnAlarmStartsOnceAndIsReleasedWithItsCamerasAndMethod)
{
    QSignalSpy started(cycle.get(), &DetectionCycle::sigAlarmStarted);
    QSignalSpy released(cycle.get(), &DetectionCycle::sigAlarmReleased);
    cam1->ok = false;
    pressInput(0);
    runPass();
    releaseInputs();
    cam0->ok = false;
    pressInput(0);
    runPass();
    ASSERT_EQ(started.count(), 1) << "a second NG belongs to the running alarm";
    EXPECT_EQ(started[0][0].toInt(), 0);
    EXPECT_EQ(released.count(), 0);

    // An OK check of the same detection releases it.
    releaseInputs();
    cam0->ok = cam1->ok = true;
    pressInput(0);
    runPass();
    ASSERT_EQ(released.count(), 1);
    EXPECT_EQ(released[0][0].value<QList<int>>(), (QList<int>{1, 0}));
    EXPECT_EQ(released[0][1].toInt(), int(AlarmClearMethod::RedetectOk));

    // The operator's clear names the cameras of that alarm only; a second clear reports nothing.
    releaseInputs();
    cam0->ok = false;
    pressInput(0);
    runPass();
    EXPECT_EQ(started.count(), 2);
    cycle->clearAlarm(AlarmClearMethod::DontDetect);
    cycle->clearAlarm(AlarmClearMethod::DontDetect);
    ASSERT_EQ(released.count(), 2);
    EXPECT_EQ(released[1][0].value<QList<int>>(), (QList<int>{0}));
    EXPECT_EQ(released[1][1].toInt(), int(AlarmClearMethod::DontDetect));
}
