#include "widgetfixture.h"

#include "globals.h"
#include "languagetable.h"
#include "numberinput.h"
#include "numcharinput.h"
#include "wizardpara.h"

#include <QTest>
#include <QtGlobal>
#include <QTimer>

StandInWindow::StandInWindow()
{
    lcdTimer = new QTimer(this);
    lcdTimer->setSingleShot(true);
}

void StandInWindow::InsertRecord(QString text, QString type)
{
    calls << QStringLiteral("InsertRecord %1 %2").arg(text, type);
}

void StandInWindow::LCDOnOff(int on)
{
    calls << QStringLiteral("LCDOnOff %1").arg(on);
    MainWindowBase::LCDOnOff(on);
}

void StandInWindow::StopWTD() { calls << "StopWTD"; }
void StandInWindow::FLushAll() { calls << "FLushAll"; }

bool StandInWindow::isOutputHeld(int output) const
{
    return heldOutputs.contains(output);
}

void WidgetTest::SetUp()
{
    gLan = 1;
    ASSERT_GT(LanguageTable::load(), 0);
    para = std::make_unique<WizardPara>();
    gpWPara = para.get();
    gpControlIO = &outputs;
    win = std::make_unique<StandInWindow>();
    gpWin = win.get();
    setScreen(1920, 1080);
    win->show();
    win->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(win.get()));
}

void WidgetTest::TearDown()
{
    delete gpNumPad;
    delete gpNumCharPad;
    win.reset();
    gpWin = nullptr;
    gpWPara = nullptr;
    gpControlIO = nullptr;
    gLan = 1;
    setScreen(1920, 1080);
}

void WidgetTest::setScreen(int width, int height)
{
    gShowW = width;
    gShowH = height;
    if (win)
        win->setGeometry(0, 0, width, height);
}

void touchAt(QWidget* widget, const QPoint& pos)
{
    QTest::mousePress(widget, Qt::LeftButton, Qt::NoModifier, pos);
    QTest::mouseRelease(widget, Qt::LeftButton, Qt::NoModifier, pos);
}

