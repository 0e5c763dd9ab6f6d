#include "floatslider.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QSlider>
#include <QTimer>

namespace {
constexpr int kButtonW = 25;
constexpr int kButtonH = 35;
const char* const kHidePicture = "./images/hide.png";
const char* const kShowPicture = "./images/show.png";

// A zero scale factor would make every value infinite; treat it as 1.
float safeScale(float scale)
{
    return scale == 0.0f ? 1.0f : scale;
}
}

FloatSlider::FloatSlider(QWidget* parent)
    : QWidget(parent)
{
    auto* layout = new QHBoxLayout(this);

    label = new QLabel(QStringLiteral("0.00"), this);
    label->setAlignment(Qt::AlignCenter);
    label->setStyleSheet(QStringLiteral("QLabel{outline:0px;border:none;font-size:25px;color:#00FF00;}"));
    layout->addWidget(label, 0, Qt::AlignCenter);

    showHideButton = new QPushButton(this);
    showHideButton->setFixedWidth(kButtonW);
    showHideButton->setFixedHeight(kButtonH);
    showHideButton->setIconSize(QSize(kButtonW, kButtonH));
    setButtonIcon(QString::fromLatin1(kHidePicture));
    layout->addWidget(showHideButton, 0, Qt::AlignCenter);
    connect(showHideButton, &QPushButton::clicked, this, [this] {
        slider->setVisible(!slider->isVisible());
        setButtonIcon(QString::fromLatin1(slider->isVisible() ? kHidePicture : kShowPicture));
    });

    setStyleSheet(QStringLiteral(
        "QSlider::groove:horizontal{border: 0px solid #bbb;}"
        "QSlider::sub-page:horizontal{border-image:url(./images/slideru.png);background: rgb(90,49,255);"
        "border-radius: 2px;margin-top:8px;margin-bottom:8px;}"
        "QSlider::add-page:horizontal{border-image:url(./images/sliderd.png);background: rgb(255,255, 255);"
        "border: 0px solid #777;border-radius: 2px;margin-top:9px;margin-bottom:9px;}"
        "QSlider::handle:horizontal{border-image:url(./images/slidert.png);background: rgb(193,204,208);"
        "width: 25px;border: 1px solid rgb(193,204,208);border-radius: 2px;margin-top:1px;margin-bottom:1px;}"));

    slider = new QSlider(Qt::Horizontal, this);
    slider->setRange(0, 100);
    slider->setContentsMargins(20, 0, 20, 0);
    layout->addWidget(slider, 0, Qt::AlignCenter);
    layout->addStretch(0);
    layout->setContentsMargins(0, 0, 0, 0);

    connect(slider, &QSlider::valueChanged, this, &FloatSlider::updateLabel);

    resetTimer = new QTimer(this);
    resetTimer->setInterval(kResetMs);
    resetTimer->setSingleShot(true);
    connect(resetTimer, &QTimer::timeout, this, &FloatSlider::setToMinValue);
}

void FloatSlider::setButtonIcon(const QString& path)
{
    // The button's own size (25 x 35); a missing picture leaves a plain button.
    const QPixmap picture(path);
    showHideButton->setIcon(picture.isNull() ? QIcon()
                                             : QIcon(picture.scaled(showHideButton->size(), Qt::IgnoreAspectRatio,
                                                                    Qt::SmoothTransformation)));
}

void FloatSlider::setValue(float v)
{
    slider->setValue(int(v * scaleFactor));
    label->setText(QString::number(double(v), 'f', 2));
    currentValue = v;
}

void FloatSlider::setToMinValue()
{
    setValue(float(slider->minimum()) / safeScale(scaleFactor));
}

void FloatSlider::startTimer()
{
    resetTimer->start(kResetMs);
}

void FloatSlider::updateLabel(int intValue)
{
    currentValue = float(intValue) / safeScale(scaleFactor);
    label->setText(QString::number(double(currentValue), 'f', 2));
    resetTimer->start(kResetMs);
    emit updateValue(currentValue);
}

void FloatSlider::showEvent(QShowEvent* event)
{
    // A widget narrower than its label and button leaves no room, not a negative width.
    // The label and the button as the layout sizes them, with the layout's spacing between the three.
    const int others = qMax(label->width(), label->sizeHint().width()) + showHideButton->width()
                       + 2 * qMax(0, layout()->spacing());
    slider->setFixedWidth(qMax(0, width() - others - 10));
    slider->setFixedHeight(height());
    QWidget::showEvent(event);
}
