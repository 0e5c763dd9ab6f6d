#pragma once

#include <QStyledItemDelegate>

// Rows of a drop-down list as high as a finger needs, in the combo box's own
// font: the default delegate of a combo box ignores the item height of the
// style sheet (its rows stayed 17 px), and the list's default font is small
// for a touch screen. Its parent is the combo box.
class TouchRowDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    // The lowest row a finger hits reliably.
    static constexpr int kMinimumHeight = 50;

    explicit TouchRowDelegate(QWidget* combo);

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    // Rows of at least this height (never below kMinimumHeight).
    void setRowHeight(int px);

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

private:
    int m_height = kMinimumHeight;
};
