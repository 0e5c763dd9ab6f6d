// Value boxes, IP and date/time editors, check boxes: typed by touch on the keypad.
#include "widgetfixture.h"

#include "checkbox.h"
#include "clock.h"
#include "colorbutton.h"
#include "editbox.h"
#include "editdatetime.h"
#include "editip.h"
#include "editparam.h"
#include "fakeshellrunner.h"
#include "globals.h"
#include "numberinput.h"

#include <QDateEdit>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QTimeEdit>

namespace {
class ValueBoxTest : public WidgetTest
{
protected:
    EditBox* makeBox(int min, int max, int type = 0, int scale = 1, const QString& unit = QString())
    {
        auto* box = new EditBox(min, max, win.get(), "Caption", unit, type, scale);
        box->move(50, 50);
        box->show();
        return box;
    }

    // A press on the field opens the keypad, as an operator's finger does.
    static void typeInto(QWidget* field, const QList<int>& digits)
    {
        touch(field);
        ASSERT_TRUE(gpNumPad->isVisible());
        for (int digit : digits)
            touch(gpNumPad->digitKey(digit == 0 ? 9 : digit - 1));
    }
};
} // namespace

TEST_F(ValueBoxTest, EveryValueOfTheRangeCanBeTypedAboveAHighMinimum)
{
    EditBox* box = makeBox(30, 200);
    box->setValue(100);
    QSignalSpy changes(box, &EditBox::valueChanged);
    typeInto(box->field(), {4, 5});
    EXPECT_EQ(box->field()->text(), "45");
    touch(gpNumPad->confirmKey());
    EXPECT_EQ(box->value(), 45);
    ASSERT_FALSE(changes.isEmpty());
    EXPECT_EQ(changes.last().at(0).toInt(), 45);

    // Above the maximum: clamped at once.
    typeInto(box->field(), {9, 9, 9});
    EXPECT_EQ(box->value(), 200);
    // Below the minimum: clamped when the entry ends.
    typeInto(box->field(), {1});
    EXPECT_EQ(box->value(), 1);
    touch(gpNumPad->confirmKey());
    EXPECT_EQ(box->value(), 30);
    EXPECT_EQ(box->field()->text(), "30");
}

TEST_F(ValueBoxTest, TypedValuesWithinTheRangeAreAnnouncedKeyByKey)
{
    EditBox* box = makeBox(30, 200);
    box->setValue(100);
    QSignalSpy changes(box, &EditBox::valueChanged);
    typeInto(box->field(), {4});
    EXPECT_TRUE(changes.isEmpty()) << "4 is only on the way to a longer number";
    touch(gpNumPad->digitKey(4));  // 5 appended: 45
    ASSERT_EQ(changes.count(), 1);
    EXPECT_EQ(changes.last().at(0).toInt(), 45);
    touch(gpNumPad->digitKey(8));  // 459: the maximum at once
    ASSERT_EQ(changes.count(), 2);
    EXPECT_EQ(changes.last().at(0).toInt(), 200);
    touch(gpNumPad->bsKey());      // 20: below the minimum again
    EXPECT_EQ(changes.count(), 2);
    touch(gpNumPad->confirmKey());
    EXPECT_EQ(changes.last().at(0).toInt(), 30);

    // Zero stays a value of its own where it is allowed.
    box->setUse0(true);
    changes.clear();
    typeInto(box->field(), {0});
    ASSERT_EQ(changes.count(), 1);
    EXPECT_EQ(changes.last().at(0).toInt(), 0);
}

TEST_F(ValueBoxTest, ScaledDisplayAndBackspaceTruncateTowardZero)
{
    EditBox* box = makeBox(-100, 100, 2, 10);
    box->setValue(53);
    EXPECT_EQ(box->field()->text(), "5.3");
    EXPECT_EQ(box->subFiveButton()->text(), "- 0.5");
    EXPECT_EQ(box->addOneButton()->text(), "+ 0.1");

    box->setValue(0);
    typeInto(box->field(), {5, 3});
    EXPECT_EQ(box->value(), 53);
    EXPECT_EQ(box->field()->text(), "5.3");
    touch(gpNumPad->bsKey());
    EXPECT_EQ(box->value(), 5);
    touch(gpNumPad->bsKey());
    EXPECT_EQ(box->value(), 0);

    box->setValue(-53);
    box->field()->deleteValue(*std::make_unique<bool>(false));
    EXPECT_EQ(box->value(), -5);
}

TEST_F(ValueBoxTest, ZeroAllowedKeepsZeroBelowTheMinimum)
{
    EditBox* box = makeBox(1, 50);
    box->setValue(0);
    EXPECT_EQ(box->value(), 1);
    box->setUse0(true);
    box->setValue(0);
    EXPECT_EQ(box->value(), 0);
}

TEST_F(ValueBoxTest, StepButtonsAndFocusOutAnnounceTheValue)
{
    EditBox* box = makeBox(0, 10);
    box->setValue(8);
    EXPECT_EQ(box->subFiveButton()->text(), "- 5");
    QSignalSpy changes(box, &EditBox::valueChanged);
    touch(box->addOneButton());
    touch(box->addOneButton());
    touch(box->addOneButton());
    EXPECT_EQ(box->value(), 10);
    touch(box->subFiveButton());
    EXPECT_EQ(box->value(), 5);
    EXPECT_EQ(changes.count(), 4);

    // Leaving the field without typing still shows and announces the value.
    touch(box->field());
    EXPECT_EQ(box->field()->text(), "");
    touch(gpNumPad->confirmKey());
    EXPECT_EQ(box->field()->text(), "5");
    EXPECT_EQ(changes.count(), 5);
    EXPECT_EQ(changes.last().at(0).toInt(), 5);
}

TEST_F(ValueBoxTest, SampleModeAndUnitLabel)
{
    EditBox* box = makeBox(0, 1000, 0, 1, "ms");
    box->setValue(12);
    ASSERT_NE(box->field()->unitLabel(), nullptr);
    EXPECT_EQ(box->field()->unitLabel()->width(), 27 * 2 + 10);
    // x = (150 - 64 + trunc(2 * 27 * 0.5)) / 2 = 56
    EXPECT_EQ(box->field()->unitLabelX(), 56);
    box->setSampleMode();
    EXPECT_FALSE(box->addFiveButton()->isVisible());
    EXPECT_EQ(box->field()->width(), 100);
    EXPECT_EQ(box->captionLabel()->width(), 120);
}

TEST_F(ValueBoxTest, IpAddressParseAndFormat)
{
    EditIP ip("IP", 0, win.get());
    ip.setAddress("10.0.0.1");
    EXPECT_EQ(ip.getAddress(), "10.0.0.1");
    ip.setAddress("1.2.3.4.5");
    EXPECT_EQ(ip.octet(3)->text(), "5");
    EXPECT_EQ(ip.getAddress(), "1.2.3.5");

    // Parts missing from the text do not keep the previous address's octets.
    ip.setAddress("192.168");
    EXPECT_EQ(ip.getAddress(), "192.168.0.0");
    ip.setAddress("");
    EXPECT_EQ(ip.octet(0)->text(), "");
    EXPECT_EQ(ip.getAddress(), "0.0.0.0");

    ip.octet(0)->setText("192");
    ip.octet(2)->setText("1");
    ip.octet(3)->setText("2");
    EXPECT_EQ(ip.getAddress(), "192.0.1.2");
    ip.octet(1)->setText("256");
    EXPECT_EQ(ip.octet(1)->text(), "255");
    ip.octet(1)->setText("05");
    EXPECT_EQ(ip.octet(1)->text(), "5");

    QSignalSpy changes(&ip, &EditIP::textchange);
    ip.octet(3)->setText("7");
    ASSERT_EQ(changes.count(), 1);
    EXPECT_EQ(changes.at(0).at(0).toString(), "192.5.1.7");
}

TEST_F(ValueBoxTest, IpOctetsAreTypedByTouchAndThePeriodMovesOn)
{
    auto* ip = new EditIP("IP", 0, win.get());
    ip->move(100, 100);
    ip->show();
    typeInto(ip->octet(0), {1, 7, 2});
    QTest::keyClick(ip->octet(0), Qt::Key_Period);
    EXPECT_TRUE(ip->octet(1)->hasFocus());
    EXPECT_EQ(ip->octet(1)->text(), "0");
    EXPECT_EQ(ip->getAddress(), "172.0.0.0");
}

TEST_F(ValueBoxTest, ClockIsSetThroughDateAndHwclockAndFailuresAreReported)
{
    FakeShellRunner shell;
    EditDateTime editor("", win.get());
    editor.dateEdit()->setDate(QDate(2026, 3, 4));
    editor.timeEdit()->setTime(QTime(5, 6, 7));
    EXPECT_TRUE(editor.setSysDateTime());
    EXPECT_EQ(shell.lines(), QStringList({"date -s 2026-03-04 05:06:07", "hwclock --systohc"}));

    shell.clear();
    shell.setOutput("date", "date: cannot set date: Operation not permitted", 1);
    EXPECT_FALSE(editor.setSysDateTime());
    EXPECT_EQ(shell.lines(), QStringList({"date -s 2026-03-04 05:06:07"}));

    shell.clear();
    ShellResult hung;
    hung.started = true;
    hung.timedOut = true;
    shell.setResult("date", ShellResult{true, false, 0, {}, {}});
    shell.setResult("hwclock", hung);
    EXPECT_FALSE(editor.setSysDateTime());
}

TEST_F(ValueBoxTest, DateEditorShowsTheClock)
{
    Clock::setFixed(QDateTime(QDate(2025, 12, 31), QTime(23, 59, 58)));
    EditDateTime editor("Time", win.get());
    editor.ShowDateTime();
    Clock::reset();
    EXPECT_EQ(editor.dateEdit()->text(), "2025-12-31");
    EXPECT_EQ(editor.timeEdit()->text(), "23:59:58");
}

TEST_F(ValueBoxTest, CheckBoxValue)
{
    auto* box = new CheckBox(win.get(), "Use");
    box->show();
    EXPECT_EQ(box->value(), 0);
    box->setValue(7);
    EXPECT_EQ(box->value(), 1);
    touch(box);
    EXPECT_EQ(box->value(), 0);
}
