#include "graymatch.h"
#include "surf.h"
#include "synthframes.h"

#include <gtest/gtest.h>

namespace {

cv::Mat flat(int w, int h, int v) { return cv::Mat(h, w, CV_8UC1, cv::Scalar(v)); }

cv::Mat withSpot(const cv::Mat& base, cv::Rect spot, int v)
{
    cv::Mat img = base.clone();
    img(spot).setTo(v);
    return img;
}

GrayMatch trained(const cv::Mat& templ, int sensitivity, int amplify = 0, int edgeIgnore = 0)
{
    GrayMatch m;
    EXPECT_TRUE(m.Create(templ.cols, templ.rows, flat(templ.cols, templ.rows, 255), edgeIgnore));
    EXPECT_TRUE(m.AddTemp(templ));
    EXPECT_TRUE(m.Train(sensitivity, amplify, 100, 150));
    return m;
}

} // namespace

TEST(GrayMatch, EmptyModelIsOnePointerAndInvalid)
{
    EXPECT_EQ(sizeof(GrayMatch), sizeof(void*));
    EXPECT_EQ(sizeof(SURF), sizeof(void*));
    GrayMatch m;
    EXPECT_FALSE(m.IsValid());
    cv::Mat defects = cv::Mat::zeros(10, 10, CV_8UC1);
    EXPECT_FALSE(m.Match(flat(10, 10, 0), defects));
    // Created and trained without templates: still not valid.
    m.Create(10, 10, cv::Mat(), 0);
    EXPECT_FALSE(m.Train(50, 0, 100, 150));
    EXPECT_FALSE(m.IsValid());
}

TEST(GrayMatch, SensitivityAndAmplifyScaleTheThreshold)
{
    // Higher sensitivity finds smaller differences; amplify divides the threshold.
    const double high = trained(flat(8, 8, 100), 100).threshold();
    const double mid = trained(flat(8, 8, 100), 45).threshold();
    const double low = trained(flat(8, 8, 100), 0).threshold();
    EXPECT_LT(high, mid);
    EXPECT_LT(mid, low);
    EXPECT_NEAR(trained(flat(8, 8, 100), 0, 1).threshold(), low / 2, 1e-9);

    // On a quiet flat template a 6-grey spot is found only at high sensitivity.
    const cv::Mat templ = flat(60, 40, 120);
    const cv::Mat live = withSpot(templ, cv::Rect(20, 10, 10, 10), 114);
    cv::Mat defects;
    trained(templ, 100).Match(live, defects);
    EXPECT_EQ(cv::countNonZero(defects(cv::Rect(20, 10, 10, 10))), 100);
    trained(templ, 0).Match(live, defects);
    EXPECT_EQ(cv::countNonZero(defects), 0);
}

TEST(GrayMatch, DefectIsMarkedWithAMarginAndOnlyNearTheSpot)
{
    const cv::Mat templ = flat(60, 40, 120);
    const cv::Mat live = withSpot(templ, cv::Rect(20, 10, 10, 10), 60);
    cv::Mat defects;
    trained(templ, 45).Match(live, defects);
    EXPECT_EQ(cv::countNonZero(defects(cv::Rect(20, 10, 10, 10))), 100);
    // The margin reaches 4 pixels past the spot, no further.
    EXPECT_GT(cv::countNonZero(defects(cv::Rect(16, 6, 18, 18))), 200);
    EXPECT_EQ(cv::countNonZero(defects) - cv::countNonZero(defects(cv::Rect(16, 6, 18, 18))), 0);
    // A single deviating pixel is no sure defect: no margin around it.
    trained(templ, 45).Match(withSpot(templ, cv::Rect(40, 20, 1, 1), 250), defects);
    EXPECT_LE(cv::countNonZero(defects), 1);
}

TEST(GrayMatch, LearnsWherePixelsVaryBetweenTemplatesAndHonoursTheMask)
{
    GrayMatch m;
    cv::Mat mask = flat(60, 40, 255);
    mask(cv::Rect(0, 0, 20, 40)).setTo(0);  // left third ignored
    m.Create(60, 40, mask, 0);
    // The right third varies by +-30 between the templates, the middle by +-1.
    for (int v : {-1, 1, -1, 1}) {
        cv::Mat t = flat(60, 40, 130 + v);
        t(cv::Rect(40, 0, 20, 40)).setTo(130 + 30 * v);
        m.AddTemp(t);
    }
    ASSERT_TRUE(m.Train(45, 0, 100, 150));
    cv::Mat live = flat(60, 40, 130), defects;
    live(cv::Rect(2, 5, 10, 10)).setTo(160);   // masked out
    live(cv::Rect(45, 5, 10, 10)).setTo(160);  // within what the right third does
    live(cv::Rect(25, 20, 10, 10)).setTo(160); // far beyond what the middle does
    m.Match(live, defects);
    EXPECT_EQ(cv::countNonZero(defects(cv::Rect(0, 0, 20, 40))), 0);
    EXPECT_EQ(cv::countNonZero(defects(cv::Rect(41, 0, 19, 40))), 0);
    EXPECT_EQ(cv::countNonZero(defects(cv::Rect(25, 20, 10, 10))), 100);
}

TEST(GrayMatch, EdgeIgnoreLeavesTheTemplatesEdgesUnchecked)
{
    cv::Mat templ = flat(60, 40, 50);
    templ(cv::Rect(30, 0, 30, 40)).setTo(200);
    const cv::Mat live = withSpot(templ, cv::Rect(28, 15, 4, 6), 250);  // astride the edge

    cv::Mat defects;
    trained(templ, 50, 0, 0).Match(live, defects);
    EXPECT_GT(cv::countNonZero(defects), 10);
    trained(templ, 50, 0, 1).Match(live, defects);
    EXPECT_EQ(cv::countNonZero(defects), 0);
}

TEST(GrayMatch, CopiesInputsAcceptsViewsAndRefusesWrongSizes)
{
    cv::Mat storeT, storeL, storeD;
    cv::Mat templ = flat(30, 20, 120);
    cv::Mat templView = synth::nonContinuous(templ, storeT);
    GrayMatch m;
    m.Create(30, 20, cv::Mat(), 0);
    m.AddTemp(templView);
    storeT.setTo(0);  // the model must hold its own copy
    m.Train(45, 0, 100, 150);

    const cv::Mat liveView = synth::nonContinuous(withSpot(templ, cv::Rect(3, 3, 4, 4), 200), storeL);
    cv::Mat defectsView = synth::nonContinuous(cv::Mat::zeros(20, 30, CV_8UC1), storeD);
    ASSERT_TRUE(m.Match(liveView, defectsView));
    EXPECT_EQ(cv::countNonZero(defectsView(cv::Rect(3, 3, 4, 4))), 16);  // written into the caller's view
    EXPECT_EQ(storeD.at<uchar>(0, 0), 33);        // outside the view untouched

    cv::Mat defects;
    EXPECT_FALSE(m.Match(flat(31, 20, 120), defects));
    EXPECT_FALSE(m.Match(cv::Mat(20, 30, CV_16UC1), defects));
    EXPECT_FALSE(m.AddTemp(cv::Mat()));
}

TEST(GrayMatch, LargePartsAreNeverAbsorbedAsABrightnessChange)
{
    // A left-over part filling much of a ROI on a quiet cavity floor, bright
    // on dark and dark on bright, of one grey or shaded across, at default
    // settings: the part must be found over nearly all of its area, however
    // much of the ROI it covers.
    cv::RNG rng(11);
    const cv::Size box(130, 150);
    for (const auto& [floorGrey, partGrey] : {std::pair{70, 235}, std::pair{190, 25}}) {
        cv::Mat templ(box, CV_8UC1), noise(box, CV_32F);
        rng.fill(noise, cv::RNG::NORMAL, floorGrey, 1.5);
        noise.convertTo(templ, CV_8U);
        GrayMatch model = trained(templ, 45);
        for (const auto& [share, shade] : {std::pair{0.2, 0}, std::pair{0.45, 0}, std::pair{0.7, 0},
                                           std::pair{0.55, 100}, std::pair{0.7, 100}}) {
            SCOPED_TRACE(testing::Message() << "floor " << floorGrey << " part " << partGrey << " share " << share
                                            << " shade " << shade);
            const int side = int(std::lround(std::sqrt(share * box.area())));
            const cv::Rect part((box.width - side) / 2, (box.height - side) / 2, side, side);
            cv::Mat live = withSpot(templ, part, partGrey);
            // Shaded: the part's grey runs over `shade` levels towards the floor's.
            const int towardsFloor = floorGrey > partGrey ? 1 : -1;
            for (int y = 0; y < side; ++y)
                live(part).row(y).setTo(partGrey + towardsFloor * shade * y / side);
            cv::GaussianBlur(live, live, cv::Size(5, 5), 1.0);
            cv::Mat defects;
            ASSERT_TRUE(model.Match(live, defects));
            EXPECT_GT(cv::countNonZero(defects(part)), 0.9 * part.area());
        }
        // The same floor, only brighter by 12 %, is still no defect.
        cv::Mat brighter, defects;
        templ.convertTo(brighter, CV_8U, 1.12);
        model.Match(brighter, defects);
        EXPECT_EQ(cv::countNonZero(defects), 0);
    }
}

TEST(Surf, IdenticalScoresFullAndStructureChangesScoreLow)
{
    const cv::Mat templ = synth::scene(80, 60, 3);
    SURF m;
    ASSERT_TRUE(m.Create(80, 60, flat(80, 60, 255)));
    ASSERT_TRUE(m.AddTemp(templ, 1, 50, 80));
    ASSERT_TRUE(m.Train(0, 0, 0, 0));
    ASSERT_TRUE(m.IsValid());

    cv::Mat defects = cv::Mat::zeros(60, 80, CV_8UC1);
    cv::Mat same = templ.clone();
    EXPECT_EQ(int(m.Match(same, defects)), 100);
    EXPECT_EQ(cv::countNonZero(defects), 0);

    cv::Mat brighter = templ + 10;
    EXPECT_GE(m.Match(brighter, defects), 90.0f);

    cv::Mat other;
    cv::flip(templ, other, -1);  // same grey levels, other structure
    EXPECT_LT(m.Match(other, defects), 60.0f);

    cv::Mat spotted = templ.clone();
    spotted(cv::Rect(10, 10, 12, 12)).setTo(255);
    cv::Mat spotDefects = cv::Mat::zeros(60, 80, CV_8UC1);
    const float s = m.Match(spotted, spotDefects);
    EXPECT_LT(s, 100.0f);
    EXPECT_GT(s, 60.0f);
    EXPECT_GT(cv::countNonZero(spotDefects(cv::Rect(10, 10, 12, 12))), 0);
    EXPECT_EQ(cv::countNonZero(spotDefects(cv::Rect(40, 30, 40, 30))), 0);
}

TEST(Surf, BestOfSeveralTemplatesAndInvalidModels)
{
    const cv::Mat a = synth::scene(50, 50, 1), b = synth::scene(50, 50, 2);
    SURF m;
    m.Create(50, 50, cv::Mat());
    m.AddTemp(a, 1, 50, 0);
    m.AddTemp(b, 1, 50, 0);
    m.Train(0, 0, 0, 0);
    cv::Mat defects, bb = b.clone();
    EXPECT_EQ(int(m.Match(bb, defects)), 100);

    SURF empty;
    EXPECT_FALSE(empty.IsValid());
    EXPECT_EQ(empty.Match(bb, defects), 0.0f);
    empty.Create(50, 50, cv::Mat());
    EXPECT_FALSE(empty.Train(0, 0, 0, 0));
    cv::Mat wrong(10, 10, CV_8UC1);
    EXPECT_EQ(m.Match(wrong, defects), 0.0f);
    m.Clear();
    EXPECT_FALSE(m.IsValid());
}
