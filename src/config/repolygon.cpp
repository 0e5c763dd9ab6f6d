#include "repolygon.h"

#include "globals.h"
#include "miscfunc.h"
#include "strokecache.h"

#include <QPainter>
#include <QPolygon>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <vector>

using namespace ShapeGeometry;

namespace {

constexpr int kContainsBoxLimit = 78;
constexpr int kScreenMargin = 3;

// floor(n / d) for d > 0.
inline qint64 floorDiv(qint64 n, qint64 d)
{
    return n >= 0 ? n / d : -((-n + d - 1) / d);
}

struct Edge
{
    qint64 xa, ya, yb, dx, dy; // upper end (xa, ya), rows ya <= y < yb, dy > 0
};

struct Crossing
{
    qint64 num, den; // x = num / den, den > 0
    bool operator<(const Crossing& o) const { return num * o.den < o.num * den; }
};

std::vector<cv::Point> toCv(const QVector<QPoint>& points, int n)
{
    std::vector<cv::Point> out;
    out.reserve(n);
    for (int i = 0; i < n; ++i)
        out.emplace_back(points[i].x(), points[i].y());
    return out;
}

} // namespace

void FillPolygonInterior(const QPoint* points, int n, QPoint origin, cv::Mat& mask)
{
    if (n < 1 || mask.empty())
        return;
    const int top = origin.y();
    const int rows = mask.rows;
    const int left = origin.x();
    const int right = origin.x() + mask.cols - 1;

    // Edge table by first row: a row y meets an edge when ya <= y < yb, the
    // same half-open rule as the point-in-polygon test, so crossings pair up.
    std::vector<std::vector<Edge>> buckets(rows);
    for (int i = 0; i < n; ++i) {
        QPoint a = points[i];
        QPoint b = points[(i + 1) % n];
        if (a.y() == b.y())
            continue;
        if (a.y() > b.y())
            std::swap(a, b);
        if (b.y() <= top || a.y() >= top + rows)
            continue;
        const int first = std::max(a.y(), top) - top;
        buckets[first].push_back({a.x(), a.y(), b.y(), b.x() - a.x(), b.y() - a.y()});
    }

    std::vector<Edge> active;
    std::vector<Crossing> crossings;
    for (int r = 0; r < rows; ++r) {
        const qint64 y = top + r;
        active.erase(std::remove_if(active.begin(), active.end(), [y](const Edge& e) { return e.yb <= y; }),
                     active.end());
        active.insert(active.end(), buckets[r].begin(), buckets[r].end());
        if (active.empty())
            continue;
        crossings.clear();
        for (const Edge& e : active)
            crossings.push_back({e.xa * e.dy + (y - e.ya) * e.dx, e.dy});
        std::sort(crossings.begin(), crossings.end());
        unsigned char* row = mask.ptr<unsigned char>(r);
        for (size_t k = 0; k + 1 < crossings.size(); k += 2) {
            // Pixels strictly between the two crossings.
            const qint64 from = std::max<qint64>(floorDiv(crossings[k].num, crossings[k].den) + 1, left);
            const qint64 to = std::min<qint64>(floorDiv(crossings[k + 1].num - 1, crossings[k + 1].den), right);
            if (from <= to)
                std::memset(row + (from - left), 255, size_t(to - from + 1));
        }
    }

    // Points exactly on the outline are outside: clear every lattice point of every edge.
    for (int i = 0; i < n; ++i) {
        const QPoint a = points[i];
        const QPoint b = points[(i + 1) % n];
        const int dx = b.x() - a.x();
        const int dy = b.y() - a.y();
        const int steps = std::gcd(std::abs(dx), std::abs(dy));
        const int sx = steps ? dx / steps : 0;
        const int sy = steps ? dy / steps : 0;
        for (int k = 0; k <= steps; ++k) {
            const int x = a.x() + k * sx - left;
            const int yy = a.y() + k * sy - top;
            if (x >= 0 && x < mask.cols && yy >= 0 && yy < rows)
                mask.at<unsigned char>(yy, x) = 0;
        }
    }
}

RePolygon::RePolygon(int n, QPoint* points)
{
    if (n >= 1 && points)
        SetNodes(points, n);
}

void RePolygon::SetNodes(const QPoint* points, int n)
{
    n = std::clamp(n, 0, kMaxNodes);
    nodes = QVector<QPoint>(points, points + n);
    imageNodes = QVector<QPoint>(n);
    nodeCount = n;
}

bool RePolygon::AddNode(QPoint p)
{
    if (nodeCount >= kMaxNodes)
        return false;
    nodes.append(p);
    imageNodes.append(QPoint());
    ++nodeCount;
    return true;
}

bool RePolygon::PtInCtrl(QPoint p, int* nodeIndex)
{
    node = -1;
    if (selected) {
        for (int i = 0; i < nodeCount; ++i) {
            if (PointAround(nodes[i], p, kHandle)) {
                node = i;
                break;
            }
        }
    }
    if (nodeIndex)
        *nodeIndex = node;
    return node >= 0;
}

bool RePolygon::Contains(QPoint& p) const
{
    if (rect.right() - rect.left() <= kContainsBoxLimit || rect.bottom() - rect.top() <= kContainsBoxLimit)
        return rect.contains(p);
    if (nodeCount < 1)
        return false;
    return cv::pointPolygonTest(toCv(nodes, nodeCount), cv::Point2f(float(p.x()), float(p.y())), false) > 0;
}

void RePolygon::setShowA(float sx, float sy)
{
    scaleX = sx;
    scaleY = sy;
}

void RePolygon::Resize(int nodeIndex, QPoint from, QPoint to, float sx, float sy)
{
    moveX = to.x() - from.x();
    moveY = to.y() - from.y();
    if (nodeIndex < 0 || nodeIndex >= nodeCount)
        return;
    const int x = nodes[nodeIndex].x() + moveX;
    const int y = nodes[nodeIndex].y() + moveY;
    if (x < kScreenMargin || x > gShowW - kScreenMargin || y < kScreenMargin || y > gShowH - kScreenMargin)
        return;
    nodes[nodeIndex] = QPoint(x, y);
    imageNodes[nodeIndex] = QPoint(nearest(float(x) / safeScale(sx)), nearest(float(y) / safeScale(sy)));
}

void RePolygon::setImageRect()
{
    const float sx = safeScale(scaleX);
    const float sy = safeScale(scaleY);
    imageNodes.resize(nodeCount);
    for (int i = 0; i < nodeCount; ++i)
        imageNodes[i] = QPoint(nearest(float(nodes[i].x()) / sx), nearest(float(nodes[i].y()) / sy));
    BoundingRect();
}

void RePolygon::BoundingRect()
{
    if (nodeCount < 2) {
        const QPoint d = nodeCount > 0 ? nodes[0] : QPoint();
        const QPoint i = nodeCount > 0 ? imageNodes[0] : QPoint();
        imageRect = QRect(QPoint(i.x(), i.y()), QPoint(i.x() - 1, i.y() - 1));
        rect = QRect(QPoint(d.x() - kHandle, d.y() - kHandle), QPoint(d.x() - 1, d.y() - 1));
        return;
    }
    auto box = [this](const QVector<QPoint>& points, int margin) {
        int minX = points[0].x(), maxX = minX, minY = points[0].y(), maxY = minY;
        for (int k = 1; k < nodeCount; ++k) {
            minX = std::min(minX, points[k].x());
            maxX = std::max(maxX, points[k].x());
            minY = std::min(minY, points[k].y());
            maxY = std::max(maxY, points[k].y());
        }
        return QRect(QPoint(minX - margin, minY - margin), QPoint(maxX - 1, maxY - 1));
    };
    imageRect = box(imageNodes, 0);
    rect = box(nodes, kHandle);
}

cv::Mat RePolygon::UpdateMask() const
{
    const int rows = std::max(0, imageRect.bottom() - imageRect.top() + 1);
    const int cols = std::max(0, imageRect.right() - imageRect.left() + 1);
    cv::Mat mask(rows, cols, CV_8UC1, cv::Scalar(0));
    if (nodeCount > 0 && imageNodes.size() >= nodeCount)
        FillPolygonInterior(imageNodes.constData(), nodeCount, imageRect.topLeft(), mask);
    return mask;
}

void RePolygon::Draw(QPainter& p) const
{
    p.save();
    QPen pen = p.pen();
    pen.setWidth(kPenWidth);
    p.setPen(pen);
    if (selected && !hand) {
        for (int i = 0; i < nodeCount; ++i)
            drawHandle(p, pen, nodes[i], i == node);
    }
    if (selected) {
        pen.setColor(Qt::magenta);
        p.setPen(pen);
    }
    if (nodeCount > 0) {
        // From the nodes themselves: rect may lag behind a node being dragged.
        const QRect box = QPolygon(nodes.mid(0, nodeCount)).boundingRect();
        QVector<int> geometry;
        geometry.reserve(2 * nodeCount);
        for (int i = 0; i < nodeCount; ++i)
            geometry << nodes[i].x() - box.x() << nodes[i].y() - box.y();
        const QPoint* points = nodes.constData();
        const int n = nodeCount;
        StrokeCache::stroke(p, box, geometry,
                            [points, n](QPainter& q) { q.drawPolygon(points, n, Qt::OddEvenFill); });
    }
    p.restore();
}
