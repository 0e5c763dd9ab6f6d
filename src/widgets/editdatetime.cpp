#include "editdatetime.h"

#include "clock.h"
#include "dialogpainter.h"
#include "shellrunner.h"

#include <QDateEdit>
#include <QGridLayout>
#include <QLabel>
#include <QTimeEdit>
#include <QtDebug>

namespace {
constexpr int kHeight = 80;
constexpr int kFontPixels = 30;
constexpr int kEditorW = 330;
constexpr int kEditorH = 60;
constexpr int kStepButton = 60;

QString stepButtonStyle(const char* editor)
{
    return QStringLiteral("%1::up-button{subcontrol-origin:border;subcontrol-position:right;"
                          "image: url(./images/right.png);width: %2px;height: %2px;}"
                          "%1::down-button {subcontrol-origin:border;subcontrol-position:left;"
                          "image: url(./images/left.png);width: %2px;height: %2px;}")
        .arg(QLatin1String(editor))
        .arg(kStepButton);
}
}

EditDateTime::EditDateTime(const QString& title, QWidget* parent)
    : QWidget(parent)
    , m_date(new QDateEdit(this))
    , m_time(new QTimeEdit(this))
    , m_title(new QLabel(title, this))
    , m_dateTime(Clock::now())
{
    setFixedHeight(kHeight);
    setFont(DialogPainter::font(kFontPixels, "wenquanyi"));
    DialogPainter::setYellowText(m_title);
    m_title->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    m_date->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    m_time->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    m_date->setStyleSheet(stepButtonStyle("QDateEdit"));
    m_time->setStyleSheet(stepButtonStyle("QTimeEdit"));
    for (QAbstractSpinBox* editor : {static_cast<QAbstractSpinBox*>(m_date), static_cast<QAbstractSpinBox*>(m_time)}) {
        editor->setFixedSize(kEditorW, kEditorH);
        editor->setAlignment(Qt::AlignCenter);
    }

    auto* grid = new QGridLayout(this);
    grid->addWidget(m_title, 0, 0);
    grid->addWidget(m_date, 0, 1);
    grid->addWidget(m_time, 0, 2);
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(10);
    grid->setSizeConstraint(QLayout::SetFixedSize);
}

void EditDateTime::ShowDateTime()
{
    const QDateTime now = Clock::now();
    m_date->setDate(now.date());
    m_time->setTime(now.time());
}

bool EditDateTime::setSysDateTime()
{
    m_dateTime = QDateTime(m_date->date(), m_time->time());
    const QString text = m_dateTime.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    const ShellResult date = runProgram(QStringLiteral("date"), {QStringLiteral("-s"), text}, kCommandTimeoutMs);
    if (!date.ok()) {
        qWarning() << "setting the clock to" << text << "failed, exit" << date.exitCode << "timed out" << date.timedOut;
        return false;
    }
    const ShellResult hw = runProgram(QStringLiteral("hwclock"), {QStringLiteral("--systohc")}, kCommandTimeoutMs);
    if (!hw.ok()) {
        qWarning() << "writing the hardware clock failed, exit" << hw.exitCode << "timed out" << hw.timedOut;
        return false;
    }
    return true;
}
