#include "enginefixture.h"

TEST_F(EngineTest, LearnsOnlyValidTemplatesUpToTheCount)
{
    // Slots 0, 2 and 5 hold the background with a square of 100, 100 and 160;
    // slot 1 (all 250) is not valid.
    const cv::Rect square(40, 30, 20, 20);
    const int squares[] = {100, 0, 100, 0, 0, 160};
    for (int t : {0, 2, 5}) {
        cv::Mat img(kH, kW, CV_8UC1, cv::Scalar(kBackground));
        img(square).setTo(squares[t]);
        setTemplate(0, t, img);
    }
    cv::Mat(kH, kW, CV_8UC1, cv::Scalar(250)).copyTo(templ(0, 1));
    addRoi(0, CammerRecong::kDefect, kLeftBox, 45, 1000, 1);
    para.showAllParams = 1;

    const auto valueAfterCheck = [&](int squareGrey, int grey = kBackground) {
        checkFrame().setTo(grey);
        checkFrame()(square).setTo(squareGrey);
        engine->Run(0);
        return state->roiValue[0][0];
    };
    engine->VarTrain(0);
    EXPECT_EQ(valueAfterCheck(150), 0);            // the square varies between 100 and 160
    EXPECT_GT(valueAfterCheck(250, 250), 2000);    // slot 1 not learnt
    EXPECT_NEAR(engine->templateNorm[0], cv::norm(templ(0, 5)), 1e-6);  // the last one used

    state->templateCount[0] = 2;  // slots 0 and 2 only: the square is always 100
    engine->VarTrain(0);
    EXPECT_GE(valueAfterCheck(150), square.area());
    EXPECT_NEAR(engine->templateNorm[0], cv::norm(templ(0, 2)), 1e-6);
}

TEST_F(EngineTest, ConstructorLearnsEnabledGroupsOnly)
{
    addRoi(0, CammerRecong::kDefect, kLeftBox, 25, 1000, 3);
    addRoi(1, CammerRecong::kDefect, kLeftBox, 25, 1000, 3);
    setTemplate(0, 0, cv::Mat(kH, kW, CV_8UC1, cv::Scalar(kBackground)));
    setTemplate(1, 0, cv::Mat(kH, kW, CV_8UC1, cv::Scalar(kBackground)));
    para.detectEnable[0] = 1;
    para.detectEnable[1] = 0;
    CammerRecong fresh(store.get(), state.get());
    EXPECT_FALSE(fresh.groupMask[0].empty());
    EXPECT_TRUE(fresh.grayModel[0][0].IsValid());
    EXPECT_TRUE(fresh.groupMask[1].empty());
    EXPECT_FALSE(fresh.grayModel[1][0].IsValid());
    EXPECT_EQ(fresh.templateNorm[1], 0.0);
    EXPECT_EQ(fresh.shapeRect[0], cv::Rect());
}

TEST_F(EngineTest, RelearningClearsModelsOfRemovedRois)
{
    setTemplate(0, 0, cv::Mat(kH, kW, CV_8UC1, cv::Scalar(kBackground)));
    addRoi(0, CammerRecong::kSimilarity, kLeftBox, 50, 0, 0);
    engine->VarTrain(0);
    EXPECT_TRUE(engine->surfModel[0][0].IsValid());
    store->roiFunction[0][0] = CammerRecong::kWhiteArea;
    engine->VarTrain(0);
    EXPECT_FALSE(engine->surfModel[0][0].IsValid());
}

TEST_F(EngineTest, PositioningModelFromTheFirstPositionRoiAndTheOffset)
{
    setTemplate(0, 0, synth::scene(kW, kH, 3));
    para.motionCorrect = 0;
    addRoi(0, CammerRecong::kPosition, cv::Rect(40, 30, 100, 80), 0, 0, 0);
    addRoi(0, CammerRecong::kPosition, cv::Rect(10, 10, 50, 50), 0, 0, 0);
    para.offset = 20;
    engine->CreateShape(0);
    EXPECT_TRUE(engine->shapeModel[0].IsValid());
    EXPECT_EQ(engine->shapeCentreX[0], 90);
    EXPECT_EQ(engine->shapeCentreY[0], 70);
    EXPECT_EQ(engine->shapeRect[0], cv::Rect(20, 10, 140, 120));

    para.offset = 8000;  // the whole frame
    engine->CreateShape(0);
    EXPECT_EQ(engine->shapeRect[0], cv::Rect(0, 0, kW, kH));

    // Without a position ROI: the middle half of the frame.
    store->roiCount[0] = 0;
    engine->CreateShape(0);
    EXPECT_EQ(engine->shapeCentreX[0], kW / 4 + kW / 4);
    EXPECT_EQ(engine->shapeCentreY[0], kH / 4 + kH / 4);
}

TEST_F(EngineTest, ColourCameraLearnsNoPositioningOrAlignment)
{
    setUpCamera(kW, kH, true);
    para.motionCorrect = 0;
    para.angleCorrection = 1;
    engine->CreateShape(0);
    engine->CreateHomoShape(0);
    EXPECT_FALSE(engine->shapeModel[0].IsValid());
    EXPECT_TRUE(engine->homoTrans[0].features[1].keypoints.empty());
    // Its check masks and models come from grey conversions of the templates.
    cv::Mat colour(kH, kW, CV_8UC4, state->pTemplate[0][0]);
    colour.setTo(cv::Scalar(128, 128, 128, 0));
    state->pTemplateValid[0][0] = 1;
    state->templateCount[0] = 1;
    addRoi(0, CammerRecong::kDefect, kLeftBox, 25, 1000, 3);
    engine->VarTrain(0);
    EXPECT_TRUE(engine->grayModel[0][0].IsValid());
    EXPECT_GT(engine->templateNorm[0], 0.0);
}

// The positioning ROI is chosen by its box; without a mask its whole box is the shape.
TEST_F(EngineTest, PositionRoiWithoutMaskKeepsItsBox)
{
    setTemplate(0, 0, synth::scene(kW, kH, 3));
    para.motionCorrect = 0;
    addRoi(0, CammerRecong::kPosition, cv::Rect(40, 30, 100, 80), 0, 0, 0);
    state->roiMask[0][0].release();
    engine->CreateShape(0);
    EXPECT_TRUE(engine->shapeModel[0].IsValid());
    EXPECT_EQ(engine->shapeCentreX[0], 90);
    EXPECT_EQ(engine->shapeCentreY[0], 70);
}

// The default alignment mask is used when there is no angle-correction ROI or
// the last one has an empty box, not when its box is fine but its mask is missing.
TEST_F(EngineTest, AlignmentMaskFromTheAngleCorrectionRois)
{
    constexpr int w = 400, h = 300;
    setUpCamera(w, h, false, 1);
    para.angleCorrection = 1;
    setTemplate(0, 0, synth::textured(w, h, 9));
    const auto keypoints = [&] {
        engine->CreateHomoShape(0);
        return engine->homoTrans[0].features[1].keypoints.size();
    };
    EXPECT_GT(keypoints(), 0u);  // no ROI: the default mask

    addRoi(0, CammerRecong::kAngleCorrection, cv::Rect(100, 80, 200, 150), 0, 0, 0);
    state->roiMask[0][0].release();
    EXPECT_EQ(keypoints(), 0u);  // its box is used, with nothing of it set

    store->rectRoi[0][0].imageRect = QRect(900, 900, 50, 50);  // wholly outside: empty box
    EXPECT_GT(keypoints(), 0u);
}
