#include "clustomrect.h"

#include "miscfunc.h"
#include "strokecache.h"

#include <QPainter>

#include <algorithm>

using namespace ShapeGeometry;

namespace {
constexpr int kSideDivisor = 4;
}

bool ClustomRect::PtInCtrl(QPoint p, int* h)
{
    handle = -1;
    if (selected) {
        const int x1 = rect.left(), y1 = rect.top(), x2 = rect.right(), y2 = rect.bottom();
        const int marginW = (x2 - x1 + 1) / kSideDivisor;
        const int marginH = (y2 - y1 + 1) / kSideDivisor;
        if (PointAround(QPoint(x1, y1), p, kHandle))
            handle = 0;
        else if (PointAround(QPoint(x2, y1), p, kHandle))
            handle = 2;
        else if (PointAround(QPoint(x1, y2), p, kHandle))
            handle = 6;
        else if (PointAround(QPoint(x2, y2), p, kHandle))
            handle = 4;
        else if (LineAround(p.x(), x1, p.y(), y1, y2, marginW))
            handle = 7;
        else if (LineAround(p.x(), x2, p.y(), y1, y2, marginW))
            handle = 3;
        else if (LineAround(p.y(), y1, p.x(), x1, x2, marginH))
            handle = 1;
        else if (LineAround(p.y(), y2, p.x(), x1, x2, marginH))
            handle = 5;
    }
    if (h)
        *h = handle;
    return handle >= 0;
}

bool ClustomRect::Contains(QPoint p) const
{
    return rect.adjusted(-kHandle, -kHandle, kHandle, kHandle).contains(p);
}

void ClustomRect::setShowA(float sx, float sy)
{
    scaleX = sx;
    scaleY = sy;
}

void ClustomRect::Resize(int h, QPoint from, QPoint to)
{
    const int dx = to.x() - from.x();
    const int dy = to.y() - from.y();
    // Which of x1, y1, x2, y2 each handle moves, clockwise from the top-left corner.
    static const bool kMoves[8][4] = {
        {true, true, false, false}, {false, true, false, false}, {false, true, true, false},
        {false, false, true, false}, {false, false, true, true}, {false, false, false, true},
        {true, false, false, true}, {true, false, false, false}};
    if (h < 0 || h > 7)
        return;
    const bool* m = kMoves[h];
    if (m[0])
        rect.setLeft(rect.left() + dx);
    if (m[1])
        rect.setTop(rect.top() + dy);
    if (m[2])
        rect.setRight(rect.right() + dx);
    if (m[3])
        rect.setBottom(rect.bottom() + dy);
    if (m[0] || m[2])
        moveX = dx;
    if (m[1] || m[3])
        moveY = dy;
}

void ClustomRect::setImageRect()
{
    // A stored rectangle may have its corners swapped; a negative size would
    // make an invalid mask, so the corners are ordered first.
    const QRect r = rect.normalized();
    const float sx = safeScale(scaleX);
    const float sy = safeScale(scaleY);
    const int x = nearest(float(r.left()) / sx);
    const int y = nearest(float(r.top()) / sy);
    const int w = nearest(float(r.width()) / sx);
    const int h = nearest(float(r.height()) / sy);
    // The engine and the views cut the box to the frame themselves.
    const QRect image(x, y, w, h);
    imageRect = image.isValid() ? image : QRect(x, y, 0, 0);
}

cv::Mat ClustomRect::UpdateMask() const
{
    return cv::Mat(std::max(0, imageRect.height()), std::max(0, imageRect.width()), CV_8UC1, cv::Scalar(255));
}

void ClustomRect::Draw(QPainter& p) const
{
    p.save();
    QPen pen = p.pen();
    pen.setWidth(kPenWidth);
    p.setPen(pen);
    if (!selected) {
        const QRect r = rect;
        const QRect box = r.normalized();
        StrokeCache::stroke(p, box, {r.x() - box.x(), r.y() - box.y(), r.width(), r.height()},
                            [r](QPainter& q) { q.drawRect(r); });
    } else {
        const QPoint corners[4] = {rect.topLeft(), rect.topRight(), rect.bottomRight(), rect.bottomLeft()};
        for (int i = 0; i < 4; ++i)
            drawHandle(p, pen, corners[i], handle == 2 * i);
        for (int i = 0; i < 4; ++i) {
            pen.setColor(handle == 2 * i + 1 ? Qt::yellow : Qt::magenta);
            p.setPen(pen);
            p.drawLine(corners[i], corners[(i + 1) % 4]);
        }
    }
    p.restore();
}
