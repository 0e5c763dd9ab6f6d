#include "enginefixture.h"
#include "imghomotrans.h"

#include <QRegularExpression>
#include <opencv2/imgproc.hpp>

namespace {

// The positioning log line carries the shift and angle that were applied.
QStringList gLog;
void captureLog(QtMsgType, const QMessageLogContext&, const QString& text)
{
    gLog << text;
}

struct Applied
{
    bool found = false;
    int dx = 0, dy = 0;
    double angle = 0;
};

Applied lastPositioning()
{
    static const QRegularExpression line("x:\\s+(-?\\d+)\\s+y:\\s+(-?\\d+)\\s+a:\\s+(\\S+)");
    Applied a;
    for (const QString& text : gLog) {
        const QRegularExpressionMatch m = line.match(text);
        if (text.contains("OK") && m.hasMatch()) {
            a = {true, m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toDouble()};
        }
    }
    return a;
}

double meanDiff(const cv::Mat& a, const cv::Mat& b, cv::Rect inner)
{
    cv::Mat d;
    cv::absdiff(a(inner), b(inner), d);
    return cv::mean(d)[0];
}

// Share of pixels (percent) that differ by more than an edge's worth of grey.
double misplaced(const cv::Mat& a, const cv::Mat& b, cv::Rect inner)
{
    cv::Mat d;
    cv::absdiff(a(inner), b(inner), d);
    return 100.0 * cv::countNonZero(d > 40) / double(inner.area());
}

} // namespace

class PositionTest : public EngineTest
{
protected:
    static constexpr int kPW = 640;
    static constexpr int kPH = 480;

    void SetUp() override
    {
        setUpCamera(kPW, kPH, false, 2);
        scene = synth::scene(kPW, kPH, 11);
        setTemplate(0, 0, scene);
        para.motionCorrect = 0;
        gLog.clear();
        previous = qInstallMessageHandler(captureLog);
    }
    void TearDown() override
    {
        qInstallMessageHandler(previous);
        EngineTest::TearDown();
    }
    void position(const cv::Mat& live, int group = 0)
    {
        live.copyTo(frame(state->pAlignBuf));
        engine->ShapeMatch(group);
    }

    const cv::Rect inner{kPW / 4, kPH / 4, kPW / 2, kPH / 2};
    const cv::Point centre{kPW / 4 + kPW / 4, kPH / 4 + kPH / 4};
    cv::Mat scene;
    QtMessageHandler previous = nullptr;
};

TEST_F(PositionTest, ShiftedFrameIsMovedBack)
{
    engine->CreateShape(0);
    ASSERT_TRUE(engine->shapeModel[0].IsValid());
    position(synth::shifted(scene, 7, -4));
    const Applied a = lastPositioning();
    ASSERT_TRUE(a.found);
    EXPECT_NEAR(a.dx, -7, 1);
    EXPECT_NEAR(a.dy, 4, 1);
    EXPECT_EQ(a.angle, 0.0);
    EXPECT_LT(meanDiff(checkFrame(), scene, inner), 1.0);
}

TEST_F(PositionTest, TurnedFrameIsTurnedBackWhenAnglesAreSearched)
{
    para.angle = 10;
    engine->CreateShape(0);
    const cv::Mat live = synth::turned(scene, centre, 6.0, 5, 3);
    position(live);
    const Applied a = lastPositioning();
    ASSERT_TRUE(a.found);
    EXPECT_NEAR(a.angle, -6.0, 1.0);
    EXPECT_NEAR(a.dx, -5, 1);
    EXPECT_NEAR(a.dy, -3, 1);
    EXPECT_LT(misplaced(checkFrame(), scene, inner), 0.5);
    EXPECT_GT(misplaced(live, scene, inner), 2.0);
}

TEST_F(PositionTest, AngleZeroOnlyShifts)
{
    para.angle = 0;
    engine->CreateShape(0);
    position(synth::shifted(scene, -9, 6));
    const Applied a = lastPositioning();
    ASSERT_TRUE(a.found);
    EXPECT_NEAR(a.dx, 9, 1);
    EXPECT_NEAR(a.dy, -6, 1);
}

TEST_F(PositionTest, PositionsWithTheGivenGroupNotTheCyclesDetection)
{
    engine->CreateShape(0);
    window.checkDetect = 1;  // group 1 has no model
    position(synth::shifted(scene, 7, -4), 0);
    EXPECT_TRUE(lastPositioning().found);
    EXPECT_LT(meanDiff(checkFrame(), scene, inner), 1.0);
}

TEST_F(PositionTest, NotFoundOrSwitchedOffCopiesTheFrame)
{
    engine->CreateShape(0);
    const cv::Mat blank(kPH, kPW, CV_8UC1, cv::Scalar(77));
    position(blank);
    EXPECT_FALSE(lastPositioning().found);
    EXPECT_TRUE(gLog.filter("NG").size() == 1);
    EXPECT_EQ(cv::countNonZero(checkFrame() != blank), 0);

    // Alignment and positioning off: the check buffer is a byte copy of the capture.
    para.motionCorrect = -1;
    cv::randu(capture(), 0, 256);
    engine->HomoTransShape(0);
    engine->ShapeMatch(0);
    EXPECT_EQ(std::memcmp(state->pCheckBuf, state->pCaptureBuf, size_t(state->frameBytes)), 0);
}

TEST_F(PositionTest, AnglesAndShiftsAreTakenUpToTheirLimitsAndNoFurther)
{
    // The angle range itself is searched; twice the range is not.
    para.angle = 5;
    engine->CreateShape(0);
    position(synth::turned(scene, centre, 5.0));
    Applied a = lastPositioning();
    ASSERT_TRUE(a.found);
    EXPECT_NEAR(a.angle, -5.0, 0.7);
    gLog.clear();
    position(synth::turned(scene, centre, 10.0));
    EXPECT_FALSE(lastPositioning().found);

    // A range of 1 degree is a range (the turn is undone), 0 only shifts.
    para.angle = 1;
    engine->CreateShape(0);
    gLog.clear();
    position(synth::turned(scene, centre, 1.0));
    a = lastPositioning();
    ASSERT_TRUE(a.found);
    EXPECT_LT(a.angle, -0.4);

    // The search box is the model's box widened by the offset on every side (clipped to the frame).
    para.angle = 0;
    para.offset = 20;
    engine->CreateShape(0);
    EXPECT_EQ(engine->shapeRect[0], cv::Rect(inner.x - 20, inner.y - 20, inner.width + 40, inner.height + 40));
    para.offset = 200;
    engine->CreateShape(0);
    EXPECT_EQ(engine->shapeRect[0], cv::Rect(0, 0, kPW, kPH));
}

TEST(ImgHomoTrans, ScaleShrinksLargeTemplatesOnly)
{
    EXPECT_FLOAT_EQ(ImgHomoTrans::scaleFor(1000, 2000), 0.5f);
    EXPECT_FLOAT_EQ(ImgHomoTrans::scaleFor(600, 800), 1.0f);
    ImgHomoTrans h;
    EXPECT_FALSE(h.setTemplate(cv::Mat(), cv::Mat(), 1));
    EXPECT_FALSE(h.setTemplate(cv::Mat(100, 100, CV_8UC1), cv::Mat(50, 50, CV_8UC1), 1));
    cv::Mat src(100, 100, CV_8UC1, cv::Scalar(1)), dst = src.clone();
    EXPECT_FALSE(h.transImageHomo(src, dst, 0.4f));  // no template features

    // A refused template leaves no features of an earlier one to align with.
    const cv::Mat t = synth::textured(400, 300, 4);
    EXPECT_TRUE(h.setTemplate(t, cv::Mat(), 50));
    EXPECT_FALSE(h.setTemplate(t, cv::Mat(10, 10, CV_8UC1), 50));
    cv::Mat live = t.clone(), out = t.clone();
    EXPECT_FALSE(h.transImageHomo(live, out, 0.4f));
}

TEST_F(EngineTest, AlignmentWarpsATiltedFrameOntoTheTemplate)
{
    constexpr int w = 800, h = 600;
    setUpCamera(w, h, false, 1);
    para.angleCorrection = 1;
    const cv::Mat t = synth::textured(w, h, 21);
    setTemplate(0, 0, t);
    engine->CreateHomoShape(0);
    EXPECT_GE(engine->homoTrans[0].features[1].keypoints.size(), 300u);

    // The live frame: turned by 3 degrees, moved, slightly tilted.
    cv::Mat hm = (cv::Mat_<double>(3, 3) << 0.998, -0.052, 14, 0.052, 0.998, -9, 2e-5, -1e-5, 1);
    cv::Mat live;
    cv::warpPerspective(t, live, hm, t.size());
    live.copyTo(capture());
    EXPECT_EQ(engine->HomoTransShape(0), 1);
    const cv::Rect inner(w / 4, h / 4, w / 2, h / 2);
    cv::Mat aligned(h, w, CV_8UC1, state->pAlignBuf);
    EXPECT_LT(meanDiff(aligned, t, inner), 3.0);
    EXPECT_GT(meanDiff(live, t, inner), 10.0);

    para.angleCorrection = 0;
    engine->HomoTransShape(0);
    EXPECT_EQ(std::memcmp(state->pAlignBuf, state->pCaptureBuf, size_t(state->frameBytes)), 0);
}

// A colour camera is never aligned or positioned: its whole 4-byte frame passes.
TEST_F(EngineTest, ColourFramePassesAlignmentAndPositioningUnchanged)
{
    setUpCamera(kW, kH, true);
    para.angleCorrection = 1;
    para.motionCorrect = 0;
    para.angle = 10;
    cv::Mat capture4(kH, kW, CV_8UC4, state->pCaptureBuf);
    cv::randu(capture4, 0, 256);
    EXPECT_EQ(engine->HomoTransShape(0), 1);
    engine->ShapeMatch(0);
    EXPECT_EQ(std::memcmp(state->pCheckBuf, state->pCaptureBuf, size_t(state->frameBytes)), 0);
    EXPECT_EQ(state->frameBytes, 4 * kW * kH);
}
