#include "checkbox.h"

#include "dialogpainter.h"

namespace {
constexpr int kFontPixels = 28;
constexpr int kIndicator = 32;
}

CheckBox::CheckBox(QWidget* parent, const QString& text)
    : QCheckBox(text, parent)
{
    setFont(DialogPainter::font(kFontPixels));
    DialogPainter::setYellowText(this);
    setStyleSheet(QStringLiteral("QCheckBox::indicator {width: %1px; height: %2px;} "
                                 "QCheckBox::indicator:checked {border-radius:5px; background:white; "
                                 "border-image: url(./images/check.png);}")
                      .arg(kIndicator)
                      .arg(kIndicator));
}

int CheckBox::value() const
{
    return checkState() == Qt::Checked ? 1 : 0;
}

void CheckBox::setValue(int value)
{
    setChecked(value != 0);
}
