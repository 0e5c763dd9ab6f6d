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
    EXPECT_TRUE(publishedResults.isEmpty());
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

// The preview reads the edit store and its masks, never the active ones.
TEST_F(PreviewTest, ReadsTheEditStoreAndItsMasks)
{
    addRoi(0, CammerRecong::kWhiteArea, cv::Rect(20, 20, 40, 40), 250, 0, 0);  // active: band [250, 255]
    auto edit = std::make_unique<CammerSingleton>(0, state.get());
    *edit = *store;
    edit->roiSensitivity[0][0] = 200;
    state->pSingletonEdit = edit.get();
    cv::Mat half = cv::Mat::zeros(40, 40, CV_8UC1);
    half(cv::Rect(0, 0, 40, 13)).setTo(255);  // rows 20..32: three rows of the spot
    state->roiMaskEdit[0][0] = half;
    engine->RunTest(0, 0);
    // 6 x 3 of the spot; the 3 x 3 elliptic opening drops its 4 corners.
    EXPECT_EQ(state->roiValue[0][0], 14);
    state->roiMaskEdit[0][0] = state->roiMask[0][0];
    engine->RunTest(0, 0);
    EXPECT_EQ(state->roiValue[0][0], 32);
    state->pSingletonEdit = store.get();
}

TEST_F(PreviewTest, SpotBandAndOtherCodes)
{
    addRoi(0, CammerRecong::kSpot, cv::Rect(20, 20, 40, 40), 0, 0, 230 | (255 << 8));  // [230, 255]
    addRoi(0, 42, cv::Rect(100, 100, 10, 10), 0, 0, 0);                              // every pixel
    engine->RunTest(0, 0);
    EXPECT_EQ(state->roiValue[0][0], 32);
    engine->RunTest(0, 1);
    EXPECT_EQ(state->roiValue[0][1], 100);
    EXPECT_EQ(cv::countNonZero(frame(state->pSensMask)), 100);  // cleared between previews
    EXPECT_EQ(repaints, 2);
}

TEST_F(PreviewTest, ColourSpotsOnTheShownColourTemplate)
{
    setUpCamera(kW, kH, true);
    state->requestRepaint = [this] { ++repaints; };
    cv::Mat(kH, kW, CV_8UC4, state->pTemplate[0][0]).setTo(cv::Scalar(50, 50, 50, 0));
    cv::Mat(kH, kW, CV_8UC4, state->pTemplate[0][0])(cv::Rect(30, 30, 10, 10)).setTo(cv::Scalar(20, 30, 200, 0));
    state->pTemplateValid[0][0] = 1;
    state->templateCount[0] = 1;
    engine->VarTrain(0);
    // The checked frame is black: the preview must not look at it.
    addRoi(0, CammerRecong::kColorSpots, kLeftBox, 150 | (255 << 16), 60 << 16, 60 << 16);
    engine->RunTest(0, 0);
    EXPECT_EQ(state->roiValue[0][0], 96);

    // A grey camera has no colour: nothing to show, but the preview is computed.
    setUpCamera(kW, kH, false);
    state->requestRepaint = [this] { ++repaints; };
    learnFlat(0);
    addRoi(0, CammerRecong::kColorSpots, kLeftBox, 0 | (255 << 16), 255 << 16, 255 << 16);
    repaints = 0;
    engine->RunTest(0, 0);
    EXPECT_EQ(state->roiValue[0][0], 0);
    EXPECT_TRUE(state->isSensPreview);
    EXPECT_EQ(repaints, 1);
}
