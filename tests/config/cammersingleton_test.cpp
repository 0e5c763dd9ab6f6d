#include "paramdbfixture.h"

#include "cammersingleton.h"
#include "configprompts.h"
#include "globals.h"
#include "mainwindowbase.h"
#include "roimaskowner.h"
#include "wizardpara.h"

#include <memory>
#include <opencv2/core.hpp>

namespace {

struct PromptRecorder
{
    PromptRecorder(bool answer)
    {
        ConfigPrompts::setWarn([this](const QString& t) { warnings << t; });
        ConfigPrompts::setAsk([this, answer](const QString& t) {
            questions << t;
            return answer;
        });
    }
    ~PromptRecorder()
    {
        ConfigPrompts::setWarn({});
        ConfigPrompts::setAsk({});
    }
    QStringList warnings;
    QStringList questions;
};

} // namespace

class CammerSingletonTest : public ParamDbTest
{
protected:
    void SetUp() override
    {
        ParamDbTest::SetUp();
        gShowW = 1024;
        gShowH = 600;
        gLan = 1;
        owner = std::make_unique<RoiMaskOwner>();
        owner->screenSW = 1.0f;
        owner->screenSH = 1.0f;
    }
    void TearDown() override
    {
        gShowW = 1920;
        gShowH = 1080;
        gLan = 0;
        ParamDbTest::TearDown();
    }
    std::unique_ptr<CammerSingleton> load()
    {
        auto store = std::make_unique<CammerSingleton>(0, owner.get());
        store->LoadDatafromFile();
        return store;
    }
    std::unique_ptr<RoiMaskOwner> owner;
};

TEST_F(CammerSingletonTest, EmptyTableGainsEightEmptyGroups)
{
    PromptRecorder prompts(true);
    auto store = load();
    for (int g = 0; g < 8; ++g) {
        EXPECT_EQ(store->roiCount[g], 0);
        EXPECT_EQ(value("cammer0", QString("detect%1").arg(g)), "0");
    }
    EXPECT_EQ(rowCount("cammer0"), 8);
    EXPECT_TRUE(prompts.warnings.isEmpty());
}

TEST_F(CammerSingletonTest, RowsLoadWithClampsDefaultsAndLastOutputWins)
{
    setRow("cammer0", "detect0", "3 1 2 3 4 5 6 7 8");
    setRow("cammer0", "ROI0-0", "4 30 120 2 1 1 0 5000 40 90 2");       // rectangle, x clamped, y2 < y1
    setRow("cammer0", "ROI0-1", "5 31 121 3 4 7 0 200 300 655400");    // ring, bad output
    // ROI0-2 missing: default ROI
    setRow("cammer0", "detect1", "1 0 0 0 0 0 0 0 0");
    setRow("cammer0", "ROI1-0", "3 25 100 0 258 2 3 10 10 110 10 10 110 ");
    auto store = load();

    EXPECT_EQ(store->roiCount[0], 3);
    EXPECT_EQ(store->groupRecord[0][7], 8);
    EXPECT_EQ(store->roiMinWH[0][0], 4);
    EXPECT_EQ(store->roiSensitivity[0][0], 30);
    EXPECT_EQ(store->roiArea[0][0], 120);
    EXPECT_EQ(store->roiFunction[0][0], 2);
    EXPECT_EQ(store->rectRoi[0][0].rect, QRect(QPoint(90, 2 + 1), QPoint(1021, 40)));
    EXPECT_EQ(owner->roiMask[0][0].cols, 1021 - 90 + 1);
    EXPECT_EQ(owner->roiMask[0][0].rows, 40 - 3 + 1);

    const Circle& ring = store->circleRoi[0][1];
    EXPECT_EQ(store->roiShape[0][1], 4);
    EXPECT_EQ(ring.centerX, 200);
    EXPECT_EQ(ring.centerY, 300);
    EXPECT_EQ(ring.radius, 40);
    EXPECT_EQ(ring.innerRadius, 10);
    EXPECT_EQ(owner->roiMask[0][1].rows, 80);

    EXPECT_EQ(store->roiShape[0][2], 1);
    EXPECT_EQ(store->rectRoi[0][2].rect, QRect(QPoint(50, 50), QPoint(100, 100)));
    EXPECT_EQ(store->roiSensitivity[0][2], 25);

    EXPECT_EQ(store->roiShape[1][0], 2);
    EXPECT_TRUE(store->polygonRoi[1][0].getHand());
    EXPECT_EQ(store->polygonRoi[1][0].nodeCount, 3);
    // Output of ROI index 0: group 0 said 1, group 1 said 2; the last group wins.
    EXPECT_EQ(store->roiOutput[0], 2);
    EXPECT_EQ(store->roiOutput[1], 0);
}

TEST_F(CammerSingletonTest, SaveWritesTheRowFormatAndDeletesSurplusRows)
{
    setRow("cammer0", "detect2", "5 0 0 0 0 0 0 0 0");
    for (int r = 0; r < 5; ++r)
        setRow("cammer0", QString("ROI2-%1").arg(r), "3 25 100 0 1 0 0 50 50 100 100");
    auto store = load();
    ASSERT_EQ(store->roiCount[2], 5);

    store->roiCount[2] = 3;
    store->roiShape[2][1] = 4;
    store->circleRoi[2][1].centerX = 300;
    store->circleRoi[2][1].centerY = 200;
    store->circleRoi[2][1].radius = 40;
    store->circleRoi[2][1].innerRadius = 10;
    store->roiShape[2][2] = 2;
    QPoint nodes[3] = {{10, 10}, {110, 10}, {10, 110}};
    store->polygonRoi[2][2] = RePolygon(3, nodes);
    store->roiOutput[2] = 3;
    store->groupRecord[2][0] = -4;
    ASSERT_TRUE(store->SaveDatatoFile());

    EXPECT_EQ(value("cammer0", "detect2"), "3 -4 0 0 0 0 0 0 0");
    EXPECT_EQ(value("cammer0", "ROI2-0"), "3 25 100 0 1 0 0 50 50 100 100");
    EXPECT_EQ(value("cammer0", "ROI2-1"), "3 25 100 0 4 0 0 300 200 655400");
    EXPECT_EQ(value("cammer0", "ROI2-2"), "3 25 100 0 2 3 3 10 10 110 10 10 110 ");
    EXPECT_FALSE(hasRow("cammer0", "ROI2-3"));
    EXPECT_FALSE(hasRow("cammer0", "ROI2-4"));

    store->polygonRoi[2][2].SetHand(true);
    ASSERT_TRUE(store->SaveDatatoFile());
    EXPECT_EQ(value("cammer0", "ROI2-2").section(' ', 4, 4), "258");
    EXPECT_EQ(rowCount("cammer0"), 8 + 3);
}

TEST_F(CammerSingletonTest, RingAtTheEdgeLoadsConsistentAndItsRowThenSurvivesSaveAndLoad)
{
    setRow("cammer0", "detect0", "2 0 0 0 0 0 0 0 0");
    setRow("cammer0", "ROI0-0", "3 25 100 4 4 0 0 3 300 655400");   // radius 40, inner 10, 3 px from the edge
    setRow("cammer0", "ROI0-1", "3 25 100 4 4 0 0 300 200 655400");  // the same ring well inside
    auto store = load();
    const Circle& edge = store->circleRoi[0][0];
    EXPECT_EQ(edge.radius, 3);
    EXPECT_EQ(edge.innerRadius, 3);
    EXPECT_EQ(cv::countNonZero(owner->roiMask[0][0]), 0) << "nothing left to check: the engine fails it";
    ASSERT_TRUE(store->SaveDatatoFile());
    const QString saved = value("cammer0", "ROI0-0");
    EXPECT_EQ(saved, "3 25 100 4 4 0 0 3 300 196611");
    EXPECT_EQ(value("cammer0", "ROI0-1"), "3 25 100 4 4 0 0 300 200 655400");
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(load()->SaveDatatoFile());
        EXPECT_EQ(value("cammer0", "ROI0-0"), saved);
        EXPECT_EQ(value("cammer0", "ROI0-1"), "3 25 100 4 4 0 0 300 200 655400");
    }
}

TEST_F(CammerSingletonTest, BadCountWarnsOnceAndTheNextSaveEmptiesTheGroup)
{
    PromptRecorder prompts(true);
    gaLanStr[4 * 0 + 1] = "Camera parameter file error!";
    setRow("cammer0", "detect4", "101 0 0 0 0 0 0 0 0");
    setRow("cammer0", "ROI4-0", "3 25 100 0 1 0 0 50 50 100 100");
    setRow("cammer0", "ROI4-99", "3 25 100 0 1 0 0 50 50 100 100");
    auto store = load();
    EXPECT_EQ(prompts.warnings, QStringList{"Camera parameter file error!"});
    EXPECT_EQ(store->roiCount[4], 0);
    ASSERT_TRUE(store->SaveDatatoFile());
    EXPECT_EQ(value("cammer0", "detect4"), "0 0 0 0 0 0 0 0 0");
    EXPECT_FALSE(hasRow("cammer0", "ROI4-0"));
    EXPECT_FALSE(hasRow("cammer0", "ROI4-99"));
}

TEST_F(CammerSingletonTest, FailedQueryKeepsTheGroupOutOfTheNextSave)
{
    // The camera's table cannot be read: no default rows and no overwrite later.
    exec("alter table cammer0 rename to cammer0_saved");
    auto store = load();
    exec("alter table cammer0_saved rename to cammer0");
    setRow("cammer0", "detect0", "2 0 0 0 0 0 0 0 0");
    setRow("cammer0", "ROI0-0", "9 9 9 9 1 0 0 10 10 20 20");
    for (int g = 0; g < 8; ++g)
        EXPECT_FALSE(store->groupLoaded[g]);
    EXPECT_TRUE(store->SaveDatatoFile());
    EXPECT_EQ(value("cammer0", "detect0"), "2 0 0 0 0 0 0 0 0");
    EXPECT_EQ(value("cammer0", "ROI0-0"), "9 9 9 9 1 0 0 10 10 20 20");
}

TEST_F(CammerSingletonTest, RoisDrawnIntoAnUnreadGroupAreSaved)
{
    exec("alter table cammer0 rename to cammer0_saved");
    auto store = load();
    exec("alter table cammer0_saved rename to cammer0");
    setRow("cammer0", "detect1", "3 0 0 0 0 0 0 0 0");
    // The user draws one ROI into the group shown empty; the save must not drop it quietly.
    store->roiCount[0] = 1;
    store->roiShape[0][0] = CammerSingleton::kShapeRect;
    store->roiMinWH[0][0] = 3;
    store->roiSensitivity[0][0] = 25;
    store->roiArea[0][0] = 100;
    store->rectRoi[0][0].rect = QRect(QPoint(10, 10), QPoint(20, 20));
    ASSERT_TRUE(store->SaveDatatoFile());
    EXPECT_EQ(value("cammer0", "detect0"), "1 0 0 0 0 0 0 0 0");
    EXPECT_EQ(value("cammer0", "ROI0-0"), "3 25 100 0 1 0 0 10 10 20 20");
    EXPECT_TRUE(store->groupLoaded[0]);
    EXPECT_FALSE(store->groupLoaded[1]);
    EXPECT_EQ(value("cammer0", "detect1"), "3 0 0 0 0 0 0 0 0");
}

TEST_F(CammerSingletonTest, FailingSaveRollsBackEveryRow)
{
    auto store = load();
    store->roiCount[0] = 2;
    store->roiShape[0][0] = store->roiShape[0][1] = 1;
    exec("create trigger refuse before insert on cammer0 when new.name = 'ROI0-1' "
         "begin select raise(abort, 'refused'); end");
    EXPECT_FALSE(store->SaveDatatoFile());
    EXPECT_EQ(value("cammer0", "detect0"), "0");
    EXPECT_FALSE(hasRow("cammer0", "ROI0-0"));
}

TEST_F(CammerSingletonTest, OverlongPolygonFallsBackToTheDefaultRoi)
{
    setRow("cammer0", "detect0", "1 0 0 0 0 0 0 0 0");
    setRow("cammer0", "ROI0-0", "3 25 100 0 2 0 8097 1 1 2 2");
    auto store = load();
    EXPECT_EQ(store->roiShape[0][0], 1);
    EXPECT_EQ(store->rectRoi[0][0].rect, QRect(QPoint(50, 50), QPoint(100, 100)));
}

TEST_F(CammerSingletonTest, CopyTargetsNamesAndAnswer)
{
    WizardPara para;
    gpWPara = &para;
    auto store = load();
    int dst = -1;
    para.trigMode = 3;
    gDNum = 3;
    store->getCopyParamIndex(2, dst);
    EXPECT_EQ(dst, 0);
    gaLanStr[4 * 755 + 1] = "%1 detect";
    QString srcText, dstText;
    store->getCopyParamDescri(2, 0, srcText, dstText);
    EXPECT_EQ(srcText, "3 detect");
    EXPECT_EQ(dstText, "1 detect");

    para.trigMode = 1;
    para.stageGroups = 2;
    store->getCopyParamIndex(3, dst);
    EXPECT_EQ(dst, 1);
    para.stageGroups = 1;
    store->getCopyParamIndex(2, dst);
    EXPECT_EQ(dst, 3);
    store->getCopyParamIndex(0, dst);
    EXPECT_EQ(dst, 2);
    para.trigMode = 0;
    store->getCopyParamIndex(0, dst);
    EXPECT_EQ(dst, 1);
    store->getCopyParamIndex(5, dst);
    EXPECT_EQ(dst, 0);
    gpWPara = nullptr;
    gDNum = 2;
}

TEST_F(CammerSingletonTest, CopyingAGroupCopiesShapesAndOwnMaskPixels)
{
    auto store = load();
    store->roiCount[0] = 1;
    store->roiShape[0][0] = 1;
    store->roiSensitivity[0][0] = 77;
    store->rectRoi[0][0].rect = QRect(10, 10, 20, 20);
    store->rectRoi[0][0].SetSelected(true);
    owner->roiMaskEdit[0][0] = cv::Mat(20, 20, CV_8UC1, cv::Scalar(255));
    {
        PromptRecorder no(false);
        store->copyParam(0, 1);
        EXPECT_EQ(no.questions.size(), 1);
        EXPECT_EQ(store->roiCount[1], 0);
    }
    PromptRecorder yes(true);
    store->copyParam(0);
    EXPECT_EQ(store->roiCount[1], 1);
    EXPECT_EQ(store->roiSensitivity[1][0], 77);
    EXPECT_EQ(store->rectRoi[1][0].rect, QRect(10, 10, 20, 20));
    EXPECT_FALSE(store->rectRoi[1][0].IsSelected());
    ASSERT_EQ(owner->roiMaskEdit[1][0].rows, 20);
    owner->roiMaskEdit[0][0].setTo(0);
    EXPECT_EQ(owner->roiMaskEdit[1][0].at<unsigned char>(5, 5), 255);
}

TEST_F(CammerSingletonTest, SelectingUsesTheCurrentGroup)
{
    MainWindowBase window;
    gpWin = &window;
    auto store = load();
    store->roiCount[1] = 2;
    store->roiFunction[1][1] = 6;
    store->roiArea[1][1] = 60;
    window.curDetect = 1;
    store->setSelectRoi(1);
    EXPECT_EQ(store->selectedRoi, 1);
    EXPECT_EQ(store->selectedFunction, 6);
    EXPECT_EQ(store->selectedArea, 60);
    store->setSelectRoi(2);
    EXPECT_EQ(store->selectedRoi, 1);
    gpWin = nullptr;
}

TEST(CammerSingletonSizeTest, AnEmptyStoreIsSmall)
{
    // Growable polygon nodes: the fixed 8096-node arrays cost about 100 MB per store.
    EXPECT_LT(sizeof(CammerSingleton), size_t(5) << 20);
    auto a = std::make_unique<CammerSingleton>(0, nullptr);
    QPoint nodes[3] = {{10, 10}, {50, 10}, {10, 50}};
    a->polygonRoi[3][7] = RePolygon(3, nodes);
    auto b = std::make_unique<CammerSingleton>(1, nullptr);
    *b = *a; // whole-store copy, as the editor does
    b->polygonRoi[3][7].nodes[0] = QPoint(20, 20);
    EXPECT_EQ(a->polygonRoi[3][7].nodes[0], QPoint(10, 10));
    EXPECT_EQ(b->polygonRoi[3][7].nodeCount, 3);
}
