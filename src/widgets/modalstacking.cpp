#include "modalstacking.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>
#include <QWindow>

ModalStacking::ModalStacking(QObject* parent)
    : QObject(parent)
{
}

bool ModalStacking::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Show && watched->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(watched);
        if (widget->isWindow() && widget->isModal())
            placeAboveOpener(widget);
    }
    return false;
}

void ModalStacking::placeAboveOpener(QWidget* dialog)
{
    // While the show event runs the dialog is not yet the top modal window,
    // so the top modal window (or else the active one) is its opener.
    QWidget* opener = QApplication::activeModalWidget();
    if (!opener || opener == dialog)
        opener = QApplication::activeWindow();
    if (opener && opener != dialog && opener->window() != dialog) {
        dialog->winId();
        opener->winId();
        QWindow* own = dialog->windowHandle();
        QWindow* parent = opener->window()->windowHandle();
        if (own && parent && own != parent)
            own->setTransientParent(parent);
    }
    dialog->raise();
}

ModalStacking::Lift::Lift(QWidget* dialog)
    : m_dialog(dialog)
    , m_home(dialog ? dialog->parentWidget() : nullptr)
    , m_flags(dialog ? dialog->windowFlags() : Qt::WindowFlags())
{
    QWidget* page = QApplication::activeModalWidget();
    if (!dialog || dialog->isWindow() || !page || page == dialog->window() || dialog->isAncestorOf(page))
        return;
    dialog->setParent(page, Qt::Dialog | Qt::FramelessWindowHint);
    m_lifted = true;
}

ModalStacking::Lift::~Lift()
{
    if (!m_lifted || !m_dialog)
        return;
    m_dialog->hide();
    m_dialog->setParent(m_home, m_flags);
}
