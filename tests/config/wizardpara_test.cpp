#include "paramdbfixture.h"

#include "fakehostroot.h"
#include "globals.h"
#include "mainwindowbase.h"
#include "wizardpara.h"

#include <QDir>
#include <QFile>

#include <atomic>
#include <thread>

namespace {

QString numbers(int from, int count)
{
    QStringList parts;
    for (int i = 0; i < count; ++i)
        parts << QString::number(from + i);
    return parts.join(' ');
}

} // namespace

class WizardParaTest : public ParamDbTest
{
protected:
    void SetUp() override
    {
        ParamDbTest::SetUp();
        gLan = 0;
        gDNum = 2;
    }
};

TEST_F(WizardParaTest, EmptyTableGainsTheDefaultRowsWhichTakeEffectAtOnce)
{
    WizardPara w;
    w.LoadDatafromFile();

    EXPECT_EQ(value("sysparam", "system7"), "0 0 0 0 0 0 1 0 0 0 0 0 0 0 0 0 0 0 0 0");
    for (int n = 8; n <= 14; ++n)
        EXPECT_EQ(value("sysparam", QString("system%1").arg(n)), "0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0");
    EXPECT_EQ(value("sysparam", "isColors"), "0 0 0 0 0 0 0 0");
    EXPECT_EQ(value("sysparam", "NgShowSwitch"), "1");
    EXPECT_FALSE(hasRow("sysparam", "system1"));
    EXPECT_EQ(rowCount("sysparam"), 10);

    EXPECT_EQ(w.outInitState[2], 1);
    EXPECT_EQ(w.NgShowSwitch, 1);
    // Start values and bound fallbacks of the rows that stayed missing.
    EXPECT_EQ(w.exposeTime[0], 0);
    EXPECT_EQ(w.tempNumber, 10);
    EXPECT_EQ(w.filterSize, 3);
    EXPECT_EQ(w.offset, 8000);
    EXPECT_EQ(w.motionCorrect, 0);
    EXPECT_EQ(w.maxColorArea, 1000);
    EXPECT_EQ(w.minColorArea, 1000);
    EXPECT_EQ(w.days, 31);
    EXPECT_EQ(w.enableDefect, 1);
    EXPECT_EQ(w.getCurGroupName(), "default");
    EXPECT_EQ(QFile(appDir.filePath("sysadd.txt")).size(), 2); // "-1"
}

TEST_F(WizardParaTest, InsertedDefaultRowDoesNotZeroAValueKeptInAnEarlierRow)
{
    // A store from before "system9": the kept value lives in numFailDetect and system1 only.
    setRow("sysparam", "numFailDetect", "0 0 42 0 0 0 0 0");
    setRow("sysparam", "system1", "0 0 42 0 0 0 0 0 0");
    WizardPara w;
    w.LoadDatafromFile();
    EXPECT_EQ(value("sysparam", "system9"), "0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0");
    EXPECT_EQ(w.system9Item20, 42);
    EXPECT_EQ(w.detectRow[0], 0); // the other defaults of the row still count
    EXPECT_EQ(w.matchAccuracy, 0); // the default row's 0, not the start value 5
    ASSERT_TRUE(w.SaveDatatoFile());
    EXPECT_EQ(value("sysparam", "system9").section(' ', 19, 19), "42");
}

TEST_F(WizardParaTest, ItemsAreBoundedAndShortRowsReadAsZero)
{
    setRow("sysparam", "exposeTime", "20000 -5 100");
    setRow("sysparam", "system2", "0 500 0 0 0 0 0 0 0 0 0 0 7 0 0 20 0 0");
    setRow("sysparam", "system1", "0 0 0 5 0 x 9");
    WizardPara w;
    w.LoadDatafromFile();
    EXPECT_EQ(w.exposeTime[0], 30);
    EXPECT_EQ(w.exposeTime[1], 30);
    EXPECT_EQ(w.exposeTime[2], 100);
    EXPECT_EQ(w.exposeTime[3], 0);
    EXPECT_EQ(w.tempNumber, 10);
    EXPECT_EQ(gLan, 0);
    EXPECT_EQ(w.screenOffTime, 600);
    EXPECT_EQ(w.motionCorrect, -1);  // 5 is neither -1 nor 0
    EXPECT_EQ(w.recheckTimes, 0);    // after the unreadable item everything reads 0
}

TEST_F(WizardParaTest, ScreenOffTimeKeepsZeroAndThirty)
{
    for (const auto& [stored, expected] : {std::pair{0, 0}, {20, 600}, {30, 30}, {10000, 600}}) {
        setRow("sysparam", "system2",
               QString("0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 %1 0 0").arg(stored));
        WizardPara w;
        w.LoadDatafromFile();
        EXPECT_EQ(w.screenOffTime, expected) << stored;
    }
}

TEST_F(WizardParaTest, FieldsSitAtTheirRowItems)
{
    setRow("sysparam", "system5", numbers(1, 13));
    setRow("sysparam", "system6", numbers(1, 12));
    setRow("sysparam", "system11", numbers(1, 20));
    setRow("sysparam", "system12", numbers(1, 20));
    setRow("sysparam", "system13", numbers(1, 20));
    setRow("sysparam", "system14", numbers(1, 20));
    setRow("sysparam", "system7", numbers(1, 20));
    WizardPara w;
    w.LoadDatafromFile();
    EXPECT_EQ(w.exposeTime[4], 1);
    EXPECT_EQ(w.exposeTime[5], 2);
    EXPECT_EQ(w.contrast[5], 8);
    EXPECT_EQ(w.angle, 10);
    EXPECT_EQ(w.externalTrigger, 12);
    EXPECT_EQ(w.contrast[7], 8);
    EXPECT_EQ(w.pswStopDetect, 12);
    EXPECT_EQ(w.system11TableB[0], 9);
    EXPECT_EQ(w.sequentialDetect, 17);
    EXPECT_EQ(w.ngTemplate[1], 19);
    EXPECT_EQ(w.mirrorH[0], 2);
    EXPECT_EQ(w.mirrorV[7], 17);
    EXPECT_EQ(w.noise3D[0], 9);
    EXPECT_EQ(w.shieldPin, 20);
    EXPECT_EQ(w.noise2D[0], 7);
    EXPECT_EQ(w.noise2D[7], 14);
    EXPECT_EQ(w.recheckAllCameras, 20);
    EXPECT_EQ(w.outInitState[3], 9);
    EXPECT_EQ(w.enableWhiteNumber, 20);
    EXPECT_EQ(w.ioPort, 1);

    // Rows without bounded items come back exactly as they were.
    ASSERT_TRUE(w.SaveDatatoFile());
    for (const char* key : {"system6", "system11", "system12", "system13", "system14"})
        EXPECT_EQ(value("sysparam", key), numbers(1, key == QString("system6") ? 12 : 20)) << key;
    EXPECT_EQ(rowCount("sysparam"), 25);
}

TEST_F(WizardParaTest, SaveInsertsMissingRowsAndKeepsThePasswordVerbatim)
{
    WizardPara w;
    w.LoadDatafromFile();
    const QByteArray password = "a'b\"; drop table sysparam;--";
    qstrncpy(w.password, password.constData(), sizeof w.password);
    w.trigModeNext = 3;
    w.trigInDelay[7] = 42;
    w.system9Item20 = 77;
    ASSERT_TRUE(w.SaveDatatoFile());

    EXPECT_EQ(rowCount("sysparam"), 25);
    EXPECT_EQ(value("sysparam", "password"), QString::fromLatin1(password));
    EXPECT_EQ(value("sysparam", "trigInDelay"), "0 0 0 0 0 0 0 42");
    EXPECT_EQ(value("sysparam", "numFailDetect").section(' ', 0, 0), "3");
    EXPECT_EQ(value("sysparam", "numFailDetect").section(' ', 2, 2), "77");
    EXPECT_EQ(value("sysparam", "system1").section(' ', 2, 2), "77");
    EXPECT_EQ(value("sysparam", "system9").section(' ', 19, 19), "77");
    EXPECT_EQ(value("sysparam", "system9").section(' ', 16, 16), "0");

    WizardPara next;
    next.LoadDatafromFile();
    EXPECT_EQ(next.trigMode, 3);
    EXPECT_EQ(next.trigModeNext, 3);
    EXPECT_STREQ(next.password, password.constData());
    EXPECT_EQ(next.trigInDelay[7], 42);
}

TEST_F(WizardParaTest, PasswordOfNinetyNineCharactersIsTakenOneHundredIsNot)
{
    setRow("sysparam", "password", QString(99, 'p'));
    WizardPara w;
    w.LoadDatafromFile();
    EXPECT_EQ(QString::fromLatin1(w.password), QString(99, 'p'));

    setRow("sysparam", "password", QString(100, 'q'));
    w.LoadDatafromFile();
    EXPECT_EQ(QString::fromLatin1(w.password), QString(99, 'p'));
}

TEST_F(WizardParaTest, FailedSaveRollsBackAndReportsFailure)
{
    WizardPara w;
    w.LoadDatafromFile();
    ASSERT_TRUE(w.SaveDatatoFile());
    exec("create trigger refuse before update on sysparam when new.name = 'system5' "
         "begin select raise(abort, 'refused'); end");
    w.trigInDelay[0] = 9;
    EXPECT_FALSE(w.SaveDatatoFile());
    EXPECT_EQ(value("sysparam", "trigInDelay"), "0 0 0 0 0 0 0 0");
}

TEST_F(WizardParaTest, TriggerModeThreeUsesRowsAndBoundsThem)
{
    // detectCount 3; rowTrigger of rows 0..7; detectRow {0, -1, 2, 9(bad), ...}
    setRow("sysparam", "numFailDetect", "3 0 0 0 0 0 0 0");
    setRow("sysparam", "system8", "3 2 0 12 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0");
    setRow("sysparam", "system9", "0 -1 2 9 0 0 0 0 5 5 0 0 0 0 0 0 0 0 0 0");
    setRow("sysparam", "system10", "3 20 0 0 0 0 0 0 13 14 0 0 0 0 0 0 31 0 0 1");
    WizardPara w;
    w.LoadDatafromFile();
    EXPECT_EQ(gDNum, 3);
    EXPECT_EQ(w.ioGroupCount, 3);
    EXPECT_EQ(w.detectEnable[0], 1);
    EXPECT_EQ(w.detectEnable[1], 0);
    EXPECT_EQ(w.detectEnable[2], 1);
    EXPECT_EQ(w.trigInput[0], TriginNo[2] - 1);
    EXPECT_EQ(w.trigInput[1], -1);
    EXPECT_EQ(w.trigInput[2], TriginNo[0] - 1); // rowTrigger 12 is outside TriginNo: first choice
    for (int d = 3; d < 8; ++d) {
        EXPECT_EQ(w.detectEnable[d], 0);
        EXPECT_EQ(w.trigInput[d], -1);
    }
    EXPECT_EQ(w.detectRow[3], -1);
    EXPECT_EQ(w.inFunc[1], 0);   // 20 is past the 16 input functions
    EXPECT_EQ(w.outFunc[0], 13);
    EXPECT_EQ(w.outFunc[1], 0);  // 14 is past the 14 output functions
}

TEST_F(WizardParaTest, TwoStageModesFollowTheStageTable)
{
    MainWindowBase window;
    gpWin = &window;
    struct Case
    {
        int mode, stage, semi, prod;
        int enable[4];
        int flag;
        int in0, in1;
    };
    const Case cases[] = {
        {1, 0, 0, 1, {1, 1, 0, 0}, 1, 0, 2},       {1, 1, 0, 1, {0, 0, 1, 1}, 0, 0, 3},
        {1, 3, 0, 0, {0, 1, 0, 1}, 7, 0, 255},     {2, 0, 1, 1, {1, 1, 0, 0}, 1, 0, 2},
        {2, 1, 0, 1, {0, 0, 1, 1}, 0, 3, 3},       {2, 2, 1, 1, {1, 1, 1, 1}, 7, 255, 2},
        {2, 9, 0, 1, {1, 1, 0, 0}, 1, 0, 0}, // a bad stage choice counts as 0
    };
    for (const Case& c : cases) {
        window.stageFlag = 7;
        setRow("sysparam", "numFailDetect", QString("%1 %2 0 0 0 0 0 0").arg(c.mode).arg(c.stage));
        setRow("sysparam", "system1", QString("%1 %2 0 0 0 0 0 0 0").arg(c.semi).arg(c.prod));
        WizardPara w;
        w.LoadDatafromFile();
        EXPECT_EQ(gDNum, 4);
        for (int d = 0; d < 4; ++d)
            EXPECT_EQ(w.detectEnable[d], c.enable[d]) << c.mode << "/" << c.stage << " d" << d;
        EXPECT_EQ(window.stageFlag, c.flag) << c.mode << "/" << c.stage;
        EXPECT_EQ(w.trigInput[0], c.in0) << c.mode << "/" << c.stage;
        EXPECT_EQ(w.trigInput[1], c.in1) << c.mode << "/" << c.stage;
    }
    gpWin = nullptr;
}

TEST_F(WizardParaTest, ModeZeroDerivesOutputsFourToSeven)
{
    // outInitState 0 = 0, 1 = 1 (items 5, 6 of system7); ejectorPulseNgNoAlarm decides.
    setRow("sysparam", "system7", "0 0 0 0 0 1 1 0 0 0 0 0 0 0 0 0 0 0 0 0");
    setRow("sysparam", "system2", "0 0 0 0 0 0 1 0 0 0 0 0 0 0 0 0 0 0");
    setRow("sysparam", "system14", "0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 1 0 0 0 0"); // prodAlarmOutputO5
    setRow("sysparam", "system1", "1 0 0 0 0 0 0 0 0");
    WizardPara w;
    w.LoadDatafromFile();
    EXPECT_EQ(w.outInitState[4], 0); // kept: prodAlarmOutputO5 is set
    EXPECT_EQ(w.outInitState[5], 1);
    EXPECT_EQ(w.outInitState[7], 1);
    EXPECT_EQ(w.detectEnable[0], 0);
    EXPECT_EQ(w.trigInput[1], 2);
    EXPECT_EQ(gDNum, 2);
    EXPECT_EQ(w.ioGroupCount, 4);
}

TEST_F(WizardParaTest, CopyCarriesEveryFieldAndTheGroup)
{
    setRow("sysparam", "system13", numbers(1, 20));
    WizardPara w;
    w.LoadDatafromFile();
    qstrcpy(w.password, "secret");
    w.groupName = QString("g1");
    w.appConfig.insert("k", 1);
    WizardPara copy;
    copy = w;
    EXPECT_EQ(copy.saturation[7], 8);
    EXPECT_STREQ(copy.password, "secret");
    EXPECT_EQ(copy.getCurGroupName(), "g1");
    EXPECT_EQ(copy.appConfig.value("k").toInt(), 1);
    EXPECT_EQ(copy.maxColorArea, 1000);
}

TEST_F(WizardParaTest, GroupNameFollowsTheSortedFolderList)
{
    for (const char* name : {"b", "a", "C"})
        QDir().mkpath(appDir.filePath(QString("paraGroup/%1").arg(name)));
    appDir.writeFile("sysadd.txt", "1\n");
    WizardPara w;
    w.LoadDatafromFile();
    EXPECT_EQ(w.groupIndex, 1);
    EXPECT_EQ(w.getCurGroupName(), "a");

    w.groupIndex = 3;
    w.SaveAddFile();
    EXPECT_EQ(appDir.readFile("sysadd.txt"), "3\n");
    EXPECT_EQ(w.getCurGroupName(), "default");
    w.groupIndex = -1;
    w.SaveAddFile();
    EXPECT_EQ(w.getCurGroupName(), "default");

    appDir.writeFile("sysadd.txt", "junk");
    w.LoadDatafromFile();
    EXPECT_EQ(w.groupIndex, -1);
}

TEST_F(WizardParaTest, GroupNameReadsWholeWhileAnotherThreadReplacesIt)
{
    WizardPara w;
    const QString longName(2000, 'x');
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        while (!stop) {
            const QString n = w.getCurGroupName();
            if (n != "default" && n != longName)
                ++torn;
        }
    });
    for (int i = 0; i < 20000; ++i)
        w.groupName = (i % 2) ? longName : QString("default");
    stop = true;
    reader.join();
    EXPECT_EQ(torn.load(), 0);
}

TEST_F(WizardParaTest, IoNamesFromFileOrFromTheLanguageTable)
{
    for (QString& n : gaName)
        n = "old";
    appDir.writeFile("name.txt", "in one\nin two\nin three\n");
    WizardPara w;
    w.LoadDatafromFile();
    EXPECT_EQ(gaName[0], "in one");
    EXPECT_EQ(gaName[2], "in three");
    EXPECT_EQ(gaName[3], "");
    EXPECT_EQ(gaName[7], "");
    EXPECT_EQ(gaName[8], "old");

    QFile::remove(appDir.filePath("name.txt"));
    gaLanStr[4 * 301] = "Open";
    gaLanStr[4 * 304] = "RSV";
    setRow("sysparam", "system14", "0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 1 0 0 0"); // cavityAlarmOutputO4
    w.LoadDatafromFile();
    EXPECT_EQ(gaName[0], "Open");
    EXPECT_EQ(gaName[3], "RSV");
    EXPECT_EQ(gaName[7], " O 4");
    EXPECT_EQ(gaName[17], "RSV");
}

class HostInfoTest : public AppDirTest
{
protected:
    WizardPara cpuFor(const QString& model)
    {
        host.write("/proc/cpuinfo", QString("processor\t: 0\nvendor_id\t: GenuineIntel\nmodel name\t: %1\n\n")
                                        .arg(model)
                                        .toUtf8());
        WizardPara w;
        w.loadCpuInfo();
        return w;
    }
    FakeHostRoot host;
};

TEST_F(HostInfoTest, ModelNamesAreClassified)
{
    struct Case
    {
        const char* model;
        const char* line;
        const char* series;
        const char* text;
        int generation;
    };
    const Case cases[] = {
        {"Intel(R) Core(TM) i5-8400 CPU @ 2.80GHz", "Core", "i5", "8400", 8},
        {"Intel(R) Core(TM) i7-10700 CPU @ 2.90GHz", "Core", "i7", "10700", 10},
        {"Intel(R) Core(TM) i5-8250U CPU @ 1.60GHz", "Core", "i5", "8250", 8},
        // Nothing is left once the last three characters go: generation 0.
        {"Intel(R) Core(TM) i3-55 CPU @ 1.00GHz", "Core", "i3", "55", 0},
        {"Intel(R) N100", "Core", "N", "N100", 99},
        {"Intel(R) Celeron(R) N5105 @ 2.00GHz", "Celeron", "Celeron N5105", "", 0},
        {"Intel(R) Celeron(R) J4125 @ 2.00GHz", "Celeron", "Celeron J4125", "", 11},
        {"Intel(R) Celeron(R) N5105 CPU @ 2.00GHz", "", "", "", 0},
        {"AMD Ryzen 5 5600G with Radeon Graphics", "Ryzen", "Ryzen 5", "", 5},
    };
    for (const Case& c : cases) {
        const WizardPara w = cpuFor(c.model);
        EXPECT_EQ(w.cpuVendor, "GenuineIntel");
        EXPECT_EQ(w.cpuModelName, c.model);
        EXPECT_EQ(w.cpuProductLine, c.line) << c.model;
        EXPECT_EQ(w.cpuSeries, c.series) << c.model;
        EXPECT_EQ(w.cpuGenerationText, c.text) << c.model;
        EXPECT_EQ(w.cpuGeneration, c.generation) << c.model;
    }
}

TEST_F(HostInfoTest, ConfigJsonDecidesLcdSupportAndFrameRate)
{
    WizardPara w = cpuFor("Intel(R) N100");
    EXPECT_TRUE(w.isSupportLCD()); // no file

    appDir.writeFile("config.json", R"({"camera_Global_Parameters": {"fps": 30}})");
    w.loadConfigFromJson();
    EXPECT_EQ(w.fps, -1); // the list is missing, so the frame rate is not read

    appDir.writeFile("config.json",
                     R"({"not_Support_LCD_CPU": ["Intel(R) N100", 3], "camera_Global_Parameters": {"fps": 25}})");
    w.loadConfigFromJson();
    EXPECT_EQ(w.fps, 25);
    EXPECT_FALSE(w.isSupportLCD());

    appDir.writeFile("config.json", R"({"not_Support_LCD_CPU": ["intel(r) n100"], "camera_Global_Parameters": {"fps": 2.5}})");
    w.loadConfigFromJson();
    EXPECT_EQ(w.fps, 25);
    EXPECT_TRUE(w.isSupportLCD());

    appDir.writeFile("config.json", R"({"not_Support_LCD_CPU": [], "camera_Global_Parameters": {"fps": 1e12}})");
    w.loadConfigFromJson();
    EXPECT_EQ(w.fps, 25); // whole, but no int

    appDir.writeFile("config.json", "[1, 2]");
    WizardPara fresh;
    fresh.loadConfigFromJson();
    EXPECT_TRUE(fresh.appConfig.isEmpty());
}

TEST_F(WizardParaTest, ModeThreeNamesComeFromTheFunctionTables)
{
    gLan = 1;
    gaLanStr[4 * 302 + 1] = "Safety";
    gaLanStr[4 * 307 + 1] = "Alrm";
    setRow("sysparam", "numFailDetect", "3 0 0 0 0 0 0 0");
    setRow("sysparam", "system2", "0 0 0 0 0 0 0 0 0 0 0 0 1 0 0 0 0 0");
    setRow("sysparam", "system10", "1 15 0 0 0 0 0 7 2 13 4 0 0 0 0 0 31 0 0 1");
    WizardPara w;
    w.LoadDatafromFile();
    EXPECT_EQ(gaName[0], "Back");
    EXPECT_EQ(gaName[1], "Safety");
    EXPECT_EQ(gaName[2], "Clear alarm");
    EXPECT_EQ(gaName[8], "Transfer mold");
    EXPECT_EQ(gaName[9], "Alrm");
    EXPECT_EQ(gaName[10], "Robot");
    EXPECT_EQ(gaName[11], "Alrm");
    EXPECT_EQ(gaName[12], "OK");
    for (int f = 0; f < WizardPara::kInFunctions; ++f)
        for (int l = 0; l < 4; ++l)
            EXPECT_NE(gInName[4 * f + l], nullptr);
    for (int f = 0; f < WizardPara::kOutFunctions; ++f)
        EXPECT_NE(gOutName[4 * f + 3], nullptr);
    gLan = 0;
}
