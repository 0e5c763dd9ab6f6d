#include "strokecache.h"

#include <QHash>
#include <QImage>
#include <QPaintEngine>
#include <QPainter>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <utility>

namespace StrokeCache {
namespace {

constexpr int kMaxOutlines = 1024;                 // remembered outlines per thread
constexpr int kMaxRects = 1 << 20;                 // and their rectangles (16 MB)
constexpr int kMaxSeen = 4096;                     // keys met once, waiting for a second use
constexpr qint64 kMaxPatternPixels = 4LL << 20;    // larger shapes are always stroked directly
constexpr int kSpareMargin = 4;                    // pixels around the pen's reach

struct Store
{
    QHash<QByteArray, QVector<QRect>> outlines;
    QSet<QByteArray> seen;
    int rects = 0;
};

Store& store()
{
    thread_local Store s;
    return s;
}

// Only states in which filling the covered pixels with the pen colour equals
// the stroke: aliased, opaque solid pen, no fill, axis-aligned positive scale,
// plain source-over on a raster device that adds no more than a whole-pixel
// offset (no pixel ratio, no view transform).
bool replayable(const QPainter& painter)
{
    const QPen& pen = painter.pen();
    const QTransform& t = painter.transform();
    const QTransform device = painter.deviceTransform();
    const QPaintEngine* engine = painter.paintEngine();
    const double offsetX = device.dx() - t.dx();
    const double offsetY = device.dy() - t.dy();
    return engine && engine->type() == QPaintEngine::Raster && painter.worldMatrixEnabled() && device.type() <= QTransform::TxScale
           && device.m11() == t.m11() && device.m22() == t.m22() && offsetX == std::floor(offsetX)
           && offsetY == std::floor(offsetY) && !(painter.renderHints() & QPainter::Antialiasing) && pen.style() == Qt::SolidLine
           && pen.brush().style() == Qt::SolidPattern && pen.color().alpha() == 255
           && painter.brush().style() == Qt::NoBrush && painter.compositionMode() == QPainter::CompositionMode_SourceOver
           && painter.opacity() == 1.0 && t.type() <= QTransform::TxScale && t.m11() > 0.0 && t.m22() > 0.0;
}

template <typename T>
void appendRaw(QByteArray& key, T value)
{
    key.append(reinterpret_cast<const char*>(&value), int(sizeof value));
}

using Spans = QVector<std::pair<int, int>>;  // [begin, end) columns of one row

// The covered pixels of the pattern as rectangles: runs of each row, with
// rows of identical runs merged (a rectangle outline becomes a handful).
QVector<QRect> coveredRects(const QImage& pattern, QPoint origin)
{
    QVector<QRect> rects;
    Spans previous, current;
    int previousTop = 0;
    auto close = [&](int bottom) {
        for (const auto& span : qAsConst(previous))
            rects << QRect(origin.x() + span.first, origin.y() + previousTop, span.second - span.first, bottom - previousTop);
    };
    for (int y = 0; y < pattern.height(); ++y) {
        current.clear();
        const auto* line = reinterpret_cast<const QRgb*>(pattern.constScanLine(y));
        for (int x = 0; x < pattern.width();) {
            if (qAlpha(line[x]) == 0) {
                ++x;
                continue;
            }
            const int begin = x;
            while (x < pattern.width() && qAlpha(line[x]) != 0)
                ++x;
            current.append({begin, x});
        }
        if (current != previous) {
            close(y);
            previous = current;
            previousTop = y;
        }
    }
    close(pattern.height());
    return rects;
}

}  // namespace

void stroke(QPainter& painter, const QRect& bounds, const QVector<int>& geometry,
            const std::function<void(QPainter&)>& draw)
{
    if (!replayable(painter)) {
        draw(painter);
        return;
    }
    const QTransform t = painter.transform();
    const QPen pen = painter.pen();
    const QRect box = bounds.normalized();
    const double x0 = t.m11() * box.left() + t.dx();
    const double y0 = t.m22() * box.top() + t.dy();
    const double ix = std::floor(x0);
    const double iy = std::floor(y0);

    QByteArray key;
    key.reserve(64 + 4 * geometry.size());
    for (int v : geometry)
        appendRaw(key, v);
    appendRaw(key, box.width());
    appendRaw(key, box.height());
    appendRaw(key, pen.widthF());
    appendRaw(key, pen.miterLimit());
    appendRaw(key, int(pen.capStyle()));
    appendRaw(key, int(pen.joinStyle()));
    appendRaw(key, pen.isCosmetic());
    appendRaw(key, t.m11());
    appendRaw(key, t.m22());
    appendRaw(key, x0 - ix);
    appendRaw(key, y0 - iy);

    Store& s = store();
    auto found = s.outlines.constFind(key);
    if (found == s.outlines.constEnd()) {
        // First sight: stroke it; a shape being dragged never comes back.
        if (!s.seen.contains(key)) {
            if (s.seen.size() >= kMaxSeen)
                s.seen.clear();
            s.seen.insert(key);
            draw(painter);
            return;
        }
        const double reach = std::max(1.0, pen.widthF()) * (pen.isCosmetic() ? 1.0 : std::max(t.m11(), t.m22()));
        const int margin = int(std::ceil(reach * std::max(2.0, pen.miterLimit()))) + kSpareMargin;
        const int width = int(std::ceil(t.m11() * (box.width() + 1))) + 2 * margin;
        const int height = int(std::ceil(t.m22() * (box.height() + 1))) + 2 * margin;
        if (qint64(width) * height > kMaxPatternPixels) {
            draw(painter);
            return;
        }
        s.seen.remove(key);
        QImage pattern(width, height, QImage::Format_ARGB32_Premultiplied);
        pattern.fill(Qt::transparent);
        {
            QPainter p(&pattern);
            p.setRenderHints(painter.renderHints());
            p.setPen(pen);
            p.setBrush(Qt::NoBrush);
            p.setTransform(QTransform(t.m11(), 0, 0, t.m22(), t.dx() - ix + margin, t.dy() - iy + margin));
            draw(p);
        }
        QVector<QRect> rects = coveredRects(pattern, QPoint(-margin, -margin));
        if (s.outlines.size() >= kMaxOutlines || s.rects + rects.size() > kMaxRects) {
            s.outlines.clear();
            s.rects = 0;
        }
        s.rects += rects.size();
        found = s.outlines.insert(key, std::move(rects));
    }

    // A whole-pixel translation keeps the raster engine on its solid rectangle fill.
    painter.save();
    painter.setTransform(QTransform::fromTranslate(ix, iy));
    painter.setPen(Qt::NoPen);
    painter.setBrush(pen.color());
    painter.drawRects(found->constData(), found->size());
    painter.restore();
}

void clear()
{
    store().outlines.clear();
    store().seen.clear();
    store().rects = 0;
}

int size() { return store().outlines.size(); }

}  // namespace StrokeCache
