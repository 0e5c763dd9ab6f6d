// The picture slider and the image-scale slider, worked by touch.
#include "widgetfixture.h"

#include "colorbutton.h"
#include "edit.h"
#include "floatslider.h"
#include "globals.h"
#include "numberinput.h"
#include "slider.h"

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <QTimer>

namespace {
class SliderTest : public WidgetTest
{
protected:
    Slider* makeSlider(int min, int max, int value, int width = 600)
    {
        auto* panel = new QWidget(win.get());
        panel->setGeometry(100, 100, 900, 200);
        panel->show();
        auto* slider = new Slider(min, max, 1, value, panel, "Sens");
        slider->setGeometry(0, 20, width, 60);
        slider->show();
        slider->grab();  // the handle position comes from painting
        return slider;
    }

    static void press(QWidget* w, int x) { QTest::mousePress(w, Qt::LeftButton, Qt::NoModifier, QPoint(x, 30)); }
    // A finger moving while it touches.
    static void move(QWidget* w, int x)
    {
        QMouseEvent event(QEvent::MouseMove, QPointF(x, 30), QPointF(w->mapToGlobal(QPoint(x, 30))), Qt::NoButton,
                          Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w, &event);
    }
    static void release(QWidget* w, int x) { QTest::mouseRelease(w, Qt::LeftButton, Qt::NoModifier, QPoint(x, 30)); }
};
} // namespace

TEST_F(SliderTest, TrackGeometryAndHandlePosition)
{
    Slider* slider = makeSlider(0, 100, 50);
    EXPECT_EQ(slider->trackWidth(), 205);
    EXPECT_EQ(slider->trackStart(), 6);
    EXPECT_EQ(slider->trackLength(), 190);
    EXPECT_EQ(slider->handleX(), 416);
    EXPECT_EQ(slider->minusButton()->pos(), QPoint(240, 10));
    EXPECT_EQ(slider->plusButton()->pos(), QPoint(530, 10));
}

TEST_F(SliderTest, OnlyAPressNearTheHandleStartsADrag)
{
    Slider* slider = makeSlider(0, 100, 50);
    const int hx = slider->handleX();
    for (auto [x, grabs] : std::initializer_list<std::pair<int, bool>>{
             {hx - 25, false}, {hx - 20, true}, {hx + 29, true}, {hx + 30, false}}) {
        press(slider, x);
        EXPECT_EQ(slider->dragging(), grabs) << "press at handle x + " << x - hx;
        release(slider, x);
    }
}

TEST_F(SliderTest, SlowDragAddsUpToWholeSteps)
{
    Slider* slider = makeSlider(0, 100, 50);
    const int hx = slider->handleX();
    press(slider, hx);
    move(slider, hx + 1);
    EXPECT_EQ(slider->value(), 50);
    move(slider, hx + 2);
    EXPECT_EQ(slider->value(), 51);
    move(slider, hx + 3);
    EXPECT_EQ(slider->value(), 51);
    move(slider, hx - 60);  // trunc(100 * -62 / 190) = -32
    EXPECT_EQ(slider->value(), 19);
    release(slider, hx - 60);

    slider->grab();
    press(slider, slider->handleX());
    slider->Reset(0, 100, 1, 19, "Area");
    move(slider, slider->handleX() + 100);
    EXPECT_EQ(slider->value(), 19);
    EXPECT_EQ(slider->objectName(), "Area");
}

TEST_F(SliderTest, TappingTheValueBoxOpensTheKeypadAndKeepsTheValueUntilTyped)
{
    Slider* slider = makeSlider(0, 100, 40);
    touchAt(slider, QPoint(215, 30));
    EXPECT_FALSE(gpNumPad->isVisible());

    touchAt(slider, QPoint(214, 30));
    ASSERT_TRUE(gpNumPad->isVisible());
    EXPECT_EQ(Edit::current(), slider->valueEdit());
    EXPECT_EQ(gpNumPad->parentWidget(), slider->parentWidget());
    // Opening the keypad empties the hidden edit; the value stays.
    EXPECT_EQ(slider->value(), 40);
    touch(gpNumPad->confirmKey());
    EXPECT_EQ(slider->value(), 40);

    touchAt(slider, QPoint(135, 30));
    ASSERT_TRUE(gpNumPad->isVisible());
    touch(gpNumPad->digitKey(6));  // 7
    touch(gpNumPad->digitKey(4));  // 5
    EXPECT_EQ(slider->value(), 75);
    touch(gpNumPad->digitKey(8));  // 9: 759 is kept within range
    EXPECT_EQ(slider->value(), 100);
}

TEST_F(SliderTest, StepButtonsStopAtTheBoundsAndRepeatWhileHeld)
{
    Slider* slider = makeSlider(0, 5, 4);
    touch(slider->plusButton());
    touch(slider->plusButton());
    EXPECT_EQ(slider->value(), 5);
    touch(slider->minusButton());
    EXPECT_EQ(slider->value(), 4);

    slider->setValue(0);
    QTest::mousePress(slider->plusButton(), Qt::LeftButton);
    QTest::qWait(700);
    QTest::mouseRelease(slider->plusButton(), Qt::LeftButton);
    EXPECT_EQ(slider->value(), 5);
}

TEST_F(SliderTest, EmptyRangeAndNarrowWidgetDoNotDivideByZero)
{
    Slider* flat = makeSlider(7, 7, 7);
    EXPECT_EQ(flat->fillLength(), 0);
    press(flat, flat->handleX());
    move(flat, flat->handleX() + 50);
    EXPECT_EQ(flat->value(), 7);

    Slider* narrow = makeSlider(0, 100, 50, 300);
    EXPECT_LE(narrow->trackLength(), 0);
    press(narrow, narrow->handleX());
    move(narrow, narrow->handleX() + 50);
    EXPECT_EQ(narrow->value(), 50);
}

TEST_F(SliderTest, FloatSliderScalesShowsAndReturnsToItsMinimum)
{
    auto* zoom = new FloatSlider(win.get());
    zoom->setFixedSize(1000, 35);
    zoom->scaleFactor = 100;
    zoom->slider->setRange(100, 500);
    zoom->show();
    QSignalSpy values(zoom, &FloatSlider::updateValue);

    zoom->slider->setValue(250);
    EXPECT_EQ(zoom->label->text(), "2.50");
    ASSERT_EQ(values.count(), 1);
    EXPECT_FLOAT_EQ(values.last().at(0).toFloat(), 2.5f);
    EXPECT_TRUE(zoom->resetTimer->isActive());
    EXPECT_EQ(zoom->resetTimer->interval(), 30000);

    zoom->setValue(3.0f);
    EXPECT_EQ(zoom->slider->value(), 300);
    EXPECT_EQ(zoom->label->text(), "3.00");
    EXPECT_FLOAT_EQ(values.last().at(0).toFloat(), 3.0f);

    // What the 30 s timer does when it fires.
    QMetaObject::invokeMethod(zoom->resetTimer, "timeout");
    EXPECT_EQ(zoom->slider->value(), 100);
    EXPECT_EQ(zoom->label->text(), "1.00");
    EXPECT_FLOAT_EQ(values.last().at(0).toFloat(), 1.0f);

    touch(zoom->showHideButton);
    EXPECT_FALSE(zoom->slider->isVisible());
    touch(zoom->showHideButton);
    EXPECT_TRUE(zoom->slider->isVisible());
}
