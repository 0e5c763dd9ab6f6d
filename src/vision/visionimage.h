#pragma once

// Internal helpers of the vision library (not part of its interface).

#include <opencv2/core.hpp>

#include <memory>

namespace vision {

// A continuous 8-bit single-channel copy of any 8-bit grey, BGR or BGRA image;
// empty for anything else. Models never keep a view into caller memory.
cv::Mat grayCopy(const cv::Mat& image);

// A continuous 8-bit mask of the given size: a copy of `mask` when it has that
// size (any non-zero = set), else all set.
cv::Mat maskCopy(const cv::Mat& mask, int width, int height);

// Writes `result` into `out`: in place when `out` already is an 8-bit image of
// the same size (a caller's view stays a view), else `out` becomes the result.
void writeMask(const cv::Mat& result, cv::Mat& out);

// What every ROI model keeps: its box size, its mask and whether it was trained.
struct RoiModel
{
    int width = 0;
    int height = 0;
    cv::Mat mask;  // 255 = checked
    bool trained = false;
};

// Replaces `model` by a fresh one for a ROI box of width x height; false (and
// no model) for an empty box or when memory runs out.
template <class Impl>
bool createRoiModel(std::unique_ptr<Impl>& model, int width, int height, const cv::Mat& mask)
{
    model.reset();
    if (width < 1 || height < 1)
        return false;
    try {
        auto fresh = std::make_unique<Impl>();
        fresh->width = width;
        fresh->height = height;
        fresh->mask = maskCopy(mask, width, height);
        model = std::move(fresh);
        return true;
    } catch (...) {
        return false;
    }
}

// A grey copy of `image` when it is an 8-bit image of the model's box size, else empty.
cv::Mat grayOfBox(const cv::Mat& image, const RoiModel& model);

} // namespace vision
