#include "dialogpainter.h"

#include "globals.h"

#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QSize>
#include <QTextOption>
#include <QWidget>

namespace {
const QColor kPlainBackground(38, 42, 50);
constexpr int kFramePen = 5;

// Wrapped at words; a word longer than a line (a file's path) is broken where it must.
QTextOption messageOption(int alignment)
{
    QTextOption option{Qt::Alignment(alignment)};
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    return option;
}

QRectF messageBounds(const QFont& font, const QRect& box, const QString& text, int alignment = Qt::AlignCenter)
{
    // Measured by the painter that draws it, so both break the lines alike.
    QImage scratch(1, 1, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&scratch);
    painter.setFont(font);
    return painter.boundingRect(QRectF(box), text, messageOption(alignment));
}
} // namespace

void DialogPainter::drawBackground(QPainter& painter, const QRect& area)
{
    if (gpPixmapBG && !gpPixmapBG->isNull())
        painter.drawPixmap(area, *gpPixmapBG);
    else
        painter.fillRect(area, kPlainBackground);
}

void DialogPainter::drawFrame(QPainter& painter, int width, int height)
{
    painter.setPen(QPen(Qt::white, kFramePen));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRect(QPoint(0, 0), QPoint(width - 2, height - 2)));
}

QFont DialogPainter::font(int pixelSize, const char* family)
{
    QFont f(QString::fromLatin1(family));
    f.setPixelSize(pixelSize);
    return f;
}

void DialogPainter::drawKeypad(QPainter& painter, const QRect& area, int width, int height)
{
    painter.fillRect(area, QColor(255, 251, 240, 200));
    painter.setPen(QColor(QStringLiteral("#191532")));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(0, 0, width - 1, height - 1);
}

void DialogPainter::setYellowText(QWidget* widget)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::All, QPalette::WindowText, Qt::yellow);
    widget->setPalette(palette);
}

QRect DialogPainter::centred(int w, int h)
{
    return QRect(gShowW / 2 - w / 2, gShowH / 2 - h / 2, w, h);
}

int DialogPainter::textWidth(const QFont& font, const QString& text)
{
    const QFontMetrics metrics(font);
    int widest = 0;
    for (const QString& line : QString(text).remove(QLatin1Char('\r')).split(QLatin1Char('\n')))
        widest = qMax(widest, metrics.horizontalAdvance(line));
    return widest;
}

QFont DialogPainter::messageFont(const QString& text, const QRect& box, int pixelSize, int smallest)
{
    QFont f = font(pixelSize);
    for (int px = pixelSize; px > smallest; --px) {
        f.setPixelSize(px);
        const QRectF needed = messageBounds(f, box, text);
        if (needed.width() <= box.width() && needed.height() <= box.height())
            break;
    }
    return f;
}

void DialogPainter::drawMessage(QPainter& painter, const QRect& box, int alignment, const QString& text, int pixelSize,
                                int smallest)
{
    const QFont f = messageFont(text, box, pixelSize, smallest);
    painter.setFont(f);
    // One that does not fit even so is drawn whole beyond the box rather than cut at its edge.
    painter.drawText(QRectF(box).united(messageBounds(f, box, text, alignment)), text, messageOption(alignment));
}

QFont DialogPainter::boxFont(const QString& text, const QSize& room, int pixelSize, bool* wrap)
{
    QFont f = fittedFont(text, room.width(), pixelSize, 0);
    *wrap = textWidth(f, text) > room.width();
    for (int px = f.pixelSize(); *wrap && px >= kSmallestWrappedPixels; --px) {
        f.setPixelSize(px);
        const QRect needed = QFontMetrics(f).boundingRect(QRect(0, 0, room.width(), 1 << 20), Qt::TextWordWrap, text);
        if (needed.width() <= room.width() && needed.height() <= room.height())
            break;
    }
    return f;
}

void DialogPainter::fitLabel(QLabel* label, int pixelSize)
{
    bool wrap = false;
    const QFont f = boxFont(label->text(), label->contentsRect().size(), pixelSize, &wrap);
    label->setWordWrap(wrap);
    label->setFont(f);
}

QFont DialogPainter::fittedFont(const QString& text, int width, int pixelSize, int margin)
{
    QFont f = font(pixelSize);
    for (int px = pixelSize; px > kSmallestTextPixels; --px) {
        f.setPixelSize(px);
        if (textWidth(f, text) <= width - margin)
            break;
    }
    return f;
}
