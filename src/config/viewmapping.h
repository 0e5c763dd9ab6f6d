#pragma once

#include <QPoint>
#include <QPointF>
#include <QSize>
#include <QTransform>

// Between a camera view's pixels and the full-screen display coordinates the
// ROI store keeps. A view is laid beside the tool column or the status bar, so
// it is usually smaller than the screen, and the view shown alone may be zoomed
// and panned. Touches go through toDisplay, outlines are painted through
// transform(): both sides use the same numbers, so a shape stays under the finger.
struct ViewMapping
{
    QSize view;                     // the view's size in pixels
    QSize screen;                   // the display the ROI coordinates refer to
    QPointF pan;                    // zoom offset, view pixels
    double zoom = 1.0;

    // A view pixel as display coordinates, rounded to the nearest.
    QPoint toDisplay(const QPointF& viewPos) const;
    // Display coordinates as view pixels.
    QPointF toView(const QPointF& display) const;
    // Display to view, for painters (applied on top of their own transform).
    QTransform transform() const;

private:
    double scaleX() const;
    double scaleY() const;
};
