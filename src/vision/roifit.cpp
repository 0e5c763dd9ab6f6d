#include "roifit.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace vision {

namespace {
constexpr int kMaxSamples = 1000;       // plenty for 8 unknowns, cheap per ROI
constexpr int kMaxIterations = 3;
constexpr double kRidge = 1e-3;         // per sample, on normalised terms: keeps a flat ROI solvable
constexpr double kInlier = 3.0;         // residual spreads that still count for the fit
constexpr double kMadToSigma = 1.4826;
// The densest shares of the samples the fit may start from, each with what
// turns the half width of its shortest interval into a normal spread, and the
// start's noise (grey levels) above which a smaller share is tried: good
// frames stay under half of it.
struct Densest
{
    double share, toSigma;
};
constexpr Densest kDensest[] = {{0.5, 1.4826}, {0.25, 3.139}, {0.125, 6.357}};
constexpr double kMaxStartNoise = 8.0;
constexpr double kMinNoise = 1.0;       // grey levels: quantisation and sensor floor
constexpr double kMaxShift = 3.0;       // pixels left over after positioning
constexpr double kShiftDone = 0.02;
constexpr double kMinScale = 4.0;        // grey levels: a flat ROI has no gain to fit
// Bounds of the change one ROI may absorb (grey levels and gain at its mean grey).
constexpr double kMaxOffsetShare = 0.3;
constexpr double kMaxOffsetGrey = 10.0;
constexpr double kMinGain = 0.55;
constexpr double kMaxGain = 1.7;

float bilinear(const cv::Mat& img, float x, float y)
{
    x = std::clamp(x, 0.0f, float(img.cols - 1));
    y = std::clamp(y, 0.0f, float(img.rows - 1));
    const int x0 = std::min(int(x), img.cols - 2 < 0 ? 0 : img.cols - 2);
    const int y0 = std::min(int(y), img.rows - 2 < 0 ? 0 : img.rows - 2);
    const int x1 = std::min(x0 + 1, img.cols - 1), y1 = std::min(y0 + 1, img.rows - 1);
    const float fx = x - float(x0), fy = y - float(y0);
    const uchar* r0 = img.ptr<uchar>(y0);
    const uchar* r1 = img.ptr<uchar>(y1);
    const float top = r0[x0] + fx * float(r0[x1] - r0[x0]);
    const float bottom = r1[x0] + fx * float(r1[x1] - r1[x0]);
    return top + fy * (bottom - top);
}

// Central difference of a float image along (dx, dy) at (x, y), sides repeated.
float slopeAt(const cv::Mat& img, int x, int y, int dx, int dy)
{
    const int x0 = std::max(0, x - dx), x1 = std::min(img.cols - 1, x + dx);
    const int y0 = std::max(0, y - dy), y1 = std::min(img.rows - 1, y + dy);
    const int steps = std::max(1, (x1 - x0) + (y1 - y0));
    return (img.at<float>(y1, x1) - img.at<float>(y0, x0)) / float(steps);
}

double median(std::vector<float>& v)
{
    if (v.empty())
        return 0;
    auto mid = v.begin() + std::ptrdiff_t(v.size() / 2);
    std::nth_element(v.begin(), mid, v.end());
    return *mid;
}
} // namespace

std::array<double, RoiFit::kTerms> RoiFit::terms(float m, float lap, float x, float y) const
{
    const double n = (m - m_centre) / m_scale;
    return {1.0, n, n * n, (x - m_halfW) / m_halfW, (y - m_halfH) / m_halfH, lap / m_lapScale};
}

void RoiFit::learn(const cv::Mat& mean, const cv::Mat& laplacian, const cv::Mat& staticVar, const cv::Mat& checked)
{
    m_mean = mean;
    m_laplacian = laplacian;  // 16-bit: read as it is, the fit scales it
    m_staticVar = staticVar;
    m_halfW = std::max(1.0, mean.cols / 2.0);
    m_halfH = std::max(1.0, mean.rows / 2.0);
    const int count = std::max(1, cv::countNonZero(checked));
    const int step = std::max(1, int(std::ceil(std::sqrt(double(count) / kMaxSamples))));
    m_samples.clear();
    for (int y = step / 2; y < mean.rows; y += step)
        for (int x = step / 2; x < mean.cols; x += step)
            if (checked.at<uchar>(y, x))
                m_samples.push_back({float(x), float(y), slopeAt(mean, x, y, 1, 0), slopeAt(mean, x, y, 0, 1),
                                     mean.at<float>(y, x), float(laplacian.at<short>(y, x)), staticVar.at<float>(y, x), {}});
    double sum = 0, sum2 = 0, lap2 = 0;
    m_low = 255;
    m_high = 0;
    for (const Sample& s : m_samples) {
        m_low = std::min(m_low, double(s.m));
        m_high = std::max(m_high, double(s.m));
        sum += s.m;
        sum2 += double(s.m) * s.m;
        lap2 += double(s.lap) * s.lap;
    }
    const double n = std::max<size_t>(1, m_samples.size());
    m_centre = sum / n;
    m_scale = std::max(kMinScale, std::sqrt(std::max(0.0, sum2 / n - m_centre * m_centre)));
    m_lapScale = std::max(1.0, std::sqrt(lap2 / n));
    for (Sample& s : m_samples) {
        const auto t = terms(s.m, s.lap, s.x, s.y);
        std::copy(t.begin(), t.end(), s.phi.begin());
        s.phi[kTerms] = s.gx;
        s.phi[kTerms + 1] = s.gy;
    }
}

RoiFit::Result RoiFit::fit(const cv::Mat& live) const
{
    std::vector<float> weight;
    Result r = fit(live, false, weight);
    // The grey mapping must rise over the ROI's grey range at a plausible
    // slope; a curve that does not (two grey levels mapped each its own way)
    // is no lighting change: then only a straight line is fitted.
    const double lo = (m_low - m_centre) / m_scale, hi = (m_high - m_centre) / m_scale;
    const auto slope = [&](double n) { return 1 + (r.c[1] + 2 * r.c[2] * n) / m_scale; };
    const auto plausible = [&](double s) { return s >= kMinGain && s <= kMaxGain; };
    if (!plausible(slope(lo)) || !plausible(slope(hi)))
        r = fit(live, true, weight);
    r.c[1] = std::clamp(r.c[1], (kMinGain - 1) * m_scale, (kMaxGain - 1) * m_scale);
    // The offset again, robustly, for the bounded terms.
    std::vector<float> rest;
    rest.reserve(m_samples.size());
    // Only the samples that fitted count: a part's pixels would drag the
    // offset towards the part.
    for (size_t i = 0; i < m_samples.size(); ++i) {
        const Sample& s = m_samples[i];
        if (weight[i] == 0.0f)
            continue;
        double pred = 0;
        for (int k = 1; k < kTerms; ++k)
            pred += s.phi[size_t(k)] * r.c[size_t(k)];
        rest.push_back(float(bilinear(live, s.x + r.shift.x, s.y + r.shift.y) - s.m - pred));
    }
    // A uniform change of the whole ROI may be a part covering it: bounded.
    const double maxOffset = kMaxOffsetShare * m_centre + kMaxOffsetGrey;
    r.c[0] = std::clamp(median(rest), -maxOffset, maxOffset);
    return r;
}

RoiFit::Result RoiFit::fit(const cv::Mat& live, bool straight, std::vector<float>& weight) const
{
    Result r;
    const size_t n = m_samples.size();
    weight.assign(n, 1.0f);
    if (n == 0)
        return r;
    std::vector<float> target(n), spread(n);
    cv::Matx<double, kUnknowns, 1> beta;
    double noise = kMinNoise;
    // A robust start: a plain least-squares fit over a ROI that a part
    // partly covers is pulled towards the part and its spread swells with it,
    // hiding the part. So the first fit uses only the samples near the
    // densest change: the middle of the shortest interval holding half the
    // samples (the median would fall between floor and part at about half
    // cover), its half width giving the noise. Where that half is wider than
    // any good frame's noise, a part of varying grey covers more than half
    // the ROI: then a smaller share of the samples finds the floor left.
    {
        std::vector<float> sorted(n);
        for (size_t i = 0; i < n; ++i)
            sorted[i] = target[i] = bilinear(live, m_samples[i].x, m_samples[i].y) - m_samples[i].m;
        std::sort(sorted.begin(), sorted.end());
        double offset = 0;
        for (const Densest& share : kDensest) {
            const size_t count = std::min(n, size_t(double(n) * share.share) + 1);
            size_t best = 0;
            for (size_t i = 1; i + count <= n; ++i)
                if (sorted[i + count - 1] - sorted[i] < sorted[best + count - 1] - sorted[best])
                    best = i;
            offset = 0.5 * (double(sorted[best]) + sorted[best + count - 1]);
            noise = std::max(kMinNoise, share.toSigma * 0.5 * (double(sorted[best + count - 1]) - sorted[best]));
            if (noise <= kMaxStartNoise)
                break;
        }
        for (size_t i = 0; i < n; ++i) {
            spread[i] = float(std::abs(target[i] - offset));
            const double limit = kInlier * kInlier * (noise * noise + m_samples[i].sv);
            weight[i] = double(spread[i]) * spread[i] <= limit ? 1.0f : 0.0f;
        }
    }
    for (int it = 0; it < kMaxIterations; ++it) {
        cv::Matx<double, kUnknowns, kUnknowns> a = cv::Matx<double, kUnknowns, kUnknowns>::zeros();
        cv::Matx<double, kUnknowns, 1> b = cv::Matx<double, kUnknowns, 1>::zeros();
        double used = 0;
        for (size_t i = 0; i < n; ++i) {
            const Sample& s = m_samples[i];
            target[i] = bilinear(live, s.x + r.shift.x, s.y + r.shift.y) - s.m;
            if (weight[i] == 0.0f)
                continue;
            double phi[kUnknowns];
            std::copy(s.phi.begin(), s.phi.end(), phi);
            if (straight)
                phi[2] = 0;
            for (int p = 0; p < kUnknowns; ++p) {
                for (int q = p; q < kUnknowns; ++q)
                    a(p, q) += phi[p] * phi[q];
                b(p) += phi[p] * target[i];
            }
            used += 1;
        }
        for (int p = 0; p < kUnknowns; ++p) {
            a(p, p) += kRidge * std::max(1.0, used);
            for (int q = 0; q < p; ++q)
                a(p, q) = a(q, p);
        }
        if (!cv::solve(a, b, beta, cv::DECOMP_CHOLESKY))
            cv::solve(a, b, beta, cv::DECOMP_SVD);
        for (int k = 0; k < kTerms; ++k)
            r.c[size_t(k)] = beta(k);

        // Robust spread of the residuals, then the samples that fit.
        for (size_t i = 0; i < n; ++i) {
            const Sample& s = m_samples[i];
            double pred = 0;
            for (int k = 0; k < kUnknowns; ++k)
                pred += s.phi[size_t(k)] * beta(k);
            spread[i] = std::abs(target[i] - float(pred));
        }
        // The spread of the samples that fitted so far: a part must not
        // widen the tolerance that is to find it.
        std::vector<float> sorted;
        sorted.reserve(n);
        for (size_t i = 0; i < n; ++i)
            if (weight[i] != 0.0f)
                sorted.push_back(spread[i]);
        if (sorted.empty())
            sorted = spread;
        noise = std::max(kMinNoise, kMadToSigma * median(sorted));
        for (size_t i = 0; i < n; ++i) {
            const double limit = kInlier * kInlier * (noise * noise + m_samples[i].sv);
            weight[i] = double(spread[i]) * spread[i] <= limit ? 1.0f : 0.0f;
        }
        const cv::Point2f step(float(beta(kTerms)), float(beta(kTerms + 1)));
        r.shift -= step;
        r.shift.x = float(std::clamp(double(r.shift.x), -kMaxShift, kMaxShift));
        r.shift.y = float(std::clamp(double(r.shift.y), -kMaxShift, kMaxShift));
        if (it > 0 && std::hypot(step.x, step.y) < kShiftDone)
            break;
    }
    r.noise = noise;
    return r;
}

cv::Mat RoiFit::deviation(const cv::Mat& live, const Result& r) const
{
    // The whole pixels of the shift move the reading (sides repeated), the
    // fraction (at most half a pixel) moves the mean along its slope:
    // I(x + i + f) is compared with M(x) - f . grad M(x), no resampling.
    const int ix = int(std::lround(r.shift.x)), iy = int(std::lround(r.shift.y));
    const float fx = r.shift.x - float(ix), fy = r.shift.y - float(iy);
    // Prediction = M + sum c_k term_k, with the polynomial in M evaluated directly.
    const float a1 = float(r.c[1] / m_scale), a2 = float(r.c[2] / (m_scale * m_scale));
    const float cx = float(r.c[3] / m_halfW), cl = float(r.c[5] / m_lapScale);
    const float centre = float(m_centre), noise2 = float(r.noise * r.noise);
    const int cols = live.cols, rows = live.rows;
    cv::Mat out(live.size(), CV_32F);
    // Rows padded by one pixel each side, so the slopes need no special sides.
    std::vector<float> row(static_cast<size_t>(cols)), mean(static_cast<size_t>(cols) + 2);
    for (int y = 0; y < rows; ++y) {
        const uchar* src = live.ptr<uchar>(std::clamp(y + iy, 0, rows - 1));
        for (int x = 0; x < cols; ++x)
            row[size_t(x)] = src[std::clamp(x + ix, 0, cols - 1)];
        const float* __restrict m = m_mean.ptr<float>(y);
        std::copy(m, m + cols, mean.begin() + 1);
        mean.front() = m[0];
        mean.back() = m[cols - 1];
        const float* __restrict up = m_mean.ptr<float>(std::max(0, y - 1));
        const float* __restrict down = m_mean.ptr<float>(std::min(rows - 1, y + 1));
        const float* __restrict padded = mean.data() + 1;
        const float* __restrict in = row.data();
        const short* __restrict l = m_laplacian.ptr<short>(y);
        const float* __restrict sv = m_staticVar.ptr<float>(y);
        float* __restrict o = out.ptr<float>(y);
        const float rowTerm = float(r.c[0] + r.c[4] / m_halfH * (y - m_halfH) - r.c[3]);
        const float sx = -fx * 0.5f, sy = -fy * (y > 0 && y < rows - 1 ? 0.5f : 1.0f);
        for (int x = 0; x < cols; ++x) {
            const float d = m[x] - centre;
            const float predicted = m[x] + rowTerm + cx * float(x) + d * (a1 + a2 * d) + cl * float(l[x]) +
                                    sx * (padded[x + 1] - padded[x - 1]) + sy * (down[x] - up[x]);
            const float res = in[x] - predicted;
            o[x] = res * res / (sv[x] + noise2);
        }
    }
    return out;
}

} // namespace vision
