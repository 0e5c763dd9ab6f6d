#pragma once

// A rendered mould for the inspection evaluation and the vision tests: brushed
// steel with 20 pockets (ribs, bosses, ejector pins), runners and fixed
// reflections, seen by a camera with blur and noise. Frames are made from a
// description (disturbances of a good cycle, or a left-over part) and a seed,
// so the same set comes back on every machine.

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace mouldscene {

constexpr int kWidth = 1280;
constexpr int kHeight = 1024;
constexpr int kColumns = 5;
constexpr int kRows = 4;
constexpr int kRoiW = 220;
constexpr int kRoiH = 208;
constexpr double kBaseBlur = 0.8;   // the camera's own blur
constexpr double kBaseNoise = 1.5;  // and noise (grey levels)

// The 20 ROIs, one over each pocket, away from the frame's sides.
inline std::vector<cv::Rect> roiBoxes()
{
    std::vector<cv::Rect> boxes;
    for (int r = 0; r < kRows; ++r)
        for (int c = 0; c < kColumns; ++c)
            boxes.emplace_back(44 + c * 243, 50 + r * 240, kRoiW, kRoiH);
    return boxes;
}

enum class Disturbance { None, Brightness, Gamma, Gradient, Noise, Blur, Shift, Rotation, Droplet, Glare, Mix };
inline const char* name(Disturbance d)
{
    static const char* const names[] = {"none", "brightness", "gamma", "gradient", "noise", "blur",
                                        "shift", "rotation", "droplet", "glare", "mix"};
    return names[int(d)];
}
constexpr Disturbance kGoodClasses[] = {Disturbance::Brightness, Disturbance::Gamma,    Disturbance::Gradient,
                                        Disturbance::Noise,      Disturbance::Blur,     Disturbance::Shift,
                                        Disturbance::Rotation,   Disturbance::Droplet,  Disturbance::Glare,
                                        Disturbance::Mix};

enum class Contrast { Bright, Dark, Texture };
enum class Place { Centre, NearSide, Straddling };
inline const char* name(Contrast c) { return c == Contrast::Bright ? "bright" : c == Contrast::Dark ? "dark" : "texture"; }
inline const char* name(Place p) { return p == Place::Centre ? "centre" : p == Place::NearSide ? "near side" : "straddling"; }
constexpr double kPartShares[] = {0.002, 0.005, 0.01, 0.02, 0.05};  // of a ROI's area

// What one frame shows.
struct Camera
{
    double gain = 1, gamma = 1;
    double gradient = 0, gradientAngle = 0;  // relative change across the frame, its direction
    double noise = kBaseNoise, blur = kBaseBlur;
    double dx = 0, dy = 0, angle = 0;         // mould moved and turned (degrees, about the centre)
    bool droplet = false, glare = false;
};

struct Part
{
    bool present = false;
    Contrast contrast = Contrast::Bright;
    Place place = Place::Centre;
    double share = 0.01;
    int roi = 0;
};

struct FrameSpec
{
    Disturbance disturbance = Disturbance::None;
    Camera camera;
    Part part;
    unsigned seed = 0;
};

namespace detail {

inline cv::Mat streaks(cv::RNG& rng, cv::Size size, double along, double across, double amplitude)
{
    cv::Mat n(size, CV_32F);
    rng.fill(n, cv::RNG::NORMAL, 0, 1);
    cv::GaussianBlur(n, n, cv::Size(0, 0), along, across, cv::BORDER_REFLECT);
    cv::Scalar mean, dev;
    cv::meanStdDev(n, mean, dev);
    return (n - mean[0]) * (amplitude / std::max(1e-6, dev[0]));
}

// Anti-aliased filled shape as a 0..1 float coverage (drawn 4x larger, then reduced).
template <class Draw>
cv::Mat coverage(cv::Size size, Draw draw)
{
    constexpr int kShift = 2;
    cv::Mat big = cv::Mat::zeros(size.height << kShift, size.width << kShift, CV_8UC1);
    draw(big, 1 << kShift);
    cv::Mat small;
    cv::resize(big, small, size, 0, 0, cv::INTER_AREA);
    small.convertTo(small, CV_32F, 1.0 / 255);
    return small;
}

inline void paint(cv::Mat& img, const cv::Mat& cover, const cv::Mat& value)
{
    img = img.mul(1 - cover) + value.mul(cover);
}

inline void paint(cv::Mat& img, const cv::Mat& cover, double value)
{
    img = img.mul(1 - cover) + cover * value;
}

inline void disc(cv::Mat& img, cv::Point2d c, double r, double value)
{
    paint(img, coverage(img.size(), [&](cv::Mat& m, int s) {
              cv::circle(m, cv::Point(int(c.x * s), int(c.y * s)), int(r * s), 255, cv::FILLED);
          }),
          value);
}

inline void box(cv::Mat& img, cv::Rect2d b, double value)
{
    paint(img, coverage(img.size(), [&](cv::Mat& m, int s) {
              cv::rectangle(m, cv::Rect(int(b.x * s), int(b.y * s), int(b.width * s), int(b.height * s)), 255,
                            cv::FILLED);
          }),
          value);
}

// The mould itself (float grey, before the camera): the same for every frame.
inline cv::Mat mould()
{
    cv::RNG rng(20240601);
    const cv::Size size(kWidth, kHeight);
    cv::Mat img = 150 + streaks(rng, size, 14, 0.6, 5.0);
    // Runners between the pockets of each row.
    for (int r = 0; r < kRows; ++r)
        box(img, cv::Rect2d(30, 50 + r * 240 + kRoiH / 2 - 6, kWidth - 60, 12), 78);
    for (const cv::Rect& roi : roiBoxes()) {
        const cv::Rect2d pocket(roi.x + 12, roi.y + 12, roi.width - 24, roi.height - 24);
        // Bevel lit from the top left, shadow at the bottom right.
        box(img, cv::Rect2d(pocket.x - 4, pocket.y - 4, pocket.width + 8, pocket.height + 8), 190);
        box(img, cv::Rect2d(pocket.x, pocket.y, pocket.width + 4, pocket.height + 4), 62);
        cv::Mat floor = 96 + streaks(rng, size, 0.6, 10, 4.0);
        cv::Mat cover = coverage(size, [&](cv::Mat& m, int s) {
            cv::rectangle(m, cv::Rect(int(pocket.x * s), int(pocket.y * s), int(pocket.width * s),
                                      int(pocket.height * s)), 255, cv::FILLED);
        });
        paint(img, cover, floor);
        // Ribs, a boss and ejector pins at places of their own in each pocket.
        const int ribs = rng.uniform(1, 3);
        for (int i = 0; i < ribs; ++i) {
            const double y = pocket.y + pocket.height * (0.25 + 0.5 * i / std::max(1, ribs - 1 + 1)) + rng.uniform(-8, 8);
            const double x = pocket.x + rng.uniform(15, 40);
            const double len = pocket.width * rng.uniform(0.45, 0.7);
            box(img, cv::Rect2d(x, y + 6, len, 2), 70);
            box(img, cv::Rect2d(x, y, len, 6), 178);
        }
        const cv::Point2d boss(pocket.x + pocket.width * rng.uniform(0.55, 0.8),
                               pocket.y + pocket.height * rng.uniform(0.3, 0.7));
        const double br = rng.uniform(12, 19);
        disc(img, boss, br + 2, 66);
        disc(img, boss, br, 172);
        disc(img, boss, br * 0.45, 48);
        for (int i = rng.uniform(2, 5); i > 0; --i) {
            const cv::Point2d pin(pocket.x + rng.uniform(20, int(pocket.width) - 20),
                                  pocket.y + rng.uniform(20, int(pocket.height) - 20));
            disc(img, pin, 6.5, 74);
            disc(img, pin, 5, 206);
        }
    }
    // Reflections of the lamps on the steel.
    for (int i = 0; i < 4; ++i) {
        cv::Mat spot = cv::Mat::zeros(size, CV_32F);
        cv::circle(spot, cv::Point(rng.uniform(100, kWidth - 100), rng.uniform(100, kHeight - 100)), 1, 1.0, cv::FILLED);
        cv::GaussianBlur(spot, spot, cv::Size(0, 0), rng.uniform(20, 40));
        double mx;
        cv::minMaxLoc(spot, nullptr, &mx);
        img += spot * (30.0 / mx);
    }
    return img;
}

inline const cv::Mat& cachedMould()
{
    static const cv::Mat m = mould();
    return m;
}

// Centre of a part of `share` of the ROI's area at its place, and its radius.
inline void partGeometry(const Part& p, cv::RNG& rng, cv::Point2d& centre, double& rx, double& ry)
{
    const cv::Rect roi = roiBoxes()[size_t(p.roi)];
    const double area = p.share * roi.area();
    const double aspect = rng.uniform(0.6, 1.6);
    rx = std::sqrt(area * aspect / CV_PI);
    ry = std::sqrt(area / aspect / CV_PI);
    const double margin = 3;
    switch (p.place) {
    case Place::Centre:
        centre = {roi.x + roi.width / 2.0 + rng.uniform(-20, 20), roi.y + roi.height / 2.0 + rng.uniform(-20, 20)};
        break;
    case Place::NearSide:
    case Place::Straddling: {
        const int side = rng.uniform(0, 4);
        const double along = rng.uniform(0.25, 0.75);
        const double in = p.place == Place::Straddling ? 0 : margin;
        switch (side) {
        case 0: centre = {roi.x + in + rx, roi.y + roi.height * along}; break;
        case 1: centre = {roi.br().x - in - rx, roi.y + roi.height * along}; break;
        case 2: centre = {roi.x + roi.width * along, roi.y + in + ry}; break;
        default: centre = {roi.x + roi.width * along, roi.br().y - in - ry}; break;
        }
        if (p.place == Place::Straddling) {
            // Centred on the side: half of the part lies inside the ROI.
            if (side == 0) centre.x -= rx;
            if (side == 1) centre.x += rx;
            if (side == 2) centre.y -= ry;
            if (side == 3) centre.y += ry;
        }
    }
    }
}

inline void addPart(cv::Mat& img, const Part& p, cv::RNG& rng)
{
    cv::Point2d c;
    double rx, ry;
    partGeometry(p, rng, c, rx, ry);
    const double turn = rng.uniform(0.0, 180.0);
    const cv::Mat cover = coverage(img.size(), [&](cv::Mat& m, int s) {
        cv::ellipse(m, cv::Point(int(c.x * s), int(c.y * s)), cv::Size(int(rx * s), int(ry * s)), turn, 0, 360, 255,
                    cv::FILLED);
    });
    const cv::Rect near = cv::Rect(int(c.x - rx - ry - 8), int(c.y - rx - ry - 8), int(2 * (rx + ry) + 16),
                                   int(2 * (rx + ry) + 16)) & cv::Rect(0, 0, img.cols, img.rows);
    const double around = cv::mean(img(near), cv::Mat(cover(near) < 0.5))[0];
    cv::Mat value;
    switch (p.contrast) {
    case Contrast::Bright: value = cv::Mat(img.size(), CV_32F, cv::Scalar(std::min(250.0, around + 40))); break;
    case Contrast::Dark: value = cv::Mat(img.size(), CV_32F, cv::Scalar(std::max(18.0, around - 35))); break;
    case Contrast::Texture:
        // The mould's own grey with a blotchy texture unlike the brushed steel.
        value = around + streaks(rng, img.size(), 1.6, 1.6, 16.0);
        break;
    }
    paint(img, cover, value);
}

} // namespace detail

// Renders one frame (8-bit grey, kWidth x kHeight).
inline cv::Mat render(const FrameSpec& spec)
{
    cv::RNG rng(spec.seed * 7919u + 17u);
    cv::Mat img = detail::cachedMould().clone();
    const Camera& cam = spec.camera;
    if (spec.part.present)
        detail::addPart(img, spec.part, rng);
    if (cam.dx != 0 || cam.dy != 0 || cam.angle != 0) {
        cv::Mat m = cv::getRotationMatrix2D(cv::Point2f(kWidth / 2.0f, kHeight / 2.0f), cam.angle, 1.0);
        m.at<double>(0, 2) += cam.dx;
        m.at<double>(1, 2) += cam.dy;
        cv::warpAffine(img, img, m, img.size(), cv::INTER_CUBIC, cv::BORDER_REPLICATE);
    }
    const cv::Point2d anywhere(rng.uniform(60, kWidth - 60), rng.uniform(60, kHeight - 60));
    if (cam.droplet) {
        const double r = rng.uniform(6, 13);
        const cv::Mat lens = detail::coverage(img.size(), [&](cv::Mat& m, int s) {
            cv::circle(m, cv::Point(int(anywhere.x * s), int(anywhere.y * s)), int(r * s), 255, cv::FILLED);
        });
        img = img.mul(1 - 0.3 * lens);
        detail::disc(img, anywhere + cv::Point2d(-r / 3, -r / 3), r / 4, 235);
    }
    if (cam.glare) {
        cv::Mat spot = cv::Mat::zeros(img.size(), CV_32F);
        cv::circle(spot, anywhere, 1, 1.0, cv::FILLED);
        cv::GaussianBlur(spot, spot, cv::Size(0, 0), rng.uniform(8, 18));
        double mx;
        cv::minMaxLoc(spot, nullptr, &mx);
        img += spot * (160.0 / mx);
    }
    // Lighting: gain with a linear gradient, then the response curve.
    cv::Mat light(img.size(), CV_32F);
    const double ca = std::cos(cam.gradientAngle), sa = std::sin(cam.gradientAngle);
    for (int y = 0; y < kHeight; ++y) {
        float* row = light.ptr<float>(y);
        for (int x = 0; x < kWidth; ++x) {
            const double t = ((x - kWidth / 2.0) * ca + (y - kHeight / 2.0) * sa) / std::hypot(kWidth, kHeight);
            row[x] = float(cam.gain * (1 + cam.gradient * t));
        }
    }
    img = img.mul(light);
    cv::max(img, 0.0, img);
    if (cam.gamma != 1) {
        cv::Mat unit = img / 255.0;
        cv::pow(unit, cam.gamma, unit);
        img = unit * 255.0;
    }
    cv::GaussianBlur(img, img, cv::Size(0, 0), cam.blur);
    cv::Mat noise(img.size(), CV_32F);
    rng.fill(noise, cv::RNG::NORMAL, 0, cam.noise);
    img += noise;
    cv::Mat out;
    img.convertTo(out, CV_8U);
    return out;
}

// The learnt template: the mould as the camera sees it on a quiet cycle.
inline cv::Mat templateFrame()
{
    FrameSpec s;
    s.seed = 1;
    return render(s);
}

// A good cycle under one disturbance, its strength drawn from the seed within the
// evaluated ranges (brightness +-15 %, gamma 0.8..1.25, gradient up to 15 %,
// noise up to 4, blur up to 1.5, shift up to 8 px, rotation up to 1.5 degrees).
inline FrameSpec good(Disturbance d, unsigned seed)
{
    cv::RNG rng(seed * 104729u + 3u);
    FrameSpec s;
    s.disturbance = d;
    s.seed = seed;
    Camera& c = s.camera;
    const auto pick = [&](bool on, auto set) { if (on) set(); };
    const bool mix = d == Disturbance::Mix;
    pick(d == Disturbance::Brightness || mix, [&] { c.gain = 1 + rng.uniform(-0.15, 0.15); });
    pick(d == Disturbance::Gamma || mix, [&] { c.gamma = std::exp(rng.uniform(std::log(0.8), std::log(1.25))); });
    pick(d == Disturbance::Gradient || mix, [&] {
        c.gradient = rng.uniform(0.05, 0.15);
        c.gradientAngle = rng.uniform(0.0, 2 * CV_PI);
    });
    pick(d == Disturbance::Noise || mix, [&] { c.noise = rng.uniform(kBaseNoise, 4.0); });
    pick(d == Disturbance::Blur || mix, [&] { c.blur = rng.uniform(kBaseBlur, 1.5); });
    pick(d == Disturbance::Shift || mix, [&] {
        const double r = rng.uniform(1.0, 8.0), a = rng.uniform(0.0, 2 * CV_PI);
        c.dx = r * std::cos(a);
        c.dy = r * std::sin(a);
    });
    pick(d == Disturbance::Rotation || mix, [&] { c.angle = rng.uniform(-1.5, 1.5); });
    c.droplet = d == Disturbance::Droplet;
    c.glare = d == Disturbance::Glare;
    return s;
}

// A cycle with a left-over part, under a mild mix of disturbances.
inline FrameSpec withPart(Contrast contrast, Place place, double share, unsigned seed)
{
    cv::RNG rng(seed * 15485863u + 11u);
    FrameSpec s;
    s.seed = seed;
    s.part = {true, contrast, place, share, rng.uniform(0, kRows * kColumns)};
    Camera& c = s.camera;
    c.gain = 1 + rng.uniform(-0.05, 0.05);
    c.dx = rng.uniform(-3.0, 3.0);
    c.dy = rng.uniform(-3.0, 3.0);
    c.angle = rng.uniform(-0.5, 0.5);
    c.noise = rng.uniform(kBaseNoise, 2.5);
    return s;
}

// The evaluation set: the training split (learning, tuning) and the test split
// come from seeds that never meet. Each has `goodPerClass` good frames per
// disturbance and `partsPerCase` NG frames per contrast x place x size.
inline std::vector<FrameSpec> split(bool test, int goodPerClass, int partsPerCase)
{
    const unsigned base = test ? 500000u : 100000u;
    std::vector<FrameSpec> set;
    unsigned seed = base;
    for (Disturbance d : kGoodClasses)
        for (int i = 0; i < goodPerClass; ++i)
            set.push_back(good(d, ++seed));
    for (Contrast c : {Contrast::Bright, Contrast::Dark, Contrast::Texture})
        for (Place p : {Place::Centre, Place::NearSide, Place::Straddling})
            for (double share : kPartShares)
                for (int i = 0; i < partsPerCase; ++i)
                    set.push_back(withPart(c, p, share, ++seed));
    return set;
}

} // namespace mouldscene
