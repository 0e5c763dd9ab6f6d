#pragma once

// Internal to the vision library: how a ROI of a live frame is brought onto
// its learnt mean before the two are compared.

#include <opencv2/core.hpp>

#include <array>
#include <vector>

namespace vision {

// The live ROI is modelled as the learnt mean M seen through a smooth change:
//   I(x + d) = M + c0 + c1 m + c2 m^2 + c3 x + c4 y + c5 L
// (m: M normalised, x and y: position, L: Laplacian of M). The polynomial in m
// absorbs brightness and gamma, the position terms a lighting gradient, the
// Laplacian a change of focus, and d a residual shift of up to 3 pixels. It
// is fitted on a fixed sample of checked pixels, re-weighted so that a
// left-over part does not pull the fit, and bounded: the grey mapping must
// rise at a plausible slope over the ROI's grey range (else a straight line is
// fitted) and a uniform change of a whole ROI is absorbed only in part.
class RoiFit
{
public:
    static constexpr int kTerms = 6;
    static constexpr int kUnknowns = kTerms + 2;  // the terms plus the shift

    // Learns the sample and the term scales from the mean M (float), its
    // Laplacian L (16-bit), the static variance (float) and the checked mask,
    // all of the ROI's size. Keeps references to all but the mask.
    void learn(const cv::Mat& mean, const cv::Mat& laplacian, const cv::Mat& staticVar, const cv::Mat& checked);

    struct Result
    {
        cv::Point2f shift;               // d: the live ROI is read at x + d
        std::array<double, kTerms> c{};  // coefficients of the terms
        double noise = 0;                // robust residual spread (grey levels)
    };
    // Fits a live grey ROI (8-bit, continuous, the model's size).
    Result fit(const cv::Mat& live) const;

    // Squared residual (live - prediction) over its variance (static plus the
    // fitted noise), over the whole ROI (float), the live ROI read at x + shift.
    cv::Mat deviation(const cv::Mat& live, const Result& r) const;

private:
    struct Sample
    {
        float x, y;        // pixel position
        float gx, gy;      // gradient of M
        float m, lap, sv;  // M, its Laplacian, the static variance
        std::array<float, kUnknowns> phi;  // the terms and the slopes, as fitted
    };
    std::array<double, kTerms> terms(float m, float lap, float x, float y) const;
    // One robust fit; `straight` leaves out the square grey term. weight
    // gets 1 for the samples that fitted, 0 for the others.
    Result fit(const cv::Mat& live, bool straight, std::vector<float>& weight) const;

    std::vector<Sample> m_samples;
    cv::Mat m_mean, m_laplacian, m_staticVar;
    double m_centre = 0, m_scale = 1, m_lapScale = 1;
    double m_low = 0, m_high = 0;  // grey range of the sample
    double m_halfW = 1, m_halfH = 1;
};

} // namespace vision
