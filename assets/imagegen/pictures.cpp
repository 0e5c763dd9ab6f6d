#include "pictures.h"

#include "palette.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QtMath>

// Sizes follow the use: pictures shown at their own size (wait, error, wifi, logo)
// are drawn at that size; pictures scaled into a target are drawn at about twice
// the target so they stay smooth. The slider parts match a 35 px tall Slider:
// value box and track 29 px high, filled part 13 px, handle 10 x 29.
namespace {

QPen roundPen(const QColor& color, qreal width)
{
    return QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

QLinearGradient vertical(const QSize& size, const QColor& top, const QColor& bottom)
{
    QLinearGradient gradient(0, 0, 0, size.height());
    gradient.setColorAt(0, top);
    gradient.setColorAt(1, bottom);
    return gradient;
}

// A check mark inside a box of the given side, scaled from a 64 px design.
void drawCheckMark(QPainter& p, qreal side, const QColor& color, qreal width)
{
    const qreal k = side / 64.0;
    p.setPen(roundPen(color, width * k));
    p.setBrush(Qt::NoBrush);
    const QPointF mark[] = {{15 * k, 34 * k}, {27 * k, 46 * k}, {50 * k, 19 * k}};
    p.drawPolyline(mark, 3);
}

// A chevron pointing right (direction 1) or left (-1), centred in the rectangle.
void drawChevron(QPainter& p, const QRectF& r, int direction, const QColor& color, qreal width)
{
    const QPointF c = r.center();
    const qreal dx = r.width() * 0.14 * direction;
    const qreal dy = r.height() * 0.26;
    p.setPen(roundPen(color, width));
    p.setBrush(Qt::NoBrush);
    const QPointF chevron[] = {{c.x() - dx, c.y() - dy}, {c.x() + dx, c.y()}, {c.x() - dx, c.y() + dy}};
    p.drawPolyline(chevron, 3);
}

void background(QPainter& p, const QSize& s)
{
    p.fillRect(QRect(QPoint(0, 0), s), vertical(s, Palette::kBackgroundTop, Palette::kBackgroundBottom));
    // A soft light from the upper left keeps large dialogs from looking flat grey.
    QRadialGradient glow(QPointF(s.width() * 0.25, s.height() * 0.1), s.width() * 0.6);
    glow.setColorAt(0, QColor(255, 255, 255, 22));
    glow.setColorAt(1, QColor(255, 255, 255, 0));
    p.fillRect(QRect(QPoint(0, 0), s), glow);
}

void valueBox(QPainter& p, const QSize& s)
{
    const qreal border = 3;
    const QRectF r = QRectF(QPointF(0, 0), s).adjusted(border / 2, border / 2, -border / 2, -border / 2);
    p.setPen(QPen(Palette::kFrame, border));
    p.setBrush(vertical(s, QColor(0x0d, 0x11, 0x16), QColor(0x1e, 0x25, 0x2d)));
    p.drawRoundedRect(r, 10, 10);
}

void sliderTrack(QPainter& p, const QSize& s)
{
    const qreal border = 2;
    const QRectF r = QRectF(QPointF(0, 0), s).adjusted(border / 2, border / 2, -border / 2, -border / 2);
    p.setPen(QPen(QColor(0x5d, 0x6b, 0x7a), border));
    p.setBrush(vertical(s, QColor(0x1f, 0x24, 0x2b), QColor(0x3a, 0x43, 0x4e)));
    p.drawRoundedRect(r, 7, 7);
}

void sliderFill(QPainter& p, const QSize& s)
{
    QLinearGradient g(0, 0, 0, s.height());
    g.setColorAt(0, Palette::kSlider.lighter(150));
    g.setColorAt(0.45, Palette::kSlider);
    g.setColorAt(1, Palette::kSlider.darker(140));
    p.fillRect(QRect(QPoint(0, 0), s), g);
    p.fillRect(QRect(0, 0, s.width(), 1), QColor(255, 255, 255, 110));
}

void sliderHandle(QPainter& p, const QSize& s)
{
    const QRectF r = QRectF(QPointF(0, 0), s).adjusted(1, 1, -1, -1);
    p.setPen(QPen(QColor(0x8a, 0x97, 0x9c), 2));
    p.setBrush(vertical(s, QColor(0xfa, 0xfb, 0xfc), QColor(0xc1, 0xcc, 0xd0)));
    p.drawRoundedRect(r, 5, 5);
    // Grip lines across the middle.
    p.setPen(QPen(QColor(0x6e, 0x7b, 0x80), 2));
    for (int i = -1; i <= 1; ++i) {
        const qreal y = s.height() / 2.0 + i * 7;
        p.drawLine(QPointF(5, y), QPointF(s.width() - 5, y));
    }
}

void checkMark(QPainter& p, const QSize& s)
{
    // Drawn on the white indicator background of the check box style sheet.
    drawCheckMark(p, s.width(), Palette::kOk, 10);
}

void checkBoxFrame(QPainter& p, const QSize& s, bool checked)
{
    const QRectF r = QRectF(QPointF(0, 0), s).adjusted(5, 5, -5, -5);
    p.setPen(QPen(checked ? Palette::kOk.lighter(130) : Palette::kLight, 4));
    p.setBrush(checked ? QBrush(Palette::kOk) : QBrush(QColor(255, 255, 255, 30)));
    p.drawRoundedRect(r, 10, 10);
    if (checked)
        drawCheckMark(p, s.width(), Qt::white, 8);
}

void checkBoxOff(QPainter& p, const QSize& s) { checkBoxFrame(p, s, false); }
void checkBoxOn(QPainter& p, const QSize& s) { checkBoxFrame(p, s, true); }

void waiting(QPainter& p, const QSize& s)
{
    // Twelve dots around a circle, fading behind the brightest one.
    const int dots = 12;
    const QPointF c(s.width() / 2.0, s.height() / 2.0);
    const qreal radius = s.width() * 0.36;
    p.setPen(Qt::NoPen);
    for (int i = 0; i < dots; ++i) {
        const qreal angle = 2 * M_PI * i / dots - M_PI / 2;
        QColor color = Palette::kAccent.lighter(100 + 6 * i);
        color.setAlpha(60 + 195 * i / (dots - 1));
        p.setBrush(color);
        const qreal dot = 3 + 3.0 * i / (dots - 1);
        p.drawEllipse(QPointF(c.x() + radius * qCos(angle), c.y() + radius * qSin(angle)), dot, dot);
    }
}

void error(QPainter& p, const QSize& s)
{
    const QRectF r = QRectF(QPointF(0, 0), s).adjusted(2, 2, -2, -2);
    p.setPen(QPen(Palette::kNg.darker(130), 2));
    p.setBrush(Palette::kNg);
    p.drawEllipse(r);
    const qreal a = s.width() * 0.32;
    const qreal b = s.width() - a;
    p.setPen(roundPen(Qt::white, s.width() * 0.11));
    p.drawLine(QPointF(a, a), QPointF(b, b));
    p.drawLine(QPointF(b, a), QPointF(a, b));
}

void arrowButton(QPainter& p, const QSize& s, int direction)
{
    const QRectF r = QRectF(QPointF(0, 0), s).adjusted(2, 2, -2, -2);
    p.setPen(QPen(Palette::kFrame, 2));
    p.setBrush(vertical(s, Palette::kPanel.lighter(115), Palette::kPanelDark));
    p.drawRoundedRect(r, 10, 10);
    drawChevron(p, r, direction, Qt::white, s.width() * 0.1);
}

void left(QPainter& p, const QSize& s) { arrowButton(p, s, -1); }
void right(QPainter& p, const QSize& s) { arrowButton(p, s, 1); }

// Show/hide toggles of the float slider: a filled triangle in a light outline.
void toggle(QPainter& p, const QSize& s, int direction)
{
    const QRectF r = QRectF(QPointF(0, 0), s).adjusted(3, 3, -3, -3);
    p.setPen(QPen(Palette::kFrame, 3));
    p.setBrush(Palette::kPanelDark);
    p.drawRoundedRect(r, 8, 8);
    const QPointF c = r.center();
    const qreal dx = r.width() * 0.22 * direction;
    const qreal dy = r.height() * 0.2;
    const QPointF triangle[] = {{c.x() - dx, c.y() - dy}, {c.x() + dx, c.y()}, {c.x() - dx, c.y() + dy}};
    p.setPen(roundPen(Palette::kLight, 2));
    p.setBrush(Palette::kLight);
    p.drawPolygon(triangle, 3);
}

void show(QPainter& p, const QSize& s) { toggle(p, s, 1); }
void hide(QPainter& p, const QSize& s) { toggle(p, s, -1); }

void logo(QPainter& p, const QSize& s)
{
    // On its own plate (the button is transparent over the camera view): a lens,
    // then the name in two lines.
    p.setPen(QPen(Palette::kAccent.darker(150), 2));
    p.setBrush(vertical(s, Palette::kPanelDark.lighter(120), Palette::kPanelDark));
    p.drawRoundedRect(QRectF(QPointF(0, 0), s).adjusted(1, 1, -1, -1), 8, 8);
    const qreal side = s.height() * 0.72;
    const QRectF lens(s.height() * 0.14, (s.height() - side) / 2, side, side);
    p.setPen(QPen(Palette::kAccent, 6));
    p.setBrush(Palette::kPanelDark);
    p.drawEllipse(lens.adjusted(3, 3, -3, -3));
    p.setPen(Qt::NoPen);
    p.setBrush(Palette::kAccent.darker(160));
    p.drawEllipse(lens.center(), side * 0.24, side * 0.24);
    p.setBrush(Palette::kLight);
    p.drawEllipse(lens.center() + QPointF(-side * 0.09, -side * 0.09), side * 0.07, side * 0.07);

    QFont big(QStringLiteral("DejaVu Sans"));
    big.setPixelSize(31);
    big.setBold(true);
    QFont small(QStringLiteral("DejaVu Sans"));
    small.setPixelSize(17);
    small.setBold(true);
    small.setLetterSpacing(QFont::AbsoluteSpacing, 3);
    const qreal x = lens.right() + 12;
    p.setPen(Palette::kLight);
    p.setFont(big);
    p.drawText(QRectF(x, 10, s.width() - x, 44), Qt::AlignLeft | Qt::AlignBottom, QStringLiteral("MOULD"));
    p.setPen(Palette::kAccent.lighter(120));
    p.setFont(small);
    p.drawText(QRectF(x, 56, s.width() - x, 28), Qt::AlignLeft | Qt::AlignTop, QStringLiteral("MONITOR"));
}

void wifi(QPainter& p, const QSize& s)
{
    const QPointF base(s.width() / 2.0, s.height() * 0.82);
    p.setPen(Qt::NoPen);
    p.setBrush(Palette::kWifi);
    p.drawEllipse(base, s.width() * 0.075, s.width() * 0.075);
    p.setPen(roundPen(Palette::kWifi, s.width() * 0.085));
    p.setBrush(Qt::NoBrush);
    for (int i = 1; i <= 3; ++i) {
        const qreal radius = s.width() * 0.22 * i;
        p.drawArc(QRectF(base.x() - radius, base.y() - radius, 2 * radius, 2 * radius), 45 * 16, 90 * 16);
    }
}

void modify(QPainter& p, const QSize& s)
{
    // A pencil at 45 degrees over a short writing line.
    const qreal k = s.width() / 48.0;
    p.setPen(roundPen(Palette::kLight, 3 * k));
    p.drawLine(QPointF(8 * k, 43 * k), QPointF(40 * k, 43 * k));
    p.save();
    p.translate(24 * k, 21 * k);
    p.rotate(-45);
    const qreal half = 5.5 * k;
    p.setPen(QPen(QColor(0x5d, 0x40, 0x37), 1.5 * k));
    p.setBrush(Palette::kPencil);
    p.drawRect(QRectF(-13 * k, -half, 22 * k, 2 * half));
    p.setBrush(QColor(0xf8, 0xbb, 0xd0));
    p.drawRect(QRectF(-19 * k, -half, 6 * k, 2 * half));
    p.setBrush(QColor(0xff, 0xe0, 0xb2));
    const QPointF tip[] = {{9 * k, -half}, {19 * k, 0}, {9 * k, half}};
    p.drawPolygon(tip, 3);
    p.setBrush(QColor(0x37, 0x47, 0x4f));
    const QPointF lead[] = {{15.5 * k, -1.9 * k}, {19 * k, 0}, {15.5 * k, 1.9 * k}};
    p.drawPolygon(lead, 3);
    p.restore();
}

void rotate(QPainter& p, const QSize& s)
{
    // A circular arrow: apply and restart.
    const QPointF c(s.width() / 2.0, s.height() / 2.0);
    const qreal radius = s.height() * 0.34;
    const qreal width = s.height() * 0.1;
    p.setPen(roundPen(Palette::kLight, width));
    p.setBrush(Qt::NoBrush);
    const QRectF ring(c.x() - radius, c.y() - radius, 2 * radius, 2 * radius);
    const int startDeg = 60;
    const int spanDeg = 280;
    p.drawArc(ring, startDeg * 16, spanDeg * 16);
    // Arrow head at the end of the arc, pointing along it (counter-clockwise).
    const qreal end = qDegreesToRadians(qreal(startDeg + spanDeg));
    const QPointF tip(c.x() + radius * qCos(end), c.y() - radius * qSin(end));
    const QPointF along(-qSin(end), -qCos(end));  // tangent, counter-clockwise in screen coordinates
    const QPointF normal(qCos(end), -qSin(end));
    const qreal head = s.height() * 0.2;
    const QPointF arrow[] = {tip + along * head, tip + normal * head * 0.7, tip - normal * head * 0.7};
    p.setPen(roundPen(Palette::kLight, width * 0.5));
    p.setBrush(Palette::kLight);
    p.drawPolygon(arrow, 3);
}

void title(QPainter& p, const QSize& s)
{
    p.fillRect(QRect(QPoint(0, 0), s), vertical(s, Palette::kAccent.darker(130), Palette::kAccent.darker(210)));
    p.fillRect(QRect(0, 0, s.width(), 1), QColor(255, 255, 255, 70));
    p.fillRect(QRect(0, s.height() - 3, s.width(), 3), Palette::kAccent.lighter(130));
}

void line(QPainter& p, const QSize& s)
{
    // Bright in the middle, fading out at both ends.
    QLinearGradient g(0, 0, s.width(), 0);
    g.setColorAt(0, QColor(0x90, 0xa4, 0xae, 0));
    g.setColorAt(0.5, QColor(0xcf, 0xd8, 0xdc, 255));
    g.setColorAt(1, QColor(0x90, 0xa4, 0xae, 0));
    p.fillRect(QRect(QPoint(0, 0), s), g);
}

} // namespace

const std::vector<Picture>& pictures()
{
    static const std::vector<Picture> table = {
        {QStringLiteral("background.png"), {1920, 1080}, background},
        {QStringLiteral("edit.png"), {200, 58}, valueBox},
        {QStringLiteral("sliderd.png"), {600, 29}, sliderTrack},
        {QStringLiteral("slideru.png"), {256, 13}, sliderFill},
        {QStringLiteral("slidert.png"), {20, 58}, sliderHandle},
        {QStringLiteral("check.png"), {64, 64}, checkMark},
        {QStringLiteral("CheckBox1.png"), {64, 64}, checkBoxOff},
        {QStringLiteral("CheckBox2.png"), {64, 64}, checkBoxOn},
        {QStringLiteral("wait.png"), {64, 64}, waiting},
        {QStringLiteral("error.png"), {48, 48}, error},
        {QStringLiteral("left.png"), {60, 60}, left},
        {QStringLiteral("right.png"), {60, 60}, right},
        {QStringLiteral("show.png"), {50, 70}, show},
        {QStringLiteral("hide.png"), {50, 70}, hide},
        {QStringLiteral("logo2.png"), {240, 96}, logo},
        {QStringLiteral("wifi.png"), {40, 40}, wifi},
        {QStringLiteral("modify.png"), {48, 48}, modify},
        {QStringLiteral("Rotate.png"), {60, 40}, rotate},
        {QStringLiteral("title.png"), {1280, 60}, title},
        {QStringLiteral("line.png"), {960, 4}, line},
    };
    return table;
}
