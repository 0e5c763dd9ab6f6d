#pragma once

#include <memory>

namespace cv { class Mat; }

// Grey template compare of one ROI (detection function "Defect").
//
// Learning keeps, per pixel, the templates' mean grey and its normal
// variation: the spread between the templates plus what local structure
// brings (a pixel on an edge varies more under a sub-pixel shift, one on a
// curved edge under a change of focus). Matching first fits the live ROI to
// the mean on its unchanged pixels (brightness and gamma as a grey polynomial,
// a lighting gradient, a focus change and a residual shift of up to 3 pixels;
// see RoiFit), measures the frame's noise from the fit, and marks a checked
// pixel as a defect when its residual exceeds the threshold times its spread,
// or when the residual over its 3 x 3 neighbourhood does (a texture unlike the
// template's). The threshold is 3 + 0.08 x (100 - sensitivity) spreads,
// divided by (1 + amplify). A defect is grown over its connected pixels above
// 0.45 of the threshold, and where it is sure (it survives a 3 x 3 opening) it
// is marked with a margin of 4 pixels: its outline is known no better. With
// edge ignore on, pixels on the templates' edges (Canny with the two edge
// thresholds given to Train, widened by two pixels) are not checked.
//
// Order of use: Create, AddTemp per template (at most 257), Train; IsValid
// before Match. The model keeps no view of caller memory, accepts views,
// never throws (a failure leaves the model invalid) and, while empty, is one
// pointer.
class GrayMatch
{
public:
    GrayMatch();
    ~GrayMatch();
    GrayMatch(GrayMatch&&) noexcept;
    GrayMatch& operator=(GrayMatch&&) noexcept;
    GrayMatch(const GrayMatch&) = delete;
    GrayMatch& operator=(const GrayMatch&) = delete;

    // Valid once trained with at least one template.
    bool IsValid() const;
    void Clear();

    // New model for a ROI box of width x height; mask: 255 = checked.
    bool Create(int width, int height, const cv::Mat& mask, int edgeIgnore);
    // One template cut to the ROI box.
    bool AddTemp(const cv::Mat& image);
    bool Train(int sensitivity, int amplify, int edgeLow, int edgeHigh);
    // defects (ROI size) gets 255 where image differs from the templates.
    bool Match(const cv::Mat& image, cv::Mat& defects);

    // Spreads of normal variation a pixel may differ by (after Train).
    double threshold() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
