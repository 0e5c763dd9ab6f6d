// What the settings screen does to the engine once it is accepted: every enabled
// detection of every camera learns again with the accepted parameters.
#include "settingsfixture.h"

#include "cammerrecongnize.h"
#include "editbox.h"
#include "globals.h"
#include "modalanswerer.h"
#include "wizardparawidget.h"

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
