#include "miscfunc.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <sstream>
#include <vector>

namespace {

// The positioning warp as it was: the frame padded to its diagonal, shifted,
// turned as a whole and cut back. The reference every result must equal.
void paddedTransform(const cv::Mat& src, cv::Mat& dst, cv::Point shift, cv::Point centre, double angle)
{
    const int m = std::max(src.rows, src.cols);
    const int diagonal = int(m * 1.414);
    const int padX = (diagonal - src.cols) / 2;
    const int padY = (diagonal - src.rows) / 2;
    cv::Mat padded;
    cv::copyMakeBorder(src, padded, padY, padY, padX, padX, cv::BORDER_CONSTANT, cv::Scalar(0));
    cv::Mat shifted(padded.size(), padded.type());
    MoveImage(padded, shifted, shift.x, shift.y);
    const cv::Mat rotation =
        cv::getRotationMatrix2D(cv::Point2f(float(centre.x + padX), float(centre.y + padY)), angle, 1.0);
    cv::Mat turned;
    cv::warpAffine(shifted, turned, rotation, shifted.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar(0));
    turned(cv::Rect(padX, padY, src.cols, src.rows)).copyTo(dst);
}

// Noise over edges and a bright border row and column: every pixel differs
// from its neighbours, so a sample point moved by 1/32 pixel shows.
cv::Mat testFrame(cv::Size size, int seed)
{
    cv::Mat frame(size, CV_8UC1);
    cv::RNG rng{uint64(seed)};
    rng.fill(frame, cv::RNG::UNIFORM, 0, 256);
    cv::rectangle(frame, cv::Rect(size.width / 4, size.height / 3, size.width / 2, size.height / 3), cv::Scalar(250),
                  cv::FILLED);
    frame.row(0).setTo(255);
    frame.col(size.width - 1).setTo(200);
    return frame;
}

std::string caseName(cv::Size s, cv::Point shift, cv::Point centre, double angle)
{
    std::ostringstream out;
    out << s.width << "x" << s.height << " shift " << shift << " centre " << centre << " angle " << angle;
    return out.str();
}

} // namespace

// Every shift, centre and angle the engine can meet gives the old pixels:
// angle 0 (a plain move), the small angles of a plant's range, large turns,
// centres on and beyond the border, shifts that push the frame past its
// padding, odd sizes and a destination buffer written in place.
TEST(TransformImageTest, SamePixelsAsThePaddedWarp)
{
    const cv::Size sizes[] = {{64, 48}, {37, 61}, {160, 120}, {1, 1}, {3, 2}};
    const cv::Point shifts[] = {{0, 0}, {3, -2}, {-7, 5}, {-40, 31}, {90, -70}, {400, 0}};
    const double angles[] = {0.0, -0.0, 0.25, -1.75, 2.0, 10.0, -45.0, 90.0, 180.0, 359.5};
    int seed = 1;
    int compared = 0;
    for (const cv::Size& size : sizes) {
        const cv::Point centres[] = {{size.width / 2, size.height / 2}, {0, 0}, {size.width - 1, size.height - 1},
                                     {-15, size.height + 9}};
        const cv::Mat src = testFrame(size, seed++);
        for (const cv::Point& shift : shifts) {
            for (const cv::Point& centre : centres) {
                for (double angle : angles) {
                    cv::Mat expected, actual;
                    paddedTransform(src, expected, shift, centre, angle);
                    TransformImage(src, actual, shift, centre, angle);
                    ASSERT_EQ(actual.size(), src.size()) << caseName(size, shift, centre, angle);
                    ASSERT_EQ(actual.type(), CV_8UC1);
                    ASSERT_EQ(cv::norm(expected, actual, cv::NORM_INF), 0) << caseName(size, shift, centre, angle);
                    ++compared;
                }
            }
        }
    }
    EXPECT_EQ(compared, 5 * 6 * 4 * 10);
}

TEST(TransformImageTest, WritesInPlaceAndReadsBeforeWriting)
{
    const cv::Mat src = testFrame({96, 72}, 7);
    cv::Mat expected;
    paddedTransform(src, expected, {4, -3}, {40, 30}, 1.5);

    // A destination of the right size keeps its buffer (the engine's check buffer).
    std::vector<unsigned char> buffer(size_t(src.total()), 9);
    cv::Mat view(src.size(), CV_8UC1, buffer.data());
    TransformImage(src, view, {4, -3}, {40, 30}, 1.5);
    EXPECT_EQ(view.data, buffer.data());
    EXPECT_EQ(cv::norm(expected, view, cv::NORM_INF), 0);

    // The same buffer as source and destination still gives the turned frame.
    cv::Mat same = src.clone();
    const unsigned char* data = same.data;
    TransformImage(same, same, {4, -3}, {40, 30}, 1.5);
    EXPECT_EQ(same.data, data);
    EXPECT_EQ(cv::norm(expected, same, cv::NORM_INF), 0);

    // A destination of another size or type is replaced; an empty frame gives an empty result.
    cv::Mat wrong(5, 5, CV_32F);
    TransformImage(src, wrong, {4, -3}, {40, 30}, 1.5);
    EXPECT_EQ(cv::norm(expected, wrong, cv::NORM_INF), 0);
    cv::Mat none = src.clone();
    EXPECT_NO_THROW(TransformImage(cv::Mat(), none, {1, 1}, {0, 0}, 10.0));
    EXPECT_TRUE(none.empty());
}
