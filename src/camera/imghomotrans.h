#pragma once

#include <opencv2/core/mat.hpp>
#include <opencv2/stitching/detail/matchers.hpp>

#include <vector>

// Alignment of live frames onto a template by a homography of matched SIFT
// features. The template's features are computed once, by setTemplate at
// learning; each live frame costs one feature detection, one match, RANSAC
// and one warp.
class ImgHomoTrans
{
public:
    static constexpr int kTemplateIndex = 1;
    static constexpr int kLiveIndex = 0;

    ImgHomoTrans();

    // Stores the template's features; true when at least minFeatures keypoints were found.
    bool setTemplate(const cv::Mat& image, const cv::Mat& mask, int minFeatures);
    // Warps src onto the template geometry into dst (written in place when dst
    // already has src's size and type); false leaves dst untouched.
    bool transImageHomo(cv::Mat src, cv::Mat& dst, float match_conf);
    // SIFT features of the image shrunk by `scale`.
    void findFeature(const cv::Mat& image, cv::detail::ImageFeatures& features, int imageIndex);

    // Shrink factor for feature detection: min(1, sqrt(500000 / pixels)).
    static float scaleFor(int rows, int cols);

    cv::Mat scaledMask;
    std::vector<cv::detail::ImageFeatures> features;
    float scale = 1.0f;
};
