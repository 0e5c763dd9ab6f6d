#include "imghomotrans.h"

#include <opencv2/calib3d.hpp>
#include <opencv2/features2d.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>

namespace {
constexpr float kFeaturePixels = 500000.0f;  // frames are shrunk to about this many pixels
constexpr int kMinPairs = 4;
constexpr int kMatchThreshold = 6;
constexpr double kRansacThreshold = 3.0;
constexpr int kRansacIterations = 2000;
constexpr double kRansacConfidence = 0.995;
}

ImgHomoTrans::ImgHomoTrans()
    : features(2)
{
}

float ImgHomoTrans::scaleFor(int rows, int cols)
{
    const float pixels = float(rows) * float(cols);
    if (pixels <= 0)
        return 1.0f;
    return std::min(1.0f, std::sqrt(kFeaturePixels / pixels));
}

void ImgHomoTrans::findFeature(const cv::Mat& image, cv::detail::ImageFeatures& out, int imageIndex)
{
    if (image.empty())
        return;
    try {
        cv::Mat gray;
        if (image.channels() == 3)
            cv::cvtColor(image, gray, cv::COLOR_BGR2GRAY);
        else
            gray = image;
        cv::Mat scaled;
        if (scale == 1.0f)
            scaled = gray;
        else
            cv::resize(gray, scaled, cv::Size(), scale, scale, cv::INTER_LINEAR_EXACT);
        const bool useMask = scaledMask.type() == CV_8UC1 && scaledMask.size() == scaled.size();
        cv::Ptr<cv::SIFT> sift = cv::SIFT::create();
        cv::Mat descriptors;
        out.keypoints.clear();
        sift->detectAndCompute(scaled, useMask ? scaledMask : cv::noArray(), out.keypoints, descriptors);
        out.descriptors = descriptors.getUMat(cv::ACCESS_READ).clone();
        out.img_size = scaled.size();
        out.img_idx = imageIndex;
    } catch (...) {
        out.keypoints.clear();
        out.descriptors.release();
        out.img_idx = imageIndex;
    }
}

bool ImgHomoTrans::setTemplate(const cv::Mat& image, const cv::Mat& mask, int minFeatures)
{
    features.resize(2);
    features[kTemplateIndex] = cv::detail::ImageFeatures();
    if (image.rows * image.cols == 0)
        return false;
    scale = scaleFor(image.rows, image.cols);
    if (!mask.empty()) {
        if (mask.type() != CV_8UC1 || mask.size() != image.size())
            return false;
        if (scale == 1.0f)
            scaledMask = mask.clone();
        else
            cv::resize(mask, scaledMask, cv::Size(), scale, scale, cv::INTER_LINEAR_EXACT);
    } else {
        scaledMask.release();
    }
    findFeature(image, features[kTemplateIndex], kTemplateIndex);
    return int(features[kTemplateIndex].keypoints.size()) >= minFeatures;
}

bool ImgHomoTrans::transImageHomo(cv::Mat src, cv::Mat& dst, float match_conf)
{
    if (src.empty() || features.size() != 2 || features[kTemplateIndex].keypoints.empty())
        return false;
    try {
        findFeature(src, features[kLiveIndex], kLiveIndex);
        const cv::detail::ImageFeatures& live = features[kLiveIndex];
        const cv::detail::ImageFeatures& templ = features[kTemplateIndex];
        if (live.keypoints.empty())
            return false;
        cv::detail::MatchesInfo info;
        {
            cv::detail::BestOf2NearestMatcher matcher(false, match_conf, kMatchThreshold, kMatchThreshold);
            matcher(live, templ, info);
            matcher.collectGarbage();
        }
        std::vector<cv::Point2f> livePts, templPts;
        livePts.reserve(info.matches.size());
        templPts.reserve(info.matches.size());
        for (const cv::DMatch& m : info.matches) {
            livePts.push_back(live.keypoints[m.queryIdx].pt / scale);
            templPts.push_back(templ.keypoints[m.trainIdx].pt / scale);
        }
        if (int(livePts.size()) < kMinPairs)
            return false;
        const cv::Mat h = cv::findHomography(livePts, templPts, cv::RANSAC, kRansacThreshold, cv::noArray(),
                                             kRansacIterations, kRansacConfidence);
        if (h.empty())
            return false;
        cv::warpPerspective(src, dst, h, src.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar(0));
        return true;
    } catch (...) {
        return false;
    }
}
