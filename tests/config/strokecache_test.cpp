#include "circle.h"
#include "clustomrect.h"
#include "repolygon.h"
#include "strokecache.h"

#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

#include <functional>

// The shapes replay remembered outlines: every pixel must match what the pen
// strokes directly, wherever the shape stands and whatever the view's scale.
namespace {

constexpr int kSide = 420;
const QPoint kElsewhere(60, 60);  // a whole number of pixels at every tested scale

using DrawAt = std::function<void(QPainter&, QPoint)>;

QImage paint(const QTransform& t, const std::function<void(QPainter&)>& body)
{
    QImage image(kSide, kSide, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setTransform(t);
    painter.setPen(Qt::red);
    body(painter);
    return image;
}

// Direct stroke (first sight) against a replay of an outline learnt elsewhere.
void expectSameAsStroke(const DrawAt& draw, QPoint at, const QTransform& t, const char* what)
{
    StrokeCache::clear();
    const QImage direct = paint(t, [&](QPainter& p) { draw(p, at); });
    StrokeCache::clear();
    paint(t, [&](QPainter& p) {
        draw(p, at + kElsewhere);  // seen
        draw(p, at + kElsewhere);  // learnt
    });
    ASSERT_GT(StrokeCache::size(), 0) << what;
    const QImage replayed = paint(t, [&](QPainter& p) { draw(p, at); });
    EXPECT_TRUE(direct == replayed) << what << " at " << at.x() << "," << at.y() << " scale " << t.m11();
}

const QTransform kTransforms[] = {
    QTransform(),
    QTransform::fromTranslate(7, 3),
    QTransform::fromScale(0.5, 0.5),
    QTransform::fromScale(2.0 / 3.0, 2.0 / 3.0),
    QTransform(0.5, 0, 0, 0.5, 11, 5),
    QTransform::fromScale(2, 2),
};

}  // namespace

TEST(StrokeCacheTest, RectanglesReplayTheStrokedPixels)
{
    const QSize sizes[] = {{150, 80}, {1, 1}, {2, 5}, {0, 0}, {-6, -4}, {37, 3}};
    for (const QTransform& t : kTransforms) {
        for (const QSize& size : sizes) {
            for (const QPoint at : {QPoint(20, 30), QPoint(21, 33), QPoint(45, 17)}) {
                const DrawAt draw = [size](QPainter& p, QPoint pos) {
                    ClustomRect r;
                    r.rect = QRect(pos, size);
                    r.Draw(p);
                };
                expectSameAsStroke(draw, at, t, "rectangle");
            }
        }
    }
}

TEST(StrokeCacheTest, CirclesAndRingsReplayTheStrokedPixels)
{
    for (const QTransform& t : kTransforms) {
        for (int inner : {0, 12}) {
            for (const QPoint at : {QPoint(20, 30), QPoint(23, 31)}) {
                const DrawAt draw = [inner](QPainter& p, QPoint pos) {
                    Circle c;
                    c.rect = QRect(pos, QSize(91, 70));
                    c.innerRadius = inner;
                    c.UpdateAll();
                    c.Draw(p);
                };
                expectSameAsStroke(draw, at, t, "circle");
            }
        }
    }
}

TEST(StrokeCacheTest, PolygonsReplayTheStrokedPixels)
{
    const QVector<QPoint> shape{{0, 0}, {90, 13}, {120, 95}, {40, 130}, {-20, 70}, {25, 40}};
    for (const QTransform& t : kTransforms) {
        for (const QPoint at : {QPoint(40, 30), QPoint(41, 37)}) {
            const DrawAt draw = [&shape](QPainter& p, QPoint pos) {
                QVector<QPoint> nodes;
                for (const QPoint& n : shape)
                    nodes << n + pos;
                RePolygon poly(nodes.size(), nodes.data());
                poly.Draw(p);
            };
            expectSameAsStroke(draw, at, t, "polygon");
        }
    }
}

TEST(StrokeCacheTest, OnlyOutlinesMetTwiceAreRemembered)
{
    StrokeCache::clear();
    paint(QTransform(), [](QPainter& p) {
        for (int w = 10; w < 60; ++w) {  // a rectangle being dragged: every size once
            ClustomRect r;
            r.rect = QRect(10, 10, w, 20);
            r.Draw(p);
        }
    });
    EXPECT_EQ(StrokeCache::size(), 0);

    // Antialiased painting is never replayed, however often it repeats.
    QImage image(100, 100, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    ClustomRect r;
    r.rect = QRect(10, 10, 30, 20);
    for (int i = 0; i < 3; ++i)
        r.Draw(p);
    EXPECT_EQ(StrokeCache::size(), 0);
}

TEST(StrokeCacheTest, DisabledWorldMatrixIsStrokedAsItStands)
{
    auto draw = [](QPainter& p) {
        p.setWorldMatrixEnabled(false);  // the translation below is not applied
        ClustomRect r;
        r.rect = QRect(30, 40, 50, 20);
        r.Draw(p);
    };
    StrokeCache::clear();
    const QImage direct = paint(QTransform::fromTranslate(7, 3), draw);
    const QImage repeated = paint(QTransform::fromTranslate(7, 3), [&](QPainter& p) {
        draw(p);
        draw(p);
        draw(p);
    });
    EXPECT_TRUE(direct == repeated);
    EXPECT_EQ(StrokeCache::size(), 0);
}
