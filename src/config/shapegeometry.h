#pragma once

// Helpers shared by the ROI shapes.

#include <QPoint>
#include <QtGlobal>

class QPainter;
class QPen;

namespace ShapeGeometry {

// Handle size and the margins of shape picking, display pixels.
constexpr int kHandle = 20;
constexpr int kHalfHandle = 10;
constexpr int kPenWidth = 3;
// Start value of the display scale factors until setShowA gives the real ones.
constexpr float kDefaultScale = 1.0f;

// v in single precision rounded to the nearest integer, ties to even.
int nearest(float v);
// A scale factor usable as a divisor.
float safeScale(float s);
// A 20 x 20 handle square around centre: yellow while in use, else magenta.
void drawHandle(QPainter& painter, QPen& pen, QPoint centre, bool active);

} // namespace ShapeGeometry
