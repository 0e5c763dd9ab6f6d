#include "shapegeometry.h"

#include "globals.h"

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

int frameWidth(float sx)
{
    return nearest(float(gShowW) / safeScale(sx));
}

int frameHeight(float sy)
{
    return nearest(float(gShowH) / safeScale(sy));
}

} // namespace ShapeGeometry
