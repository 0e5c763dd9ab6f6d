#include "circle.h"

#include "strokecache.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdlib>

using namespace ShapeGeometry;

namespace {
constexpr float kHalf = 0.5f;
}

Circle::Circle()
{
    UpdateAll();
}

void Circle::UpdateAll()
{
    const int r = std::min((rect.bottom() - rect.top() + 1) / 2, (rect.right() - rect.left() + 1) / 2);
    radius = r;
    centerX = rect.left() + r;
    centerY = rect.top() + r;
    UpdateRect();
}

void Circle::UpdateRect()
{
    // The radius is cut to the centre's distance from the left and top edges
    // first, so that the inner radius limited after it never exceeds it.
    radius = std::min({radius, centerX, centerY});
    if (radius < 0)
        radius = 0;
    innerRadius = std::clamp(innerRadius, 0, radius);
    rect = QRect(centerX - radius, centerY - radius, 2 * radius, 2 * radius);
}

Circle::ImageRing Circle::imageRing() const
{
    const float sx = safeScale(scaleX);
    const float sy = safeScale(scaleY);
    ImageRing ring;
    ring.radius = nearest((float(radius) / sx + float(radius) / sy) * kHalf);
    ring.inner = nearest((float(innerRadius) / sx + float(innerRadius) / sy) * kHalf);
    ring.centerX = int(float(centerX) / sx);
    ring.centerY = int(float(centerY) / sy);
    // The engine cuts the box to the frame; the inner radius follows a cut radius.
    ring.radius = std::max(0, std::min({ring.radius, ring.centerX, ring.centerY}));
    ring.inner = std::clamp(ring.inner, 0, ring.radius);
    return ring;
}

QRect Circle::shownBox(int r) const
{
    const ImageRing ring = imageRing();
    const float sx = safeScale(scaleX);
    const float sy = safeScale(scaleY);
    const int left = nearest(float(ring.centerX - r) * sx);
    const int top = nearest(float(ring.centerY - r) * sy);
    const int right = nearest(float(ring.centerX + r) * sx);
    const int bottom = nearest(float(ring.centerY + r) * sy);
    return QRect(left, top, right - left, bottom - top);
}

QRect Circle::shownOuter() const { return shownBox(imageRing().radius); }

QRect Circle::shownInner() const { return shownBox(imageRing().inner); }

QPointF Circle::unstretched(QPoint d) const
{
    // The image radius is the mean of radius / sx and radius / sy, so the shown
    // half axes are radius * (1 + sx / sy) / 2 and radius * (1 + sy / sx) / 2.
    const float sx = safeScale(scaleX);
    const float sy = safeScale(scaleY);
    return QPointF(d.x() / ((1.0 + sx / sy) * kHalf), d.y() / ((1.0 + sy / sx) * kHalf));
}

bool Circle::PtInCtrl(QPoint p, int* h)
{
    handle = -1;
    if (selected) {
        const QPointF u = unstretched(p - QPoint(centerX, centerY));
        const long dx = std::lround(u.x());
        const long dy = std::lround(u.y());
        const long d2 = dx * dx + dy * dy;
        const long r = radius;
        const long band = kHandle;
        if (d2 >= r * r - 2 * band * r + band * band && d2 <= r * r + 2 * band * r + band * band) {
            if (std::abs(dx) < kHandle)
                handle = p.y() > centerY ? 5 : 1;
            else if (std::abs(dy) < kHandle)
                handle = p.x() < centerX ? 7 : 3;
            else if (p.y() > centerY)
                handle = p.x() < centerX ? 0 : 2;
            else
                handle = p.x() > centerX ? 4 : 6;
        }
    }
    if (h)
        *h = handle;
    return handle >= 0;
}

bool Circle::Contains(QPoint p) const
{
    return shownOuter().adjusted(-kHandle, -kHandle, kHandle, kHandle).contains(p);
}

void Circle::setShowA(float sx, float sy)
{
    scaleX = sx;
    scaleY = sy;
}

void Circle::Resize(int, QPoint, QPoint to)
{
    // The shown outline follows the finger.
    const QPointF u = unstretched(to - QPoint(centerX, centerY));
    radius = int(std::sqrt(u.x() * u.x() + u.y() * u.y()));
    UpdateRect();
}

void Circle::setImageRect()
{
    const ImageRing ring = imageRing();
    imageRadius = ring.radius;
    imageInnerRadius = ring.inner;
    imageCenterX = ring.centerX;
    imageCenterY = ring.centerY;
    imageRect = QRect(imageCenterX - imageRadius, imageCenterY - imageRadius, 2 * imageRadius, 2 * imageRadius);
}

cv::Mat Circle::UpdateMask() const
{
    const int R = imageRadius;
    const long outer = long(R) * R;
    const long inner = long(imageInnerRadius) * imageInnerRadius;
    cv::Mat mask(2 * R, 2 * R, CV_8UC1, cv::Scalar(0));
    for (int y = 0; y < mask.rows; ++y) {
        unsigned char* row = mask.ptr<unsigned char>(y);
        const long dy = y - R;
        for (int x = 0; x < mask.cols; ++x) {
            const long dx = x - R;
            const long d2 = dx * dx + dy * dy;
            row[x] = (inner <= d2 && d2 < outer) ? 255 : 0;
        }
    }
    return mask;
}

void Circle::Draw(QPainter& p) const
{
    p.save();
    QPen pen = p.pen();
    pen.setWidth(kPenWidth);
    p.setPen(pen);
    const QRect outer = shownOuter();
    if (selected) {
        const QPoint c = outer.center();
        const QPoint points[4] = {QPoint(c.x(), outer.top()), QPoint(outer.right(), c.y()),
                                  QPoint(c.x(), outer.bottom()), QPoint(outer.left(), c.y())};
        for (int i = 0; i < 4; ++i)
            drawHandle(p, pen, points[i], handle == 2 * i + 1);
        pen.setColor(Qt::magenta);
        p.setPen(pen);
    }
    for (const QRect& e : {outer, shownInner()}) {
        const QRect box = e.normalized();
        StrokeCache::stroke(p, box, {e.x() - box.x(), e.y() - box.y(), e.width(), e.height()},
                            [e](QPainter& q) { q.drawEllipse(e); });
        pen.setColor(Qt::yellow);
        p.setPen(pen);
    }
    p.restore();
}
