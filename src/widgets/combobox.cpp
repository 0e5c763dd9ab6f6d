#include "combobox.h"

#include "touchscroll.h"

#include <QApplication>
#include <QEvent>
#include <QListView>
#include <QMouseEvent>
#include <QStyledItemDelegate>

namespace {
// The lowest row a finger hits reliably; setItemHeight() may ask for more.
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
    auto* list = new QListView(this);
    setView(list);
    setItemDelegate(m_rows);
    // A finger drags the open list as it drags a settings page. The drag moves
    // the scroll bar by pixels: scrolled by rows, 50 px would jump 50 rows.
    list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    TouchScroll::enable(list);
    // Filters before the popup's own handling, which picks the row under any release.
    m_listViewport = list->viewport();
    m_listViewport->installEventFilter(this);
}

void ComboBox::setItemHeight(int px)
{
    setStyleSheet(QStringLiteral("QComboBox QAbstractItemView::item{height:%1px;}").arg(px)
                  + QStringLiteral("QComboBox::tab-bar{border-width:0px;}"));
    m_rows->height = qMax(px, kTouchRowHeight);
}

bool ComboBox::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == this && event->type() == QEvent::MouseButtonPress)
        emit clicked();
    if (watched == m_listViewport) {
        // A list short enough to show whole does not scroll, so a drag over it reaches the
        // popup, whose release would pick the row under the lifted finger: only a tap picks.
        const auto* mouse = static_cast<QMouseEvent*>(event);
        switch (event->type()) {
        case QEvent::MouseButtonPress:
            m_listPressAt = mouse->globalPos();
            m_listDragged = false;
            break;
        case QEvent::MouseMove:
            m_listDragged = m_listDragged
                            || (mouse->globalPos() - m_listPressAt).manhattanLength() > QApplication::startDragDistance();
            break;
        case QEvent::MouseButtonRelease:
            if (m_listDragged)
                return true;
            break;
        default:
            break;
        }
    }
    return QComboBox::eventFilter(watched, event);
}

void ComboBox::mousePressEvent(QMouseEvent* event)
{
    m_pressed = event->button() == Qt::LeftButton;
    event->accept();
}

void ComboBox::mouseReleaseEvent(QMouseEvent* event)
{
    // A scroll area that takes a stroke over as a drag ends it with a release
    // far outside the box: that opens nothing either.
    const bool tap = m_pressed && event->button() == Qt::LeftButton && rect().contains(event->pos());
    m_pressed = false;
    event->accept();
    if (tap)
        showPopup();
}
