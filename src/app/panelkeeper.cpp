#include "panelkeeper.h"

#include "indexbutton.h"

#include <QEvent>
#include <QWidget>

PanelKeeper::PanelKeeper(IndexButton* panel, QObject* parent)
    : QObject(parent)
    , m_panel(panel)
{
}

void PanelKeeper::watch(QWidget* screen)
{
    if (!screen)
        return;
    m_screens.removeAll(nullptr);
    if (m_screens.contains(screen))
        return;
    m_screens << screen;
    screen->installEventFilter(this);
}

void PanelKeeper::remember()
{
    // While a screen is up, the panel's state from before the first one stands.
    if (!m_panel || (m_noted && anyScreenOpen()))
        return;
    m_noted = true;
    m_wasShown = !m_panel->isHidden();
}

bool PanelKeeper::eventFilter(QObject* watched, QEvent* event)
{
    // A window system's own hide (minimising) is no return to the main screen.
    if (!event->spontaneous() && watched->isWidgetType()) {
        if (event->type() == QEvent::Show && !m_noted)
            remember();
        else if (event->type() == QEvent::Hide)
            restore();
    }
    return QObject::eventFilter(watched, event);
}

bool PanelKeeper::anyScreenOpen() const
{
    for (const QPointer<QWidget>& screen : m_screens)
        if (screen && !screen->isHidden())
            return true;
    return false;
}

void PanelKeeper::restore()
{
    // A screen closing over another (the IO page over the ROI editor) keeps the note for the last one.
    if (!m_noted || anyScreenOpen())
        return;
    m_noted = false;
    if (m_wasShown && m_panel && m_panel->isHidden()) {
        m_panel->show();
        m_panel->raise();
    }
}
