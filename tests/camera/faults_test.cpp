#include "enginefixture.h"

#include <climits>

// A circle near the right or bottom edge reaches out of the frame: its box is
// cut to the frame and its mask with it.
TEST_F(EngineTest, RoiBoxReachingOutOfTheFrameIsCut)
{
    learnFlat(0);
    cv::Mat f = blankCheck();
    f(cv::Rect(190, 60, 8, 8)).setTo(240);
    f(cv::Rect(150, 150, 6, 6)).setTo(240);
    addRoi(0, CammerRecong::kWhiteArea, cv::Rect(180, 50, 40, 40), 200, 0, 50);  // NG: its box is kept
    // A circle ROI whose 40 x 40 box hangs over the bottom edge.
    const int r = store->roiCount[0]++;
    store->roiFunction[0][r] = CammerRecong::kWhiteArea;
    store->roiShape[0][r] = CammerSingleton::kShapeCircle;
    store->circleRoi[0][r].imageRect = QRect(135, 135, 40, 40);
    store->roiSensitivity[0][r] = 200;
    store->roiMinWH[0][r] = 1000;
    state->roiMask[0][r] = cv::Mat::zeros(40, 40, CV_8UC1);
    cv::circle(state->roiMask[0][r], {20, 20}, 19, 255, cv::FILLED);

    engine->Run(0);
    EXPECT_EQ(state->roiValue[0][0], 60);
    ASSERT_EQ(state->ngBoxes[0][0].count(), 1);
    EXPECT_EQ(state->ngBoxes[0][0].entry[1][2], 198);
    EXPECT_EQ(state->roiValue[0][1], 32);
    EXPECT_TRUE(state->roiResult[0][1]);
    EXPECT_FALSE(state->camOK);
    EXPECT_TRUE(window.records.isEmpty());
}

// A ring cut down at the edge until no pixel is left checks nothing: NG and
// published, never a silent OK; the same ring further in finds the part.
TEST_F(EngineTest, EmptyRingAtTheEdgeIsNgWhileAFullRingFindsThePart)
{
    learnFlat(0);
    cv::Mat f = blankCheck();
    f(cv::Rect(100 + 12, 80 - 3, 6, 6)).setTo(240);  // inside the ring band of the inner ring
    for (const QPoint centre : {QPoint(3, 80), QPoint(100, 80)}) {
        const int r = store->roiCount[0]++;
        store->roiFunction[0][r] = CammerRecong::kWhiteArea;
        store->roiShape[0][r] = CammerSingleton::kShapeCircle;
        store->roiSensitivity[0][r] = 200;
        store->roiMinWH[0][r] = 20;
        Circle& ring = store->circleRoi[0][r];
        ring.centerX = centre.x();
        ring.centerY = centre.y();
        ring.radius = 40;
        ring.innerRadius = 10;
        ring.UpdateRect();
        ring.setShowA(1.0f, 1.0f);
        ring.setImageRect();
        state->roiMask[0][r] = ring.UpdateMask();
    }
    engine->Run(0);
    EXPECT_FALSE(state->roiResult[0][0]);
    EXPECT_EQ(published(0, 0).result, 0);
    EXPECT_FALSE(state->roiResult[0][1]) << "the part in the band is found";
    EXPECT_GT(state->roiValue[0][1], 0);
    EXPECT_EQ(window.records, QStringList{"info:REG RUN ERROR = 0, 0, -1"});
}

TEST_F(EngineTest, RoiBoxWhollyOutsideFailsWithEmptyBox)
{
    learnFlat(0);
    blankCheck();
    addRoi(0, CammerRecong::kWhiteArea, cv::Rect(300, 300, 10, 10), 200, 0, 1000);
    engine->Run(0);
    EXPECT_FALSE(state->camOK);
    EXPECT_FALSE(state->roiResult[0][0]);
    EXPECT_EQ(published(0, 0).result, 0);
    EXPECT_EQ(window.records, QStringList{"info:REG RUN ERROR = 0, 0, -3"});
}

// A ROI of an unknown shape kind has no box: it is not checked over another
// kind's stale box.
TEST_F(EngineTest, RoiOfUnknownShapeKindFailsWithEmptyBox)
{
    learnFlat(0);
    blankCheck();
    addRoi(0, CammerRecong::kWhiteArea, kLeftBox, 200, 0, 1000);
    store->roiShape[0][0] = 9;
    store->polygonRoi[0][0].imageRect = QRect(kLeftBox.x, kLeftBox.y, kLeftBox.width, kLeftBox.height);
    engine->Run(0);
    EXPECT_FALSE(state->roiResult[0][0]);
    EXPECT_EQ(window.records, QStringList{"info:REG RUN ERROR = 0, 0, -3"});
}

// A ROI that cannot be checked is NG, shows no stale value or boxes and is
// published, so an all-failing group never reads as a good cycle.
TEST_F(EngineTest, FailingRoisAreNgAndPublished)
{
    addRoi(1, CammerRecong::kWhiteArea, cv::Rect(10, 10, 20, 20), 200, 0, 1000);
    addRoi(1, CammerRecong::kSpot, cv::Rect(40, 10, 20, 20), 1, 2, 3);
    addRoi(1, CammerRecong::kBlackNum, cv::Rect(70, 10, 20, 20), 50, 0, 1);
    for (int r = 0; r < 3; ++r) {
        state->roiResult[1][r] = true;
        state->roiValue[1][r] = 77;
        state->ngBoxes[1][r].entry[0][0] = 5;
    }
    blankCheck();
    engine->Run(1);  // never learnt: every ROI fails with -2
    EXPECT_FALSE(state->camOK);
    for (int r = 0; r < 3; ++r) {
        EXPECT_FALSE(state->roiResult[1][r]) << r;
        EXPECT_EQ(state->roiValue[1][r], 0) << r;
        EXPECT_EQ(state->ngBoxes[1][r].count(), 0) << r;
        const param_roi p = published(1, r);
        EXPECT_EQ(p.result, 0) << r;
        EXPECT_EQ(p.value, 0) << r;
        EXPECT_EQ(p.function, store->roiFunction[1][r]) << r;
    }
    EXPECT_EQ(published(1, 1).param1, 1);
    // One record per camera, group and error code, not one per ROI.
    EXPECT_EQ(window.records, QStringList{"info:REG RUN ERROR = 0, 1, -2"});
}

TEST_F(EngineTest, OneRecordPerErrorCodeInARun)
{
    learnFlat(0);
    blankCheck();
    for (int i = 0; i < 3; ++i)
        addRoi(0, CammerRecong::kWhiteArea, cv::Rect(10 * i, 0, 5, 5), 200, 0, 1000);
    state->roiMask[0][0].release();
    state->roiMask[0][2].release();
    addRoi(0, CammerRecong::kWhiteArea, cv::Rect(500, 0, 5, 5), 200, 0, 1000);
    addRoi(0, CammerRecong::kWhiteArea, cv::Rect(0, 500, 5, 5), 200, 0, 1000);
    engine->Run(0);
    EXPECT_EQ(window.records,
              (QStringList{"info:REG RUN ERROR = 0, 0, -1", "info:REG RUN ERROR = 0, 0, -3"}));
    EXPECT_TRUE(state->roiResult[0][1]);
    engine->Run(0);
    EXPECT_EQ(window.records.size(), 4);  // the next run records again
}

TEST_F(EngineTest, OkRoiAfterAnNgRoiPublishesItsOwnResult)
{
    learnFlat(0);
    blankCheck()(cv::Rect(10, 10, 8, 8)).setTo(240);
    addRoi(0, CammerRecong::kWhiteArea, cv::Rect(0, 0, 30, 30), 200, 0, 10);   // NG: 60 > 10
    addRoi(0, CammerRecong::kWhiteArea, cv::Rect(50, 0, 30, 30), 200, 0, 10);  // OK: 0
    engine->Run(0);
    EXPECT_EQ(published(0, 0).result, 0);
    EXPECT_EQ(published(0, 1).result, 1);
    EXPECT_TRUE(state->roiResult[0][1]);
    EXPECT_FALSE(state->camOK);
}

TEST_F(EngineTest, CacheEntriesAreReplacedPerKey)
{
    learnFlat(0);
    blankCheck();
    addRoi(0, CammerRecong::kWhiteArea, cv::Rect(0, 0, 30, 30), 200, 0, 10);
    engine->Run(0);
    engine->Run(0);
    EXPECT_EQ(publishedResults.size(), 1);
}

// 2 x filter size + 1 is taken at its true size: the largest filter clears the
// mask (no spots) instead of wrapping round to a 1-pixel kernel.
TEST_F(EngineTest, HugeSpotFilterClearsTheMask)
{
    learnFlat(0);
    blankCheck()(cv::Rect(50, 50, 5, 5)).setTo(240);
    addRoi(0, CammerRecong::kWhiteNum, cv::Rect(40, 40, 30, 30), 200, 1 | (5 << 16), INT_MAX);
    engine->Run(0);
    EXPECT_EQ(state->roiValue[0][0], 0);
    EXPECT_FALSE(state->roiResult[0][0]);
    // A negative filter size gives the smallest kernel: the spot is counted.
    store->roiMinWH[0][0] = INT_MIN;
    engine->Run(0);
    EXPECT_EQ(state->roiValue[0][0], 1);
    EXPECT_TRUE(state->roiResult[0][0]);
}

// A ROI mask that is not an 8-bit single-channel image cannot be combined with
// the group mask: the ROI fails as having no mask, nothing throws.
TEST_F(EngineTest, RoiMaskOfTheWrongTypeFailsAsMissing)
{
    setTemplate(0, 0, cv::Mat(kH, kW, CV_8UC1, cv::Scalar(kBackground)));
    addRoi(0, CammerRecong::kWhiteArea, kLeftBox, 200, 0, 1000, cv::Mat(40, 60, CV_8UC3, cv::Scalar::all(255)));
    addRoi(0, CammerRecong::kDefect, kLeftBox, 50, 1000, 3, cv::Mat(40, 60, CV_16UC1, cv::Scalar(255)));
    addRoi(0, CammerRecong::kIgnoreArea, kLeftBox, 0, 0, 0, cv::Mat(40, 60, CV_32FC1, cv::Scalar(255)));
    EXPECT_NO_THROW(engine->VarTrain(0));
    EXPECT_FALSE(engine->grayModel[0][1].IsValid());
    EXPECT_EQ(cv::countNonZero(engine->groupMask[0]), kW * kH);
    blankCheck();
    EXPECT_NO_THROW(engine->Run(0));
    EXPECT_FALSE(state->camOK);
    EXPECT_FALSE(state->roiResult[0][0]);
    EXPECT_EQ(published(0, 0).result, 0);
    EXPECT_EQ(window.records, QStringList{"info:REG RUN ERROR = 0, 0, -1"});

    EXPECT_NO_THROW(engine->RunTest(0, 0));
    EXPECT_EQ(state->roiValue[0][0], 0);
}
