#pragma once

#include "shapegeometry.h"

#include <QPoint>
#include <QPointF>
#include <QRect>
#include <opencv2/core/mat.hpp>

class QPainter;

// Circle or ring ROI (ring when innerRadius > 0), in display and image coordinates.
class Circle
{
public:
    Circle();

    bool IsSelected() const { return selected; }
    void SetSelected(bool on) { selected = on; }
    bool PtInCtrl(QPoint p, int* handle);
    bool Contains(QPoint p) const;
    void setShowA(float sx, float sy);
    void Resize(int handle, QPoint from, QPoint to);
    void setImageRect();
    cv::Mat UpdateMask() const;
    void Draw(QPainter& p) const;

    // The checked ring in display coordinates: the image circle, an ellipse on
    // the display when the camera's aspect differs from the screen's. It is
    // what the views draw, so the outline shown is the one checked.
    QRect shownOuter() const;
    QRect shownInner() const;

    // Centre and radius from rect.
    void UpdateAll();
    // Limits the radii and derives rect from centre and radius.
    void UpdateRect();

    QRect rect;
    QRect imageRect;
    int centerX = 0;
    int centerY = 0;
    int radius = 0;
    int innerRadius = 0;
    int imageCenterX = 0;
    int imageCenterY = 0;
    int imageRadius = 0;
    int imageInnerRadius = 0;
    bool selected = false;
    float scaleX = ShapeGeometry::kDefaultScale;
    float scaleY = ShapeGeometry::kDefaultScale;
    int handle = -1;

private:
    struct ImageRing
    {
        int centerX = 0, centerY = 0, radius = 0, inner = 0;
    };
    ImageRing imageRing() const;
    QRect shownBox(int imageRadius) const;
    // Display offset d from the centre with the ellipse's stretch taken out.
    QPointF unstretched(QPoint d) const;
};
