#pragma once

// The positioning reference of the engine benchmark, in plain OpenCV calls:
// normalised cross-correlation (TM_CCOEFF_NORMED) on an image pyramid. Every
// place of the search window, at every coarse angle step, is scored on the
// coarsest level only; each finer level scores +-2 pixels and +-half the
// previous angle step around the best, with a central patch of the template
// (the pose is already known to a few pixels there), down to full resolution.

#include <opencv2/imgproc.hpp>

#include <cmath>
#include <vector>

class PlainLocator
{
public:
    struct Pose
    {
        cv::Point shift;  // where the learnt box now lies, minus where it was learnt
        double angle = 0;
        double score = -1;
    };

    static constexpr int kLevels = 3;           // coarsest level: 1/8 scale
    static constexpr int kRefinePatch = 192;    // side of the template patch used below the coarsest level
    static constexpr int kRefineReach = 2;      // pixels searched each way on a finer level
    static constexpr double kCoarseStep = 2.0;  // degrees between angles on the coarsest level
    static constexpr double kFineStep = kCoarseStep / (1 << kLevels);

    // Learns the box of the template frame, turned in steps of kFineStep over +-range degrees.
    PlainLocator(const cv::Mat& templFrame, cv::Rect box, cv::Rect search, int range)
        : m_box(box), m_search(search), m_steps(int(std::lround(range / kFineStep)))
    {
        const cv::Point2f centre(box.x + box.width / 2.0f, box.y + box.height / 2.0f);
        for (int s = -m_steps; s <= m_steps; ++s) {
            // Only the box is turned: the matrix is moved so that the box's corner lands on (0, 0).
            cv::Mat turn = cv::getRotationMatrix2D(centre, s * kFineStep, 1.0);
            turn.at<double>(0, 2) -= box.x;
            turn.at<double>(1, 2) -= box.y;
            cv::Mat turned;
            cv::warpAffine(templFrame, turned, turn, box.size());
            std::vector<cv::Mat> pyr{turned};
            for (int l = 0; l < kLevels; ++l) {
                cv::Mat n;
                cv::pyrDown(pyr.back(), n);
                pyr.push_back(n);
            }
            m_templates.push_back(std::move(pyr));
        }
        m_image.resize(kLevels + 1);
    }

    Pose locate(const cv::Mat& frame)
    {
        m_image[0] = frame(m_search);
        for (int l = 0; l < kLevels; ++l)
            cv::pyrDown(m_image[l], m_image[l + 1]);
        const int stride = 1 << kLevels;  // fine steps per coarse step
        Pose best;
        cv::Point at;
        int step = 0;
        for (int s = -(m_steps / stride) * stride; s <= m_steps; s += stride) {
            double score;
            cv::Point loc;
            cv::matchTemplate(m_image[kLevels], turned(s, kLevels), m_score, cv::TM_CCOEFF_NORMED);
            cv::minMaxLoc(m_score, nullptr, &score, nullptr, &loc);
            if (score > best.score) {
                best.score = score;
                at = loc;
                step = s;
            }
        }
        for (int l = kLevels - 1; l >= 0; --l) {
            const int half = stride >> (kLevels - l);
            cv::Point levelAt;
            int levelStep = step;
            double levelScore = -2;
            for (int s = step - half; s <= step + half; s += half) {
                if (s < -m_steps || s > m_steps)
                    continue;
                const cv::Mat& t = turned(s, l);
                const cv::Rect patch = centralPatch(t.size());
                const cv::Point expected = 2 * at + patch.tl();
                const cv::Rect window = cv::Rect(expected.x - kRefineReach, expected.y - kRefineReach,
                                                 patch.width + 2 * kRefineReach, patch.height + 2 * kRefineReach)
                                        & cv::Rect(0, 0, m_image[l].cols, m_image[l].rows);
                if (window.width < patch.width || window.height < patch.height)
                    continue;
                double score;
                cv::Point loc;
                cv::matchTemplate(m_image[l](window), t(patch), m_score, cv::TM_CCOEFF_NORMED);
                cv::minMaxLoc(m_score, nullptr, &score, nullptr, &loc);
                if (score > levelScore) {
                    levelScore = score;
                    levelAt = window.tl() + loc - patch.tl();
                    levelStep = s;
                }
            }
            at = levelAt;
            step = levelStep;
            best.score = levelScore;
        }
        best.shift = at + m_search.tl() - m_box.tl();
        best.angle = step * kFineStep;
        return best;
    }

private:
    const cv::Mat& turned(int step, int level) const { return m_templates[size_t(step + m_steps)][size_t(level)]; }

    static cv::Rect centralPatch(cv::Size size)
    {
        const int w = std::min(size.width, kRefinePatch);
        const int h = std::min(size.height, kRefinePatch);
        return {(size.width - w) / 2, (size.height - h) / 2, w, h};
    }

    cv::Rect m_box;
    cv::Rect m_search;
    int m_steps;
    std::vector<std::vector<cv::Mat>> m_templates;  // [angle step][pyramid level]
    std::vector<cv::Mat> m_image;                   // the frame's pyramid, reused
    cv::Mat m_score;
};
