#include "combobox.h"

#include <QEvent>
#include <QListView>
#include <QStyledItemDelegate>

namespace {
// Rows a finger can hit before setItemHeight() names the height.
constexpr int kTouchRowHeight = 50;
}  // namespace

// The drop-down rows at least the height asked for: the default delegate of a
// combo box ignores the item height of the style sheet (its rows stayed 17 px).
class ComboBox::RowDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(qMax(size.height(), height));
        return size;
    }

    int height = kTouchRowHeight;

protected:
    // The rows in the combo box's own font: the list's default font is small for a touch screen.
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (auto* combo = qobject_cast<const QWidget*>(parent())) {
            option->font = combo->font();
            option->fontMetrics = QFontMetrics(option->font);
        }
    }
};

ComboBox::ComboBox(QWidget* parent)
    : QComboBox(parent)
    , m_rows(new RowDelegate(this))
{
    installEventFilter(this);
    setFocusPolicy(Qt::NoFocus);
    setView(new QListView(this));
    setItemDelegate(m_rows);
}

void ComboBox::setItemHeight(int px)
{
    setStyleSheet(QStringLiteral("QComboBox QAbstractItemView::item{height:%1px;}").arg(px)
                  + QStringLiteral("QComboBox::tab-bar{border-width:0px;}"));
    m_rows->height = px;
}

bool ComboBox::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == this && event->type() == QEvent::MouseButtonPress)
        emit clicked();
    return QComboBox::eventFilter(watched, event);
}
