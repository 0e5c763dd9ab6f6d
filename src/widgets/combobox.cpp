#include "combobox.h"

#include "touchrowdelegate.h"
#include "touchscroll.h"

#include <QApplication>
#include <QEvent>
#include <QListView>
#include <QMouseEvent>

void ComboBox::Stroke::press(const QPoint& at)
{
    from = at;
    dragged = false;
}

void ComboBox::Stroke::move(const QPoint& at)
{
    dragged = dragged || (at - from).manhattanLength() > QApplication::startDragDistance();
}

// The finger's strokes as the windows get them. A page that scrolls by drag holds a press
// back until it knows whether the stroke drags it; a stroke it tried as a drag and gave up
// reaches the box only as its press and lift, without the moves between them.
class ComboBox::WindowStrokes : public QObject
{
public:
    using QObject::QObject;
    Stroke stroke;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (!watched->isWindowType())
            return false;
        if (event->type() == QEvent::MouseButtonPress) {
            stroke.press(static_cast<QMouseEvent*>(event)->globalPos());
        } else if (event->type() == QEvent::MouseMove) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->buttons() & Qt::LeftButton)
                stroke.move(mouse->globalPos());
        }
        return false;
    }
};

const ComboBox::Stroke& ComboBox::windowStroke()
{
    static WindowStrokes* strokes = [] {
        auto* watch = new WindowStrokes(qApp);
        qApp->installEventFilter(watch);
        return watch;
    }();
    return strokes->stroke;
}

ComboBox::ComboBox(QWidget* parent)
    : QComboBox(parent)
{
    windowStroke();
    installEventFilter(this);
    setFocusPolicy(Qt::NoFocus);
    auto* list = new QListView(this);
    setView(list);
    setItemDelegate(new TouchRowDelegate(this));
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
    // Looked up, not kept: a new delegate set on the box deletes the one before.
    if (auto* rows = qobject_cast<TouchRowDelegate*>(itemDelegate()))
        rows->setRowHeight(px);
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
            m_listStroke.press(mouse->globalPos());
            break;
        case QEvent::MouseMove:
            m_listStroke.move(mouse->globalPos());
            break;
        case QEvent::MouseButtonRelease:
            if (m_listStroke.dragged)
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
    m_boxStroke.press(event->globalPos());
    event->accept();
}

void ComboBox::mouseMoveEvent(QMouseEvent* event)
{
    m_boxStroke.move(event->globalPos());
    event->accept();
}

void ComboBox::mouseReleaseEvent(QMouseEvent* event)
{
    // A sideways drag that starts and ends on the box is no tap either, also when a page
    // that scrolls by drag kept its moves (the window saw them; events sent to the box
    // alone only the box). A scroll area that takes a stroke over as a drag ends it with
    // a release far outside the box.
    m_boxStroke.move(event->globalPos());
    const Stroke& window = windowStroke();
    const bool dragged = m_boxStroke.dragged || (window.from == m_boxStroke.from && window.dragged);
    const bool tap = m_pressed && !dragged && event->button() == Qt::LeftButton && rect().contains(event->pos());
    m_pressed = false;
    event->accept();
    if (tap)
        showPopup();
}
