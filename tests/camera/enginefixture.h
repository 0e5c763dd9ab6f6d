#pragma once

// A camera unit state with synthetic frames, a ROI store filled by hand, a
// parameter record and a main-window stand-in that records what it is told.

#include "engineunit.h"
#include "globals.h"
#include "cameraunithooks.h"
#include "mainwindowbase.h"
#include "param_roi.h"
#include "synthframes.h"
#include "wizardpara.h"

#include <QMap>
#include <QStringList>
#include <gtest/gtest.h>

#include <cstring>

// A ROI box well inside the small test frame.
const cv::Rect kLeftBox(20, 20, 60, 40);

class RecordingWindow : public MainWindowBase
{
public:
    void InsertRecord(QString text, QString type) override { records << type + ":" + text; }
    QStringList records;
};

class EngineTest : public ::testing::Test, protected EngineUnit
{
protected:
    static constexpr int kW = 200;
    static constexpr int kH = 160;
    static constexpr int kBackground = 128;

    void SetUp() override { setUpCamera(kW, kH, false); }

    void setUpCamera(int w, int h, bool colour, int slotCount = 6)
    {
        gpWPara = &para;
        gpWin = &window;
        gTempNum = slotCount;
        gisGrayHue = 1;
        para.motionCorrect = -1;
        para.angleCorrection = 0;
        para.filterSize = 3;
        para.area = 50;
        para.minSpot = 3;
        para.minColorArea = 1000;
        para.maxColorArea = 100000;
        para.offset = 8000;
        para.zoomLayers = 5;
        para.matchAccuracy = 5;
        para.detectEnable[1] = 0;
        allocate(w, h, colour, slotCount);
        // The engine publishes each ROI result; a later result of the same ROI replaces it.
        CameraUnitHooks::instance().publishRoiResult = [this](const param_roi& result) {
            publishedResults.insert(resultKey(result.camera, result.group, result.roi), result);
        };
    }

    void TearDown() override
    {
        CameraUnitHooks::instance().publishRoiResult = nullptr;
        gpWin = nullptr;
        gpWPara = nullptr;
    }

    cv::Mat checkFrame() const { return frame(state->pCheckBuf); }
    cv::Mat capture() const { return frame(state->pCaptureBuf); }
    cv::Mat templ(int g, int slot) const { return frame(state->pTemplate[g][slot]); }

    // Stores a template in a slot and marks it present.
    void setTemplate(int g, int slot, const cv::Mat& image)
    {
        image.copyTo(templ(g, slot));
        if (!state->pTemplateValid[g][slot])
            ++state->templateCount[g];
        state->pTemplateValid[g][slot] = 1;
    }

    // Fills the checked frame with the background grey.
    cv::Mat blankCheck()
    {
        cv::Mat f = checkFrame();
        f.setTo(kBackground);
        return f;
    }

    // Learns group g from a flat background template.
    void learnFlat(int g)
    {
        cv::Mat t(kH, kW, CV_8UC1, cv::Scalar(kBackground));
        if (state->imageW == kW && state->imageH == kH)
            setTemplate(g, 0, t);
        engine->VarTrain(g);
    }

    static QString resultKey(int camera, int g, int r) { return QStringLiteral("%1;%2;%3").arg(camera).arg(g).arg(r); }
    param_roi published(int g, int r) const { return publishedResults.value(resultKey(0, g, r), param_roi{-9}); }
    bool isPublished(int g, int r) const { return publishedResults.contains(resultKey(0, g, r)); }

    QMap<QString, param_roi> publishedResults;

    WizardPara para;
    RecordingWindow window;
};
