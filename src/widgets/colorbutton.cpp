#include "colorbutton.h"

#include "dialogpainter.h"
#include "globals.h"

namespace {
constexpr int kRepeatDelayMs = 300;
constexpr int kRepeatIntervalMs = 50;
constexpr int kTextPadding = 6;
constexpr int kSmallestFont = 12;
}

ColorButton::ColorButton(const QString& text, QWidget* parent, int size)
    : QPushButton(text, parent)
    , m_size(size)
{
    setStyleSheet(styleFor(fontPixelSize(size, gLan)));
    setAttribute(Qt::WA_StyledBackground);
}

ColorButton::~ColorButton() = default;

void ColorButton::SetRepeat()
{
    setAutoRepeat(true);
    setAutoRepeatDelay(kRepeatDelayMs);
    setAutoRepeatInterval(kRepeatIntervalMs);
}

int ColorButton::fontPixelSize(int size, int language)
{
    const bool simplified = language == 0;
    switch (size) {
    case 3: return simplified ? 27 : 22;
    case 4: return simplified ? 33 : 30;
    default: return 25;
    }
}

QString ColorButton::styleFor(int fontPixels)
{
    return QStringLiteral(
               "QPushButton{outline:0px;border:none;font-size:%1px;color:white;background-color:#322f2f;"
               "border-radius: 8px;}"
               "QPushButton:checked{color:#ffffff;background: qlineargradient(x1:0, y1:0, x2:0, y2:1, "
               "stop:0 #ed9d11, stop:1 #ff9900);}"
               "QPushButton:pressed{color:#ffffff;background: qlineargradient(x1:0, y1:0, x2:0, y2:1, "
               "stop:0 #ed9d11, stop:1 #ff9900);}"
               "QPushButton:disabled {  background-color: gray;   color: white; }")
        .arg(fontPixels);
}

void ColorButton::fitText()
{
    int px = fontPixelSize(m_size, gLan);
    QFont f = font();
    while (px > kSmallestFont) {
        f.setPixelSize(px);
        if (DialogPainter::textWidth(f, text()) <= width() - kTextPadding)
            break;
        --px;
    }
    setStyleSheet(styleFor(px));
}

void ColorButton::fitTexts(QWidget* parent)
{
    for (ColorButton* button : parent->findChildren<ColorButton*>())
        button->fitText();
}
