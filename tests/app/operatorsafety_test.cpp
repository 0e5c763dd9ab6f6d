#include "boardsimprocess.h"
#include "calibrationhold.h"
#include "colorbutton.h"
#include "controlport.h"
#include "fakeshellrunner.h"
#include "globals.h"
#include "iostatus.h"
#include "iolinkwatch.h"
#include "iowidget.h"
#include "mainwindowbase.h"
#include "modalanswerer.h"
#include "modalstacking.h"
#include "passwordbox.h"
#include "qttesthelpers.h"
#include "tempappdir.h"
#include "warnbox.h"
#include "wizardpara.h"

#include <QApplication>
#include <QMutex>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QWindow>

#include <memory>

namespace {

// The main window as the IO page sees it: an NG holds the clamp interlock
// (output 0) and the service check opens the real login dialog.
class InterlockedWindow : public MainWindowBase
{
public:
    QStringList records;
    int loginPrompts = 0;
    void InsertRecord(QString text, QString type) override { records << type + ": " + text; }
    bool isOutputHeld(int output) const override { return output == 0; }
    bool CheckRoot() override
    {
        if (loginLevel == 2)
            return true;
        ++loginPrompts;
        gpPasswordBox->exec();
        return loginLevel == 2;
    }
};

// Forwards every event to the calibration hold, as the application object does.
class HoldObserver : public QObject
{
public:
    explicit HoldObserver(CalibrationHold* hold) : m_hold(hold) {}
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        m_hold->observe(watched, event);
        return false;
    }

private:
    CalibrationHold* m_hold;
};

} // namespace

class OperatorSafetyTest : public AppDirTest
{
protected:
    void SetUp() override
    {
        if (!pMutexIO)
            pMutexIO = new QMutex;
        sim = std::make_unique<BoardSimProcess>(appDir.filePath("ioboard.tty"), appDir.filePath("outputs.log"));
        ASSERT_TRUE(sim->start()) << qPrintable(BoardSimProcess::binaryPath());
        port = std::make_unique<ControlPort>();
        port->setDevicePath(appDir.filePath("ioboard.tty"));
        IOThread::Timing timing;
        timing.watchdogMs = 60000;
        timing.answerTimeoutMs = 250;
        timing.reopenDelayMs = 50;
        port->setTiming(timing);
        port->InitIOThread();
        ASSERT_TRUE(waitUntil([&] { return port->isLinkUp(); }));
        qApp->installEventFilter(&stacking);
        login = std::make_unique<PasswordBox>(&win);
        gpPasswordBox = login.get();
        gpWin = &win;
    }
    void TearDown() override
    {
        qApp->removeEventFilter(&stacking);
        gpPasswordBox = nullptr;
        gpWin = nullptr;
        login.reset();
        port.reset();
        sim.reset();
    }

    // Every output word the board received since the clamp went on keeps it on.
    bool clampNeverReleased(int fromIndex) const
    {
        const auto records = sim->records();
        for (int i = fromIndex; i < records.size(); ++i)
            if (!(records[i].word & 0x0001))
                return false;
        return true;
    }

    ModalStacking stacking;
    InterlockedWindow win;
    std::unique_ptr<BoardSimProcess> sim;
    std::unique_ptr<ControlPort> port;
    std::unique_ptr<PasswordBox> login;
};

TEST_F(OperatorSafetyTest, HeldInterlockSurvivesOutputTestPressesWithAndWithoutRights)
{
    port->IOSetOut(0, 1);
    port->IOSetOut(2, 1);
    port->IOFlashOut();
    const int clampOn = sim->waitForWord(0x0005);
    ASSERT_GE(clampOn, 0);

    win.showFullScreen();
    IOWidget page(&win, port.get(), &win);
    page.setModal(true);
    page.showFullScreen();
    auto* o1 = page.findChild<ColorButton*>("ioTest0");
    ASSERT_NE(o1, nullptr);

    // Refused twice: the login dialog opens above the full-screen page each
    // time, is cancelled, and the button never stays pressed.
    QWindow* loginParent = nullptr;
    for (int attempt = 0; attempt < 2; ++attempt) {
        QTimer poll;
        int polls = 0;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            // A box below the page is never the active modal: give up instead of hanging.
            if (++polls > 100 && login->isVisible())
                login->reject();
            if (QApplication::activeModalWidget() != login.get() || !login->isVisible())
                return;
            poll.stop();
            loginParent = login->windowHandle()->transientParent();
            touch(login->cancelButton());
        });
        poll.start(20);
        touch(o1);
        EXPECT_FALSE(o1->isChecked());
        EXPECT_EQ(loginParent, page.windowHandle());
        EXPECT_EQ(login->parentWidget(), &win) << "back home after the answer";
        EXPECT_FALSE(login->isWindow());
    }
    EXPECT_EQ(win.loginPrompts, 2);
    EXPECT_TRUE(win.records.isEmpty());

    // With rights: on is recorded, off leaves the held interlock on.
    win.loginLevel = 2;
    touch(o1);
    EXPECT_TRUE(o1->isChecked());
    touch(o1);
    EXPECT_FALSE(o1->isChecked());
    EXPECT_EQ(win.records, QStringList{"operate: IO test O1 on"});
    // A free output goes on and off for its test.
    auto* o2 = page.findChild<ColorButton*>("ioTest1");
    touch(o2);
    ASSERT_GE(sim->waitForWord(0x0007, 3000, clampOn), 0);
    touch(o2);
    ASSERT_GE(sim->waitForWord(0x0005, 3000, clampOn + 1), 0);
    QTest::qWait(50);
    EXPECT_EQ(port->outputWord(), 0x0005);
    EXPECT_TRUE(clampNeverReleased(clampOn));
}

TEST_F(OperatorSafetyTest, TapOnTheStatusBarThatOpensThePageIsNoLongTouch)
{
    FakeShellRunner shell;
    CalibrationHold hold;
    HoldObserver observer(&hold);
    qApp->installEventFilter(&observer);
    win.showFullScreen();
    IOStatus bar(port.get(), &win);
    bar.setGeometry(0, 0, 400, 40);
    bar.show();
    bool holdWhilePageOpen = true;
    QObject::connect(&bar, &IOStatus::clicked, &win, [&] {
        IOWidget page(&win, port.get(), &win);
        QTimer::singleShot(50, &page, [&] {
            holdWhilePageOpen = hold.isActive();
            page.reject();
        });
        page.exec();
    });
    hold.timer()->setInterval(300);
    QTest::mousePress(&bar, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
    EXPECT_FALSE(holdWhilePageOpen);
    QTest::qWait(400);
    EXPECT_FALSE(shell.ran(CalibrationHold::kCalibrationProgram));
    qApp->removeEventFilter(&observer);
}

namespace {
class PaintCount : public QObject
{
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};
} // namespace

// The bar's tick repaints it only when what it shows changed: an output the
// board applied (no signal tells it) or a renamed signal; an idle bar stays unpainted.
TEST_F(OperatorSafetyTest, StatusBarRepaintsOnlyWhenWhatItShowsChanged)
{
    win.showFullScreen();
    IOStatus bar(port.get(), &win);
    bar.setGeometry(0, 0, 400, 40);
    PaintCount counter;
    bar.installEventFilter(&counter);
    bar.show();
    ASSERT_TRUE(waitUntil([&] { return counter.paints > 0; }));
    QTest::qWait(3 * IOStatus::kRefreshMs);
    const int settled = counter.paints;
    QTest::qWait(3 * IOStatus::kRefreshMs);
    EXPECT_EQ(counter.paints, settled) << "nothing changed: no paint";

    port->IOSetOut(2, 1);
    port->IOFlashOut();
    ASSERT_TRUE(waitUntil([&] { return IOStatus::isOn(port.get(), IOStatus::Entry{0, true, 2}); }));
    EXPECT_TRUE(waitUntil([&] { return counter.paints > settled; })) << "the applied output is shown";

    QTest::qWait(3 * IOStatus::kRefreshMs);
    const int afterOutput = counter.paints;
    const QString name = gaName[0];
    gaName[0] = name + QStringLiteral("x");
    EXPECT_TRUE(waitUntil([&] { return counter.paints > afterOutput; })) << "a new name is shown";
    gaName[0] = name;
}

TEST_F(OperatorSafetyTest, LostBoardLinkIsShownPlainlyAndRecordedOnceEachWay)
{
    WarnBox warn(nullptr);
    gpWarnBox = &warn;
    QStringList records;
    IOLinkWatch watch(port.get(), [&](const QString& text, const QString& type) { records << type + ": " + text; });
    port->IOSetOut(1, 1);
    port->IOFlashOut();
    ASSERT_GE(sim->waitForWord(0x0002), 0);
    const IOStatus::Entry o2{0, true, 1};
    ASSERT_TRUE(waitUntil([&] { return IOStatus::isOn(port.get(), o2); }));

    sim->stop();
    ASSERT_TRUE(waitUntil([&] { return warn.isVisible(); }));
    EXPECT_EQ(warn.text(), lanText(IOLinkWatch::kRowLinkLost));
    // While down the bar shows what the board last applied, not what is wanted.
    port->IOSetOut(1, 0);
    port->IOSetOut(3, 1);
    EXPECT_TRUE(IOStatus::isOn(port.get(), o2));
    EXPECT_FALSE(IOStatus::isOn(port.get(), IOStatus::Entry{0, true, 3}));
    QTest::qWait(300);  // reopen attempts fail meanwhile: still one record

    ASSERT_TRUE(sim->start());
    ASSERT_TRUE(waitUntil([&] { return port->isLinkUp(); }, 5000));
    EXPECT_FALSE(warn.isVisible());
    EXPECT_EQ(records, (QStringList{"info: IO board link lost", "info: IO board link back"}));
    EXPECT_GE(sim->waitForWord(0x0008), 0) << "the wanted word goes out on return";
    EXPECT_TRUE(waitUntil([&] { return IOStatus::isOn(port.get(), IOStatus::Entry{0, true, 3}); }));
    gpWarnBox = nullptr;
}
