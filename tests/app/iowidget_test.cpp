#include "shellfixture.h"

#include "choosebox.h"
#include "colorbutton.h"
#include "combobox.h"
#include "controlport.h"
#include "detectioncycle.h"
#include "globals.h"
#include "iostatus.h"
#include "iowidget.h"
#include "languagetable.h"
#include "modalanswerer.h"
#include "paramdatabase.h"
#include "paramdefaults.h"
#include "qttesthelpers.h"
#include "warnbox.h"
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
#include <algorithm>
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

namespace {
// The n longest names of a function table in the current language, distinct, longest first.
QStringList longestNames(const char* const* table, int functions, int n)
{
    QStringList names;
    for (int f = 0; f < functions; ++f)
        names << QString::fromUtf8(table[4 * f + gLan]);
    const QFontMetrics metrics(QFont("wqy-microhei"));
    std::sort(names.begin(), names.end(), [&](const QString& a, const QString& b) {
        return metrics.horizontalAdvance(a) > metrics.horizontalAdvance(b);
    });
    return names.mid(0, n);
}
} // namespace

// The status bar names every input and output whole, at a readable size, each inside a
// place of its own on the bar and clear of the marks at its right: at 1920 and 1024 px
// wide, in the four languages, in mode 3 with its default names and with the longest names
// its inputs and outputs can be given (also beside an export in progress), and with four
// inputs and four outputs as in the other modes. At 1024 px "I1 Open" was cut to "I1 Ope".
TEST(IOStatusLayout, EveryLabelShowsWholeOnBothScreens)
{
    ASSERT_GT(LanguageTable::load(), 0);
    const std::vector<QString> savedNames(std::begin(gaName), std::end(gaName));
    QStringList faults;
    for (int lan = 0; lan < kLanguageCount; ++lan) {
        gLan = lan;
        const QString safety = lanText(302), alarm = lanText(307);
        const QString open = QString::fromUtf8(gInName[gLan]), clamp = QString::fromUtf8(gOutName[gLan]);
        const QStringList longIn = longestNames(gInName, WizardPara::kInFunctions, 8);
        const QStringList longOut = longestNames(gOutName, WizardPara::kOutFunctions, 8);
        const auto times = [](int n, const QString& name) { return QVector<QString>(n, name).toList(); };
        const struct
        {
            const char* name;
            int trigMode;
            QStringList inputs, outputs;
        } sets[] = {
            {"mode 3 defaults", 3, QStringList{open, safety} + times(7, open),
             QStringList{clamp, clamp, alarm} + times(6, clamp)},
            {"mode 3 longest", 3, QStringList{longIn.first(), safety} + longIn.mid(1),
             longOut.mid(0, 2) + QStringList{alarm} + longOut.mid(2)},
            {"four and four", 0, longIn.mid(0, 4), longOut.mid(0, 4)},
        };
        for (const auto& set : sets) {
            const QStringList names = set.inputs + set.outputs;
            for (int i = 0; i < names.size(); ++i)
                gaName[i] = names.at(i);
            QStringList labels;
            for (const IOStatus::Entry& entry : IOStatus::entries(set.trigMode))
                labels << IOStatus::label(entry);
            for (const int width : {1920, 1024}) {
                // The marks at the right: none; a lost link and the image disk, which may stay
                // for long; those and an export in progress, which on the small screen may
                // leave room only for names elided with "…" while it runs.
                const QString exporting = lanText(723).arg(100);
                for (const int reserved : {IOStatus::reservedWidth(false, false, QString()),
                                           IOStatus::reservedWidth(true, true, QString()),
                                           IOStatus::reservedWidth(true, true, exporting)}) {
                    const bool mayElide = width == 1024 && reserved == IOStatus::reservedWidth(true, true, exporting);
                    const QString where = QStringLiteral("language %1, %2, %3 px, %4 px reserved: ")
                                              .arg(lan).arg(set.name).arg(width).arg(reserved);
                    const QRect room(0, 0, width - reserved, 44);
                    const IOStatus::Layout placed = IOStatus::layout(labels, set.inputs.size(), QSize(width, 44), reserved);
                    QFont font("wqy-microhei");
                    font.setPixelSize(placed.pixelSize);
                    const QFontMetrics metrics(font);
                    if (placed.pixelSize < IOStatus::kReadablePixels)
                        faults << where + QStringLiteral("names at %1 px").arg(placed.pixelSize);
                    if (placed.cells.size() != labels.size()) {
                        faults << where + QStringLiteral("%1 places").arg(placed.cells.size());
                        continue;
                    }
                    for (int i = 0; i < labels.size(); ++i) {
                        const IOStatus::Cell& cell = placed.cells.at(i);
                        const int needs = metrics.horizontalAdvance(cell.shown);
                        const bool elided = mayElide ? !labels.at(i).startsWith(cell.shown.chopped(1))
                                                             : cell.shown != labels.at(i);
                        if (elided || needs > cell.text.width() || metrics.height() > cell.text.height()
                            || !room.contains(cell.text) || !room.contains(cell.dot))
                            faults << where + QStringLiteral("\"%1\" shown as \"%2\", %3 px wide in %4 x %5 at %6,%7")
                                                  .arg(labels.at(i), cell.shown).arg(needs).arg(cell.text.width())
                                                  .arg(cell.text.height()).arg(cell.text.x()).arg(cell.text.y());
                        for (int j = i + 1; j < labels.size(); ++j) {
                            const IOStatus::Cell& other = placed.cells.at(j);
                            if (cell.text.intersects(other.text) || cell.text.intersects(other.dot)
                                || cell.dot.intersects(other.text) || cell.dot.intersects(other.dot))
                                faults << where + labels.at(i) + " overlaps " + labels.at(j);
                        }
                    }
                }
            }
        }
    }
    std::copy(savedNames.begin(), savedNames.end(), std::begin(gaName));
    EXPECT_TRUE(faults.isEmpty()) << faults.size() << " faults:\n" << faults.mid(0, 20).join('\n').toStdString();
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

namespace {
// Finishes the next `count` modal dialogs with done(1), in turn, keeping the texts of the message boxes.
void finishInTurn(int count, QStringList* seen)
{
    if (count <= 0)
        return;
    new ModalAnswerer([count, seen](QWidget* modal) {
        if (auto* warn = dynamic_cast<WarnBox*>(modal))
            *seen << warn->text();
        finishInTurn(count - 1, seen);
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->done(1);
    });
}
} // namespace

TEST_F(IOPageTest, ConfirmSaysWhichChoicesWaitForTheNextStartAndReportsAFailedSave)
{
    para->trigMode = 3;
    WarnBox warnBox(nullptr);
    gpWarnBox = &warnBox;
    QStringList seen;
    {
        IOWidget page(win.get(), io.get(), nullptr);
        page.setChoice("inFunc0", 3);  // renames the signal at once
        finishInTurn(1, &seen);
        page.SlotConfirm();
        EXPECT_TRUE(seen.isEmpty()) << seen.join(" | ").toStdString();
    }
    {
        IOWidget page(win.get(), io.get(), nullptr);
        page.setChoice("detectRow1", 4);
        page.setChoice("rowTrigger2", 5);
        page.setChoice("outFunc0", 2);
        finishInTurn(2, &seen);
        page.SlotConfirm();
        EXPECT_EQ(seen, QStringList({lanText(845) + ":\ndetectRow1, rowTrigger2"}));
    }
    seen.clear();
    {
        IOWidget page(win.get(), io.get(), nullptr);
        page.setChoice("detectRow1", 6);
        QSqlDatabase::database(ParamDatabase::kConnectionName, false).close();
        finishInTurn(2, &seen);
        page.SlotConfirm();
        EXPECT_EQ(seen, QStringList({lanText(844)}));
        EXPECT_EQ(para->detectRow[1], 4) << "the live record keeps what is stored";
        EXPECT_EQ(win->records.size(), 2) << "no record of a change that was not stored";
    }
    gpWarnBox = nullptr;
}
