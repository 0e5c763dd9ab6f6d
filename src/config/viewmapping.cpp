#include "viewmapping.h"

#include <cmath>

double ViewMapping::scaleX() const
{
    const double z = zoom > 0 ? zoom : 1.0;
    return z * (screen.width() > 0 ? double(view.width()) / screen.width() : 1.0);
}

double ViewMapping::scaleY() const
{
    const double z = zoom > 0 ? zoom : 1.0;
    return z * (screen.height() > 0 ? double(view.height()) / screen.height() : 1.0);
}

QPoint ViewMapping::toDisplay(const QPointF& viewPos) const
{
    const double sx = scaleX(), sy = scaleY();
    const double x = sx > 0 ? (viewPos.x() - pan.x()) / sx : 0.0;
    const double y = sy > 0 ? (viewPos.y() - pan.y()) / sy : 0.0;
    return QPoint(int(std::lround(x)), int(std::lround(y)));
}

QPointF ViewMapping::toView(const QPointF& display) const
{
    return QPointF(display.x() * scaleX() + pan.x(), display.y() * scaleY() + pan.y());
}

QTransform ViewMapping::transform() const
{
    return QTransform(scaleX(), 0, 0, scaleY(), pan.x(), pan.y());
}
