#include "histogram.h"

#include "globals.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>

namespace {
constexpr int kAxisMargin = 20;
constexpr int kTopMargin = 40;
constexpr int kLabelHeight = 20;
constexpr int kTickHeight = 10;
constexpr int kFontPx = 15;
constexpr int kLegendPt = 10;
constexpr int kLegendHeight = 30;
constexpr int kLegendTop = 5;
constexpr int kLegendMargin = 10;
constexpr int kLegendSwatchMax = 40;
constexpr int kRowQualified = 589;
constexpr int kRowAnomaly = 590;
const QColor kOkColour(0, 255, 0, 200);
const QColor kNgColour(255, 0, 0, 200);
} // namespace

Histogram::Histogram(QWidget* parent, QList<int> xs, QList<int> ok, QList<int> ng)
    : QWidget(parent)
    , x(std::move(xs))
    , y1(std::move(ok))
    , y2(std::move(ng))
{
    recount();
    setFixedSize(kWidth, kHeight);
}

void Histogram::recount()
{
    n = std::min({x.size(), y1.size(), y2.size()});
    clcMaxY();
}

void Histogram::clcMaxY()
{
    maxY = 0;
    for (int v : y1)
        maxY = std::max(maxY, v);
    for (int v : y2)
        maxY = std::max(maxY, v);
}

void Histogram::modifyDataAxisX(QList<int> xs)
{
    x = std::move(xs);
    recount();
}

void Histogram::modifyDataAxisY1(QList<int> ok)
{
    y1 = std::move(ok);
    recount();
    update();
}

void Histogram::modifyDataAxisY2(QList<int> ng)
{
    y2 = std::move(ng);
    recount();
    update();
}

void Histogram::modifyDataAxisY(QList<int> ok, QList<int> ng)
{
    y1 = std::move(ok);
    y2 = std::move(ng);
    recount();
    update();
}

void Histogram::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const int w = width();
    const int h = height();
    painter.setPen(Qt::black);
    QFont font(QStringLiteral("wqy-microhei"));
    font.setPixelSize(kFontPx);
    painter.setFont(font);

    painter.drawLine(0, h - kAxisMargin, w, h - kAxisMargin);
    painter.drawLine(kAxisMargin, kTopMargin, kAxisMargin, h);

    const float scale = maxY > 0 ? float(h - 60) / float(maxY) : 0.0f;
    const int step = (w - 2 * kAxisMargin) / (n + 1);
    const float half = step / 2.0f;
    for (int i = 0; i < n; ++i) {
        const int cx = (i + 1) * step + kAxisMargin;
        painter.drawLine(cx, h - kAxisMargin - kTickHeight, cx, h - kAxisMargin);
        painter.drawText(QRectF(cx - half, h - kAxisMargin, step, kLabelHeight), Qt::AlignCenter,
                         QString::number(x.at(i)));
        const struct { int value; float left; QColor colour; } bars[] = {
            {y1.at(i), cx - half, kOkColour},
            {y2.at(i), float(cx), kNgColour},
        };
        for (const auto& bar : bars) {
            const float b = bar.value * scale;
            const float top = h - b - kAxisMargin;
            painter.fillRect(QRect(int(bar.left), int(top), int(half), int(b)), bar.colour);
            painter.drawText(QRectF(bar.left, std::min(top, float(h - kTopMargin)), half, kLabelHeight),
                             Qt::AlignCenter, QString::number(bar.value));
        }
    }

    // Legend at the top right: the OK entry rightmost, the NG entry left of it,
    // each text as wide as it needs.
    QFont legend = painter.font();
    legend.setPointSize(kLegendPt);
    painter.setFont(legend);
    const QFontMetrics metrics(legend);
    const int swatchW = qBound(10, int(half), kLegendSwatchMax);
    int right = w - kLegendMargin;
    const std::pair<int, QColor> entries[] = {{kRowQualified, kOkColour}, {kRowAnomaly, kNgColour}};
    for (const auto& [row, colour] : entries) {
        const QString text = lanText(row);
        const int textW = metrics.horizontalAdvance(text) + 4;
        painter.drawText(QRect(right - textW, kLegendTop, textW, kLegendHeight), Qt::AlignCenter, text);
        const int swatchX = right - textW - 5 - swatchW;
        painter.fillRect(QRect(swatchX, kLegendTop, swatchW, kLegendHeight), colour);
        right = swatchX - 15;
    }
}
