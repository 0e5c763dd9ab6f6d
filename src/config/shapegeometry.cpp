#include "shapegeometry.h"

#include "globals.h"

#include <QPainter>
#include <QPen>

#include <cmath>

namespace ShapeGeometry {

int nearest(float v)
{
    return int(std::nearbyintf(v));
}

float safeScale(float s)
{
    return s > 0.0f ? s : kDefaultScale;
}


void drawHandle(QPainter& painter, QPen& pen, QPoint centre, bool active)
{
    pen.setColor(active ? Qt::yellow : Qt::magenta);
    painter.setPen(pen);
    painter.drawRect(QRect(centre - QPoint(kHalfHandle, kHalfHandle), QSize(kHandle, kHandle)));
}

} // namespace ShapeGeometry
