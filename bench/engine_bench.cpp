// The recognition engine on a 1280 x 1024 grey camera: one check (positioning
// on, alignment off, 20 ROIs of mixed functions), alignment alone on 0.5 MP,
// positioning alone (translation only and +-10 degrees) and the learning of
// 8 groups with 10 templates each. Each is timed beside a bare reference: the
// same OpenCV and vision-library calls without the engine around them. One core.

#include "benchratio.h"

#include "cameraunithooks.h"
#include "engineunit.h"
#include "globals.h"
#include "miscfunc.h"
#include "synthframes.h"
#include "vek_netmn.h"
#include "wizardpara.h"

#include <QtGlobal>
#include <opencv2/calib3d.hpp>
#include <opencv2/features2d.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/stitching/detail/matchers.hpp>

#include <map>
#include <memory>

namespace {

constexpr int kW = 1280;
constexpr int kH = 1024;
constexpr int kRois = 20;
constexpr int kTemplates = 10;

struct RoiSpec
{
    int code;
    cv::Rect box;
    int sens, area, minWH;
};

// 20 ROIs of mixed functions over the frame.
std::vector<RoiSpec> mixedRois()
{
    const int codes[] = {0, 1, 4, 5, 7, 8, 6, 0, 1, 4, 5, 7, 8, 0, 1, 4, 5, 6, 0, 42};
    std::vector<RoiSpec> rois;
    for (int i = 0; i < kRois; ++i) {
        const cv::Rect box(40 + (i % 5) * 240, 40 + (i / 5) * 240, 160, 140);
        RoiSpec s{codes[i], box, 50, 100, 3};
        if (codes[i] == 1)
            s.minWH = 60 << 8;
        if (codes[i] == 7 || codes[i] == 8)
            s = {codes[i], box, 128, 0 | (100 << 16), 1};
        if (codes[i] == 6)
            s.sens = 60;
        rois.push_back(s);
    }
    return rois;
}

// A camera unit with its engine, learnt on one template per group.
struct Camera : EngineUnit
{
    Camera(int w, int h, int templates, bool align, int angle)
    {
        cv::setNumThreads(1);
        para.motionCorrect = 0;
        para.angle = angle;
        para.angleCorrection = align ? 1 : 0;
        para.offset = 8000;
        para.zoomLayers = 5;
        para.matchAccuracy = 5;
        para.filterSize = 3;
        para.area = 100;
        para.minSpot = 3;
        para.detectEnable[1] = 0;
        gpWPara = &para;
        gpWin = nullptr;
        gTempNum = templates;
        // As in the program: every ROI result goes to the network hub's cache.
        CameraUnitHooks::instance().publishRoiResult = [](const param_roi& result) {
            VEK_NETMN::getInstance()->insertRoiResult(result);
        };
        allocate(w, h, false, templates);
        scene = synth::textured(w, h, 5);
    }

    void addRois(int g)
    {
        for (const RoiSpec& s : mixedRois())
            addRoi(g, s.code, s.box, s.sens, s.area, s.minWH);
    }

    void setTemplates(int g, int count)
    {
        for (int t = 0; t < count; ++t) {
            cv::Mat slot(state->imageH, state->imageW, CV_8UC1, state->pTemplate[g][t]);
            cv::add(scene, cv::Scalar(t % 3), slot);
            state->pTemplateValid[g][t] = 1;
        }
        state->templateCount[g] = count;
    }

    void learn(int g)
    {
        engine->CreateHomoShape(g);
        engine->CreateShape(g);
        engine->VarTrain(g);
    }

    WizardPara para;
    cv::Mat scene;
};

Camera& checkCamera()
{
    static Camera cam = [] {
        Camera c(kW, kH, 1, false, 0);
        c.addRois(0);
        c.setTemplates(0, 1);
        c.learn(0);
        // The live frame: moved by a few pixels, with a few defects.
        cv::Mat live = synth::shifted(c.scene, 6, -3);
        cv::circle(live, {300, 300}, 12, 250, cv::FILLED);
        cv::circle(live, {800, 560}, 9, 5, cv::FILLED);
        live.copyTo(c.frame(c.state->pCaptureBuf));
        return c;
    }();
    gpWPara = &cam.para;
    return cam;
}

void BM_EngineCheck(benchmark::State& st)
{
    Camera& c = checkCamera();
    for (auto _ : st) {
        c.engine->HomoTransShape(0);
        c.engine->ShapeMatch(0);
        c.engine->Run(0);
    }
}

// The same calls without the engine: copy, find, shift, then per ROI the
// model compare or band, AND, opening, contours and count.
void BM_BareCheck(benchmark::State& st)
{
    Camera& c = checkCamera();
    CammerRecong& e = *c.engine;
    const std::vector<RoiSpec> rois = mixedRois();
    cv::Mat align(kH, kW, CV_8UC1), check(kH, kW, CV_8UC1), sens(kH, kW, CV_8UC1);
    const cv::Mat capture = c.frame(c.state->pCaptureBuf);
    const cv::Mat ellipse = cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(3, 3));
    std::vector<std::vector<cv::Point>> contours;
    for (auto _ : st) {
        capture.copyTo(align);
        cv::Mat search = align(e.shapeRect[0]).clone();
        int x = 0, y = 0;
        double a = 0, s = 0;
        if (e.shapeModel[0].Find(search, 0, &x, &y, &a, &s))
            MoveImage(align, check, x - e.shapeRect[0].x, y - e.shapeRect[0].y);
        sens.setTo(0);
        for (int r = 0; r < kRois; ++r) {
            const RoiSpec& spec = rois[r];
            cv::Mat image = check(spec.box);
            cv::Mat d = cv::Mat::zeros(spec.box.size(), CV_8UC1);
            if (spec.code == 0) {
                e.grayModel[0][r].Match(image, d);
            } else if (spec.code == 6) {
                cv::Mat copy = image.clone();
                benchmark::DoNotOptimize(e.surfModel[0][r].Match(copy, d));
            } else {
                cv::inRange(image, cv::Scalar(0), cv::Scalar(spec.sens), d);
                d &= e.groupMask[0](spec.box);
            }
            cv::Mat o;
            cv::morphologyEx(d, o, cv::MORPH_OPEN, ellipse);
            cv::Mat w = sens(spec.box);
            w |= o;
            if (cv::countNonZero(o))
                cv::findContours(o, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_NONE);
            benchmark::DoNotOptimize(cv::countNonZero(o));
        }
    }
}

// Alignment on a 0.5 MP frame (800 x 625).
Camera& alignCamera()
{
    static Camera cam = [] {
        Camera c(800, 625, 1, true, 0);
        c.setTemplates(0, 1);
        c.learn(0);
        cv::Mat hm = (cv::Mat_<double>(3, 3) << 0.998, -0.052, 14, 0.052, 0.998, -9, 2e-5, -1e-5, 1);
        cv::Mat live;
        cv::warpPerspective(c.scene, live, hm, c.scene.size());
        live.copyTo(c.frame(c.state->pCaptureBuf));
        return c;
    }();
    gpWPara = &cam.para;
    return cam;
}

void BM_EngineAlign(benchmark::State& st)
{
    Camera& c = alignCamera();
    for (auto _ : st)
        c.engine->HomoTransShape(0);
}

void BM_BareAlign(benchmark::State& st)
{
    Camera& c = alignCamera();
    const cv::Mat src = c.frame(c.state->pCaptureBuf);
    cv::Mat dst(src.size(), CV_8UC1);
    cv::Ptr<cv::SIFT> sift = cv::SIFT::create();
    cv::detail::ImageFeatures templ;
    sift->detectAndCompute(c.scene, cv::noArray(), templ.keypoints, templ.descriptors);
    for (auto _ : st) {
        cv::detail::ImageFeatures live;
        sift->detectAndCompute(src, cv::noArray(), live.keypoints, live.descriptors);
        cv::detail::BestOf2NearestMatcher matcher(false, 0.4f, 6, 6);
        cv::detail::MatchesInfo info;
        matcher(live, templ, info);
        std::vector<cv::Point2f> a, b;
        for (const cv::DMatch& m : info.matches) {
            a.push_back(live.keypoints[m.queryIdx].pt);
            b.push_back(templ.keypoints[m.trainIdx].pt);
        }
        const cv::Mat h = cv::findHomography(a, b, cv::RANSAC, 3.0, cv::noArray(), 2000, 0.995);
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
    gpWPara = &cam->para;
    return *cam;
}

void BM_EnginePosition(benchmark::State& st)
{
    Camera& c = positionCamera(int(st.range(0)));
    for (auto _ : st)
        c.engine->ShapeMatch(0);
}

// Plain OpenCV positioning: normalised cross-correlation coarse to fine
// (1/8 scale over the frame, then +-2 pixels per level), for each angle
// step of 2 degrees on the coarse level; then the same shift and turn.
void BM_BarePosition(benchmark::State& st)
{
    const int range = int(st.range(0));
    Camera& c = positionCamera(range);
    const cv::Rect box(kW / 4, kH / 4, kW / 2, kH / 2);
    const cv::Mat templ = c.scene(box).clone();
    const cv::Mat aligned = c.frame(c.state->pAlignBuf);
    cv::Mat checked(kH, kW, CV_8UC1);
    constexpr int kLevels = 3;
    std::vector<std::vector<cv::Mat>> turnedPyr;
    for (int a = -range; a <= range; a += 2) {
        cv::Mat t;
        cv::warpAffine(templ, t, cv::getRotationMatrix2D(cv::Point2f(box.width / 2, box.height / 2), a, 1.0),
                       templ.size());
        std::vector<cv::Mat> pyr{t};
        for (int l = 0; l < kLevels; ++l) {
            cv::Mat n;
            cv::pyrDown(pyr.back(), n);
            pyr.push_back(n);
        }
        turnedPyr.push_back(pyr);
    }
    for (auto _ : st) {
        std::vector<cv::Mat> img{aligned.clone()};
        for (int l = 0; l < kLevels; ++l) {
            cv::Mat n;
            cv::pyrDown(img.back(), n);
            img.push_back(n);
        }
        double best = -2;
        cv::Point at;
        int bestAngle = 0;
        for (size_t i = 0; i < turnedPyr.size(); ++i) {
            cv::Mat score;
            cv::matchTemplate(img[kLevels], turnedPyr[i][kLevels], score, cv::TM_CCOEFF_NORMED);
            double mx;
            cv::Point loc;
            cv::minMaxLoc(score, nullptr, &mx, nullptr, &loc);
            if (mx > best) {
                best = mx;
                at = loc;
                bestAngle = int(i);
            }
        }
        for (int l = kLevels - 1; l >= 0; --l) {
            const cv::Mat& t = turnedPyr[bestAngle][l];
            cv::Rect win(2 * at.x - 2, 2 * at.y - 2, t.cols + 4, t.rows + 4);
            win &= cv::Rect(0, 0, img[l].cols, img[l].rows);
            cv::Mat score;
            cv::matchTemplate(img[l](win), t, score, cv::TM_CCOEFF_NORMED);
            cv::Point loc;
            cv::minMaxLoc(score, nullptr, nullptr, nullptr, &loc);
            at = win.tl() + loc;
        }
        const cv::Point shift(box.x - at.x, box.y - at.y);
        if (range)
            TransformImage(aligned, checked, shift, cv::Point(kW / 2, kH / 2), -(bestAngle * 2 - range));
        else
            MoveImage(aligned, checked, shift.x, shift.y);
    }
}

// Learning of one camera: 8 groups, 10 templates each, 20 ROIs per group,
// alignment and positioning on.
Camera& learnCamera()
{
    static Camera cam = [] {
        Camera c(kW, kH, kTemplates, true, 10);
        for (int g = 0; g < 8; ++g) {
            c.addRois(g);
            c.setTemplates(g, kTemplates);
        }
        return c;
    }();
    gpWPara = &cam.para;
    return cam;
}

void BM_EngineLearn(benchmark::State& st)
{
    Camera& c = learnCamera();
    for (auto _ : st)
        for (int g = 0; g < 8; ++g)
            c.learn(g);
}

// The same work bare: template features (shrunk as the engine does), the
// positioning model, and per compare ROI a model from the 10 template cuts.
void BM_BareLearn(benchmark::State& st)
{
    Camera& c = learnCamera();
    const std::vector<RoiSpec> rois = mixedRois();
    cv::Ptr<cv::SIFT> sift = cv::SIFT::create();
    const float scale = ImgHomoTrans::scaleFor(kH, kW);
    const cv::Rect box(kW / 4, kH / 4, kW / 2, kH / 2);
    const cv::Mat full(box.size(), CV_8UC1, cv::Scalar(255));
    for (auto _ : st) {
        for (int g = 0; g < 8; ++g) {
            const cv::Mat t0 = c.frame(c.state->pTemplate[g][0]);
            cv::Mat small, mask = cv::Mat::zeros(t0.size(), CV_8UC1), smallMask;
            mask(cv::Rect(kW / 4, kH / 4, 3 * kW / 4, 3 * kH / 4)).setTo(255);
            cv::resize(t0, small, cv::Size(), scale, scale, cv::INTER_LINEAR_EXACT);
            cv::resize(mask, smallMask, cv::Size(), scale, scale, cv::INTER_LINEAR_EXACT);
            std::vector<cv::KeyPoint> kp;
            cv::Mat desc;
            sift->detectAndCompute(small, smallMask, kp, desc);
            FindShape shape;
            shape.CreateShape(t0(box), 0.0, 0, 10, kW / 2, kH / 2, false, 255, full, 5, 10);
            for (int r = 0; r < kRois; ++r) {
                const RoiSpec& s = rois[r];
                if (s.code == 0) {
                    GrayMatch m;
                    m.Create(s.box.width, s.box.height, full(cv::Rect(0, 0, s.box.width, s.box.height)), 0);
                    for (int t = 0; t < kTemplates; ++t)
                        m.AddTemp(c.frame(c.state->pTemplate[g][t])(s.box));
                    m.Train(s.sens, 0, 100, 150);
                } else if (s.code == 6) {
                    SURF m;
                    m.Create(s.box.width, s.box.height, full(cv::Rect(0, 0, s.box.width, s.box.height)));
                    for (int t = 0; t < kTemplates; ++t)
                        m.AddTemp(c.frame(c.state->pTemplate[g][t])(s.box).clone(), 1, 50, s.sens);
                    m.Train(0, 0, 0, 0);
                }
            }
            for (int t = 0; t < kTemplates; ++t)
                benchmark::DoNotOptimize(cv::norm(c.frame(c.state->pTemplate[g][t])));
        }
    }
}

} // namespace

BENCHMARK(BM_EngineCheck)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareCheck)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EngineAlign)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareAlign)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EnginePosition)->Arg(0)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BarePosition)->Arg(0)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EngineLearn)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_BareLearn)->Unit(benchmark::kMillisecond)->Iterations(2);

int main(int argc, char** argv)
{
    // Positioning logs every find; keep the table readable.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return benchratio::run(argc, argv,
                           {{"BM_EngineCheck", "BM_BareCheck"},
                            {"BM_EngineAlign", "BM_BareAlign"},
                            {"BM_EnginePosition/0", "BM_BarePosition/0"},
                            {"BM_EnginePosition/10", "BM_BarePosition/10"},
                            {"BM_EngineLearn/iterations:2", "BM_BareLearn/iterations:2"}});
}
