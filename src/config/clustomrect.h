#pragma once

#include "shapegeometry.h"

#include <QPoint>
#include <QRect>
#include <opencv2/core/mat.hpp>

class QPainter;

// Rectangle ROI in display coordinates (where the user draws) and image
// coordinates (where the recognition engine works). Copied as a plain value.
class ClustomRect
{
public:
    ClustomRect() = default;

    bool IsSelected() const { return selected; }
    void SetSelected(bool on) { selected = on; }
    // Handle 0..7 clockwise from the top-left corner, -1 none; only a selected rectangle has handles.
    bool PtInCtrl(QPoint p, int* handle);
    bool Contains(QPoint p) const;
    void setShowA(float sx, float sy);
    void Resize(int handle, QPoint from, QPoint to);
    void setImageRect();
    cv::Mat UpdateMask() const;
    void Draw(QPainter& p) const;

    QRect rect;
    QRect imageRect;
    bool selected = false;
    int moveX = 0;
    int moveY = 0;
    float scaleX = ShapeGeometry::kDefaultScale;
    float scaleY = ShapeGeometry::kDefaultScale;
    int handle = -1;
};
