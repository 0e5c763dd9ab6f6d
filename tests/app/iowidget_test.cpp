#include "shellfixture.h"

#include "choosebox.h"
#include "colorbutton.h"
#include "combobox.h"
#include "controlport.h"
#include "detectioncycle.h"
#include "globals.h"
#include "iostatus.h"
#include "iowidget.h"
#include "modalanswerer.h"
#include "paramdatabase.h"
#include "paramdefaults.h"
#include "qttesthelpers.h"
#include "wizardpara.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QScroller>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QWindow>
#include <tuple>

namespace {

class IOPageTest : public CycleTest
{
protected:
    void SetUp() override
    {
        CycleTest::SetUp();
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", ParamDatabase::kConnectionName);
        db.setDatabaseName(ParamDatabase::kFileName);
        ASSERT_TRUE(db.open());
        ASSERT_TRUE(ParamDefaults::ensure(db));
        gLan = 1;
        gpChooseBox = new ChooseBox(nullptr, 750, 370);
    }
    void TearDown() override
    {
        delete gpChooseBox;
        gpChooseBox = nullptr;
        QSqlDatabase::database(ParamDatabase::kConnectionName, false).close();
        QSqlDatabase::removeDatabase(ParamDatabase::kConnectionName);
        gLan = 0;
        CycleTest::TearDown();
    }
};

} // namespace

TEST(IOStatusEntries, NamesFollowTheTriggerModeLayout)
{
    const auto group = IOStatus::entries(0);
    ASSERT_EQ(group.size(), 8);
    EXPECT_EQ(group[3].nameIndex, 3);
    EXPECT_FALSE(group[3].output);
    EXPECT_EQ(group[4].nameIndex, 4);
    EXPECT_TRUE(group[4].output);
    EXPECT_EQ(group[4].number, 0);
    const auto multi = IOStatus::entries(3);
    ASSERT_EQ(multi.size(), 18);
    EXPECT_EQ(multi[9].nameIndex, 9);
    EXPECT_EQ(multi[9].number, 0);
    EXPECT_EQ(multi[17].number, 8);
}

TEST_F(IOPageTest, GroupModesShowStatesWithoutAssignment)
{
    IOWidget page(win.get(), io.get(), nullptr);
    EXPECT_TRUE(page.choices().isEmpty());
    EXPECT_TRUE(page.changes().isEmpty());

    // The lamps follow the outputs at each refresh.
    auto* lamp = page.findChild<QLabel*>("ioLampO2");
    ASSERT_NE(lamp, nullptr);
    const QString idle = lamp->styleSheet();
    io->IOSetOut(1, 1);
    page.SlotRefresh();
    const QString active = lamp->styleSheet();
    EXPECT_NE(active, idle);
    EXPECT_EQ(page.findChild<QLabel*>("ioLampO1")->styleSheet(), idle);
    io->IOSetOut(1, 0);
    page.SlotRefresh();
    EXPECT_EQ(lamp->styleSheet(), idle);
}

TEST_F(IOPageTest, AssignmentTakesOnlyOfferedValuesAndConfirmSavesRecordsAndRenames)
{
    para->trigMode = 3;
    para->detectCount = 2;
    IOWidget page(win.get(), io.get(), nullptr);
    EXPECT_FALSE(page.choices().isEmpty());
    EXPECT_FALSE(page.setChoice("rowTrigger0", 8)) << "only the 8 trigger choices";
    EXPECT_FALSE(page.setChoice("inFunc0", WizardPara::kInFunctions));
    EXPECT_FALSE(page.setChoice("detectCount", 9));
    EXPECT_TRUE(page.setChoice("detectCount", 4));
    EXPECT_TRUE(page.setChoice("inFunc1", 5));
    EXPECT_TRUE(page.setChoice("outFunc2", 13));
    EXPECT_TRUE(page.setChoice("detectRow3", -1));
    EXPECT_EQ(para->detectCount, 2) << "the live record waits for Confirm";
    EXPECT_EQ(page.changes(), "detectCount: 2 -> 4; detectRow3: 0 -> -1; inFunc1: 0 -> 5; outFunc2: 0 -> 13");

    ModalAnswerer::finishDialog(1);
    page.SlotConfirm();
    EXPECT_EQ(para->detectCount, 4);
    EXPECT_EQ(para->inFunc[1], 5);
    EXPECT_EQ(gaName[2], QString::fromUtf8(gInName[4 * 5 + 1]));
    EXPECT_EQ(gaName[12], QString::fromUtf8(gOutName[4 * 13 + 1]));
    ASSERT_EQ(win->records.size(), 1);
    EXPECT_TRUE(win->records.first().startsWith("set: detectCount: 2 -> 4"));
    QSqlQuery query(ParamDatabase::database());
    ASSERT_TRUE(query.exec("select value from sysparam where name = 'system8'"));
    ASSERT_TRUE(query.next());
    EXPECT_EQ(query.value(0).toString().section(' ', 0, 0), "4");
}

// On the small screen the assignment's boxes are reached by dragging them: a drag,
// also one held still first, scrolls and opens or changes no box; a tap opens a box's list.
TEST_F(IOPageTest, AssignmentScrollsByDragAndOnlyATapOpensABox)
{
    gShowW = 1024;
    gShowH = 768;
    para->trigMode = 3;
    IOWidget page(win.get(), io.get(), nullptr);
    page.show();
    ASSERT_TRUE(waitUntil([&] { return page.windowHandle()->isExposed(); }));
    QWidget* view = page.findChild<QScrollArea*>()->viewport();
    QScrollBar* bar = page.findChild<QScrollArea*>()->verticalScrollBar();
    const auto on = [&](const char* box) { return page.findChild<ComboBox*>(box)->mapTo(&page, QPoint(50, 12)); };
    for (const auto& stroke : {std::make_tuple("detectRow0", -100, 0), std::make_tuple("detectRow7", 100, 400)}) {
        const QPoint from = on(std::get<0>(stroke));
        ASSERT_TRUE(view->rect().contains(view->mapFrom(&page, from))) << std::get<0>(stroke);
        const int before = bar->value();
        fingerStroke(page.windowHandle(), from, from + QPoint(0, std::get<1>(stroke)), std::get<2>(stroke));
        ASSERT_TRUE(waitUntil([&] { return QScroller::scroller(view)->state() == QScroller::Inactive; }));
        EXPECT_LT((bar->value() - before) * std::get<1>(stroke), 0) << "the view moves with the finger";
        EXPECT_EQ(page.changes(), QString());
        EXPECT_FALSE(QApplication::activePopupWidget());
    }
    fingerStroke(page.windowHandle(), on("detectRow0"), on("detectRow0"));
    EXPECT_TRUE(waitUntil([&] { return page.findChild<ComboBox*>("detectRow0")->view()->isVisible(); }));
    EXPECT_EQ(page.changes(), QString());
}

TEST_F(IOPageTest, DeclinedConfirmChangesNothing)
{
    para->trigMode = 3;
    IOWidget page(win.get(), io.get(), nullptr);
    page.setChoice("inFunc0", 3);
    ModalAnswerer::finishDialog(0);
    page.SlotConfirm();
    EXPECT_EQ(para->inFunc[0], 0);
    EXPECT_TRUE(win->records.isEmpty());
}

TEST_F(IOPageTest, OutputTestNeedsTheServiceLevel)
{
    IOWidget page(win.get(), io.get(), nullptr);
    win->loginLevel = 2;
    page.SlotTestOutput(3, true);
    EXPECT_EQ(io->IOGetOut(3), 1);
    page.SlotTestOutput(3, false);
    EXPECT_EQ(io->IOGetOut(3), 0);
    EXPECT_EQ(win->records.size(), 2);

    IOWidget refused(win.get(), io.get(), nullptr);
    win->loginLevel = 0;
    refused.SlotTestOutput(1, true);
    EXPECT_EQ(io->IOGetOut(1), 0);
}

// The cycle releases a test output on an OK cycle: its button goes out, and
// the next press switches the output on again instead of "off".
TEST_F(IOPageTest, TestButtonsGoOutWhenTheCycleReleasesTheirOutput)
{
    win->loginLevel = 2;
    IOWidget page(win.get(), io.get(), nullptr);
    auto* o1 = page.findChild<QAbstractButton*>("ioTest0");
    auto* o2 = page.findChild<QAbstractButton*>("ioTest1");
    ASSERT_NE(o1, nullptr);
    ASSERT_NE(o2, nullptr);
    o1->click();
    o2->click();
    EXPECT_EQ(io->IOGetOut(0), 1);
    io->IOSetOut(0, 0);  // as an OK cycle's release of O1
    page.SlotRefresh();
    EXPECT_FALSE(o1->isChecked()) << "the button shows the released output";
    EXPECT_TRUE(o2->isChecked()) << "a test output the cycle left on stays lit";
    o1->click();
    EXPECT_TRUE(o1->isChecked());
    EXPECT_EQ(io->IOGetOut(0), 1);
    // An output the page did not switch on lights no button.
    io->IOSetOut(3, 1);
    page.SlotRefresh();
    EXPECT_FALSE(page.findChild<QAbstractButton*>("ioTest3")->isChecked());
}

TEST_F(IOPageTest, TestOutputsGoOffWithThePageUnlessAnAlarmHoldsThem)
{
    win->loginLevel = 2;
    {
        IOWidget page(win.get(), io.get(), nullptr);
        page.SlotTestOutput(1, true);
        page.SlotTestOutput(2, true);
        EXPECT_EQ(io->IOGetOut(1), 1);
        // An NG meanwhile holds the alarm output 2.
        cam0->ok = false;
        pressInput(0);
        runPass();
        ASSERT_TRUE(cycle->heldOutputs() & 0x4);
    }
    EXPECT_EQ(io->IOGetOut(1), 0);
    EXPECT_EQ(io->IOGetOut(2), 1);
}
