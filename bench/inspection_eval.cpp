// Inspection accuracy on the rendered mould: the engine with the settings an
// operator gets (default ROI settings, positioning on, one learnt template)
// beside a plain OpenCV check (align, per-ROI linear grey fit, absdiff, a
// threshold learnt from 20 good frames of the training split, a small opening,
// an area count). Prints both confusion tables, misses by size, contrast and
// place, false NGs by disturbance and the time per frame (one core).
//
//   inspection_eval [--split test|train] [--good N] [--parts N] [--sensitivity S]
//                   [--write DIR]   (also writes the frames and the engine's verdicts)
//                   [--verbose]     (lists the parts the engine missed)

#include "mouldinspection.h"
#include "mouldscene.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/video/tracking.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <string>

namespace {

using namespace mouldscene;

constexpr int kPlainTrainingFrames = 20;
constexpr int kPlainArea = 25;      // pixels left after the opening that make a ROI NG
constexpr double kPlainMargin = 2;  // grey levels above the worst good frame
constexpr int kEccLevels = 2;       // align on a quarter-size image, then apply at full size

// The plain check, learnt from the template and good frames.
class PlainCheck
{
public:
    explicit PlainCheck(const cv::Mat& templ)
        : m_templ(templ)
        , m_boxes(roiBoxes())
        , m_thresholds(m_boxes.size(), 0.0)
    {
        m_small = shrink(templ);
    }

    void learn(const std::vector<cv::Mat>& goodFrames)
    {
        for (const cv::Mat& f : goodFrames) {
            const cv::Mat a = align(f);
            for (size_t r = 0; r < m_boxes.size(); ++r) {
                cv::Mat e;
                cv::erode(diff(a, r), e, cv::Mat());
                double mx;
                cv::minMaxLoc(e, nullptr, &mx);
                m_thresholds[r] = std::max(m_thresholds[r], mx + kPlainMargin);
            }
        }
    }

    bool check(const cv::Mat& frame, std::vector<int>* ng = nullptr) const
    {
        const cv::Mat a = align(frame);
        bool ok = true;
        if (ng)
            ng->clear();
        for (size_t r = 0; r < m_boxes.size(); ++r) {
            cv::Mat mask = diff(a, r) > m_thresholds[r];
            cv::morphologyEx(mask, mask, cv::MORPH_OPEN, cv::Mat());
            if (cv::countNonZero(mask) > kPlainArea) {
                ok = false;
                if (ng)
                    ng->push_back(int(r));
            }
        }
        return ok;
    }

private:
    static cv::Mat shrink(const cv::Mat& m)
    {
        cv::Mat s = m;
        for (int i = 0; i < kEccLevels; ++i)
            cv::pyrDown(s, s);
        return s;
    }

    cv::Mat align(const cv::Mat& frame) const
    {
        cv::Mat warp = cv::Mat::eye(2, 3, CV_32F);
        try {
            cv::findTransformECC(m_small, shrink(frame), warp, cv::MOTION_EUCLIDEAN,
                                 cv::TermCriteria(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, 50, 1e-5),
                                 cv::noArray(), 3);
        } catch (const cv::Exception&) {
            warp = cv::Mat::eye(2, 3, CV_32F);
        }
        warp.at<float>(0, 2) *= 1 << kEccLevels;
        warp.at<float>(1, 2) *= 1 << kEccLevels;
        cv::Mat out;
        cv::warpAffine(frame, out, warp, frame.size(), cv::INTER_LINEAR | cv::WARP_INVERSE_MAP, cv::BORDER_REPLICATE);
        return out;
    }

    // |frame - (a x template + b)| over one ROI, a and b by least squares.
    cv::Mat diff(const cv::Mat& aligned, size_t r) const
    {
        cv::Mat t, f;
        m_templ(m_boxes[r]).convertTo(t, CV_32F);
        aligned(m_boxes[r]).convertTo(f, CV_32F);
        cv::Scalar mt, st, mf, sf;
        cv::meanStdDev(t, mt, st);
        cv::meanStdDev(f, mf, sf);
        const double cov = cv::mean((t - mt[0]).mul(f - mf[0]))[0];
        const double a = st[0] > 0 ? cov / (st[0] * st[0]) : 1.0;
        cv::Mat d = cv::abs(f - (t * a + (mf[0] - a * mt[0])));
        return d;
    }

    cv::Mat m_templ, m_small;
    std::vector<cv::Rect> m_boxes;
    std::vector<double> m_thresholds;
};

struct Tally
{
    int okOk = 0, okNg = 0, ngOk = 0, ngNg = 0;
    std::map<std::string, std::pair<int, int>> missed;     // case: (missed, of)
    std::map<std::string, std::pair<int, int>> falseNg;    // disturbance: (NG, of)
    std::vector<double> ms;
};

void count(Tally& t, const FrameSpec& s, bool ok, const std::vector<int>& ngRois)
{
    if (!s.part.present) {
        (ok ? t.okOk : t.okNg)++;
        auto& f = t.falseNg[name(s.disturbance)];
        f.first += ok ? 0 : 1;
        f.second += 1;
        return;
    }
    // Caught only when the ROI that holds the part says NG.
    const bool caught = std::find(ngRois.begin(), ngRois.end(), s.part.roi) != ngRois.end();
    (caught ? t.ngNg : t.ngOk)++;
    char share[16];
    std::snprintf(share, sizeof share, "%.1f%%", s.part.share * 100);
    for (const std::string& key : {std::string("size ") + share, std::string("contrast ") + name(s.part.contrast),
                                   std::string("place ") + name(s.part.place)}) {
        auto& m = t.missed[key];
        m.first += caught ? 0 : 1;
        m.second += 1;
    }
}

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::nth_element(v.begin(), v.begin() + std::ptrdiff_t(v.size() / 2), v.end());
    return v[v.size() / 2];
}

void print(const char* title, const Tally& e, const Tally& p)
{
    std::printf("\n%s\n", title);
    std::printf("confusion (truth x verdict)   engine OK   engine NG   plain OK   plain NG\n");
    std::printf("  good cycle                  %9d   %9d   %8d   %8d\n", e.okOk, e.okNg, p.okOk, p.okNg);
    std::printf("  left-over part              %9d   %9d   %8d   %8d\n", e.ngOk, e.ngNg, p.ngOk, p.ngNg);
    std::printf("missed parts                  engine      plain\n");
    for (const auto& [key, v] : e.missed)
        std::printf("  %-26s  %3d/%-3d     %3d/%-3d\n", key.c_str(), v.first, v.second, p.missed.at(key).first,
                    p.missed.at(key).second);
    std::printf("false NG                      engine      plain\n");
    for (const auto& [key, v] : e.falseNg)
        std::printf("  %-26s  %3d/%-3d     %3d/%-3d\n", key.c_str(), v.first, v.second, p.falseNg.at(key).first,
                    p.falseNg.at(key).second);
    const int parts = e.ngOk + e.ngNg;
    std::printf("missed share of NG frames     %5.1f %%     %5.1f %%\n", parts ? 100.0 * e.ngOk / parts : 0.0,
                parts ? 100.0 * p.ngOk / parts : 0.0);
    std::printf("time per frame (median, ms)   %6.1f      %6.1f\n", median(e.ms), median(p.ms));
    if (median(p.ms) > 0)
        std::printf("ratio engine / plain time     %6.2f\n", median(e.ms) / median(p.ms));
}

} // namespace

int main(int argc, char** argv)
{
    bool test = true;
    int goodPerClass = 10, partsPerCase = 2, sensitivity = MouldInspection::kSensitivity;
    std::string writeDir;
    bool verbose = false;
    for (int i = 1; i < argc; i += 2) {
        const std::string key = argv[i], value = i + 1 < argc ? argv[i + 1] : "";
        if (key == "--verbose") {
            verbose = true;
            --i;
        } else if (key == "--split")
            test = value != "train";
        else if (key == "--good")
            goodPerClass = std::stoi(value);
        else if (key == "--parts")
            partsPerCase = std::stoi(value);
        else if (key == "--sensitivity")
            sensitivity = std::stoi(value);
        else if (key == "--write")
            writeDir = value;
        else {
            std::fprintf(stderr, "unknown option %s\n", key.c_str());
            return 2;
        }
    }
    cv::setNumThreads(1);
    using Clock = std::chrono::steady_clock;
    const auto msSince = [](Clock::time_point t0) {
        return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    };

    MouldInspection engine(sensitivity);
    PlainCheck plain(templateFrame());
    {
        // Good frames of the training split only: never the test split.
        std::vector<cv::Mat> goodFrames;
        for (int i = 0; i < kPlainTrainingFrames; ++i)
            goodFrames.push_back(render(good(Disturbance::Mix, 900000u + unsigned(i))));
        plain.learn(goodFrames);
    }

    std::ofstream verdicts;
    if (!writeDir.empty()) {
        // What the end-to-end run lays into the program's folder: template, ROI boxes, frames.
        cv::imwrite(writeDir + "/template0.bmp", templateFrame());
        std::ofstream rois(writeDir + "/rois.txt");
        for (const cv::Rect& b : roiBoxes())
            rois << b.x << ' ' << b.y << ' ' << b.width << ' ' << b.height << '\n';
        verdicts.open(writeDir + "/verdicts.txt");
    }
    const std::vector<FrameSpec> set = split(test, goodPerClass, partsPerCase);
    Tally e, p;
    std::vector<int> ng;
    int index = 0;
    for (const FrameSpec& s : set) {
        const cv::Mat frame = render(s);
        auto t0 = Clock::now();
        const bool ok = engine.check(frame, &ng);
        e.ms.push_back(msSince(t0));
        count(e, s, ok, ng);
        if (verbose && s.part.present && std::find(ng.begin(), ng.end(), s.part.roi) == ng.end())
            std::printf("missed: %s %s %.1f%% in ROI %d (area %d)\n", name(s.part.contrast), name(s.part.place),
                        s.part.share * 100, s.part.roi, engine.state->roiValue[0][s.part.roi]);
        if (verdicts.is_open()) {
            char file[32];
            std::snprintf(file, sizeof file, "frame%04d.png", index);
            cv::imwrite(writeDir + "/" + file, frame);
            verdicts << file << ' ' << (ok ? "OK" : "NG") << '\n';
        }
        t0 = Clock::now();
        const bool plainOk = plain.check(frame, &ng);
        p.ms.push_back(msSince(t0));
        count(p, s, plainOk, ng);
        ++index;
    }
    print(test ? "test split" : "training split", e, p);
    return 0;
}
