#pragma once

#include <memory>

namespace cv { class Mat; }

// Grey template compare of one ROI (detection function "Defect").
//
// Learning keeps, per pixel, the darkest and the brightest grey value that the
// templates show within one pixel of it, so a one-pixel misplacement is not a
// defect. A checked pixel is a defect when it lies outside that range by more
// than the tolerance 5 + 0.6 x (100 - sensitivity) grey levels, divided by
// (1 + amplify). With edge ignore on, pixels on the templates' edges (Canny
// with the two edge thresholds given to Train, widened by two pixels) are not
// checked.
//
// Order of use: Create, AddTemp per template, Train; IsValid before Match.
// The model copies every image it is given, accepts views, never throws (a
// failure leaves the model invalid) and, while empty, is one pointer.
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

    // Grey levels a pixel may lie outside the learnt range (after Train).
    int tolerance() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
