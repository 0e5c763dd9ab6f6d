#pragma once

// The recognition engine set up as an operator gets it for the rendered mould:
// the system's default parameters with positioning on (translation and a
// small angle range), one "Defect" ROI with the default settings over each
// pocket, one learnt template. Shared by the engine tests and the evaluation.

#include "engineunit.h"
#include "globals.h"
#include "mouldscene.h"
#include "wizardpara.h"

#include <vector>

struct MouldInspection : EngineUnit
{
    // Defaults of a new "Defect" ROI: sensitivity 45, the system area and filter size.
    static constexpr int kSensitivity = 45;
    static constexpr int kArea = 100;
    static constexpr int kFilter = 3;
    static constexpr int kAngleRange = 2;

    explicit MouldInspection(int sensitivity = kSensitivity)
    {
        para.filterSize = kFilter;
        para.area = kArea;
        para.minSpot = 3;
        para.matchAccuracy = 5;
        para.zoomLayers = 5;
        para.offset = 8000;
        para.motionCorrect = 0;  // positioning on
        para.angle = kAngleRange;
        para.detectEnable[0] = 1;
        gpWPara = &para;
        gTempNum = 1;
        allocate(mouldscene::kWidth, mouldscene::kHeight, false, 1);
        for (const cv::Rect& box : mouldscene::roiBoxes())
            addRoi(0, CammerRecong::kDefect, box, sensitivity, kArea, kFilter);
        mouldscene::templateFrame().copyTo(frame(state->pTemplate[0][0]));
        state->pTemplateValid[0][0] = 1;
        state->templateCount[0] = 1;
        learn();
    }

    void learn()
    {
        gpWPara = &para;
        engine->CreateHomoShape(0);
        engine->CreateShape(0);
        engine->VarTrain(0);
    }

    // One cycle on a grey frame; true = OK. `ngRois` gets the ROIs found NG.
    bool check(const cv::Mat& grey, std::vector<int>* ngRois = nullptr)
    {
        gpWPara = &para;
        grey.copyTo(frame(state->pCaptureBuf));
        engine->HomoTransShape(0);
        engine->ShapeMatch(0);
        engine->Run(0);
        if (ngRois) {
            ngRois->clear();
            for (int r = 0; r < store->roiCount[0]; ++r)
                if (!state->roiResult[0][r])
                    ngRois->push_back(r);
        }
        return state->camOK;
    }

    WizardPara para;
};
