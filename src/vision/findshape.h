#pragma once

#include <memory>

namespace cv { class Mat; }

// Positioning model: finds a learnt shape in a search image by its edges,
// over translation and the learnt angle range.
//
// Learning keeps the thinned edge points of the template (inside the mask)
// with their gradient directions on an image pyramid. Find scores each pose
// as the mean agreement of the model's edge directions with the image's
// (1 = every edge point lies on an edge of the same direction): an exhaustive
// search on the coarsest level, then refinement of the best candidates level
// by level down to full resolution, to 1 pixel and well under 1 degree.
//
// Results of Find, in the caller's terms: (x - box.x, y - box.y) is the shift
// that puts the found shape back on its learnt place, where box is the search
// box that the search image was cut from; angle (degrees, OpenCV's sense:
// positive counter-clockwise) is the rotation about the learnt centre that
// undoes the shape's turn; score is the agreement in percent.
//
// Copies its inputs, accepts views, never throws; one pointer while empty.
class FindShape
{
public:
    FindShape();
    ~FindShape();
    FindShape(FindShape&&) noexcept;
    FindShape& operator=(FindShape&&) noexcept;
    FindShape(const FindShape&) = delete;
    FindShape& operator=(const FindShape&) = delete;

    bool IsValid() const;
    void Clear();

    // image: the positioning ROI of the template; angleRange: degrees searched
    // each way (0 = translation only); centre: the ROI's centre in frame
    // coordinates; contrast: minimum grey step of an edge, 255 = automatic;
    // mask: 255 = part of the shape; accuracy 0..10 raises the score a find
    // needs; layers: most pyramid levels to use (0 = as many as the template allows).
    bool CreateShape(const cv::Mat& image, double, int, int angleRange, int centreX, int centreY,
                     bool, int contrast, cv::Mat mask, int accuracy, int layers);
    bool Find(cv::Mat& image, int, int* x, int* y, double* angle, double* score);

    // Score (0..1) that a find needs at full resolution.
    double minScore() const;
    // Pyramid levels of the model (0 while empty).
    int levelCount() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
