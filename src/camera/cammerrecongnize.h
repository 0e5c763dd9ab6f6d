#pragma once

#include "findshape.h"
#include "graymatch.h"
#include "imghomotrans.h"
#include "surf.h"

#include <opencv2/core/mat.hpp>

class CammerSingleton;
class CameraUnitState;
struct param_roi;

// The recognition engine of one camera unit: learns the templates of each
// detection group into check masks and models, aligns and positions a frame,
// checks every ROI of a group with its detection function and previews one
// ROI for the parameter sliders. Works on the unit's plain state; reaches the
// main window only through gpWin (records) and the network hub's ROI cache.
// GUI thread only.
class CammerRecong
{
public:
    static constexpr int kGroups = 8;
    static constexpr int kRois = 100;

    // Detection function codes of a ROI.
    enum Function {
        kDefect = 0,
        kSpot = 1,
        kIgnoreArea = 2,
        kPosition = 3,
        kBlackArea = 4,
        kWhiteArea = 5,
        kSimilarity = 6,
        kWhiteNum = 7,
        kBlackNum = 8,
        kColorSpots = 9,
        kAngleCorrection = 10,
    };

    // Error codes of a ROI that cannot be checked.
    enum RunError { kNoRoiMask = -1, kNotLearnt = -2, kEmptyBox = -3 };

    // Learns every enabled group (alignment, positioning, check masks and models).
    CammerRecong(CammerSingleton* active, CameraUnitState* owner);

    // Alignment of the newest frame: pCaptureBuf to pAlignBuf. Always returns 1.
    int HomoTransShape(int group);
    // Positioning with the group's model: pAlignBuf to pCheckBuf.
    void ShapeMatch(int group);
    // Checks every ROI of the group on pCheckBuf; results in the unit and the hub's cache.
    void Run(int group);
    // Preview of one ROI of the edit store on the shown template (parameter sliders).
    void RunTest(int group, int roi);

    void VarTrain(int group);
    void CreateShape(int group);
    void CreateHomoShape(int group);

    // dst = 255 where low <= pixel <= high, else 0 (empty when low > high).
    static void ThresholdFUNC(cv::Mat src, cv::Mat& dst, int low, int high);

    CammerSingleton* pParam;
    CameraUnitState* pCamWidget;
    cv::Mat groupMask[kGroups];
    GrayMatch grayModel[kGroups][kRois];
    SURF surfModel[kGroups][kRois];
    ImgHomoTrans homoTrans[kGroups];
    double templateNorm[kGroups] = {};  // 0 = no reference: brightness is not matched
    FindShape shapeModel[kGroups];
    int shapeCentreX[kGroups] = {};
    int shapeCentreY[kGroups] = {};
    cv::Rect shapeRect[kGroups];

private:
    struct RoiWindow;

    cv::Mat frameGray(unsigned char* frame);
    RoiWindow roiWindow(const CammerSingleton& store, const cv::Mat& mask, int group, int roi) const;
    void failRoi(int group, int roi, int error, unsigned& reported);
    void publish(const param_roi& result);

    cv::Mat m_bright;  // brightness-matched frame, reused between checks
};
