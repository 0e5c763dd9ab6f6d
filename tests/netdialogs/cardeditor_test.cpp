// The card editors worked by finger inside the network settings dialog, at the
// two panel sizes: every row reachable and whole, keypads whole on the screen,
// a tap elsewhere gives the old value back, a refusal shown and translated.
#include "edit.h"
#include "editip.h"
#include "fakehostroot.h"
#include "fakeshellrunner.h"
#include "globals.h"
#include "mainwindowbase.h"
#include "netdialogtest.h"
#include "network_carditem_setdia.h"
#include "networkmanager.h"
#include "networksettingdialog.h"
#include "numberinput.h"
#include "numcharinput.h"
#include "colorbutton.h"
#include "qttesthelpers.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QScroller>
#include <QApplication>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

// Readable sizes and points in failure messages.
static std::ostream& operator<<(std::ostream& os, const QSize& s) { return os << s.width() << "x" << s.height(); }
static std::ostream& operator<<(std::ostream& os, const QPoint& p) { return os << "(" << p.x() << "," << p.y() << ")"; }

namespace {

constexpr int kJapanese = 3;

// The widget's rect as it shows on the screen: cut by every parent and by the screen.
QRect shownPart(const QWidget* widget)
{
    QRect shown = widget->rect();
    QPoint offset;
    for (const QWidget* w = widget; w; w = w->parentWidget()) {
        if (w->isWindow()) {
            shown = shown.translated(offset + w->pos()).intersected(QRect(0, 0, gShowW, gShowH));
            return shown.translated(-offset - w->pos());
        }
        offset += w->pos();
        shown = shown.intersected(w->parentWidget()->rect().translated(-offset));
    }
    return shown;
}

bool wholeOnScreen(const QWidget* widget)
{
    return widget->isVisible() && shownPart(widget) == widget->rect();
}

QRect onScreen(const QWidget* widget)
{
    return QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size());
}

// A finger on the screen: whatever lies on top at that point takes the tap.
void tapAt(QWidget* widget, QPoint local)
{
    QWidget* window = widget->window();
    const QPoint at = widget->mapTo(window, local);
    QWidget* target = window->childAt(at);
    if (!target)
        target = window;
    const QPoint there = target->mapFrom(window, at);
    QTest::mousePress(target, Qt::LeftButton, Qt::NoModifier, there);
    QTest::mouseRelease(target, Qt::LeftButton, Qt::NoModifier, there);
}

void tap(QWidget* widget)
{
    tapAt(widget, widget->rect().center());
}

class CardEditorByTouch : public NetDialogTest, public ::testing::WithParamInterface<QSize>
{
protected:
    void SetUp() override
    {
        NetDialogTest::SetUp();
        gShowW = GetParam().width();
        gShowH = GetParam().height();
        gpWin = window.get();
        host.write("/proc/net/dev",
                   "Inter-|   Receive |  Transmit\n face |bytes packets|bytes packets\n"
                   "  eth0:    5000      50    0    0    0     0          0         0     2000      20\n"
                   " wlan0:    7000      70    0    0    0     0          0         0     3000      30\n");
        const auto file = [](const QJsonObject& card) {
            return QJsonDocument(QJsonObject{{"netcard_info", QJsonArray{card}}}).toJson();
        };
        host.write(NetworkManager::kWiredFile,
                   file({{"name", "eth0"}, {"address", "10.0.0.1"}, {"netmask", "255.255.255.0"},
                         {"gateway", "10.0.0.254"}, {"dns", "8.8.4.4"}}));
        host.write(NetworkManager::kWirelessFile,
                   file({{"name", "wlan0"}, {"iswifi", true}, {"hotname", "home"}, {"use", true},
                         {"address", "10.0.2.1"}, {"netmask", "255.255.255.0"}, {"dns", "8.8.4.4"}}));
        shell.setOutput("iwlist", "          ESSID:\"plant\"\n");
    }

    void TearDown() override
    {
        editor.reset();
        NetDialogTest::TearDown();
        gpWin = nullptr;
    }

    // The editor of a card, opened from the settings dialog as its pencil does.
    Network_CardItem_SetDia* open(const QString& card)
    {
        gpNetDialog = new NetworkSettingDialog(nullptr);
        gpNetDialog->show();
        gpNetDialog->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(gpNetDialog));
        editor = std::make_unique<Network_CardItem_SetDia>(NetworkManager::getInstance()->readNetInfo().value(card),
                                                          gpNetDialog);
        editor->show();
        // The wireless scan's wait dialog took the activation for a moment: the first tap must not need it back.
        EXPECT_TRUE(QTest::qWaitFor([] { return QApplication::activeWindow() == gpNetDialog; }, 1000));
        body = editor->findChild<QScrollArea*>("frameBody");
        // A drag scroller holds a press back until it knows it is no drag; the taps here are none.
        for (auto* area : gpNetDialog->findChildren<QAbstractScrollArea*>())
            QScroller::ungrabGesture(area->viewport());
        return editor.get();
    }

    // Scrolls the row into view as a finger would; false when it still is not whole there.
    bool bringIntoView(QWidget* row)
    {
        body->ensureWidgetVisible(row, 0, 0);
        return wholeOnScreen(row);
    }

    Edit* octet(const char* editor, int index) { return this->editor->findChild<EditIP*>(editor)->octet(index); }

    std::unique_ptr<MainWindowBase> window = std::make_unique<MainWindowBase>();
    FakeHostRoot host;
    FakeShellRunner shell;
    std::unique_ptr<Network_CardItem_SetDia> editor;
    QScrollArea* body = nullptr;
};

} // namespace

TEST_P(CardEditorByTouch, EveryRowIsReachableWholeAndItsKeypadOpensWholeOnTheScreen)
{
    for (const char* card : {"eth0", "wlan0"}) {
        SCOPED_TRACE(card);
        open(card);
        ASSERT_TRUE(body);
        EXPECT_TRUE(wholeOnScreen(editor.get()));
        EXPECT_TRUE(wholeOnScreen(editor->titleLabel()->parentWidget())) << "the confirm button stays in reach";
        QCoreApplication::processEvents();
        // Where the settings dialog has the room, the rows show whole without scrolling; where
        // it has not, the body says so with its bar.
        if (gShowH >= 1080) {
            EXPECT_EQ(body->verticalScrollBar()->maximum(), 0) << "the editor was sized before its drop-downs had their look";
        }
        if (body->verticalScrollBar()->maximum() > 0) {
            EXPECT_TRUE(body->verticalScrollBar()->isVisible()) << "the body scrolls but shows no bar";
        }

        const QList<QWidget*> rows = editor->bodyWidget()->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
        int shownRows = 0;
        for (QWidget* row : rows) {
            if (row->isHidden())
                continue;
            ++shownRows;
            EXPECT_TRUE(bringIntoView(row)) << row->metaObject()->className() << " " << row->objectName().toStdString()
                                            << " shown " << shownPart(row).height() << " of " << row->height();
        }
        EXPECT_GE(shownRows, 7);

        for (const char* address : {"IPAddressEdite_IP", "IPAddressEdite_DNS"}) {
            for (int i : {0, 3}) {
                Edit* field = octet(address, i);
                ASSERT_TRUE(bringIntoView(field->parentWidget())) << address;
                tap(field);
                ASSERT_TRUE(gpNumPad && gpNumPad->isVisible()) << address << " " << i;
                EXPECT_TRUE(wholeOnScreen(gpNumPad))
                    << address << " octet " << i << ": keypad at " << onScreen(gpNumPad).topLeft() << " shown "
                    << shownPart(gpNumPad).size() << " of " << gpNumPad->size();
                EXPECT_FALSE(onScreen(gpNumPad).intersects(onScreen(field))) << "the keypad hides its field";
                tap(gpNumPad->confirmKey());
                EXPECT_FALSE(gpNumPad->isVisible());
            }
        }
        for (const char* name : {"Edit_editHotName", "Edit_editPasswd"}) {
            auto* field = editor->findChild<Edit*>(name);
            if (!field)
                continue;
            ASSERT_TRUE(bringIntoView(field)) << name;
            tap(field);
            ASSERT_TRUE(gpNumCharPad && gpNumCharPad->isVisible()) << name;
            EXPECT_TRUE(wholeOnScreen(gpNumCharPad)) << name << ": keyboard shown " << shownPart(gpNumCharPad).size();
            EXPECT_FALSE(onScreen(gpNumCharPad).intersects(onScreen(field))) << "the keyboard hides its field";
            tap(gpNumCharPad->confirmKey());
        }
        editor.reset();
        dropNetDialog();
    }
}

TEST_P(CardEditorByTouch, ATapElsewhereGivesTheOldValueBackAndConfirmKeepsWhatWasTyped)
{
    open("eth0");
    Edit* first = octet("IPAddressEdite_DNS", 0);
    ASSERT_TRUE(bringIntoView(first->parentWidget()));
    tap(first);
    ASSERT_TRUE(gpNumPad->isVisible());
    EXPECT_EQ(first->text(), QString()) << "the keypad opens on an empty field";
    // Beside the row, on the body.
    tapAt(body->viewport(), QPoint(body->viewport()->width() - 10, first->mapTo(body->viewport(), QPoint(0, 0)).y()));
    EXPECT_FALSE(gpNumPad->isVisible());
    EXPECT_EQ(first->text(), QString("8"));
    EXPECT_EQ(editor->getNetINfo().dns, QString("8.8.4.4"));

    // Typed digits stand on a tap elsewhere as on Confirm.
    tap(first);
    tap(gpNumPad->digitKey(0));  // "1"
    tapAt(body->viewport(), QPoint(body->viewport()->width() - 10, 5));
    EXPECT_EQ(first->text(), QString("1"));
    // Confirm on an empty field keeps it empty: that is how an address is cleared.
    for (int i = 0; i < 4; ++i) {
        tap(octet("IPAddressEdite_DNS", i));
        tap(gpNumPad->confirmKey());
    }
    EXPECT_EQ(editor->getNetINfo().dns, QString());
}

TEST_P(CardEditorByTouch, ARefusedConfirmSaysWhyInTheScreensLanguageWhereTheSetterLooks)
{
    gLan = kJapanese;
    open("eth0");
    auto* refusal = editor->findChild<QLabel*>("refusalLabel");
    ASSERT_TRUE(refusal);
    // The DNS's third octet emptied on the keypad: no address any more.
    Edit* third = octet("IPAddressEdite_DNS", 2);
    ASSERT_TRUE(bringIntoView(third->parentWidget()));
    tap(third);
    tap(gpNumPad->confirmKey());
    body->verticalScrollBar()->setValue(0);

    QPushButton* confirm = nullptr;
    for (auto* button : editor->titleLabel()->parentWidget()->findChildren<QPushButton*>())
        if (button->text() == QString::fromUtf8("确定"))
            confirm = button;
    ASSERT_TRUE(confirm);
    tap(confirm);
    EXPECT_TRUE(editor->isVisible()) << "the editor stays open";
    EXPECT_NE(editor->result(), QDialog::Accepted);
    EXPECT_TRUE(wholeOnScreen(refusal)) << "shown " << shownPart(refusal).height() << " of " << refusal->height();
    EXPECT_TRUE(wholeOnScreen(editor->findChild<EditIP*>("IPAddressEdite_DNS"))) << "the refused row is brought into view";
    const QString japanese = refusal->text();
    EXPECT_TRUE(japanese.contains("8.8..4")) << japanese.toStdString();
    EXPECT_TRUE(japanese.contains(lanText(612))) << japanese.toStdString();
    gLan = 1;
    EXPECT_EQ(editor->refusedAddress(), lanText(612) + " 8.8..4: not an address (four numbers 0 to 255), refused");
    EXPECT_NE(japanese, editor->refusedAddress()) << "translated";
    EXPECT_FALSE(japanese.contains("refused")) << japanese.toStdString();
}

INSTANTIATE_TEST_SUITE_P(PanelSizes, CardEditorByTouch, ::testing::Values(QSize(1920, 1080), QSize(1024, 768)),
                         [](const ::testing::TestParamInfo<QSize>& info) {
                             return QString("%1x%2").arg(info.param.width()).arg(info.param.height()).toStdString();
                         });
