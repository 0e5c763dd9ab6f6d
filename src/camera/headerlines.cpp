#include "headerlines.h"

#include <QFontMetrics>
#include <QPainter>
#include <QString>

HeaderLines::HeaderLines(QPainter& painter, int width, int baseline, int step)
    : m_painter(painter)
    , m_width(width)
    , m_baseline(baseline)
    , m_step(step)
{
}

QPoint HeaderLines::place(int textWidth, int preferredX)
{
    const auto fitted = [&] { return qMax(kLeft, qMin(preferredX, m_width - textWidth - kLeft)); };
    int x = fitted();
    if (m_end > 0 && x < m_end + kGap) {
        newLine();
        x = fitted();
    }
    m_end = x + textWidth;
    return QPoint(x, m_baseline);
}

void HeaderLines::draw(const QString& text, int preferredX)
{
    // A text wider than the view (a long file name on a small view) is set smaller.
    const QFont original = m_painter.font();
    QFont font = original;
    int width = QFontMetrics(font).horizontalAdvance(text);
    while (width > m_width - 2 * kLeft && font.pixelSize() > kSmallestPixels) {
        font.setPixelSize(font.pixelSize() - 1);
        width = QFontMetrics(font).horizontalAdvance(text);
    }
    m_painter.setFont(font);
    m_painter.drawText(place(width, preferredX), text);
    m_painter.setFont(original);
}

void HeaderLines::newLine()
{
    m_baseline += m_step;
    m_end = 0;
}
