#include "warnbox.h"

#include "colorbutton.h"
#include "dialogpainter.h"
#include "globals.h"
#include "mainwindowbase.h"
#include "wizardpara.h"

#include <QPainter>
#include <QTimer>
#include <QVBoxLayout>

namespace {
using DP = DialogPainter;
constexpr int kRowConfirm = 121;
}

WarnBox::WarnBox(QWidget* parent)
    : QDialog(parent)
{
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint);
    placeCentred();

    m_ok = new ColorButton(lanText(kRowConfirm), this, DP::kButtonClass);
    m_ok->setFixedSize(DP::kButtonW, DP::kButtonH);
    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->setMargin(0);
    layout->addStretch(20);
    layout->addWidget(m_ok, 0, Qt::AlignHCenter | Qt::AlignVCenter);
    layout->addStretch(3);
    m_ok->fitText();
}

WarnBox::~WarnBox() = default;

void WarnBox::retranslate()
{
    m_ok->setText(lanText(kRowConfirm));
    m_ok->fitText();
}

void WarnBox::placeCentred()
{
    setGeometry(DialogPainter::centred(DP::kBoxW, DP::kBoxH));
}

void WarnBox::setText(const QString& text)
{
    if (isVisible() && !m_text.isEmpty() && text != m_text) {
        if (!m_waiting.contains(text))
            m_waiting.append(text);
        return;
    }
    m_text = text;
    update();
}

void WarnBox::replaceText(const QString& previous, const QString& text)
{
    if (!previous.isEmpty()) {
        if (isVisible() && m_text == previous) {
            m_text = text;
            update();
            return;
        }
        const int at = m_waiting.indexOf(previous);
        if (at >= 0) {
            m_waiting[at] = text;
            return;
        }
    }
    setText(text);
}

void WarnBox::hideEvent(QHideEvent* event)
{
    QDialog::hideEvent(event);
    // After the closing caller's exec() has returned.
    if (!m_waiting.isEmpty())
        QTimer::singleShot(0, this, &WarnBox::showWaiting);
}

void WarnBox::showWaiting()
{
    if (isVisible() || m_waiting.isEmpty())
        return;
    m_text = m_waiting.takeFirst();
    update();
    show();
}

void WarnBox::showEvent(QShowEvent* event)
{
    placeCentred();
    if (gpWin && gpWin->lcdOff) {
        gpWin->LCDOnOff(1);
        if (gpWPara && gpWPara->screenOffTime > 0 && gpWin->lcdTimer)
            gpWin->lcdTimer->start(gpWPara->screenOffTime * 1000);
    }
    QDialog::showEvent(event);
}

void WarnBox::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    DialogPainter::drawBackground(painter, rect());
    painter.setPen(Qt::red);
    DialogPainter::drawMessage(painter, messageRoom(), Qt::AlignHCenter | Qt::AlignVCenter, m_text);
    DialogPainter::drawFrame(painter, width(), height());
}

QRect WarnBox::messageRoom() const
{
    // Clear of the frame and of the button, so that a long list shrinks rather than run under it.
    constexpr int kGap = 6;
    return QRect(QPoint(kGap, kGap), QPoint(width() - 1 - kGap, m_ok->geometry().top() - kGap));
}
