#include "findshape.h"
#include "synthframes.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

constexpr int kW = 640, kH = 480;
const cv::Rect kRoi(kW / 4, kH / 4, kW / 2, kH / 2);  // the default positioning box
const cv::Point kCentre(kRoi.x + kRoi.width / 2, kRoi.y + kRoi.height / 2);

FindShape learn(const cv::Mat& frame, int range, int contrast = 255, int layers = 5)
{
    FindShape m;
    EXPECT_TRUE(m.CreateShape(frame(kRoi), 0.0, 0, range, kCentre.x, kCentre.y, false, contrast,
                              cv::Mat(kRoi.size(), CV_8UC1, cv::Scalar(255)), 5, layers));
    return m;
}

struct Found
{
    bool ok = false;
    int dx = 0, dy = 0;
    double angle = 0;
    double score = 0;
};

Found find(FindShape& m, const cv::Mat& frame, cv::Rect box)
{
    cv::Mat search = frame(box).clone();
    Found f;
    int x = 0, y = 0;
    f.ok = m.Find(search, 0, &x, &y, &f.angle, &f.score);
    f.dx = x - box.x;
    f.dy = y - box.y;
    return f;
}

const cv::Rect kWhole(0, 0, kW, kH);

} // namespace

TEST(FindShape, EmptyModelIsOnePointerAndFindsNothing)
{
    EXPECT_EQ(sizeof(FindShape), sizeof(void*));
    FindShape m;
    EXPECT_FALSE(m.IsValid());
    cv::Mat img = synth::scene(kW, kH);
    int x = 5, y = 5;
    double a = 0, s = 0;
    EXPECT_FALSE(m.Find(img, 0, &x, &y, &a, &s));
    // A flat template has no edges: no model.
    EXPECT_FALSE(m.CreateShape(cv::Mat(50, 50, CV_8UC1, cv::Scalar(100)), 0.0, 0, 0, 25, 25, false, 255,
                               cv::Mat(), 5, 5));
    EXPECT_FALSE(m.IsValid());
    EXPECT_FALSE(m.CreateShape(cv::Mat(), 0.0, 0, 0, 0, 0, false, 255, cv::Mat(), 5, 5));
}

TEST(FindShape, ShiftedFrameGivesTheShiftBack)
{
    const cv::Mat templ = synth::scene(kW, kH);
    FindShape m = learn(templ, 0);
    ASSERT_TRUE(m.IsValid());
    for (const cv::Point shift : {cv::Point(0, 0), cv::Point(7, -4), cv::Point(-23, 15), cv::Point(60, 41)}) {
        const Found f = find(m, synth::shifted(templ, shift.x, shift.y), kWhole);
        ASSERT_TRUE(f.ok) << shift;
        EXPECT_NEAR(f.dx, -shift.x, 1) << shift;
        EXPECT_NEAR(f.dy, -shift.y, 1) << shift;
        EXPECT_EQ(f.angle, 0.0);
    }
}

// A thread keeps its search buffers from one search to the next, for every
// model it searches (the cameras and groups a check thread serves): over
// hundreds of searches of alternating frames, models and box sizes (the marks
// wrap round) each gives exactly what it gives on a thread of its own, score included.
TEST(FindShape, RepeatedSearchesNeverReuseAnotherSearchsValues)
{
    const cv::Mat templ = synth::scene(kW, kH);
    const cv::Mat frames[] = {synth::turned(templ, kCentre, 1.5, 7, -4), synth::turned(templ, kCentre, -1.0, -23, 15)};
    const cv::Rect boxes[] = {kWhole, cv::Rect(40, 30, kW - 90, kH - 70)};
    const int ranges[] = {2, 3};
    Found fresh[2][2];  // [model][frame]
    for (int k = 0; k < 2; ++k)
        for (int j = 0; j < 2; ++j)
            std::thread([&, k, j] {
                FindShape once = learn(templ, ranges[k]);
                fresh[k][j] = find(once, frames[j], boxes[k]);
            }).join();
    ASSERT_TRUE(fresh[0][0].ok && fresh[0][1].ok && fresh[1][0].ok && fresh[1][1].ok);
    FindShape models[] = {learn(templ, ranges[0]), learn(templ, ranges[1])};
    for (int i = 0; i < 600; ++i) {
        const int k = (i / 2) % 2, j = i % 2;
        const Found f = find(models[k], frames[j], boxes[k]);
        const Found& want = fresh[k][j];
        ASSERT_EQ(f.ok, want.ok) << i;
        ASSERT_EQ(f.dx, want.dx) << i;
        ASSERT_EQ(f.dy, want.dy) << i;
        ASSERT_EQ(f.angle, want.angle) << i;
        ASSERT_EQ(f.score, want.score) << i;
    }
}

TEST(FindShape, SearchBoxOffsetsCancel)
{
    const cv::Mat templ = synth::scene(kW, kH);
    FindShape m = learn(templ, 0);
    const Found f = find(m, synth::shifted(templ, 9, 6), cv::Rect(100, 80, 460, 340));
    ASSERT_TRUE(f.ok);
    EXPECT_NEAR(f.dx, -9, 1);
    EXPECT_NEAR(f.dy, -6, 1);
}

TEST(FindShape, TurnedFrameGivesTheUndoingAngle)
{
    const cv::Mat templ = synth::scene(kW, kH);
    FindShape m = learn(templ, 10);
    for (const double angle : {6.0, -3.5, 9.0, 0.0}) {
        const Found f = find(m, synth::turned(templ, kCentre, angle), kWhole);
        ASSERT_TRUE(f.ok) << angle;
        EXPECT_NEAR(f.angle, -angle, 1.0) << angle;
        EXPECT_NEAR(f.dx, 0, 1) << angle;
        EXPECT_NEAR(f.dy, 0, 1) << angle;
    }
    const Found both = find(m, synth::turned(templ, kCentre, -7.0, 12, -5), kWhole);
    ASSERT_TRUE(both.ok);
    EXPECT_NEAR(both.angle, 7.0, 1.0);
    EXPECT_NEAR(both.dx, -12, 1);
    EXPECT_NEAR(both.dy, 5, 1);
}

TEST(FindShape, OutsideTheAngleRangeOrAbsentIsNotFound)
{
    const cv::Mat templ = synth::scene(kW, kH);
    FindShape m = learn(templ, 10);
    EXPECT_FALSE(find(m, cv::Mat(kH, kW, CV_8UC1, cv::Scalar(128)), kWhole).ok);
    EXPECT_FALSE(find(m, synth::scene(kW, kH, 1234), kWhole).ok);
    FindShape still = learn(templ, 0);
    EXPECT_FALSE(find(still, synth::turned(templ, kCentre, 40.0), kWhole).ok);
}

TEST(FindShape, AcceptsViewsAndFixedContrastAndOneLayer)
{
    const cv::Mat templ = synth::scene(kW, kH);
    cv::Mat store;
    const cv::Mat view = synth::nonContinuous(templ, store);
    FindShape m;
    ASSERT_TRUE(m.CreateShape(view(kRoi), 0.0, 0, 0, kCentre.x, kCentre.y, false, 30, cv::Mat(), 5, 1));
    store.setTo(0);
    const cv::Mat live = synth::shifted(templ, -3, 2);
    cv::Mat liveView = synth::nonContinuous(live, store)(cv::Rect(150, 100, 360, 280));
    int x = 0, y = 0;
    double a = 0, s = 0;
    ASSERT_TRUE(m.Find(liveView, 0, &x, &y, &a, &s));
    EXPECT_NEAR(x - 150, 3, 1);
    EXPECT_NEAR(y - 100, -2, 1);
    EXPECT_GT(s, 50.0);
}

// Layers cap the pyramid depth; 0 asks for no particular depth and gets the
// deepest pyramid the template allows, never a single full-resolution level.
TEST(FindShape, ZeroLayersMeansAsDeepAsTheTemplateAllows)
{
    const cv::Mat templ = synth::scene(kW, kH);
    const auto levels = [&](int layers) { return learn(templ, 0, 30, layers).levelCount(); };
    EXPECT_EQ(levels(1), 1);
    EXPECT_EQ(levels(2), 2);
    EXPECT_GT(levels(0), 2);
    EXPECT_EQ(levels(0), levels(10));
    EXPECT_EQ(levels(-3), levels(10));
    EXPECT_EQ(FindShape().levelCount(), 0);
}
