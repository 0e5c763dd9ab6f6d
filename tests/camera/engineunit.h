#pragma once

// One camera unit for synthetic frames: its state, ROI store and recognition
// engine, with ROIs filled in by hand. Shared by the engine tests and bench.

#include "cameraunitstate.h"
#include "cammerrecongnize.h"
#include "cammersingleton.h"

#include <QRect>
#include <opencv2/core.hpp>

#include <memory>

struct EngineUnit
{
    void allocate(int w, int h, bool colour, int slotCount)
    {
        state = std::make_unique<CameraUnitState>();
        state->allocateBuffers(w, h, colour, slotCount);
        store = std::make_unique<CammerSingleton>(0, state.get());
        state->pSingleton = state->pSingletonEdit = store.get();
        engine = std::make_unique<CammerRecong>(store.get(), state.get());
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

    // A grey view of one of the unit's frame buffers.
    cv::Mat frame(unsigned char* buf) const { return cv::Mat(state->imageH, state->imageW, CV_8UC1, buf); }

    std::unique_ptr<CameraUnitState> state;
    std::unique_ptr<CammerSingleton> store;
    std::unique_ptr<CammerRecong> engine;
};
