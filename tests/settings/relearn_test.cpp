// What the settings screen does to the engine once it is accepted: every enabled
// detection of every camera learns again with the accepted parameters.
#include "settingsfixture.h"

#include "cammerrecongnize.h"
#include "cammersingleton.h"
#include "editbox.h"
#include "globals.h"
#include "modalanswerer.h"
#include "mouldscene.h"
#include "synthframes.h"
#include "wizardparawidget.h"

#include <QCheckBox>
#include <opencv2/core.hpp>

TEST_F(SettingsTest, AcceptedParametersAreLearntAgainBeforeTheNextCycle)
{
    ASSERT_NE(makeUnit(unitCamera("SERIAL-LEARN1")), nullptr);
    live->motionCorrect = 0;  // positioning on
    live->offset = 40;
    // A template with structure in group 0, learnt with the offset of 40.
    cv::Mat templ(unit->imageH, unit->imageW, CV_8UC1, unit->templateFrame(0, 0));
    for (int y = 0; y < templ.rows; ++y)
        for (int x = 0; x < templ.cols; ++x)
            templ.at<uchar>(y, x) = uchar(((x / 16 + y / 16) % 2) ? 200 : 40);
    unit->pTemplateValid[0][0] = 1;
    unit->templateCount[0] = 1;
    unit->pRecong->CreateShape(0);
    const cv::Rect box(unit->imageW / 4, unit->imageH / 4, unit->imageW / 2, unit->imageH / 2);
    const auto searchBox = [&](int offset) {
        return cv::Rect(box.x - offset, box.y - offset, box.width + 2 * offset, box.height + 2 * offset)
               & cv::Rect(0, 0, unit->imageW, unit->imageH);
    };
    ASSERT_EQ(unit->pRecong->shapeRect[0], searchBox(40));

    openSettings();
    const int offsetField = fieldIndex([](const ParamField& f) { return f.scalar == &WizardPara::offset; });
    ASSERT_GE(offsetField, 0);
    touch(editFor(offsetField)->addFiveButton());
    touch(editFor(offsetField)->addOneButton());
    answer({1});
    touch(settings->button("confirm"));
    ASSERT_FALSE(settings->isVisible());
    EXPECT_EQ(live->offset, 46);
    EXPECT_EQ(unit->pRecong->shapeRect[0], searchBox(46)) << "the positioning model was not learnt again";
}

TEST_F(SettingsTest, AcceptedRecognitionSettingsDecideTheNextCheck)
{
    ASSERT_NE(makeUnit(unitCamera("SERIAL-LEARN2")), nullptr);
    live->motionCorrect = -1;  // no positioning: the check sees the captured frame
    live->angleCorrection = 0;
    live->amplify = 0;
    live->filterSize = 3;
    live->area = 100;
    // Textured steel around a pocket with a brushed floor, as the camera sees it: its blur and noise.
    const cv::Rect pocket(300, 150, 240, 200);
    cv::Mat mould;
    synth::textured(unit->imageW, unit->imageH, 11).convertTo(mould, CV_32F);
    cv::RNG noise(5);
    cv::Mat(96 + mouldscene::detail::streaks(noise, pocket.size(), 0.6, 10, 4.0)).copyTo(mould(pocket));
    const auto camera = [&](const cv::Mat& scene) {
        cv::Mat seen, n(scene.size(), CV_32F), out;
        cv::GaussianBlur(scene, seen, cv::Size(0, 0), 0.8);
        noise.fill(n, cv::RNG::NORMAL, 0, 1.5);
        cv::Mat(seen + n).convertTo(out, CV_8U);
        return out;
    };
    camera(mould).copyTo(cv::Mat(unit->imageH, unit->imageW, CV_8UC1, unit->templateFrame(0, 0)));
    unit->pTemplateValid[0][0] = 1;
    unit->templateCount[0] = 1;
    // One "Defect" ROI over the pocket (display pixels are twice the image's).
    CammerSingleton& active = *unit->pSingleton;
    active.rectRoi[0][0].rect = QRect(2 * pocket.x, 2 * pocket.y, 2 * pocket.width, 2 * pocket.height);
    active.rectRoi[0][0].setShowA(unit->screenSW, unit->screenSH);
    active.rectRoi[0][0].setImageRect();
    active.roiShape[0][0] = CammerSingleton::kShapeRect;
    active.roiFunction[0][0] = CammerRecong::kDefect;
    active.roiSensitivity[0][0] = 45;
    active.roiCount[0] = 1;
    unit->roiMask[0][0] = unit->roiMaskEdit[0][0] = active.rectRoi[0][0].UpdateMask();
    unit->pRecong->VarTrain(0);

    // A good cycle, and one with a faint part in the pocket: 5 grey levels over 20 pixels across.
    cv::Mat part = cv::Mat::zeros(mould.size(), CV_32F);
    cv::circle(part, {pocket.x + pocket.width / 2, pocket.y + pocket.height / 2}, 10, 5, cv::FILLED);
    const cv::Mat withPart = mould + part;
    const cv::Mat good = camera(mould), faint = camera(withPart);
    const auto check = [&](const cv::Mat& frame) {
        frame.copyTo(cv::Mat(unit->imageH, unit->imageW, CV_8UC1, unit->pCaptureBuf));
        unit->pRecong->HomoTransShape(0);
        unit->pRecong->ShapeMatch(0);
        unit->pRecong->Run(0);
        return unit->camOK;
    };
    EXPECT_TRUE(check(good)) << "area " << unit->roiValue[0][0];
    EXPECT_TRUE(check(faint)) << "area " << unit->roiValue[0][0];
    ASSERT_TRUE(unit->pRecong->homoTrans[0].features[ImgHomoTrans::kTemplateIndex].keypoints.empty());

    // The operator raises the amplification by one and switches angle correction on.
    openSettings();
    const int amplifyField = fieldIndex([](const ParamField& f) { return f.scalar == &WizardPara::amplify; });
    const int angleField = fieldIndex([](const ParamField& f) { return f.scalar == &WizardPara::angleCorrection; });
    ASSERT_GE(amplifyField, 0);
    ASSERT_GE(angleField, 0);
    touch(editFor(amplifyField)->addOneButton());
    auto* angleCorrection = qobject_cast<QCheckBox*>(settings->fieldControl(angleField));
    ASSERT_NE(angleCorrection, nullptr);
    angleCorrection->click();
    answer({1});
    touch(settings->button("confirm"));
    ASSERT_FALSE(settings->isVisible());
    ASSERT_EQ(live->amplify, 1);
    ASSERT_EQ(live->angleCorrection, 1);

    // The defect model learnt with the new amplification finds the part; the good cycle stays OK.
    EXPECT_FALSE(check(faint)) << "the defect model was not learnt again";
    EXPECT_GT(unit->roiValue[0][0], 100);
    EXPECT_TRUE(check(good)) << "area " << unit->roiValue[0][0];
    EXPECT_GE(unit->pRecong->homoTrans[0].features[ImgHomoTrans::kTemplateIndex].keypoints.size(), 300u)
        << "the alignment template was not learnt";
}
