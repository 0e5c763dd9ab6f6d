#include "circle.h"
#include "clustomrect.h"
#include "globals.h"
#include "repolygon.h"

#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <random>

namespace {

ClustomRect selectedRect(QPoint a, QPoint b)
{
    ClustomRect r;
    r.rect = QRect(a, b);
    r.SetSelected(true);
    return r;
}

// The reference mask: a point-in-polygon test per pixel, outline outside.
cv::Mat referenceMask(const RePolygon& poly)
{
    const QRect box = poly.imageRect;
    cv::Mat mask(box.height(), box.width(), CV_8UC1, cv::Scalar(0));
    std::vector<cv::Point> contour;
    for (int i = 0; i < poly.nodeCount; ++i)
        contour.emplace_back(poly.imageNodes[i].x(), poly.imageNodes[i].y());
    for (int y = 0; y < mask.rows; ++y)
        for (int x = 0; x < mask.cols; ++x)
            if (cv::pointPolygonTest(contour, cv::Point2f(float(box.left() + x), float(box.top() + y)), false) > 0)
                mask.at<unsigned char>(y, x) = 255;
    return mask;
}

} // namespace

TEST(ClustomRectTest, HandlesCornersFirstThenSidesWithClampedMargins)
{
    ClustomRect small = selectedRect({100, 100}, {109, 109});
    int h = -2;
    EXPECT_TRUE(small.PtInCtrl({101, 101}, &h));
    EXPECT_EQ(h, 0);

    ClustomRect wide = selectedRect({100, 100}, {499, 499}); // 400 wide: side margin 50
    EXPECT_TRUE(wide.PtInCtrl({149, 300}, &h));
    EXPECT_EQ(h, 7);
    EXPECT_FALSE(wide.PtInCtrl({150, 300}, &h));
    EXPECT_EQ(h, -1);
    EXPECT_TRUE(wide.PtInCtrl({300, 499 + 49}, &h)); // the side band reaches outside the box
    EXPECT_FALSE(wide.PtInCtrl({300, 499 + 50}, &h));
    EXPECT_TRUE(wide.PtInCtrl({300, 460}, &h));
    EXPECT_EQ(h, 5);
    EXPECT_TRUE(wide.PtInCtrl({460, 300}, &h));
    EXPECT_EQ(h, 3);
    EXPECT_TRUE(wide.PtInCtrl({300, 101}, &h));
    EXPECT_EQ(h, 1);
    EXPECT_TRUE(wide.PtInCtrl({490, 110}, &h));
    EXPECT_EQ(h, 2);

    ClustomRect narrow = selectedRect({100, 100}, {107, 400}); // 8 wide: margin 2 becomes 3
    EXPECT_TRUE(narrow.PtInCtrl({98, 250}, &h));
    EXPECT_EQ(h, 7);
    EXPECT_FALSE(narrow.PtInCtrl({97, 250}, &h));

    ClustomRect idle;
    idle.rect = QRect(QPoint(100, 100), QPoint(109, 109));
    EXPECT_FALSE(idle.PtInCtrl({100, 100}, &h));
    EXPECT_EQ(h, -1);
}

TEST(ClustomRectTest, ResizeMovesTheHandlesEdgesOnly)
{
    ClustomRect r = selectedRect({100, 100}, {200, 200});
    r.Resize(2, {0, 0}, {5, -7});
    EXPECT_EQ(r.rect, QRect(QPoint(100, 93), QPoint(205, 200)));
    EXPECT_EQ(r.moveX, 5);
    EXPECT_EQ(r.moveY, -7);
    r.Resize(5, {0, 0}, {9, 3});
    EXPECT_EQ(r.rect.bottom(), 203);
    EXPECT_EQ(r.moveX, 5); // the x axis did not move
    EXPECT_EQ(r.moveY, 3);
    const QRect before = r.rect;
    r.Resize(-1, {0, 0}, {9, 9});
    r.Resize(8, {0, 0}, {9, 9});
    EXPECT_EQ(r.rect, before);
}

TEST(ClustomRectTest, ImageRectRoundsHalfToEvenAndSwappedCornersStillGiveAMask)
{
    gShowW = 1920;
    gShowH = 1080;
    ClustomRect r;
    r.rect = QRect(QPoint(5, 3), QPoint(14, 12)); // 10 x 10
    r.setShowA(2.0f, 2.0f);
    r.setImageRect();
    EXPECT_EQ(r.imageRect, QRect(2, 2, 5, 5)); // 2.5 -> 2, 1.5 -> 2, 5
    EXPECT_EQ(r.UpdateMask().rows, 5);
    EXPECT_EQ(cv::countNonZero(r.UpdateMask()), 25);

    r.rect.setCoords(100, 100, 40, 60); // corners swapped as a stored row may have them
    r.setShowA(1.0f, 1.0f);
    r.setImageRect();
    EXPECT_EQ(r.imageRect, QRect(QPoint(40, 60), QPoint(100, 100)));
    EXPECT_EQ(r.UpdateMask().cols, 61);

    r.rect.setCoords(1900, 1000, 1917, 1077);
    r.setShowA(1.5f, 1.5f); // a 1280 x 720 frame
    r.setImageRect();
    EXPECT_LE(r.imageRect.right(), 1279);
    EXPECT_LE(r.imageRect.bottom(), 719);
}

TEST(CircleTest, HandleBandAndQuadrants)
{
    Circle c;
    c.centerX = 300;
    c.centerY = 300;
    c.radius = 100;
    c.UpdateRect();
    c.SetSelected(true);
    int h = -2;
    EXPECT_FALSE(c.PtInCtrl({300 + 79, 300}, &h));
    EXPECT_FALSE(c.PtInCtrl({300 + 121, 300}, &h));
    EXPECT_TRUE(c.PtInCtrl({300 + 80, 300}, &h));
    EXPECT_EQ(h, 3);
    EXPECT_TRUE(c.PtInCtrl({300 - 120, 300}, &h));
    EXPECT_EQ(h, 7);
    EXPECT_TRUE(c.PtInCtrl({300, 400}, &h));
    EXPECT_EQ(h, 5);
    EXPECT_TRUE(c.PtInCtrl({300, 200}, &h));
    EXPECT_EQ(h, 1);
    EXPECT_TRUE(c.PtInCtrl({380, 360}, &h));
    EXPECT_EQ(h, 2);
    EXPECT_TRUE(c.PtInCtrl({220, 360}, &h));
    EXPECT_EQ(h, 0);
    EXPECT_TRUE(c.PtInCtrl({380, 240}, &h));
    EXPECT_EQ(h, 4);
    EXPECT_TRUE(c.PtInCtrl({220, 240}, &h));
    EXPECT_EQ(h, 6);

    c.Resize(3, {0, 0}, {330, 340}); // distance 50
    EXPECT_EQ(c.radius, 50);
    EXPECT_EQ(c.rect, QRect(250, 250, 100, 100));
}

TEST(CircleTest, RadiusIsCutByTheLeftAndTopEdgesBeforeTheInnerRadius)
{
    Circle c;
    auto place = [&c](int x, int y, int radius, int inner) {
        c.centerX = x;
        c.centerY = y;
        c.radius = radius;
        c.innerRadius = inner;
        c.UpdateRect();
    };
    place(30, 200, 50, 40);
    EXPECT_EQ(c.radius, 30);
    EXPECT_EQ(c.innerRadius, 30) << "never above the radius it belongs to";
    c.setShowA(1.0f, 1.0f);
    c.setImageRect();
    EXPECT_LE(c.imageInnerRadius, c.imageRadius);
    EXPECT_EQ(cv::countNonZero(c.UpdateMask()), 0);  // an empty ring: the engine fails it

    // In image coordinates the radius is cut by the image centre and the inner one follows.
    place(301, 11, 40, 10);
    EXPECT_EQ(c.radius, 11);
    EXPECT_EQ(c.innerRadius, 10);
    c.setShowA(2.0f, 2.0f);
    c.setImageRect();
    EXPECT_EQ(c.imageRadius, 5);
    EXPECT_EQ(c.imageInnerRadius, 5);

    // The right and bottom edges do not cut the radius: the engine cuts the box to the frame.
    place(1900, 1070, 100, 0);
    EXPECT_EQ(c.radius, 100);
}

TEST(CircleTest, ImageGeometryAndRingMask)
{
    Circle c;
    c.centerX = 201;
    c.centerY = 101;
    c.radius = 41;
    c.UpdateRect();
    c.setShowA(2.0f, 2.0f);
    c.setImageRect();
    EXPECT_EQ(c.imageCenterX, 100);
    EXPECT_EQ(c.imageCenterY, 50);
    EXPECT_EQ(c.imageRadius, 20);
    EXPECT_EQ(c.imageRect, QRect(80, 30, 40, 40));

    c.imageRadius = 10;
    c.imageInnerRadius = 5;
    const cv::Mat mask = c.UpdateMask();
    ASSERT_EQ(mask.rows, 20);
    EXPECT_EQ(mask.at<unsigned char>(10, 10), 0);  // centre: inside the hole
    EXPECT_EQ(mask.at<unsigned char>(10, 15), 255); // distance 5: on the inner circle, kept
    EXPECT_EQ(mask.at<unsigned char>(10, 0), 0);    // distance 10: outside
    EXPECT_EQ(mask.at<unsigned char>(10, 1), 255);
}

TEST(RePolygonTest, BoundingBoxesAndNodeDrag)
{
    gShowW = 1024;
    gShowH = 600;
    QPoint nodes[3] = {{10, 10}, {110, 10}, {10, 110}};
    RePolygon p(3, nodes);
    p.setShowA(1.0f, 1.0f);
    p.setImageRect();
    EXPECT_EQ(p.rect, QRect(QPoint(-10, -10), QPoint(109, 109)));
    EXPECT_EQ(p.imageRect, QRect(QPoint(10, 10), QPoint(109, 109)));

    p.Resize(0, {10, 10}, {2, 10}, 1.0f, 1.0f);
    EXPECT_EQ(p.nodes[0], QPoint(10, 10));
    EXPECT_EQ(p.moveX, -8);
    p.Resize(1, {0, 0}, {5, 5}, 2.0f, 2.0f);
    EXPECT_EQ(p.nodes[1], QPoint(115, 15));
    EXPECT_EQ(p.imageNodes[1], QPoint(58, 8)); // 57.5 -> 58, 7.5 -> 8
    p.Resize(7, {0, 0}, {5, 5}, 1.0f, 1.0f);    // no such node: nothing happens

    int n = -2;
    EXPECT_FALSE(p.PtInCtrl({110, 10}, &n));
    p.SetSelected(true);
    EXPECT_TRUE(p.PtInCtrl({120, 20}, &n));
    EXPECT_EQ(n, 1);
    gShowW = 1920;
    gShowH = 1080;
}

TEST(RePolygonTest, NodeCountIsBounded)
{
    std::vector<QPoint> many(9000, QPoint(5, 5));
    RePolygon p(9000, many.data());
    EXPECT_EQ(p.nodeCount, RePolygon::kMaxNodes);
    EXPECT_EQ(p.nodes.size(), RePolygon::kMaxNodes);
    RePolygon none(-3, many.data());
    EXPECT_EQ(none.nodeCount, 0);
    EXPECT_LT(sizeof(RePolygon), 256u);
}

TEST(RePolygonTest, ContainsUsesTheBoxForSmallOutlines)
{
    QPoint tri[3] = {{100, 100}, {300, 100}, {100, 300}};
    RePolygon p(3, tri);
    p.setImageRect();
    QPoint inside(150, 150), corner(290, 290);
    EXPECT_TRUE(p.Contains(inside));
    EXPECT_FALSE(p.Contains(corner)); // inside the box, outside the triangle
    QPoint small[3] = {{100, 100}, {150, 100}, {100, 150}};
    RePolygon q(3, small);
    q.setImageRect();
    QPoint boxCorner(145, 145);
    EXPECT_TRUE(q.Contains(boxCorner));
}

TEST(RePolygonTest, ScanLineMaskEqualsThePerPixelTestOnRandomPolygons)
{
    std::mt19937 random(12345);
    for (int round = 0; round < 300; ++round) {
        const int n = 3 + int(random() % 30);
        std::vector<QPoint> points;
        const int span = 5 + int(random() % 120);
        for (int i = 0; i < n; ++i)
            points.emplace_back(int(random() % span), int(random() % span));
        if (round % 3 == 0) // axis-aligned edges and repeated nodes
            for (QPoint& pt : points)
                pt = QPoint(pt.x() / 8 * 8, pt.y() / 8 * 8);
        RePolygon poly(n, points.data());
        poly.setShowA(1.0f, 1.0f);
        poly.setImageRect();
        const cv::Mat mask = poly.UpdateMask();
        const cv::Mat expected = referenceMask(poly);
        ASSERT_EQ(mask.size(), expected.size()) << round;
        if (mask.empty())
            continue;
        ASSERT_EQ(cv::countNonZero(mask != expected), 0) << "round " << round << " n " << n;
    }
}

TEST(RePolygonTest, PointOnAnEdgeIsOutside)
{
    QPoint square[4] = {{0, 0}, {10, 0}, {10, 10}, {0, 10}};
    RePolygon p(4, square);
    p.setImageRect();
    const cv::Mat mask = p.UpdateMask();
    EXPECT_EQ(mask.at<unsigned char>(0, 5), 0);
    EXPECT_EQ(mask.at<unsigned char>(5, 0), 0);
    EXPECT_EQ(mask.at<unsigned char>(5, 5), 255);
    EXPECT_EQ(cv::countNonZero(mask), 81);
}

TEST(ShapeDrawTest, SelectedShapesPaintHandlesInYellowAndMagenta)
{
    QImage image(400, 400, QImage::Format_RGB32);
    image.fill(Qt::black);
    ClustomRect r = selectedRect({50, 50}, {150, 150});
    r.handle = 0;
    Circle c;
    c.centerX = 300;
    c.centerY = 300;
    c.radius = 50;
    c.UpdateRect();
    {
        QPainter painter(&image);
        painter.setPen(Qt::white);
        r.Draw(painter);
        c.Draw(painter);
    }
    EXPECT_EQ(image.pixel(40, 50), QColor(Qt::yellow).rgb());   // top-left handle in use
    EXPECT_EQ(image.pixel(150, 140), QColor(Qt::magenta).rgb()); // bottom-right handle
    EXPECT_EQ(image.pixel(250, 300), QColor(Qt::white).rgb());   // unselected circle: caller's pen
}
