#include "editbox.h"

#include "colorbutton.h"
#include "dialogpainter.h"
#include "editparam.h"

#include <QHBoxLayout>
#include <QLabel>
#include <limits>

namespace {
constexpr int kFontPixels = 27;
constexpr int kRowHeight = 50;
constexpr int kButtonClass = 3;
constexpr int kButtonW = 130;
constexpr int kCaptionW = 160;
constexpr int kFieldW = 150;
constexpr int kSampleCaptionW = 120;
constexpr int kSampleButtonW = 90;
constexpr int kSampleFieldW = 100;
}

EditBox::EditBox(int min, int max, QWidget* parent, const QString& caption, QString unit, int type, int scale)
    : QWidget(parent)
    , m_min(min)
    , m_max(max)
    , m_scale(scale == 0 ? 1 : scale)
    , m_type(type)
    , m_caption(caption)
{
    m_captionLabel = new QLabel(caption, this);
    m_captionLabel->setFixedSize(kCaptionW, kRowHeight);
    fitCaption();
    DialogPainter::setYellowText(m_captionLabel);

    auto makeStep = [this](const char* sign, double amount, void (EditBox::*slot)()) {
        auto* button = new ColorButton(QString::fromLatin1(sign).arg(amount / m_scale), this, kButtonClass);
        button->setFixedSize(kButtonW, kRowHeight);
        button->SetRepeat();
        connect(button, &QPushButton::clicked, this, slot);
        return button;
    };
    m_subFive = makeStep("- %1", 5.0, &EditBox::SubFive);
    m_subOne = makeStep("- %1", 1.0, &EditBox::SubOne);

    m_field = new EditParam(9, unit, this);
    m_field->setFixedSize(kFieldW, kRowHeight);
    m_field->setFrame(true);
    m_field->setFont(DialogPainter::font(kFontPixels));
    connect(m_field, &Edit::focusOut, this, &EditBox::CheckRange);

    m_addOne = makeStep("+ %1", 1.0, &EditBox::AddOne);
    m_addFive = makeStep("+ %1", 5.0, &EditBox::AddFive);

    m_layout = new QHBoxLayout(this);
    m_layout->setSpacing(10);
    m_layout->setSizeConstraint(QLayout::SetFixedSize);
    for (QWidget* w : {static_cast<QWidget*>(m_captionLabel), static_cast<QWidget*>(m_subFive),
                       static_cast<QWidget*>(m_subOne), static_cast<QWidget*>(m_field),
                       static_cast<QWidget*>(m_addOne), static_cast<QWidget*>(m_addFive)})
        m_layout->addWidget(w);
}

void EditBox::setValue(int value)
{
    m_value = value;
    CheckRange();
}

void EditBox::setValue()
{
    if (m_type == 0)
        m_field->Edit::setValue(m_value);
    else if (m_type == 2)
        m_field->Edit::setValue(double(m_value) / m_scale);
}

void EditBox::setRange(int min, int max)
{
    m_min = min;
    m_max = max;
}

void EditBox::CheckRange()
{
    if (m_value >= m_min && m_value > m_max)
        m_value = m_max;
    else if (m_value < m_min && !(m_value == 0 && m_use0))
        m_value = m_min;
    setValue();
    emit valueChanged(m_value);
}

void EditBox::setTypedValue(qint64 value)
{
    if (value > m_max)
        value = m_max;
    m_value = int(qBound<qint64>(std::numeric_limits<int>::min(), value, std::numeric_limits<int>::max()));
    setValue();
    // Listeners follow every key but never see a value below the minimum:
    // that one is only a step on the way to a longer number.
    if (m_value >= m_min || (m_value == 0 && m_use0))
        emit valueChanged(m_value);
}

void EditBox::step(int delta)
{
    m_value += delta;
    CheckRange();
}

void EditBox::AddOne() { step(1); }
void EditBox::SubOne() { step(-1); }
void EditBox::AddFive() { step(5); }
void EditBox::SubFive() { step(-5); }

void EditBox::fitCaption()
{
    DialogPainter::fitLabel(m_captionLabel, kFontPixels);
}

void EditBox::setSampleMode()
{
    m_captionLabel->setFixedWidth(kSampleCaptionW);
    fitCaption();
    m_subOne->setFixedWidth(kSampleButtonW);
    m_addOne->setFixedWidth(kSampleButtonW);
    m_field->setFixedWidth(kSampleFieldW);
    m_subFive->hide();
    m_addFive->hide();
}

void EditBox::setText(const QString& caption)
{
    m_caption = caption;
    m_captionLabel->setText(caption);
    fitCaption();
}
