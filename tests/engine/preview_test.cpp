#include "enginefixture.h"

class PreviewTest : public EngineTest
{
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        repaints = 0;
        state->requestRepaint = [this] { ++repaints; };
        cv::Mat t(kH, kW, CV_8UC1, cv::Scalar(kBackground));
        t(cv::Rect(30, 30, 6, 6)).setTo(240);
        setTemplate(0, 0, t);
        engine->VarTrain(0);
        std::memset(state->pSensMask, 9, size_t(state->imagePixels));
    }
    int repaints = 0;
};

TEST_F(PreviewTest, BandFunctionShowsPixelsOfTheShownTemplate)
{
    addRoi(0, CammerRecong::kWhiteArea, cv::Rect(20, 20, 40, 40), 200, 0, 0);
    engine->RunTest(0, 0);
    EXPECT_EQ(state->roiValue[0][0], 32);
    EXPECT_EQ(cv::countNonZero(frame(state->pSensMask)), 32);
    EXPECT_TRUE(state->isSensPreview);
    EXPECT_EQ(repaints, 1);
    EXPECT_TRUE(VEK_NETMN::getInstance()->roiResultCache.isEmpty());
}

TEST_F(PreviewTest, CountFunctionCountsSpotsWithTheChecksLimit)
{
    // A 6 x 6 white-num ROI with minWH 1 (k = 3): the check keeps its mask (limit 4), so must the preview.
    addRoi(0, CammerRecong::kWhiteNum, cv::Rect(30, 30, 6, 6), 200, 0 | (5 << 16), 1);
    engine->RunTest(0, 0);
    const int previewed = state->roiValue[0][0];
    EXPECT_EQ(previewed, 1);
    templ(0, 0).copyTo(checkFrame());
    engine->Run(0);
    EXPECT_EQ(state->roiValue[0][0], previewed);
}

TEST_F(PreviewTest, ModelFunctionsClearWithoutPreview)
{
    addRoi(0, CammerRecong::kDefect, cv::Rect(20, 20, 40, 40), 25, 0, 0);
    addRoi(0, CammerRecong::kSimilarity, cv::Rect(20, 20, 40, 40), 25, 0, 0);
    state->roiValue[0][1] = 12;
    engine->RunTest(0, 1);
    EXPECT_EQ(state->roiValue[0][1], 0);
    EXPECT_EQ(cv::countNonZero(frame(state->pSensMask)), 0);
    EXPECT_EQ(repaints, 1);
}

TEST_F(PreviewTest, NoSelectionOrBeyondTheCountDoesNothingVisible)
{
    addRoi(0, CammerRecong::kWhiteArea, cv::Rect(20, 20, 40, 40), 200, 0, 0);
    state->roiValue[0][5] = 3;
    engine->RunTest(0, 5);
    EXPECT_EQ(state->roiValue[0][5], 0);
    engine->RunTest(0, -1);  // no ROI selected
    engine->RunTest(9, 0);   // no such group
    state->curTemplate = 99;  // no such template
    engine->RunTest(0, 0);
    EXPECT_EQ(repaints, 0);
    EXPECT_FALSE(state->isSensPreview);
}
