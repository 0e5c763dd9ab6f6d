#include "slider.h"

#include "colorbutton.h"
#include "dialogpainter.h"
#include "edit.h"
#include "globals.h"

#include <QApplication>
#include <QFocusEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <limits>

namespace {
constexpr int kButtonW = 70;
constexpr int kButtonH = 41;
constexpr int kButtonClass = 3;
constexpr int kMinusX = 240;
constexpr int kCaptionW = 120;
constexpr int kCaptionFont = 30;
constexpr int kFixedPart = 395;   // caption, value box and buttons beside the track
constexpr int kHandleW = 10;
constexpr int kGrabMargin = 20;
constexpr int kTapBoxW = 80;      // the left part of the value box opens the keypad
constexpr int kEditHeight = 60;

// A picture scaled into the rectangle; a plain fill when it was not loaded.
void drawPicture(QPainter& painter, const QPixmap* picture, const QRect& target, const QColor& plain)
{
    if (picture && !picture->isNull())
        painter.drawPixmap(target, *picture);
    else
        painter.fillRect(target, plain);
}
}

Slider::Slider(int min, int max, int pageStep, int value, QWidget* parent, const QString& name)
    : QAbstractSlider(parent)
{
    setOrientation(Qt::Horizontal);
    setObjectName(name);
    setMinimum(min);
    setMaximum(max);
    setPageStep(pageStep);
    setValue(value);

    m_plus = new ColorButton(QStringLiteral("+ 1"), this, kButtonClass);
    m_plus->setFixedSize(kButtonW, kButtonH);
    connect(m_plus, &QPushButton::clicked, this, &Slider::Add);
    m_plus->SetRepeat();

    m_minus = new ColorButton(QStringLiteral("- 1"), this, kButtonClass);
    m_minus->setFixedSize(kButtonW, kButtonH);
    connect(m_minus, &QPushButton::clicked, this, &Slider::Sub);
    m_minus->SetRepeat();

    m_edit = new Edit(9, this, 1);
    m_edit->setGeometry(0, 0, 0, kEditHeight);
    connect(m_edit, &QLineEdit::textChanged, this, &Slider::SetText);
}

void Slider::Reset(int min, int max, int pageStep, int value, const QString& name)
{
    setObjectName(name);
    setMinimum(min);
    setMaximum(max);
    setPageStep(pageStep);
    setValue(value);
    m_dragX = -1;
    update();
}

void Slider::Add() { setValue(value() + 1); }
void Slider::Sub() { setValue(value() - 1); }

void Slider::SetText(const QString& text)
{
    // The keypad empties the edit when it opens: an empty or non-numeric text
    // is no entry and keeps the value.
    bool ok = false;
    const uint number = text.toUInt(&ok, 10);
    if (!ok)
        return;
    setValue(int(qMin<uint>(number, uint(std::numeric_limits<int>::max()))));
}

int Slider::fillLength() const
{
    const int range = maximum() - minimum();
    if (range == 0)
        return 0;
    return int(float(value() - minimum()) / float(range) * m_trackLength);
}

void Slider::resizeEvent(QResizeEvent* event)
{
    m_trackWidth = width() - kFixedPart;
    m_trackStart = int(0.03 * m_trackWidth);
    m_trackLength = int(0.93 * m_trackWidth);
    const int buttonY = (height() - 28) / 2 - 6;
    m_minus->move(kMinusX, buttonY);
    m_plus->move(width() - m_plus->width(), buttonY);
    QAbstractSlider::resizeEvent(event);
}

void Slider::paintEvent(QPaintEvent*)
{
    const int h = height();
    QPainter painter(this);
    painter.setPen(Qt::green);
    // A long caption is set smaller, and on two lines where one would still be cut.
    bool wrap = false;
    painter.setFont(DialogPainter::boxFont(objectName(), QSize(kCaptionW, h), kCaptionFont, &wrap));
    painter.drawText(QRect(0, 0, kCaptionW, h), Qt::AlignLeft | Qt::AlignVCenter | (wrap ? Qt::TextWordWrap : 0),
                     objectName());
    painter.setFont(DialogPainter::font(kCaptionFont));

    const QRect valueBox(kValueBoxX, 3, kValueBoxW, h - 6);
    drawPicture(painter, gpPixmapEdit, valueBox, QColor(235, 235, 235));
    painter.drawText(valueBox, Qt::AlignCenter, QString::number(value()));

    drawPicture(painter, gpPixmapSliderd, QRect(kTrackX, 3, m_trackWidth, h - 6), QColor(90, 90, 90));
    const int fill = fillLength();
    drawPicture(painter, gpPixmapSlideru, QRect(kTrackX + m_trackStart, 11, fill, h - 22), QColor(52, 152, 219));

    // Touches look for the handle where it was last drawn.
    m_handleX = kTrackX + m_trackStart + fill;
    drawPicture(painter, gpPixmapSlidert, QRect(m_handleX, 3, kHandleW, h - 6), QColor(245, 245, 245));
}

void Slider::mousePressEvent(QMouseEvent* event)
{
    const int x = event->pos().x();
    const bool onHandle = x >= m_handleX - kGrabMargin && x <= m_handleX + kHandleW + kGrabMargin - 1;
    m_dragX = onHandle ? x : -1;
}

void Slider::mouseMoveEvent(QMouseEvent* event)
{
    if (m_dragX < 1 || m_trackLength <= 0)
        return;
    const int x = event->pos().x();
    const int dx = x - m_dragX;
    const int delta = int(float(maximum() - minimum()) * (float(dx) / float(m_trackLength)));
    if (delta == 0)
        return;
    setValue(value() + delta);
    m_dragX = x;
    update();
}

void Slider::mouseReleaseEvent(QMouseEvent* event)
{
    m_dragX = -1;
    const int x = event->pos().x();
    if (x >= kValueBoxX && x <= kValueBoxX + kTapBoxW - 1) {
        QFocusEvent focusIn(QEvent::FocusIn, Qt::MouseFocusReason);
        QApplication::sendEvent(m_edit, &focusIn);
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(0, 0), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(m_edit, &press);
    }
}
