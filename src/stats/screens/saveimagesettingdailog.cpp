#include "saveimagesettingdailog.h"

#include "checkbox.h"
#include "colorbutton.h"
#include "dialogpainter.h"
#include "edit.h"
#include "globals.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace {
constexpr int kWidth = 600, kHeight = 300;
constexpr int kMargin = 20;
constexpr int kRowH = 50;
constexpr int kIndicatorRoom = 40;  // the check box's box and its gap before the text
constexpr int kFontPx = 33;
constexpr int kEditType = 5;
constexpr int kEditStyle = 1;
constexpr int kRowDays = 713, kRowUseDisk = 714, kRowAlarm = 678, kRowConfirm = 121, kRowCancel = 124;
constexpr int kButtonSizeClass = 3;
constexpr const char* kDaysKey = "days";
constexpr const char* kUseDiskKey = "useDiskSaveImage";
constexpr const char* kAlarmKey = "lostUpanAlarm";
} // namespace

SaveImageSettingDailog::SaveImageSettingDailog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint)
{
    setFixedSize(kWidth, kHeight);
    setStyleSheet(QStringLiteral("QDialog{background-image: url(./images/background.png);"
                                 "background-color:rgb(110,110,110);outline:0px;border:none;}"));

    auto* daysRow = new QHBoxLayout;
    auto* label = new QLabel(lanText(kRowDays), this);
    label->setStyleSheet(QStringLiteral("QLabel{color:white;font-size:33px;}"));
    label->ensurePolished();
    label->setFixedSize(qMax(150, QFontMetrics(label->font()).horizontalAdvance(label->text()) + 8), kRowH);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_days = new Edit(kEditType, this, kEditStyle);
    m_days->setFixedSize(200, 50);
    m_days->setAlignment(Qt::AlignCenter);
    m_days->setStyleSheet(QStringLiteral("Edit{color:black;font-size:33px;}"));
    daysRow->addWidget(label);
    daysRow->addWidget(m_days);

    // The check boxes take the dialog's width; a long text is set smaller.
    m_useDisk = new CheckBox(this, lanText(kRowUseDisk));
    m_alarm = new CheckBox(this, lanText(kRowAlarm));
    for (CheckBox* box : {m_useDisk, m_alarm}) {
        box->setFixedSize(kWidth - 2 * kMargin, kRowH);
        box->setFont(DialogPainter::fittedFont(box->text(), box->width() - kIndicatorRoom, kFontPx, 0));
    }

    auto* buttons = new QHBoxLayout;
    auto* confirm = new ColorButton(lanText(kRowConfirm), this, kButtonSizeClass);
    auto* cancel = new ColorButton(lanText(kRowCancel), this, kButtonSizeClass);
    for (ColorButton* button : {confirm, cancel})
        button->setFixedSize(150, 70);
    connect(confirm, &ColorButton::pressed, this, &QDialog::accept);
    connect(cancel, &ColorButton::pressed, this, &QDialog::reject);
    buttons->addWidget(confirm);
    buttons->addWidget(cancel);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
    layout->addLayout(daysRow);
    layout->addWidget(m_useDisk, 0, Qt::AlignCenter);
    layout->addWidget(m_alarm, 0, Qt::AlignCenter);
    layout->addStretch();
    layout->addLayout(buttons);
}

void SaveImageSettingDailog::init(QJsonObject obj)
{
    if (obj.contains(QLatin1String(kDaysKey)))
        m_days->setValue(obj.value(QLatin1String(kDaysKey)).toInt(0));
    if (obj.contains(QLatin1String(kUseDiskKey)))
        m_useDisk->setValue(obj.value(QLatin1String(kUseDiskKey)).toInt(0));
    if (obj.contains(QLatin1String(kAlarmKey)))
        m_alarm->setValue(obj.value(QLatin1String(kAlarmKey)).toInt(0));
}

void SaveImageSettingDailog::save(QJsonObject& obj) const
{
    bool ok = false;
    const int days = getDays(&ok);
    obj.insert(QLatin1String(kDaysKey), ok ? days : -1);
    obj.insert(QLatin1String(kUseDiskKey), m_useDisk->value());
    obj.insert(QLatin1String(kAlarmKey), m_alarm->value());
}

void SaveImageSettingDailog::setDays(int days)
{
    m_days->setValue(days);
}

int SaveImageSettingDailog::getDays(bool* ok) const
{
    return m_days->text().toInt(ok, 10);
}
