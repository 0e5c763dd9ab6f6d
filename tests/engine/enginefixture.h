#pragma once

// A camera unit state with synthetic frames, a ROI store filled by hand, a
// parameter record and a main-window stand-in that records what it is told.

#include "cameraunitstate.h"
#include "cammerrecongnize.h"
#include "cammersingleton.h"
#include "globals.h"
#include "mainwindowbase.h"
#include "synthframes.h"
#include "vek_netmn.h"
#include "wizardpara.h"

#include <QStringList>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

// A ROI box well inside the small test frame.
const cv::Rect kLeftBox(20, 20, 60, 40);

class RecordingWindow : public MainWindowBase
{
public:
    void InsertRecord(QString text, QString type) override { records << type + ":" + text; }
    QStringList records;
};

class EngineTest : public ::testing::Test
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
        state = std::make_unique<CameraUnitState>();
        state->allocateBuffers(w, h, colour, slotCount);
        store = std::make_unique<CammerSingleton>(0, state.get());
        state->pSingleton = store.get();
        state->pSingletonEdit = store.get();
        engine = std::make_unique<CammerRecong>(store.get(), state.get());
        VEK_NETMN::getInstance()->roiResultCache.clear();
    }

    void TearDown() override
    {
        gpWin = nullptr;
        gpWPara = nullptr;
    }

    // A rectangle ROI in image coordinates whose mask is the whole box (or `mask`).
    void addRoi(int g, int code, cv::Rect box, int sens, int area, int minWH, cv::Mat mask = cv::Mat())
    {
        const int r = store->roiCount[g]++;
        store->roiFunction[g][r] = code;
        store->roiShape[g][r] = CammerSingleton::kShapeRect;
        store->rectRoi[g][r].imageRect = QRect(box.x, box.y, box.width, box.height);
        store->roiSensitivity[g][r] = sens;
        store->roiArea[g][r] = area;
        store->roiMinWH[g][r] = minWH;
        state->roiMask[g][r] = mask.empty() ? cv::Mat(box.size(), CV_8UC1, cv::Scalar(255)) : mask;
        state->roiMaskEdit[g][r] = state->roiMask[g][r];
    }

    cv::Mat frame(unsigned char* buf) const { return cv::Mat(state->imageH, state->imageW, CV_8UC1, buf); }
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

    param_roi published(int g, int r) const
    {
        return VEK_NETMN::getInstance()->roiResultCache.value(VEK_NETMN::roiKey(0, g, r), param_roi{-9});
    }
    bool isPublished(int g, int r) const
    {
        return VEK_NETMN::getInstance()->roiResultCache.contains(VEK_NETMN::roiKey(0, g, r));
    }

    WizardPara para;
    RecordingWindow window;
    std::unique_ptr<CameraUnitState> state;
    std::unique_ptr<CammerSingleton> store;
    std::unique_ptr<CammerRecong> engine;
};
