#pragma once

#include <opencv2/core/types.hpp>

// One ROI of the benchmark cameras: function code, box and its three parameters.
struct RoiSpec
{
    int code;
    cv::Rect box;
    int sens, area, minWH;
};

// The engine parameters the benchmark cameras run with (the plain reference decides with the same).
namespace checkparams {
constexpr int kFilterSize = 3;
constexpr int kMinSpot = 3;
constexpr int kMaxDefectArea = 100;
} // namespace checkparams
