#include "surf.h"

#include "refusallog.h"
#include "visionimage.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <vector>

namespace {
// Stabilising constants of the structural similarity for 8-bit images.
constexpr double kC1 = (0.01 * 255) * (0.01 * 255);
constexpr double kC2 = (0.03 * 255) * (0.03 * 255);
constexpr int kWindow = 7;
constexpr double kSigma = 1.5;
constexpr int kDefaultDiff = 50;

cv::Mat blur(const cv::Mat& m)
{
    cv::Mat out;
    cv::GaussianBlur(m, out, cv::Size(kWindow, kWindow), kSigma);
    return out;
}

struct Learnt
{
    cv::Mat gray;   // 8-bit template
    cv::Mat mean;   // local mean (double)
    cv::Mat var;    // local variance
    cv::Mat value;  // template as double
};
} // namespace

struct SURF::Impl : vision::RoiModel
{
    int diffThreshold = kDefaultDiff;
    std::vector<cv::Mat> added;
    std::vector<Learnt> learnt;
};

SURF::SURF() = default;
SURF::~SURF() = default;
SURF::SURF(SURF&&) noexcept = default;
SURF& SURF::operator=(SURF&&) noexcept = default;

bool SURF::IsValid() const
{
    return d && d->trained;
}

void SURF::Clear()
{
    d.reset();
}

bool SURF::Create(int width, int height, const cv::Mat& mask)
{
    return vision::createRoiModel(d, width, height, mask);
}

bool SURF::AddTemp(const cv::Mat& image, int, int diffThreshold, int)
{
    if (!d || d->trained)
        return false;
    try {
        cv::Mat gray = vision::grayOfBox(image, *d);
        if (gray.empty())
            return false;
        d->added.push_back(gray);
        d->diffThreshold = std::clamp(diffThreshold, 0, 255);
        return true;
    } catch (const std::exception& e) {
        vision::logRefusal("SURF::AddTemp", e);
        return false;
    }
}

bool SURF::Train(int, int, int, int)
{
    if (!d || d->added.empty() || cv::countNonZero(d->mask) == 0)
        return false;
    try {
        for (const cv::Mat& t : d->added) {
            Learnt l;
            l.gray = t;
            t.convertTo(l.value, CV_64F);
            l.mean = blur(l.value);
            l.var = blur(l.value.mul(l.value)) - l.mean.mul(l.mean);
            d->learnt.push_back(l);
        }
        d->added.clear();
        d->trained = true;
        return true;
    } catch (const std::exception& e) {
        vision::logRefusal("SURF::Train", e);
        d.reset();
        return false;
    }
}

float SURF::Match(cv::Mat& image, cv::Mat& defects)
{
    if (!IsValid())
        return 0.0f;
    try {
        const Impl& m = *d;
        cv::Mat gray = vision::grayOfBox(image, m);
        if (gray.empty())
            return 0.0f;
        cv::Mat x;
        gray.convertTo(x, CV_64F);
        const cv::Mat muX = blur(x);
        const cv::Mat varX = blur(x.mul(x)) - muX.mul(muX);

        double best = -1.0;
        const Learnt* bestT = nullptr;
        for (const Learnt& t : m.learnt) {
            const cv::Mat cov = blur(x.mul(t.value)) - muX.mul(t.mean);
            cv::Mat num = (2 * muX.mul(t.mean) + kC1).mul(2 * cov + kC2);
            cv::Mat den = (muX.mul(muX) + t.mean.mul(t.mean) + kC1).mul(varX + t.var + kC2);
            cv::Mat ssim;
            cv::divide(num, den, ssim);
            const double score = cv::mean(ssim, m.mask)[0];
            if (score > best) {
                best = score;
                bestT = &t;
            }
        }
        cv::Mat diff, result;
        cv::absdiff(gray, bestT->gray, diff);
        cv::compare(diff, m.diffThreshold, result, cv::CMP_GT);
        result &= m.mask;
        vision::writeMask(result, defects);
        // Identical images must score a full 100 after the caller truncates.
        return float(std::clamp(best * 100.0 + 1e-6, 0.0, 100.0));
    } catch (const std::exception& e) {
        vision::logRefusal("SURF::Match", e);
        return 0.0f;
    }
}
