#pragma once

#include "shapegeometry.h"

#include <QPoint>
#include <QRect>
#include <QVector>
#include <opencv2/core/mat.hpp>

class QPainter;

// Polygon ROI of at most kMaxNodes nodes, drawn node by node or free-hand.
// The nodes live in growable containers: an empty polygon costs a few bytes,
// so a parameter store of 8 x 100 polygons stays small. nodes and imageNodes
// always hold exactly nodeCount points; change them through SetNodes/AddNode.
class RePolygon
{
public:
    static constexpr int kMaxNodes = 8096;

    RePolygon() = default;
    // Copies at most kMaxNodes of the n points (none when n < 1).
    RePolygon(int n, QPoint* points);

    bool IsSelected() const { return selected; }
    void SetSelected(bool on) { selected = on; }
    bool PtInCtrl(QPoint p, int* nodeIndex);
    bool Contains(QPoint& p) const;
    void setShowA(float sx, float sy);
    void Resize(int nodeIndex, QPoint from, QPoint to, float sx, float sy);
    void setImageRect();
    // 255 strictly inside the image polygon, 0 outside and on the outline.
    cv::Mat UpdateMask() const;
    void Draw(QPainter& p) const;

    void SetHand(bool on) { hand = on; }
    bool getHand() const { return hand; }
    void BoundingRect();

    // Replaces the display nodes (at most kMaxNodes); image nodes follow with setImageRect.
    void SetNodes(const QPoint* points, int n);
    void SetNodes(const QVector<QPoint>& points) { SetNodes(points.constData(), points.size()); }
    // Appends a display node; false when the polygon is full.
    bool AddNode(QPoint p);

    int nodeCount = 0;
    QVector<QPoint> nodes;
    QVector<QPoint> imageNodes;
    QRect rect;
    QRect imageRect;
    bool selected = false;
    bool hand = false;
    int moveX = 0;
    int moveY = 0;
    float scaleX = ShapeGeometry::kDefaultScale;
    float scaleY = ShapeGeometry::kDefaultScale;
    int node = -1;
};

// Exact even-odd interior of a closed integer polygon, written into mask as 255
// for every pixel (origin + column, row) strictly inside; pixels on the outline
// stay 0. Same pixels as a per-pixel pointPolygonTest > 0, in scan-line time.
void FillPolygonInterior(const QPoint* points, int n, QPoint origin, cv::Mat& mask);
