#include "graymatch.h"

#include "refusallog.h"
#include "roifit.h"
#include "visionimage.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {
// The threshold, in spreads of a pixel's normal variation: 3 at the highest
// sensitivity, 11 at the lowest; amplify divides it as before.
constexpr double kMinThreshold = 3.0;
constexpr double kThresholdPerStep = 0.08;
constexpr int kMaxSensitivity = 100;
constexpr int kMaxAmplify = 4;
constexpr size_t kMaxTemplates = 257;  // the per-pixel sum is 16-bit
// Normal variation from local structure: a residual shift of this many pixels
// across an edge, and a share of the curvature for a change of focus.
constexpr double kResidualShift = 0.6;
constexpr double kCurvatureShare = 0.35;
constexpr double kLaplacianGain = 4.0;  // the 3 x 3 Laplacian answers a curvature of 1 with 4
constexpr double kRangePerSlope = 2.8;  // and the 3 x 3 range a slope of 1 with 2 to 2.8 (diagonal)
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
constexpr int kMargin = 4;

// Expected range of n samples of a unit normal distribution (none for one).
double expectedRange(int n)
{
    static const double table[] = {0,     0,     1.128, 1.693, 2.059, 2.326, 2.534, 2.704, 2.847,
                                   2.970, 3.078, 3.173, 3.258, 3.336, 3.407, 3.472, 3.532, 3.588,
                                   3.640, 3.689, 3.735, 3.778, 3.819, 3.858, 3.895, 3.931};
    constexpr int kLast = int(sizeof(table) / sizeof(table[0])) - 1;
    if (n <= 1)
        return 1.0;  // the range is 0 anyway
    if (n <= kLast)
        return table[n];
    return table[kLast] + 0.9 * std::log(double(n) / kLast);
}

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
    int count = 0;                  // templates added
    cv::Mat sum, low, high;         // per pixel: their sum (16-bit) and range
    std::vector<cv::Mat> templates; // kept only for edge ignore
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
    if (!d || d->trained || size_t(d->count) >= kMaxTemplates)
        return false;
    try {
        Impl& m = *d;
        // A grey image of the box is read in place; only others are converted.
        const cv::Mat gray = image.type() == CV_8UC1 && image.cols == m.width && image.rows == m.height
                                 ? image
                                 : vision::grayOfBox(image, m);
        if (gray.empty())
            return false;
        if (m.count == 0) {
            m.sum = cv::Mat::zeros(m.height, m.width, CV_16U);
            gray.copyTo(m.low);
            gray.copyTo(m.high);
        }
        // One cheap pass per template: the sum and the range of each pixel.
        const int cols = m.width, rows = m.height;  // locals: the loop vectorises
        for (int y = 0; y < rows; ++y) {
            const uchar* __restrict in = gray.ptr<uchar>(y);
            ushort* __restrict ps = m.sum.ptr<ushort>(y);
            uchar* __restrict pl = m.low.ptr<uchar>(y);
            uchar* __restrict ph = m.high.ptr<uchar>(y);
            for (int x = 0; x < cols; ++x) {
                ps[x] = ushort(ps[x] + in[x]);
                pl[x] = std::min(pl[x], in[x]);
                ph[x] = std::max(ph[x], in[x]);
            }
        }
        if (m.edgeIgnore)
            m.templates.push_back(gray.clone());
        ++m.count;
        return true;
    } catch (const std::exception& e) {
        vision::logRefusal("GrayMatch::AddTemp", e);
        return false;
    }
}

bool GrayMatch::Train(int sensitivity, int amplify, int edgeLow, int edgeHigh)
{
    if (!d || d->count == 0 || d->trained)
        return false;
    try {
        Impl& m = *d;
        const int n = m.count;
        const int cols = m.width, rows = m.height;  // locals: the loop below vectorises
        cv::Mat edges = cv::Mat::zeros(m.height, m.width, CV_8UC1);
        for (const cv::Mat& t : m.templates) {
            cv::Mat e;
            cv::Canny(t, e, edgeLow, edgeHigh);
            edges |= e;
        }
        m.templates.clear();
        const cv::Mat sum = m.sum, low = m.low, high = m.high;
        m.sum.release();
        m.low.release();
        m.high.release();
        sum.convertTo(m.mean, CV_32F, 1.0 / n);

        // Normal variation: between the templates (their range over the
        // expected range of n normal samples), plus what a residual shift does
        // where the mean changes over a pixel (its 3 x 3 range) and a focus
        // change where it curves. Taken from the mean
        // rounded to 8 bits: fast, and plenty for a variance.
        cv::Mat mean8, local, curve;
        sum.convertTo(mean8, CV_8U, 1.0 / n);
        cv::Laplacian(mean8, curve, CV_16S, 3, 1, 0, cv::BORDER_REPLICATE);
        cv::morphologyEx(mean8, local, cv::MORPH_GRADIENT, cv::Mat(), cv::Point(-1, -1), 1, cv::BORDER_REPLICATE);
        const float local2 = float(kResidualShift * kResidualShift / (kRangePerSlope * kRangePerSlope));
        const float curve2 = float(kCurvatureShare * kCurvatureShare / (kLaplacianGain * kLaplacianGain));
        const float between2 = float(1.0 / (expectedRange(n) * expectedRange(n)));
        m.staticVar.create(rows, cols, CV_32F);
        for (int y = 0; y < rows; ++y) {
            const uchar* __restrict pr = local.ptr<uchar>(y);
            const short* __restrict pc = curve.ptr<short>(y);
            const uchar* __restrict pl = low.ptr<uchar>(y);
            const uchar* __restrict ph = high.ptr<uchar>(y);
            float* __restrict out = m.staticVar.ptr<float>(y);
            for (int x = 0; x < cols; ++x) {
                const int r = pr[x], c = pc[x], spread = ph[x] - pl[x];
                out[x] = local2 * float(r * r) + curve2 * float(c * c) + between2 * float(spread * spread);
            }
        }

        m.checked = m.mask;
        if (m.edgeIgnore) {
            m.checked = m.mask.clone();
            cv::dilate(edges, edges, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(5, 5)));
            m.checked.setTo(0, edges);
        }
        m.fit.learn(m.mean, curve, m.staticVar, m.checked);
        const int s = std::clamp(sensitivity, 0, kMaxSensitivity);
        const int a = std::clamp(amplify, 0, kMaxAmplify);
        m.threshold = (kMinThreshold + kThresholdPerStep * (kMaxSensitivity - s)) / (1 + a);
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
        const cv::Mat gray = image.type() == CV_8UC1 && image.cols == m.width && image.rows == m.height
                                 ? image
                                 : vision::grayOfBox(image, m);
        if (gray.empty())
            return false;
        // q: squared residual in units of the pixel's variance; its 3 x 3 mean tells texture.
        const cv::Mat q = m.fit.deviation(gray, m.fit.fit(gray));
        cv::Mat local;
        cv::blur(q, local, cv::Size(kTextureWindow, kTextureWindow), cv::Point(-1, -1), cv::BORDER_REPLICATE);
        const float t2 = float(m.threshold * m.threshold);
        const float texture = t2 * float(kTextureShare * kTextureShare);
        const float guard = t2 * float(kTextureGuard * kTextureGuard);
        const float grow = t2 * float(kGrowShare * kGrowShare);
        cv::Mat result(q.size(), CV_8UC1), candidates(q.size(), CV_8UC1);
        int seeds = 0;
        const int cols = q.cols;
        for (int y = 0; y < q.rows; ++y) {
            const float* __restrict pq = q.ptr<float>(y);
            const float* __restrict pl = local.ptr<float>(y);
            const uchar* __restrict c = m.checked.ptr<uchar>(y);
            uchar* __restrict out = result.ptr<uchar>(y);
            uchar* __restrict cand = candidates.ptr<uchar>(y);
            for (int x = 0; x < cols; ++x) {
                const bool seed = c[x] && (pq[x] > t2 || (pl[x] > texture && pq[x] > guard));
                out[x] = seed ? 255 : 0;
                cand[x] = c[x] && pq[x] > grow ? 255 : 0;
                seeds += seed;
            }
        }
        const bool any = seeds > 0;
        if (any) {
            result = grown(result, candidates);
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
    } catch (const std::exception& e) {
        vision::logRefusal("GrayMatch::Match", e);
        return false;
    }
}
