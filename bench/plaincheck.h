#pragma once

// The check reference of the engine benchmark: the decisions of one camera's
// check (positioning, then per ROI its defect mask, opening, outer contours,
// area or count and verdict) written as plain OpenCV calls, the way one would
// without our classes. The found shift moves the ROI boxes instead of the frame.

#include "plainlocator.h"
#include "roispec.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <memory>
#include <vector>

class PlainCheck
{
public:
    static constexpr int kFilterSize = checkparams::kFilterSize;
    static constexpr int kMinSpot = checkparams::kMinSpot;
    static constexpr int kMaxDefectArea = checkparams::kMaxDefectArea;
    static constexpr int kSimilarityDiff = 50;  // grey step marked by the similarity compare
    static constexpr double kSsimC1 = 6.5025, kSsimC2 = 58.5225;

    // templ: the learnt frame; rois: the group's ROIs; positioning box, search window and angle range.
    PlainCheck(const cv::Mat& templ, const std::vector<RoiSpec>& rois, cv::Rect box, cv::Rect search, int range)
        : m_locator(std::make_unique<PlainLocator>(templ, box, search, range)), m_frameRect(0, 0, templ.cols, templ.rows)
    {
        for (const RoiSpec& s : rois) {
            Roi r{s, cv::Mat(s.box.size(), CV_8UC1, cv::Scalar(255)), {}, {}, 0, {}, {}, {}, {}};
            const cv::Mat t = templ(s.box);
            if (s.code == 0) {
                // The learnt range of each pixel: darkest and brightest within one pixel.
                cv::erode(t, r.low, cv::Mat());
                cv::dilate(t, r.high, cv::Mat());
                r.tolerance = 5 + (60 * (100 - s.sens)) / 100;
            } else if (s.code == 6) {
                t.convertTo(r.templ, CV_32F);
                cv::GaussianBlur(r.templ, r.templMean, cv::Size(7, 7), 1.5);
                cv::GaussianBlur(r.templ.mul(r.templ), r.templVar, cv::Size(7, 7), 1.5);
                r.templVar -= r.templMean.mul(r.templMean);
                r.templU8 = t.clone();
            }
            m_rois.push_back(std::move(r));
        }
    }

    // Checks the frame; the verdict and measured value of each ROI are kept.
    bool check(const cv::Mat& frame)
    {
        const PlainLocator::Pose pose = m_locator->locate(frame);
        bool ok = true;
        // The defects of all ROIs over the frame, for the view's overlay.
        defectsFrame.create(frame.size(), CV_8UC1);
        defectsFrame.setTo(0);
        verdicts.assign(m_rois.size(), 1);
        values.assign(m_rois.size(), 0);
        for (size_t i = 0; i < m_rois.size(); ++i) {
            const Roi& r = m_rois[i];
            const cv::Rect box = (r.spec.box + pose.shift) & m_frameRect;
            if (box.size() != r.spec.box.size())
                continue;  // moved out of the frame: the engine would see a black border there
            const cv::Mat image = frame(box);
            int k = kMinSpot;
            int score = 0;
            switch (r.spec.code) {
            case 0:
                // Outside the learnt range by more than the tolerance, in either direction.
                cv::subtract(r.low, image, m_a);
                cv::subtract(image, r.high, m_b);
                cv::max(m_a, m_b, m_a);
                cv::threshold(m_a, m_defects, r.tolerance, 255, cv::THRESH_BINARY);
                m_defects &= r.mask;
                k = kFilterSize;
                break;
            case 6:
                score = similarity(r, image);
                cv::absdiff(image, r.templU8, m_a);
                cv::threshold(m_a, m_defects, kSimilarityDiff, 255, cv::THRESH_BINARY);
                k = 1;
                break;
            default:
                band(r.spec, image);
                m_defects &= r.mask;
                if (r.spec.code == 7 || r.spec.code == 8)
                    k = 2 * r.spec.minWH + 1;
            }
            if (k > 1)
                cv::morphologyEx(m_defects, m_defects, cv::MORPH_OPEN,
                                 cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(k, k)));
            const int area = cv::countNonZero(m_defects);
            m_contours.clear();
            if (area)
                cv::findContours(m_defects, m_contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_NONE);
            const int found = int(m_contours.size());
            cv::Mat overlay = defectsFrame(box);
            overlay |= m_defects;
            boxes.clear();
            for (const auto& contour : m_contours)
                boxes.push_back(cv::boundingRect(contour) + box.tl());
            const RoiSpec& s = r.spec;
            bool roiOk = true;
            switch (s.code) {
            case 0: case 42: roiOk = area <= kMaxDefectArea; values[i] = area; break;
            case 1: roiOk = s.sens <= area && area <= s.area; values[i] = area; break;
            case 4: case 5: roiOk = s.area <= area && area <= s.minWH; values[i] = area; break;
            case 6: roiOk = score >= s.sens; values[i] = score; break;
            case 7: case 8: roiOk = (s.area & 0xFFFF) <= found && found <= (s.area >> 16); values[i] = found; break;
            }
            verdicts[i] = roiOk;
            ok = ok && roiOk;
        }
        return ok;
    }

    std::vector<char> verdicts;
    std::vector<int> values;
    cv::Mat defectsFrame;
    std::vector<cv::Rect> boxes;  // the last ROI's defect boxes

private:
    struct Roi
    {
        RoiSpec spec;
        cv::Mat mask;
        cv::Mat low, high;
        int tolerance;
        cv::Mat templ, templMean, templVar, templU8;
    };

    void band(const RoiSpec& s, const cv::Mat& image)
    {
        int lo = 0, hi = 255;
        if (s.code == 1) {
            lo = std::min(s.minWH & 0xFF, (s.minWH >> 8) & 0xFF);
            hi = std::max(s.minWH & 0xFF, (s.minWH >> 8) & 0xFF);
        } else if (s.code == 4 || s.code == 8) {
            hi = s.sens & 0xFF;
        } else if (s.code == 5 || s.code == 7) {
            lo = s.sens & 0xFF;
        }
        cv::inRange(image, cv::Scalar(lo), cv::Scalar(hi), m_defects);
    }

    // Mean structural similarity (7 x 7 Gaussian windows) in percent.
    int similarity(const Roi& r, const cv::Mat& image)
    {
        image.convertTo(m_f, CV_32F);
        cv::GaussianBlur(m_f, m_mean, cv::Size(7, 7), 1.5);
        cv::GaussianBlur(m_f.mul(m_f), m_var, cv::Size(7, 7), 1.5);
        m_var -= m_mean.mul(m_mean);
        cv::GaussianBlur(m_f.mul(r.templ), m_cov, cv::Size(7, 7), 1.5);
        m_cov -= m_mean.mul(r.templMean);
        const cv::Mat num = (2 * m_mean.mul(r.templMean) + kSsimC1).mul(2 * m_cov + kSsimC2);
        const cv::Mat den = (m_mean.mul(m_mean) + r.templMean.mul(r.templMean) + kSsimC1).mul(m_var + r.templVar + kSsimC2);
        cv::divide(num, den, m_ssim);
        return int(std::max(0.0, cv::mean(m_ssim, r.mask)[0]) * 100 + 0.5);
    }

    std::unique_ptr<PlainLocator> m_locator;
    cv::Rect m_frameRect;
    std::vector<Roi> m_rois;
    cv::Mat m_a, m_b, m_defects, m_f, m_mean, m_var, m_cov, m_ssim;
    std::vector<std::vector<cv::Point>> m_contours;
};
