#pragma once

// Synthetic frames for the vision and engine tests: a textured "mould" scene
// with distinct shapes, and helpers to shift and turn it.

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

namespace synth {

// A grey scene of w x h: a mid-grey gradient background with rectangles,
// circles, a cross and a triangle of distinct grey levels, so that edges have
// all directions and no two places look alike.
inline cv::Mat scene(int w, int h, unsigned seed = 7)
{
    cv::Mat img(h, w, CV_8UC1);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.at<uchar>(y, x) = uchar(90 + (x * 30) / w + (y * 20) / h);
    cv::RNG rng(seed);
    const int n = 6 + (w * h) / 40000;
    for (int i = 0; i < n; ++i) {
        const int cx = rng.uniform(w / 10, w - w / 10), cy = rng.uniform(h / 10, h - h / 10);
        const int r = rng.uniform(std::max(6, w / 40), std::max(8, w / 12));
        const int level = (i % 2) ? rng.uniform(180, 250) : rng.uniform(10, 60);
        switch (i % 4) {
        case 0: cv::rectangle(img, cv::Rect(cx - r, cy - r / 2, 2 * r, r), level, cv::FILLED); break;
        case 1: cv::circle(img, {cx, cy}, r, level, cv::FILLED); break;
        case 2:
            cv::rectangle(img, cv::Rect(cx - r, cy - r / 5, 2 * r, 2 * r / 5 + 1), level, cv::FILLED);
            cv::rectangle(img, cv::Rect(cx - r / 5, cy - r, 2 * r / 5 + 1, 2 * r), level, cv::FILLED);
            break;
        default: {
            std::vector<cv::Point> tri{{cx - r, cy + r}, {cx + r, cy + r / 2}, {cx - r / 3, cy - r}};
            cv::fillConvexPoly(img, tri, level);
        }
        }
    }
    return img;
}

// A richly textured frame (for feature matching): the scene over blurred noise.
inline cv::Mat textured(int w, int h, unsigned seed)
{
    cv::Mat noise(h, w, CV_8UC1);
    cv::RNG rng(seed);
    rng.fill(noise, cv::RNG::UNIFORM, 0, 256);
    cv::GaussianBlur(noise, noise, cv::Size(0, 0), 2.0);
    cv::Mat img = scene(w, h, seed);
    cv::addWeighted(img, 0.6, noise, 0.8, -40, img);
    return img;
}

// The scene moved by (dx, dy); uncovered pixels 0.
inline cv::Mat shifted(const cv::Mat& src, int dx, int dy)
{
    cv::Mat m = (cv::Mat_<double>(2, 3) << 1, 0, dx, 0, 1, dy);
    cv::Mat out;
    cv::warpAffine(src, out, m, src.size(), cv::INTER_NEAREST, cv::BORDER_CONSTANT, 0);
    return out;
}

// The scene turned by `angle` degrees (OpenCV's sense) about `centre`, then moved by (dx, dy).
inline cv::Mat turned(const cv::Mat& src, cv::Point2f centre, double angle, int dx = 0, int dy = 0)
{
    cv::Mat m = cv::getRotationMatrix2D(centre, angle, 1.0);
    m.at<double>(0, 2) += dx;
    m.at<double>(1, 2) += dy;
    cv::Mat out;
    cv::warpAffine(src, out, m, src.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT, 0);
    return out;
}

// A view of `m` inside a larger buffer, so that it is not continuous.
inline cv::Mat nonContinuous(const cv::Mat& m, cv::Mat& storage)
{
    storage = cv::Mat(m.rows + 4, m.cols + 9, m.type(), cv::Scalar::all(33));
    cv::Mat view = storage(cv::Rect(5, 2, m.cols, m.rows));
    m.copyTo(view);
    return view;
}

} // namespace synth
