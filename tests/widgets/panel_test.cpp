// Buttons, combo boxes and the main screen's button panel.
#include "widgetfixture.h"

#include "ccomp_dialogframe.h"
#include "colorbutton.h"
#include "combobox.h"
#include "fuzzycombobox.h"
#include "globals.h"
#include "indexbutton.h"
#include "qttesthelpers.h"
#include "statisticsscreen.h"
#include "touchrowdelegate.h"
#include "touchscroll.h"

#include <QAbstractItemView>
#include <QScrollArea>
#include <QScrollBar>
#include <QScroller>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <memory>

using PanelTest = WidgetTest;

TEST_F(PanelTest, ButtonFontFollowsSizeClassAndLanguage)
{
    for (int lan = 0; lan < kLanguageCount; ++lan) {
        gLan = lan;
        EXPECT_EQ(ColorButton::fontPixelSize(4, lan), lan == 0 ? 33 : 30);
        EXPECT_EQ(ColorButton::fontPixelSize(3, lan), lan == 0 ? 27 : 22);
        EXPECT_EQ(ColorButton::fontPixelSize(2, lan), 25);
        EXPECT_EQ(ColorButton::fontPixelSize(0, lan), 25);
        ColorButton button("x", nullptr, 4);
        EXPECT_TRUE(button.styleSheet().contains(QStringLiteral("font-size:%1px;").arg(lan == 0 ? 33 : 30)));
        EXPECT_TRUE(button.testAttribute(Qt::WA_StyledBackground));
    }
    ColorButton step("+ 1", nullptr, 3);
    step.SetRepeat();
    EXPECT_TRUE(step.autoRepeat());
    EXPECT_EQ(step.autoRepeatDelay(), 300);
    EXPECT_EQ(step.autoRepeatInterval(), 50);
}

TEST_F(PanelTest, ComboBoxReportsPressesAndItemHeightReplacesTheStyle)
{
    auto* combo = new ComboBox(win.get());
    combo->addItems({"a", "b"});
    combo->show();
    combo->setStyleSheet("QComboBox{color:red;}");
    combo->setItemHeight(66);
    EXPECT_EQ(combo->styleSheet(),
              "QComboBox QAbstractItemView::item{height:66px;}QComboBox::tab-bar{border-width:0px;}");
    EXPECT_EQ(combo->focusPolicy(), Qt::NoFocus);
    QSignalSpy clicks(combo, &ComboBox::clicked);
    touch(combo);
    EXPECT_EQ(clicks.count(), 1);
    combo->hidePopup();
}

// The drop-down rows are as high as a finger needs: the asked height, 50 px
// before one is asked, under a parent's style sheet and for the filtered list.
TEST_F(PanelTest, DropDownRowsAreTouchSized)
{
    win->setStyleSheet("QWidget{font-size:18px;}");  // a small font must not shrink the rows
    auto* plain = new ComboBox(win.get());
    auto* asked = new ComboBox(win.get());
    asked->setItemHeight(66);
    auto* filtered = new FuzzyComboBox(win.get());
    filtered->setStringList({"group 1", "group 2", "group 3"});
    filtered->setItemHeight(40);
    // In a network dialog's look, with the delegate handed to the box; asked for a height
    // after its delegate was replaced.
    auto* framed = new ComboBox(win.get());
    CComp_DialogFrame::setStyleCombobox(framed, new TouchRowDelegate(framed), QString());
    auto* framedAsked = new ComboBox(win.get());
    CComp_DialogFrame::setStyleCombobox(framedAsked, new TouchRowDelegate(framedAsked), QString());
    framedAsked->setItemHeight(66);
    for (ComboBox* combo : {plain, asked, framed, framedAsked}) {
        for (int hour = 0; hour < 24; ++hour)
            combo->addItem(QString::number(hour), hour);
    }
    const struct
    {
        ComboBox* combo;
        int height;
    } cases[] = {{plain, 50}, {asked, 66}, {filtered, 40}, {framed, 50}, {framedAsked, 66}};
    for (const auto& c : cases) {
        c.combo->show();
        c.combo->showPopup();
        QAbstractItemView* view = c.combo->view();
        ASSERT_TRUE(waitUntil([&] { return view->isVisible(); }));
        for (int row : {0, 1, c.combo->count() - 1}) {
            EXPECT_GE(view->visualRect(c.combo->model()->index(row, 0)).height(), c.height) << "row " << row;
        }
        c.combo->hidePopup();
    }
}

// A list is worked by finger: a stroke that starts on the closed box opens and
// picks nothing, a tap opens it; open, its rows are 50 px high, a drag scrolls
// it and picks nothing, a tap (also one that wobbles a little) picks the row under it.
TEST_F(PanelTest, ListOpensByTapScrollsByDragAndPicksOnlyByTap)
{
    for (bool filtered : {true, false}) {
        SCOPED_TRACE(filtered ? "filtered list" : "plain list");
        std::unique_ptr<ComboBox> combo;
        QStringList hours;
        for (int hour = 0; hour < 24; ++hour)
            hours << QString::number(hour);
        if (filtered) {
            auto* box = new FuzzyComboBox(win.get());
            box->setStringList(hours);
            box->setItemHeight(40);  // too low for a finger: the list keeps 50
            combo.reset(box);
        } else {
            combo = std::make_unique<ComboBox>(win.get());
            combo->addItems(hours);
        }
        combo->setFixedSize(100, 50);
        combo->move(300, 100);
        combo->setCurrentIndex(8);
        combo->show();
        QSignalSpy picks(combo.get(), QOverload<int>::of(&QComboBox::activated));
        const QPoint box = combo->mapTo(win.get(), combo->rect().center());
        fingerStroke(win->windowHandle(), box, box + QPoint(0, 150));
        QTest::qWait(50);
        EXPECT_FALSE(combo->view()->isVisible());
        EXPECT_EQ(picks.count(), 0);
        EXPECT_EQ(combo->currentIndex(), 8);
        fingerStroke(win->windowHandle(), box, box);
        QAbstractItemView* view = combo->view();
        QWidget* popup = view->window();
        ASSERT_TRUE(waitUntil([&] { return popup->isVisible() && popup->windowHandle()->isExposed(); }));
        QStringList otherRows;
        for (int row = 0; row < combo->count(); ++row) {
            const int height = view->visualRect(combo->model()->index(row, 0)).height();
            if (height != 50)
                otherRows << QStringLiteral("row %1: %2 px").arg(row).arg(height);
        }
        EXPECT_TRUE(otherRows.isEmpty()) << otherRows.join(", ").toStdString();

        // The finger draws the list up (held still a while before it moves), then
        // down to hour 0, which lay above the shown rows.
        const QPoint mid = view->viewport()->mapTo(popup, view->viewport()->rect().center());
        const struct
        {
            int fromDy, toDy, holdMs;
        } strokes[] = {{50, -50, 400}, {-100, 150, 0}};
        for (const auto& stroke : strokes) {
            SCOPED_TRACE(QStringLiteral("stroke %1 to %2").arg(stroke.fromDy).arg(stroke.toDy).toStdString());
            const int before = view->verticalScrollBar()->value();
            fingerStroke(popup->windowHandle(), mid + QPoint(0, stroke.fromDy), mid + QPoint(0, stroke.toDy),
                         stroke.holdMs);
            ASSERT_TRUE(waitUntil([&] { return QScroller::scroller(view->viewport())->state() == QScroller::Inactive; }));
            ASSERT_TRUE(popup->isVisible());
            EXPECT_EQ(picks.count(), 0);
            EXPECT_EQ(combo->currentIndex(), 8);
            const int moved = view->verticalScrollBar()->value() - before;
            EXPECT_TRUE(stroke.toDy < stroke.fromDy ? moved > 0 : moved < 0) << "scrolled by " << moved;
        }
        EXPECT_EQ(view->indexAt(QPoint(10, 5)).row(), 0);

        // A tap with a small wobble picks the row under the finger.
        const QModelIndex target = view->indexAt(QPoint(10, 75));
        ASSERT_TRUE(target.isValid());
        const QPoint at = view->viewport()->mapTo(popup, QPoint(10, 75));
        fingerStroke(popup->windowHandle(), at, at + QPoint(2, 1));
        ASSERT_TRUE(waitUntil([&] { return !popup->isVisible(); }));
        EXPECT_EQ(picks.count(), 1);
        EXPECT_EQ(combo->currentIndex(), target.row());
        EXPECT_EQ(combo->currentText(), target.data().toString());
    }
}

// A list short enough to show whole cannot scroll: a drag over it must still pick nothing.
TEST_F(PanelTest, ADragOverAListThatFitsPicksNothing)
{
    ComboBox combo(win.get());
    combo.addItems({"static", "automatic", "off"});
    combo.setFixedSize(200, 50);
    combo.move(300, 100);
    combo.show();
    QSignalSpy picks(&combo, QOverload<int>::of(&QComboBox::activated));
    const QPoint box = combo.mapTo(win.get(), combo.rect().center());
    fingerStroke(win->windowHandle(), box, box);
    QAbstractItemView* view = combo.view();
    QWidget* popup = view->window();
    ASSERT_TRUE(waitUntil([&] { return popup->isVisible() && popup->windowHandle()->isExposed(); }));
    ASSERT_EQ(view->verticalScrollBar()->maximum(), 0);
    const auto rowAt = [&](int row) {
        return view->viewport()->mapTo(popup, view->visualRect(combo.model()->index(row, 0)).center());
    };
    fingerStroke(popup->windowHandle(), rowAt(0), rowAt(2));
    QTest::qWait(50);
    EXPECT_TRUE(popup->isVisible());
    EXPECT_EQ(picks.count(), 0);
    EXPECT_EQ(combo.currentIndex(), 0);
    fingerStroke(popup->windowHandle(), rowAt(1), rowAt(1) + QPoint(2, 1));
    ASSERT_TRUE(waitUntil([&] { return !popup->isVisible(); }));
    EXPECT_EQ(picks.count(), 1);
    EXPECT_EQ(combo.currentIndex(), 1);
}

// A stroke that begins and ends on a closed box opens nothing, whichever way it moves past
// the drag distance (also out and back to where it began), on a plain box, a filtered one and
// one on a page that scrolls by drag; a tap, also one that wobbles a little, opens each.
TEST_F(PanelTest, OnlyATapOpensAClosedBox)
{
    auto* page = new QScrollArea(win.get());
    page->setGeometry(0, 300, 500, 200);
    auto* content = new QWidget;
    content->setFixedSize(480, 600);
    page->setWidget(content);
    TouchScroll::enable(page);
    page->show();
    auto* plain = new ComboBox(win.get());
    plain->move(600, 100);
    auto* filtered = new FuzzyComboBox(win.get());
    filtered->setStringList({"group 1", "group 2"});
    filtered->move(600, 300);
    auto* paged = new ComboBox(content);
    paged->move(50, 50);
    for (ComboBox* box : {plain, static_cast<ComboBox*>(filtered), paged}) {
        if (box != static_cast<ComboBox*>(filtered))
            box->addItems({"1st", "2nd", "3rd"});
        box->setFixedSize(300, 76);
        box->show();
        SCOPED_TRACE(box == plain ? "plain box" : box == static_cast<ComboBox*>(filtered) ? "filtered box" : "box on a dragged page");
        QSignalSpy picks(box, QOverload<int>::of(&QComboBox::activated));
        QWindow* window = win->windowHandle();
        const QPoint mid = box->mapTo(win.get(), box->rect().center());
        const struct
        {
            const char* name;
            QPoint from, to;
        } strokes[] = {{"sideways", mid - QPoint(100, 0), mid + QPoint(100, 0)},
                       {"back sideways", mid + QPoint(60, 10), mid - QPoint(60, 10)},
                       {"slanting", mid - QPoint(40, 25), mid + QPoint(40, 25)},
                       {"down", mid - QPoint(0, 25), mid + QPoint(0, 25)}};
        for (const auto& stroke : strokes) {
            SCOPED_TRACE(stroke.name);
            fingerStroke(window, stroke.from, stroke.to);
            QTest::qWait(50);
            EXPECT_FALSE(box->view()->isVisible());
        }
        QTest::mousePress(window, Qt::LeftButton, Qt::NoModifier, mid);
        for (const int dx : {20, 60, 100, 60, 20, 0}) {
            QTest::qWait(15);
            QTest::mouseMove(window, mid + QPoint(dx, 0));
        }
        QTest::mouseRelease(window, Qt::LeftButton, Qt::NoModifier, mid);
        QTest::qWait(50);
        EXPECT_FALSE(box->view()->isVisible()) << "out and back";

        fingerStroke(window, mid, mid + QPoint(2, 1));
        ASSERT_TRUE(waitUntil([&] { return box->view()->isVisible(); })) << "a tap opens";
        box->hidePopup();
        EXPECT_EQ(picks.count(), 0);
    }
}

TEST_F(PanelTest, FuzzyComboBoxFiltersAndFallsBackWhenNothingMatches)
{
    FuzzyComboBox combo(nullptr);
    combo.setStringList({"Alpha", "beta", "Gamma", "ALPHABET"});
    combo.setCurrentIndex(2);
    combo.setFilterFixedString("alp");
    combo.checkFilterResult(2);
    ASSERT_EQ(combo.count(), 2);
    EXPECT_EQ(combo.itemText(1), "ALPHABET");

    combo.setFilterFixedString("zzz");
    combo.checkFilterResult(2);
    EXPECT_EQ(combo.count(), 4);
    EXPECT_EQ(combo.currentText(), "Gamma");
}

namespace {
struct SnapshotCase
{
    int snapshot, trigMode, prodDetect;
    bool product, mould, choice;
};
} // namespace

TEST_F(PanelTest, SnapshotButtonsFollowTheParameters)
{
    const SnapshotCase cases[] = {
        {0, 0, 1, false, false, false}, {0, 2, 1, false, false, false}, {1, 0, 1, true, true, false},
        {1, 0, 0, false, true, false},  {1, 1, 0, false, false, true},  {1, 3, 1, false, false, true},
    };
    for (const SnapshotCase& c : cases) {
        para->manualSnapshot = c.snapshot;
        para->trigMode = c.trigMode;
        para->enableProdDetect = c.prodDetect;
        para->useStatistics = c.snapshot;
        IndexButton panel(win.get());
        panel.show();
        SCOPED_TRACE(QStringLiteral("switch %1 mode %2 prod %3").arg(c.snapshot).arg(c.trigMode).arg(c.prodDetect).toStdString());
        EXPECT_EQ(panel.productSnapButton()->isVisible(), c.product);
        EXPECT_EQ(panel.mouldSnapButton()->isVisible(), c.mould);
        EXPECT_EQ(panel.detectionChoice()->isVisible(), c.choice);
        EXPECT_EQ(panel.choiceSnapButton()->isVisible(), c.choice);
        EXPECT_EQ(panel.statisticsButton()->isVisible(), c.snapshot != 0);
        EXPECT_TRUE(panel.resampleButton()->isVisible());
    }
}

TEST_F(PanelTest, DetectionChoiceListsTheDetectionsOfTheTriggerMode)
{
    para->trigMode = 3;
    para->detectCount = 4;
    IndexButton ordinals(win.get());
    ASSERT_EQ(ordinals.detectionChoice()->count(), 4);
    EXPECT_EQ(ordinals.detectionChoice()->itemText(0), lanText(477));
    EXPECT_EQ(ordinals.detectionChoice()->itemText(3), lanText(480));
    EXPECT_EQ(ordinals.CurChooseTrig(), 0);

    para->trigMode = 1;
    gDNum = 2;
    IndexButton named(win.get());
    ASSERT_EQ(named.detectionChoice()->count(), 2);
    EXPECT_EQ(named.detectionChoice()->itemText(1), lanText(373));

    para->trigMode = 0;
    IndexButton none(win.get());
    EXPECT_EQ(none.detectionChoice()->count(), 0);
    EXPECT_EQ(none.CurChooseTrig(), -1);
}

TEST_F(PanelTest, PanelSitsAtTheRightEdgeAndHidesItself)
{
    setScreen(1024, 768);
    IndexButton panel(win.get());
    EXPECT_EQ(panel.geometry(), QRect(1024 - 240, 0, 240, 768));
    EXPECT_FALSE(panel.isVisible());  // hidden until the main window shows it
    panel.show();
    EXPECT_EQ(panel.shownFlag(), 1);

    panel.autoHideTimer()->start(IndexButton::kAutoHideMs);
    panel.SlotShowHideTimeout();
    EXPECT_FALSE(panel.isVisible());
    EXPECT_FALSE(panel.autoHideTimer()->isActive());

    panel.show();
    touch(panel.logoButton());  // a touch on the logo of a shown panel hides it whole
    EXPECT_FALSE(panel.isVisible());
    EXPECT_EQ(panel.shownFlag(), 0);

    panel.show();
    panel.ShowHide(0);
    EXPECT_FALSE(panel.isVisible());
    EXPECT_EQ(panel.shownFlag(), 1);
    panel.SlotShowHideTimeout();
    panel.checkShowHide();
    EXPECT_EQ(panel.shownFlag(), 1);
    EXPECT_TRUE(panel.isVisible());
}

TEST_F(PanelTest, ButtonsStartTheMainWindowActionsAndTheStatisticsScreen)
{
    para->manualSnapshot = 1;
    para->enableProdDetect = 1;
    para->useStatistics = 1;
    IndexButton panel(win.get());
    panel.show();
    for (QWidget* button : {static_cast<QWidget*>(panel.multiScreenButton()), static_cast<QWidget*>(panel.startStopButton()),
                            static_cast<QWidget*>(panel.systemParaButton()), static_cast<QWidget*>(panel.resampleButton()),
                            static_cast<QWidget*>(panel.areaButton()), static_cast<QWidget*>(panel.mouldSnapButton()),
                            static_cast<QWidget*>(panel.productSnapButton())})
        touch(button);
    EXPECT_EQ(win->calls, QStringList({"SlotReturn", "SlotStartStop", "SlotSystemPara", "SlotReTrain", "SlotAdjustArea",
                                       "SlotManualTrig 1", "SlotManualTrig 0"}));

    EXPECT_FALSE(StatisticsScreen::open());
    int opened = 0;
    StatisticsScreen::setOpener([&opened] { ++opened; });
    touch(panel.statisticsButton());
    StatisticsScreen::setOpener(nullptr);
    EXPECT_EQ(opened, 1);
}
