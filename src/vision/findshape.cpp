#include "findshape.h"

#include "refusallog.h"
#include "visionimage.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

namespace {
constexpr int kMinLevelSide = 12;         // smallest template side on a coarse level
constexpr size_t kMinLevelPoints = 16;    // a coarse level needs this many edge points
constexpr size_t kMinModelPoints = 8;     // the full-resolution model needs this many
constexpr size_t kMaxPointsFine = 3000;
constexpr size_t kMaxPointsCoarse = 800;
constexpr int kAutoContrast = 255;
constexpr float kAutoContrastShare = 0.2f;  // automatic edge threshold: share of the strongest edge
constexpr float kMinEdge = 8.0f;            // Sobel units (two grey levels)
constexpr float kSobelGain = 4.0f;          // a 3x3 Sobel answers a grey step h with about 4 h
constexpr int kMaxLayers = 10;
constexpr int kMaxCandidates = 12;
constexpr int kFineCandidates = 3;
constexpr double kCoarseRelax = 0.6;        // coarse levels blur edges: accept lower scores there
constexpr double kKeepShare = 0.85;         // keep candidates within this share of the level's best
constexpr int kRefineShift = 2;             // pixels searched around a candidate on each finer level
constexpr double kMaxAngleStep = 10.0;
constexpr double kMaxFineAngleStep = 0.5;
constexpr double kBaseScore = 0.3;
constexpr double kScorePerAccuracy = 0.05;
constexpr unsigned kShuffleSeed = 20061;
constexpr double kDegPerRad = 180.0 / CV_PI;

struct EdgePoint
{
    float x, y;    // offset from the template centre on this level
    float dx, dy;  // unit gradient direction
};

struct Level
{
    std::vector<EdgePoint> points;
    float radius = 0;
    double angleStep = 0;
};

struct Pose
{
    int u = 0, v = 0;  // template centre in level coordinates
    double angle = 0;  // rotation of the model (OpenCV's sense)
    double score = -1;
};

// The model turned by one angle, addressed into a gradient field of a given row stride.
struct TurnedModel
{
    std::vector<int> offsets;
    std::vector<cv::Vec2f> dirs;
};

TurnedModel turn(const Level& level, double angle, int stride)
{
    TurnedModel m;
    const double rad = angle / kDegPerRad;
    const float c = float(std::cos(rad)), s = float(std::sin(rad));
    m.offsets.reserve(level.points.size());
    m.dirs.reserve(level.points.size());
    for (const EdgePoint& p : level.points) {
        // Same mapping as warpAffine with getRotationMatrix2D(angle).
        const int ix = int(std::lround(c * p.x + s * p.y));
        const int iy = int(std::lround(-s * p.x + c * p.y));
        m.offsets.push_back(iy * stride + ix);
        m.dirs.emplace_back(c * p.dx + s * p.dy, -s * p.dx + c * p.dy);
    }
    return m;
}

// Mean direction agreement at one place; gives up (returns -1) as soon as the
// rest of the points could no longer lift it to `needed`.
float scoreAt(const cv::Vec2f* centre, const TurnedModel& m, double needed)
{
    const int n = int(m.offsets.size());
    const float stop = float((needed - 1.0) * n);
    float sum = 0;
    for (int i = 0; i < n; ++i) {
        const cv::Vec2f& g = centre[m.offsets[i]];
        sum += m.dirs[i][0] * g[0] + m.dirs[i][1] * g[1];
        if (sum < stop + float(i + 1))
            return -1.0f;
    }
    return sum / float(n);
}

// The unit direction of a Sobel gradient; zero where the image is flat.
cv::Vec2f unitGradient(float gx, float gy)
{
    const float mag = std::sqrt(gx * gx + gy * gy);
    return mag >= kMinEdge ? cv::Vec2f(gx / mag, gy / mag) : cv::Vec2f(0, 0);
}

// The gradient field of a refinement level, computed only at the pixels the
// model's points land on (a few thousand per candidate pose, against the
// whole window around every candidate). Each value is what gradientField
// would give there: the same 3 x 3 Sobel sums with the image's border
// reflected, the same normalisation.
class LazyField
{
public:
    // A new search stamps its values with a new mark instead of clearing the
    // marks of the last one (a megabyte or more per search); the marks are
    // cleared once when the stamp wraps round.
    void reset(const cv::Mat& img, const cv::Rect& area)
    {
        m_img = &img;
        m_area = area;
        const size_t n = size_t(std::max(0, area.area()));
        if (m_known.size() < n) {
            // Left unset: a value is written only where a search looks, so
            // most pages of a large area never become resident.
            m_values.reset(new float[2 * n]);
            m_known.assign(n, 0);
            m_search = 0;
        }
        if (++m_search == 0) {
            std::fill(m_known.begin(), m_known.end(), 0);
            m_search = 1;
        }
    }
    int stride() const { return m_area.width; }
    // Index of image point (x, y) in the field.
    int indexOf(int x, int y) const { return (y - m_area.y) * m_area.width + (x - m_area.x); }

    // The unit gradient {x, y} at a field index.
    const float* at(int index)
    {
        float* value = m_values.get() + 2 * size_t(index);
        if (m_known[size_t(index)] != m_search) {
            m_known[size_t(index)] = m_search;
            const cv::Vec2f g = compute(m_area.x + index % m_area.width, m_area.y + index / m_area.width);
            value[0] = g[0];
            value[1] = g[1];
        }
        return value;
    }

private:
    static int reflect(int i, int n) { return i < 0 ? std::min(-i, n - 1) : (i >= n ? std::max(2 * n - 2 - i, 0) : i); }

    cv::Vec2f compute(int x, int y) const
    {
        const cv::Mat& img = *m_img;
        if (x < 0 || y < 0 || x >= img.cols || y >= img.rows)
            return cv::Vec2f(0, 0);
        const int x0 = reflect(x - 1, img.cols), x2 = reflect(x + 1, img.cols);
        const uchar* up = img.ptr<uchar>(reflect(y - 1, img.rows));
        const uchar* mid = img.ptr<uchar>(y);
        const uchar* down = img.ptr<uchar>(reflect(y + 1, img.rows));
        const int gx = (up[x2] - up[x0]) + 2 * (mid[x2] - mid[x0]) + (down[x2] - down[x0]);
        const int gy = (down[x0] - up[x0]) + 2 * (down[x] - up[x]) + (down[x2] - up[x2]);
        return unitGradient(float(gx), float(gy));
    }

    const cv::Mat* m_img = nullptr;
    cv::Rect m_area;
    std::unique_ptr<float[]> m_values;  // two floats per field point
    std::vector<uchar> m_known;         // the search (modulo 255) that computed each value
    uchar m_search = 0;
};

// scoreAt over a lazily computed field; centre is the field index of the pose.
float scoreAt(LazyField& field, int centre, const TurnedModel& m, double needed)
{
    const int n = int(m.offsets.size());
    const float stop = float((needed - 1.0) * n);
    float sum = 0;
    for (int i = 0; i < n; ++i) {
        const float* g = field.at(centre + m.offsets[i]);
        sum += m.dirs[i][0] * g[0] + m.dirs[i][1] * g[1];
        if (sum < stop + float(i + 1))
            return -1.0f;
    }
    return sum / float(n);
}

// Buffers of one search, kept per thread: a check reuses them instead of
// allocating (and page-faulting) megabytes per frame, and the cameras and
// groups a thread checks share one set.
struct Scratch
{
    LazyField lazy;
    std::vector<cv::Mat> pyramid;
    cv::Mat gx, gy;
    std::vector<cv::Vec2f> field;
};

// Unit gradient directions of `img` over `want` (image coordinates; zero
// outside the image and where the image is flat), as 2-channel float; a view
// into the scratch buffers, valid until the next call.
cv::Mat gradientField(const cv::Mat& img, const cv::Rect& want, Scratch& scratch)
{
    if (scratch.field.size() < size_t(want.area()))
        scratch.field.resize(size_t(want.area()));
    cv::Mat field(want.size(), CV_32FC2, scratch.field.data());
    const cv::Rect inside = want & cv::Rect(0, 0, img.cols, img.rows);
    if (inside != want)
        field.setTo(cv::Scalar::all(0));  // only a window reaching out of the image has a zero rim
    if (inside.empty())
        return field;
    cv::Sobel(img(inside), scratch.gx, CV_32F, 1, 0, 3);
    cv::Sobel(img(inside), scratch.gy, CV_32F, 0, 1, 3);
    const cv::Point at = inside.tl() - want.tl();
    for (int y = 0; y < inside.height; ++y) {
        const float* px = scratch.gx.ptr<float>(y);
        const float* py = scratch.gy.ptr<float>(y);
        cv::Vec2f* out = field.ptr<cv::Vec2f>(y + at.y) + at.x;
        for (int x = 0; x < inside.width; ++x) {
            out[x] = unitGradient(px[x], py[x]);
        }
    }
    return field;
}

// Thinned edge points of a template level inside its mask.
std::vector<EdgePoint> edgePoints(const cv::Mat& img, const cv::Mat& mask, int contrast, cv::Point2f centre)
{
    cv::Mat gx, gy, mag;
    cv::Sobel(img, gx, CV_32F, 1, 0, 3);
    cv::Sobel(img, gy, CV_32F, 0, 1, 3);
    cv::magnitude(gx, gy, mag);
    float threshold;
    if (contrast >= kAutoContrast || contrast < 1) {
        double maxMag = 0;
        cv::minMaxLoc(mag, nullptr, &maxMag, nullptr, nullptr, mask);
        threshold = std::max(kMinEdge * 2, float(maxMag) * kAutoContrastShare);
    } else {
        threshold = std::max(kMinEdge, float(contrast) * kSobelGain);
    }
    std::vector<EdgePoint> points;
    for (int y = 1; y < img.rows - 1; ++y) {
        const float* m = mag.ptr<float>(y);
        const float* up = mag.ptr<float>(y - 1);
        const float* down = mag.ptr<float>(y + 1);
        const uchar* inMask = mask.ptr<uchar>(y);
        for (int x = 1; x < img.cols - 1; ++x) {
            if (!inMask[x] || m[x] < threshold)
                continue;
            const float ex = gx.at<float>(y, x), ey = gy.at<float>(y, x);
            // Keep only the ridge across the edge (direction quantised to 45 degrees).
            const float ax = std::abs(ex), ay = std::abs(ey);
            float a, b;
            if (ax > 2.414f * ay) {
                a = m[x - 1]; b = m[x + 1];
            } else if (ay > 2.414f * ax) {
                a = up[x]; b = down[x];
            } else if ((ex > 0) == (ey > 0)) {
                a = up[x - 1]; b = down[x + 1];
            } else {
                a = up[x + 1]; b = down[x - 1];
            }
            if (m[x] < a || m[x] <= b)
                continue;
            points.push_back({x - centre.x, y - centre.y, ex / m[x], ey / m[x]});
        }
    }
    return points;
}

std::vector<double> anglesAround(double centre, double span, double step, double range)
{
    std::vector<double> angles;
    const int n = step > 0 ? int(std::ceil(span / step - 1e-9)) : 0;
    for (int k = -n; k <= n; ++k) {
        const double a = centre + k * step;
        if (a >= -range - 1e-9 && a <= range + 1e-9)
            angles.push_back(a);
    }
    if (angles.empty())
        angles.push_back(std::clamp(centre, -range, range));
    return angles;
}
} // namespace

struct FindShape::Impl
{
    std::vector<Level> levels;
    double range = 0;
    int centreX = 0, centreY = 0;
    double minScore = 0.5;
};

FindShape::FindShape() = default;
FindShape::~FindShape() = default;
FindShape::FindShape(FindShape&&) noexcept = default;
FindShape& FindShape::operator=(FindShape&&) noexcept = default;

bool FindShape::IsValid() const
{
    return d != nullptr;
}

void FindShape::Clear()
{
    d.reset();
}

double FindShape::minScore() const
{
    return d ? d->minScore : 0.0;
}

int FindShape::levelCount() const
{
    return d ? int(d->levels.size()) : 0;
}

bool FindShape::CreateShape(const cv::Mat& image, double, int, int angleRange, int centreX, int centreY,
                            bool, int contrast, cv::Mat mask, int accuracy, int layers)
{
    d.reset();
    try {
        cv::Mat img = vision::grayCopy(image);
        if (img.cols < 3 || img.rows < 3)
            return false;
        cv::Mat msk = vision::maskCopy(mask, img.cols, img.rows);
        auto model = std::make_unique<Impl>();
        model->range = std::clamp(angleRange, 0, 180);
        model->centreX = centreX;
        model->centreY = centreY;
        model->minScore = kBaseScore + kScorePerAccuracy * std::clamp(accuracy, 0, 10);
        const cv::Point2f centre0(float(img.cols / 2), float(img.rows / 2));
        // 0 (or less) asks for no particular depth: as deep as the template allows.
        // A single full-resolution level would search a large box for seconds.
        const int maxLevels = layers < 1 ? kMaxLayers : std::min(layers, kMaxLayers);
        std::mt19937 rng(kShuffleSeed);
        for (int l = 0; l < maxLevels; ++l) {
            if (l > 0) {
                if (std::min(img.cols, img.rows) / 2 < kMinLevelSide)
                    break;
                cv::pyrDown(img, img);
                cv::resize(msk, msk, img.size(), 0, 0, cv::INTER_NEAREST);
            }
            const float f = 1.0f / float(1 << l);
            Level level;
            level.points = edgePoints(img, msk, contrast, centre0 * f);
            if (level.points.size() < (l == 0 ? kMinModelPoints : kMinLevelPoints))
                break;
            // Shuffled, so that a hopeless place is given up after a few points.
            std::shuffle(level.points.begin(), level.points.end(), rng);
            level.points.resize(std::min(level.points.size(), l == 0 ? kMaxPointsFine : kMaxPointsCoarse));
            for (const EdgePoint& p : level.points)
                level.radius = std::max(level.radius, std::hypot(p.x, p.y));
            level.angleStep = std::min(kMaxAngleStep, std::atan(1.0 / std::max(1.0f, level.radius)) * kDegPerRad);
            if (l == 0)
                level.angleStep = std::min(level.angleStep, kMaxFineAngleStep);
            model->levels.push_back(std::move(level));
        }
        if (model->levels.empty())
            return false;
        d = std::move(model);
        return true;
    } catch (const std::exception& e) {
        vision::logRefusal("FindShape::CreateShape", e);
        d.reset();
        return false;
    }
}

bool FindShape::Find(cv::Mat& image, int, int* x, int* y, double* angle, double* score)
{
    if (score)
        *score = 0;
    if (!IsValid())
        return false;
    try {
        Impl& m = *d;
        thread_local Scratch scratch;
        cv::Mat gray = image.type() == CV_8UC1 ? image : vision::grayCopy(image);
        if (gray.empty())
            return false;
        const int top = int(m.levels.size()) - 1;
        std::vector<cv::Mat>& pyramid = scratch.pyramid;
        pyramid.resize(size_t(top) + 1);
        pyramid[0] = gray;
        for (int l = 1; l <= top; ++l)
            cv::pyrDown(pyramid[size_t(l) - 1], pyramid[size_t(l)]);  // reuses the level's buffer

        // Exhaustive search on the coarsest level.
        const Level& coarse = m.levels[top];
        const cv::Mat& topImg = pyramid[top];
        const int pad = int(std::ceil(coarse.radius)) + 1;
        const cv::Mat field =
            gradientField(topImg, cv::Rect(-pad, -pad, topImg.cols + 2 * pad, topImg.rows + 2 * pad), scratch);
        const int stride = field.cols;
        const double coarseNeed = kCoarseRelax * m.minScore;
        std::vector<Pose> found;
        cv::Mat scores(topImg.rows, topImg.cols, CV_32F);
        for (double a : anglesAround(0.0, m.range, coarse.angleStep, m.range)) {
            const TurnedModel tm = turn(coarse, a, stride);
            for (int v = 0; v < topImg.rows; ++v) {
                const cv::Vec2f* row = field.ptr<cv::Vec2f>(v + pad) + pad;
                float* out = scores.ptr<float>(v);
                for (int u = 0; u < topImg.cols; ++u)
                    out[u] = scoreAt(row + u, tm, coarseNeed);
            }
            for (int v = 0; v < topImg.rows; ++v) {
                for (int u = 0; u < topImg.cols; ++u) {
                    const float s = scores.at<float>(v, u);
                    if (s < coarseNeed)
                        continue;
                    bool peak = true;
                    for (int dv = -1; dv <= 1 && peak; ++dv)
                        for (int du = -1; du <= 1 && peak; ++du) {
                            const int uu = u + du, vv = v + dv;
                            if ((du || dv) && uu >= 0 && vv >= 0 && uu < topImg.cols && vv < topImg.rows)
                                peak = scores.at<float>(vv, uu) <= s;
                        }
                    if (peak)
                        found.push_back({u, v, a, s});
                }
            }
        }
        const auto byScore = [](const Pose& p, const Pose& q) { return p.score > q.score; };
        std::sort(found.begin(), found.end(), byScore);
        std::vector<Pose> candidates;
        const double apart = std::max(2.0f, coarse.radius / 2);
        for (const Pose& p : found) {
            const bool near = std::any_of(candidates.begin(), candidates.end(), [&](const Pose& q) {
                return std::hypot(p.u - q.u, p.v - q.v) < apart;
            });
            if (!near)
                candidates.push_back(p);
            if (int(candidates.size()) >= kMaxCandidates)
                break;
        }

        // Refinement level by level.
        double previousStep = coarse.angleStep;
        for (int l = top - 1; l >= 0; --l) {
            const Level& level = m.levels[l];
            const cv::Mat& img = pyramid[l];
            const int lpad = int(std::ceil(level.radius)) + 1 + kRefineShift;
            const double need = l == 0 ? m.minScore : coarseNeed;
            double best = need;
            // One field per level over every candidate's window, computed only where the model looks.
            cv::Rect area;
            for (const Pose& c : candidates)
                area |= cv::Rect(2 * c.u - lpad, 2 * c.v - lpad, 2 * lpad + 1, 2 * lpad + 1);
            LazyField& f = scratch.lazy;
            f.reset(img, area);
            for (Pose& c : candidates) {
                const int u0 = 2 * c.u, v0 = 2 * c.v;
                const int centre = f.indexOf(u0, v0);
                Pose bestHere{u0, v0, c.angle, -1};
                for (double a : anglesAround(c.angle, previousStep, level.angleStep, m.range)) {
                    const TurnedModel tm = turn(level, a, f.stride());
                    for (int dv = -kRefineShift; dv <= kRefineShift; ++dv)
                        for (int du = -kRefineShift; du <= kRefineShift; ++du) {
                            const double s = scoreAt(f, centre + dv * f.stride() + du, tm,
                                                     std::max(best * kKeepShare, bestHere.score));
                            if (s > bestHere.score)
                                bestHere = {u0 + du, v0 + dv, a, s};
                        }
                }
                c = bestHere;
                best = std::max(best, c.score);
            }
            std::sort(candidates.begin(), candidates.end(), byScore);
            const double keep = std::max(need, candidates.empty() ? 0.0 : candidates.front().score * kKeepShare);
            candidates.erase(std::remove_if(candidates.begin(), candidates.end(),
                                            [&](const Pose& p) { return p.score < keep; }),
                             candidates.end());
            if (l == 1 && int(candidates.size()) > kFineCandidates)
                candidates.resize(kFineCandidates);
            previousStep = level.angleStep;
        }
        if (candidates.empty() || candidates.front().score < m.minScore)
            return false;
        const Pose& best = candidates.front();
        // The learnt centre sat at (centreX, centreY) of the frame; box offsets cancel for the caller.
        if (x)
            *x = m.centreX - best.u;
        if (y)
            *y = m.centreY - best.v;
        if (angle)
            *angle = -best.angle;
        if (score)
            *score = best.score * 100.0;
        return true;
    } catch (const std::exception& e) {
        vision::logRefusal("FindShape::Find", e);
        return false;
    }
}
