#include "visionimage.h"

#include <opencv2/imgproc.hpp>

namespace vision {

cv::Mat grayCopy(const cv::Mat& image)
{
    if (image.empty() || image.depth() != CV_8U)
        return cv::Mat();
    cv::Mat gray;
    switch (image.channels()) {
    case 1: gray = image.clone(); break;
    case 3: cv::cvtColor(image, gray, cv::COLOR_BGR2GRAY); break;
    case 4: cv::cvtColor(image, gray, cv::COLOR_BGRA2GRAY); break;
    default: break;
    }
    return gray;
}

cv::Mat maskCopy(const cv::Mat& mask, int width, int height)
{
    cv::Mat gray = grayCopy(mask);
    if (gray.cols != width || gray.rows != height)
        return cv::Mat(height, width, CV_8UC1, cv::Scalar(255));
    cv::Mat set;
    cv::compare(gray, 0, set, cv::CMP_NE);
    return set;
}

cv::Mat grayOfBox(const cv::Mat& image, const RoiModel& model)
{
    cv::Mat gray = grayCopy(image);
    if (gray.cols != model.width || gray.rows != model.height)
        return cv::Mat();
    return gray;
}

void writeMask(const cv::Mat& result, cv::Mat& out)
{
    if (out.size() == result.size() && out.type() == CV_8UC1)
        result.copyTo(out);
    else
        out = result.clone();
}

} // namespace vision
