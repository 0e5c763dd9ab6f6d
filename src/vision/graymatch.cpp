#include "graymatch.h"

#include "roifit.h"
#include "visionimage.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <vector>

namespace {
// The threshold, in spreads of a pixel's normal variation: 3 at the highest
// sensitivity, 11 at the lowest; amplify divides it as before.
constexpr double kMinThreshold = 3.0;
constexpr double kThresholdPerStep = 0.08;
constexpr int kMaxSensitivity = 100;
constexpr int kMaxAmplify = 4;
// Normal variation from local structure: a residual shift of this many pixels
// across an edge, and a share of the curvature for a change of focus.
constexpr double kResidualShift = 0.6;
constexpr double kCurvatureShare = 0.35;
constexpr double kStructureBlur = 0.8;  // smoothing before gradients: template noise is no structure
// A texture unlike the template: the mean squared residual over 3 x 3 pixels
// against a lower threshold (averaging narrows the noise), where the pixel
// itself differs at least a little.
constexpr double kTextureShare = 0.6;
constexpr double kTextureGuard = 0.25;
constexpr int kTextureWindow = 3;
// A defect reaches as far as its pixels still differ clearly: it is grown into
// connected pixels above this share of the threshold (camera blur spreads a
// small part over more pixels than its own).
constexpr double kGrowShare = 0.45;
// Where a defect is sure (it survives a 3 x 3 opening), its outline is only
// known to within the camera's blur and the residual alignment: it is marked
// with that margin, so a small part is measured at its footprint.
constexpr int kMargin = 3;

// The connected regions of `candidates` that hold a pixel of `seeds`.
cv::Mat grown(const cv::Mat& seeds, const cv::Mat& candidates)
{
    cv::Mat labels;
    const int n = cv::connectedComponents(candidates | seeds, labels, 8, CV_32S);
    std::vector<uchar> keep(size_t(n), 0);
    for (int y = 0; y < seeds.rows; ++y) {
        const uchar* s = seeds.ptr<uchar>(y);
        const int* l = labels.ptr<int>(y);
        for (int x = 0; x < seeds.cols; ++x)
            if (s[x])
                keep[size_t(l[x])] = 255;
    }
    keep[0] = 0;
    cv::Mat out(seeds.size(), CV_8UC1);
    for (int y = 0; y < seeds.rows; ++y) {
        const int* l = labels.ptr<int>(y);
        uchar* o = out.ptr<uchar>(y);
        for (int x = 0; x < seeds.cols; ++x)
            o[x] = keep[size_t(l[x])];
    }
    return out;
}
}

struct GrayMatch::Impl : vision::RoiModel
{
    bool edgeIgnore = false;
    std::vector<cv::Mat> templates;
    cv::Mat mean;       // learnt mean grey (float)
    cv::Mat staticVar;  // variance from the templates and from local structure (float)
    cv::Mat checked;    // mask less ignored edges
    vision::RoiFit fit;
    double threshold = 0;
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

double GrayMatch::threshold() const
{
    return d ? d->threshold : 0.0;
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
    } catch (...) {
        return false;
    }
}

bool GrayMatch::Train(int sensitivity, int amplify, int edgeLow, int edgeHigh)
{
    if (!d || d->templates.empty())
        return false;
    try {
        Impl& m = *d;
        const double n = double(m.templates.size());
        cv::Mat sum = cv::Mat::zeros(m.height, m.width, CV_32F), sum2 = sum.clone(), f;
        cv::Mat edges = cv::Mat::zeros(m.height, m.width, CV_8UC1);
        for (const cv::Mat& t : m.templates) {
            t.convertTo(f, CV_32F);
            sum += f;
            cv::accumulateSquare(f, sum2);
            if (m.edgeIgnore) {
                cv::Mat e;
                cv::Canny(t, e, edgeLow, edgeHigh);
                edges |= e;
            }
        }
        m.mean = sum / n;
        // Variation between templates (none from a single one), unbiased.
        cv::Mat var = n > 1 ? cv::Mat((sum2 - sum.mul(m.mean)) / (n - 1)) : cv::Mat::zeros(m.height, m.width, CV_32F);
        cv::max(var, 0.0, var);

        // Structure: the slope and curvature of the smoothed mean.
        cv::Mat smooth, gx, gy, lap;
        cv::GaussianBlur(m.mean, smooth, cv::Size(0, 0), kStructureBlur, 0, cv::BORDER_REPLICATE);
        cv::Sobel(smooth, gx, CV_32F, 1, 0, 3, 1.0 / 8, 0, cv::BORDER_REPLICATE);
        cv::Sobel(smooth, gy, CV_32F, 0, 1, 3, 1.0 / 8, 0, cv::BORDER_REPLICATE);
        cv::Laplacian(smooth, lap, CV_32F, 1, 1, 0, cv::BORDER_REPLICATE);
        var += (gx.mul(gx) + gy.mul(gy)) * (kResidualShift * kResidualShift) +
               lap.mul(lap) * (kCurvatureShare * kCurvatureShare);
        m.staticVar = var;

        m.checked = m.mask.clone();
        if (m.edgeIgnore) {
            cv::dilate(edges, edges, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(5, 5)));
            m.checked.setTo(0, edges);
        }
        m.fit.learn(m.mean, lap, m.staticVar, m.checked);
        const int s = std::clamp(sensitivity, 0, kMaxSensitivity);
        const int a = std::clamp(amplify, 0, kMaxAmplify);
        m.threshold = (kMinThreshold + kThresholdPerStep * (kMaxSensitivity - s)) / (1 + a);
        m.templates.clear();
        m.trained = true;
        return true;
    } catch (...) {
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
        const vision::RoiFit::Result fitted = m.fit.fit(gray);
        const cv::Mat r = m.fit.residual(gray, fitted);
        cv::Mat var = m.staticVar + fitted.noise * fitted.noise;
        const cv::Mat r2 = r.mul(r);
        const double t2 = m.threshold * m.threshold;
        cv::Mat result = r2 > var * t2;
        cv::Mat localR2, localVar;
        const cv::Size window(kTextureWindow, kTextureWindow);
        cv::blur(r2, localR2, window, cv::Point(-1, -1), cv::BORDER_REPLICATE);
        cv::blur(var, localVar, window, cv::Point(-1, -1), cv::BORDER_REPLICATE);
        const cv::Mat texture = (localR2 > localVar * (t2 * kTextureShare * kTextureShare)) &
                                (r2 > var * (t2 * kTextureGuard * kTextureGuard));
        result |= texture;
        result &= m.checked;
        if (cv::countNonZero(result) > 0) {
            result = grown(result, (r2 > var * (t2 * kGrowShare * kGrowShare)) & m.checked);
            cv::Mat core;
            cv::morphologyEx(result, core, cv::MORPH_OPEN, cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(3, 3)));
            if (cv::countNonZero(core) > 0) {
                const cv::Size margin(2 * kMargin + 1, 2 * kMargin + 1);
                cv::dilate(core, core, cv::getStructuringElement(cv::MORPH_ELLIPSE, margin));
                result |= core & m.checked;
            }
        }
        vision::writeMask(result, defects);
        return true;
    } catch (...) {
        return false;
    }
}
