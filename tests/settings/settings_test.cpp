// The settings screen driven like an operator: presses on its boxes, the
// question answered, the result read back from PARAM.db, the camera's call
// log and the group files.
#include "settingsfixture.h"

#include "colorbutton.h"
#include "combobox.h"
#include "edit.h"
#include "editbox.h"
#include "exportdataselectdlg.h"
#include "checkbox.h"
#include "fuzzycombobox.h"
#include "globals.h"
#include "indexbutton.h"
#include "modalanswerer.h"
#include "paragroupstore.h"
#include "paramdatabase.h"
#include "widgetchangecamera.h"
#include "wizardparawidget.h"

#include <QCheckBox>
#include <QDir>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cstring>
#include <memory>
#include <QFile>

namespace {
int exposureField() { return SettingsTest::fieldIndex([](const ParamField& f) { return f.perCamera == &WizardPara::exposeTime; }); }
int gammaField() { return SettingsTest::fieldIndex([](const ParamField& f) { return f.perCamera == &WizardPara::gamma; }); }
int delayField() { return SettingsTest::fieldIndex([](const ParamField& f) { return f.perDetect == &WizardPara::trigInDelay && f.index == 0; }); }
}  // namespace

TEST_F(SettingsTest, AcceptedChangesReachTheCameraTheDatabaseAndTheRecords)
{
    ASSERT_NE(makeUnit(unitCamera("SERIAL-SET01")), nullptr);
    openSettings();
    QFile::remove(appDir.filePath("calls.log"));

    touch(editFor(exposureField())->addFiveButton());  // the camera shows it at once
    touch(editFor(delayField())->addOneButton());
    EXPECT_EQ(callsOf("SERIAL-SET01"), QStringList({"setExposeTime 505"}));
    EXPECT_EQ(live->exposeTime[0], 500);

    answer({1});
    touch(settings->button("confirm"));
    EXPECT_EQ(seen, QStringList({lanText(234)}));
    EXPECT_FALSE(settings->isVisible());
    EXPECT_EQ(live->exposeTime[0], 505);
    EXPECT_TRUE(sysparam("exposeTime").startsWith("505 "));
    EXPECT_TRUE(sysparam("trigInDelay").startsWith("6 "));
    QStringList texts;
    for (const auto& r : window->records)
        if (r.type == "set")
            texts << r.text;
    // One record for the save, listing both changes in one text.
    ASSERT_EQ(texts.size(), 1) << texts.join(" | ").toStdString();
    const QStringList items = texts.first().split("; ");
    ASSERT_EQ(items.size(), 2) << texts.first().toStdString();
    EXPECT_TRUE(texts.first().contains("500 -> 505"));
    EXPECT_TRUE(texts.first().contains("5 -> 6"));
    EXPECT_TRUE(callsOf("SERIAL-SET01").contains("setTriggerMode false"));
}

TEST_F(SettingsTest, RefusedSaveLeavesCameraFilesAndPanelAsBefore)
{
    ASSERT_NE(makeUnit(unitCamera("SERIAL-SET02")), nullptr);
    auto* panel = new IndexButton(window.get());
    window->pIndexButton = panel;
    panel->show();
    const QString exposureRow = sysparam("exposeTime");
    const QString delayRow = sysparam("trigInDelay");
    openSettings();
    QFile::remove(appDir.filePath("calls.log"));

    touch(editFor(exposureField())->addOneButton());
    touch(editFor(exposureField())->addOneButton());
    touch(editFor(delayField())->addFiveButton());
    auto* snapshot = qobject_cast<QCheckBox*>(settings->fieldControl(
        fieldIndex([](const ParamField& f) { return f.scalar == &WizardPara::manualSnapshot; })));
    ASSERT_NE(snapshot, nullptr);
    snapshot->click();

    answer({0});
    settings->accept();
    // Only the changed setting goes back, once, with the live value; gamma was never touched.
    EXPECT_EQ(callsOf("SERIAL-SET02"), QStringList({"setExposeTime 501", "setExposeTime 502", "setExposeTime 500"}));
    EXPECT_EQ(sysparam("exposeTime"), exposureRow);
    EXPECT_EQ(sysparam("trigInDelay"), delayRow);
    EXPECT_EQ(edited->exposeTime[0], 500);
    EXPECT_EQ(edited->manualSnapshot, 0);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_TRUE(window->records.isEmpty());

    // Reopened, the screen shows the live values again.
    openSettings();
    EXPECT_EQ(editFor(exposureField())->value(), 500);
    EXPECT_EQ(editFor(delayField())->value(), 5);
}

TEST_F(SettingsTest, PanelComesBackAfterTheSnapshotSwitchIsAccepted)
{
    ASSERT_NE(makeUnit(unitCamera("SERIAL-SET03")), nullptr);
    auto* panel = new IndexButton(window.get());
    window->pIndexButton = panel;
    panel->hide();  // the panel hides itself when the settings screen opens
    openSettings();
    qobject_cast<QCheckBox*>(settings->fieldControl(
        fieldIndex([](const ParamField& f) { return f.scalar == &WizardPara::manualSnapshot; })))->click();
    answer({1});
    settings->accept();
    EXPECT_EQ(live->manualSnapshot, 1);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_TRUE(panel->detectionChoice() != nullptr);
}

TEST_F(SettingsTest, CameraRangesWhiteBalanceAndDefaultsOfTheCameraShown)
{
    QJsonObject spec = unitCamera("SERIAL-SET04");
    spec["defaults"] = QJsonObject{{"exposeTime", 8000}};
    ASSERT_NE(makeUnit(spec), nullptr);
    live->gamma[0] = 1000;
    openSettings();
    EXPECT_EQ(editFor(gammaField())->maximum(), 400);
    EXPECT_EQ(editFor(gammaField())->value(), 400);
    EXPECT_EQ(editFor(exposureField())->minimum(), 1);
    // Bounding the box changes nothing stored or sent.
    EXPECT_EQ(edited->gamma[0], 1000);
    EXPECT_FALSE(callsOf("SERIAL-SET04").contains("setGamma 400"));

    touch(settings->button("onceWB"));
    EXPECT_EQ(callsOf("SERIAL-SET04").last(), QString("onceWB"));
    answer({1});
    touch(settings->button("restoreDefaults"));
    EXPECT_EQ(edited->exposeTime[0], 8000);
    EXPECT_EQ(editFor(exposureField())->value(), 8000);  // the box shows what the camera gave back
    EXPECT_EQ(live->exposeTime[0], 500);
}

TEST_F(SettingsTest, PasswordsThatTheKeypadCannotTypeAreRefused)
{
    ASSERT_NE(makeUnit(unitCamera("SERIAL-PSW01")), nullptr);
    openSettings();
    settings->passwordEdit()->setText("12ab");
    answer({1});
    settings->accept();
    EXPECT_EQ(seen, QStringList({lanText(820)}));
    EXPECT_TRUE(settings->isVisible());
    EXPECT_EQ(sysparam("password"), QString(""));

    // A stored password with letters cannot stay in use either.
    std::strcpy(live->password, "abc");
    live->isPswUsed = 1;
    openSettings();
    seen.clear();
    answer({1});
    settings->accept();
    EXPECT_EQ(seen, QStringList({lanText(820)}));

    seen.clear();
    settings->passwordEdit()->setText("4711");
    answer({1});
    settings->accept();
    EXPECT_EQ(seen, QStringList({lanText(234)}));
    EXPECT_EQ(sysparam("password"), QString("4711"));
    EXPECT_STREQ(live->password, "4711");
}

TEST_F(SettingsTest, GroupIndexFollowsTheCurrentGroupByName)
{
    ASSERT_NE(makeUnit(unitCamera("SERIAL-GRP01")), nullptr);
    for (const char* name : {"b", "d"})
        ASSERT_TRUE(QDir().mkpath(QString("paraGroup/%1").arg(name)));
    live->groupIndex = 1;  // "d"
    live->SaveAddFile();
    ASSERT_EQ(live->getCurGroupName(), QString("d"));
    openSettings();

    // A group's files are copied, flushed to the disk and switched beside the event loop, so the
    // cycle and the IO board's watchdog go on meanwhile: each step sees the GUI thread's timer tick.
    std::atomic<int> ticks{0};
    QTimer beat;
    QObject::connect(&beat, &QTimer::timeout, [&ticks] { ++ticks; });
    beat.start(5);
    QList<bool> stepsBesideTheLoop;
    ParaGroupStore::setStepHook([&ticks, &stepsBesideTheLoop](int) {
        const int before = ticks;
        for (int i = 0; i < 100 && ticks == before; ++i)
            QThread::msleep(10);
        stepsBesideTheLoop << (ticks != before);
        return true;
    });
    const std::unique_ptr<void, void (*)(void*)> hookOff(&ticks, [](void*) { ParaGroupStore::setStepHook({}); });

    auto backup = [this](const QString& name) {
        settings->groupNameEdit()->setText(name);
        answer({1});
        touch(settings->button("groupBackup"));
    };
    auto choose = [this](const QString& name) {
        settings->groupChoice()->setCurrentIndex(settings->groupChoice()->findText(name));
    };
    backup("a");  // sorts before the current group
    EXPECT_EQ(live->groupIndex, 2);
    EXPECT_EQ(live->getCurGroupName(), QString("d"));
    EXPECT_EQ(appDir.readFile("sysadd.txt"), QByteArray("2\n"));
    EXPECT_TRUE(QFile::exists("paraGroup/a/PARAM.db"));
    ASSERT_FALSE(stepsBesideTheLoop.isEmpty());
    EXPECT_FALSE(stepsBesideTheLoop.contains(false)) << "a backup step held the GUI thread";
    stepsBesideTheLoop.clear();
    backup("z");
    EXPECT_EQ(live->groupIndex, 2);
    backup("../escape");
    EXPECT_FALSE(QDir("escape").exists());
    EXPECT_EQ(seen.last(), lanText(829));
    seen.clear();
    backup(".a");  // a hidden folder: a group the list would never show
    EXPECT_FALSE(QDir("paraGroup/.a").exists());
    ASSERT_FALSE(seen.isEmpty());
    EXPECT_EQ(seen.last(), lanText(829));

    choose("a");
    answer({1});
    touch(settings->button("groupDelete"));
    EXPECT_EQ(live->getCurGroupName(), QString("d"));
    EXPECT_EQ(live->groupIndex, 1);
    EXPECT_EQ(edited->groupIndex, 1);  // a later accept must not bring the old index back
    EXPECT_EQ(QDir("paraGroup").entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList({"b", "d", "z"}));

    choose("d");
    answer({1});
    touch(settings->button("groupDelete"));
    EXPECT_EQ(live->groupIndex, -1);
    EXPECT_EQ(live->getCurGroupName(), QString("default"));

    choose("z");
    answer({1});
    touch(settings->button("groupRestore"));
    EXPECT_EQ(live->getCurGroupName(), QString("z"));
    EXPECT_EQ(appDir.readFile("sysadd.txt"), QByteArray("1\n"));
    EXPECT_EQ(window->reboots, 1);
    ASSERT_FALSE(stepsBesideTheLoop.isEmpty());
    EXPECT_FALSE(stepsBesideTheLoop.contains(false)) << "a restore step held the GUI thread";
}

TEST_F(SettingsTest, ClockIsSetThroughTheRunnerAndRecorded)
{
    ASSERT_NE(makeUnit(unitCamera("SERIAL-CLK01")), nullptr);
    openSettings();
    answer({1, 1});
    touch(settings->button("modifyTime"));
    ASSERT_EQ(shell->lines().filter(QRegularExpression("^date -s \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$")).size(), 1)
        << shell->lines().join(" | ").toStdString();
    EXPECT_TRUE(shell->lines().contains("hwclock --systohc"));
    ASSERT_FALSE(window->records.isEmpty());
    EXPECT_EQ(window->records.last().type, QString("operate"));

    // A failing clock is reported and not recorded.
    ShellResult failed;
    failed.started = true;
    failed.exitCode = 1;
    shell->setResult("date", failed);
    const int records = window->records.size();
    seen.clear();
    answer({1, 1, 1});
    touch(settings->button("modifyTime"));
    EXPECT_EQ(seen.last(), lanText(838));
    EXPECT_EQ(window->records.size(), records);
}

TEST_F(SettingsTest, CameraOrderRefusesDuplicatesAndSavesAValidOrder)
{
    installPlugin("simcamera");
    writeScript({unitCamera("SERIAL-ORD01"), unitCamera("SERIAL-ORD02")}, {});
    manager->loadPlugins();
    manager->findCameras();
    ASSERT_EQ(manager->cameras.size(), 2);
    auto* first = new CammerWidget(window.get(), 0, manager->cameras.at(0));
    auto* second = new CammerWidget(window.get(), 1, manager->cameras.at(1));
    settings->setCameraUnits({first, second});
    openSettings();

    WidgetChangeCamera* screen = settings->cameraOrderScreen();
    new ModalAnswerer([this, screen](QWidget*) {
        screen->positionChoices().at(1)->setCurrentIndex(0);
        answer({1});  // the warning
        screen->SlotOK();
        EXPECT_TRUE(screen->isVisible());
        screen->positionChoices().at(0)->setCurrentIndex(1);
        answer({1});  // the restart, asked as the settings screen's restart asks it
        screen->SlotOK();
    });
    touch(settings->button("cameraOrder"));
    EXPECT_EQ(seen, QStringList({lanText(361).arg(1), lanText(840)}));
    EXPECT_EQ(manager->savedSerials, QVector<QString>({"SERIAL-ORD02", "SERIAL-ORD01"}));
    EXPECT_EQ(window->reboots, 1);
}

TEST_F(SettingsTest, NetworkExportAndLanguageUseTheirHooks)
{
    ASSERT_NE(makeUnit(unitCamera("SERIAL-HOOK1")), nullptr);
    openSettings();
    answer({1});
    settings->SlotToNetwork();
    EXPECT_EQ(seen, QStringList({lanText(328) + "\n" + lanText(843)}));

    QWidget* shownWith = nullptr;
    WizardParaWidget::setNetworkHook([&shownWith](QWidget* parent) { shownWith = parent; });
    settings->SlotToNetwork();
    EXPECT_EQ(shownWith, settings);
    WizardParaWidget::setNetworkHook({});

    answer({1});
    settings->SlotChangeLan(2);
    EXPECT_EQ(window->languageChanges, QList<int>({2}));
}

TEST_F(SettingsTest, FailedSaveIsReportedAndLeavesTheLiveRecordAlone)
{
    ASSERT_NE(makeUnit(unitCamera("SERIAL-FAIL1")), nullptr);
    openSettings();
    touch(editFor(delayField())->addOneButton());
    QSqlDatabase::database(ParamDatabase::kConnectionName, false).close();
    answer({1, 1});
    settings->accept();
    EXPECT_EQ(seen, QStringList({lanText(234), lanText(844)}));
    EXPECT_EQ(live->trigInDelay[0], 5);
    EXPECT_EQ(edited->trigInDelay[0], 6);  // the edit stays on screen for another try
    EXPECT_TRUE(settings->isVisible());
    EXPECT_TRUE(window->records.isEmpty());
}

TEST_F(SettingsTest, ExportHandsTheChosenPathsToTheExporter)
{
    ASSERT_NE(makeUnit(unitCamera("SERIAL-EXP01")), nullptr);
    window->pathContext = QStringList{"PARAM.db", "RECORD", "alarmimage"};
    window->exportTitle = QStringLiteral("held title");
    openSettings();
    QStringList exported;
    WizardParaWidget::setExportHook([&exported](const QStringList& paths, QString*) {
        exported = paths;
        return true;
    });
    auto exportWith = [this](const std::function<void(ExportDataSelectDlg*)>& choose, QList<int> answers = {1}) {
        new ModalAnswerer([this, choose, answers](QWidget* modal) {
            auto* dialog = dynamic_cast<ExportDataSelectDlg*>(modal);
            ASSERT_NE(dialog, nullptr);
            EXPECT_EQ(dialog->masterBox()->text(), QStringLiteral("held title"));
            choose(dialog);
            answer(answers);  // the confirmation, and what follows it
            dialog->accept();
        });
        touch(settings->button("exportData"));
    };
    exportWith([](ExportDataSelectDlg* d) { d->masterBox()->setCheckState(Qt::Checked); });
    EXPECT_EQ(exported, QStringList({"PARAM.db", "RECORD", "alarmimage"}));
    exportWith([](ExportDataSelectDlg* d) {
        d->masterBox()->setCheckState(Qt::Unchecked);
        d->itemBoxes().at(2)->setChecked(true);
    });
    EXPECT_EQ(exported, QStringList({"alarmimage"}));
    WizardParaWidget::setExportHook({});

    // Without an exporter the operator is told, not left believing it worked.
    seen.clear();
    exportWith([](ExportDataSelectDlg* d) { d->masterBox()->setCheckState(Qt::Checked); }, {1, 1});
    EXPECT_EQ(seen, QStringList({lanText(839), lanText(326) + "\n" + lanText(843)}));
}

TEST_F(SettingsTest, SettingsReadOnlyAtStartSayTheyWaitForARestart)
{
    ASSERT_NE(makeUnit(unitCamera("SERIAL-RST01")), nullptr);
    const auto box = [this](int WizardPara::*field) {
        return qobject_cast<QCheckBox*>(
            settings->fieldControl(fieldIndex([field](const ParamField& f) { return f.scalar == field; })));
    };
    openSettings();
    box(&WizardPara::showDetectTime)->click();
    answer({1});
    settings->accept();
    EXPECT_EQ(seen, QStringList({lanText(234)})) << "a setting read at every cycle needs no restart";

    seen.clear();
    openSettings();
    box(&WizardPara::semiAuto)->click();
    box(&WizardPara::enableProdDetect)->click();
    box(&WizardPara::showDetectTime)->click();
    answer({1, 1});
    settings->accept();
    EXPECT_EQ(live->semiAuto, 1);
    EXPECT_EQ(seen, QStringList({lanText(234), lanText(845) + ":\n" + lanText(175) + ", " + lanText(174)}))
        << "the note names the saved settings that wait for the next start, and only those";
}
