#include "mapplication.h"

#include "shellrunner.h"

#include <QDebug>
#include <QEvent>
#include <QTimer>

MApplication* MApplication::s_instance = nullptr;

MApplication::MApplication(int& argc, char** argv)
    : QApplication(argc, argv)
{
    s_instance = this;
    m_tscTimer = new QTimer(this);
    m_tscTimer->setSingleShot(true);
    m_tscTimer->setInterval(kCalibrationHoldMs);
    connect(m_tscTimer, &QTimer::timeout, this, &MApplication::SlotTscTimeup);
}

MApplication::~MApplication()
{
    s_instance = nullptr;
}

bool MApplication::notify(QObject* receiver, QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::TouchBegin:
        if (receiver && receiver->isWidgetType()) {
            m_tscTimer->start();
            emit sigUserActivity();
        }
        break;
    case QEvent::MouseButtonRelease:
    case QEvent::TouchEnd:
        m_tscTimer->stop();
        break;
    case QEvent::KeyPress:
        emit sigUserActivity();
        break;
    default:
        break;
    }
    return QApplication::notify(receiver, event);
}

void MApplication::manualStopTscTimeup()
{
    m_tscTimer->stop();
}

bool MApplication::isCalibrationTimerActive() const
{
    return m_tscTimer->isActive();
}

void MApplication::SlotTscTimeup()
{
    qInfo() << "touch held: starting the touch-screen calibration";
    ShellRunner::instance().startDetached(kCalibrationProgram, {});
}
