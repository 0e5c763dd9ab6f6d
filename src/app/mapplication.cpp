#include "mapplication.h"

#include "calibrationhold.h"
#include "modalstacking.h"

MApplication* MApplication::s_instance = nullptr;

MApplication::MApplication(int& argc, char** argv)
    : QApplication(argc, argv)
    , m_hold(new CalibrationHold(this))
{
    s_instance = this;
    installEventFilter(new ModalStacking(this));
    connect(m_hold, &CalibrationHold::sigUserActivity, this, &MApplication::sigUserActivity);
}

MApplication::~MApplication()
{
    s_instance = nullptr;
}

bool MApplication::notify(QObject* receiver, QEvent* event)
{
    m_hold->observe(receiver, event);
    return QApplication::notify(receiver, event);
}

void MApplication::manualStopTscTimeup()
{
    m_hold->stop();
}
