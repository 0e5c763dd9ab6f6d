#pragma once

// The cameras of the engine benchmarks: 1280 x 1024 grey units with their
// engine, 20 ROIs of mixed functions, learnt on a textured synthetic scene.

#include "roispec.h"

#include "cameraunithooks.h"
#include "engineunit.h"
#include "globals.h"
#include "synthframes.h"
#include "vek_netmn.h"
#include "wizardpara.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <memory>
#include <vector>

namespace benchcam {

constexpr int kW = 1280;
constexpr int kH = 1024;
constexpr int kRois = 20;
using checkparams::kFilterSize;
using checkparams::kMaxDefectArea;
using checkparams::kMinSpot;

// 20 ROIs of mixed functions over the frame.
inline std::vector<RoiSpec> mixedRois()
{
    const int codes[] = {0, 1, 4, 5, 7, 8, 6, 0, 1, 4, 5, 7, 8, 0, 1, 4, 5, 6, 0, 42};
    std::vector<RoiSpec> rois;
    for (int i = 0; i < kRois; ++i) {
        const cv::Rect box(40 + (i % 5) * 240, 40 + (i / 5) * 240, 160, 140);
        RoiSpec s{codes[i], box, 50, 100, 3};
        if (codes[i] == 1)
            s.minWH = 60 << 8;
        if (codes[i] == 7 || codes[i] == 8)
            s = {codes[i], box, 128, 0 | (100 << 16), 1};
        if (codes[i] == 6)
            s.sens = 60;
        rois.push_back(s);
    }
    return rois;
}

// The engine's default positioning box when no ROI gives one: the frame's centre half.
inline cv::Rect positionBox(int w, int h)
{
    return {w / 4, h / 4, w / 2, h / 2};
}

// The parameters every camera reads (one set, as in the program).
inline WizardPara& sharedPara(bool align, int angle)
{
    static WizardPara para;
    para.motionCorrect = 0;
    para.angle = angle;
    para.angleCorrection = align ? 1 : 0;
    para.offset = 8000;
    para.zoomLayers = 5;
    para.matchAccuracy = 5;
    para.filterSize = kFilterSize;
    para.area = kMaxDefectArea;
    para.minSpot = kMinSpot;
    para.detectEnable[1] = 0;
    gpWPara = &para;
    return para;
}

// A camera unit with its engine, learnt on one template per group.
struct Camera : EngineUnit
{
    Camera(int w, int h, int templates, bool align, int angle) : align(align), angle(angle)
    {
        cv::setNumThreads(1);
        sharedPara(align, angle);
        gpWin = nullptr;
        gTempNum = templates;
        // As in the program: every ROI result goes to the network hub's cache.
        CameraUnitHooks::instance().publishRoiResult = [](const param_roi& result) {
            VEK_NETMN::getInstance()->insertRoiResult(result);
        };
        allocate(w, h, false, templates);
        scene = synth::textured(w, h, 5);
    }

    void addRois(int g)
    {
        for (const RoiSpec& s : mixedRois())
            addRoi(g, s.code, s.box, s.sens, s.area, s.minWH);
    }

    void setTemplates(int g, int count)
    {
        for (int t = 0; t < count; ++t) {
            cv::Mat slot(state->imageH, state->imageW, CV_8UC1, state->pTemplate[g][t]);
            cv::add(scene, cv::Scalar(t % 3), slot);
            state->pTemplateValid[g][t] = 1;
        }
        state->templateCount[g] = count;
    }

    void learn(int g)
    {
        engine->CreateHomoShape(g);
        engine->CreateShape(g);
        engine->VarTrain(g);
    }

    void use() const { sharedPara(align, angle); }

    bool align;
    int angle;
    cv::Mat scene;
};

// The check camera: positioning on (shift only, or with an angle range as
// plants run it), the live frame moved by a few pixels, with a few defects.
inline std::unique_ptr<Camera> makeCheckCamera(int angle)
{
    auto c = std::make_unique<Camera>(kW, kH, 1, false, angle);
    c->addRois(0);
    c->setTemplates(0, 1);
    c->learn(0);
    cv::Mat live = synth::shifted(c->scene, 6, -3);
    cv::circle(live, {300, 300}, 12, 250, cv::FILLED);
    cv::circle(live, {800, 560}, 9, 5, cv::FILLED);
    live.copyTo(c->frame(c->state->pCaptureBuf));
    return c;
}

// One camera's check as the detection cycle runs it; true when OK.
inline bool engineCheck(Camera& c)
{
    c.engine->HomoTransShape(0);
    c.engine->ShapeMatch(0);
    c.engine->Run(0);
    return c.state->camOK;
}

} // namespace benchcam
