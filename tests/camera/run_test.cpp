#include "enginefixture.h"


// One frame, one ROI per band function, numbers predicted from the function table:
// an s x s square opened by the 3 x 3 elliptic element keeps s*s - 4 pixels.
TEST_F(EngineTest, BandFunctionsMeasureDecideAndPublish)
{
    learnFlat(0);
    cv::Mat f = blankCheck();
    f(cv::Rect(30, 30, 6, 6)).setTo(20);    // dark spot
    f(cv::Rect(60, 45, 2, 2)).setTo(20);    // speck, removed by the opening
    f(cv::Rect(120, 30, 8, 8)).setTo(240);  // bright area
    for (int i = 0; i < 3; ++i)
        f(cv::Rect(110 + 15 * i, 100, 5, 5)).setTo(240);  // three bright spots

    addRoi(0, CammerRecong::kSpot, kLeftBox, 10, 100, 50 << 8);                      // band [0, 50]
    addRoi(0, CammerRecong::kBlackArea, kLeftBox, 60, 20, 30);                       // NG: 32 > 30
    addRoi(0, CammerRecong::kWhiteArea, cv::Rect(100, 20, 60, 40), 200, 50, 100);  // OK
    addRoi(0, CammerRecong::kWhiteNum, cv::Rect(100, 90, 60, 30), 200, 2 | (5 << 16), 1);
    addRoi(0, CammerRecong::kBlackNum, kLeftBox, 50, 2 | (5 << 16), 1);              // 1 spot < 2
    addRoi(0, 42, cv::Rect(170, 130, 20, 20), 7, 8, 9);                           // every pixel

    engine->Run(0);
    const int expectValue[] = {32, 32, 60, 3, 1, 400};
    const bool expectOk[] = {true, false, true, true, false, false};
    for (int r = 0; r < 6; ++r) {
        EXPECT_EQ(state->roiValue[0][r], expectValue[r]) << r;
        EXPECT_EQ(state->roiResult[0][r], expectOk[r]) << r;
    }
    EXPECT_FALSE(state->camOK);

    // Boxes of the NG ROIs (the only ones drawn), right and bottom edges exclusive;
    // the OK ROIs keep none, whatever they found.
    ASSERT_EQ(state->ngBoxes[0][1].count(), 1);
    EXPECT_EQ(std::vector<int>(state->ngBoxes[0][1].entry[1], state->ngBoxes[0][1].entry[1] + 4),
              (std::vector<int>{30, 30, 36, 36}));
    EXPECT_EQ(state->ngBoxes[0][4].count(), 1);
    EXPECT_EQ(state->ngBoxes[0][5].count(), 1);
    for (int r : {0, 2, 3})
        EXPECT_EQ(state->ngBoxes[0][r].count(), 0) << r;

    // Published: the cleaned area, the parameters by function, each ROI's own result.
    const param_roi spot = published(0, 0);
    EXPECT_EQ(spot.function, 1);
    EXPECT_EQ(spot.value, 32);
    EXPECT_EQ(spot.param1, 10);
    EXPECT_EQ(spot.param2, 100);
    EXPECT_EQ(spot.result, 1);
    const param_roi black = published(0, 1);
    EXPECT_EQ(std::vector<int>({black.param1, black.param2, black.result}), (std::vector<int>{0, 20, 0}));
    EXPECT_EQ(published(0, 2).result, 1);  // after an NG ROI: still its own OK
    const param_roi count = published(0, 3);
    EXPECT_EQ(count.value, 63);  // the area, not the count
    EXPECT_EQ(count.result, 1);
    const param_roi other = published(0, 5);
    EXPECT_EQ(std::vector<int>({other.param1, other.param2, other.param3, other.value}),
              (std::vector<int>{7, 8, 9, 400}));

    // Defect pixels of the whole check.
    const cv::Mat sens = frame(state->pSensMask);
    EXPECT_EQ(sens.at<uchar>(32, 32), 255);
    EXPECT_EQ(sens.at<uchar>(45, 60), 0);
    EXPECT_EQ(cv::countNonZero(sens(cv::Rect(170, 130, 20, 20))), 400);
    EXPECT_TRUE(window.records.isEmpty());
}

// Every limit is inclusive on the OK side: a value equal to its limit passes, one past it fails.
TEST_F(EngineTest, ValuesEqualToTheirLimitsPassAndOnePastFails)
{
    learnFlat(0);
    cv::Mat f = blankCheck();
    f(cv::Rect(30, 30, 6, 6)).setTo(20);                       // dark: 32 pixels once opened
    for (int i = 0; i < 3; ++i)
        f(cv::Rect(110 + 15 * i, 100, 5, 5)).setTo(240);       // three bright spots
    const cv::Rect spots(100, 90, 60, 30);
    const cv::Rect whole(170, 130, 20, 20);                     // 400 pixels of an unknown code
    struct Case
    {
        int code;
        cv::Rect box;
        int sens, area, minWH;
        bool ok;
    };
    const Case cases[] = {
        {CammerRecong::kBlackArea, kLeftBox, 60, 32, 32, true},     // 32 within [32, 32]
        {CammerRecong::kBlackArea, kLeftBox, 60, 33, 40, false},
        {CammerRecong::kBlackArea, kLeftBox, 60, 20, 31, false},
        {CammerRecong::kSpot, kLeftBox, 32, 32, 50 << 8, true},    // 32 within [sens, area]
        {CammerRecong::kSpot, kLeftBox, 33, 40, 50 << 8, false},
        {CammerRecong::kSpot, kLeftBox, 10, 31, 50 << 8, false},
        {CammerRecong::kWhiteNum, spots, 200, 3 | (3 << 16), 1, true},  // 3 spots within [3, 3]
        {CammerRecong::kWhiteNum, spots, 200, 4 | (9 << 16), 1, false},
        {CammerRecong::kWhiteNum, spots, 200, 0 | (2 << 16), 1, false},
        {42, whole, 7, 400, 1, true},                                 // the system area (below) is 400
    };
    para.area = 400;
    for (const Case& c : cases)
        addRoi(0, c.code, c.box, c.sens, c.area, c.minWH);
    engine->Run(0);
    for (size_t r = 0; r < std::size(cases); ++r)
        EXPECT_EQ(bool(state->roiResult[0][r]), cases[r].ok) << "case " << r << ", value " << state->roiValue[0][r];

    // The same defect count against an area one below it, the system's and the ROI's own.
    para.area = 399;
    engine->Run(0);
    EXPECT_FALSE(state->roiResult[0][std::size(cases) - 1]);
    para.showAllParams = 1;  // the ROI's own area (400) and filter size (1) apply
    engine->Run(0);
    EXPECT_TRUE(state->roiResult[0][std::size(cases) - 1]);
}

TEST_F(EngineTest, SpotBandBytesAreSwappedWhenReversed)
{
    learnFlat(0);
    blankCheck()(cv::Rect(30, 30, 6, 6)).setTo(20);
    addRoi(0, CammerRecong::kSpot, kLeftBox, 10, 100, 50);  // byte 0 = 50, byte 1 = 0: band [0, 50]
    engine->Run(0);
    EXPECT_EQ(state->roiValue[0][0], 32);
}

TEST_F(EngineTest, SpotCountingKeeps99BoxesButCountsAll)
{
    learnFlat(0);
    cv::Mat f = blankCheck();
    for (int i = 0; i < 150; ++i)
        f(cv::Rect(10 + 8 * (i % 15), 10 + 8 * (i / 15), 2, 2)).setTo(240);
    addRoi(0, CammerRecong::kWhiteNum, cv::Rect(0, 0, 140, 100), 200, 0 | (100 << 16), 0);  // k = 1
    engine->Run(0);
    EXPECT_EQ(state->roiValue[0][0], 150);
    EXPECT_EQ(state->ngBoxes[0][0].count(), 99);
    EXPECT_FALSE(state->roiResult[0][0]);  // more than 100 spots
    EXPECT_EQ(published(0, 0).value, 600);
}

TEST_F(EngineTest, SpotCountingClearsTheMaskWhenTheKernelDoesNotFit)
{
    learnFlat(0);
    blankCheck()(cv::Rect(50, 50, 5, 5)).setTo(240);
    // 5 x 5 ROI, k = 3, limit 2 x 2 - 2 = 2: cleared, no spots, NG with a minimum of 1.
    addRoi(0, CammerRecong::kWhiteNum, cv::Rect(50, 50, 5, 5), 200, 1 | (5 << 16), 1);
    engine->Run(0);
    EXPECT_EQ(state->roiValue[0][0], 0);
    EXPECT_FALSE(state->roiResult[0][0]);
    // A huge filter parameter is cleared the same way instead of building a huge element.
    addRoi(0, CammerRecong::kWhiteNum, cv::Rect(40, 40, 30, 30), 200, 0 | (5 << 16), 1 << 29);
    engine->Run(0);
    EXPECT_EQ(state->roiValue[0][1], 0);
    EXPECT_TRUE(state->roiResult[0][1]);
}

TEST_F(EngineTest, DefectComparesWithTheLearntTemplateAndInverts)
{
    constexpr int kSpotArea = 108;
    setTemplate(0, 0, cv::Mat(kH, kW, CV_8UC1, cv::Scalar(kBackground)));
    addRoi(0, CammerRecong::kDefect, kLeftBox, 25, 1000, 11);
    engine->VarTrain(0);
    ASSERT_TRUE(engine->grayModel[0][0].IsValid());
    blankCheck()(cv::Rect(30, 30, 4, 4)).setTo(30);  // 98 darker, marked with its margin

    // showAllParams off: the system filter size 3 and area 50 apply, the ROI's own are published.
    engine->Run(0);
    EXPECT_EQ(state->roiValue[0][0], kSpotArea);
    EXPECT_FALSE(state->roiResult[0][0]);
    const param_roi p = published(0, 0);
    EXPECT_EQ(std::vector<int>({p.param1, p.param2, p.param3, p.value, p.result}),
              (std::vector<int>{25, 1000, 11, kSpotArea, 0}));

    // showAllParams on: kernel 11 wipes the marked spot, area 1000.
    para.showAllParams = 1;
    engine->Run(0);
    EXPECT_EQ(state->roiValue[0][0], 0);
    EXPECT_TRUE(state->roiResult[0][0]);
    para.showAllParams = 0;

    // Inversion: the template is an NG image, so a match is NG and a defect OK.
    para.ngTemplate[0] = 1;
    engine->Run(0);
    EXPECT_TRUE(state->roiResult[0][0]);
    EXPECT_TRUE(state->camOK);
    blankCheck();
    engine->Run(0);
    EXPECT_FALSE(state->roiResult[0][0]);
    EXPECT_FALSE(state->camOK);
}

TEST_F(EngineTest, InversionFlagFollowsTheTriggerMode)
{
    // Code outside 0..10 follows the defect decision; every pixel of a flat frame counts.
    for (int g : {2, 3}) {
        learnFlat(g);
        addRoi(g, 77, cv::Rect(0, 0, 5, 5), 0, 0, 0);  // A = 25 <= area 50: OK before inversion
    }
    blankCheck();
    para.ngTemplate[1] = 1;
    para.trigMode = 1;  // group 2 uses flag 0, group 3 flag 1
    engine->Run(2);
    EXPECT_TRUE(state->roiResult[2][0]);
    engine->Run(3);
    EXPECT_FALSE(state->roiResult[3][0]);
    para.trigMode = 0;  // group g uses flag g: flags 2 and 3 are never set
    engine->Run(3);
    EXPECT_TRUE(state->roiResult[3][0]);
}

TEST_F(EngineTest, SimilarityScoresAgainstTheTemplates)
{
    const cv::Mat scene = synth::scene(kW, kH, 5);
    setTemplate(0, 0, scene);
    const cv::Rect box(40, 40, 100, 80);
    addRoi(0, CammerRecong::kSimilarity, box, 80, 0, 0);
    engine->VarTrain(0);
    scene.copyTo(checkFrame());
    engine->Run(0);
    EXPECT_EQ(state->roiValue[0][0], 100);
    EXPECT_TRUE(state->roiResult[0][0]);
    const param_roi p = published(0, 0);
    EXPECT_EQ(std::vector<int>({p.param1, p.param2, p.value}), (std::vector<int>{80, -1, 0}));

    cv::Mat flipped;
    cv::flip(scene(box), flipped, -1);
    flipped.copyTo(checkFrame()(box));
    engine->Run(0);
    EXPECT_LT(state->roiValue[0][0], 80);
    EXPECT_FALSE(state->roiResult[0][0]);

    // Without templates the model is invalid: score 0.
    state->pTemplateValid[0][0] = 0;
    state->templateCount[0] = 0;
    engine->VarTrain(0);
    scene.copyTo(checkFrame());
    engine->Run(0);
    EXPECT_EQ(state->roiValue[0][0], 0);
    EXPECT_FALSE(state->roiResult[0][0]);
}

TEST_F(EngineTest, ColourSpotsOnColourAndGreyCameras)
{
    para.minColorArea = 50;
    para.maxColorArea = 200;
    // Grey camera: no colour, A = 0 < 50.
    learnFlat(0);
    blankCheck();
    addRoi(0, CammerRecong::kColorSpots, kLeftBox, 150 | (255 << 16), 60 << 16, 60 << 16);
    engine->Run(0);
    EXPECT_EQ(state->roiValue[0][0], 0);
    EXPECT_FALSE(state->roiResult[0][0]);
    EXPECT_EQ(std::vector<int>({published(0, 0).param1, published(0, 0).param2}), (std::vector<int>{-1, -1}));

    setUpCamera(kW, kH, true);
    para.minColorArea = 50;
    para.maxColorArea = 200;
    engine->VarTrain(0);
    cv::Mat colour(kH, kW, CV_8UC4, state->pCheckBuf);
    colour.setTo(cv::Scalar(50, 50, 50, 0));
    colour(cv::Rect(30, 30, 10, 10)).setTo(cv::Scalar(20, 30, 200, 0));  // bytes 0, 1, 2 = blue, green, red
    // Red 150..255 (halves swapped), green 0..60, blue 0..60.
    addRoi(0, CammerRecong::kColorSpots, kLeftBox, 255 | (150 << 16), 60 << 16, 60 << 16);
    engine->Run(0);
    EXPECT_EQ(state->roiValue[0][0], 96);
    EXPECT_TRUE(state->roiResult[0][0]);
}

TEST_F(EngineTest, IgnoreMaskIgnoresAnyNonZeroPixel)
{
    cv::Mat ignore = frame(state->pIgnoreMask[0]);
    ignore(cv::Rect(30, 30, 6, 6)).setTo(1);      // faint grey still ignores
    ignore(cv::Rect(50, 30, 6, 6)).setTo(128);
    learnFlat(0);
    cv::Mat f = blankCheck();
    f(cv::Rect(30, 30, 6, 6)).setTo(20);
    f(cv::Rect(50, 30, 6, 6)).setTo(20);
    f(cv::Rect(70, 50, 6, 6)).setTo(20);  // not ignored
    addRoi(0, CammerRecong::kBlackArea, kLeftBox, 60, 0, 1000);
    engine->Run(0);
    EXPECT_EQ(state->roiValue[0][0], 32);
    EXPECT_EQ(engine->groupMask[0].at<uchar>(32, 32), 0);
    EXPECT_EQ(engine->groupMask[0].at<uchar>(0, 0), 255);
}

TEST_F(EngineTest, ExclusionRoiReplacesIgnorePointsInItsBox)
{
    // Exclusion box (20, 20, 40, 20): its shape is the left half only.
    cv::Mat shape = cv::Mat::zeros(20, 40, CV_8UC1);
    shape(cv::Rect(0, 0, 20, 20)).setTo(255);
    frame(state->pIgnoreMask[0])(cv::Rect(45, 25, 6, 6)).setTo(255);  // in the box, outside the shape
    addRoi(0, CammerRecong::kIgnoreArea, cv::Rect(20, 20, 40, 20), 0, 0, 0, shape);
    addRoi(0, CammerRecong::kBlackArea, kLeftBox, 60, 0, 1000);
    learnFlat(0);
    cv::Mat f = blankCheck();
    f(cv::Rect(25, 25, 6, 6)).setTo(20);  // under the exclusion shape: ignored
    f(cv::Rect(45, 25, 6, 6)).setTo(20);  // ignore point dropped by the exclusion box: checked
    engine->Run(0);
    EXPECT_EQ(state->roiValue[0][1], 32);
    EXPECT_EQ(state->roiValue[0][0], 0);
    EXPECT_EQ(state->ngBoxes[0][0].count(), 0);
    EXPECT_FALSE(isPublished(0, 0));
}

TEST_F(EngineTest, BrightnessIsMatchedToTheTemplateOnlyWhenLearnt)
{
    para.matchBrightness = 1;
    // No function-0 or -6 ROI: no reference norm, so the frame is used as it is.
    EXPECT_EQ(engine->templateNorm[0], 0.0);
    learnFlat(0);
    cv::Mat f = blankCheck();
    f(cv::Rect(30, 30, 8, 8)).setTo(240);
    addRoi(0, CammerRecong::kWhiteArea, kLeftBox, 200, 0, 1000);
    engine->Run(0);
    EXPECT_EQ(state->roiValue[0][0], 60);

    // Learnt from a template with a defect ROI: a frame at half brightness is scaled back.
    cv::Mat t(kH, kW, CV_8UC1, cv::Scalar(kBackground));
    t(cv::Rect(30, 30, 8, 8)).setTo(240);
    setTemplate(0, 0, t);
    addRoi(0, CammerRecong::kDefect, cv::Rect(150, 100, 20, 20), 50, 1000, 3);
    engine->VarTrain(0);
    EXPECT_NEAR(engine->templateNorm[0], cv::norm(t), 1e-6);
    cv::Mat half;
    t.convertTo(half, CV_8U, 0.5);
    half.copyTo(checkFrame());
    engine->Run(0);
    EXPECT_EQ(state->roiValue[0][0], 60);
    para.matchBrightness = 0;
    engine->Run(0);
    EXPECT_EQ(state->roiValue[0][0], 0);
}

TEST_F(EngineTest, EmptyAndSkippedGroupsStayOkAndPublishNothing)
{
    std::memset(state->pSensMask, 7, size_t(state->imagePixels));
    engine->Run(4);
    EXPECT_TRUE(state->camOK);
    EXPECT_EQ(cv::countNonZero(frame(state->pSensMask)), 0);

    for (int code : {CammerRecong::kIgnoreArea, CammerRecong::kPosition, CammerRecong::kAngleCorrection})
        addRoi(4, code, kLeftBox, 1, 2, 3);
    state->roiValue[4][1] = 55;
    state->ngBoxes[4][1].entry[0][0] = 4;
    engine->Run(4);  // not even learnt: skipped ROIs need nothing
    EXPECT_TRUE(state->camOK);
    EXPECT_EQ(state->roiValue[4][1], 0);
    EXPECT_EQ(state->ngBoxes[4][1].count(), 0);
    EXPECT_TRUE(publishedResults.isEmpty());
    EXPECT_TRUE(window.records.isEmpty());
}

TEST(ThresholdFUNC, InclusiveBandEmptyWhenReversed)
{
    cv::Mat ramp(1, 256, CV_8UC1);
    for (int i = 0; i < 256; ++i)
        ramp.at<uchar>(0, i) = uchar(i);
    cv::Mat band;
    CammerRecong::ThresholdFUNC(ramp, band, 10, 20);
    EXPECT_EQ(cv::countNonZero(band), 11);
    EXPECT_EQ(band.at<uchar>(0, 10), 255);
    EXPECT_EQ(band.at<uchar>(0, 20), 255);
    EXPECT_EQ(band.at<uchar>(0, 21), 0);
    CammerRecong::ThresholdFUNC(ramp, band, 0, 255);
    EXPECT_EQ(cv::countNonZero(band), 256);
    CammerRecong::ThresholdFUNC(ramp, band, 20, 10);
    EXPECT_EQ(band.size(), ramp.size());
    EXPECT_EQ(cv::countNonZero(band), 0);
}

// The band functions read only byte 0 of the sensitivity; the other bytes belong to the panel.
TEST_F(EngineTest, BandsUseByteZeroOfTheSensitivity)
{
    learnFlat(0);
    cv::Mat f = blankCheck();
    f(cv::Rect(30, 30, 6, 6)).setTo(20);
    f(cv::Rect(120, 30, 6, 6)).setTo(240);
    addRoi(0, CammerRecong::kBlackArea, kLeftBox, (7 << 8) | 60, 0, 1000);                     // [0, 60]
    addRoi(0, CammerRecong::kWhiteArea, cv::Rect(100, 20, 60, 40), (1 << 16) | 200, 0, 1000);  // [200, 255]
    addRoi(0, CammerRecong::kBlackNum, kLeftBox, (3 << 24) | 60, 1 | (5 << 16), 0);
    engine->Run(0);
    EXPECT_EQ(state->roiValue[0][0], 32);
    EXPECT_EQ(state->roiValue[0][1], 32);
    EXPECT_EQ(state->roiValue[0][2], 1);
    EXPECT_TRUE(state->camOK);
}

// An element that reaches from every pixel of the ROI to every other erodes the
// whole ROI to its darkest pixel: one unset pixel clears it, a full mask stays.
TEST_F(EngineTest, OpeningWithAnElementLargerThanTheRoi)
{
    learnFlat(0);
    cv::Mat f = blankCheck();
    f(cv::Rect(20, 20, 10, 10)).setTo(20);
    f.at<uchar>(20, 20) = 240;              // one corner pixel outside the band
    f(cv::Rect(60, 20, 10, 10)).setTo(20);  // full
    para.minSpot = 1001;
    addRoi(0, CammerRecong::kBlackArea, cv::Rect(20, 20, 10, 10), 60, 0, 50);
    addRoi(0, CammerRecong::kBlackArea, cv::Rect(60, 20, 10, 10), 60, 0, 50);  // NG: its box is kept
    engine->Run(0);
    EXPECT_EQ(state->roiValue[0][0], 0);
    EXPECT_EQ(state->roiValue[0][1], 100);
    para.minSpot = 1 << 30;
    engine->Run(0);
    EXPECT_EQ(state->roiValue[0][0], 0);
    EXPECT_EQ(state->roiValue[0][1], 100);
    EXPECT_EQ(state->ngBoxes[0][1].count(), 1);
}
