#pragma once

#include <opencv2/core/mat.hpp>

// What a ROI parameter store needs of the camera unit that owns it: the
// full-screen display scale and the two mask tables. The camera unit derives
// from it, so the store needs no camera headers.
class RoiMaskOwner
{
public:
    static constexpr int kGroups = 8;
    static constexpr int kRois = 100;

    virtual ~RoiMaskOwner() = default;

    float screenSW = 1.0f;  // gShowW / image width
    float screenSH = 1.0f;  // gShowH / image height
    cv::Mat roiMask[kGroups][kRois];      // masks of the active store
    cv::Mat roiMaskEdit[kGroups][kRois];  // masks of the edit store
};
