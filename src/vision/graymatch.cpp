#include "graymatch.h"

#include "refusallog.h"
#include "visionimage.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <vector>

namespace {
constexpr int kBaseTolerance = 5;
constexpr double kTolerancePerStep = 0.6;
constexpr int kMaxSensitivity = 100;
constexpr int kMaxAmplify = 4;
}

struct GrayMatch::Impl : vision::RoiModel
{
    bool edgeIgnore = false;
    std::vector<cv::Mat> templates;
    cv::Mat low, high;              // learnt range per pixel
    cv::Mat checked;                // mask less ignored edges
    int tolerance = 0;
};

GrayMatch::GrayMatch() = default;
GrayMatch::~GrayMatch() = default;
GrayMatch::GrayMatch(GrayMatch&&) noexcept = default;
GrayMatch& GrayMatch::operator=(GrayMatch&&) noexcept = default;

bool GrayMatch::IsValid() const
{
    return d && d->trained;
}

void GrayMatch::Clear()
{
    d.reset();
}

int GrayMatch::tolerance() const
{
    return d ? d->tolerance : 0;
}

bool GrayMatch::Create(int width, int height, const cv::Mat& mask, int edgeIgnore)
{
    if (!vision::createRoiModel(d, width, height, mask))
        return false;
    d->edgeIgnore = edgeIgnore != 0;
    return true;
}

bool GrayMatch::AddTemp(const cv::Mat& image)
{
    if (!d || d->trained)
        return false;
    try {
        cv::Mat gray = vision::grayOfBox(image, *d);
        if (gray.empty())
            return false;
        d->templates.push_back(gray);
        return true;
    } catch (const std::exception& e) {
        vision::logRefusal("GrayMatch::AddTemp", e);
        return false;
    }
}

bool GrayMatch::Train(int sensitivity, int amplify, int edgeLow, int edgeHigh)
{
    if (!d || d->templates.empty())
        return false;
    try {
        Impl& m = *d;
        m.low = m.templates.front().clone();
        m.high = m.templates.front().clone();
        cv::Mat edges = cv::Mat::zeros(m.height, m.width, CV_8UC1);
        for (const cv::Mat& t : m.templates) {
            cv::min(m.low, t, m.low);
            cv::max(m.high, t, m.high);
            if (m.edgeIgnore) {
                cv::Mat e;
                cv::Canny(t, e, edgeLow, edgeHigh);
                edges |= e;
            }
        }
        const cv::Mat cross = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3));
        cv::erode(m.low, m.low, cross);
        cv::dilate(m.high, m.high, cross);
        m.checked = m.mask.clone();
        if (m.edgeIgnore) {
            cv::dilate(edges, edges, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(5, 5)));
            m.checked.setTo(0, edges);
        }
        const int s = std::clamp(sensitivity, 0, kMaxSensitivity);
        const int a = std::clamp(amplify, 0, kMaxAmplify);
        const double tol = (kBaseTolerance + kTolerancePerStep * (kMaxSensitivity - s)) / (1 + a);
        m.tolerance = std::max(1, int(tol + 0.5));
        m.templates.clear();
        m.trained = true;
        return true;
    } catch (const std::exception& e) {
        vision::logRefusal("GrayMatch::Train", e);
        d.reset();
        return false;
    }
}

bool GrayMatch::Match(const cv::Mat& image, cv::Mat& defects)
{
    if (!IsValid())
        return false;
    try {
        const Impl& m = *d;
        cv::Mat gray = vision::grayOfBox(image, m);
        if (gray.empty())
            return false;
        cv::Mat below, above;
        cv::subtract(m.low, gray, below);   // saturates at 0 inside the range
        cv::subtract(gray, m.high, above);
        cv::max(below, above, below);
        cv::Mat result;
        cv::compare(below, m.tolerance, result, cv::CMP_GT);
        result &= m.checked;
        vision::writeMask(result, defects);
        return true;
    } catch (const std::exception& e) {
        vision::logRefusal("GrayMatch::Match", e);
        return false;
    }
}
