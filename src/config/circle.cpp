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

bool Circle::PtInCtrl(QPoint p, int* h)
{
    handle = -1;
    if (selected) {
        const long dx = p.x() - centerX;
        const long dy = p.y() - centerY;
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
    return rect.adjusted(-kHandle, -kHandle, kHandle, kHandle).contains(p);
}

void Circle::setShowA(float sx, float sy)
{
    scaleX = sx;
    scaleY = sy;
}

void Circle::Resize(int, QPoint, QPoint to)
{
    const int dx = to.x() - centerX;
    const int dy = to.y() - centerY;
    radius = int(std::sqrt(float(dx * dx + dy * dy)));
    UpdateRect();
}

void Circle::setImageRect()
{
    const float sx = safeScale(scaleX);
    const float sy = safeScale(scaleY);
    imageRadius = nearest((float(radius) / sx + float(radius) / sy) * kHalf);
    imageInnerRadius = nearest((float(innerRadius) / sx + float(innerRadius) / sy) * kHalf);
    imageCenterX = int(float(centerX) / sx);
    imageCenterY = int(float(centerY) / sy);
    // The engine cuts the box to the frame; the inner radius follows a cut radius.
    imageRadius = std::max(0, std::min({imageRadius, imageCenterX, imageCenterY}));
    imageInnerRadius = std::clamp(imageInnerRadius, 0, imageRadius);
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
    if (selected) {
        const QPoint points[4] = {QPoint(centerX, rect.top()), QPoint(rect.right(), centerY),
                                  QPoint(centerX, rect.bottom()), QPoint(rect.left(), centerY)};
        for (int i = 0; i < 4; ++i)
            drawHandle(p, pen, points[i], handle == 2 * i + 1);
        pen.setColor(Qt::magenta);
        p.setPen(pen);
    }
    const QRect inner(centerX - innerRadius, centerY - innerRadius, 2 * innerRadius, 2 * innerRadius);
    for (const QRect& e : {rect, inner}) {
        const QRect box = e.normalized();
        StrokeCache::stroke(p, box, {e.x() - box.x(), e.y() - box.y(), e.width(), e.height()},
                            [e](QPainter& q) { q.drawEllipse(e); });
        pen.setColor(Qt::yellow);
        p.setPen(pen);
    }
    p.restore();
}
