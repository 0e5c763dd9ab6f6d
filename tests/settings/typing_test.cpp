// Values typed on the keypad into every box of every settings page, on the
// small panel where the pages scroll, and the pages' touch scrolling.
#include "settingsfixture.h"

#include "colorbutton.h"
#include "edit.h"
#include "editbox.h"
#include "editparam.h"
#include "globals.h"
#include "modalanswerer.h"
#include "numberinput.h"
#include "numcharinput.h"
#include "wizardparawidget.h"

#include <QApplication>
#include <QScrollArea>
#include <QScrollBar>
#include <QScroller>
#include <QStackedWidget>
#include <QTest>

namespace {

class SmallPanelSettingsTest : public SettingsTest
{
protected:
    void SetUp() override
    {
        SettingsTest::SetUp();
        gShowW = 1024;
        gShowH = 768;
        window->resize(gShowW, gShowH);
        small = new WizardParaWidget(window.get(), window.get());
        QApplication::setActiveWindow(window.get());
    }

    void TearDown() override
    {
        gShowW = 1920;
        gShowH = 1080;
        SettingsTest::TearDown();
    }

    EditBox* smallBox(int field) const { return qobject_cast<EditBox*>(small->fieldControl(field)); }

    // Taps the digits of a value on the number keypad.
    static void typeValue(int value)
    {
        for (const QChar c : QString::number(value)) {
            for (int id = 0; id < 10; ++id) {
                if (gpNumPad->digitKey(id)->text() == QString(c)) {
                    touch(gpNumPad->digitKey(id));
                    break;
                }
            }
        }
    }

    // A value of several digits inside the box's bounds.
    static int valueFor(const EditBox* box)
    {
        const int lo = box->minimum();
        const int hi = box->maximum();
        return lo + (hi - lo) * 2 / 3;
    }

    WizardParaWidget* small = nullptr;
};

} // namespace

TEST_F(SmallPanelSettingsTest, EveryShownBoxOfEveryPageTakesATypedValueThatConfirmStores)
{
    ASSERT_NE(makeUnit(unitCamera("SERIAL-TYPE1")), nullptr);
    small->setCameraUnits({unit});
    *gpWParaBak = *gpWPara;
    small->open();
    ASSERT_EQ(small->size(), QSize(1024, 768));
    withoutDragScrolling(small);

    const auto& fields = paramFields();
    QMap<int, int> typed;  // field -> value
    for (int page = 0; page < ParamField::PageCount; ++page) {
        touch(small->pageButtons().at(page));
        ASSERT_EQ(small->pages()->currentIndex(), page);
        for (size_t i = 0; i < fields.size(); ++i) {
            EditBox* box = smallBox(int(i));
            if (fields[i].page != page || !box || !box->isVisible())
                continue;
            const int value = valueFor(box);
            touch(box->field());
            ASSERT_TRUE(gpNumPad->isVisible()) << "field " << i;
            typeValue(value);
            // The keypad stays under the finger and the box keeps the focus to the end.
            EXPECT_TRUE(gpNumPad->isVisible()) << "field " << i;
            EXPECT_TRUE(box->field()->hasFocus()) << "field " << i;
            EXPECT_EQ(box->value(), value) << "field " << i;
            touch(gpNumPad->confirmKey());
            EXPECT_FALSE(gpNumPad->isVisible());
            typed.insert(int(i), value);
        }
    }
    ASSERT_GE(typed.size(), 30);

    // The save question, then the note that some values need a restart.
    answer({1, 1});
    touch(small->button("confirm"));
    EXPECT_EQ(seen.value(0), lanText(234));
    EXPECT_EQ(seen.value(1), lanText(845) + ":\n" + lanText(269) + ", " + lanText(185)) << "the typed ones read at start";
    for (auto it = typed.cbegin(); it != typed.cend(); ++it)
        EXPECT_EQ(fields[size_t(it.key())].value(*gpWPara, 0), it.value()) << "field " << it.key();
}

TEST_F(SmallPanelSettingsTest, TextBoxesTakeTypedNamesAndPagesScrollByDraggingWithAStyledBar)
{
    ASSERT_NE(makeUnit(unitCamera("SERIAL-TYPE2")), nullptr);
    small->setCameraUnits({unit});
    *gpWParaBak = *gpWPara;
    small->open();
    ASSERT_TRUE(QScroller::hasScroller(qobject_cast<QScrollArea*>(small->pages()->widget(0))->viewport()));
    withoutDragScrolling(small);

    // The group name and search boxes take the full keyboard's characters.
    touch(small->pageButtons().at(ParamField::PageCount));
    for (Edit* edit : {small->groupNameEdit(), small->groupSearch()}) {
        touch(edit);
        ASSERT_TRUE(gpNumCharPad->isVisible());
        for (int id : {11, 12, 0})  // q w 1
            touch(gpNumCharPad->charKey(id));
        EXPECT_TRUE(gpNumCharPad->isVisible());
        EXPECT_EQ(edit->text(), "qw1");
        touch(gpNumCharPad->confirmKey());
    }
    // The password box opens the number keypad and keeps the typed digits.
    touch(small->pageButtons().at(ParamField::PasswordPage));
    touch(small->passwordEdit());
    ASSERT_TRUE(gpNumPad->isVisible());
    typeValue(4321);
    EXPECT_EQ(small->passwordEdit()->text(), "4321");
    touch(gpNumPad->confirmKey());

    // Every page of boxes has a finger-wide bar.
    for (int page = 0; page < ParamField::PageCount; ++page) {
        auto* scroll = qobject_cast<QScrollArea*>(small->pages()->widget(page));
        ASSERT_NE(scroll, nullptr);
        EXPECT_EQ(scroll->verticalScrollBar()->sizeHint().width(), 30) << "page " << page;
    }
    // A long page scrolls: its bar is shown with the styled width.
    touch(small->pageButtons().at(ParamField::DetectionPage));
    auto* detection = qobject_cast<QScrollArea*>(small->pages()->currentWidget());
    ASSERT_GT(detection->verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(detection->verticalScrollBar()->width(), 30);
}
