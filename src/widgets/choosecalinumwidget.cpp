#include "choosecalinumwidget.h"

#include "combobox.h"
#include "dialogpainter.h"

#include <QPainter>

namespace {
constexpr int kWidth = DialogPainter::kBoxW;
constexpr int kHeight = DialogPainter::kBoxH;
constexpr int kComboW = 200;
constexpr int kComboH = 50;
constexpr int kComboFont = 33;
}

ChooseCaliNumWidget::ChooseCaliNumWidget(QWidget* parent)
    : ChooseBox(parent, kWidth, kHeight)
    , m_combo(new ComboBox(this))
{
    m_combo->addItems({QStringLiteral(" 4 "), QStringLiteral(" 9 "), QStringLiteral(" 25 ")});
    m_combo->setFont(DialogPainter::font(kComboFont));
    m_combo->setFixedSize(kComboW, kComboH);
    m_combo->move((width() - kComboW) / 2, height() / 4 + 30);
    m_combo->setItemHeight(50);
}

ChooseCaliNumWidget::~ChooseCaliNumWidget() = default;

void ChooseCaliNumWidget::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    DialogPainter::drawBackground(painter, rect());
    painter.setPen(Qt::red);
    DialogPainter::drawMessage(painter, QRect(50, 50, width(), 50), Qt::AlignCenter, m_text);
    DialogPainter::drawFrame(painter, width(), height());
}
