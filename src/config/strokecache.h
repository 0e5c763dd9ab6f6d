#pragma once

#include <QRect>
#include <QVector>

#include <functional>

class QPainter;

// A camera view repaints up to 100 ROI outlines with a 3 px pen for every
// frame, and the stroker builds and fills a new outline path each time. The
// pixels an aliased stroke covers depend only on the shape relative to its
// bounds, the pen, the scale of the transform and the fraction of a pixel at
// which the bounds start; so a shape met again is replayed as the few solid
// rectangles it covered, which paints exactly the same pixels. Shapes seen
// once (a rectangle being dragged) are stroked directly. One cache per thread.
namespace StrokeCache {

// Paints what draw() strokes with the painter's current pen. geometry describes
// the shape relative to bounds.topLeft() (it is part of the key); draw() gets
// the painter to stroke on and must only depend on that geometry and bounds.
// Falls back to draw(painter) whenever the painter's state could make a replay
// differ (antialiasing, a brush, rotation, a pattern pen, blending, ...).
void stroke(QPainter& painter, const QRect& bounds, const QVector<int>& geometry,
            const std::function<void(QPainter&)>& draw);

// Forgets every remembered outline (tests; memory is bounded anyway).
void clear();
// Outlines remembered in this thread.
int size();

}  // namespace StrokeCache
