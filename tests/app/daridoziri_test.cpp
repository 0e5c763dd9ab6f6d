#include "shellfixture.h"

#include "alarmclearmethod.h"
#include "cameramanager.h"
#include "cammersingleton.h"
#include "cammerwidget.h"
#include "choosebox.h"
#include "clock.h"
#include "configprompts.h"
#include "controlport.h"
#include "copy2movedisk.h"
#include "daridoziri.h"
#include "detectioncycle.h"
#include "diskmanager.h"
#include "drawroiwidget.h"
#include "edit.h"
#include "fakehostroot.h"
#include "fakeshellrunner.h"
#include "iostatus.h"
#include "globals.h"
#include "indexbutton.h"
#include "languagetable.h"
#include "lostcamerawarnbox.h"
#include "modbusserver.h"
#include "modalanswerer.h"
#include "numberinput.h"
#include "numcharinput.h"
#include "paramdatabase.h"
#include "paramdefaults.h"
#include "passwordbox.h"
#include "productalarmwarnbox.h"
#include "qttesthelpers.h"
#include "storedfile.h"
#include "statisticsscreen.h"
#include "statecodes.h"
#include "statisticswidget.h"
#include "warnbox.h"
#include "wizardpara.h"
#include "wizardparawidget.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QEventLoop>
#include <QJsonArray>
#include <QMouseEvent>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>
#include <QTimer>

#include <cstring>
#include <tuple>
#include <utility>

namespace {

const char* const kBacklight = "/sys/class/backlight/intel_backlight/bl_power";

class MainWindowTest : public AppDirTest
{
protected:
    void SetUp() override
    {
        resetShellGlobals();
        LanguageTable::load();
        appDir.writeFile("simcamera.json", cameras());
        qputenv("MM_SIMCAMERA_CONFIG", appDir.filePath("simcamera.json").toUtf8());
        host.write(kBacklight, "0\n");
        CameraManager::_instance = nullptr;
        win = std::make_unique<DaRiDoziri>();
        gpWin = win.get();
        shell.clear();
    }
    void TearDown() override
    {
        gpWin = nullptr;
        win.reset();
        qunsetenv("MM_SIMCAMERA_CONFIG");
        QSqlDatabase::removeDatabase(ParamDatabase::kConnectionName);
    }

    // The simulated cameras the window finds.
    virtual QByteArray cameras() const
    {
        return R"({"real": [{"serial": "UNIT-1", "width": 64, "height": 48, "pattern": "gradient"}]})";
    }

    // The program ended itself: every event loop returns at once until the application's
    // loop has run. Run it once so that later modal dialogs of this process wait for their
    // answer again.
    static void expectQuitAsked()
    {
        QEventLoop loop;
        QTimer::singleShot(5000, &loop, [&loop] { loop.exit(1); });
        EXPECT_NE(loop.exec(), 1) << "the application was asked to quit";
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        QCoreApplication::exec();
        QEventLoop after;
        QTimer::singleShot(0, &after, [&after] { after.exit(2); });
        EXPECT_EQ(after.exec(), 2);
    }

    QString backlight() const
    {
        QFile file(host.root() + kBacklight);
        return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()).trimmed() : QString();
    }

    FakeHostRoot host;
    FakeShellRunner shell;
    std::unique_ptr<DaRiDoziri> win;
};

} // namespace

TEST_F(MainWindowTest, ConstructionPublishesTheSharedObjectsAndOpensTheDatabases)
{
    EXPECT_EQ(numCamera, 1);
    EXPECT_EQ(win->cameraWidgets().size(), 1);
    EXPECT_EQ(gpControlIO, win->controlPort());
    EXPECT_EQ(gpWarnBox->parentWidget(), win.get());
    EXPECT_EQ(gpChooseBox->parentWidget(), win.get());
    EXPECT_EQ(gpPasswordBox->parentWidget(), win.get());
    EXPECT_EQ(gpNumPad->parentWidget(), win.get());
    EXPECT_EQ(gpNumCharPad->parentWidget(), win.get());
    EXPECT_TRUE(gpChooseBox->windowFlags() & Qt::WindowStaysOnTopHint);
    ASSERT_NE(gpLostCameraWarnBox, nullptr);
    EXPECT_EQ(gpLostCameraWarnBox->parentWidget(), nullptr);
    EXPECT_EQ(gpProductAlarmWarnBox->parentWidget(), win.get());
    EXPECT_FALSE(gpProductAlarmWarnBox->isVisible());
    EXPECT_TRUE(win->curEdit.isNull());
    EXPECT_NE(gpFailImage[0][7][1], nullptr);
    EXPECT_TRUE(win->recordDatabase().isOpen());
    QSqlQuery query(ParamDatabase::database());
    ASSERT_TRUE(query.exec("select value from sysparam where name = 'system7'"));
    EXPECT_TRUE(query.next()) << "a fresh PARAM.db gets its rows";
    EXPECT_TRUE(win->cycle()->isStarted());
}

TEST_F(MainWindowTest, ParameterStoresAskAndWarnThroughTheSharedBoxes)
{
    ModalAnswerer::finishDialog(1);
    EXPECT_TRUE(ConfigPrompts::ask("copy?"));
    ModalAnswerer::finishDialog(0);
    EXPECT_FALSE(ConfigPrompts::ask("copy?"));
    // The warning is a modal box: it returns once the operator closes it.
    ModalAnswerer::finishDialog(1);
    ConfigPrompts::warn("Camera parameter file error!");
    win.reset();
    gpWin = nullptr;
    EXPECT_FALSE(ConfigPrompts::ask("after the window is gone")) << "no dangling box is used";
}

// A full disk: one box names every file not saved (a camera's by its folder) and those saved
// after all; a stop spends the reserve the window keeps for them.
TEST_F(MainWindowTest, TheBoxNamesEveryFileNotSavedAndThoseSavedAfterAll)
{
    EXPECT_TRUE(QFile::exists(".storedfile.reserve"));
    StoredFile::reportFailure("count.ini", "No space left on device");
    QCoreApplication::processEvents();
    EXPECT_EQ(gpWarnBox->text(), lanText(900).arg("count.ini"));
    EXPECT_TRUE(gpWarnBox->isVisible());
    // One box, its list growing: the operator is not left closing one box per file.
    StoredFile::reportFailure("./cammer11/template0.bmp", "No space left on device");
    StoredFile::reportFailure(QDir::current().filePath("cammer21/ignorepoint.bmp"), "No space left on device");
    QCoreApplication::processEvents();
    EXPECT_EQ(gpWarnBox->text(), lanText(900).arg("count.ini, cammer11/template0.bmp, cammer21/ignorepoint.bmp"));
    EXPECT_TRUE(gpWarnBox->waitingTexts().isEmpty()) << gpWarnBox->waitingTexts().join("\n---\n").toStdString();
    StoredFile::reportSaved("count.ini");
    QCoreApplication::processEvents();
    EXPECT_EQ(gpWarnBox->text(), lanText(901).arg("count.ini") + "\r\n"
                                     + lanText(900).arg("cammer11/template0.bmp, cammer21/ignorepoint.bmp"));
    StoredFile::reportSaved("./cammer11/template0.bmp");
    QCoreApplication::processEvents();
    EXPECT_EQ(gpWarnBox->text(), lanText(901).arg("count.ini, cammer11/template0.bmp") + "\r\n"
                                     + lanText(900).arg("cammer21/ignorepoint.bmp"));
    // Closed by the operator: the next word comes in a box of its own, naming only what is new.
    gpWarnBox->hide();
    StoredFile::reportSaved(QDir::current().filePath("cammer21/ignorepoint.bmp"));
    QCoreApplication::processEvents();
    EXPECT_TRUE(gpWarnBox->isVisible());
    EXPECT_EQ(gpWarnBox->text(), lanText(901).arg("cammer21/ignorepoint.bmp"));
    win->FLushAll();
    EXPECT_TRUE(QFile::exists(".storedfile.reserve")) << "spent with nothing held";
    StoredFile::reportFailure("RECORD.db", "No space left on device");
    win->FLushAll();
    EXPECT_FALSE(QFile::exists(".storedfile.reserve")) << "kept at a stop with a record held";
    EXPECT_TRUE(StoredFile::failingPaths().isEmpty()) << "the record held was not written at the stop";

    QStringList many;
    for (int i = 0; i < DaRiDoziri::kMaxNamedFiles + 3; ++i)
        many << QString("file%1").arg(i);
    for (const QString& capped : {DaRiDoziri::storedFilesNotice(many), DaRiDoziri::storedFilesNotice({}, many)}) {
        EXPECT_TRUE(capped.contains(QString("file%1").arg(DaRiDoziri::kMaxNamedFiles - 1)));
        EXPECT_FALSE(capped.contains(QString("file%1").arg(DaRiDoziri::kMaxNamedFiles)));
        EXPECT_TRUE(capped.contains("(+3)"));
    }
    EXPECT_EQ(DaRiDoziri::storedFilesNotice(many, many.mid(0, 3)),
              lanText(901).arg("file0, file1 (+1)") + "\r\n" + lanText(900).arg(QString("file0, file1 (+%1)").arg(many.size() - 2)));
}

TEST_F(MainWindowTest, KeypadsComeBackDuringTheRunButNotAtShutDown)
{
    NumberInput* first = gpNumPad;
    delete gpNumPad;
    ASSERT_NE(gpNumPad, nullptr);
    EXPECT_NE(gpNumPad, first);
    delete gpNumCharPad;
    EXPECT_NE(gpNumCharPad, nullptr);

    // The new ones have no handler of their own; the originals' handlers are spent.
    gpNumPad->setParent(win.get());
    gpNumCharPad->setParent(win.get());
    gpWin = nullptr;
    win.reset();
    EXPECT_EQ(gpNumPad, nullptr);
    EXPECT_EQ(gpNumCharPad, nullptr);
}

TEST_F(MainWindowTest, CurrentEditForgetsADeletedEdit)
{
    auto* edit = new Edit(0, win.get());
    win->curEdit = edit;
    delete edit;
    EXPECT_TRUE(win->curEdit.isNull());
}

TEST_F(MainWindowTest, PasswordChecksFollowTheLoginLevel)
{
    gpWPara->isPswUsed = 0;
    EXPECT_EQ(win->CheckPassword(), 1);

    gpWPara->isPswUsed = 1;
    win->loginLevel = 0;
    ModalAnswerer::finishDialog(0);
    EXPECT_EQ(win->CheckPassword(), 0) << "the login dialog was shown and cancelled";

    win->loginLevel = 1;
    EXPECT_EQ(win->CheckPassword(), 1) << "a logged-in user is not asked again";

    ModalAnswerer::finishDialog(0);
    EXPECT_FALSE(win->CheckRoot()) << "level 1 is asked for the service code";
    win->loginLevel = 2;
    EXPECT_TRUE(win->CheckRoot());
}

TEST_F(MainWindowTest, TouchesRestartTheLogoutAndBacklightTimers)
{
    gpWPara->autoLogout = 2;
    gpWPara->screenOffTime = 30;
    win->loginLevel = 1;
    win->SlotUserActivity();
    EXPECT_TRUE(win->logoutTimer()->isActive());
    EXPECT_EQ(win->logoutTimer()->interval(), 2 * 60000);
    EXPECT_TRUE(win->lcdTimer->isActive());
    EXPECT_EQ(win->lcdTimer->interval(), 30000);

    // A panel whose CPU is listed as without LCD control switches the sysfs backlight.
    win->SlotLcdTimeout();
    EXPECT_EQ(win->lcdOff, 1);
    EXPECT_EQ(backlight(), "0") << "the LED device's LCD control is used";
    win->SlotUserActivity();
    gpWPara->appConfig.insert("not_Support_LCD_CPU", QJsonArray{gpWPara->cpuModelName});
    win->SlotLcdTimeout();
    EXPECT_EQ(backlight(), "1");
    win->SlotUserActivity();
    EXPECT_EQ(win->lcdOff, 0);
    EXPECT_EQ(backlight(), "0");

    win->SlotLogout();
    EXPECT_EQ(win->loginLevel, 0);
}

TEST_F(MainWindowTest, RecordsCarryTheLoginLevelText)
{
    QStringList sent;
    QObject::connect(win.get(), &DaRiDoziri::sigRecordInserted, win.get(),
                     [&](QString, QString level, QString text, QString type) { sent << level + "|" + text + "|" + type; });
    win->loginLevel = 2;
    win->InsertRecord("learned", "operate");
    win->loginLevel = 0;
    win->InsertRecord("note", "info");
    QSqlQuery query(win->recordDatabase());
    ASSERT_TRUE(query.exec("select recordpassword, remarks, recordtype from RECORD where recordtype != 'info' or remarks = 'note'"));
    QStringList rows;
    while (query.next())
        rows << QStringList{query.value(0).toString(), query.value(1).toString(), query.value(2).toString()}.join('|');
    EXPECT_TRUE(rows.contains(lanText(154) + "|learned|operate"));
    EXPECT_TRUE(rows.contains(lanText(156) + "|note|info"));
    EXPECT_EQ(sent, (QStringList{lanText(154) + "|learned|operate", lanText(156) + "|note|info"}));
}

TEST_F(MainWindowTest, ShutdownsCloseTheStoresFirstAndTheMonitorWorksOnWhenTheyReturn)
{
    // What the box has when the program runs: the databases closed, the board no longer driven.
    QStringList seenByTheBox;
    shell.setOnRun([&](const FakeShellRunner::Call& call) {
        if (call.program != "sync")
            seenByTheBox << QStringLiteral("%1: records %2, parameters %3, board %4")
                                .arg(call.line())
                                .arg(int(win->recordDatabase().isOpen()))
                                .arg(int(ParamDatabase::database().isOpen()))
                                .arg(int(win->controlPort()->watchdogFlag()));
    });
    win->rebootSystem();
    win->powerOff();
    shell.setOnRun({});
    EXPECT_EQ(shell.lines(), (QStringList{"sync", "reboot", "sync", "init 0"}));
    EXPECT_EQ(seenByTheBox, (QStringList{"reboot: records 0, parameters 0, board 0",
                                         "init 0: records 0, parameters 0, board 0"}));

    // Neither took the box down: the board is driven and parameters and records are stored again.
    EXPECT_TRUE(win->controlPort()->watchdogFlag());
    EXPECT_TRUE(gpWPara->SaveDatatoFile());
    win->InsertRecord("after the reboot", "info");
    QSqlQuery query(win->recordDatabase());
    ASSERT_TRUE(query.exec("select count(*) from RECORD where remarks = 'after the reboot'"));
    ASSERT_TRUE(query.next());
    EXPECT_EQ(query.value(0).toInt(), 1);
    query.finish();

    // A reboot that fails: the program restarts in its place, so what waits for the restart is read.
    ShellResult failed;
    failed.started = true;
    failed.exitCode = 1;
    shell.setResult("reboot", failed);
    shell.clear();
    win->rebootSystem();
    ASSERT_EQ(shell.calls().size(), 3);
    EXPECT_TRUE(shell.calls().last().detached);
    EXPECT_EQ(shell.calls().last().program, QCoreApplication::applicationFilePath());
    expectQuitAsked();
}

TEST_F(MainWindowTest, LanguageChangeIsStoredAndRestartsTheProgram)
{
    // A store that cannot save keeps the language and says so; nothing restarts.
    QSqlDatabase::database(ParamDatabase::kConnectionName, false).close();
    win->changeLanguage(3);
    EXPECT_EQ(gLan, 0);
    EXPECT_TRUE(shell.calls().isEmpty());
    EXPECT_TRUE(gpWarnBox->isVisible());
    EXPECT_EQ(gpWarnBox->text(), lanText(844));
    gpWarnBox->hide();
    ASSERT_TRUE(QSqlDatabase::database(ParamDatabase::kConnectionName, false).open());

    win->cycle()->CheckNG(true);
    ASSERT_EQ(win->controlPort()->IOGetOut(0), 1);
    win->changeLanguage(3);
    EXPECT_EQ(gLan, 3);
    ASSERT_EQ(shell.calls().size(), 1);
    EXPECT_TRUE(shell.calls().first().detached);
    EXPECT_EQ(shell.calls().first().program, QCoreApplication::applicationFilePath());
    QSqlDatabase db = ParamDatabase::database();
    ASSERT_TRUE(db.open());
    QSqlQuery query(db);
    ASSERT_TRUE(query.exec("select value from sysparam where name = 'system2'"));
    ASSERT_TRUE(query.next());
    EXPECT_EQ(query.value(0).toString().split(' ').value(12), "3");
    expectQuitAsked();

    // The program started again raises the NG that stood, before its IO link sends a word.
    win.reset();
    win = std::make_unique<DaRiDoziri>();
    gpWin = win.get();
    EXPECT_EQ(win->controlPort()->IOGetOut(0), 1);
    EXPECT_EQ(win->controlPort()->IOGetOut(2), 1);
    EXPECT_EQ(win->pageState, kPageAlarm);
    EXPECT_EQ(win->resultState, 2);
    QSqlQuery records(win->recordDatabase());
    ASSERT_TRUE(records.exec("select count(*) from RECORD where recordtype = 'operate' and remarks like "
                             "'NG alarm raised again after restart: detection %'"));
    ASSERT_TRUE(records.next());
    EXPECT_EQ(records.value(0).toInt(), 1);
    win->cycle()->clearAlarm();
    EXPECT_EQ(win->controlPort()->IOGetOut(0), 0);
}

TEST_F(MainWindowTest, LostCameraInterlocksTheClampUnlessDetectionIsStopped)
{
    gpWPara->cameraDisconnect = 0;
    win->LostCamera();
    EXPECT_EQ(win->controlPort()->IOGetOut(0), 1);
    EXPECT_TRUE(gpWarnBox->isVisible());
    gpWarnBox->hide();

    win->controlPort()->IOSetOut(0, 0);
    win->runState = 3;
    gpWPara->cameraDisconnect = 1;
    win->LostCamera();
    EXPECT_EQ(win->controlPort()->IOGetOut(0), 0);
    EXPECT_TRUE(gpLostCameraWarnBox->isVisible());
    win->SlotCameraLostChanged(false);
    EXPECT_FALSE(gpLostCameraWarnBox->isVisible());
}

TEST_F(MainWindowTest, StartingDetectionLeavesTheClampToAShownProductionAlarm)
{
    gpWPara->stopClampOnStop = 1;
    win->SlotStartStop();
    ASSERT_EQ(win->runState, 3);
    gpProductAlarmWarnBox->show();
    win->SlotStartStop();
    EXPECT_EQ(win->runState, 1);
    EXPECT_EQ(win->controlPort()->IOGetOut(0), 1) << "the production alarm still interlocks the clamp";
    gpProductAlarmWarnBox->accept();
    EXPECT_EQ(win->controlPort()->IOGetOut(0), 0);
}

TEST_F(MainWindowTest, StartStopSwitchesTheRunStateAndRecordsIt)
{
    gpWPara->stopClampOnStop = 1;
    gpWPara->stopCutOutput4 = 1;
    win->controlPort()->IOSetOut(3, 1);
    win->SlotStartStop();
    EXPECT_EQ(win->runState, 3);
    EXPECT_EQ(win->controlPort()->IOGetOut(0), 1);
    EXPECT_EQ(win->controlPort()->IOGetOut(3), 0) << "output 4 cut off";
    // Neither a returning camera nor a lifted alarm opens the stop's interlock.
    win->SlotCameraLostChanged(false);
    win->cycle()->CheckNG(true);
    win->cycle()->clearAlarm();
    EXPECT_EQ(win->controlPort()->IOGetOut(0), 1);
    win->SlotStartStop();
    EXPECT_EQ(win->runState, 1);
    EXPECT_EQ(win->controlPort()->IOGetOut(0), 0);
    QSqlQuery query(win->recordDatabase());
    ASSERT_TRUE(query.exec("select remarks from RECORD where recordtype = 'operate'"));
    QStringList texts;
    while (query.next())
        texts << query.value(0).toString();
    EXPECT_EQ(texts, (QStringList{lanText(127), lanText(136)}));
}

// A product NG holding the ejector and a mould NG holding output 4 keep them through a
// stop whose settings switch those outputs off.
TEST_F(MainWindowTest, StopSettingsLeaveTheOutputsOfAStandingNg)
{
    gpWPara->trigMode = 0;
    gpWPara->noEjectorOnStop = 1;
    gpWPara->stopCutOutput4 = 1;
    gpWPara->cutEjectorOnProdAlarm = 1;
    gpWPara->noEjectorInProd = 0;
    gpWPara->prodNgNoEjector = 0;
    gpWPara->cavityAlarmOutputO4 = 1;
    gpWPara->ejectorPulse = 0;
    gpWPara->output4Pulse = 0;
    win->checkDetect = 0;
    win->cycle()->CheckNG(true);
    win->checkDetect = 1;
    win->cycle()->CheckNG(true);
    ASSERT_EQ(win->controlPort()->IOGetOut(1), 1);
    ASSERT_EQ(win->controlPort()->IOGetOut(3), 1);
    win->SlotStartStop();
    ASSERT_EQ(win->runState, 3);
    EXPECT_EQ(win->controlPort()->IOGetOut(1), 1) << "the product NG holds the ejector";
    EXPECT_EQ(win->controlPort()->IOGetOut(3), 1) << "the mould NG holds output 4";
    win->cycle()->clearAlarm();
    win->SlotStartStop();
    win->SlotStartStop();
    EXPECT_EQ(win->controlPort()->IOGetOut(1), 0);
    EXPECT_EQ(win->controlPort()->IOGetOut(3), 0);
}

TEST_F(MainWindowTest, APressOnTheWindowHidesTheKeypads)
{
    win->show();
    gpNumPad->show();
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(win.get(), &press);
    EXPECT_FALSE(gpNumPad->isVisible());
}

TEST_F(MainWindowTest, ZoomAndPan)
{
    win->MScale(2.0f);
    EXPECT_DOUBLE_EQ(win->zoomScale, 2.0);
    win->updateMScale(10, -4);
    EXPECT_DOUBLE_EQ(win->zoomX, 10);
    EXPECT_DOUBLE_EQ(win->zoomY, -4);
    win->MScale(1.0f);
    EXPECT_DOUBLE_EQ(win->zoomX, 0);
    win->updateMScale(10, 10);
    EXPECT_DOUBLE_EQ(win->zoomX, 0) << "no pan at scale 1";
}

TEST_F(MainWindowTest, CameraCheckAndRestart)
{
    EXPECT_EQ(win->CameraCheck(), 1);
    CammerWidget* unit = win->cameraWidgets().first();
    unit->isConnected = false;
    EXPECT_EQ(win->CameraCheck(), 0);
    win->CameraRestart();
    EXPECT_TRUE(unit->isConnected) << "the simulated camera reconnects at the first attempt";
    EXPECT_EQ(win->CameraCheck(), 1);
    win->CameraSetSpeed();
}

TEST_F(MainWindowTest, AFreshParameterDatabaseGetsEveryRowAndKeepsExistingOnes)
{
    QSqlDatabase db = ParamDatabase::database();
    QSqlQuery query(db);
    ASSERT_TRUE(query.exec("update sysparam set value = '7 7 7 7' where name = 'exposeTime'"));
    ASSERT_TRUE(query.exec("delete from sysparam where name = 'system4'"));
    ASSERT_TRUE(ParamDefaults::ensure(db));
    ASSERT_TRUE(query.exec("select value from sysparam where name = 'exposeTime'"));
    ASSERT_TRUE(query.next());
    EXPECT_EQ(query.value(0).toString(), "7 7 7 7");
    ASSERT_TRUE(query.exec("select value from sysparam where name = 'system4'"));
    ASSERT_TRUE(query.next());
    EXPECT_EQ(query.value(0).toString(), "0 0 0");
    ASSERT_TRUE(query.exec("select count(*) from sqlite_master where type = 'table' and name like 'cammer%'"));
    ASSERT_TRUE(query.next());
    EXPECT_EQ(query.value(0).toInt(), 8);
}

TEST_F(MainWindowTest, ReturnLiftsTheAlarmAndShowsAllCameras)
{
    win->selCamera = 0;
    win->cycle()->CheckNG(true);
    ASSERT_TRUE(win->cycle()->isAlarmed());
    EXPECT_EQ(win->controlPort()->IOGetOut(0), 1);
    // Cancelling the choice leaves the alarm standing.
    ModalAnswerer::pressButton("cancel");
    win->SlotReturn();
    EXPECT_TRUE(win->cycle()->isAlarmed());
    EXPECT_EQ(win->selCamera, 0);
    ModalAnswerer::pressButton("redetect");
    win->SlotReturn();
    EXPECT_FALSE(win->cycle()->isAlarmed());
    EXPECT_EQ(win->controlPort()->IOGetOut(0), 0);
    EXPECT_EQ(win->pageState, 0);
    EXPECT_EQ(win->selCamera, numCamera);
}

// With an NG alarm standing, each screen over the main screen gives the button panel back
// as it stood before the screen opened, and a touch on the camera view calls a hidden panel back.
TEST_F(MainWindowTest, ScreensGiveThePanelBackAndATouchCallsItDuringAnAlarm)
{
    gpWPara->isPswUsed = 0;
    win->show();
    IndexButton* panel = win->pIndexButton;
    WizardParaWidget* settings = win->pWizardParaWidget;
    DrawROIWidget* editor = win->pDrawROIWidget;
    ASSERT_TRUE(panel->isVisible());
    win->cycle()->CheckNG(true);
    ASSERT_EQ(win->pageState, kPageAlarm);

    win->SlotSystemPara();
    ASSERT_TRUE(settings->isVisible());
    EXPECT_FALSE(panel->isVisible());
    settings->reject();
    EXPECT_TRUE(panel->isVisible()) << "settings left by Return";
    win->SlotSystemPara();
    ModalAnswerer::finishDialog(1);  // the save question
    settings->accept();
    EXPECT_FALSE(settings->isVisible());
    EXPECT_TRUE(panel->isVisible()) << "settings left by Confirm and YES";

    // The IO page opened over the ROI editor leaves the column to the editor.
    // The editor leaves the alarm on the outputs, on Modbus and on the views (the alarm image).
    ModbusServer registers(QHostAddress::LocalHost, 0);
    ASSERT_EQ(registers.getData().value(1), 1);
    win->SlotAdjustArea();
    ASSERT_TRUE(editor->isVisible());
    EXPECT_EQ(registers.getData().value(1), 1) << "the NG register while the editor is open";
    EXPECT_EQ(gSource, kSourceLive) << "the alarm image, whose NG areas blink red";
    EXPECT_EQ(win->controlPort()->IOGetOut(0), 1);
    ModalAnswerer::finishDialog(0);
    win->SlotOpenIoPage();
    EXPECT_FALSE(panel->isVisible());
    editor->SlotReturn();
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(registers.getData().value(1), 1) << "the NG register after the editor";
    EXPECT_EQ(win->pageState, kPageAlarm);

    // The auto-hide may fire while the statistics screen is up.
    ASSERT_TRUE(StatisticsScreen::open());
    panel->SlotShowHideTimeout();
    StatisticsWidget::instance->hide();
    EXPECT_TRUE(panel->isVisible()) << "statistics closed";

    // A panel hidden before the IO page stays hidden after it; a touch calls it back.
    panel->SlotShowHideTimeout();
    ModalAnswerer::finishDialog(0);
    win->SlotOpenIoPage();
    EXPECT_FALSE(panel->isVisible());
    CammerWidget* view = win->cameraWidgets().first();
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), view->mapToGlobal(QPoint(5, 5)), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view, &press);
    EXPECT_TRUE(panel->isVisible()) << "a touch on the camera view during the alarm";
    EXPECT_EQ(panel->shownFlag(), 1);
    EXPECT_TRUE(panel->autoHideTimer()->isActive());
    EXPECT_TRUE(win->cycle()->isAlarmed());

    // Not over the settings screen, though.
    win->SlotSystemPara();
    QApplication::sendEvent(view, &press);
    EXPECT_FALSE(panel->isVisible());
    settings->reject();
    EXPECT_TRUE(panel->isVisible());

    // With no alarm the editor shows its own state and the template, and gives the OK back;
    // an NG decided while it is open stays shown after it.
    win->cycle()->clearAlarm();
    win->SlotAdjustArea();
    EXPECT_EQ(win->resultState, 3);
    EXPECT_EQ(gSource, kSourceEditor);
    editor->SlotReturn();
    EXPECT_EQ(win->resultState, 1);
    win->SlotAdjustArea();
    win->cycle()->CheckNG(true);
    editor->SlotReturn();
    EXPECT_EQ(registers.getData().value(1), 1);
    win->cycle()->clearAlarm();
}

// A false NG taught away at the alarm: "don't detect" makes the NG pixels of the
// NG ROIs ignore points (kept in memory and in the file) and stamps the method;
// "add as template" re-trains the NG camera's group with its next frame.
TEST_F(MainWindowTest, AlarmClearChoicesTeachTheNgCamera)
{
    ASSERT_FALSE(win->cameraWidgets().isEmpty());
    CammerWidget* cam = win->cameraWidgets().first();
    CammerSingleton& store = *cam->pSingleton;
    const int g = 0;
    win->checkDetect = g;
    store.roiCount[g] = 2;
    for (int r = 0; r < 2; ++r) {
        store.roiShape[g][r] = CammerSingleton::kShapeRect;
        store.rectRoi[g][r].rect = QRect(r * 60, 0, 50, 40);  // display coordinates
        store.rectRoi[g][r].setShowA(cam->screenSW, cam->screenSH);
        store.rectRoi[g][r].setImageRect();
    }
    const QRect ngBox = store.rectRoi[g][0].imageRect;
    ASSERT_FALSE(ngBox.isEmpty());
    const int w = cam->imageW;
    std::memset(cam->pIgnoreMask[g], 0, size_t(cam->imagePixels));
    std::memset(cam->pSensMask, 0, size_t(cam->imagePixels));
    const QPoint droplet = ngBox.center();
    const QPoint outsideNgRoi(cam->imageW - 1, cam->imageH - 1);
    cam->pSensMask[droplet.y() * w + droplet.x()] = 255;
    cam->pSensMask[outsideNgRoi.y() * w + outsideNgRoi.x()] = 255;
    cam->roiResult[g][0] = false;
    cam->roiResult[g][1] = true;
    cam->camOK = false;
    win->cycle()->CheckNG(true);
    ASSERT_TRUE(win->cycle()->isAlarmed());

    // "Don't detect" under its password: refused, nothing is taught and the alarm stands.
    gpWPara->isPswUsed = 1;
    gpWPara->pswNoDetect = 1;
    win->loginLevel = 0;
    PasswordBox* box = std::exchange(gpPasswordBox, nullptr);  // refused without a dialog
    ModalAnswerer::pressButton("dontDetect");
    win->SlotReturn();
    gpPasswordBox = box;
    EXPECT_TRUE(win->cycle()->isAlarmed());
    EXPECT_EQ(cam->pIgnoreMask[g][droplet.y() * w + droplet.x()], 0);
    win->loginLevel = 1;

    // Detection 2 checked last: what is taught is the NG the release lifts, detection 1's.
    win->checkDetect = 1;
    ModalAnswerer::pressButton("dontDetect");
    win->SlotReturn();
    win->checkDetect = g;
    EXPECT_FALSE(win->cycle()->isAlarmed());
    EXPECT_EQ(win->alarmClearState[cam->camIndex][g], AlarmClearMethod::DontDetect);
    EXPECT_EQ(cam->pIgnoreMask[g][droplet.y() * w + droplet.x()], 255);
    EXPECT_EQ(cam->pIgnoreMask[g][outsideNgRoi.y() * w + outsideNgRoi.x()], 0) << "only NG pixels of NG ROIs";
    const QImage saved(QString("./cammer%1%2/ignorepoint.bmp").arg(cam->camIndex + 1).arg(g + 1));
    ASSERT_FALSE(saved.isNull());
    EXPECT_NE(qGray(saved.pixel(droplet)), 0);
    // The next pictures carry the method, once.
    cam->UpdateFailImage(g, 0);
    EXPECT_EQ(win->alarmClearState[cam->camIndex][g], 9);

    cam->camOK = false;
    win->cycle()->CheckNG(true);
    ModalAnswerer::pressButton("addAsTemplate");
    win->SlotReturn();
    EXPECT_EQ(win->alarmClearState[cam->camIndex][g], AlarmClearMethod::AddAsTemplate);
    EXPECT_TRUE(cam->reTrainPending[g]);
    EXPECT_FALSE(cam->reTrainPending[1]) << "only the NG group is re-trained";

    // Re-detect starts the NG detection again as its trigger does; the switch starts the mould detection.
    gpWPara->trigInDelay[0] = gpWPara->trigInDelay[1] = 10;
    for (const auto& [button, detection, method] : {std::tuple{"redetect", 0, int(AlarmClearMethod::Redetect)},
                                                    std::tuple{"switchToMould", 1, int(AlarmClearMethod::SwitchToMould)}}) {
        win->cycle()->cancelCountdowns();
        win->checkDetect = 0;
        cam->camOK = false;
        win->cycle()->CheckNG(true);
        ModalAnswerer::pressButton(button);
        win->SlotReturn();
        EXPECT_EQ(win->alarmClearState[cam->camIndex][0], method) << button;
        EXPECT_TRUE(win->cycle()->isCounting(detection)) << button;
    }

    // Two stages, the second in use (stage groups 1): the switch is to detection 4, and an
    // NG of detection 4 itself is not offered it.
    const int mode = gpWPara->trigMode, detections = gDNum;
    gpWPara->trigMode = 1;
    gDNum = 4;
    for (int d = 0; d < 4; ++d)
        gpWPara->detectEnable[d] = d >= 2 ? 1 : 0;
    gpWPara->trigInDelay[3] = 10;
    win->stageFlag = 0;
    for (const int ng : {2, 3}) {
        win->cycle()->cancelCountdowns();
        win->cycle()->clearAlarm();
        win->checkDetect = ng;
        cam->camOK = false;
        win->cycle()->CheckNG(true);
        bool offered = false;
        new ModalAnswerer([&](QWidget* modal) {
            for (QAbstractButton* button : modal->findChildren<QAbstractButton*>())
                offered = offered || button->objectName() == QLatin1String("switchToMould");
            for (QAbstractButton* button : modal->findChildren<QAbstractButton*>())
                if (button->objectName() == QLatin1String(offered ? "switchToMould" : "redetect"))
                    touch(button);
        });
        win->SlotReturn();
        EXPECT_EQ(offered, ng == 2) << ng;
        EXPECT_TRUE(win->cycle()->isCounting(3)) << ng;
        EXPECT_FALSE(win->cycle()->isCounting(1)) << ng;
    }
    win->cycle()->cancelCountdowns();
    gpWPara->trigMode = mode;
    gDNum = detections;
}

// The box is the operator's answer to the NG shown when it was tapped open: an NG decided
// while it stands open (the mould detection's, here) stays whatever is chosen, with its
// outputs, its alarm page and no check of it made on the operator's behalf.
TEST_F(MainWindowTest, TheReturnBoxLiftsOnlyWhatStoodAtTheTap)
{
    ASSERT_GT(gDNum, 1);
    gpWPara->isPswUsed = 0;
    for (int d = 0; d < kMaxDetections; ++d)
        gpWPara->trigInDelay[d] = 10;   // no Re-detect decides within the test
    for (const char* button : {"dontDetect", "addAsTemplate", "redetect", "switchToMould"}) {
        win->checkDetect = 0;
        win->cycle()->CheckNG(true);
        ASSERT_TRUE(win->cycle()->isAlarmed()) << button;
        new ModalAnswerer([this, button](QWidget* box) {
            QTest::qWait(3);
            win->checkDetect = 1;
            win->cycle()->CheckNG(true);
            for (QAbstractButton* choice : box->findChildren<QAbstractButton*>())
                if (choice->isVisible() && choice->objectName() == QLatin1String(button))
                    touch(choice);
        });
        win->SlotReturn();
        EXPECT_TRUE(win->cycle()->alarmStands()) << button;
        EXPECT_EQ(win->pageState, kPageAlarm) << button;
        EXPECT_EQ(win->controlPort()->IOGetOut(0), 1) << button;
        if (std::strcmp(button, "redetect") == 0) {
            EXPECT_FALSE(win->cycle()->isCounting(1)) << "only detection 1 is checked again";
        }
        win->cycle()->cancelCountdowns();
        win->cycle()->clearAlarm();
        ASSERT_FALSE(win->cycle()->isAlarmed()) << button;
    }
}

// What the box offers and guards: the switch to the mould only over another detection's NG and
// not in the multi-detection mode; each teaching choice under its own password; an alarm the
// page does not show is still the box's; a Re-detect with nothing lifted checks the alarmed detection.
TEST_F(MainWindowTest, TheReturnBoxOffersAndGuardsWhatTheAlarmAsks)
{
    ASSERT_GT(gDNum, 1);
    // The NG of `detection`, then (when given) an OK of `okAfter`, the detection checked last.
    const auto offersSwitch = [this](int detection, int mode, int okAfter = -1) {
        gpWPara->trigMode = mode;
        win->checkDetect = detection;
        win->cycle()->CheckNG(true);
        if (okAfter >= 0) {
            win->checkDetect = okAfter;
            win->cycle()->CheckNG(false);
        }
        bool offered = false;
        new ModalAnswerer([&offered](QWidget* box) {
            for (QAbstractButton* choice : box->findChildren<QAbstractButton*>())
                offered = offered || (choice->objectName() == QLatin1String("switchToMould") && choice->isVisible());
            qobject_cast<QDialog*>(box)->done(0);
        });
        win->SlotReturn();
        win->cycle()->clearAlarm();
        return offered;
    };
    const int mode = gpWPara->trigMode;
    // Two stages in use, the first (detections 1 and 2) the one checked.
    for (int d = 0; d < 4; ++d)
        gpWPara->detectEnable[d] = 1;
    win->stageFlag = 1;
    EXPECT_TRUE(offersSwitch(0, 1)) << "over the product's NG";
    EXPECT_FALSE(offersSwitch(1, 1)) << "over the mould's own NG";
    EXPECT_TRUE(offersSwitch(0, 1, 1)) << "over the product's NG, the mould checked OK after it on the same input";
    EXPECT_FALSE(offersSwitch(0, kAllGroupsTrigMode)) << "multi-detection: no mould to switch to";
    gpWPara->trigMode = mode;

    // Add As Temp under its password, refused: nothing is taught, the alarm stands.
    CammerWidget* cam = win->cameraWidgets().first();
    win->checkDetect = 0;
    cam->camOK = false;
    win->cycle()->CheckNG(true);
    gpWPara->isPswUsed = 1;
    gpWPara->pswAddTemplate = 1;
    win->loginLevel = 0;
    PasswordBox* passwords = std::exchange(gpPasswordBox, nullptr);
    ModalAnswerer::pressButton("addAsTemplate");
    win->SlotReturn();
    gpPasswordBox = passwords;
    EXPECT_TRUE(win->cycle()->isAlarmed());
    EXPECT_FALSE(cam->reTrainPending[0]);
    gpWPara->isPswUsed = 0;

    // The page moved on (another screen) while the alarm stands: Return still releases it.
    win->pageState = kPageLive;
    ModalAnswerer::pressButton("dontDetect");
    win->SlotReturn();
    EXPECT_FALSE(win->cycle()->isAlarmed());

    // The alarm page with nothing left to lift: Re-detect checks the alarmed detection again.
    gpWPara->trigInDelay[0] = 10;
    win->pageState = kPageAlarm;
    win->checkDetect = 0;
    ModalAnswerer::pressButton("redetect");
    win->SlotReturn();
    EXPECT_TRUE(win->cycle()->isCounting(0));
    win->cycle()->cancelCountdowns();
}

TEST_F(MainWindowTest, OutputsHeldByTheNgAlarmOrThePreCutAreReportedHeld)
{
    EXPECT_FALSE(win->isOutputHeld(0));
    EXPECT_FALSE(win->isOutputHeld(2));
    win->cycle()->CheckNG(true);
    EXPECT_TRUE(win->isOutputHeld(0));
    EXPECT_TRUE(win->isOutputHeld(2)) << "the alarm output of the NG";
    // Closing the production alarm meanwhile leaves the NG's outputs on.
    win->prodAlarmCount = 9;
    gpProductAlarmWarnBox->show();
    gpProductAlarmWarnBox->accept();
    EXPECT_EQ(win->prodAlarmCount, 0);
    EXPECT_EQ(win->controlPort()->IOGetOut(0), 1);
    EXPECT_EQ(win->controlPort()->IOGetOut(2), 1);
    win->cycle()->clearAlarm();
    EXPECT_FALSE(win->isOutputHeld(0));
    EXPECT_FALSE(win->isOutputHeld(2));
    EXPECT_EQ(win->controlPort()->IOGetOut(2), 0);

    gDNum = 2;
    gpWPara->detectEnable[0] = 0;
    gpWPara->detectEnable[1] = 1;
    gpWPara->trigInDelay[1] = 30;
    gpWPara->preCutTime = 20;
    win->cycle()->trigger(1);
    QTRY_VERIFY_WITH_TIMEOUT(win->cycle()->isPreCut(), 2500);
    EXPECT_TRUE(win->isOutputHeld(0)) << "the pre-cut interlocks the clamp";
    EXPECT_FALSE(win->isOutputHeld(2));
    win->cycle()->cancelCountdowns();
    EXPECT_FALSE(win->isOutputHeld(0));
    EXPECT_EQ(win->controlPort()->IOGetOut(0), 0);
}

TEST_F(MainWindowTest, ARunningOutputPulseIsHeldUntilItEnds)
{
    // A pulsed clamp interlock is not cut short by closing the production alarm.
    win->controlPort()->IOPulseOut(0, 1, 5);
    EXPECT_TRUE(win->isOutputHeld(0));
    gpProductAlarmWarnBox->show();
    gpProductAlarmWarnBox->accept();
    EXPECT_EQ(win->controlPort()->IOGetOut(0), 1);
    QTRY_COMPARE_WITH_TIMEOUT(win->controlPort()->IOGetOut(0), 0, 3000);
    EXPECT_FALSE(win->isOutputHeld(0));
}

TEST_F(MainWindowTest, StatisticsButtonOpensTheRealScreenAndTheImageDiskIsRecorded)
{
    ASSERT_TRUE(StatisticsScreen::open());
    ASSERT_NE(StatisticsWidget::instance, nullptr);
    EXPECT_TRUE(StatisticsWidget::instance->isVisible());
    StatisticsWidget::instance->hide();

    Copy2MoveDisk* copy = Copy2MoveDisk::getInstance();
    copy->start();
    UPanInfo stick;
    stick.uuid = "u1";
    stick.mountPath = "/mnt";
    emit DiskManager::getInstance()->diskInfoChange({stick});
    ASSERT_TRUE(waitUntil([] { return IOStatus::hasImageDisk(); }));
    emit DiskManager::getInstance()->diskInfoChange({});
    ASSERT_TRUE(waitUntil([] { return !IOStatus::hasImageDisk(); }));
    copy->stop();

    QSqlQuery query(win->recordDatabase());
    ASSERT_TRUE(query.exec("select remarks from RECORD where recordtype = 'info'"));
    QStringList remarks;
    while (query.next())
        remarks << query.value(0).toString();
    EXPECT_EQ(remarks, (QStringList{lanText(724), lanText(726)}));
}

namespace {

class TwoCameraWindowTest : public MainWindowTest
{
protected:
    QByteArray cameras() const override
    {
        return R"({"real": [{"serial": "UNIT-1", "width": 64, "height": 48, "pattern": "gradient"},
                            {"serial": "UNIT-2", "width": 64, "height": 48, "pattern": "checker"}]})";
    }
};

} // namespace

// The two switches that widen or narrow a template action to the cameras shown.
TEST_F(TwoCameraWindowTest, TemplateActionsFollowTheCameraScopeSwitches)
{
    const QVector<CammerWidget*> cams = win->cameraWidgets();
    ASSERT_EQ(cams.size(), 2);
    const auto takePending = [&cams] {
        QList<bool> pending;
        for (CammerWidget* cam : cams)
            pending << std::exchange(cam->reTrainPending[0], false);
        return pending;
    };
    win->selCamera = 1;
    win->SlotReTrain();
    EXPECT_EQ(takePending(), (QList<bool>{true, true})) << "by default the resample takes every camera";
    gpWPara->separateSampling = 1;
    win->SlotReTrain();
    EXPECT_EQ(takePending(), (QList<bool>{false, true})) << "sampled separately: the camera shown alone";
    win->selCamera = numCamera;
    win->SlotReTrain();
    EXPECT_EQ(takePending(), (QList<bool>{true, true})) << "all cameras shown: all are resampled";

    // Add template in the editor with camera 1 shown alone.
    const auto counts = [&cams] { return QList<int>{cams[0]->templateCount[0], cams[1]->templateCount[0]}; };
    const QList<int> before = counts();
    win->curDetect = 0;
    win->selCamera = 0;
    win->pDrawROIWidget->AddTemp();
    EXPECT_EQ(counts(), (QList<int>{before[0] + 1, before[1]}));
    gpWPara->addAllTemplates = 1;
    win->pDrawROIWidget->AddTemp();
    EXPECT_EQ(counts(), (QList<int>{before[0] + 2, before[1] + 1})) << "one press adds a template to every camera";
}

// The release box teaches what its release lifts: the detection and cameras whose NG stood at
// the tap, not what a check made of them while the box was open.
TEST_F(TwoCameraWindowTest, ReleaseBoxTeachesTheNgItLifted)
{
    const QVector<CammerWidget*> cams = win->cameraWidgets();
    ASSERT_EQ(cams.size(), 2);
    gpWPara->detectEnable[0] = gpWPara->detectEnable[1] = 1;
    win->checkDetect = 0;
    win->cycle()->CheckNG(true);
    ASSERT_TRUE(win->cycle()->alarmStands());
    for (CammerWidget* cam : cams)
        cam->reTrainPending[0] = cam->reTrainPending[1] = false;

    // While the box is open camera 1 is seen OK and detection 2 finds an NG of its own.
    new ModalAnswerer([&](QWidget* modal) {
        cams[0]->camOK = true;
        cams[1]->camOK = false;
        win->checkDetect = 1;
        win->cycle()->CheckNG(true);
        for (QAbstractButton* button : modal->findChildren<QAbstractButton*>())
            if (button->isVisible() && button->objectName() == QLatin1String("addAsTemplate"))
                touch(button);
    });
    win->SlotReturn();
    EXPECT_TRUE(cams[0]->reTrainPending[0]) << "camera 1's NG was lifted: it is taught";
    EXPECT_TRUE(cams[1]->reTrainPending[0]);
    EXPECT_FALSE(cams[0]->reTrainPending[1]) << "detection 2's NG came after the tap";
    EXPECT_FALSE(cams[1]->reTrainPending[1]);
    EXPECT_EQ(win->alarmClearState[cams[0]->camIndex][0], AlarmClearMethod::AddAsTemplate);
    EXPECT_NE(win->alarmClearState[cams[1]->camIndex][1], AlarmClearMethod::AddAsTemplate);
    EXPECT_TRUE(win->cycle()->alarmStands()) << "the later NG stands";
    win->cycle()->cancelCountdowns();

    // Camera 2 seen OK by detection 1: its NG alone is lifted, and camera 2 is not taught.
    win->cycle()->clearAlarm();
    gpWPara->trigInDelay[0] = 0;
    const QVector<DetectionUnit*> real = win->cycle()->units();
    FakeUnit first(cams[0]->camIndex), second(cams[1]->camIndex);
    first.ok = false;
    win->cycle()->setUnits({&first, &second});
    win->cycle()->redetect(0);
    ASSERT_TRUE(win->cycle()->alarmStands());
    for (CammerWidget* cam : cams)
        cam->reTrainPending[0] = false;
    ModalAnswerer::pressButton("addAsTemplate");
    win->SlotReturn();
    EXPECT_TRUE(cams[0]->reTrainPending[0]);
    EXPECT_FALSE(cams[1]->reTrainPending[0]) << "camera 2's NG was not lifted";

    // An NG decided in the tap's own millisecond came before the tap: it is lifted.
    win->cycle()->clearAlarm();
    const qint64 frozenMs = MonotonicClock::ms();
    MonotonicClock::setSource([frozenMs] { return frozenMs; });
    win->cycle()->redetect(0);
    ModalAnswerer::pressButton("dontDetect");
    win->SlotReturn();
    MonotonicClock::setSource({});
    EXPECT_FALSE(win->cycle()->alarmStands());
    win->cycle()->setUnits(real);
}
