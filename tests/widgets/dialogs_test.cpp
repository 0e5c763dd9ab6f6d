// The shared message, question and login dialogs, answered by touch.
#include "widgetfixture.h"

#include "choosebox.h"
#include "choosecalinumwidget.h"
#include "clock.h"
#include "colorbutton.h"
#include "combobox.h"
#include "edit.h"
#include "fakeshellrunner.h"
#include "dialogpainter.h"
#include "globals.h"
#include "languagetable.h"
#include "lostcamerawarnbox.h"
#include "modifytimewidget.h"
#include "numberinput.h"
#include "passwordbox.h"
#include "productalarmwarnbox.h"
#include "qttesthelpers.h"
#include "warnbox.h"

#include <QFontMetrics>

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <cstring>

namespace {
class DialogTest : public WidgetTest
{
protected:
    void TearDown() override
    {
        Clock::reset();
        WidgetTest::TearDown();
    }

    void setPassword(const char* password, int used)
    {
        std::strncpy(para->password, password, WizardPara::kPasswordSize - 1);
        para->isPswUsed = used;
    }

    // Runs the login dialog, types the entry on the keypad and confirms there.
    int login(PasswordBox& box, const QString& entry)
    {
        new ModalAnswerer([entry](QWidget* modal) {
            auto* dialog = static_cast<PasswordBox*>(modal);
            // The entry takes the focus only in the active window.
            // The entry takes the focus only in the active window.
            EXPECT_TRUE(QTest::qWaitFor([dialog] { return QApplication::activeWindow() == dialog; }));
            touch(dialog->entry());
            for (const QChar c : entry) {
                for (int id = 0; id < 10; ++id) {
                    if (gpNumPad->digitKey(id)->text() == QString(c)) {
                        touch(gpNumPad->digitKey(id));
                        break;
                    }
                }
            }
            touch(gpNumPad->confirmKey());
            if (dialog->isVisible())
                touch(dialog->cancelButton());
        });
        const int result = box.exec();
        // The window manager gives the main window back its activation.
        win->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(win.get()));
        return result;
    }
};
} // namespace

TEST_F(DialogTest, MessageBoxLightsADarkScreen)
{
    WarnBox box(nullptr);
    box.setText("hello");
    EXPECT_EQ(box.geometry(), QRect(960 - 375, 540 - 185, 750, 370));

    win->lcdOff = 1;
    para->screenOffTime = 30;
    new ModalAnswerer([](QWidget* modal) { touch(static_cast<WarnBox*>(modal)->okButton()); });
    EXPECT_EQ(box.exec(), 1);
    EXPECT_TRUE(win->calls.contains("LCDOnOff 1"));
    EXPECT_EQ(win->lcdOff, 0);
    EXPECT_TRUE(win->lcdTimer->isActive());
    EXPECT_EQ(win->lcdTimer->interval(), 30000);

    // With no backlight time-out the timer is left alone.
    win->lcdTimer->stop();
    win->lcdOff = 1;
    para->screenOffTime = 0;
    box.show();
    EXPECT_EQ(win->lcdOff, 0);
    EXPECT_FALSE(win->lcdTimer->isActive());
    box.hide();

    // Shown again on a smaller screen: centred there.
    setScreen(1024, 768);
    box.show();
    EXPECT_EQ(box.geometry(), QRect(512 - 375, 384 - 185, 750, 370));
}

// A refusal shown modally and a file warning arriving meanwhile (a full disk brings
// both): each reaches the operator in turn, none replaces the other unseen.
TEST_F(DialogTest, AMessageArrivingWhileAnotherIsShownWaitsForIt)
{
    WarnBox box(nullptr);
    box.setText("settings not saved");
    QStringList seen;
    QTimer::singleShot(0, [&box] {
        box.setText("count.ini not saved");
        box.show();
        box.setText("count.ini not saved");
        box.setText("settings not saved");
    });
    new ModalAnswerer([&seen](QWidget* modal) {
        seen << static_cast<WarnBox*>(modal)->text();
        touch(static_cast<WarnBox*>(modal)->okButton());
    });
    EXPECT_EQ(box.exec(), 1);
    EXPECT_EQ(seen, QStringList{"settings not saved"});
    ASSERT_TRUE(waitUntil([&box] { return box.isVisible(); })) << "the waiting message follows";
    EXPECT_EQ(box.text(), "count.ini not saved");
    EXPECT_TRUE(box.waitingTexts().isEmpty()) << "each text once";

    touch(box.okButton());
    QCoreApplication::processEvents();
    EXPECT_FALSE(box.isVisible());
    box.setText("next");
    EXPECT_EQ(box.text(), "next") << "a closed box takes a text at once";
}

TEST_F(DialogTest, QuestionBoxGivesOneOnlyForYes)
{
    ChooseBox box(nullptr, 750, 370);
    EXPECT_EQ(box.yesButton()->geometry(), QRect(375 - 270, 185 + 50, 220, 100));
    new ModalAnswerer([&box](QWidget*) { touch(box.yesButton()); });
    EXPECT_EQ(box.exec(), 1);
    new ModalAnswerer([&box](QWidget*) { touch(box.noButton()); });
    EXPECT_EQ(box.exec(), 0);
}

TEST_F(DialogTest, SharedBoxesMadeBeforeTheLanguageWasLoadedFollowItAfterwards)
{
    const int before = gLan;
    gLan = 0;  // the table's first language, as before the stored one is read
    WarnBox warn(nullptr);
    ChooseBox ask(nullptr, 750, 370);
    ASSERT_EQ(ask.yesButton()->text(), lanText(122));
    for (int lan : {1, 3, 2}) {
        gLan = lan;
        warn.retranslate();
        ask.retranslate();
        EXPECT_EQ(warn.okButton()->text(), lanText(121)) << lan;
        EXPECT_EQ(ask.yesButton()->text(), lanText(122)) << lan;
        EXPECT_EQ(ask.noButton()->text(), lanText(123)) << lan;
        // A translation is never cut: the font is fitted to the button again.
        for (ColorButton* b : {warn.okButton(), ask.yesButton(), ask.noButton()})
            EXPECT_LE(QFontMetrics(b->font()).horizontalAdvance(b->text()), b->width()) << lan;
    }
    gLan = before;
}

TEST_F(DialogTest, ProductionAlarmLeavesHeldOutputsToTheAlarmThatHoldsThem)
{
    ProductAlarmWarnBox box(win.get());
    EXPECT_EQ(box.text(), lanText(720));

    win->prodAlarmCount = 12;
    box.show();
    touch(box.okButton());
    EXPECT_EQ(outputs.calls, QStringList({"set 0 0", "set 2 0", "flash"}));
    EXPECT_EQ(win->prodAlarmCount, 0);

    outputs.calls.clear();
    win->heldOutputs = {0};
    win->prodAlarmCount = 12;
    box.show();
    touch(box.okButton());
    EXPECT_EQ(outputs.calls, QStringList({"set 2 0", "flash"}));
    EXPECT_EQ(win->prodAlarmCount, 0);
    EXPECT_FALSE(box.isVisible());

    // An NG that sounds the alarm keeps output 2 on as well.
    outputs.calls.clear();
    win->heldOutputs = {0, 2};
    box.show();
    touch(box.okButton());
    EXPECT_EQ(outputs.calls, QStringList({"flash"}));
}

TEST_F(DialogTest, LostCameraBoxRecordsThenPowersOffThroughTheRunner)
{
    FakeShellRunner shell;
    LostCameraWarnBox box(nullptr);
    EXPECT_EQ(box.okButton()->text(), lanText(209));
    EXPECT_EQ(box.text(), lanText(657));
    box.show();
    touch(box.okButton());
    EXPECT_EQ(win->calls, QStringList({"InsertRecord 因丢失相机手动关闭电源 operate", "StopWTD", "FLushAll"}));
    EXPECT_EQ(shell.lines(), QStringList({"init 0"}));
}

TEST_F(DialogTest, LoginLevelsFromPasswordAndServiceCode)
{
    PasswordBox box(nullptr);
    gpPasswordBox = &box;

    setPassword("1234", 0);
    EXPECT_EQ(login(box, "8162"), 1);
    EXPECT_EQ(win->loginLevel, 2);
    EXPECT_EQ(login(box, "1234"), 1);
    EXPECT_EQ(win->loginLevel, 1);

    // With protection on, only the code with the hour opens level 2.
    Clock::setFixed(QDateTime(QDate(2026, 3, 9), QTime(7, 45)));
    setPassword("1234", 1);
    EXPECT_EQ(PasswordBox::serviceCode(), "8162030907");
    EXPECT_EQ(login(box, "8162"), 0);
    EXPECT_EQ(win->loginLevel, 0);
    EXPECT_EQ(login(box, "8162030907"), 1);
    EXPECT_EQ(win->loginLevel, 2);

    // A configured password equal to the code still means level 2.
    setPassword("8162030907", 1);
    EXPECT_EQ(login(box, "8162030907"), 1);
    EXPECT_EQ(win->loginLevel, 2);
    gpPasswordBox = nullptr;
}

TEST_F(DialogTest, WrongEntryKeepsTheDialogOpenWithItsPrompt)
{
    PasswordBox box(nullptr);
    gpPasswordBox = &box;
    setPassword("1234", 1);
    win->loginLevel = 1;
    box.show();
    Edit* entry = box.entry();
    EXPECT_EQ(entry->placeholderText(), lanText(125));
    entry->setText("99");
    touch(box.okButton());
    EXPECT_TRUE(box.isVisible());
    EXPECT_EQ(win->loginLevel, 0);
    EXPECT_EQ(entry->text(), "");
    EXPECT_EQ(entry->placeholderText(), lanText(357));
    entry->setText("5");
    EXPECT_EQ(entry->placeholderText(), "");
    entry->setText("");
    EXPECT_EQ(entry->placeholderText(), lanText(125));

    // A wrong empty entry: the mark survives until the first erasure.
    touch(box.okButton());
    EXPECT_EQ(entry->placeholderText(), lanText(357));
    entry->setText("5");
    entry->setText("");
    EXPECT_EQ(entry->placeholderText(), lanText(357));
    entry->setText("5");
    entry->setText("");
    EXPECT_EQ(entry->placeholderText(), lanText(125));

    // A tap on the free area submits what was typed.
    entry->setText("1234");
    touchAt(&box, QPoint(20, 20));
    EXPECT_FALSE(box.isVisible());
    EXPECT_EQ(win->loginLevel, 1);
    EXPECT_EQ(box.result(), 1);
    gpPasswordBox = nullptr;
}

TEST_F(DialogTest, EmptyEntryMatchesAnEmptyPasswordAndCancelKeepsTheLevel)
{
    PasswordBox box(nullptr);
    gpPasswordBox = &box;
    setPassword("", 1);
    win->loginLevel = 0;
    box.show();
    touch(box.okButton());
    EXPECT_EQ(win->loginLevel, 1);

    win->loginLevel = 2;
    new ModalAnswerer([&box](QWidget*) { touch(box.cancelButton()); });
    EXPECT_EQ(box.exec(), 0);
    EXPECT_EQ(win->loginLevel, 2);
    gpPasswordBox = nullptr;
}

TEST_F(DialogTest, LoginStillWorksAfterTheKeypadWasMadeAgain)
{
    PasswordBox box(nullptr);
    gpPasswordBox = &box;
    setPassword("42", 1);
    delete gpNumPad;
    EXPECT_EQ(login(box, "42"), 1);
    EXPECT_EQ(win->loginLevel, 1);
    gpPasswordBox = nullptr;
}

TEST_F(DialogTest, DateDialogAndPointCountBox)
{
    ModifyTimeWidget time(nullptr);
    EXPECT_EQ(time.yesButton()->text(), lanText(121));
    EXPECT_EQ(time.noButton()->text(), lanText(124));
    EXPECT_NE(time.editDateTime(), nullptr);

    ChooseCaliNumWidget points(nullptr);
    ASSERT_EQ(points.comboBox()->count(), 3);
    EXPECT_EQ(points.comboBox()->itemText(2), " 25 ");
    EXPECT_EQ(points.comboBox()->geometry(), QRect(275, 370 / 4 + 30, 200, 50));
}

// Long translations in the fixed message boxes wrap at the given 40 px first
// and shrink only as far as needed, never below 24 px.
TEST(DialogText, MessagesWrapBeforeTheyShrinkAndStayReadable)
{
    ASSERT_GT(LanguageTable::load(), 0);
    const QRect box(QPoint(0, 5), QPoint(DialogPainter::kBoxW - 1, 2 * DialogPainter::kBoxH / 3 + 4));
    int atFullSize = 0;
    int rows = 0;
    for (int row = 0; row < kLanguageTableSize / kLanguageCount; ++row) {
        const QString& english = gaLanStr[kLanguageCount * row + 1];
        if (english.isEmpty())
            continue;
        ++rows;
        const QFont font = DialogPainter::messageFont(english, box);
        EXPECT_GE(font.pixelSize(), DialogPainter::kSmallestTextPixels) << "row " << row;
        atFullSize += font.pixelSize() == DialogPainter::kTextPixels ? 1 : 0;
        EXPECT_GE(DialogPainter::fittedFont(english, 200).pixelSize(), DialogPainter::kSmallestTextPixels);
    }
    EXPECT_GE(atFullSize, rows - 3) << "all but the longest rows keep 40 px";
}
