#include "calibrationhold.h"
#include "fakeshellrunner.h"
#include "qttesthelpers.h"

#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>

TEST(CalibrationHold, AHeldTouchStartsTheCalibrationAndALiftEndsTheHold)
{
    FakeShellRunner shell;
    CalibrationHold hold;
    QSignalSpy activity(&hold, &CalibrationHold::sigUserActivity);
    QWidget widget;
    QObject plain;
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(1, 1), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(1, 1), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);

    hold.observe(&plain, &press);
    EXPECT_FALSE(hold.isActive()) << "only presses on widgets count";
    hold.observe(&widget, &press);
    EXPECT_TRUE(hold.isActive());
    EXPECT_EQ(hold.timer()->interval(), CalibrationHold::kHoldMs);
    EXPECT_EQ(activity.count(), 1);
    hold.observe(&widget, &release);
    EXPECT_FALSE(hold.isActive());

    hold.observe(&widget, &press);
    hold.stop();
    EXPECT_FALSE(hold.isActive()) << "the main window's own long touch";
    EXPECT_TRUE(shell.calls().isEmpty());

    hold.observe(&widget, &press);
    hold.timer()->setInterval(1);
    hold.timer()->start();
    QTRY_VERIFY_WITH_TIMEOUT(shell.ran("./tsc"), 1000);
    EXPECT_TRUE(shell.calls().first().detached);
}
