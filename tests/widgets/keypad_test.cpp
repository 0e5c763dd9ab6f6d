// The touch entry path: edits, the current edit, both keypads and their placement.
#include "widgetfixture.h"

#include "ccomp_dialogframe.h"
#include "colorbutton.h"
#include "edit.h"
#include "globals.h"
#include "numberinput.h"
#include "numcharinput.h"
#include "passwordbox.h"

#include <QScrollArea>
#include <QSet>
#include <QSignalSpy>
#include <QTest>

namespace {
class KeypadTest : public WidgetTest
{
protected:
    // A plain edit in the stand-in window.
    Edit* makeEdit(int type, QWidget* parent = nullptr, QRect geometry = QRect(100, 100, 200, 50))
    {
        auto* edit = new Edit(type, parent ? parent : win.get(), 0);
        edit->setGeometry(geometry);
        edit->show();
        return edit;
    }

    static void typeDigit(int digit)
    {
        for (int id = 0; id < 10; ++id) {
            if (gpNumPad->digitKey(id)->text() == QString::number(digit)) {
                touch(gpNumPad->digitKey(id));
                return;
            }
        }
        FAIL() << "no key shows " << digit;
    }

    static void typeChar(char c)
    {
        for (int id = 0; id < NumCharInput::kCharKeys; ++id) {
            if (gpNumCharPad->charKey(id)->text() == QString(QChar::fromLatin1(c))) {
                touch(gpNumCharPad->charKey(id));
                return;
            }
        }
        FAIL() << "no key shows " << c;
    }
};
} // namespace

TEST_F(KeypadTest, NumberKeypadOnPlainEditReplacesAppendsAndErases)
{
    Edit* edit = makeEdit(5);
    edit->setText("12");
    touch(edit);
    ASSERT_EQ(Edit::current(), edit);
    ASSERT_TRUE(gpNumPad->isVisible());
    EXPECT_EQ(gpNumPad->parentWidget(), win.get());
    EXPECT_EQ(edit->text(), "");  // the press empties the edit

    typeDigit(3);
    typeDigit(4);
    EXPECT_EQ(edit->text(), "34");
    touch(gpNumPad->bsKey());
    EXPECT_EQ(edit->text(), "3");
    touch(gpNumPad->bsKey());
    EXPECT_EQ(edit->text(), "");
    EXPECT_TRUE(gpNumPad->replaceFlag());
    typeDigit(5);
    EXPECT_EQ(edit->text(), "5");

    // Neither the keypad nor its keys took the focus.
    EXPECT_TRUE(edit->hasFocus());

    // Confirm ends the entry: the focus goes, the edit is no longer current.
    touch(gpNumPad->confirmKey());
    EXPECT_FALSE(gpNumPad->isVisible());
    EXPECT_FALSE(edit->hasFocus());
    EXPECT_EQ(Edit::current(), nullptr);
}

TEST_F(KeypadTest, KeysPressedInsideAScrollAreaKeepTheEditAndItsKeypad)
{
    // A scroll area takes the focus on a press that reaches it; the keys of a
    // keypad hosted in the scrolled page must not hand the press up to it.
    auto* scroll = new QScrollArea(win.get());
    scroll->setGeometry(0, 0, 1000, 700);
    auto* page = new QWidget;
    page->setFixedSize(980, 1400);
    scroll->setWidget(page);
    scroll->show();
    Edit* number = makeEdit(5, page, QRect(100, 100, 200, 50));
    Edit* text = makeEdit(6, page, QRect(100, 400, 200, 50));
    ASSERT_EQ(scroll->focusPolicy() & Qt::ClickFocus, Qt::ClickFocus);

    touch(number);
    ASSERT_EQ(gpNumPad->parentWidget(), page);
    typeDigit(8);
    typeDigit(0);
    EXPECT_TRUE(gpNumPad->isVisible());
    EXPECT_TRUE(number->hasFocus());
    EXPECT_EQ(Edit::current(), number);
    typeDigit(0);
    EXPECT_EQ(number->text(), "800");
    touch(gpNumPad->bsKey());
    EXPECT_EQ(number->text(), "80");
    touch(gpNumPad->confirmKey());
    EXPECT_FALSE(gpNumPad->isVisible());

    touch(text);
    ASSERT_TRUE(gpNumCharPad->isVisible());
    typeChar('a');
    typeChar('7');
    EXPECT_TRUE(gpNumCharPad->isVisible());
    EXPECT_TRUE(text->hasFocus());
    EXPECT_EQ(text->text(), "a7");

    // A press beside the keypad still ends the entry.
    touchAt(page, QPoint(950, 30));
    EXPECT_FALSE(text->hasFocus());
    EXPECT_FALSE(gpNumCharPad->isVisible());
    gpNumPad->setParent(nullptr);
    gpNumCharPad->setParent(nullptr);
}

TEST_F(KeypadTest, KeypadStaysInsideItsHostAndAboveTheScreenBottom)
{
    setScreen(1024, 768);
    auto* host = new QWidget(win.get());
    host->setGeometry(0, 0, 1000, 600);
    host->show();
    Edit* edit = makeEdit(5, host, QRect(900, 500, 100, 50));
    touch(edit);
    ASSERT_TRUE(gpNumPad->isVisible());
    EXPECT_EQ(gpNumPad->parentWidget(), host);
    // Anchor 555; 555 + 230 >= 719 puts it above: 555 - 275 = 280. x fits the host: 1000 - 427.
    EXPECT_EQ(gpNumPad->pos(), QPoint(1000 - NumberInput::kWidth, 280));
}

TEST_F(KeypadTest, HostOneLevelOutAddsTheParentOffset)
{
    auto* box = new QWidget(win.get());
    box->setGeometry(200, 300, 600, 100);
    box->show();
    Edit* edit = makeEdit(9, box, QRect(10, 20, 100, 50));
    touch(edit);
    EXPECT_EQ(gpNumPad->parentWidget(), win.get());
    EXPECT_EQ(gpNumPad->pos(), QPoint(210, 300 + 20 + 50 + 5));
}

TEST_F(KeypadTest, HostTwoLevelsOutAddsBothOffsets)
{
    auto* page = new QWidget(win.get());
    page->setGeometry(40, 60, 1200, 700);
    auto* row = new QWidget(page);
    row->setGeometry(200, 300, 600, 100);
    page->show();
    Edit* edit = makeEdit(17, row, QRect(10, 20, 100, 50));
    touch(edit);
    EXPECT_EQ(gpNumPad->parentWidget(), win.get());
    EXPECT_EQ(gpNumPad->pos(), QPoint(10 + 200 + 40, 20 + 50 + 5 + 300 + 60));
}

TEST_F(KeypadTest, NetworkDialogHostsTheKeypadAndTurnsItAboveNearTheBottom)
{
    setScreen(1024, 768);
    CComp_DialogFrame dialog("Network", nullptr);
    dialog.setGeometry(12, 0, 1000, 760);
    auto* card = new QWidget(dialog.bodyWidget());
    card->setGeometry(30, 40, 700, 600);
    Edit* top = makeEdit(33, card, QRect(50, 10, 80, 50));
    Edit* low = makeEdit(33, card, QRect(50, 500, 80, 50));
    dialog.show();
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));

    touch(top);
    ASSERT_TRUE(gpNumPad->isVisible());
    EXPECT_EQ(gpNumPad->parentWidget(), &dialog);
    const QPoint topCorner = top->mapTo(&dialog, QPoint(0, 0));
    EXPECT_EQ(gpNumPad->pos(), topCorner + QPoint(0, 50 + 5));

    // Below the edit it would reach the screen's bottom strip: it goes above.
    touch(low);
    ASSERT_TRUE(gpNumPad->isVisible());
    const QPoint lowCorner = low->mapTo(&dialog, QPoint(0, 0));
    ASSERT_GE(lowCorner.y() + 55 + NumberInput::kHeight, 768 - 49);
    EXPECT_EQ(gpNumPad->pos(), QPoint(lowCorner.x(), lowCorner.y() - NumberInput::kHeight - 5));
    touch(gpNumPad->confirmKey());
    gpNumPad->setParent(nullptr);
}

TEST_F(KeypadTest, APressWithoutACurrentEditOpensNoKeypad)
{
    Edit* edit = makeEdit(5);
    // An edit that cannot take the focus never becomes current.
    edit->setFocusPolicy(Qt::NoFocus);
    touch(edit);
    EXPECT_EQ(Edit::current(), nullptr);
    EXPECT_FALSE(gpNumPad->isVisible());
}

TEST_F(KeypadTest, FullKeyboardAppendsAtTheEndAndOpensOnLowerCase)
{
    // An edit that turns number keys into something else still gets plain characters.
    class DigitsOnly : public Edit
    {
    public:
        using Edit::Edit;
        void addValue(QString, bool) override { setText("digit"); }
    };
    Edit* edit = new DigitsOnly(6, win.get(), 0);
    edit->setGeometry(100, 100, 200, 50);
    edit->show();
    edit->setText("ab");
    touch(edit);
    ASSERT_TRUE(gpNumCharPad->isVisible());
    EXPECT_FALSE(gpNumPad->isVisible());
    EXPECT_EQ(edit->text(), "ab");  // the full keyboard leaves the text alone
    edit->setCursorPosition(0);
    typeChar('x');
    typeChar('1');
    EXPECT_EQ(edit->text(), "abx1");
    touch(gpNumCharPad->bsKey());
    EXPECT_EQ(edit->text(), "abx");
    EXPECT_EQ(edit->cursorPosition(), 2);

    touch(gpNumCharPad->capsKey());
    EXPECT_EQ(gpNumCharPad->charKey(11)->text(), "Q");
    EXPECT_EQ(gpNumCharPad->capsKey()->text(), lanText(159));
    touch(gpNumCharPad->symbolKey());
    EXPECT_EQ(gpNumCharPad->charKey(11)->text(), "-");
    EXPECT_EQ(gpNumCharPad->charKey(30)->text(), "`");
    EXPECT_EQ(gpNumCharPad->symbolKey()->text(), lanText(442));
    EXPECT_EQ(gpNumCharPad->capsKey()->text(), lanText(158));
    typeChar('@');
    EXPECT_EQ(edit->text(), "abx@");

    // No space key: every key shows a visible character.
    for (int id = 0; id < NumCharInput::kCharKeys; ++id)
        EXPECT_NE(gpNumCharPad->charKey(id)->text(), " ");

    touch(gpNumCharPad->confirmKey());
    EXPECT_FALSE(gpNumCharPad->isVisible());
    touch(edit);
    EXPECT_EQ(gpNumCharPad->charKey(11)->text(), "q");
    EXPECT_EQ(gpNumCharPad->symbolKey()->text(), lanText(441));
}

TEST_F(KeypadTest, PasswordEditShufflesDigitsAndEachKeyTypesWhatItShows)
{
    Edit* password = makeEdit(5);
    password->setEchoMode(QLineEdit::Password);
    QSet<QString> orders;
    for (int round = 0; round < 6; ++round) {
        password->setText("99");
        touch(password);
        EXPECT_EQ(password->text(), "");
        EXPECT_EQ(password->placeholderText(), lanText(125));
        EXPECT_FALSE(password->hasFocus());
        ASSERT_EQ(Edit::current(), password);
        ASSERT_TRUE(gpNumPad->isVisible());
        QString order;
        for (int id = 0; id < 10; ++id)
            order += gpNumPad->digitKey(id)->text();
        orders.insert(order);
        typeDigit(7);
        EXPECT_EQ(password->text(), "7");
        gpNumPad->hide();
    }
    EXPECT_GT(orders.size(), 1);

    // A plain edit gets the layout order back.
    Edit* plain = makeEdit(5, nullptr, QRect(100, 300, 200, 50));
    touch(plain);
    for (int id = 0; id < 10; ++id)
        EXPECT_EQ(gpNumPad->digitKey(id)->text(), QString::number((id + 1) % 10));
}

TEST_F(KeypadTest, ShuffledDigitsAreAlwaysTheTenDistinctDigits)
{
    for (int i = 0; i < 200; ++i) {
        const QVector<int> digits = genRandomNumber();
        ASSERT_EQ(digits.size(), 10);
        QSet<int> seen(digits.begin(), digits.end());
        EXPECT_EQ(seen.size(), 10);
        EXPECT_EQ(*std::min_element(digits.begin(), digits.end()), 0);
        EXPECT_EQ(*std::max_element(digits.begin(), digits.end()), 9);
    }
}

TEST_F(KeypadTest, CurrentEditClearsItselfWhenTheEditDiesAndKeysThenDoNothing)
{
    Edit* edit = makeEdit(5);
    touch(edit);
    ASSERT_EQ(Edit::current(), edit);
    delete edit;
    EXPECT_EQ(Edit::current(), nullptr);
    EXPECT_EQ(win->curEdit, nullptr);
    // Keys with no current edit are ignored rather than used on a dead edit.
    gpNumPad->setContent(3);
    gpNumPad->eraseContent();
    gpNumPad->eraseAll();
    gpNumPad->HideUpdate();
    gpNumCharPad->setContent(3);
    gpNumCharPad->eraseContent();
}

TEST_F(KeypadTest, KeypadsAreMadeAgainEveryTimeTheyAreLost)
{
    for (int round = 0; round < 3; ++round) {
        auto* host = new QWidget(win.get());
        host->setGeometry(0, 0, 1200, 800);
        host->show();
        Edit* edit = makeEdit(5, host);
        touch(edit);
        ASSERT_NE(gpNumPad, nullptr);
        ASSERT_EQ(gpNumPad->parentWidget(), host);
        delete host;  // takes the keypad with it
        EXPECT_EQ(gpNumPad, nullptr);
        EXPECT_NE(NumberInput::instance(), nullptr);
        EXPECT_EQ(NumberInput::instance(), gpNumPad);
    }

    // Lost while an edit waits for its first touch: that touch still opens it.
    Edit* edit = makeEdit(5);
    delete gpNumPad;
    delete gpNumCharPad;
    touch(edit);
    ASSERT_NE(gpNumPad, nullptr);
    EXPECT_TRUE(gpNumPad->isVisible());
    EXPECT_EQ(Edit::current(), edit);
}

TEST_F(KeypadTest, ReturnKeyOpensAndClosesTheKeypadAndPeriodMovesOn)
{
    Edit* edit = makeEdit(5);
    QSignalSpy dots(edit, &Edit::sig_Dot);
    edit->setFocus();
    ASSERT_EQ(Edit::current(), edit);
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_TRUE(gpNumPad->isVisible());
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_FALSE(gpNumPad->isVisible());
    QTest::keyClick(edit, Qt::Key_Period);
    EXPECT_EQ(dots.count(), 1);
}

TEST_F(KeypadTest, RangeClampsTextAndSwapsReversedBounds)
{
    Edit* edit = makeEdit(9);
    edit->setRange(255, 0);
    edit->setText("300");
    EXPECT_EQ(edit->text(), "255");
    EXPECT_EQ(edit->minimum(), 0);
    edit->setText("05");
    EXPECT_EQ(edit->text(), "5");
    edit->setText("x1");
    EXPECT_EQ(edit->text(), "x1");
    EXPECT_EQ(edit->value(), 0);
    edit->setValue(12.5);
    EXPECT_EQ(edit->text(), "12.5");
}

TEST_F(KeypadTest, PagesAndLoginEntryInEveryLanguage)
{
    for (int lan = 0; lan < kLanguageCount; ++lan) {
        gLan = lan;
        SCOPED_TRACE(lan);
        NumCharInput keyboard(nullptr);
        keyboard.show();
        EXPECT_EQ(keyboard.symbolKey()->text(), lanText(441));
        touch(keyboard.capsKey());
        EXPECT_EQ(keyboard.charKey(21)->text(), "A");
        EXPECT_EQ(keyboard.capsKey()->text(), lanText(159));
        touch(keyboard.capsKey());
        EXPECT_EQ(keyboard.charKey(21)->text(), "a");
        touch(keyboard.symbolKey());
        EXPECT_EQ(keyboard.charKey(21)->text(), "@");
        touch(keyboard.symbolKey());
        EXPECT_EQ(keyboard.charKey(21)->text(), "a");
        EXPECT_EQ(keyboard.symbolKey()->text(), lanText(441));

        PasswordBox login(nullptr);
        EXPECT_EQ(login.entry()->geometry(), QRect(245, 70, lan == 3 ? 420 : 350, 50));
        EXPECT_EQ(login.okButton()->text(), lanText(121));
    }
}
