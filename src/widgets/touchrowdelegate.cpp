#include "touchrowdelegate.h"

#include <QWidget>

TouchRowDelegate::TouchRowDelegate(QWidget* combo)
    : QStyledItemDelegate(combo)
{
}

QSize TouchRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(qMax(size.height(), m_height));
    return size;
}

void TouchRowDelegate::setRowHeight(int px)
{
    m_height = qMax(px, kMinimumHeight);
}

void TouchRowDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    if (auto* combo = qobject_cast<const QWidget*>(parent())) {
        option->font = combo->font();
        option->fontMetrics = QFontMetrics(option->font);
    }
}
