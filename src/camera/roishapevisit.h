#pragma once

#include "cammersingleton.h"

#include <QRect>

// Runs f on the shape of ROI r of group g by its kind (rectangle, circle or
// polygon share one set of operations without a common base). false when the
// ROI has another kind.
template <typename Store, typename F>
bool visitRoiShape(Store& store, int g, int r, F&& f)
{
    switch (store.roiShape[g][r]) {
    case CammerSingleton::kShapePolygon: f(store.polygonRoi[g][r]); return true;
    case CammerSingleton::kShapeCircle: f(store.circleRoi[g][r]); return true;
    case CammerSingleton::kShapeRect: f(store.rectRoi[g][r]); return true;
    default: return false;
    }
}

// The box of ROI r of group g in image coordinates; empty for a ROI of another kind.
template <typename Store>
QRect roiImageRect(const Store& store, int g, int r)
{
    QRect box;
    visitRoiShape(store, g, r, [&box](const auto& shape) { box = shape.imageRect; });
    return box;
}
