// The recognition engine on 1280 x 1024 grey cameras: one check (positioning
// on, shift only or +-2 degrees, alignment off, 20 ROIs of mixed functions) on one core and 8 cameras
// checked at once on 8 threads, alignment alone on 0.5 MP, positioning alone
// (translation only and +-10 degrees) and the learning of 8 groups with 10
// templates each. Each is timed beside a reference written in plain OpenCV
// calls for the same decisions (plaincheck.h, plainlocator.h), never our own
// classes, at the same resolution, masks and thread count. The single-core
// cases pin their thread to one core; OpenCV's own threads are off throughout.

#include "benchcamera.h"
#include "benchratio.h"
#include "cameraset.h"
#include "plaincheck.h"

#include <QtGlobal>
#include <opencv2/calib3d.hpp>
#include <opencv2/features2d.hpp>
#include <opencv2/imgproc.hpp>

#include <pthread.h>
#include <sched.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <set>

namespace {

using namespace benchcam;

constexpr int kCameras = 8;
constexpr int kPlantRange = 2;  // degrees either way
constexpr int kTemplates = 10;
constexpr float kFeaturePixels = 500000.0f;  // the engine shrinks frames to about this many pixels for features
constexpr float kMatchRatio = 0.6f;          // nearest / second nearest descriptor distance
constexpr int kMinPairs = 4;

// Pins the calling thread to the core it runs on, for a single-core case.
class OneCore
{
public:
    OneCore()
    {
        pthread_getaffinity_np(pthread_self(), sizeof(m_all), &m_all);
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(sched_getcpu(), &one);
        pthread_setaffinity_np(pthread_self(), sizeof(one), &one);
    }
    ~OneCore() { pthread_setaffinity_np(pthread_self(), sizeof(m_all), &m_all); }
    OneCore(const OneCore&) = delete;
    OneCore& operator=(const OneCore&) = delete;

private:
    cpu_set_t m_all;
};

std::unique_ptr<PlainCheck> makePlainCheck(Camera& c)
{
    return std::make_unique<PlainCheck>(c.frame(c.state->pTemplate[0][0]), mixedRois(), positionBox(kW, kH),
                                        c.engine->shapeRect[0], c.angle);
}

// Angle 0 (shift only) or the angle range of a plant's positioning.
Camera& checkCamera(int angle)
{
    static std::map<int, std::unique_ptr<Camera>> cams;
    auto& cam = cams[angle];
    if (!cam) {
        auto c = makeCheckCamera(angle);
        // Both must reach the same verdicts, or the comparison means nothing.
        engineCheck(*c);
        auto plain = makePlainCheck(*c);
        plain->check(c->frame(c->state->pCaptureBuf));
        int same = 0;
        for (int r = 0; r < kRois; ++r)
            same += bool(plain->verdicts[size_t(r)]) == c->state->roiResult[0][r];
        std::fprintf(stderr, "check/%d: the plain reference agrees with the engine on %d of %d ROI verdicts\n", angle,
                     same, kRois);
        cam = std::move(c);
    }
    cam->use();
    return *cam;
}

void BM_EngineCheck(benchmark::State& st)
{
    Camera& c = checkCamera(int(st.range(0)));
    const OneCore pinned;
    for (auto _ : st)
        benchmark::DoNotOptimize(engineCheck(c));
}

void BM_PlainCheck(benchmark::State& st)
{
    Camera& c = checkCamera(int(st.range(0)));
    const auto plain = makePlainCheck(c);
    const cv::Mat live = c.frame(c.state->pCaptureBuf);
    const OneCore pinned;
    for (auto _ : st)
        benchmark::DoNotOptimize(plain->check(live));
}

// 8 cameras checked at once, a task per camera on 8 threads joined before the
// verdict (as the detection cycle does); the reference runs the same way.
struct EightCameras : CameraSet
{
    explicit EightCameras(int angle) : CameraSet(kCameras, angle)
    {
        for (auto& c : cameras)
            plain.push_back(makePlainCheck(*c));
    }
    std::vector<std::unique_ptr<PlainCheck>> plain;
};

EightCameras& eightCameras(int angle)
{
    static std::map<int, std::unique_ptr<EightCameras>> sets;
    auto& eight = sets[angle];
    if (!eight)
        eight = std::make_unique<EightCameras>(angle);
    eight->cameras[0]->use();
    return *eight;
}

void BM_EngineCheck8(benchmark::State& st)
{
    EightCameras& e = eightCameras(int(st.range(0)));
    for (auto _ : st)
        e.runAll([&e](int i) { engineCheck(*e.cameras[size_t(i)]); });
}

void BM_PlainCheck8(benchmark::State& st)
{
    EightCameras& e = eightCameras(int(st.range(0)));
    for (auto _ : st)
        e.runAll([&e](int i) {
            Camera& c = *e.cameras[size_t(i)];
            e.plain[size_t(i)]->check(c.frame(c.state->pCaptureBuf));
        });
}

// Alignment on a 0.5 MP frame (800 x 625).
Camera& alignCamera()
{
    static const std::unique_ptr<Camera> cam = [] {
        auto c = std::make_unique<Camera>(800, 625, 1, true, 0);
        c->setTemplates(0, 1);
        c->learn(0);
        cv::Mat hm = (cv::Mat_<double>(3, 3) << 0.998, -0.052, 14, 0.052, 0.998, -9, 2e-5, -1e-5, 1);
        cv::Mat live;
        cv::warpPerspective(c->scene, live, hm, c->scene.size());
        live.copyTo(c->frame(c->state->pCaptureBuf));
        return c;
    }();
    cam->use();
    return *cam;
}

void BM_EngineAlign(benchmark::State& st)
{
    Camera& c = alignCamera();
    const OneCore pinned;
    for (auto _ : st)
        c.engine->HomoTransShape(0);
}

// The engine's feature mask without alignment ROIs: from a quarter in to the far edges.
cv::Mat alignMask(cv::Size size)
{
    cv::Mat mask = cv::Mat::zeros(size, CV_8UC1);
    mask(cv::Rect(size.width / 4, size.height / 4, 3 * size.width / 4, 3 * size.height / 4)
         & cv::Rect(cv::Point(), size))
        .setTo(255);
    return mask;
}

float featureScale(cv::Size size)
{
    return std::min(1.0f, std::sqrt(kFeaturePixels / float(size.area())));
}

// SIFT on the shrunk frame with the same mask, ratio-tested nearest
// neighbours, RANSAC homography, warp.
void BM_PlainAlign(benchmark::State& st)
{
    Camera& c = alignCamera();
    const cv::Mat src = c.frame(c.state->pCaptureBuf);
    const float scale = featureScale(src.size());
    cv::Mat templ = c.frame(c.state->pTemplate[0][0]), mask = alignMask(src.size());
    if (scale < 1.0f) {
        cv::resize(templ, templ, cv::Size(), scale, scale, cv::INTER_LINEAR_EXACT);
        cv::resize(mask, mask, cv::Size(), scale, scale, cv::INTER_LINEAR_EXACT);
    }
    cv::Ptr<cv::SIFT> sift = cv::SIFT::create();
    std::vector<cv::KeyPoint> templKeys, liveKeys;
    cv::Mat templDesc, liveDesc, small, dst(src.size(), CV_8UC1);
    sift->detectAndCompute(templ, mask, templKeys, templDesc);
    cv::BFMatcher matcher(cv::NORM_L2);
    std::vector<std::vector<cv::DMatch>> knn;
    std::vector<cv::Point2f> a, b;
    const OneCore pinned;
    for (auto _ : st) {
        if (scale < 1.0f)
            cv::resize(src, small, cv::Size(), scale, scale, cv::INTER_LINEAR_EXACT);
        else
            small = src;
        sift->detectAndCompute(small, mask, liveKeys, liveDesc);
        matcher.knnMatch(liveDesc, templDesc, knn, 2);
        a.clear();
        b.clear();
        for (const auto& m : knn)
            if (m.size() == 2 && m[0].distance < kMatchRatio * m[1].distance) {
                a.push_back(liveKeys[size_t(m[0].queryIdx)].pt / scale);
                b.push_back(templKeys[size_t(m[0].trainIdx)].pt / scale);
            }
        if (a.size() < size_t(kMinPairs))
            continue;
        const cv::Mat h = cv::findHomography(a, b, cv::RANSAC, 3.0, cv::noArray(), 2000, 0.995);
        if (!h.empty())
            cv::warpPerspective(src, dst, h, src.size());
    }
}

// Positioning alone at 1.3 MP; range 0 or 10 degrees.
Camera& positionCamera(int angle)
{
    static std::map<int, std::unique_ptr<Camera>> cams;
    auto& cam = cams[angle];
    if (!cam) {
        cam = std::make_unique<Camera>(kW, kH, 1, false, angle);
        cam->setTemplates(0, 1);
        cam->learn(0);
        const cv::Point2f centre(kW / 2, kH / 2);
        const cv::Mat live = synth::turned(cam->scene, centre, angle ? 6.0 : 0.0, 6, -3);
        live.copyTo(cam->frame(cam->state->pAlignBuf));
    }
    cam->use();
    return *cam;
}

void BM_EnginePosition(benchmark::State& st)
{
    Camera& c = positionCamera(int(st.range(0)));
    const OneCore pinned;
    for (auto _ : st)
        c.engine->ShapeMatch(0);
}

// The pose; a turn is then undone over the frame (ROIs cannot follow a turn by
// moving), a shift only moves the ROI boxes.
void BM_PlainPosition(benchmark::State& st)
{
    const int range = int(st.range(0));
    Camera& c = positionCamera(range);
    const cv::Rect box = positionBox(kW, kH);
    PlainLocator locator(c.frame(c.state->pTemplate[0][0]), box, c.engine->shapeRect[0], range);
    const cv::Mat aligned = c.frame(c.state->pAlignBuf);
    cv::Mat checked(kH, kW, CV_8UC1);
    const cv::Point2f centre(box.x + box.width / 2.0f, box.y + box.height / 2.0f);
    const PlainLocator::Pose found = locator.locate(aligned);
    static std::set<int> shown;
    if (shown.insert(range).second)
        std::fprintf(stderr, "position/%d: plain reference found shift (%d, %d), angle %.2f, score %.2f\n", range,
                 found.shift.x, found.shift.y, found.angle, found.score);
    const OneCore pinned;
    for (auto _ : st) {
        const PlainLocator::Pose pose = locator.locate(aligned);
        if (range) {
            cv::Mat m = cv::getRotationMatrix2D(centre + cv::Point2f(pose.shift), -pose.angle, 1.0);
            m.at<double>(0, 2) -= pose.shift.x;
            m.at<double>(1, 2) -= pose.shift.y;
            cv::warpAffine(aligned, checked, m, checked.size());
        }
        benchmark::DoNotOptimize(pose);
    }
}

// Learning of one camera: 8 groups, 10 templates each, 20 ROIs per group,
// alignment and positioning (+-10 degrees) on.
Camera& learnCamera()
{
    static const std::unique_ptr<Camera> cam = [] {
        auto c = std::make_unique<Camera>(kW, kH, kTemplates, true, 10);
        for (int g = 0; g < 8; ++g) {
            c->addRois(g);
            c->setTemplates(g, kTemplates);
        }
        return c;
    }();
    cam->use();
    gTempNum = kTemplates;
    return *cam;
}

void BM_EngineLearn(benchmark::State& st)
{
    Camera& c = learnCamera();
    const OneCore pinned;
    for (auto _ : st)
        for (int g = 0; g < 8; ++g)
            c.learn(g);
}

// The same learning in plain calls: template features (shrunk, masked), the
// turned template pyramids of the positioning, and per compare ROI the learnt
// grey range over the 10 templates or the similarity's template statistics.
void BM_PlainLearn(benchmark::State& st)
{
    Camera& c = learnCamera();
    const std::vector<RoiSpec> rois = mixedRois();
    cv::Ptr<cv::SIFT> sift = cv::SIFT::create();
    const cv::Size size(kW, kH);
    const float scale = featureScale(size);
    cv::Mat smallMask;
    cv::resize(alignMask(size), smallMask, cv::Size(), scale, scale, cv::INTER_LINEAR_EXACT);
    const OneCore pinned;
    for (auto _ : st) {
        for (int g = 0; g < 8; ++g) {
            const cv::Mat t0 = c.frame(c.state->pTemplate[g][0]);
            cv::Mat small, desc;
            std::vector<cv::KeyPoint> keys;
            cv::resize(t0, small, cv::Size(), scale, scale, cv::INTER_LINEAR_EXACT);
            sift->detectAndCompute(small, smallMask, keys, desc);
            const PlainLocator locator(t0, positionBox(kW, kH), c.engine->shapeRect[g], 10);
            benchmark::DoNotOptimize(&locator);
            for (const RoiSpec& s : rois) {
                if (s.code != 0 && s.code != 6)
                    continue;
                cv::Mat low, high, e, d, f, mean, var;
                for (int t = 0; t < kTemplates; ++t) {
                    const cv::Mat cut = c.frame(c.state->pTemplate[g][t])(s.box);
                    if (s.code == 0) {
                        cv::erode(cut, e, cv::Mat());
                        cv::dilate(cut, d, cv::Mat());
                        low = t ? cv::min(low, e) : e.clone();
                        high = t ? cv::max(high, d) : d.clone();
                    } else {
                        cut.convertTo(f, CV_32F);
                        cv::GaussianBlur(f, mean, cv::Size(7, 7), 1.5);
                        cv::GaussianBlur(f.mul(f), var, cv::Size(7, 7), 1.5);
                        var -= mean.mul(mean);
                    }
                }
            }
        }
    }
}

} // namespace

// Angle 0 and the +-2 degree range of the plants' positioning.
BENCHMARK(BM_EngineCheck)->Arg(0)->Arg(kPlantRange)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainCheck)->Arg(0)->Arg(kPlantRange)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EngineCheck8)->Arg(0)->Arg(kPlantRange)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlainCheck8)->Arg(0)->Arg(kPlantRange)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_EngineAlign)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainAlign)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EnginePosition)->Arg(0)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainPosition)->Arg(0)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EngineLearn)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_PlainLearn)->Unit(benchmark::kMillisecond)->Iterations(2);

int main(int argc, char** argv)
{
    // Positioning logs every find; keep the table readable.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return benchratio::run(argc, argv,
                           {{"BM_EngineCheck/0", "BM_PlainCheck/0"},
                            {"BM_EngineCheck/2", "BM_PlainCheck/2"},
                            {"BM_EngineCheck8/0/real_time", "BM_PlainCheck8/0/real_time"},
                            {"BM_EngineCheck8/2/real_time", "BM_PlainCheck8/2/real_time"},
                            {"BM_EngineAlign", "BM_PlainAlign"},
                            {"BM_EnginePosition/0", "BM_PlainPosition/0"},
                            {"BM_EnginePosition/10", "BM_PlainPosition/10"},
                            {"BM_EngineLearn/iterations:2", "BM_PlainLearn/iterations:2"}});
}
