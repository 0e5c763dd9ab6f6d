#include "calibrationhold.h"

#include "shellrunner.h"

#include <QDebug>
#include <QDir>
#include <QEvent>
#include <QTimer>

CalibrationHold::CalibrationHold(QObject* parent)
    : QObject(parent)
    , m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    m_timer->setInterval(kHoldMs);
    connect(m_timer, &QTimer::timeout, this, &CalibrationHold::SlotTimeout);
}

void CalibrationHold::observe(const QObject* receiver, const QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::TouchBegin:
        // A press reaches every widget up the parent chain; the first one counts.
        if (receiver && receiver->isWidgetType() && !m_timer->isActive()) {
            m_timer->start();
            emit sigUserActivity();
        }
        break;
    case QEvent::MouseButtonRelease:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    // A page opened by the press blocks the pressed window: its release never arrives.
    case QEvent::WindowBlocked:
        m_timer->stop();
        break;
    case QEvent::KeyPress:
        emit sigUserActivity();
        break;
    default:
        break;
    }
}

void CalibrationHold::stop()
{
    m_timer->stop();
}

bool CalibrationHold::isActive() const
{
    return m_timer->isActive();
}

void CalibrationHold::SlotTimeout()
{
    qInfo() << "touch held: starting the touch-screen calibration";
    ShellRunner::instance().startDetached(kCalibrationProgram, {}, QDir::currentPath());
}
